// The monitor's model over fed samples: exact counts and figures, the sparkline, route changes,
// the notes on where loss starts, and a day of samples in storage that doesn't grow.

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cmath>
#include <vector>

#include "monitor/monitor_model.h"

namespace hopwise {
namespace {

constexpr std::int64_t kStart = 1'700'000'040'000; // a whole minute

HostAddress Address(std::uint8_t last)
{
    return HostAddress::ipv4(htonl(0x0A000000U | last));
}

MonitorSample Sample(std::int32_t cycle, std::int32_t hop, std::uint32_t roundTripUs,
                     const HostAddress& responder)
{
    MonitorSample sample;
    sample.clockMs = kStart + cycle * 1000LL;
    sample.cycle = cycle;
    sample.hop = static_cast<std::int16_t>(hop);
    sample.answered = roundTripUs != 0;
    sample.roundTripUs = roundTripUs;
    sample.responder = roundTripUs != 0 ? responder : HostAddress{};
    return sample;
}

TEST(MonitorModel, FiguresOfAHop)
{
    MonitorModel model;
    const std::vector<std::uint32_t> trips = {1000, 3000, 0, 2000, 6000}; // 0: lost
    for (std::size_t i = 0; i < trips.size(); ++i) {
        model.add(Sample(static_cast<std::int32_t>(i), 1, trips[i], Address(1)));
    }
    ASSERT_EQ(model.rows().size(), 1U);
    const HopRow& row = model.rows()[0];
    EXPECT_EQ(row.sent, 5U);
    EXPECT_EQ(row.received, 4U);
    EXPECT_DOUBLE_EQ(row.lossPercent, 20.0);
    EXPECT_EQ(row.lastUs, 6000U);
    EXPECT_EQ(row.bestUs, 1000U);
    EXPECT_EQ(row.worstUs, 6000U);
    EXPECT_DOUBLE_EQ(row.averageUs, 3000.0);
    // 1, 3, 2, 6 ms: squares of the deviations 14, over n - 1.
    EXPECT_NEAR(row.stdevUs, 1000.0 * std::sqrt(14.0 / 3.0), 1e-6);
    // |3 - 1|, |2 - 3|, |6 - 2| ms, the lost probe between passed over.
    EXPECT_NEAR(row.jitterUs, 7000.0 / 3.0, 1e-6);
    EXPECT_EQ(row.sparkCount, 5);
    EXPECT_EQ(std::vector<float>(row.spark.end() - 5, row.spark.end()),
              (std::vector<float>{1, 3, -1, 2, 6}));
    EXPECT_FALSE(row.routeChanged);

    std::vector<ChartPoint> points;
    model.series(1, model.firstMs(), model.lastMs(), points);
    ASSERT_EQ(points.size(), 5U); // the whole run is held in full
    EXPECT_EQ(points[2].clockMs, kStart + 2000);
    EXPECT_EQ(points[2].lossPercent, 100.0F);
    EXPECT_EQ(points[3].averageMs, 2.0F);
}

struct ChangeCase {
    const char* name;
    std::vector<int> responders; // per cycle: the responder's last byte, 0 lost
    int changes;
    std::int32_t lastChangeCycle;
};

const ChangeCase kChangeCases[] = {
    {"lossIsNoChange", {1, 0, 1, 1}, 0, 0},
    {"newResponder", {1, 1, 2, 2}, 1, 2},
    {"backAfterLoss", {1, 2, 0, 1}, 2, 3},
};

class RouteChanges : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(RouteChanges, AreMarkedWhenTheResponderDiffers)
{
    const ChangeCase& row = GetParam();
    MonitorModel model;
    for (std::size_t i = 0; i < row.responders.size(); ++i) {
        const int last = row.responders[i];
        model.add(Sample(static_cast<std::int32_t>(i), 2, last != 0 ? 500 : 0,
                         Address(static_cast<std::uint8_t>(last))));
    }
    const HopRow& hop = model.rows().at(1);
    ASSERT_EQ(static_cast<int>(model.routeChanges().size()), row.changes);
    EXPECT_EQ(hop.routeChanged, row.changes != 0);
    if (row.changes != 0) {
        const RouteChange& last = model.routeChanges().back();
        EXPECT_EQ(last.hop, 2);
        EXPECT_EQ(last.clockMs, kStart + row.lastChangeCycle * 1000LL);
        EXPECT_EQ(hop.routeChangedMs, last.clockMs);
        EXPECT_EQ(last.to, Address(static_cast<std::uint8_t>(row.responders[row.lastChangeCycle])));
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, RouteChanges, ::testing::ValuesIn(kChangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct NoteCase {
    const char* name;
    std::vector<int> lost; // per hop, of 20 cycles; -1: a silent hop; the last hop is the target
    std::vector<HopNote> notes;
};

using enum HopNote;
const NoteCase kNoteCases[] = {
    {"rateLimitedBeforeSilentHop", {0, 10, -1, 0}, {None, RateLimited, None, None}},
    {"lossBeginsPastEarlierLoss", {0, 10, 6, -1, 6}, {None, None, LossBegins, None, None}},
    {"laterHopsAFewPointsBelow", {0, 4, -1, 3}, {None, LossBegins, None, None}},
};

class Notes : public ::testing::TestWithParam<NoteCase> {};

TEST_P(Notes, SayWhereLossComesFrom)
{
    const NoteCase& row = GetParam();
    MonitorModel model;
    const auto hops = static_cast<std::int32_t>(row.lost.size());
    model.setDestination(Address(static_cast<std::uint8_t>(hops)));
    for (std::int32_t cycle = 0; cycle < 20; ++cycle) {
        for (std::int32_t hop = 1; hop <= hops; ++hop) {
            const int lost = row.lost[static_cast<std::size_t>(hop - 1)];
            const bool answered = lost >= 0 && cycle >= lost;
            model.add(
                Sample(cycle, hop, answered ? 700 : 0, Address(static_cast<std::uint8_t>(hop))));
        }
    }
    EXPECT_EQ(model.destinationHop(), hops);
    std::vector<HopNote> notes;
    for (const HopRow& hop : model.rows()) {
        notes.push_back(hop.note);
    }
    EXPECT_EQ(notes, row.notes);
}

INSTANTIATE_TEST_SUITE_P(Rows, Notes, ::testing::ValuesIn(kNoteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A day of 1 s cycles over 30 hops: storage is all allocated within the first minutes and stays
// within its capacity, and the day's chart comes from the minutes still kept (the last 20
// hours), then the last hour in full.
TEST(MonitorModel, ADayInBoundedStorage)
{
    constexpr std::int32_t kHops = 30;
    constexpr std::int32_t kCycles = 24 * 60 * 60;
    MonitorModelOptions options;
    options.minutesKept = 20 * 60;
    MonitorModel model(options);
    model.setDestination(Address(kHops));
    std::size_t early = 0;
    for (std::int32_t cycle = 0; cycle < kCycles; ++cycle) {
        // Every tenth probe lost; within each minute the round trips run 100 .. 690 us.
        const std::uint32_t trip =
            cycle % 10 == 0 ? 0 : 100 + static_cast<std::uint32_t>(cycle % 60) * 10;
        for (std::int32_t hop = 1; hop <= kHops; ++hop) {
            model.add(Sample(cycle, hop, trip, Address(static_cast<std::uint8_t>(hop))));
        }
        if (cycle == 600) {
            early = model.storageBytes();
        }
    }
    EXPECT_EQ(model.storageBytes(), early);
    EXPECT_LE(model.storageBytes(), model.capacityBytes(kHops));
    EXPECT_EQ(model.rows().back().sent, static_cast<std::uint32_t>(kCycles));
    EXPECT_EQ(model.rows().back().received, static_cast<std::uint32_t>(kCycles / 10 * 9));

    std::vector<ChartPoint> points;
    model.series(kHops, model.firstMs(), model.lastMs(), points);
    // Every probe of the last hour is held from cycle 82799 on: minutes from the fifth hour up
    // to 82800 s.
    constexpr std::size_t kMinutes = 82800 / 60 - 4 * 60;
    ASSERT_EQ(points.size(), kMinutes + (kCycles - 82800));
    EXPECT_EQ(points.front().clockMs, kStart + 4LL * 3600 * 1000);
    EXPECT_EQ(points[kMinutes - 1].clockMs, kStart + (82800 - 60) * 1000LL);
    EXPECT_FLOAT_EQ(points[kMinutes - 1].minMs, 0.11F);
    EXPECT_FLOAT_EQ(points[kMinutes - 1].averageMs, 0.4F);
    EXPECT_FLOAT_EQ(points[kMinutes - 1].maxMs, 0.69F);
    EXPECT_FLOAT_EQ(points[kMinutes - 1].lossPercent, 10.0F);
    EXPECT_EQ(points[kMinutes].clockMs, kStart + 82800 * 1000LL);
    EXPECT_EQ(points[kMinutes].lossPercent, 100.0F);
    EXPECT_FLOAT_EQ(points[kMinutes + 1].averageMs, 0.11F);
}

} // namespace
} // namespace hopwise
