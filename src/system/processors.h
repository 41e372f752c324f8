// The processors the process can use: read from the system before the
// engine picks its number of threads, so a job confined to fewer processors
// (taskset, a container's CPU limit, a Windows job's affinity) does not run
// more threads than it has processors and lose time switching between them.
#pragma once

#include <string_view>

// The least of: the processors the process may run on (its CPU affinity)
// and the CPU quota of its control group and of each group above it, in
// whole processors rounded up. At least 1.
int ProcessorsAvailable();

// The part, for tests: the processors of a CPU quota and its period
// (version 2's cpu.max holds both, "max 100000" when there is none;
// version 1's cpu.cfs_quota_us says -1), rounded up; 0 for no bound.
int ProcessorsInQuota(std::string_view quota, std::string_view period);
