// hopwise-cli copied beside the test, started as root or as an ordinary user in a namespace whose
// ping_group_range admits no one, so only cap_net_raw opens a socket there. While a run waits, no
// thread may hold an effective capability, and cap_net_raw at most stays permitted.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "tests/cli/cli_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;

struct PrivilegeCase {
    const char* name;
    const char* install; // a command run on the copy
    bool asUser;
    int exitCode;
    const char* says; // followed by the copy's path when the start is refused
};

const PrivilegeCase kCases[] = {
    {"FileCapability", "setcap cap_net_raw+p", true, 0, "No Response"},
    {"Root", "true", false, 0, "No Response"},
    {"NoCapability", "true", true, 4, "sudo setcap cap_net_raw+p "},
    {"SetUserId", "chmod 4755", true, 4, "chmod u-s,g-s "},
    {"SetGroupId", "chmod 2755", true, 4, "chmod u-s,g-s "},
};

class Privilege : public ::testing::TestWithParam<PrivilegeCase> {};

TEST_P(Privilege, NothingIsEffectiveWhileARunWaits)
{
    if (const std::string reason = NetNamespaceSkipReason(); !reason.empty())
        GTEST_SKIP() << reason;
    if (RunCommand("command -v setcap && command -v setpriv") != 0)
        GTEST_SKIP() << "needs setcap (libcap2-bin) and setpriv (util-linux)";
    const PrivilegeCase& row = GetParam();
    NetNamespace ns("cap");
    ASSERT_EQ(ns.exec("sysctl -qw net.ipv4.icmp_echo_ignore_all=1 net.ipv4.ping_group_range='1 0'"),
              0);
    const std::string dir = "/tmp/hopwise-cap-" + std::to_string(getpid());
    const std::string program = dir + "/hopwise-cli";
    const std::shared_ptr<void> removeDir(nullptr, [&dir](void*) { RunCommand("rm -rf " + dir); });
    ASSERT_EQ(RunCommand("rm -rf " + dir + " && mkdir -m 755 " + dir + " && cp " +
                         HOPWISE_CLI_PATH + " " + program + " && " + row.install + " " + program),
              0);
    std::vector<std::string> argv{"ip", "netns", "exec", ns.name()};
    if (row.asUser)
        argv.insert(argv.end(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    argv.insert(argv.end(), {program, "ping", "--count", "3", "--timeout", "300", "127.0.0.1"});
    CliProcess run(argv);
    // Sampled while the run waits for its second and third echo, after its sockets exist.
    for (int i = 0; i < 3 && row.exitCode == 0; ++i, std::this_thread::sleep_for(100ms)) {
        ASSERT_TRUE(run.waitForOutput("No Response", 5s));
        std::string sets;
        RunCommand("grep -h ^Cap[IPEA] /proc/" + std::to_string(run.pid()) +
                       "/task/*/status | sort -u",
                   &sets);
        EXPECT_EQ(sets, "CapAmb:\t0000000000000000\nCapEff:\t0000000000000000\n"
                        "CapInh:\t0000000000000000\nCapPrm:\t0000000000002000\n");
    }
    const CliOutcome outcome = run.finish(10s);
    EXPECT_EQ(outcome.exitCode, row.exitCode) << outcome.err;
    EXPECT_NE((outcome.out + outcome.err).find(row.says + (row.exitCode ? program : "")),
              std::string::npos)
        << outcome.out << outcome.err;
}

INSTANTIATE_TEST_SUITE_P(Starts, Privilege, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise::test
