// How much memory the process can still have, on Windows: the physical
// memory available, the room left under the system's commit limit, and the
// room under a job object's memory limit when the process runs in one.
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>

#include "system/memory.h"
#include "system/status_files.h"

namespace {

// The room under the memory limit of the job object the process is in (a
// container's or a scheduler's), per process or for the whole job.
uint64_t JobObjectRoom() {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits, nullptr)) {
        return NoBound;
    }
    const DWORD flags = limits.BasicLimitInformation.LimitFlags;
    uint64_t room = NoBound;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    const uint64_t used =
        GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters)
            ? counters.PrivateUsage
            : 0;
    if (flags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) {
        uint64_t limit = limits.ProcessMemoryLimit;
        room = std::min(room, limit > used ? limit - used : 0);
    }
    if (flags & JOB_OBJECT_LIMIT_JOB_MEMORY) {
        // Windows tells the job's peak, not its use now: the peak is at
        // least that, so the room is never overstated.
        uint64_t limit = limits.JobMemoryLimit;
        uint64_t jobUsed = limits.PeakJobMemoryUsed;
        room = std::min(room, limit > jobUsed ? limit - jobUsed : 0);
    }
    return room;
}

}  // namespace

MemoryRoom MeasureMemoryRoom() {
    MemoryRoom room;
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status)) {
        // The available page file figure is the room under the commit limit.
        room.Memory = std::min<uint64_t>(status.ullAvailPhys, status.ullAvailPageFile);
    }
    room.Memory = std::min(room.Memory, JobObjectRoom());
    return room;
}

// One mutex for every process of the user's session.
MemoryCheckHeld::MemoryCheckHeld() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\phonoskew-memory-check");
    if (mutex == nullptr) return;
    DWORD waited = WaitForSingleObject(mutex, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return;
    }
    Lock = reinterpret_cast<intptr_t>(mutex);
}

MemoryCheckHeld::~MemoryCheckHeld() {
    if (Lock == -1) return;
    HANDLE mutex = reinterpret_cast<HANDLE>(Lock);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
