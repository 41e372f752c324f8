// How much memory the process can still have: read from the system's status
// files before a large job allocates, so that a job that cannot fit is
// refused at once instead of being killed half-way or swapping for minutes.
#include "files/memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <tuple>

#include "files/files.h"

namespace {

constexpr uint64_t NoBound = UINT64_MAX;
constexpr size_t StatusFileLimit = 1 << 16;

// The decimal number at the start of `text` (after blanks), or NoBound.
uint64_t LeadingNumber(std::string_view text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return NoBound;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
    return error == std::errc() ? value : NoBound;
}

// The number after `name` and `separator` at the start of a line of `text`
// ("MemAvailable: 123 kB", "inactive_file 123"), or NoBound.
uint64_t NamedLineNumber(std::string_view text, std::string_view name, char separator) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (line.size() > name.size() && line.substr(0, name.size()) == name &&
            line[name.size()] == separator) {
            return LeadingNumber(line.substr(name.size() + 1));
        }
        at = end + 1;
    }
    return NoBound;
}

// The value of a "Name: N kB" line of a /proc status file, in bytes.
uint64_t StatusKilobytes(std::string_view status, std::string_view name) {
    uint64_t kilobytes = NamedLineNumber(status, name, ':');
    return kilobytes == NoBound ? NoBound : kilobytes * 1024;
}

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

// The group's folder, then each parent's up to the root: a limit may be set
// on any of them.
void AppendGroupAndParents(const std::string& root, std::string_view path,
                           std::vector<std::string>& folders) {
    std::string group(path);
    while (!group.empty() && group.back() == '/') group.pop_back();
    for (;;) {
        folders.push_back(root + group);
        if (group.empty()) break;
        group.erase(group.rfind('/'));
    }
}

}  // namespace

uint64_t MemAvailableBytes(std::string_view meminfo) {
    return StatusKilobytes(meminfo, "MemAvailable");
}

uint64_t ControlGroupRoom(std::string_view limit, std::string_view usage, uint64_t reclaimable) {
    uint64_t bound = LeadingNumber(limit);  // "max" reads as no number: no bound
    if (bound == NoBound) return NoBound;
    uint64_t used = LeadingNumber(usage);
    if (used == NoBound) used = 0;
    used -= std::min(used, reclaimable);
    return bound > used ? bound - used : 0;
}

uint64_t ControlGroupStat(std::string_view stat, std::string_view name) {
    return NamedLineNumber(stat, name, ' ');
}

std::vector<std::string> ControlGroupFolders(std::string_view selfCgroup,
                                             std::string_view controller) {
    std::vector<std::string> folders;
    size_t at = 0;
    while (at < selfCgroup.size()) {
        size_t end = selfCgroup.find('\n', at);
        if (end == std::string_view::npos) end = selfCgroup.size();
        std::string_view line = selfCgroup.substr(at, end - at);
        at = end + 1;
        // "0::/path" for version 2, "N:memory:/path" (or with more
        // controllers, "N:cpu,memory:/path") for version 1.
        size_t first = line.find(':');
        size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string_view path = line.substr(second + 1);
        // Version 2 is mounted at /sys/fs/cgroup, or beside version 1 at
        // /sys/fs/cgroup/unified; a version 1 controller at
        // /sys/fs/cgroup/<controller> (memory, cpu).
        std::string named = "," + std::string(controller) + ",";
        if (controllers.empty()) {
            AppendGroupAndParents("/sys/fs/cgroup", path, folders);
            AppendGroupAndParents("/sys/fs/cgroup/unified", path, folders);
        } else if (("," + std::string(controllers) + ",").find(named) != std::string::npos) {
            AppendGroupAndParents("/sys/fs/cgroup/" + std::string(controller), path, folders);
        }
    }
    return folders;
}

uint64_t AvailableMemory(uint64_t addressSpaceReserve) {
    TextResult meminfo = ReadSmallFile("/proc/meminfo", StatusFileLimit);
    uint64_t room = MemAvailableBytes(meminfo.Text);
    room = std::min(room, ControlGroupsRoom());
    room = std::min(room, MappingLimitRoom(RLIMIT_DATA, "VmData", addressSpaceReserve));
    return std::min(room, MappingLimitRoom(RLIMIT_AS, "VmSize", addressSpaceReserve));
}
