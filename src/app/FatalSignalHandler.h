#pragma once

// SIGSEGV, SIGILL and SIGFPE: the critical log line, then abort.
void installFatalSignalHandler();
