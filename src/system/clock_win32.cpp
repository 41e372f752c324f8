// The monotonic clock on Windows.
#include <windows.h>

#include "system/clock.h"

int64_t MonotonicMilliseconds() { return int64_t(GetTickCount64()); }
