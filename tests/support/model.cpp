#include "support/model.h"

#include <algorithm>

#include "numeric/numeric.h"

double ModelOutput(const std::vector<int32_t>& x, const ModelTaps& h, int64_t m) {
    const int64_t frames = int64_t(x.size());
    double sum = 0.0;
    for (int64_t k = std::min<int64_t>(63, m); k >= std::max<int64_t>(0, m - frames + 1); --k) {
        sum = static_cast<double>(Extended(sum) + Extended(h[k]) * Extended(x[m - k]));
    }
    return sum;
}

std::vector<double> ModelChannel(const std::vector<int32_t>& x, const ModelTaps& h) {
    std::vector<double> y(x.size() + 63);
    for (int64_t m = 0; m < int64_t(y.size()); ++m) y[m] = ModelOutput(x, h, m);
    return y;
}
