// hopwise-cli ping's own options in, exit code and exact output out, against a scripted stack and
// a table resolver: how a router's report, a local error, -D, -O and -s read in text and JSON,
// what -w does to -c, that -Q, -M and -I reach the engine, and the interfaces and addresses -I
// and trace's -i and -s refuse.

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "cli/console_run.h"
#include "probe/echo_status.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {
namespace {

// One scripted answer, in call order.
struct Answer {
    enum class Kind { Reply, Silence, Report, LocalError, ReplyIfWired } kind = Kind::Reply;
    std::uint32_t status = kIpSuccess;
    std::uint32_t mtu = 0;
};

const Answer kReply{};
const Answer kSilence{Answer::Kind::Silence, kIpReqTimedOut};
const Answer kTtlExceeded{Answer::Kind::Report, kIpTtlExpiredTransit};
const Answer kHostUnreachable{Answer::Kind::Report, kIpDestHostUnreachable};
const Answer kFragmentationNeeded{Answer::Kind::Report, kIpPacketTooBig, 1400};
const Answer kTooLargeToLeave{Answer::Kind::LocalError, kIpPacketTooBig, 1400};
// Answered only when the request has TOS 0x28 and the thread's settings say "lo" and "do".
const Answer kReplyIfWired{Answer::Kind::ReplyIfWired};

struct PingLinesCase {
    const char* name;
    std::string args; // split at blanks
    int exitCode;
    std::string out;
    std::string err;
    std::vector<Answer> answers = {};
};

const std::string kDest = "Dest IP: 10.9.9.9\n";
const std::string kHeader = kDest + "Seq   IP               Time        TTL\n";
const std::string kReplyRow = "10.9.9.9         4.000 ms    61";
const std::string kAt = R"({"schema_version":1,"type":"echo","time":"2026-12-07T12:00:00.250Z",)";

std::string Stats(const std::string& counts, const std::string& rtt = "")
{
    return "Done\n\n--- t ping statistics ---\n" + counts + ", time 0ms\n" +
           (rtt.empty() ? "" : "rtt min/avg/max/mdev = " + rtt + " ms\n");
}

std::string Summary(const std::string& counts, int exitCode)
{
    return R"({"schema_version":1,"type":"summary","time":"2026-12-07T12:00:00.250Z","final":true,)"
           R"("outcome":"done","host":"t","address":"10.9.9.9",)" +
           counts + R"(,"exit_code":)" + std::to_string(exitCode) + "}\n";
}

const std::string kJsonDest = R"({"schema_version":1,"type":"destination",)"
                              R"("time":"2026-12-07T12:00:00.250Z","host":"t",)"
                              R"("address":"10.9.9.9"})"
                              "\n";
const std::string kOne = "1 packets transmitted, 1 received, 0% packet loss";

const PingLinesCase kCases[] = {
    {"unixTimesBeginEachRow", "ping -c 2 -i 0 -D t", 0,
     kHeader + "[1796644800.250000] 1     " + kReplyRow + "\n[1796644800.250000] 2     " +
         kReplyRow + "\n" +
         Stats("2 packets transmitted, 2 received, 0% packet loss", "4.000/4.000/4.000/0.000"),
     ""},
    {"unansweredReadsNoAnswerYet",
     "ping -c 2 -i 0 -O t",
     0,
     kHeader + "no answer yet for icmp_seq=1\n2     " + kReplyRow + "\n" +
         Stats("2 packets transmitted, 1 received, 50% packet loss", "4.000/4.000/4.000/0.000"),
     "",
     {kSilence, kReply}},
    {"unreachableReadsAsPingsLine",
     "ping -c 1 t",
     1,
     kHeader + "From 10.0.0.1 icmp_seq=1 Destination Host Unreachable\n" +
         Stats("1 packets transmitted, 0 received, +1 errors, 100% packet loss"),
     "",
     {kHostUnreachable}},
    {"fragmentationNeededThenTooLargeToLeave",
     "ping -c 2 -i 0 -M do -s 1472 t",
     1,
     kDest + "Seq   IP               Time        TTL   Bytes\n" +
         "From 10.0.0.1 icmp_seq=1 Frag needed and DF set (mtu = 1400)\n"
         "local error: message too long, mtu=1400\n" +
         Stats("2 packets transmitted, 0 received, +2 errors, 100% packet loss"),
     "",
     {kFragmentationNeeded, kTooLargeToLeave}},
    {"packetTooBigInIpv6Words",
     "ping -c 1 2001:db8::9",
     1,
     "Dest IP: 2001:db8::9\nSeq   IP" + std::string(38, ' ') + " Time        TTL\n" +
         "From 2001:db8::1 icmp_seq=1 Packet too big: mtu=1400\nDone\n\n--- 2001:db8::9 ping "
         "statistics ---\n1 packets transmitted, 0 received, +1 errors, 100% packet loss, time "
         "0ms\n",
     "",
     {kFragmentationNeeded}},
    {"reportsAndLocalErrorsInJson",
     "ping --json -c 3 -i 0 -s 100 t",
     0,
     kJsonDest + kAt +
         R"("seq":1,"address":"10.0.0.1","rtt_us":3000,"ttl":63,"status":11009,)"
         R"j("error":"Frag needed and DF set (mtu = 1400)","mtu":1400})j"
         "\n" +
         kAt +
         R"("seq":2,"address":null,"rtt_us":null,"ttl":null,"status":11009,)"
         R"("error":"local error: message too long, mtu=1400","mtu":1400})"
         "\n" +
         kAt + R"("seq":3,"address":"10.9.9.9","rtt_us":4000,"ttl":61,"status":0,"bytes":108})" +
         "\n" +
         Summary(R"("transmitted":3,"received":1,"errors":2,"loss_percent":66.66666666666667,)"
                 R"("time_ms":0,"rtt_min_us":4000,"rtt_avg_us":4000,"rtt_max_us":4000,)"
                 R"("rtt_mdev_us":0)",
                 0),
     "",
     {kFragmentationNeeded, kTooLargeToLeave, kReply}},
    {"sizeShowsTheBytesEachReplyBrought", "ping -c 1 -s 0 t", 0,
     kDest + "Seq   IP               Time        TTL   Bytes\n1     " + kReplyRow + "    8\n" +
         Stats(kOne, "4.000/4.000/4.000/0.000"),
     ""},
    {"withADeadlineCountCountsReplies",
     "ping -c 2 -i 0 -w 60 -q t",
     0,
     kDest + "\n--- t ping statistics ---\n4 packets transmitted, 2 received, 50% packet loss, "
             "time 0ms\nrtt min/avg/max/mdev = 4.000/4.000/4.000/0.000 ms\n",
     "",
     {kSilence, kReply, kSilence, kReply}},
    {"withADeadlineAReportEndsTheRun",
     "ping -i 0 -w 60 t",
     0,
     kHeader + "1     " + kReplyRow + "\nFrom 10.0.0.1 icmp_seq=2 Time to live exceeded\n" +
         Stats("2 packets transmitted, 1 received, +1 errors, 50% packet loss",
               "4.000/4.000/4.000/0.000"),
     "",
     {kReply, kTtlExceeded}},
    {"typeOfServicePathMtuAndInterfaceReachTheEngine",
     "ping -c 1 -Q 0x28 -M do -I lo t",
     0,
     kHeader + "1     " + kReplyRow + "\n" + Stats(kOne, "4.000/4.000/4.000/0.000"),
     "",
     {kReplyIfWired}},
    {"noSuchInterface", "ping -c 1 -I hw-none0 t", 2, "",
     "hopwise-cli ping: -I hw-none0: no such interface or local address\nTry 'hopwise-cli ping "
     "--help'.\n"},
    // An address for documentation (TEST-NET-3), which no machine's interface has.
    {"notALocalAddress", "ping -c 1 -I 203.0.113.9 t", 2, "",
     "hopwise-cli ping: -I 203.0.113.9: not a local address\nTry 'hopwise-cli ping --help'.\n"},
    {"sourceOfTheOtherFamily", "ping -6 -c 1 -I 127.0.0.1 t", 2, "",
     "hopwise-cli ping: -I 127.0.0.1: not an IPv6 address (-6)\nTry 'hopwise-cli ping --help'.\n"},
    {"traceThroughNoSuchInterface", "trace -i hw-none0 t", 2, "",
     "hopwise-cli trace: -i hw-none0: no such interface\nTry 'hopwise-cli trace --help'.\n"},
    {"traceFromANameNotAnAddress", "trace -s t t", 2, "",
     "hopwise-cli trace: -s t: not a local address\nTry 'hopwise-cli trace --help'.\n"},
};

void PrintTo(const PingLinesCase& c, std::ostream* out)
{
    *out << c.name;
}

class PingLinesTest : public ::testing::TestWithParam<PingLinesCase> {};

std::uint32_t Respond(const Answer& answer, const EchoRequest& request, void* reply,
                      std::uint32_t size)
{
    const bool ipv6 = request.destination.isIpv6();
    const HostAddress router = ipv6 ? Ip6("2001:db8::1") : HostAddress::ipv4(Ip("10.0.0.1"));
    const EchoSocketSettings& settings = GetEchoSocketSettings();
    const bool wired =
        request.tos == 0x28 && settings.interface == "lo" && settings.pathMtu == EchoPathMtu::Do;
    switch (answer.kind) {
    case Answer::Kind::ReplyIfWired:
        if (!wired) {
            break;
        }
        [[fallthrough]];
    case Answer::Kind::Reply:
        WriteEchoReply(
            reply, size,
            {.address = Ip("10.9.9.9"), .roundTripTime = 4, .ttl = 61, .data = request.data});
        return 0;
    case Answer::Kind::Report:
        WriteEchoReply(reply, size,
                       {.address = router.toIpv4(),
                        .status = answer.status,
                        .roundTripTime = 3,
                        .ttl = 63,
                        .responder = router,
                        .mtu = answer.mtu});
        return 0;
    case Answer::Kind::LocalError:
        WriteNoEchoReply(reply, size, answer.status);
        SetLastEchoMtu(answer.mtu);
        return 0;
    case Answer::Kind::Silence:
        break;
    }
    WriteNoEchoReply(reply, size, kIpReqTimedOut);
    return 0;
}

TEST_P(PingLinesTest, readAsPingWouldSayIt)
{
    const PingLinesCase& c = GetParam();
    ScriptedEchoStack stack;
    ScopedEchoStack installStack(stack);
    stack.answerAll({.address = Ip("10.9.9.9"), .roundTripTime = 4, .ttl = 61});
    for (const Answer& answer : c.answers) {
        stack.answerNext([answer](const EchoRequest& request, void* reply, std::uint32_t size) {
            return Respond(answer, request, reply, size);
        });
    }
    TableResolver resolver;
    ScopedHostResolver installResolver(resolver);
    resolver.addName("t", {Ip("10.9.9.9")});

    std::istringstream words(c.args);
    std::vector<std::string> args{"hopwise-cli"};
    args.insert(args.end(), std::istream_iterator<std::string>(words), {});
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    cli::ConsoleHooks hooks;
    hooks.now = [] {
        using namespace std::chrono;
        return sys_days{year{2026} / 12 / 7} + hours{12} + milliseconds{250};
    };
    EXPECT_EQ(cli::RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, hooks),
              c.exitCode);
    EXPECT_EQ(out.str(), c.out);
    EXPECT_EQ(err.str(), c.err);
}

INSTANTIATE_TEST_SUITE_P(Runs, PingLinesTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
