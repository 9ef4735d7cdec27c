// hopwise-cli's arguments in, its exit code and exact output out: usage errors, odd host texts
// and numbers, and runs in text and JSON against a scripted stack and a table resolver (fixed
// times, no packet sent, no name looked up). "t" names the target, 10.9.9.9, two hops away.

#include <gtest/gtest.h>

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
};

const std::string kDest = "Dest IP: 10.9.9.9\n";
const std::string kPing = kDest + "IP               Time      TTL\n";
const std::string kJson = R"({"event":"destination","text":"Dest IP: 10.9.9.9","address":)"
                          R"("10.9.9.9"})"
                          "\n";
const std::string kFinished = R"({"event":"finished","outcome":")";
const std::string kHint = EchoPermissionHint() + std::string("\n");
const std::string kUnresolved = "Can't resolve name\n";
const std::string kNoHost = "ERROR: RequiredError: HOST is required\n";
const std::string kNoCommand = "ERROR: RequiredError: A subcommand is required\n";

std::string Range(const std::string& option, const std::string& value, const std::string& range)
{
    return "ERROR: ValidationError: " + option + ": Value " + value + " not in range " + range +
           "\n";
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
    {"ping --count 1 --timeout 600001 t", 2, "", Range("--timeout", "600001", "1 to 600000")},
    {"ping --count 1 --ttl 0 t", 2, "", Range("--ttl", "0", "1 to 255")},
    {"trace --parallel 0 t", 2, "", Range("--parallel", "0", "1 to 255")},
    {"report --cycles 0 t", 2, "", Range("--cycles", "0", "1 to 1000000")},
    {"ping --count 1 --ttl 256 t", 2, "", Range("--ttl", "256", "1 to 255")},
    {"ping --count 0 t", 2, "",
     "ERROR: ValidationError: --count: (0 not in {inf,infinity}) OR (Value 0 not in range 1 to "
     "2147483647)\n"},
    {"trace --resolve --max-hop 256 t", 0,
     kDest + "10.0.0.1 [3 ms]\n    r1.test\nNo Response [0 ms]\n10.9.9.9 [4 ms]\nDone\n", ""},
    {"trace --max-hop 2 --timeout 600000 10.9.9.9", 0, kDest + "10.0.0.1 [3 ms]\nDone\n", ""},
    {"trace --max-hop -0 t", 0, kDest + "Done\n", ""},
    {"trace --parallel 1 --max-hop 256 t", 0,
     kDest + "10.0.0.1 [3 ms]\nNo Response [0 ms]\n10.9.9.9 [4 ms]\nDone\n", ""},
    {"report --cycles 2 --interval 0 t", 0,
     "HOST: t (10.9.9.9)                Loss%   Snt     Last      Avg     Best     Wrst    StDev\n"
     "  1.|-- 10.0.0.1                   0.0%     2    3.000    3.000    3.000    3.000    0.000\n"
     "  2.|-- ???                      100.0%     2    0.000    0.000    0.000    0.000    0.000\n"
     "  3.|-- 10.9.9.9                   0.0%     2    4.000    4.000    4.000    4.000    0.000\n",
     ""},
    {"ping --count +2 --ttl 255 10.9.9.9", 0,
     kPing + "10.9.9.9         4 ms      61\n10.9.9.9         4 ms      61\nDone\n", ""},
    {"ping --count 1 --ttl 1 t", 0, kPing + "10.0.0.1         3 ms      63\nDone\n", ""},
    {"ping --count 1 --ttl 2 t", 0, kPing + "No Response\nDone\n", ""},
    {"ping --count Infinity t", 1, kPing + "Cancelled\n", "", true},
    {"trace --json --resolve --max-hop 2 t", 0,
     kJson + R"({"event":"hop","hop":1,"address":"10.0.0.1","name":"r1.test","rtt_ms":3,)" +
         R"("reply_ttl":63,"status":11013})" + "\n" + kFinished + "done\"}\n",
     ""},
    {"ping --json --count 1 --ttl 2 t", 0,
     kJson + R"({"event":"trial","trial":1,"address":null,"name":null,"rtt_ms":0,)" +
         R"("reply_ttl":0,"status":11010})" + "\n" + kFinished + "done\"}\n",
     ""},
    {"ping --json --count INF t", 1, kJson + kFinished + "cancelled\"}\n", "", true},
    {"ping --json t", 4,
     kJson + R"({"event":"not_permitted","hint":)" + nlohmann::json(EchoPermissionHint()).dump() +
         "}\n" + kFinished + "not_permitted\"}\n",
     kHint, false, true},
    {"trace --resolve t", 4, "", kHint, false, false, IcmpSocketKind::None},
    {"ping --json 0.0.0.0", 3, "{\"event\":\"unresolved\"}\n" + kFinished + "unresolved\"}\n",
     kUnresolved},
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
    const int code = cli::RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err,
                                         [&](std::atomic<bool>& flag) { flag = cancel; });
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
        const auto [code, out, err] = Cli(args, c.cancel);
        std::string usage;
        if (c.exitCode == 2) {
            const bool command =
                !args.empty() && (args[0] == "trace" || args[0] == "ping" || args[0] == "report");
            usage = std::get<1>(Cli(command ? Args{args[0], "--help"} : Args{"--help"}));
            EXPECT_TRUE(usage.ends_with(
                "\n\nExit codes:\n  0    Done\n  1    Cancelled (Ctrl-C; a second Ctrl-C exits at "
                "once with 130)\n  2    bad usage\n  3    Can't resolve name\n  4    ICMP echo "
                "not permitted, or installed set-user-ID\n\n"))
                << usage;
        }
        EXPECT_EQ(code, c.exitCode);
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(err, c.err + usage);
    }
}

} // namespace
} // namespace hopwise::test
