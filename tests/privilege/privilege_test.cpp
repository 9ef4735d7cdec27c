// Least privilege: what is left after start-up, when cap_net_raw is effective, and the programs
// run with a file capability as an ordinary user.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "probe/linux/privilege.h"
#include "tests/cli/cli_process.h"
#include "tests/support/isolated_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise {
namespace {

using namespace hopwise::test;
using namespace std::chrono_literals;

constexpr std::uint64_t kNetRawBit = std::uint64_t{1} << 13; // CAP_NET_RAW

// One capability set of a task, as /proc shows it ("CapEff", "CapPrm", ...); ~0 when unreadable.
std::uint64_t capabilitySet(const std::string& statusPath, const std::string& set)
{
    std::ifstream status(statusPath);
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(set + ":", 0) == 0) {
            return std::stoull(line.substr(set.size() + 1), nullptr, 16);
        }
    }
    return ~std::uint64_t{0};
}

std::uint64_t ownSet(const std::string& set)
{
    return capabilitySet("/proc/thread-self/status", set);
}

bool canOpenRaw()
{
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

std::string expectSets(std::uint64_t effective, std::uint64_t permitted)
{
    if (ownSet("CapEff") != effective) {
        return "CapEff is " + std::to_string(ownSet("CapEff"));
    }
    if (ownSet("CapPrm") != permitted) {
        return "CapPrm is " + std::to_string(ownSet("CapPrm"));
    }
    if (ownSet("CapInh") != 0 || ownSet("CapAmb") != 0) {
        return "inheritable or ambient capabilities are left";
    }
    return {};
}

#define SKIP_UNLESS_ROOT()                                                                         \
    if (geteuid() != 0) {                                                                          \
        GTEST_SKIP() << "needs root: only root starts with capabilities to drop";                  \
    }

TEST(RestrictPrivileges, leavesOnlyRawPermittedAndNothingEffective)
{
    SKIP_UNLESS_ROOT();
    const std::string failure =
        RunInChild([] { return std::string(); },
                   [] {
                       if (RestrictPrivileges() != PrivilegeOutcome::Restricted) {
                           return std::string("not restricted");
                       }
                       std::string wrong = expectSets(0, kNetRawBit);
                       if (!wrong.empty()) {
                           return wrong;
                       }
                       if (canOpenRaw()) {
                           return std::string("a raw socket opened without raising the capability");
                       }
                       {
                           const ScopedRawSocketPrivilege privilege;
                           if (ownSet("CapEff") != kNetRawBit) {
                               return std::string("cap_net_raw not raised");
                           }
                           if (!canOpenRaw()) {
                               return std::string("no raw socket with the capability raised");
                           }
                       }
                       wrong = expectSets(0, kNetRawBit);
                       if (!wrong.empty()) {
                           return "after the scope: " + wrong;
                       }
                       // Threads started later copy the restricted sets.
                       std::string threadSets;
                       std::thread([&] { threadSets = expectSets(0, kNetRawBit); }).join();
                       return threadSets.empty() ? std::string() : "new thread: " + threadSets;
                   });
    EXPECT_EQ(failure, "");
}

TEST(RestrictPrivileges, refusesSetUserIdAndSetGroupId)
{
    SKIP_UNLESS_ROOT();
    // The real ids of an ordinary user with root's effective ids: what a set-ID root program
    // started by that user looks like.
    const std::string setUid =
        RunInChild([] { return std::string(); },
                   [] {
                       if (setresuid(65534, 0, 0) != 0) {
                           return std::string("setresuid failed");
                       }
                       return RestrictPrivileges() == PrivilegeOutcome::RefusedSetuid
                                  ? std::string()
                                  : std::string("set-user-ID not refused");
                   });
    EXPECT_EQ(setUid, "");
    const std::string setGid =
        RunInChild([] { return std::string(); },
                   [] {
                       if (setresgid(65534, 0, 0) != 0) {
                           return std::string("setresgid failed");
                       }
                       return RestrictPrivileges() == PrivilegeOutcome::RefusedSetuid
                                  ? std::string()
                                  : std::string("set-group-ID not refused");
                   });
    EXPECT_EQ(setGid, "");
}

TEST(RestrictPrivileges, refusalNamesTheFixForThisProgram)
{
    const std::string message = SetuidRefusalMessage("/usr/bin/hopwise");
    EXPECT_NE(message.find("chmod u-s,g-s /usr/bin/hopwise"), std::string::npos) << message;
    EXPECT_NE(message.find("sudo setcap cap_net_raw+p /usr/bin/hopwise"), std::string::npos);
}

// hopwise-cli copied beside the test with or without the capability, for an ordinary user
// (nobody) in a namespace that admits no group to ICMP datagram sockets.
class FileCapability : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string reason = NetNamespaceSkipReason();
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        if (RunCommand("command -v setcap >/dev/null && command -v setpriv >/dev/null") != 0) {
            GTEST_SKIP() << "needs setcap (libcap2-bin) and setpriv (util-linux)";
        }
        char pattern[] = "/tmp/hopwise-cap-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        chmod(m_dir.c_str(), 0755);
        m_ns = std::make_unique<NetNamespace>("cap");
        m_ns->sysctl("net.ipv4.ping_group_range", "1 0");
    }

    void TearDown() override
    {
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir);
        }
    }

    std::string copyCli(const std::string& name, bool withCapability)
    {
        const std::string path = m_dir + "/" + name;
        std::filesystem::copy_file(HOPWISE_CLI_PATH, path);
        chmod(path.c_str(), 0755);
        if (withCapability) {
            EXPECT_EQ(RunCommand("setcap cap_net_raw+p " + path), 0);
        }
        return path;
    }

    std::vector<std::string> asNobody(const std::string& program,
                                      const std::vector<std::string>& args) const
    {
        std::vector<std::string> argv{"ip",      "netns",         "exec",          m_ns->name(),
                                      "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                      program};
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    std::string m_dir;
    std::unique_ptr<NetNamespace> m_ns;
};

TEST_F(FileCapability, grantsRawSocketsToAnOrdinaryUser)
{
    const std::string program = copyCli("hopwise-cli", true);
    CliProcess run(asNobody(program, {"ping", "--count", "2", "--timeout", "500", "127.0.0.1"}));
    const CliOutcome outcome = run.finish(10s);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("127.0.0.1"), std::string::npos) << outcome.out;
}

