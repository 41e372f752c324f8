// How much memory the process can still have, on POSIX systems: read from the
// system's status files before a large job allocates, so that a job that
// cannot fit is refused at once instead of being killed half-way or swapping
// for minutes.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "system/files.h"
#include "system/memory.h"
#include "system/status_files.h"

namespace {

uint64_t ControlGroupsRoom() {
    uint64_t room = NoBound;
    for (const std::string& folder :
         ControlGroupFolders(ReadStatusFile("/proc/self/cgroup"), "memory")) {
        // Version 2 names the files memory.max and memory.current, version 1
        // memory.limit_in_bytes and memory.usage_in_bytes. Clean file cache
        // (memory.stat) counts in the usage but is given back when needed.
        for (const auto& [limitFile, usageFile] :
             {std::pair{"memory.max", "memory.current"},
              std::pair{"memory.limit_in_bytes", "memory.usage_in_bytes"}}) {
            TextResult limit = ReadSmallFile(folder + "/" + limitFile, StatusFileLimit);
            TextResult usage = ReadSmallFile(folder + "/" + usageFile, StatusFileLimit);
            if (limit.Error == 0 && usage.Error == 0) {
                uint64_t cache = ControlGroupCleanCache(ReadStatusFile(folder + "/memory.stat"));
                room = std::min(room, ControlGroupRoom(limit.Text, usage.Text, cache));
            }
        }
    }
    return room;
}

// The room under a limit of the process's own mappings: RLIMIT_AS counts
// all of them (VmSize), RLIMIT_DATA the private writable ones (VmData),
// among them the job's arrays and the threads' stacks.
uint64_t MappingLimitRoom(int resource, std::string_view usedName) {
    rlimit limit{};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return NoBound;
    uint64_t used = StatusKilobytes(ReadStatusFile("/proc/self/status"), usedName);
    if (used == NoBound) used = 0;
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

// The lock's file: in the user's runtime folder where there is one, else a
// file of the user's own in /tmp, never through a link another user made.
int OpenMemoryCheckLock() {
    const std::string uid = std::to_string(getuid());
    std::string path = "/run/user/" + uid + "/phonoskew-memory.lock";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        path = "/tmp/phonoskew-memory-" + uid + ".lock";
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    }
    struct stat status {};
    if (fd >= 0 && (fstat(fd, &status) != 0 || status.st_uid != getuid())) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

MemoryRoom MeasureMemoryRoom() {
    MemoryRoom room;
    room.Memory = std::min(MemAvailableBytes(ReadStatusFile("/proc/meminfo")), ControlGroupsRoom());
    room.Mappings =
        std::min(MappingLimitRoom(RLIMIT_DATA, "VmData"), MappingLimitRoom(RLIMIT_AS, "VmSize"));
    return room;
}

MemoryCheckHeld::MemoryCheckHeld() {
    int fd = OpenMemoryCheckLock();
    if (fd < 0) return;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(fd);
            return;
        }
    }
    Lock = fd;
}

MemoryCheckHeld::~MemoryCheckHeld() {
    if (Lock >= 0) close(int(Lock));  // the lock goes with the descriptor
}
