// How many processors the process can use: read from the system before the
// engine picks its number of threads, so a job confined to fewer processors
// (taskset, a container's CPU limit) does not run more threads than it has
// processors and lose time switching between them.
#include <sched.h>

#include <algorithm>
#include <charconv>
#include <thread>

#include "files/files.h"
#include "files/memory.h"

namespace {

constexpr size_t StatusFileLimit = 1 << 12;

// The decimal number at the start of `text` (after blanks), or -1 for none.
long LeadingValue(std::string_view text) {
    size_t start = text.find_first_not_of(" \t");
    if (start == std::string_view::npos) return -1;
    long value = 0;
    auto [end, error] = std::from_chars(text.data() + start, text.data() + text.size(), value);
    return error == std::errc() ? value : -1;
}

int AffinityProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return int(std::max(std::thread::hardware_concurrency(), 1u));
}

// The tightest quota of the control group and those above it, 0 for none.
int QuotaProcessors() {
    TextResult self = ReadSmallFile("/proc/self/cgroup", 1 << 16);
    int least = 0;
    for (const std::string& folder : ControlGroupFolders(self.Text, "cpu")) {
        int processors = 0;
        TextResult both = ReadSmallFile(folder + "/cpu.max", StatusFileLimit);
        if (both.Error == 0) {
            std::string_view text = both.Text;
            size_t blank = text.find(' ');
            if (blank != std::string_view::npos)
                processors = ProcessorsInQuota(text.substr(0, blank), text.substr(blank + 1));
        } else {
            TextResult quota = ReadSmallFile(folder + "/cpu.cfs_quota_us", StatusFileLimit);
            TextResult period = ReadSmallFile(folder + "/cpu.cfs_period_us", StatusFileLimit);
            if (quota.Error == 0 && period.Error == 0)
                processors = ProcessorsInQuota(quota.Text, period.Text);
        }
        if (processors > 0 && (least == 0 || processors < least)) least = processors;
    }
    return least;
}

}  // namespace

int ProcessorsInQuota(std::string_view quota, std::string_view period) {
    long microseconds = LeadingValue(quota);  // "max" and "-1" read as none
    long every = LeadingValue(period);
    if (microseconds <= 0 || every <= 0) return 0;
    long processors = (microseconds + every - 1) / every;
    return int(std::min<long>(processors, 1 << 20));
}

int ProcessorsAvailable() {
    int processors = AffinityProcessors();
    int quota = QuotaProcessors();
    if (quota > 0) processors = std::min(processors, quota);
    return std::max(processors, 1);
}
