// Linux's status files (/proc, the control groups under /sys/fs/cgroup):
// the control groups a process is in and their CPU quotas, which bound the
// processors the process can use (processors.h). Linux only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a number reads as when the text has none: no bound at all ("max").
constexpr uint64_t NoBound = UINT64_MAX;

// The longest status file read.
constexpr size_t StatusFileLimit = 1 << 16;

// The text of a status file, "" when it cannot be read.
std::string ReadStatusFile(const std::string& path);

// The whole decimal number at the start of `text` (after blanks), or NoBound
// ("max", "-1", nothing).
uint64_t LeadingNumber(std::string_view text);

// The control groups of /proc/self/cgroup that hold `controller` ("cpu"),
// as folders under /sys/fs/cgroup, innermost first, each followed by its
// parents up to the root.
std::vector<std::string> ControlGroupFolders(std::string_view selfCgroup,
                                             std::string_view controller);

// The processors of a CPU quota and its period (version 2's cpu.max holds
// both, "max 100000" when there is none; version 1's cpu.cfs_quota_us says
// -1), rounded up; 0 for no bound.
int ProcessorsInQuota(std::string_view quota, std::string_view period);
