// Reading Linux's status files: a control group's numbers, and the control
// groups of a process.
#include "system/control_groups_linux.h"

#include <algorithm>
#include <charconv>

#include "system/files.h"

std::string ReadStatusFile(const std::string& path) {
    return ReadSmallFile(path, StatusFileLimit).Text;
}

uint64_t LeadingNumber(std::string_view text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return NoBound;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
    return error == std::errc() ? value : NoBound;
}

namespace {

// The group's folder, then each parent's up to the root: a quota may be set
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

std::vector<std::string> ControlGroupFolders(std::string_view selfCgroup,
                                             std::string_view controller) {
    std::vector<std::string> folders;
    size_t at = 0;
    while (at < selfCgroup.size()) {
        size_t end = selfCgroup.find('\n', at);
        if (end == std::string_view::npos) end = selfCgroup.size();
        std::string_view line = selfCgroup.substr(at, end - at);
        at = end + 1;
        // "0::/path" for version 2, "N:cpu:/path" (or with more
        // controllers, "N:cpu,cpuacct:/path") for version 1.
        size_t first = line.find(':');
        size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) continue;
        std::string_view controllers = line.substr(first + 1, second - first - 1);
        std::string_view path = line.substr(second + 1);
        // Version 2 is mounted at /sys/fs/cgroup, or beside version 1 at
        // /sys/fs/cgroup/unified; a version 1 controller at
        // /sys/fs/cgroup/<controller> (cpu).
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

int ProcessorsInQuota(std::string_view quota, std::string_view period) {
    uint64_t microseconds = LeadingNumber(quota);  // "max" and "-1" read as none
    uint64_t every = LeadingNumber(period);
    if (microseconds == NoBound || every == NoBound || microseconds == 0 || every == 0) return 0;
    uint64_t processors = microseconds / every + (microseconds % every != 0);
    return int(std::min<uint64_t>(processors, 1 << 20));
}
