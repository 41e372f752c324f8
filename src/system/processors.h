// The processors the process can use: read from the system before the
// engine picks its number of threads, so a job confined to fewer processors
// (taskset, a container's CPU limit, a Windows job's affinity) does not run
// more threads than it has processors and lose time switching between them.
#pragma once

// The least of: the processors the process may run on (its CPU affinity)
// and the CPU quota of its control group and of each group above it, in
// whole processors rounded up. At least 1.
int ProcessorsAvailable();
