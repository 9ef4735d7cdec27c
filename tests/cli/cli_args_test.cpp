// hopwise-cli's arguments in, its exit code and exact output out: usage errors, odd host texts
// and numbers, and runs in text and JSON against a scripted stack and a table resolver (fixed
// round trips and clock, no packet sent, no name looked up). "t" names the target, 10.9.9.9, two
// hops away; 2001:db8::9 is as far, behind a router whose address is about the longest an IPv6
// address gets. "both" has either address, "v6" only the IPv6 one. A row may script the first
// answers itself: a router's report, a local error, silence, a refusal.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "cli/cli_options.h"
#include "cli/console_run.h"
#include "probe/echo_permission.h"
#include "probe/echo_status.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {
namespace {

using Args = std::vector<std::string>;

// One scripted answer, in call order.
struct Answer {
    enum class Kind { Reply, Silence, Report, LocalError, ReplyIfWired, Refused } kind;
    std::uint32_t status = kIpSuccess;
    std::uint32_t value = 4000; // Reply: the round trip in µs; Report, LocalError: the MTU
};

Answer Reply(std::uint32_t micros)
{
    return {Answer::Kind::Reply, kIpSuccess, micros};
}
const Answer kReply = Reply(4000);
const Answer kSilence{Answer::Kind::Silence, kIpReqTimedOut};
const Answer kTtlExceeded{Answer::Kind::Report, kIpTtlExpiredTransit, 0};
const Answer kHostUnreachable{Answer::Kind::Report, kIpDestHostUnreachable, 0};
const Answer kFragmentationNeeded{Answer::Kind::Report, kIpPacketTooBig, 1400};
const Answer kTooLargeToLeave{Answer::Kind::LocalError, kIpPacketTooBig, 1400};
// Answered only when the request has TOS 0x28 and the thread's settings say "lo" and "do".
const Answer kReplyIfWired{Answer::Kind::ReplyIfWired};
const Answer kRefused{Answer::Kind::Refused}; // the system refuses the probe as not permitted

enum class Mode {
    Exact,
    HelpPart, // out is a part of what is printed
    Cancel,   // as if Ctrl-C came before the first probe
    NoSocket, // no ICMP socket at all
};

struct CliCase {
    std::string args; // split at blanks
    int exitCode;
    std::string out;
    std::string err = "";
    std::vector<Answer> answers = {};
    int nameLookups = -1; // how many names the run looks up; -1: not counted
    Mode mode = Mode::Exact;
};

const std::string kDest = "Dest IP: 10.9.9.9\n";
const std::string kPing = kDest + "Seq   IP               Time        TTL\n";
const std::string kPingBytes = kDest + "Seq   IP               Time        TTL   Bytes\n";
const std::string kReplyRow = "10.9.9.9         4.000 ms    61\n";
const std::string kRtt4 = "4.000/4.000/4.000/0.000";
const std::string kReached = "Done\nDestination reached at hop 3\n";
const std::string kNotReached = "Done\nDestination not reached\n";
const std::string kHint = EchoPermissionHint() + std::string("\n");
const std::string kVersion = "hopwise-cli " HOPWISE_VERSION "\n";
const std::string kRouter6 = "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff";
const std::string kDest6 = "Dest IP: 2001:db8::9\n";

std::string Unresolved(const std::string& host)
{
    return "Can't resolve name: " + host + "\n";
}
// A usage error: what was wrong, and where to read more.
std::string Usage(const std::string& command, const std::string& what)
{
    return "hopwise-cli" + (command.empty() ? "" : " " + command) + ": " + what +
           "\nTry 'hopwise-cli " + (command.empty() ? "" : command + " ") + "--help'.\n";
}
std::string Stats(const std::string& host, const std::string& counts, const std::string& rtt = "")
{
    return "\n--- " + host + " ping statistics ---\n" + counts + ", time 0ms\n" +
           (rtt.empty() ? "" : "rtt min/avg/max/mdev = " + rtt + " ms\n");
}
std::string Sent(int sent, int received, const std::string& loss, int errors = 0)
{
    return std::to_string(sent) + " packets transmitted, " + std::to_string(received) +
           " received, " + (errors > 0 ? "+" + std::to_string(errors) + " errors, " : "") + loss +
           "% packet loss";
}
// One JSON line; every clock reading in these runs is the same.
std::string Json(const std::string& type, const std::string& fields)
{
    return R"({"schema_version":1,"type":")" + type + R"(","time":"2026-12-07T12:00:00.250Z",)" +
           fields + "}\n";
}
std::string Destination(const std::string& host, const std::string& address)
{
    return Json("destination", R"("host":")" + host + R"(","address":")" + address + "\"");
}
std::string Summary(const std::string& outcome, const std::string& host, const std::string& address,
                    const std::string& fields)
{
    return Json("summary", R"("final":true,"outcome":")" + outcome + R"(","host":")" + host +
                               R"(","address":")" + address + "\"," + fields);
}
std::string JsonError(const std::string& code, const std::string& message, int exitCode)
{
    return Json("error", R"("code":")" + code + R"(","message":)" + nlohmann::json(message).dump() +
                             R"(,"exit_code":)" + std::to_string(exitCode));
}
const std::string kNoRtt = R"("rtt_min_us":null,"rtt_avg_us":null,"rtt_max_us":null,)"
                           R"("rtt_mdev_us":null,"exit_code":1)";

