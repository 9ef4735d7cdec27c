// The host field holds 511 bytes of UTF-8; a host that doesn't fit leaves it empty, never cut.

#include "run/host_text.h"

#include <gtest/gtest.h>

namespace hopwise {
namespace {

struct HostCase {
    const char* name;
    std::string utf8;       // the input, and what is stored when it fits
    std::u16string utf16{}; // when given, the input instead (an edit field's text)
    bool fits = true;
    friend void PrintTo(const HostCase& c, std::ostream* os) { *os << c.name; }
};

class HostTextTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostTextTest, StoresWholeTextsOnly)
{
    const HostCase& c = GetParam();
    char host[kHostTextSize] = "previous.host";
    EXPECT_EQ(c.utf16.empty() ? SetHostText(host, std::string_view(c.utf8))
                              : SetHostText(host, std::u16string_view(c.utf16)),
              c.fits);
    EXPECT_EQ(std::string(host), c.fits ? c.utf8 : "");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HostTextTest,
    ::testing::Values(
        HostCase{"Bytes511", std::string(511, 'a')},
        HostCase{"Bytes512", std::string(512, 'a'), {}, false},
        HostCase{"TwoByteLetterEndsAt512", std::string(510, 'a') + "\xC3\xA9", {}, false},
        HostCase{"Nul", std::string("good.host\0evil", 14), {}, false},
        HostCase{"Wide", std::string(509, 'a') + "\xC3\xA9", std::u16string(509, u'a') + u"\u00e9"},
        HostCase{"WideLoneSurrogate", "", u"a\xD800z", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hopwise
