#include "run/round_trip_tally.h"

#include <algorithm>
#include <cmath>

namespace hopwise {
namespace {

// Rounding can leave a tiny negative variance when every round trip was the same.
double deviationOf(double variance)
{
    return variance > 0 ? std::sqrt(variance) : 0;
}

} // namespace

void RoundTripTally::add(std::uint32_t micros)
{
    best = count == 0 ? micros : std::min(best, micros);
    worst = count == 0 ? micros : std::max(worst, micros);
    last = micros;
    ++count;
    sum += micros;
    sumOfSquares += static_cast<double>(micros) * micros;
}

double RoundTripTally::mean() const
{
    return count == 0 ? 0 : sum / static_cast<double>(count);
}

double RoundTripTally::populationDeviation() const
{
    if (count == 0) {
        return 0;
    }
    const double average = mean();
    return deviationOf(sumOfSquares / static_cast<double>(count) - average * average);
}

double RoundTripTally::sampleDeviation() const
{
    if (count < 2) {
        return 0;
    }
    const double average = mean();
    const auto n = static_cast<double>(count);
    return deviationOf((sumOfSquares - n * average * average) / (n - 1));
}

} // namespace hopwise
