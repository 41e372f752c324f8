// The system's status files (/proc, the control groups under /sys/fs/cgroup):
// one reader of their numbers and of the control groups a process is in,
// for the memory check (memory.h) and the processor count (processors.h).
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

// The number after `name` and `separator` at the start of a line of `text`
// ("MemAvailable: 123 kB", "inactive_file 123"), or NoBound.
uint64_t NamedLineNumber(std::string_view text, std::string_view name, char separator);

// The value of a "Name: N kB" line of a /proc status file, in bytes, or NoBound.
uint64_t StatusKilobytes(std::string_view status, std::string_view name);

// The control groups of /proc/self/cgroup that hold `controller` ("memory",
// "cpu"), as folders under /sys/fs/cgroup, innermost first, each followed by
// its parents up to the root.
std::vector<std::string> ControlGroupFolders(std::string_view selfCgroup,
                                             std::string_view controller);