TEST_F(FileCapability, withoutItTheUserIsToldTheExactCommands)
{
    const std::string program = copyCli("hopwise-cli", false);
    CliProcess run(asNobody(program, {"ping", "--count", "1", "127.0.0.1"}));
    const CliOutcome outcome = run.finish(10s);
    EXPECT_EQ(outcome.exitCode, 4);
    EXPECT_NE(outcome.err.find("sudo sysctl -w net.ipv4.ping_group_range="), std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find("sudo setcap cap_net_raw+p " + program), std::string::npos)
        << outcome.err;
}

// Sampled while the run waits, after its sockets exist: as an ordinary user with the file
// capability, and as root, who starts with every capability effective.
TEST_F(FileCapability, noCapabilityIsEffectiveWhileARunWaits)
{
    const std::string program = copyCli("hopwise-cli", true);
    // Nothing answers, so every echo waits out its time-out.
    m_ns->sysctl("net.ipv4.icmp_echo_ignore_all", "1");
    const std::vector<std::string> args{"ping", "--count", "4", "--timeout", "300", "127.0.0.1"};
    std::vector<std::string> asRoot{"ip", "netns", "exec", m_ns->name(), program};
    asRoot.insert(asRoot.end(), args.begin(), args.end());

    for (const auto& argv : {asNobody(program, args), asRoot}) {
        SCOPED_TRACE(argv[4]);
        CliProcess run(argv);
        ASSERT_TRUE(run.waitForOutput("No Response", 5s));
        int samples = 0;
        const auto end = std::chrono::steady_clock::now() + 400ms;
        while (std::chrono::steady_clock::now() < end) {
            const std::string tasks = "/proc/" + std::to_string(run.pid()) + "/task";
            std::error_code gone;
            for (const auto& task : std::filesystem::directory_iterator(tasks, gone)) {
                const std::string status = task.path().string() + "/status";
                const std::uint64_t effective = capabilitySet(status, "CapEff");
                if (effective == ~std::uint64_t{0}) {
                    continue; // the task ended meanwhile
                }
                EXPECT_EQ(effective, 0u) << status;
                EXPECT_EQ(capabilitySet(status, "CapPrm") & ~kNetRawBit, 0u) << status;
                ++samples;
            }
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_GT(samples, 0);
        EXPECT_EQ(run.finish(10s).exitCode, 0);
    }
}

} // namespace
} // namespace hopwise
