#pragma once

// Numbers as the logging library counts them; the settings file stores these numbers.
enum class LogLevel : int
{
    Trace = 0,
    Debug = 1,
    Info = 2,
    Warning = 3,
    Error = 4,
    Critical = 5,
    Off = 6,
};