// mtr's heading: when the report started (12:00:00 UTC by the clock of these runs) and the
// local host's name.
std::string ReportHeading(std::size_t addressWidth)
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    std::string host = name;
    host.resize(std::max(host.size(), addressWidth + 2), ' ');
    return "Start: 2026-12-07T12:00:00+0000\nHOST: " + host +
           "  Loss%   Snt     Last      Avg     Best     Wrst    StDev\n";
}
std::string ReportRow(const std::string& hop, const std::string& stats)
{
    return "  " + hop + "|-- " + stats + "\n";
}

const CliCase kCases[] = {
    // Usage errors: one line naming what was wrong, then where to read more; a negative number
    // after an option is its value.
    {"", 2, "", Usage("", "missing command: trace, ping or report")},
    {"frob", 2, "", Usage("", "unknown command: frob (expected trace, ping or report)")},
    {"--frob ping t", 2, "", Usage("", "unknown option: --frob")},
    {"ping --count 2", 2, "", Usage("ping", "missing HOST")},
    {"trace -t", 2, "",
     Usage("trace", "unknown option: -t (a host that begins with '-' goes after --: "
                    "hopwise-cli trace -- -t)")},
    {"ping -c 2 -1", 2, "",
     Usage("ping", "unknown option: -1 (a host that begins with '-' goes after --: "
                   "hopwise-cli ping -- -1)")},
    {"ping -qx3 t", 2, "", Usage("ping", "unknown option: -x")},
    {"ping t u", 2, "", Usage("ping", "unexpected argument: u")},
    {"ping --count=0x10 t", 2, "",
     Usage("ping", "--count 0x10: the count must be a whole number from 1 to 2147483647, or inf")},
    {"ping -i -1 t", 2, "",
     Usage("ping", "-i -1: the interval must be a number of seconds from 0 to 3600")},
    {"report -c 0 t", 2, "",
     Usage("report", "-c 0: the number of cycles must be a whole number from 1 to 1000000")},
    {"trace -w 1,2 t", 2, "",
     Usage("trace", "-w 1,2: the wait must be a number of seconds from 0.001 to 600, alone or "
                    "followed by ,HERE,NEAR: two factors from 0 to 1000")},
    {"ping t -c", 2, "", Usage("ping", "-c needs a value (N|inf)")},
    {"trace -w 1 --timeout 5 t", 2, "", Usage("trace", "-w and --timeout exclude each other")},
    {"ping -4 -6 -c 1 both", 2, "", Usage("ping", "-4 and -6 exclude each other")},
    {"trace -U -T t", 2, "", Usage("trace", "-U and -T exclude each other")},
    {"trace -T --mtu t", 2, "", Usage("trace", "-T and --mtu exclude each other")},
    {"report -p 80 t", 2, "", Usage("report", "-p needs -U or -T")},
    {"trace --flows 2 t", 2, "", Usage("trace", "--flows needs -U or -T")},
    {"report -T -p 65536 t", 2, "",
     Usage("report", "-p 65536: the port must be a whole number from 1 to 65535")},
    {"ping --json -t 0 t", 2,
     JsonError("usage",
               "hopwise-cli ping: -t 0: the time to live must be a whole number from 1 to 255", 2),
     Usage("ping", "-t 0: the time to live must be a whole number from 1 to 255")},
    // What was typed need not be UTF-8; the JSON must be.
    {"ping --json -c \xff t", 2,
     JsonError("usage",
               "hopwise-cli ping: -c \xef\xbf\xbd: the count must be a whole number from 1 to "
               "2147483647, or inf",
               2),
     Usage("ping", "-c \xff: the count must be a whole number from 1 to 2147483647, or inf")},
    // The interfaces and addresses -I, -i and -s refuse.
    {"ping -c 1 -I hw-none0 t", 2, "",
     Usage("ping", "-I hw-none0: no such interface or local address")},
    // An address for documentation (TEST-NET-3), which no machine's interface has.
    {"ping -c 1 -I 203.0.113.9 t", 2, "", Usage("ping", "-I 203.0.113.9: not a local address")},
    {"ping -6 -c 1 -I 127.0.0.1 t", 2, "", Usage("ping", "-I 127.0.0.1: not an IPv6 address (-6)")},
    {"trace -i hw-none0 t", 2, "", Usage("trace", "-i hw-none0: no such interface")},
    {"trace -s t t", 2, "", Usage("trace", "-s t: not a local address")},
    // --version and --help win wherever they stand, over a value that would be refused.
    {"--version", 0, kVersion},
    {"ping -t 0 -V t", 0, kVersion},
    {"--help", 0, "Usage: hopwise-cli COMMAND [OPTION]... HOST\n", "", {}, -1, Mode::HelpPart},
    {"trace --help",
     0,
     "\nOutput:\n      --resolve           Look up each responder's name\n",
     "",
     {},
     -1,
     Mode::HelpPart},
    {"ping -c 0 -h",
     0,
     "\nProbing:\n  -c, --count N|inf       Requests to send; inf sends until Ctrl-C "
     "(default inf)\n",
     "",
     {},
     -1,
     Mode::HelpPart},
    // Trace.
    {"trace --resolve --max-hop 256 t", 0,
     kDest + "  1  10.0.0.1  3.000 ms  r1.test\n  2  No Response\n  3  10.9.9.9  4.000 ms\n" +
         kReached},
    {"trace --max-hop 2 -w 600 10.9.9.9", 1, kDest + "  1  10.0.0.1  3.000 ms\n" + kNotReached},
    {"trace -n --max-hop -0 t", 1, kDest + kNotReached},
    {"trace --parallel 1 --max-hop 256 t", 0,
     kDest + "  1  10.0.0.1  3.000 ms\n  2  No Response\n  3  10.9.9.9  4.000 ms\n" + kReached},
    // Several probes per hop on the hop's line, from the first hop asked for.
    {"trace -q 3 -N 4 --max-hop 256 t", 0,
     kDest +
         "  1  10.0.0.1  3.000 ms  3.000 ms  3.000 ms\n  2  *  *  *\n"
         "  3  10.9.9.9  4.000 ms  4.000 ms  4.000 ms\n" +
         kReached},
    {"trace -f 2 t", 0, kDest + "  2  No Response\n  3  10.9.9.9  4.000 ms\n" + kReached},
    {"trace -q 2 --resolve --max-hop 2 t", 1,
     kDest + "  1  10.0.0.1  3.000 ms  r1.test  3.000 ms\n" + kNotReached},
    {"trace -q 2 -f 3 t",
     0,
     kDest + "  3  10.9.9.9  0.412 ms  *\n" + kReached,
     "",
     {Reply(412), kSilence}},
    {"trace --json -q 2 -f 3 t",
     0,
     Destination("t", "10.9.9.9") +
         Json("hop", R"("hop":3,"probe":1,"address":null,"rtt_us":null,"ttl":null,)"
                     R"("status":11010,"name":null)") +
         Json("hop", R"("hop":3,"probe":2,"address":"10.9.9.9","rtt_us":500,"ttl":61,)"
                     R"("status":0,"name":null)") +
         Summary("done", "t", "10.9.9.9", R"("hops":1,"reached":true,"exit_code":0)"),
     "",
     {kSilence, Reply(500)}},
    // Flows that saw different responders, each named; ones that agree read as one.
    {"trace -U --flows 2 -N 1 -f 2 t",
     0,
     kDest + "  2  No Response\n  3  10.9.9.9  0.412 ms  (flow 1)  *  (flow 2)\n" + kReached,
     "",
     {kSilence, kSilence, Reply(412), kSilence}},
    // --mtu: too large to leave, then for a router behind hop 1; each time sent again smaller.
    {"trace --mtu -N 1 t",
     0,
     kDest + "  1  10.0.0.1  3.000 ms  pmtu 1300\n  2  10.9.9.9  4.000 ms\n" +
         "Done\nDestination reached at hop 2\n",
     "",
     {kTooLargeToLeave, kTtlExceeded, {Answer::Kind::Report, kIpPacketTooBig, 1300}, kReply}},
    // Report.
    {"report -n -c 2 -i 0 t", 0,
     ReportHeading(24) +
         ReportRow("1.", "10.0.0.1                   0.0%     2    3.000    3.000    3.000    "
                         "3.000    0.000") +
         ReportRow("2.", "???                      100.0%     2    0.000    0.000    0.000    "
                         "0.000    0.000") +
         ReportRow("3.", "10.9.9.9                   0.0%     2    4.000    4.000    4.000    "
                         "4.000    0.000")},
    // With --resolve a responder's name stands in for its address, the column as wide as it.
    {"report --resolve -c 1 -i 0 --max-hop 2 t", 1,
     ReportHeading(24) + ReportRow("1.", "r1.test                    0.0%     1    3.000    "
                                         "3.000    3.000    3.000    0.000")},
    {"report --json -c 1 -i 0 nosuch.invalid", 3,
     JsonError("unresolved", "Can't resolve name: nosuch.invalid", 3),
     Unresolved("nosuch.invalid")},
    // Ping.
    {"ping --count +2 --ttl 255 -i 0 10.9.9.9", 0,
     kPing + "1     " + kReplyRow + "2     " + kReplyRow + "Done\n" +
         Stats("10.9.9.9", Sent(2, 2, "0"), kRtt4)},
    {"ping -c 3 -i 0 t",
     0,
     kPing + "1     10.9.9.9         0.042 ms    61\n2     No Response\n3     10.9.9.9         " +
         "1.000 ms    61\nDone\n" + Stats("t", Sent(3, 2, "33.3333"), "0.042/0.521/1.000/0.479"),
     "",
     {Reply(42), kSilence, Reply(1000)}},
    {"ping --count Infinity t",
     1,
     kPing + "Cancelled\n" + Stats("t", Sent(0, 0, "0")),
     "",
     {},
     -1,
     Mode::Cancel},
    {"ping -c 2 -i 0 -D t", 0,
     kPing + "[1796644800.250000] 1     " + kReplyRow + "[1796644800.250000] 2     " + kReplyRow +
         "Done\n" + Stats("t", Sent(2, 2, "0"), kRtt4)},
    {"ping -c 2 -i 0 -O t",
     0,
     kPing + "no answer yet for icmp_seq=1\n2     " + kReplyRow + "Done\n" +
         Stats("t", Sent(2, 1, "50"), kRtt4),
     "",
     {kSilence, kReply}},
    {"ping -c 1 t",
     1,
     kPing + "From 10.0.0.1 icmp_seq=1 Destination Host Unreachable\nDone\n" +
         Stats("t", Sent(1, 0, "100", 1)),
     "",
     {kHostUnreachable}},
    {"ping -c 2 -i 0 -M do -s 1472 t",
     1,
     kPingBytes +
         "From 10.0.0.1 icmp_seq=1 Frag needed and DF set (mtu = 1400)\n"
         "local error: message too long, mtu=1400\nDone\n" +
         Stats("t", Sent(2, 0, "100", 2)),
     "",
     {kFragmentationNeeded, kTooLargeToLeave}},
    {"ping -c 1 -s 0 t", 0,
     kPingBytes + "1     10.9.9.9         4.000 ms    61    8\nDone\n" +
         Stats("t", Sent(1, 1, "0"), kRtt4)},
    // With a deadline, -c counts replies, and a router's report ends the run.
    {"ping -c 2 -i 0 -w 60 -q t",
     0,
     kDest + Stats("t", Sent(4, 2, "50"), kRtt4),
     "",
     {kSilence, kReply, kSilence, kReply}},
    {"ping -i 0 -w 60 t",
     0,
     kPing + "1     " + kReplyRow + "From 10.0.0.1 icmp_seq=2 Time to live exceeded\nDone\n" +
         Stats("t", Sent(2, 1, "50", 1), kRtt4),
     "",
     {kReply, kTtlExceeded}},
    {"ping -c 1 -Q 0x28 -M do -I lo t",
     0,
     kPing + "1     " + kReplyRow + "Done\n" + Stats("t", Sent(1, 1, "0"), kRtt4),
     "",
     {kReplyIfWired}},
    {"ping --json -c 3 -i 0 -s 100 t",
     0,
     Destination("t", "10.9.9.9") +
         Json("echo", R"("seq":1,"address":"10.0.0.1","rtt_us":3000,"ttl":63,"status":11009,)"
                      R"j("error":"Frag needed and DF set (mtu = 1400)","mtu":1400)j") +
         Json("echo", R"("seq":2,"address":null,"rtt_us":null,"ttl":null,"status":11009,)"
                      R"("error":"local error: message too long, mtu=1400","mtu":1400)") +
         Json("echo", R"("seq":3,"address":"10.9.9.9","rtt_us":4000,"ttl":61,"status":0,)"
                      R"("bytes":108)") +
         Summary("done", "t", "10.9.9.9",
                 R"("transmitted":3,"received":1,"errors":2,"loss_percent":66.66666666666667,)"
                 R"("time_ms":0,"rtt_min_us":4000,"rtt_avg_us":4000,"rtt_max_us":4000,)"
                 R"("rtt_mdev_us":0,"exit_code":0)"),
     "",
     {kFragmentationNeeded, kTooLargeToLeave, kReply}},
    {"ping --json --count 1 --ttl 2 t", 1,
     Destination("t", "10.9.9.9") +
         Json("echo", R"("seq":1,"address":null,"rtt_us":null,"ttl":null,"status":11010)") +
         Summary("done", "t", "10.9.9.9",
                 R"("transmitted":1,"received":0,"errors":0,"loss_percent":100.0,"time_ms":0,)" +
                     kNoRtt)},
    {"ping --json -q -c 4 -i 0 t",
     0,
     Destination("t", "10.9.9.9") +
         Summary("done", "t", "10.9.9.9",
                 R"("transmitted":4,"received":3,"errors":0,"loss_percent":25.0,"time_ms":0,)"
                 R"("rtt_min_us":100,"rtt_avg_us":300,"rtt_max_us":600,"rtt_mdev_us":216,)"
                 R"("exit_code":0)"),
     "",
     {Reply(100), Reply(200), kSilence, Reply(600)}},
    {"ping --json --count INF t",
     1,
     Destination("t", "10.9.9.9") +
         Summary("cancelled", "t", "10.9.9.9",
                 R"("transmitted":0,"received":0,"errors":0,"loss_percent":0.0,"time_ms":0,)" +
                     kNoRtt),
     "",
     {},
     -1,
     Mode::Cancel},
    {"ping --json t",
     4,
     Destination("t", "10.9.9.9") + JsonError("not_permitted", EchoPermissionHint(), 4),
     kHint,
     {kRefused}},
    {"trace --resolve t", 4, "", kHint, {}, -1, Mode::NoSocket},
    {"ping --json 0.0.0.0", 3, JsonError("unresolved", "Can't resolve name: 0.0.0.0", 3),
     Unresolved("0.0.0.0")},
    // IPv6: literals go as they are, a name's family follows -4 / -6 (else IPv4 first), and the
    // columns widen for the destination's family.
    {"trace --resolve -6 both",
     0,
     kDest6 + "  1  " + kRouter6 + "  3.000 ms  r1.test\n  2  No Response\n  3  2001:db8::9  " +
         "4.000 ms\n" + kReached,
     "",
     {},
     1},
    {"ping -c 1 2001:db8::9",
     1,
     kDest6 + "Seq   IP" + std::string(38, ' ') + " Time        TTL\n" +
         "From 2001:db8::1 icmp_seq=1 Packet too big: mtu=1400\nDone\n" +
         Stats("2001:db8::9", Sent(1, 0, "100", 1)),
     "",
     {kFragmentationNeeded},
     0},
    // A destination's zone widens the column further when the address alone fills it.
    {"ping -c 1 ff02:ffff:ffff:ffff:ffff:ffff:ffff:ffff%lo", 0,
     "Dest IP: ff02:ffff:ffff:ffff:ffff:ffff:ffff:ffff%lo\nSeq   IP" + std::string(41, ' ') +
         " Time        TTL\n1     2001:db8::9" + std::string(32, ' ') + " 4.000 ms    61\nDone\n" +
         Stats("ff02:ffff:ffff:ffff:ffff:ffff:ffff:ffff%lo", Sent(1, 1, "0"), kRtt4)},
    {"report -c 2 -i 0 2001:db8::9", 0,
     ReportHeading(40) +
         ReportRow("1.",
                   kRouter6 + "     0.0%     2    3.000    3.000    3.000    3.000    0.000") +
         ReportRow("2.", "???" + std::string(37, ' ') +
                             " 100.0%     2    0.000    0.000    0.000    0.000    0.000") +
         ReportRow("3.", "2001:db8::9" + std::string(29, ' ') +
                             "   0.0%     2    4.000    4.000    4.000    4.000    0.000")},
    {"ping -q -c 1 both", 0, kDest + Stats("both", Sent(1, 1, "0"), kRtt4), "", {}, 1},
    {"trace --json --resolve --max-hop 2 -6 both", 1,
     Destination("both", "2001:db8::9") +
         Json("hop", R"("hop":1,"address":")" + kRouter6 +
                         R"(","rtt_us":3000,"ttl":63,"status":11013,"name":"r1.test")") +
         Summary("done", "both", "2001:db8::9", R"("hops":1,"reached":false,"exit_code":1)")},
    {"report --json -c 1 -i 0 --max-hop 3 2001:db8::9", 1,
     Destination("2001:db8::9", "2001:db8::9") +
         Json("report_hop", R"("hop":1,"addresses":[")" + kRouter6 +
                                R"("],"loss_percent":0.0,"sent":1,"received":1,"last_us":3000,)"
                                R"("avg_us":3000,"best_us":3000,"worst_us":3000,"stdev_us":0)") +
         Json("report_hop",
              R"("hop":2,"addresses":[],"loss_percent":100.0,"sent":1,"received":0,)"
              R"("last_us":null,"avg_us":null,"best_us":null,"worst_us":null,"stdev_us":null)") +
         Summary("done", "2001:db8::9", "2001:db8::9",
                 R"("cycles":1,"hops":2,"reached":false,"exit_code":1)")},
    {"ping -4 -c 1 v6", 3, "Done\n", Unresolved("v6"), {}, 1},
    {"trace -6 10.9.9.9", 3, "Done\n", Unresolved("10.9.9.9"), {}, 0},
    {"trace fe80::1%nosuchif", 3, "Done\n", Unresolved("fe80::1%nosuchif"), {}, 0},
    {"report 2001:db8::g", 3, "", Unresolved("2001:db8::g"), {}, 0},
};

