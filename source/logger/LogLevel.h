#pragma once
#include <cstdint>

// Values are fixed: the log file shows their names, and 7 and above have none.
enum class LogLevel : int32_t {
    Unused = 0,
    Error = 1,
    Warning = 2,
    Debug = 3,
    Help = 4,
    Event = 5,
    Action = 6,
};
