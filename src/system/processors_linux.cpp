// The processors the process can use on Linux: its affinity and the CPU
// quotas of its control groups.
#include <sched.h>

#include <algorithm>
#include <thread>

#include "system/control_groups_linux.h"
#include "system/processors.h"

namespace {

int AffinityProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return int(std::max(std::thread::hardware_concurrency(), 1u));
}

// The quota of one group: version 2's cpu.max, else version 1's two files;
// 0 for none.
int GroupQuotaProcessors(const std::string& folder) {
    std::string both = ReadStatusFile(folder + "/cpu.max");
    size_t blank = both.find(' ');
    if (blank != std::string::npos) {
        return ProcessorsInQuota(std::string_view(both).substr(0, blank),
                                 std::string_view(both).substr(blank + 1));
    }
    return ProcessorsInQuota(ReadStatusFile(folder + "/cpu.cfs_quota_us"),
                             ReadStatusFile(folder + "/cpu.cfs_period_us"));
}

// The tightest quota of the control group and those above it, 0 for none.
int QuotaProcessors() {
    int least = 0;
    for (const std::string& folder :
         ControlGroupFolders(ReadStatusFile("/proc/self/cgroup"), "cpu")) {
        int processors = GroupQuotaProcessors(folder);
        if (processors > 0 && (least == 0 || processors < least)) least = processors;
    }
    return least;
}

}  // namespace

int ProcessorsAvailable() {
    int processors = AffinityProcessors();
    int quota = QuotaProcessors();
    if (quota > 0) processors = std::min(processors, quota);
    return std::max(processors, 1);
}
