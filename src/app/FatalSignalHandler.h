#pragma once

#include <QString>

// SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT: one critical line in the log's own shape on
// standard error and, once a log file is named, in that file; then the signal again with
// its default action (a core dump where the system keeps them). What the handler cannot
// find out safely is prepared here; the handler itself only calls functions that are safe
// in a signal handler and writes with write(2).
void installFatalSignalHandler(const QString &logFilePath = QString());
