// hopwise-cli's arguments in, its exit code and exact output out: usage errors, odd host texts
// and numbers, and runs in text and JSON against a scripted stack and a table resolver (fixed
// round trips and clock, no packet sent, no name looked up), ping's summary among them. "t" names
// the target, 10.9.9.9, two hops away; 2001:db8::9 is as far, behind a router whose address is
// about the longest an IPv6 address gets. "both" has either address, "v6" only the IPv6 one.

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/console_run.h"
#include "probe/echo_permission.h"
#include "tests/support/scripted_echo_stack.h"
#include "tests/support/table_resolver.h"

namespace hopwise::test {
namespace {

using Args = std::vector<std::string>;

struct CliCase {
    std::string args; // split at blanks
    int exitCode;
    std::string out;
    std::string err;      // for a usage error (2) the message; the command's help follows it
    bool cancel = false;  // as if Ctrl-C came before the first probe
    bool refused = false; // the system refuses the first probe as not permitted
    IcmpSocketKind permitted = IcmpSocketKind::Datagram; // None: no ICMP socket at all
    std::vector<int> target = {}; // the target's round trips in µs, probe by probe; -1 silent
    int nameLookups = -1;         // how many names the run looks up; -1: not counted
};

const std::string kDest = "Dest IP: 10.9.9.9\n";
const std::string kPing = kDest + "Seq   IP               Time        TTL\n";
const std::string kHint = EchoPermissionHint() + std::string("\n");
const std::string kUnresolved = "Can't resolve name\n";
const std::string kNoHost = "ERROR: RequiredError: HOST is required\n";
const std::string kNoCommand = "ERROR: RequiredError: A subcommand is required\n";
// JSON lines start alike; every clock reading in these runs is the same.
const std::string kAt = R"({"schema_version":1,"type":)";
const std::string kTime = R"(,"time":"2026-12-07T12:00:00.250Z",)";
const std::string kJsonDest =
    kAt + R"("destination")" + kTime + R"("host":"t","address":"10.9.9.9"})" + "\n";
const std::string kDest6 = "Dest IP: 2001:db8::9\n";
const std::string kRouter6 = "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff";
// The IP column widened to an IPv6 address's longest text and a blank.
const std::string kPing6 = kDest6 + "Seq   IP" + std::string(38, ' ') + " Time        TTL\n";
const std::string kPingRow6 = "2001:db8::9" + std::string(29, ' ') + " 4.000 ms    61\n";
const std::string kSummary = kAt + R"("summary")" + kTime + R"("final":true,"outcome":)";
const std::string kNoRtt = R"("rtt_min_us":null,"rtt_avg_us":null,"rtt_max_us":null,)"
                           R"("rtt_mdev_us":null,"exit_code":1})"
                           "\n";

std::string Range(const std::string& option, const std::string& value, const std::string& range)
{
    return "ERROR: ValidationError: " + option + ": Value " + value + " not in range " + range +
           "\n";
}

std::string Stats(const std::string& host, const std::string& counts, const std::string& rtt = "")
{
    return "\n--- " + host + " ping statistics ---\n" + counts + ", time 0ms\n" +
           (rtt.empty() ? "" : "rtt min/avg/max/mdev = " + rtt + " ms\n");
}

const CliCase kCases[] = {
    {"", 2, "", kNoCommand},
    {"frob", 2, "", "Unknown command: frob (expected trace, ping or report)\n" + kNoCommand},
    {"ping --count 2", 2, "", kNoHost},
    {"trace -t", 2, "",
     "Unknown option: -t (a host that begins with '-' goes after --, e.g. hopwise-cli trace -- "
     "-t)\n" +
         kNoHost},
    {"trace --max-hop 257 t", 2, "", Range("--max-hop", "257", "0 to 256")},
    {"trace --timeout 0 t", 2, "", Range("--timeout", "0", "1 to 600000")},
    {"trace -w 1 --timeout 5 t", 2, "", "ERROR: ExcludesError: --timeout excludes --wait\n"},
    {"trace -n --resolve t", 2, "", "ERROR: ExcludesError: --resolve excludes -n\n"},
    {"ping --count 1 --timeout 600001 t", 2, "", Range("--timeout", "600001", "1 to 600000")},
    {"ping -c 1 -W 0 t", 2, "", Range("-W", "0", "0.001 to 600")},
    {"ping -c 1 -i 3601 t", 2, "", Range("--interval", "3601", "0 to 3600")},
    {"ping --count 1 --ttl 0 t", 2, "", Range("--ttl", "0", "1 to 255")},
    {"trace --parallel 0 t", 2, "", Range("--parallel", "0", "1 to 255")},
    {"report --cycles 0 t", 2, "", Range("--cycles", "0", "1 to 1000000")},
    {"ping --count 1 -t 256 t", 2, "", Range("--ttl", "256", "1 to 255")},
    {"ping --count 0 t", 2, "",
     "ERROR: ValidationError: --count: (0 not in {inf,infinity}) OR (Value 0 not in range 1 to "
     "2147483647)\n"},
    {"ping --json -t 0 t", 2,
     kAt + R"("error")" + kTime +
         R"("code":"usage","message":"ERROR: ValidationError: --ttl: Value 0 not in range 1 )"
         R"(to 255","exit_code":2})" +
         "\n",
     Range("--ttl", "0", "1 to 255")},
    {"trace --resolve --max-hop 256 t", 0,
     kDest + "  1  10.0.0.1  3.000 ms  r1.test\n  2  No Response\n  3  10.9.9.9  4.000 ms\nDone\n"
             "Destination reached at hop 3\n",
     ""},
    {"trace --max-hop 2 -w 600 10.9.9.9", 1,
     kDest + "  1  10.0.0.1  3.000 ms\nDone\nDestination not reached\n", ""},
    {"trace -n --max-hop -0 t", 1, kDest + "Done\nDestination not reached\n", ""},
    {"trace --parallel 1 --max-hop 256 t", 0,
     kDest + "  1  10.0.0.1  3.000 ms\n  2  No Response\n  3  10.9.9.9  4.000 ms\nDone\n"
             "Destination reached at hop 3\n",
     ""},
    {"report -c 2 -i 0 t", 0,
     "HOST: t (10.9.9.9)                Loss%   Snt     Last      Avg     Best     Wrst    StDev\n"
     "  1.|-- 10.0.0.1                   0.0%     2    3.000    3.000    3.000    3.000    0.000\n"
     "  2.|-- ???                      100.0%     2    0.000    0.000    0.000    0.000    0.000\n"
     "  3.|-- 10.9.9.9                   0.0%     2    4.000    4.000    4.000    4.000    0.000\n",
     ""},
    {"ping --count +2 --ttl 255 -i 0 10.9.9.9", 0,
     kPing +
         "1     10.9.9.9         4.000 ms    61\n2     10.9.9.9         4.000 ms    61\nDone\n" +
         Stats("10.9.9.9", "2 packets transmitted, 2 received, 0% packet loss",
               "4.000/4.000/4.000/0.000"),
     ""},
    {"ping -c 1 -t 1 t", 1,
     kPing + "From 10.0.0.1 icmp_seq=1 Time to live exceeded\nDone\n" +
         Stats("t", "1 packets transmitted, 0 received, +1 errors, 100% packet loss"),
     ""},
    {"ping -c 3 -i 0 t",
     0,
     kPing + "1     10.9.9.9         0.042 ms    61\n2     No Response\n3     10.9.9.9         " +
         "1.000 ms    61\nDone\n" +
         Stats("t", "3 packets transmitted, 2 received, 33.3333% packet loss",
               "0.042/0.521/1.000/0.479"),
     "",
     false,
     false,
     IcmpSocketKind::Datagram,
     {42, -1, 1000}},
    {"ping -q -c 3 -i 0 t",
     0,
     kDest +
         Stats("t", "3 packets transmitted, 3 received, 0% packet loss", "0.100/0.300/0.600/0.216"),
     "",
     false,
     false,
     IcmpSocketKind::Datagram,
     {100, 200, 600}},
    {"ping --count Infinity t", 1,
     kPing + "Cancelled\n" + Stats("t", "0 packets transmitted, 0 received, 0% packet loss"), "",
     true},
    {"trace --json --resolve --max-hop 2 t", 1,
     kJsonDest + kAt + R"("hop")" + kTime +
         R"("hop":1,"address":"10.0.0.1","rtt_us":3000,"ttl":63,"status":11013,)"
         R"("name":"r1.test"})" +
         "\n" + kSummary +
         R"("done","host":"t","address":"10.9.9.9","hops":1,"reached":false,"exit_code":1})" + "\n",
     ""},
    {"ping --json --count 1 --ttl 2 t", 1,
     kJsonDest + kAt + R"("echo")" + kTime +
         R"("seq":1,"address":null,"rtt_us":null,"ttl":null,"status":11010})" + "\n" + kSummary +
         R"("done","host":"t","address":"10.9.9.9","transmitted":1,"received":0,"errors":0,)"
         R"("loss_percent":100.0,"time_ms":0,)" +
         kNoRtt,
     ""},
    {"ping --json -q -c 4 -i 0 t",
     0,
     kJsonDest + kSummary +
         R"("done","host":"t","address":"10.9.9.9","transmitted":4,"received":3,"errors":0,)"
         R"("loss_percent":25.0,"time_ms":0,"rtt_min_us":100,"rtt_avg_us":300,)"
         R"("rtt_max_us":600,"rtt_mdev_us":216,"exit_code":0})" +
         "\n",
     "",
     false,
     false,
     IcmpSocketKind::Datagram,
     {100, 200, -1, 600}},
    {"ping --json --count INF t", 1,
     kJsonDest + kSummary +
         R"("cancelled","host":"t","address":"10.9.9.9","transmitted":0,"received":0,)"
         R"("errors":0,"loss_percent":0.0,"time_ms":0,)" +
         kNoRtt,
     "", true},
    {"ping --json t", 4,
     kJsonDest + kAt + R"("error")" + kTime + R"("code":"not_permitted","message":)" +
         nlohmann::json(EchoPermissionHint()).dump() + R"(,"exit_code":4})" + "\n",
     kHint, false, true},
    {"trace --resolve t", 4, "", kHint, false, false, IcmpSocketKind::None},
    {"ping --json 0.0.0.0", 3,
     kAt + R"("error")" + kTime +
         R"("code":"unresolved","message":"Can't resolve name","exit_code":3})" + "\n",
     kUnresolved},
    // IPv6: literals go as they are, a name's family follows -4 / -6 (else IPv4 first), and the
    // columns widen for the destination's family.
    {.args = "trace --parallel 1 --max-hop 256 2001:db8::9",
     .exitCode = 0,
     .out = kDest6 + "  1  " + kRouter6 +
            "  3.000 ms\n  2  No Response\n  3  2001:db8::9  4.000 ms\nDone\n"
            "Destination reached at hop 3\n",
     .err = "",
     .nameLookups = 0},
    {.args = "trace --resolve -6 both",
     .exitCode = 0,
     .out = kDest6 + "  1  " + kRouter6 +
            "  3.000 ms  r1.test\n  2  No Response\n  3  2001:db8::9  4.000 ms\nDone\n"
            "Destination reached at hop 3\n",
     .err = "",
     .nameLookups = 1},
    {.args = "ping -c 2 -i 0 2001:db8::9",
     .exitCode = 0,
     .out = kPing6 + "1     " + kPingRow6 + "2     " + kPingRow6 + "Done\n" +
            Stats("2001:db8::9", "2 packets transmitted, 2 received, 0% packet loss",
                  "4.000/4.000/4.000/0.000"),
     .err = ""},
    // A destination's zone widens the column further when the address alone fills it.
    {.args = "ping -c 1 ff02:ffff:ffff:ffff:ffff:ffff:ffff:ffff%lo",
     .exitCode = 0,
     .out = "Dest IP: ff02:ffff:ffff:ffff:ffff:ffff:ffff:ffff%lo\nSeq   IP" + std::string(41, ' ') +
            " Time        TTL\n1     2001:db8::9" + std::string(32, ' ') +
            " 4.000 ms    61\nDone\n" +
            Stats("ff02:ffff:ffff:ffff:ffff:ffff:ffff:ffff%lo",
                  "1 packets transmitted, 1 received, 0% packet loss", "4.000/4.000/4.000/0.000"),
     .err = ""},
    {.args = "ping -c 1 -t 1 2001:db8::9",
     .exitCode = 1,
     .out = kPing6 + "From " + kRouter6 + " icmp_seq=1 Time to live exceeded\nDone\n" +
            Stats("2001:db8::9", "1 packets transmitted, 0 received, +1 errors, 100% packet loss"),
     .err = ""},
    {.args = "report -c 2 -i 0 2001:db8::9",
     .exitCode = 0,
     .out = "HOST: 2001:db8::9 (2001:db8::9)" + std::string(18, ' ') +
            " Loss%   Snt     Last      Avg     Best     Wrst    StDev\n"
            "  1.|-- " +
            kRouter6 +
            "     0.0%     2    3.000    3.000    3.000    3.000    0.000\n"
            "  2.|-- ???" +
            std::string(37, ' ') +
            " 100.0%     2    0.000    0.000    0.000    0.000    0.000\n"
            "  3.|-- 2001:db8::9" +
            std::string(29, ' ') + "   0.0%     2    4.000    4.000    4.000    4.000    0.000\n",
     .err = ""},
    {.args = "ping -q -c 1 both",
     .exitCode = 0,
     .out =
         "Dest IP: 10.9.9.9\n" + Stats("both", "1 packets transmitted, 1 received, 0% packet loss",
                                       "4.000/4.000/4.000/0.000"),
     .err = "",
     .nameLookups = 1},
    {.args = "trace --json --resolve --max-hop 2 -6 both",
     .exitCode = 1,
     .out = kAt + R"("destination")" + kTime + R"("host":"both","address":"2001:db8::9"})" + "\n" +
            kAt + R"("hop")" + kTime + R"("hop":1,"address":")" + kRouter6 +
            R"(","rtt_us":3000,"ttl":63,"status":11013,"name":"r1.test"})" + "\n" + kSummary +
            R"("done","host":"both","address":"2001:db8::9","hops":1,"reached":false,)"
            R"("exit_code":1})" +
            "\n",
     .err = ""},
    {.args = "ping --json -c 1 2001:db8::9",
     .exitCode = 0,
     .out = kAt + R"("destination")" + kTime + R"("host":"2001:db8::9","address":"2001:db8::9"})" +
            "\n" + kAt + R"("echo")" + kTime +
            R"("seq":1,"address":"2001:db8::9","rtt_us":4000,"ttl":61,"status":0})" + "\n" +
            kSummary +
            R"("done","host":"2001:db8::9","address":"2001:db8::9","transmitted":1,"received":1,)"
            R"("errors":0,"loss_percent":0.0,"time_ms":0,"rtt_min_us":4000,"rtt_avg_us":4000,)"
            R"("rtt_max_us":4000,"rtt_mdev_us":0,"exit_code":0})" +
            "\n",
     .err = ""},
    {.args = "report --json -c 1 -i 0 --max-hop 3 2001:db8::9",
     .exitCode = 1,
     .out = kAt + R"("destination")" + kTime + R"("host":"2001:db8::9","address":"2001:db8::9"})" +
            "\n" + kAt + R"("report_hop")" + kTime + R"("hop":1,"addresses":[")" + kRouter6 +
            R"("],"loss_percent":0.0,"sent":1,"received":1,"last_us":3000,"avg_us":3000,)"
            R"("best_us":3000,"worst_us":3000,"stdev_us":0})" +
            "\n" + kAt + R"("report_hop")" + kTime +
            R"("hop":2,"addresses":[],"loss_percent":100.0,"sent":1,"received":0,"last_us":null,)"
            R"("avg_us":null,"best_us":null,"worst_us":null,"stdev_us":null})" +
            "\n" + kSummary +
            R"("done","host":"2001:db8::9","address":"2001:db8::9","cycles":1,"hops":2,)"
            R"("reached":false,"exit_code":1})" +
            "\n",
     .err = ""},
    {.args = "ping -4 -c 1 v6",
     .exitCode = 3,
     .out = "Done\n",
     .err = kUnresolved,
     .nameLookups = 1},
    {.args = "report -4 v6", .exitCode = 3, .out = "", .err = kUnresolved, .nameLookups = 1},
    {.args = "trace -6 10.9.9.9",
     .exitCode = 3,
     .out = "Done\n",
     .err = kUnresolved,
     .nameLookups = 0},
    {.args = "ping -c 1 1::2::3",
     .exitCode = 3,
     .out = "Done\n",
     .err = kUnresolved,
     .nameLookups = 0},
    {.args = "trace fe80::1%nosuchif",
     .exitCode = 3,
     .out = "Done\n",
     .err = kUnresolved,
     .nameLookups = 0},
    {.args = "report 2001:db8::g", .exitCode = 3, .out = "", .err = kUnresolved, .nameLookups = 0},
    {.args = "ping -4 -6 -c 1 both",
     .exitCode = 2,
     .out = "",
     .err = "ERROR: ExcludesError: -4 excludes -6\n"},
};

