// Every vector unit Highway built the program's loops for and this
// processor has, one at a time: SSE2, SSSE3, SSE4, AVX2 and AVX-512 on
// x86-64, NEON on arm64. A modern processor would otherwise only ever run
// the best of them.
#pragma once

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>
#include <cstdio>

// Runs `body` once with each such unit alone enabled, naming it in the
// test log and in any failure, then enables all of them again.
template <typename Body>
void ForEachVectorTarget(Body body) {
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        std::printf("vector target %s\n", hwy::TargetName(target));
        SCOPED_TRACE(hwy::TargetName(target));
        body();
    }
    hwy::SetSupportedTargetsForTest(0);
}
