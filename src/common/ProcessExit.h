#pragma once

// Ends the process at once with the code, from any thread. Log lines are already on disk
// (every line is flushed), and running static destructors while other threads still
// serve connections would be the riskier choice.
[[noreturn]] void terminateProcess(int exitCode);
