// Loading a coefficient file in fixed memory, measured on a child process.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "filters/filters.h"
#include "support/scratch.h"

namespace {

// A field of 64 million digits is read in pieces, in fixed memory, and
// gives the value the whole text gives; what follows field 64 is only
// looked over, in fixed memory too.
TEST(CoefficientFiles, HugeFieldInFixedMemory) {
    ScratchDir dir;
    std::string name = dir.File("FO.dat");
    {
        std::ofstream file(name, std::ios::binary);
        file << "1";
        std::string zeros(1 << 20, '0');
        for (int i = 0; i < 64; ++i) file << zeros;
        file << "\r\n  -2.5\r\n";
        for (int i = 2; i < 64; ++i) file << "\r\n";
        file << "not a tap: " << std::string(1 << 20, '7');
    }
    pid_t child = fork();
    if (child == 0) {
        CoefficientLoad load = LoadCoefficients(name);
        bool right = load.Opened && load.Values[0] == 0x1p127 && load.Values[1] == -2.5;
        _exit(right ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_LT(usage.ru_maxrss, 40 * 1024) << "kilobytes";  // the file is 66 MB
}

}  // namespace