// Each is refused as a host rather than looked up or cut to something that could be one.
const std::string kOddHosts[] = {"",         " t",  "-t", "255.255.255.255", std::string(600, '1'),
                                 "\xff\xfe", "%s%n"};

std::uint32_t Respond(const Answer& answer, const EchoRequest& request, void* reply,
                      std::uint32_t size)
{
    const bool ipv6 = request.destination.isIpv6();
    const HostAddress router = ipv6 ? Ip6("2001:db8::1") : HostAddress::ipv4(Ip("10.0.0.1"));
    const EchoSocketSettings& settings = GetEchoSocketSettings();
    const bool wired =
        request.tos == 0x28 && settings.interface == "lo" && settings.pathMtu == EchoPathMtu::Do;
    switch (answer.kind) {
    case Answer::Kind::Refused:
        return 5;
    case Answer::Kind::ReplyIfWired:
        if (!wired) {
            break;
        }
        [[fallthrough]];
    case Answer::Kind::Reply:
        WriteEchoReply(reply, size,
                       {.address = Ip("10.9.9.9"),
                        .roundTripTime = answer.value / 1000,
                        .ttl = 61,
                        .data = request.data,
                        .roundTripMicros = answer.value});
        return 0;
    case Answer::Kind::Report:
        WriteEchoReply(reply, size,
                       {.address = router.toIpv4(),
                        .status = answer.status,
                        .roundTripTime = 3,
                        .ttl = 63,
                        .responder = router,
                        .mtu = answer.value});
        return 0;
    case Answer::Kind::LocalError:
        WriteNoEchoReply(reply, size, answer.status);
        SetLastEchoMtu(answer.value);
        return 0;
    case Answer::Kind::Silence:
        break;
    }
    WriteNoEchoReply(reply, size, kIpReqTimedOut);
    return 0;
}

