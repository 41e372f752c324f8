// A slow, plainly written model of what one run writes: each output sample
// as the filter model's sum (support/model.h), then triangular dither from
// the fixed-seed generator, then the 44-byte header. The tests compare
// the program's files with it byte for byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using CoefficientSets = std::array<std::vector<double>, 4>;

// The four output files of a run over the given channels; `clipped`, when
// given, gets each file's count of samples clipped to the 24-bit range.
std::array<std::string, 4> ReferenceOutputs(const std::vector<int32_t>& left,
                                            const std::vector<int32_t>& right,
                                            const CoefficientSets& sets,
                                            std::array<int64_t, 4>* clipped = nullptr);
