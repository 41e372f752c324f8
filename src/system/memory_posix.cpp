// How much memory the process can still have, on POSIX systems: read from the
// system's status files before a large job allocates, so that a job that
// cannot fit is refused at once instead of being killed half-way or swapping
// for minutes.
#include <sys/resource.h>

#include <algorithm>
#include <tuple>

#include "system/files.h"
#include "system/memory.h"
#include "system/status_files.h"

namespace {

uint64_t ControlGroupsRoom() {
    TextResult self = ReadSmallFile("/proc/self/cgroup", StatusFileLimit);
    uint64_t room = NoBound;
    for (const std::string& folder : ControlGroupFolders(self.Text, "memory")) {
        // Version 2 names the files memory.max and memory.current, version 1
        // memory.limit_in_bytes and memory.usage_in_bytes. The inactive
        // file cache in memory.stat is counted in the usage but given back
        // when needed: inactive_file in version 2, total_inactive_file (the
        // group with those below it) in version 1.
        for (const auto& [limitFile, usageFile, inactiveName] :
             {std::tuple{"memory.max", "memory.current", "inactive_file"},
              std::tuple{"memory.limit_in_bytes", "memory.usage_in_bytes",
                         "total_inactive_file"}}) {
            TextResult limit = ReadSmallFile(folder + "/" + limitFile, StatusFileLimit);
            TextResult usage = ReadSmallFile(folder + "/" + usageFile, StatusFileLimit);
            if (limit.Error == 0 && usage.Error == 0) {
                TextResult stat = ReadSmallFile(folder + "/memory.stat", StatusFileLimit);
                uint64_t inactive = ControlGroupStat(stat.Text, inactiveName);
                room = std::min(room, ControlGroupRoom(limit.Text, usage.Text,
                                                       inactive == NoBound ? 0 : inactive));
            }
        }
    }
    return room;
}

// The room under a limit of the process's own mappings, less `reserve`:
// RLIMIT_AS counts all of them (VmSize), RLIMIT_DATA the private writable
// ones (VmData), among them the job's arrays and the threads' stacks.
uint64_t MappingLimitRoom(int resource, std::string_view usedName, uint64_t reserve) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return NoBound;
    TextResult status = ReadSmallFile("/proc/self/status", StatusFileLimit);
    uint64_t used = StatusKilobytes(status.Text, usedName);
    if (used == NoBound) used = 0;
    uint64_t taken = used + reserve;
    return limit.rlim_cur > taken ? limit.rlim_cur - taken : 0;
}

}  // namespace

uint64_t AvailableMemory(uint64_t addressSpaceReserve) {
    TextResult meminfo = ReadSmallFile("/proc/meminfo", StatusFileLimit);
    uint64_t room = MemAvailableBytes(meminfo.Text);
    room = std::min(room, ControlGroupsRoom());
    room = std::min(room, MappingLimitRoom(RLIMIT_DATA, "VmData", addressSpaceReserve));
    return std::min(room, MappingLimitRoom(RLIMIT_AS, "VmSize", addressSpaceReserve));
}
