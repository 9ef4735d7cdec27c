// Host field filling, text conversion and the destination text.

#include "run/host_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/support/scripted_echo_stack.h"
#include "run/probe_notify.h"
#include "text/utf_text.h"

namespace hopwise::test {
namespace {

std::string Repeat(const std::string& piece, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i) {
        text += piece;
    }
    return text;
}

struct HostCase {
    const char* name;
    std::string input;
    bool stored;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const HostCase& c, std::ostream* os)
{
    *os << c.name;
}

class HostTextTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostTextTest, StoresWholeTextsAndRefusesOthers)
{
    char host[kHostTextSize];
    std::strcpy(host, "previous.host");
    EXPECT_EQ(SetHostText(host, std::string_view(GetParam().input)), GetParam().stored);
    if (GetParam().stored) {
        EXPECT_EQ(std::string(host), GetParam().input);
    } else {
        EXPECT_STREQ(host, "") << "a refused host must not leave the old one or a cut one";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HostTextTest,
    ::testing::Values(HostCase{"Name", "router.example", true}, HostCase{"Empty", "", true},
                      HostCase{"Exactly511", std::string(511, 'a'), true},
                      HostCase{"Exactly512", std::string(512, 'a'), false},
                      HostCase{"Far Too Long", std::string(5000, 'a'), false},
                      HostCase{"MultiByteFits", std::string(509, 'a') + "\xC3\xA9", true},
                      HostCase{"MultiByteCrossesTheEnd", std::string(510, 'a') + "\xC3\xA9", false},
                      HostCase{"EmbeddedNul", std::string("good.host\0evil", 14), false}),
    [](const auto& info) {
        std::string name = info.param.name;
        name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
        return name;
    });

struct WideHostCase {
    const char* name;
    std::u16string input;
    std::string stored; // empty: refused
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const WideHostCase& c, std::ostream* os)
{
    *os << c.name;
}

class WideHostTextTest : public ::testing::TestWithParam<WideHostCase> {};

TEST_P(WideHostTextTest, ConvertsThenAppliesTheSameLimit)
{
    char host[kHostTextSize];
    std::strcpy(host, "previous.host");
    const bool stored = SetHostText(host, std::u16string_view(GetParam().input));
    EXPECT_EQ(stored, !GetParam().stored.empty());
    EXPECT_EQ(std::string(host), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WideHostTextTest,
    ::testing::Values(WideHostCase{"Ascii", u"host.test", "host.test"},
                      WideHostCase{"Accented", u"h\u00e9te.test", "h\xC3\xA9te.test"},
                      WideHostCase{"TwoByteFits", std::u16string(255, u'\u00e9'),
                                   Repeat("\xC3\xA9", 255)},
                      WideHostCase{"TwoByteTooLong", std::u16string(256, u'\u00e9'), ""},
                      WideHostCase{"UnpairedSurrogate", u"a\xD800z", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct ConvertCase {
    const char* name;
    std::u16string input;
    std::optional<std::string> expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ConvertCase& c, std::ostream* os)
{
    *os << c.name;
}

class Utf16ToUtf8Test : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(Utf16ToUtf8Test, Converts)
{
    EXPECT_EQ(Utf16ToUtf8(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf16ToUtf8Test,
    ::testing::Values(
        ConvertCase{"Empty", u"", std::string()},
        ConvertCase{"Ascii", u"Dest IP: 1.2.3.4", std::string("Dest IP: 1.2.3.4")},
        ConvertCase{"TwoBytes", u"\u00e9", std::string("\xC3\xA9")},
        ConvertCase{"ThreeBytes", u"\u20ac", std::string("\xE2\x82\xAC")},
        ConvertCase{"SurrogatePair", u"\U0001F600", std::string("\xF0\x9F\x98\x80")},
        ConvertCase{"LoneHighAtEnd", std::u16string(1, char16_t(0xD83D)), std::nullopt},
        ConvertCase{"LoneLow", std::u16string(1, char16_t(0xDE00)), std::nullopt},
        ConvertCase{"HighThenAscii", std::u16string{char16_t(0xD83D), u'a'}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct DestinationCase {
    const char* address;
    std::u16string text;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const DestinationCase& c, std::ostream* os)
{
    *os << c.address;
}

class DestinationTextTest : public ::testing::TestWithParam<DestinationCase> {};

TEST_P(DestinationTextTest, IsTheLabelAndTheDottedAddress)
{
    const DestinationText text = MakeDestinationText(Ip(GetParam().address));
    EXPECT_EQ(std::u16string(text.data()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Addresses, DestinationTextTest,
                         ::testing::Values(DestinationCase{"127.0.0.1", u"Dest IP: 127.0.0.1"},
                                           DestinationCase{"255.255.255.254",
                                                           u"Dest IP: 255.255.255.254"},
                                           DestinationCase{"10.0.0.1", u"Dest IP: 10.0.0.1"}));

struct OptionsCase {
    std::int32_t value;
    std::uint8_t ttl;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const OptionsCase& c, std::ostream* os)
{
    *os << c.value;
}

class ProbeOptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ProbeOptionsTest, TtlIsTheLowByteAndTheRestIsZero)
{
    const EchoOptions options = ProbeOptions(GetParam().value);
    EXPECT_EQ(options.ttl, GetParam().ttl);
    EXPECT_EQ(options.tos, 0);
    EXPECT_EQ(options.flags, 0);
    EXPECT_EQ(options.optionsSize, 0);
    EXPECT_EQ(options.optionsData, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Values, ProbeOptionsTest,
                         ::testing::Values(OptionsCase{1, 1}, OptionsCase{255, 255},
                                           OptionsCase{256, 0}, OptionsCase{257, 1},
                                           OptionsCase{300, 44}, OptionsCase{-1, 255}));

} // namespace
} // namespace hopwise::test