// hopwise-cli's exit code, stdout and stderr.
std::tuple<int, std::string, std::string> Cli(const Args& args, bool cancel = false)
{
    std::vector<const char*> argv{"hopwise-cli"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    cli::ConsoleHooks hooks;
    hooks.watchCancel = [&](std::atomic<bool>& flag) { flag = cancel; };
    hooks.now = [] {
        using namespace std::chrono;
        return sys_days{year{2026} / 12 / 7} + hours{12} + milliseconds{250};
    };
    const int code =
        cli::RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err, hooks);
    return {code, out.str(), err.str()};
}

Args Words(const std::string& text)
{
    std::istringstream words(text);
    return {std::istream_iterator<std::string>(words), {}};
}

TEST(CliTest, ArgumentsGiveTheirExitCodeAndExactOutput)
{
    setenv("TZ", "UTC0", 1); // the report's start is local time
    tzset();
    ScriptedEchoStack stack;
    ScopedEchoStack installStack(stack);
    stack.answerTtl(1, {Ip("10.0.0.1"), 11013, 3, 63}); // TTL 2 goes unanswered
    for (int ttl = 3; ttl < 256; ++ttl) {
        stack.answerTtl(static_cast<std::uint8_t>(ttl), {Ip("10.9.9.9"), 0, 4, 61});
    }
    TableResolver resolver;
    ScopedHostResolver installResolver(resolver);
    resolver.addName("t", {Ip("10.9.9.9")});
    resolver.addAddress(Ip("10.0.0.1"), "r1.test");
    const HostAddress target6 = Ip6("2001:db8::9");
    stack.answerTtl(
        AddressFamily::Ipv6, 1,
        {.status = 11013, .roundTripTime = 3, .ttl = 63, .responder = Ip6(kRouter6.c_str())});
    for (int ttl = 3; ttl < 256; ++ttl) {
        stack.answerTtl(AddressFamily::Ipv6, static_cast<std::uint8_t>(ttl),
                        {.roundTripTime = 4, .ttl = 61, .responder = target6});
    }
    resolver.addHost("both", {target6, HostAddress::ipv4(Ip("10.9.9.9"))});
    resolver.addHost("v6", {target6});
    resolver.addAddress(Ip6(kRouter6.c_str()), "r1.test");

    std::vector<std::pair<Args, CliCase>> runs;
    for (const CliCase& c : kCases) {
        runs.push_back({Words(c.args), c});
    }
    for (const std::string& host : kOddHosts) {
        runs.push_back({{"trace", "--", host}, {"", 3, "Done\n", Unresolved(host)}});
    }
    for (const auto& [args, c] : runs) {
        SCOPED_TRACE(::testing::PrintToString(args));
        stack.permit(c.mode == Mode::NoSocket ? IcmpSocketKind::None : IcmpSocketKind::Datagram);
        for (const Answer& answer : c.answers) {
            stack.answerNext([answer](const EchoRequest& request, void* reply, std::uint32_t size) {
                return Respond(answer, request, reply, size);
            });
        }
        const int lookupsBefore = resolver.nameLookups();
        const auto [code, out, err] = Cli(args, c.mode == Mode::Cancel);
        if (c.nameLookups >= 0) {
            EXPECT_EQ(resolver.nameLookups() - lookupsBefore, c.nameLookups);
        }
        EXPECT_EQ(code, c.exitCode);
        if (c.mode == Mode::HelpPart) {
            EXPECT_NE(out.find(c.out), std::string::npos) << out;
        } else {
            EXPECT_EQ(out, c.out);
        }
        EXPECT_EQ(err, c.err);
        // --help reads as a synopsis: none of CLI11's type and range annotations.
        EXPECT_FALSE(std::regex_search(
            out, std::regex(R"(\b(TEXT|INT|UINT|FLOAT|REQUIRED|Excludes)\b|\[[0-9.]+ - )")))
            << out;
    }
}

// -w's one or three numbers, and --timeout, as the trace and the report take them.
struct WaitCase {
    const char* args;
    std::int32_t timeoutMs;
    double here, near;
};

class CliWaitTest : public ::testing::TestWithParam<WaitCase> {};

TEST_P(CliWaitTest, SetsTheLongestWaitAndTheFactors)
{
    Args args = Words(std::string("hopwise-cli ") + GetParam().args);
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    const cli::ParsedCommandLine parsed =
        cli::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    ASSERT_TRUE(parsed.options) << parsed.err;
    EXPECT_EQ(
        std::tuple(parsed.options->timeoutMs, parsed.options->waitHere, parsed.options->waitNear),
        std::tuple(GetParam().timeoutMs, GetParam().here, GetParam().near));
}

INSTANTIATE_TEST_SUITE_P(Waits, CliWaitTest,
                         ::testing::Values(WaitCase{"trace t", 1000, 3, 10},
                                           WaitCase{"trace -w 2 t", 2000, 0, 0},
                                           WaitCase{"report --wait 0.5,2,5 t", 500, 2, 5},
                                           WaitCase{"trace --timeout 300 t", 300, 3, 10}));

} // namespace
} // namespace hopwise::test
