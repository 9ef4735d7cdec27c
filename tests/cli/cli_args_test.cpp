// hopwise-cli's arguments in, its exit code and exact output out: usage errors, odd host texts
// and numbers, and runs in text and JSON against a scripted stack and a table resolver (fixed
// round trips and clock, no packet sent, no name looked up), ping's summary among them. "t" names
// the target, 10.9.9.9, two hops away; 2001:db8::9 is as far, behind a router whose address is
// about the longest an IPv6 address gets. "both" has either address, "v6" only the IPv6 one.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include <chrono>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "cli/cli_options.h"
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
    std::string err;
    bool cancel = false;  // as if Ctrl-C came before the first probe
    bool refused = false; // the system refuses the first probe as not permitted
    IcmpSocketKind permitted = IcmpSocketKind::Datagram; // None: no ICMP socket at all
    std::vector<int> target = {}; // the target's round trips in µs, probe by probe; -1 silent
    int nameLookups = -1;         // how many names the run looks up; -1: not counted
    bool outPart = false;         // out is a part of what is printed (--help)
};

const std::string kDest = "Dest IP: 10.9.9.9\n";
const std::string kPing = kDest + "Seq   IP               Time        TTL\n";
const std::string kHint = EchoPermissionHint() + std::string("\n");
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
const std::string kVersion = "hopwise-cli " HOPWISE_VERSION "\n";
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

