// The filter as the numeric model states it, written out plainly: the
// reference every fast form of the filter is checked against.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

using ModelTaps = std::array<double, 64>;

// Output m of x filtered by h: the terms h[k] x[m - k] oldest sample first
// (k from min(63, m) down), each product and sum rounded to a 64-bit
// significand (Extended), each running sum stored as a double.
double ModelOutput(const std::vector<int32_t>& x, const ModelTaps& h, int64_t m);

// All x.size() + 63 outputs.
std::vector<double> ModelChannel(const std::vector<int32_t>& x, const ModelTaps& h);
