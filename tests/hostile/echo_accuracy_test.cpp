// Round-trip times against a peer that answers after exactly D ms: what the engine, both workers
// and hopwise-cli report must lie in [D, D + 1] ms (the engine truncates to whole milliseconds,
// and the path itself adds well under one). On both socket kinds.

#include <gtest/gtest.h>

#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "ping/ping_thread.h"
#include "probe/echo_status.h"
#include "tests/hostile/hostile_network.h"
#include "tests/probe/real_echo.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/run/recording_target.h"
#include "trace/trace_route_thread.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;

constexpr int kBase = 230;
constexpr int kFakeRouters = 2;

struct AccuracyCase {
    IcmpSocketKind kind;
    std::uint32_t delayMs;
    int samples;
};

void PrintTo(const AccuracyCase& c, std::ostream* os)
{
    *os << IcmpSocketKindName(c.kind) << " " << c.delayMs << " ms";
}

class EchoAccuracy : public ::testing::TestWithParam<AccuracyCase> {
protected:
    void SetUp() override
    {
        if (const std::string reason = NetNamespaceSkipReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_net = std::make_unique<HostileNetwork>(kBase, GetParam().kind);
        if (const std::string reason = m_net->kernelEchoSkipReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }

    std::uint32_t delay() const { return GetParam().delayMs; }
    std::uint32_t timeout() const { return delay() + 300; }
    std::string target() const { return m_net->targetAddress(); }

    // Every answer after the delay; the first hops of a trace are reports from fake routers.
    std::unique_ptr<Responder> startResponder(int requests)
    {
        return std::make_unique<Responder>(
            m_net->target(), std::vector<std::string>{
                                 "--delay", std::to_string(delay()), "--fake-hops",
                                 std::to_string(kFakeRouters), "--hop-base", m_net->spareAddress(1),
                                 "--count", std::to_string(requests), "--seconds", "30"});
    }

    void expectWithinOneMs(const std::string& childText, const char* path, std::size_t expected)
    {
        const std::vector<std::uint32_t> times = DecodeTimes(childText);
        ASSERT_EQ(times.size(), expected) << childText;
        std::ostringstream all;
        for (const std::uint32_t time : times) {
            all << " " << time;
        }
        // The distribution goes to the log as well: a miss should show how far off it was.
        std::cout << "[ accuracy ] " << path << " " << IcmpSocketKindName(GetParam().kind)
                  << " D=" << delay() << " ms:" << all.str() << "\n";
        for (const std::uint32_t time : times) {
            EXPECT_GE(time, delay())
                << path << ": an answer can't come before it was sent;" << all.str();
            EXPECT_LE(time, delay() + 1) << path << ":" << all.str();
        }
    }

    std::unique_ptr<HostileNetwork> m_net;
};

TEST_P(EchoAccuracy, SendEchoReportsTheDelay)
{
    const int samples = GetParam().samples;
    const auto responder = startResponder(samples);
    const std::string text = m_net->inClient([&] {
        std::vector<std::uint32_t> times;
        const EchoOptions options{
            .ttl = 64, .tos = 0, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
        for (int i = 0; i < samples; ++i) {
            const EchoOutcome outcome = Echo(target().c_str(), &options, timeout());
            if (outcome.count != 1 || outcome.record.status != kIpSuccess ||
                outcome.record.address != Ip(target().c_str())) {
                return "echo " + std::to_string(i) + ": count " + std::to_string(outcome.count) +
                       " status " + std::to_string(outcome.record.status);
            }
            times.push_back(outcome.record.roundTripTime);
        }
        return EncodeTimes(times);
    });
    expectWithinOneMs(text, "SendEcho", static_cast<std::size_t>(samples));
}

TEST_P(EchoAccuracy, PingRowsReportTheDelay)
{
    const int samples = GetParam().samples;
    const auto responder = startResponder(samples);
    const std::string text = m_net->inClient([&] {
        RecordingTarget window;
        PingInputs page;
        SetHostText(page.m_szHost, target());
        page.m_iNumTrials = samples;
        page.m_iHopTimeout = static_cast<std::int32_t>(timeout());
        page.m_pWindow = &window;
        PingThread(&page);
        std::vector<std::uint32_t> times;
        for (const RecordedMessage& row : window.results()) {
            if (row.address != target() || row.reply.status != kIpSuccess) {
                return "row from " + row.address.value_or("nobody") + " status " +
                       std::to_string(row.reply.status);
            }
            times.push_back(row.reply.roundTripTime);
        }
        return EncodeTimes(times);
    });
    expectWithinOneMs(text, "PingThread", static_cast<std::size_t>(samples));
}

TEST_P(EchoAccuracy, TraceHopsReportTheDelay)
{
    const auto responder = startResponder(kFakeRouters + 1);
    const std::string text = m_net->inClient([&] {
        RecordingTarget window;
        TraceRouteInputs page;
        SetHostText(page.m_szHost, target());
        page.m_iMaxHopCount = 10;
        page.m_iHopTimeout = static_cast<std::int32_t>(timeout());
        page.m_pWindow = &window;
        TraceRouteThread(&page);
        const std::vector<std::string> route{m_net->spareAddress(1), m_net->spareAddress(2),
                                             target()};
        const std::vector<RecordedMessage> hops = window.results();
        std::vector<std::uint32_t> times;
        for (std::size_t i = 0; i < hops.size(); ++i) {
            if (i >= route.size() || hops[i].address != route[i]) {
                return "hop " + std::to_string(i + 1) + " from " +
                       hops[i].address.value_or("nobody");
            }
            times.push_back(hops[i].reply.roundTripTime);
        }
        return EncodeTimes(times);
    });
    expectWithinOneMs(text, "TraceRouteThread", kFakeRouters + 1);
}

TEST_P(EchoAccuracy, CliJsonReportsTheDelay)
{
    const int samples = GetParam().samples;
    const auto responder = startResponder(samples);
    const CliOutcome run = RunCli({"ping", "--json", "--count", std::to_string(samples),
                                   "--timeout", std::to_string(timeout()), target()},
                                  m_net->cliPrefix(), 20s);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::uint32_t> times;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const nlohmann::json event = nlohmann::json::parse(line);
        if (event["event"] == "trial") {
            ASSERT_EQ(event["address"], target()) << line;
            ASSERT_EQ(event["status"], kIpSuccess) << line;
            times.push_back(event["rtt_ms"].get<std::uint32_t>());
        }
    }
    expectWithinOneMs(EncodeTimes(times), "hopwise-cli", static_cast<std::size_t>(samples));
}

// Few samples at the long delay: each costs a quarter of a second per path.
INSTANTIATE_TEST_SUITE_P(Delays, EchoAccuracy,
                         ::testing::Values(AccuracyCase{IcmpSocketKind::Raw, 5, 8},
                                           AccuracyCase{IcmpSocketKind::Raw, 50, 4},
                                           AccuracyCase{IcmpSocketKind::Raw, 250, 2},
                                           AccuracyCase{IcmpSocketKind::Datagram, 5, 8},
                                           AccuracyCase{IcmpSocketKind::Datagram, 50, 4},
                                           AccuracyCase{IcmpSocketKind::Datagram, 250, 2}),
                         [](const auto& info) {
                             return std::string(IcmpSocketKindName(info.param.kind)) + "_" +
                                    std::to_string(info.param.delayMs) + "ms";
                         });

} // namespace
} // namespace hopwise::test
