// The job clock's source.
#pragma once

#include <cstdint>

// Whole milliseconds of a clock that keeps counting across midnight and is
// not moved when the system time is set.
int64_t MonotonicMilliseconds();