// Each is refused as a host rather than looked up or cut to something that could be one.
const std::string kOddHosts[] = {"",         " t",  "-t", "255.255.255.255", std::string(600, '1'),
                                 "\xff\xfe", "%s%n"};

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

TEST(CliTest, ArgumentsGiveTheirExitCodeAndExactOutput)
{
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
        std::istringstream words(c.args);
        runs.push_back({{std::istream_iterator<std::string>(words), {}}, c});
    }
    for (const std::string& host : kOddHosts) {
        runs.push_back({{"trace", "--", host}, {"", 3, "Done\n", kUnresolved}});
    }
    for (const auto& [args, c] : runs) {
        SCOPED_TRACE(::testing::PrintToString(args));
        stack.permit(c.permitted);
        if (c.refused) {
            stack.answerNext([](const EchoRequest&, void*, std::uint32_t) { return 5u; });
        }
        for (const int micros : c.target) {
            stack.answerNext([micros](const EchoRequest&, void* reply, std::uint32_t size) {
                if (micros < 0) {
                    WriteNoEchoReply(reply, size, 11010);
                } else {
                    const auto us = static_cast<std::uint32_t>(micros);
                    WriteEchoReply(reply, size,
                                   {.address = Ip("10.9.9.9"),
                                    .roundTripTime = us / 1000,
                                    .ttl = 61,
                                    .roundTripMicros = us});
                }
                return 0u;
            });
        }
        const int lookupsBefore = resolver.nameLookups();
        const auto [code, out, err] = Cli(args, c.cancel);
        if (c.nameLookups >= 0) {
            EXPECT_EQ(resolver.nameLookups() - lookupsBefore, c.nameLookups);
        }
        std::string usage;
        if (c.exitCode == 2) {
            const bool command =
                !args.empty() && (args[0] == "trace" || args[0] == "ping" || args[0] == "report");
            usage = std::get<1>(Cli(command ? Args{args[0], "--help"} : Args{"--help"}));
            EXPECT_TRUE(usage.ends_with(
                "\n\nExit codes:\n  0    a reply came (ping), the destination answered (trace)\n"
                "  1    no reply came, the destination never answered (also after Ctrl-C)\n"
                "  2    bad usage\n  3    Can't resolve name\n  4    ICMP echo not permitted, or "
                "installed set-user-ID\n  130  a second Ctrl-C: left at once\n\n"))
                << usage;
        }
        EXPECT_EQ(code, c.exitCode);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err + usage);
    }
}

} // namespace
} // namespace hopwise::test
