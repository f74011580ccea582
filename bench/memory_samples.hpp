#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace zorvik::bench {

// Resident memory sampled every few milliseconds through a flood, and what the
// samples say about its second half. Once the box is full, each batch of lines
// that leaves it costs a copy of what stays, so memory rises and falls by tens
// of MB; whether it still grows shows in the top of those swings: the most in
// the second half against the most in the first.
struct Sample {
    std::chrono::steady_clock::time_point at;
    long kib;
};

struct SecondHalf {
    long halfKiB = 0;    // the last sample by the middle of the flood
    long endKiB = 0;     // the last sample by its end
    long growthKiB = 0;  // the second half's most less the first half's
};

inline SecondHalf secondHalf(const std::vector<Sample>& samples, std::chrono::steady_clock::time_point first,
                             std::chrono::steady_clock::time_point last) {
    const auto middle = first + (last - first) / 2;
    SecondHalf half;
    long most[2] = {0, 0};
    for (const Sample& sample : samples) {
        if (sample.at > last) break;
        if (sample.at <= middle) half.halfKiB = sample.kib;
        half.endKiB = sample.kib;
        long& top = most[sample.at > middle ? 1 : 0];
        top = std::max(top, sample.kib);
    }
    half.growthKiB = most[1] - most[0];
    return half;
}

}  // namespace zorvik::bench
