#pragma once

// The round trips of the replies a series got, in microseconds: their count, last, best and
// worst, and the sums that their mean and spread come from.

#include <cstdint>

namespace hopwise {

struct RoundTripTally {
    std::int64_t count = 0;
    std::uint32_t last = 0;
    std::uint32_t best = 0;  // meaningful only when count > 0
    std::uint32_t worst = 0; // meaningful only when count > 0
    double sum = 0;
    double sumOfSquares = 0;

    void add(std::uint32_t micros);
    double mean() const; // 0 without replies
    // The spread as ping's mdev gives it (over all the replies); 0 without replies.
    double populationDeviation() const;
    // The spread as a sample's standard deviation; 0 below two replies.
    double sampleDeviation() const;
};

} // namespace hopwise
