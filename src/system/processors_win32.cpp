// The processors the process can use on Windows: its affinity, which a job
// object or `start /affinity` may narrow.
#include <windows.h>

#include <algorithm>
#include <bit>
#include <thread>

#include "system/processors.h"

int ProcessorsAvailable() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return std::popcount(uint64_t(process));
    return int(std::max(std::thread::hardware_concurrency(), 1u));
}
