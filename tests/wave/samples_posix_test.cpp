// The input's arrays hold their memory from the start, seen through the
// pages resident in memory.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "wave/wave.h"

namespace {

// The pages of `array` that are not in memory.
template <typename T>
size_t PagesMissing(const PageArray<T>& array) {
    size_t pageSize = size_t(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> present((array.size() * sizeof(T) + pageSize - 1) / pageSize);
    if (mincore(array.data(), array.size() * sizeof(T), present.data()) != 0) return SIZE_MAX;
    return size_t(std::count_if(present.begin(), present.end(), [](auto p) { return !(p & 1); }));
}

// Two jobs in one memory limit: the first must hold its memory as soon as
// its check has passed, or the second passes the same check and one of
// them is killed half-way.
TEST(CreateInputSamples, TakesItsMemoryAtOnce) {
    InputSamples input;
    ASSERT_TRUE(CreateInputSamples(1 << 20, input));
    EXPECT_EQ(PagesMissing(input.Packed), 0u);
    EXPECT_TRUE(
        std::all_of(input.Packed.begin(), input.Packed.end(), [](uint8_t b) { return !b; }));
}

}  // namespace
