// Which probes still out an answer cuts short, and to what: probes are sent in a row of hops,
// then answers (or ends without one) come in turn; the cuts they make are compared as a whole.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "trace/adaptive_wait.h"

namespace hopwise {
namespace {

struct WaitCase {
    const char* name;
    WaitPolicy policy;
    std::vector<std::int32_t> hops;                  // probe i (tag i) went to hops[i], in order
    std::vector<std::pair<std::uint32_t, int>> ends; // tag and round trip in µs; -1 unanswered
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cuts; // tag and wait in ms
    friend void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }
};

class AdaptiveWaitTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(AdaptiveWaitTest, CutsTheWaitsOfProbesSentEarlier)
{
    const WaitCase& c = GetParam();
    AdaptiveWaits waits(c.policy);
    for (std::size_t tag = 0; tag < c.hops.size(); ++tag) {
        waits.sent(static_cast<std::uint32_t>(tag), c.hops[tag]);
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cuts;
    for (const auto& [tag, roundTripUs] : c.ends) {
        if (roundTripUs < 0) {
            waits.ended(tag);
            continue;
        }
        for (const AdaptiveWaits::Cut& cut :
             waits.answered(tag, static_cast<std::uint32_t>(roundTripUs))) {
            cuts.emplace_back(cut.tag, cut.waitMs);
        }
    }
    EXPECT_EQ(cuts, c.cuts);
}

constexpr WaitPolicy kDefaults{1000, 3, 10};

INSTANTIATE_TEST_SUITE_P(
    Answers, AdaptiveWaitTest,
    ::testing::Values(
        // 10 × 0.05 ms rounds up to 1 ms, and 1 ms more.
        WaitCase{"laterHopCutsWithNear", kDefaults, {3, 4}, {{1, 50}}, {{0, 2}}},
        WaitCase{"sameHopCutsWithHere", kDefaults, {3, 3}, {{1, 400}}, {{0, 3}}},
        WaitCase{"everyEarlierProbeIsCut", kDefaults, {3, 3, 4}, {{2, 300}}, {{0, 4}, {1, 4}}},
        WaitCase{"earlierHopSaysNothing", kDefaults, {4, 3}, {{1, 50}}, {}},
        WaitCase{"probeSentLaterIsNotCut", kDefaults, {3, 4, 5}, {{1, 50}}, {{0, 2}}},
        WaitCase{"slowerAnswerNeverLengthens", kDefaults, {3, 4, 5}, {{1, 50}, {2, 500}}, {{0, 2}}},
        WaitCase{"fasterAnswerCutsFurther",
                 kDefaults,
                 {3, 4, 5},
                 {{2, 500}, {1, 50}},
                 {{0, 6}, {1, 6}, {0, 2}}},
        WaitCase{"endedProbeIsNotCut", kDefaults, {3, 4}, {{0, -1}, {1, 50}}, {}},
        WaitCase{"answeredProbeIsNotCut", kDefaults, {3, 3, 4}, {{0, 100}, {2, 50}}, {{1, 2}}},
        WaitCase{"neverPastMax", {20, 3, 10}, {3, 4}, {{1, 5000}}, {}},
        WaitCase{"fixedWaitIsNeverCut", {1000, 0, 0}, {3, 3, 4}, {{1, 50}, {2, 50}}, {}},
        WaitCase{
            "hereAloneLeavesLaterHopsOut", {1000, 3, 0}, {3, 4, 3}, {{1, 50}, {2, 50}}, {{0, 2}}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise
