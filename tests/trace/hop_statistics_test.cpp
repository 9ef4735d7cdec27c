// A report hop's figures from the outcomes of its probes: none answered, one, several with loss.

#include <gtest/gtest.h>

#include <vector>

#include "trace/route_report.h"

namespace hopwise {
namespace {

struct Probe {
    bool answered;
    IpAddress responder;
    std::uint32_t us;
};

struct StatisticsCase {
    const char* name;
    std::vector<Probe> probes;
    std::vector<IpAddress> addresses;
    double loss;
    std::uint32_t last, best, worst;
    double average, deviation;
};

const StatisticsCase kCases[] = {
    {"NoReply", {{false, 0, 0}, {false, 0, 0}}, {}, 100, 0, 0, 0, 0, 0},
    {"OneReply", {{false, 0, 0}, {true, 7, 250}}, {7}, 50, 250, 250, 250, 250, 0},
    // 100, 300, 200: mean 200, sample deviation sqrt((100² + 100² + 0) / 2) = 100.
    {"SeveralWithLossAndTwoResponders",
     {{true, 7, 100}, {false, 0, 0}, {true, 9, 300}, {true, 7, 200}},
     {7, 9},
     25,
     200,
     100,
     300,
     200,
     100},
};

TEST(HopStatisticsTest, FiguresFollowTheProbes)
{
    for (const StatisticsCase& c : kCases) {
        SCOPED_TRACE(c.name);
        HopStatistics hop;
        for (const Probe& probe : c.probes) {
            hop.add(probe.answered, HostAddress::ipv4(probe.responder), probe.us);
        }
        EXPECT_EQ(hop.sent, c.probes.size());
        std::vector<HostAddress> addresses;
        for (const IpAddress address : c.addresses)
            addresses.push_back(HostAddress::ipv4(address));
        EXPECT_EQ(hop.addresses, addresses);
        EXPECT_DOUBLE_EQ(hop.lossPercent(), c.loss);
        EXPECT_EQ(hop.replies.last, c.last);
        EXPECT_EQ(hop.replies.best, c.best);
        EXPECT_EQ(hop.replies.worst, c.worst);
        EXPECT_DOUBLE_EQ(hop.replies.mean(), c.average);
        EXPECT_NEAR(hop.replies.sampleDeviation(), c.deviation, 1e-9);
    }
}

} // namespace
} // namespace hopwise
