// Forged, malformed, duplicate and foreign packets from a hostile peer are never taken as the
// answer: a probe takes the genuine answer that follows them, or times out. One row per
// responder behaviour, each on both socket kinds; then a trace and a ping at once through the
// same peer, each getting only its own answers.

#include <gtest/gtest.h>

#include <thread>

#include "ping/ping_thread.h"
#include "probe/echo_status.h"
#include "tests/hostile/hostile_network.h"
#include "tests/probe/real_echo.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/run/recording_target.h"
#include "trace/trace_route_thread.h"

namespace hopwise::test {
namespace {

constexpr int kBase = 231;
constexpr std::uint32_t kTimeoutMs = 300;
// The genuine answer's delay; a decoy goes out at once, well before it.
constexpr std::uint32_t kLate = 40;

enum class From { Target, Other, Nobody };

// What one probe must come back with. Nobody: a timeout, and a record that names no responder.
struct Expected {
    From from;
    std::uint32_t status = kIpSuccess;
    std::uint32_t minRttMs = 0;
    std::uint32_t maxRttMs = kTimeoutMs;
};

constexpr Expected kLateAnswer{From::Target, kIpSuccess, kLate, kLate + 20};
constexpr Expected kTimeout{From::Nobody, kIpReqTimedOut};

struct HostileCase {
    const char* name;
    std::vector<std::string> responderArgs;
    std::vector<Expected> probes; // in order; each probe is one SendEcho
    std::uint32_t pauseMs = 0;    // between probes
};

void PrintTo(const HostileCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<std::string> Sends(std::initializer_list<const char*> kinds)
{
    std::vector<std::string> args;
    for (const char* kind : kinds) {
        args.insert(args.end(), {"--send", kind});
    }
    return args;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string kLateEcho = "echo@" + std::to_string(kLate);

// Each decoy goes out at once, the genuine answer 40 ms later.
HostileCase DecoyThenAnswer(const char* name, const char* decoy)
{
    return {name, Sends({decoy, kLateEcho.c_str()}), {kLateAnswer, kLateAnswer}};
}

const std::vector<HostileCase> kCases{
    DecoyThenAnswer("WrongIdentifier", "echo-wrong-id@0"),
    DecoyThenAnswer("PreviousSequence", "echo-wrong-seq@0"),
    DecoyThenAnswer("BadChecksum", "echo-bad-checksum@0"),
    DecoyThenAnswer("TruncatedEchoHeader", "echo-truncated@0"),
    DecoyThenAnswer("TimeExceededWithTruncatedQuote", "time-exceeded-truncated@0"),
    DecoyThenAnswer("TimeExceededAboutAnotherProbe", "time-exceeded-other-probe@0"),
    DecoyThenAnswer("UnreachableWithTruncatedQuote", "unreachable-truncated@0"),
    DecoyThenAnswer("UnreachableAboutAnotherProbe", "unreachable-other-probe@0"),
    {"OnlyForgeries",
     Sends({"echo-wrong-id@0", "echo-wrong-seq@0", "echo-bad-checksum@0", "echo-truncated@0",
            "time-exceeded-truncated@0", "time-exceeded-other-probe@0", "unreachable-truncated@0",
            "unreachable-other-probe@0"}),
     {kTimeout, kTimeout}},
    {"OversizedAnswer", Sends({"echo-oversized@40"}), {kLateAnswer, kLateAnswer}},
    {"AnswerFromAnotherAddress",
     Sends({"echo-other-source@40"}),
     {{From::Other, kIpSuccess, kLate, kLate + 20}, {From::Other, kIpSuccess, kLate, kLate + 20}}},
    {"TimeExceeded",
     Sends({"time-exceeded@40"}),
     {{From::Other, kIpTtlExpiredTransit, kLate, kLate + 20},
      {From::Other, kIpTtlExpiredTransit, kLate, kLate + 20}}},
    {"TimeExceededQuotingIpOptions",
     Sends({"time-exceeded-options@40"}),
     {{From::Other, kIpTtlExpiredTransit, kLate, kLate + 20},
      {From::Other, kIpTtlExpiredTransit, kLate, kLate + 20}}},
    {"HostUnreachableQuotingIpOptions",
     Sends({"unreachable-options@40"}),
     {{From::Other, kIpDestHostUnreachable, kLate, kLate + 20},
      {From::Other, kIpDestHostUnreachable, kLate, kLate + 20}}},
    // The second copy of answer 1 arrives while probe 2, which gets no answer, waits.
    {"DuplicateIsNotASecondAnswer",
     Sends({"echo@0", kLateEcho.c_str()}) + std::vector<std::string>{"--drop-every", "2"},
     {{From::Target, kIpSuccess, 0, 20}, kTimeout, {From::Target, kIpSuccess, 0, 20}}},
    // A packet that answers the next request arrives right behind the answer to this one and
    // waits in the socket until the next request has gone out. The pause makes sure it arrived
    // before: one that comes after the request can't be told from a genuine answer.
    {"EarlyAnswerToTheNextProbe",
     Sends({"echo@0", "echo-next-seq@0"}) + std::vector<std::string>{"--drop-every", "2"},
     {{From::Target, kIpSuccess, 0, 20}, kTimeout, {From::Target, kIpSuccess, 0, 20}},
     20},
    {"EveryThirdDropped",
     Sends({kLateEcho.c_str()}) + std::vector<std::string>{"--drop-every", "3"},
     {kLateAnswer, kLateAnswer, kTimeout, kLateAnswer}},
    {"ChosenReplyTtl",
     Sends({kLateEcho.c_str()}) + std::vector<std::string>{"--ttl", "17"},
     {kLateAnswer, kLateAnswer}},
};

class HostileReply : public ::testing::TestWithParam<std::tuple<IcmpSocketKind, HostileCase>> {
protected:
    void SetUp() override
    {
        if (const std::string reason = NetNamespaceSkipReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_net = std::make_unique<HostileNetwork>(kBase, std::get<0>(GetParam()));
        if (const std::string reason = m_net->kernelEchoSkipReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }

    std::unique_ptr<HostileNetwork> m_net;
};

TEST_P(HostileReply, OnlyTheGenuineAnswerIsTaken)
{
    const HostileCase& row = std::get<1>(GetParam());
    const std::string target = m_net->targetAddress();
    const std::string other = m_net->spareAddress(7);
    const auto args = row.responderArgs +
                      std::vector<std::string>{"--other-source", other,
                                               "--count",        std::to_string(row.probes.size()),
                                               "--seconds",      "20"};
    Responder responder(m_net->target(), args);
    const bool ttlRow = std::string(row.name) == "ChosenReplyTtl";
    const std::string failure = m_net->inClient([&]() -> std::string {
        const std::vector<std::uint8_t> data{'h', 'o', 'p', 'w', 'i', 's', 'e'};
        const EchoOptions options{
            .ttl = 64, .tos = 0, .flags = 0, .optionsSize = 0, .optionsData = nullptr};
        for (std::size_t i = 0; i < row.probes.size(); ++i) {
            if (i > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(row.pauseMs));
            }
            const Expected& want = row.probes[i];
            const EchoOutcome got = Echo(target.c_str(), &options, kTimeoutMs, data);
            const IpAddress responder = want.from == From::Target  ? Ip(target.c_str())
                                        : want.from == From::Other ? Ip(other.c_str())
                                                                   : 0;
            std::string problem;
            if (got.count != (want.from == From::Nobody ? 0u : 1u)) {
                problem = "count " + std::to_string(got.count) + " (status " +
                          std::to_string(got.record.status) + ", " +
                          std::to_string(got.record.roundTripTime) + " ms)";
            } else if (got.record.address != responder) {
                problem = "responder " + std::to_string(got.record.address);
            } else if (got.record.status != want.status) {
                problem = "status " + std::to_string(got.record.status);
            } else if (want.from != From::Nobody && (got.record.roundTripTime < want.minRttMs ||
                                                     got.record.roundTripTime > want.maxRttMs)) {
                problem = "round trip " + std::to_string(got.record.roundTripTime) + " ms";
            } else if (want.from == From::Nobody && got.elapsedMs < kTimeoutMs) {
                problem = "gave up after " + std::to_string(got.elapsedMs) + " ms";
            } else if (want.status == kIpSuccess && want.from != From::Nobody &&
                       (got.data.size() < data.size() ||
                        !std::equal(data.begin(), data.end(), got.data.begin()))) {
                problem = "echoed data differs";
            } else if (ttlRow && got.record.options.ttl != 17) {
                problem = "reply TTL " + std::to_string(got.record.options.ttl);
            }
            if (!problem.empty()) {
                return "probe " + std::to_string(i + 1) + ": " + problem;
            }
        }
        return {};
    });
    ASSERT_EQ(failure, "");
    const CliOutcome log = responder.finish();
    EXPECT_NE(log.out.find("done requests " + std::to_string(row.probes.size()) + " "),
              std::string::npos)
        << "the responder saw other requests than the probes: " << log.out << log.err;
}

INSTANTIATE_TEST_SUITE_P(Behaviours, HostileReply,
                         ::testing::Combine(::testing::Values(IcmpSocketKind::Raw,
                                                              IcmpSocketKind::Datagram),
                                            ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(IcmpSocketKindName(std::get<0>(info.param))) + "_" +
                                    std::get<1>(info.param).name;
                         });

// --- two runs at once ---------------------------------------------------------------------------

class ConcurrentRuns : public ::testing::TestWithParam<IcmpSocketKind> {
protected:
    void SetUp() override
    {
        if (const std::string reason = NetNamespaceSkipReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
        m_net = std::make_unique<HostileNetwork>(kBase, GetParam());
        if (const std::string reason = m_net->kernelEchoSkipReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }

    std::unique_ptr<HostileNetwork> m_net;
};

TEST_P(ConcurrentRuns, TraceAndPingEachGetOnlyTheirOwnAnswers)
{
    constexpr int kTraces = 3;
    constexpr int kTrials = 12;
    const std::string target = m_net->targetAddress();
    const std::vector<std::string> route{m_net->spareAddress(1), m_net->spareAddress(2), target};
    // Two fake routers, every answer 15 ms late and sent twice, unrelated ICMP all the while.
    Responder responder(m_net->target(),
                        {"--fake-hops", "2", "--hop-base", m_net->spareAddress(1), "--send",
                         "echo@15", "--send", "echo@25", "--ttl", "99", "--flood-to",
                         m_net->clientAddress(), "--flood-rate", "3000", "--count",
                         std::to_string(kTraces * 3 + kTrials), "--seconds", "20"});
    const std::string failure = m_net->inClient([&]() -> std::string {
        RecordingTarget traceWindow;
        RecordingTarget pingWindow;
        std::thread ping([&] {
            PingInputs page;
            SetHostText(page.m_szHost, target);
            page.m_iNumTrials = kTrials;
            page.m_iMaxHopCount = 64;
            page.m_iHopTimeout = kTimeoutMs;
            page.m_pWindow = &pingWindow;
            PingThread(&page);
        });
        for (int i = 0; i < kTraces; ++i) {
            TraceRouteInputs page;
            SetHostText(page.m_szHost, target);
            page.m_iMaxHopCount = 10;
            page.m_iHopTimeout = kTimeoutMs;
            page.m_pWindow = &traceWindow;
            TraceRouteThread(&page);
        }
        ping.join();
        const std::vector<RecordedMessage> hops = traceWindow.results();
        if (hops.size() != kTraces * route.size()) {
            return "trace: " + std::to_string(hops.size()) + " hops";
        }
        for (std::size_t i = 0; i < hops.size(); ++i) {
            const RecordedMessage& hop = hops[i];
            const bool last = i % route.size() == route.size() - 1;
            if (hop.address != route[i % route.size()] ||
                hop.reply.status != (last ? kIpSuccess : kIpTtlExpiredTransit)) {
                return "trace hop " + std::to_string(i % route.size() + 1) + " from " +
                       hop.address.value_or("nobody") + " status " +
                       std::to_string(hop.reply.status);
            }
        }
        const std::vector<RecordedMessage> rows = pingWindow.results();
        if (rows.size() != static_cast<std::size_t>(kTrials)) {
            return "ping: " + std::to_string(rows.size()) + " rows";
        }
        for (const RecordedMessage& row : rows) {
            if (row.address != target || row.reply.status != kIpSuccess ||
                row.reply.options.ttl != 99 || row.reply.roundTripTime < 15 ||
                row.reply.roundTripTime >= 25) {
                return "ping row from " + row.address.value_or("nobody") + " status " +
                       std::to_string(row.reply.status) + " TTL " +
                       std::to_string(row.reply.options.ttl) + " after " +
                       std::to_string(row.reply.roundTripTime) + " ms";
            }
        }
        return {};
    });
    ASSERT_EQ(failure, "");
    const CliOutcome log = responder.finish();
    EXPECT_NE(log.out.find("done requests " + std::to_string(kTraces * 3 + kTrials) + " "),
              std::string::npos)
        << log.out << log.err;
    EXPECT_EQ(log.out.find("flood 0\n"), std::string::npos) << "the flood never ran: " << log.out;
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, ConcurrentRuns,
                         ::testing::Values(IcmpSocketKind::Raw, IcmpSocketKind::Datagram),
                         [](const auto& info) { return IcmpSocketKindName(info.param); });

} // namespace
} // namespace hopwise::test
