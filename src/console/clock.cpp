// The job clock.
#include <time.h>

#include "console/console.h"

// Whole milliseconds of the monotonic clock, which keeps counting across
// midnight and is not moved when the system time is set.
Extended ClockSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long long milliseconds = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return static_cast<Extended>(milliseconds) / 1000;
}
