// The job clock.
#include "system/clock.h"

#include "console/console.h"

Extended ClockSeconds() { return static_cast<Extended>(MonotonicMilliseconds()) / 1000; }
