#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace quindel::e2e {

// The nearest-rank quantile q of the figures (0.5: the median, 1: the largest); 0 for none.
inline double quantile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

} // namespace quindel::e2e