std::string Stats(const std::string& host, const std::string& counts, const std::string& rtt = "")
{
    return "\n--- " + host + " ping statistics ---\n" + counts + ", time 0ms\n" +
           (rtt.empty() ? "" : "rtt min/avg/max/mdev = " + rtt + " ms\n");
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
    {"ping -c1.1 t", 2, "",
     Usage("ping", "-c 1.1: the count must be a whole number from 1 to 2147483647, or inf")},
    {"ping --count=0x10 t", 2, "",
     Usage("ping", "--count 0x10: the count must be a whole number from 1 to 2147483647, or inf")},
    {"ping -i -1 t", 2, "",
     Usage("ping", "-i -1: the interval must be a number of seconds from 0 to 3600")},
    {"ping -c 1 -W 1e3 t", 2, "",
     Usage("ping", "-W 1e3: the time to wait must be a number of seconds from 0.001 to 600")},
    {"trace --max-hop -1 t", 2, "",
     Usage("trace", "--max-hop -1: the hop limit must be a whole number from 0 to 256")},
    {"report -c 0 t", 2, "",
     Usage("report", "-c 0: the number of cycles must be a whole number from 1 to 1000000")},
    {"ping t -c", 2, "", Usage("ping", "-c needs a value (N|inf)")},
    {"trace -w 1 --timeout 5 t", 2, "", Usage("trace", "-w and --timeout exclude each other")},
    {"report -n --resolve t", 2, "", Usage("report", "--resolve and -n exclude each other")},
    {"ping --json -t 0 t", 2,
     kAt + R"("error")" + kTime +
         R"("code":"usage","message":"hopwise-cli ping: -t 0: the time to live must be a whole )"
         R"(number from 1 to 255","exit_code":2})" +
         "\n",
     Usage("ping", "-t 0: the time to live must be a whole number from 1 to 255")},
    // What was typed need not be UTF-8; the JSON must be.
    {"ping --json -c \xff t", 2,
     kAt + R"("error")" + kTime +
         "\"code\":\"usage\",\"message\":\"hopwise-cli ping: -c \xef\xbf\xbd: the count must be a "
         "whole number from 1 to 2147483647, or inf\",\"exit_code\":2}\n",
     Usage("ping", "-c \xff: the count must be a whole number from 1 to 2147483647, or inf")},
    // --version and --help win wherever they stand, over a value that would be refused.
    {"--version", 0, kVersion, ""},
    {"-V ping", 0, kVersion, ""},
    {"ping -t 0 -V t", 0, kVersion, ""},
    {"report t --version", 0, kVersion, ""},
    {.args = "--help",
     .exitCode = 0,
     .out = "Usage: hopwise-cli COMMAND [OPTION]... HOST\n",
     .err = "",
     .outPart = true},
    {.args = "trace --help",
     .exitCode = 0,
     .out = "\nOutput:\n      --resolve           Look up each responder's name\n",
     .err = "",
     .outPart = true},
    {.args = "ping -c 0 -h",
     .exitCode = 0,
     .out = "\nProbing:\n  -c, --count N|inf       Requests to send; inf sends until Ctrl-C "
            "(default inf)\n",
     .err = "",
     .outPart = true},
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
    // Several probes per hop on the hop's line, from the first hop asked for.
    {"trace -q 3 -N 4 --max-hop 256 t", 0,
     kDest + "  1  10.0.0.1  3.000 ms  3.000 ms  3.000 ms\n  2  *  *  *\n"
             "  3  10.9.9.9  4.000 ms  4.000 ms  4.000 ms\nDone\nDestination reached at hop 3\n",
     ""},
    {"trace -f 2 t", 0,
     kDest + "  2  No Response\n  3  10.9.9.9  4.000 ms\nDone\nDestination reached at hop 3\n", ""},
    {"trace -q 2 --resolve --max-hop 2 t", 1,
     kDest + "  1  10.0.0.1  3.000 ms  r1.test  3.000 ms\nDone\nDestination not reached\n", ""},
    {.args = "trace -q 2 -f 3 t",
     .exitCode = 0,
     .out = kDest + "  3  10.9.9.9  0.412 ms  *\nDone\nDestination reached at hop 3\n",
     .err = "",
     .target = {412, -1}},
    {.args = "trace --json -q 2 -f 3 t",
     .exitCode = 0,
     .out = kJsonDest + kAt + R"("hop")" + kTime +
            R"("hop":3,"probe":1,"address":null,"rtt_us":null,"ttl":null,"status":11010,)"
            R"("name":null})" +
            "\n" + kAt + R"("hop")" + kTime +
            R"("hop":3,"probe":2,"address":"10.9.9.9","rtt_us":500,"ttl":61,"status":0,)"
            R"("name":null})" +
            "\n" + kSummary +
            R"("done","host":"t","address":"10.9.9.9","hops":1,"reached":true,"exit_code":0})" +
            "\n",
     .err = "",
     .target = {-1, 500}},
    {"trace -w 1,2 t", 2, "",
     Usage("trace", "-w 1,2: the wait must be a number of seconds from 0.001 to 600, alone or "
                    "followed by ,HERE,NEAR: two factors from 0 to 1000")},
    {"report -w 1,3,x t", 2, "",
     Usage("report", "-w 1,3,x: the wait must be a number of seconds from 0.001 to 600, alone "
                     "or followed by ,HERE,NEAR: two factors from 0 to 1000")},
    {"trace -q 11 t", 2, "",
     Usage("trace", "-q 11: the number of probes per hop must be a whole number from 1 to 10")},
    {"report -n -c 2 -i 0 t", 0,
     ReportHeading(24) + "  1.|-- 10.0.0.1                   0.0%     2    3.000    3.000    3.000 "
                         "   3.000    0.000\n"
                         "  2.|-- ???                      100.0%     2    0.000    0.000    0.000 "
                         "   0.000    0.000\n"
                         "  3.|-- 10.9.9.9                   0.0%     2    4.000    4.000    4.000 "
                         "   4.000    0.000\n",
     ""},
    // With --resolve a responder's name stands in for its address, the column as wide as it.
    {"report --resolve -c 1 -i 0 --max-hop 2 t", 1,
     ReportHeading(24) +
         "  1.|-- r1.test                    0.0%     1    3.000    3.000    3.000    3.000    "
         "0.000\n",
     ""},
    {"report --json -c 1 -i 0 nosuch.invalid", 3,
     kAt + R"("error")" + kTime +
         R"("code":"unresolved","message":"Can't resolve name: nosuch.invalid","exit_code":3})" +
         "\n",
     Unresolved("nosuch.invalid")},
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
         R"("code":"unresolved","message":"Can't resolve name: 0.0.0.0","exit_code":3})" + "\n",
     Unresolved("0.0.0.0")},
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
     .out = ReportHeading(40) + "  1.|-- " + kRouter6 +
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
     .err = Unresolved("v6"),
     .nameLookups = 1},
    {.args = "report -4 v6", .exitCode = 3, .out = "", .err = Unresolved("v6"), .nameLookups = 1},
    {.args = "trace -6 10.9.9.9",
     .exitCode = 3,
     .out = "Done\n",
     .err = Unresolved("10.9.9.9"),
     .nameLookups = 0},
    {.args = "ping -c 1 1::2::3",
     .exitCode = 3,
     .out = "Done\n",
     .err = Unresolved("1::2::3"),
     .nameLookups = 0},
    {.args = "trace fe80::1%nosuchif",
     .exitCode = 3,
     .out = "Done\n",
     .err = Unresolved("fe80::1%nosuchif"),
     .nameLookups = 0},
    {.args = "report 2001:db8::g",
     .exitCode = 3,
     .out = "",
     .err = Unresolved("2001:db8::g"),
     .nameLookups = 0},
    {.args = "ping -4 -6 -c 1 both",
     .exitCode = 2,
     .out = "",
     .err = Usage("ping", "-4 and -6 exclude each other")},
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
        std::istringstream words(c.args);
        runs.push_back({{std::istream_iterator<std::string>(words), {}}, c});
    }
    for (const std::string& host : kOddHosts) {
        runs.push_back({{"trace", "--", host}, {"", 3, "Done\n", Unresolved(host)}});
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
        EXPECT_EQ(code, c.exitCode);
        if (c.outPart) {
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
    std::istringstream words(GetParam().args);
    std::vector<std::string> args{"hopwise-cli"};
    args.insert(args.end(), std::istream_iterator<std::string>(words), {});
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
