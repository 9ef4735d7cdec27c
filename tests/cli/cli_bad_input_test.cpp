// Odd input at hopwise-cli's entry points, each with the clean outcome it must have: a run,
// "Can't resolve name", or a usage error; never a crash, a hang or a garbled line. Runs in a
// namespace whose resolver can only read its own hosts file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "tests/cli/cli_process.h"
#include "tests/support/net_namespace.h"

namespace hopwise::test {
namespace {

using namespace std::chrono_literals;
using Args = std::vector<std::string>;

struct BadInputCase {
    const char* name;
    Args args;
    int exitCode;
    const char* outPrefix; // what stdout starts with
    const char* errPart;   // what stderr contains ("" for nothing at all)
};

void PrintTo(const BadInputCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliBadInputTest : public ::testing::TestWithParam<BadInputCase> {
protected:
    static void SetUpTestSuite()
    {
        if (!NetNamespaceSkipReason().empty()) {
            return;
        }
        s_ns = new NetNamespace("badinput");
        s_files = new NamespaceEtcFiles(s_ns->name(), "127.0.0.1 localhost\n");
    }
    static void TearDownTestSuite()
    {
        delete s_files;
        delete s_ns;
        s_files = nullptr;
        s_ns = nullptr;
    }
    void SetUp() override
    {
        const std::string reason = NetNamespaceSkipReason();
        if (!reason.empty()) {
            GTEST_SKIP() << "needs network namespaces: " << reason;
        }
    }

    static NetNamespace* s_ns;
    static NamespaceEtcFiles* s_files;
};

NetNamespace* CliBadInputTest::s_ns = nullptr;
NamespaceEtcFiles* CliBadInputTest::s_files = nullptr;

TEST_P(CliBadInputTest, endsCleanly)
{
    const BadInputCase& c = GetParam();
    const CliOutcome run = RunCli(c.args, {"ip", "netns", "exec", s_ns->name()}, 20s);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_EQ(run.out.rfind(c.outPrefix, 0), 0u) << run.out;
    if (*c.errPart == '\0') {
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
    }
}

constexpr const char* kUnresolved = "Can't resolve name\n";
const Args kTrace{"trace", "--max-hop", "2", "--timeout", "300", "--"};

Args trace(const std::string& host)
{
    Args args = kTrace;
    args.push_back(host);
    return args;
}

INSTANTIATE_TEST_SUITE_P(
    HostTexts, CliBadInputTest,
    ::testing::Values(BadInputCase{"Empty", trace(""), cli::kExitUnresolved, "Done\n", kUnresolved},
                      BadInputCase{"HundredKilobytes", trace(std::string(100 * 1024, 'a')),
                                   cli::kExitUnresolved, "Done\n", kUnresolved},
                      BadInputCase{"ControlCharacters", trace("local\thost\n\x01"),
                                   cli::kExitUnresolved, "Done\n", kUnresolved},
                      BadInputCase{"InvalidUtf8", trace("\xff\xfe\xc3"), cli::kExitUnresolved,
                                   "Done\n", kUnresolved},
                      BadInputCase{"FormatDirectives", trace("%s%n%x%p"), cli::kExitUnresolved,
                                   "Done\n", kUnresolved},
                      BadInputCase{"LeadingDashAfterDoubleDash", trace("-localhost"),
                                   cli::kExitUnresolved, "Done\n", kUnresolved},
                      BadInputCase{"LeadingDashIsAnOption",
                                   {"trace", "-localhost"},
                                   cli::kExitUsage,
                                   "",
                                   "goes after --, e.g. hopwise-cli trace -- -localhost"},
                      BadInputCase{"LeadingBlankIsNoAddress", trace(" 127.0.0.1"),
                                   cli::kExitUnresolved, "Done\n", kUnresolved},
                      BadInputCase{"NameFromTheHostsFile", trace("localhost"), cli::kExitDone,
                                   "Dest IP: 127.0.0.1\n", ""}));

INSTANTIATE_TEST_SUITE_P(
    Numbers, CliBadInputTest,
    ::testing::Values(BadInputCase{"MaxHopEmpty",
                                   {"trace", "--max-hop", "", "127.0.0.1"},
                                   cli::kExitUsage,
                                   "",
                                   "--max-hop"},
                      BadInputCase{"MaxHopTrailingLetters",
                                   {"trace", "--max-hop", "5x", "127.0.0.1"},
                                   cli::kExitUsage,
                                   "",
                                   "--max-hop"},
                      BadInputCase{"MaxHopBeyond32Bits",
                                   {"trace", "--max-hop", "99999999999", "127.0.0.1"},
                                   cli::kExitUsage,
                                   "",
                                   "--max-hop"},
                      BadInputCase{"MaxHopFraction",
                                   {"trace", "--max-hop", "1.5", "127.0.0.1"},
                                   cli::kExitUsage,
                                   "",
                                   "--max-hop"},
                      BadInputCase{"MaxHopSignedZeroProbesNothing",
                                   {"trace", "--max-hop", "-0", "127.0.0.1"},
                                   cli::kExitDone,
                                   "Dest IP: 127.0.0.1\nDone\n",
                                   ""},
                      BadInputCase{
                          "CountInAnyCase",
                          {"ping", "--count", "INF", "--timeout", "300", "--json", "--", "-x"},
                          cli::kExitUnresolved,
                          "",
                          kUnresolved},
                      BadInputCase{"CountInfinity",
                                   {"ping", "--count", "Infinity", "--timeout", "300", "--", "-x"},
                                   cli::kExitUnresolved,
                                   "Done\n",
                                   kUnresolved},
                      BadInputCase{"CountBeyond32Bits",
                                   {"ping", "--count", "2147483648", "127.0.0.1"},
                                   cli::kExitUsage,
                                   "",
                                   "--count"},
                      BadInputCase{"CountTrailingLetters",
                                   {"ping", "--count", "5x", "127.0.0.1"},
                                   cli::kExitUsage,
                                   "",
                                   "--count"},
                      BadInputCase{"CountWithBlankAndSign",
                                   {"ping", "--count", " +1", "--timeout", "300", "127.0.0.1"},
                                   cli::kExitDone,
                                   "Dest IP: 127.0.0.1\n",
                                   ""}));

} // namespace
} // namespace hopwise::test
