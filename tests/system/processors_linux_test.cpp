// The processors the process may use: its affinity and its control groups
// CPU quotas.
#include <gtest/gtest.h>
#include <sched.h>

#include <string>
#include <vector>

#include "system/control_groups_linux.h"
#include "system/processors.h"

namespace {

TEST(ProcessorsAvailable, Affinity) {
    // This thread confined to one processor, as `taskset -c N` does.
    cpu_set_t before, one;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    int first = 0;
    while (!CPU_ISSET(first, &before)) ++first;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(ProcessorsAvailable(), 1);
    ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
}

// A version 2 cpu.max holds quota and period, version 1 two files; a part
// of a processor counts as a whole one.
TEST(ProcessorsAvailable, Quotas) {
    EXPECT_EQ(ProcessorsInQuota("200000", "100000\n"), 2);
    EXPECT_EQ(ProcessorsInQuota("150000", "100000"), 2);
    EXPECT_EQ(ProcessorsInQuota("50000\n", "100000\n"), 1);
    EXPECT_EQ(ProcessorsInQuota("max", "100000\n"), 0);
    EXPECT_EQ(ProcessorsInQuota("-1\n", "100000\n"), 0);
    EXPECT_GE(ProcessorsAvailable(), 1);
}

// The groups of /proc/self/cgroup, each with its parents: version 2 at the
// root or beside version 1, version 1 by controller.
TEST(ControlGroupFolders, BothVersionsWithTheirParents) {
    using Folders = std::vector<std::string>;
    EXPECT_EQ(ControlGroupFolders("0::/user.slice/run-1.scope\n", "cpu"),
              (Folders{"/sys/fs/cgroup/user.slice/run-1.scope", "/sys/fs/cgroup/user.slice",
                       "/sys/fs/cgroup", "/sys/fs/cgroup/unified/user.slice/run-1.scope",
                       "/sys/fs/cgroup/unified/user.slice", "/sys/fs/cgroup/unified"}));
    EXPECT_EQ(ControlGroupFolders("7:pids:/\n4:cpu,cpuacct:/box/\n", "cpu"),
              (Folders{"/sys/fs/cgroup/cpu/box", "/sys/fs/cgroup/cpu"}));
    EXPECT_EQ(ControlGroupFolders("4:cpu,cpuacct:/job\n3:memory:/m\n", "cpu"),
              (Folders{"/sys/fs/cgroup/cpu/job", "/sys/fs/cgroup/cpu"}));
    EXPECT_TRUE(ControlGroupFolders("garbage", "cpu").empty());
}

}  // namespace
