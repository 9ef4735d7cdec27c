// The export format on its own: every type and length comes back exactly, texts that can't be
// quoted take the hex form, hand-written variants read the same, and bad input stops at the
// right line.

#include <gtest/gtest.h>

#include "settings/registry_text.h"
#include "settings_test_util.h"

namespace hopwise {
namespace {

std::vector<std::uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> bytes;
    for (int v : values)
        bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

std::vector<std::uint8_t> Utf16Data(std::u16string_view text, bool terminated = true)
{
    std::vector<std::uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    if (terminated)
        bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

RegistryDocument OneValue(RegistryValue value)
{
    RegistryDocument document;
    RegistryKeyNode key{u"Software", {}, {}};
    key.values.push_back(std::move(value));
    document.roots[1].subkeys.push_back(std::move(key));
    return document;
}

struct FormCase {
    const char* name;
    RegistryValue value;
    std::string line; // how the value line starts in the file
};

std::vector<FormCase> FormCases()
{
    std::vector<std::uint8_t> many(300);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<std::uint8_t>(i);
    return {
        {"historyEntry", {u"gateway1", kRegSz, Utf16Data(u"-")}, "\"gateway1\"=\"-\"\n"},
        {"unnamedValue", {u"", kRegSz, Utf16Data(u"-")}, "@=\"-\"\n"},
        {"dword", {u"n", kRegDword, Bytes({0x0a, 0, 0, 0})}, "\"n\"=dword:0000000a\n"},
        {"minusOne", {u"n", kRegDword, Bytes({0xff, 0xff, 0xff, 0xff})}, "\"n\"=dword:ffffffff\n"},
        {"eightByteDword",
         {u"n", kRegDword, Bytes({1, 0, 0, 0, 0, 0, 0, 0})},
         "\"n\"=hex(4):01,00,00,00,00,00,00,00\n"},
        {"twoByteDword", {u"n", kRegDword, Bytes({1, 2})}, "\"n\"=hex(4):01,02\n"},
        {"emptyString", {u"s", kRegSz, Utf16Data(u"")}, "\"s\"=\"\"\n"},
        {"noData", {u"s", kRegSz, {}}, "\"s\"=hex(1):\n"},
        {"oddLength", {u"s", kRegSz, Bytes({0x41, 0, 0})}, "\"s\"=hex(1):41,00,00\n"},
        {"unterminated", {u"s", kRegSz, Utf16Data(u"ab", false)}, "\"s\"=hex(1):61,00,62,00\n"},
        {"embeddedNul", {u"s", kRegSz, Utf16Data(std::u16string(u"a\0b", 3))}, "\"s\"=hex(1):"},
        {"newline", {u"s", kRegSz, Utf16Data(u"a\nb")}, "\"s\"=hex(1):"},
        {"tab", {u"s", kRegSz, Utf16Data(u"a\tb")}, "\"s\"=hex(1):"},
        {"loneSurrogate", {u"s", kRegSz, Utf16Data(u"a\xD800")}, "\"s\"=hex(1):"},
        {"quotesAndBackslashes",
         {u"a\"b\\c", kRegSz, Utf16Data(u"C:\\dir\\\"x\"")},
         "\"a\\\"b\\\\c\"=\"C:\\\\dir\\\\\\\"x\\\"\"\n"},
        {"nonAscii",
         {u"h\u00F6st", kRegSz, Utf16Data(u"\u4E2D\U0001F600")},
         "\"h\xC3\xB6st\"=\"\xE4\xB8\xAD\xF0\x9F\x98\x80\"\n"},
        {"binary", {u"b", kRegBinary, Bytes({0xde, 0xad})}, "\"b\"=hex:de,ad\n"},
        {"multiString", {u"m", 7, Utf16Data(u"a")}, "\"m\"=hex(7):61,00,00,00\n"},
        {"largestType", {u"t", 0xffffffff, {}}, "\"t\"=hex(ffffffff):\n"},
        {"wrappedList", {u"w", kRegBinary, many}, "\"w\"=hex:00,01,02,"},
        {"tenKilobyteText",
         {u"big", kRegSz, Utf16Data(std::u16string(10240, u'x'))},
         "\"big\"=\"xxxx"},
    };
}

void PrintTo(const FormCase& c, std::ostream* out)
{
    *out << c.name;
}

class RegistryTextForm : public ::testing::TestWithParam<FormCase> {};

TEST_P(RegistryTextForm, writesItsFormAndReadsBackExactly)
{
    const RegistryDocument document = OneValue(GetParam().value);
    const std::optional<std::string> text = SerializeRegistryText(document);
    ASSERT_TRUE(text.has_value());
    const std::string keyLine = "[HKEY_CURRENT_USER\\Software]\n";
    ASSERT_EQ(text->find(keyLine + GetParam().line),
              std::string("Windows Registry Editor Version 5.00\n\n").size())
        << *text;
    RegistryDocument back;
    RegistryParseError error;
    ASSERT_TRUE(ParseRegistryText(*text, back, error)) << error.line << ": " << error.message;
    EXPECT_EQ(back, document);
    EXPECT_EQ(SerializeRegistryText(back), text);
}

INSTANTIATE_TEST_SUITE_P(Values, RegistryTextForm, ::testing::ValuesIn(FormCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryText, wrapsLongHexListsWithContinuations)
{
    const std::optional<std::string> text =
        SerializeRegistryText(OneValue({u"w", kRegBinary, std::vector<std::uint8_t>(300, 0xab)}));
    ASSERT_TRUE(text.has_value());
    std::istringstream lines(*text);
    int continued = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
        continued += !line.empty() && line.back() == '\\';
    }
    EXPECT_GT(continued, 5);
}

TEST(RegistryText, refusesToWriteNamesThatCantBeQuoted)
{
    for (std::u16string name : {std::u16string(u"a\nb"), std::u16string(u"a\xDC00"),
                                std::u16string(u"\x7F"), std::u16string(u"a\0b", 3)}) {
        EXPECT_FALSE(SerializeRegistryText(OneValue({name, kRegSz, Utf16Data(u"-")})));
        RegistryDocument keyed;
        keyed.roots[1].subkeys.push_back(RegistryKeyNode{name, {}, {}});
        EXPECT_FALSE(SerializeRegistryText(keyed));
    }
}

TEST(RegistryText, readsHandWrittenVariantsAsTheCanonicalForm)
{
    const std::string handWritten = test::TestDataFile("variants.reg");
    RegistryDocument lf;
    RegistryDocument crlf;
    RegistryParseError error;
    ASSERT_TRUE(ParseRegistryText(handWritten, lf, error)) << error.line << ": " << error.message;
    std::string withCr;
    for (char c : handWritten)
        withCr += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(ParseRegistryText(withCr, crlf, error)) << error.line << ": " << error.message;
    EXPECT_EQ(crlf, lf);
    EXPECT_EQ(SerializeRegistryText(lf), test::TestDataFile("variants.expected.reg"));
}

struct ErrorCase {
    const char* name;
    std::string text;
    std::size_t line;
};

void PrintTo(const ErrorCase& c, std::ostream* out)
{
    *out << c.name;
}

class RegistryTextError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RegistryTextError, stopsAtTheLineAtFault)
{
    RegistryDocument document;
    document.roots[0].values.push_back({u"left", kRegSz, {}});
    RegistryParseError error;
    EXPECT_FALSE(ParseRegistryText(GetParam().text, document, error));
    EXPECT_EQ(error.line, GetParam().line) << error.message;
    EXPECT_FALSE(error.message.empty());
    EXPECT_EQ(document, RegistryDocument());
}

const std::string kHead = "Windows Registry Editor Version 5.00\n\n";
const std::string kKey = "[HKEY_CURRENT_USER\\Software]\n";

INSTANTIATE_TEST_SUITE_P(
    Texts, RegistryTextError,
    ::testing::Values(ErrorCase{"empty", "", 1}, ErrorCase{"otherHeader", "REGEDIT4\n\n" + kKey, 1},
                      ErrorCase{"valueBeforeKey", kHead + "\"a\"=dword:1\n", 3},
                      ErrorCase{"unknownRoot", kHead + "[HKEY_NOWHERE\\x]\n", 3},
                      ErrorCase{"deletedKey", kHead + "[-HKEY_CURRENT_USER\\x]\n", 3},
                      ErrorCase{"emptyKeyName", kHead + "[HKEY_CURRENT_USER\\a\\\\b]\n", 3},
                      ErrorCase{"trailingBackslashKey", kHead + "[HKEY_CURRENT_USER\\a\\]\n", 3},
                      ErrorCase{"unclosedKey", kHead + "[HKEY_CURRENT_USER\\a\n", 3},
                      ErrorCase{"unterminatedName", kHead + kKey + "\"a=dword:1\n", 4},
                      ErrorCase{"unknownEscape", kHead + kKey + "\"a\"=\"c:\\dir\"\n", 4},
                      ErrorCase{"textAfterString", kHead + kKey + "\"a\"=\"x\" y\n", 4},
                      ErrorCase{"controlInName", kHead + kKey + "\"a\tb\"=\"-\"\n", 4},
                      ErrorCase{"nineDigitDword", kHead + kKey + "\"a\"=dword:000000001\n", 4},
                      ErrorCase{"emptyDword", kHead + kKey + "\"a\"=dword:\n", 4},
                      ErrorCase{"badHexByte", kHead + kKey + "\"a\"=hex:01,0g\n", 4},
                      ErrorCase{"threeDigitByte", kHead + kKey + "\"a\"=hex:100\n", 4},
                      ErrorCase{"emptyHexByte", kHead + kKey + "\"a\"=hex:01,,02\n", 4},
                      ErrorCase{"badHexType", kHead + kKey + "\"a\"=hex(z):01\n", 4},
                      ErrorCase{"continuedPastEnd", kHead + kKey + "\"a\"=hex:01,\\\n", 4},
                      ErrorCase{"badContinuation",
                                kHead + kKey + "\"a\"=hex:01,\\\n  02,\\\n  xx\n", 6},
                      ErrorCase{"valueDeletion", kHead + kKey + "\"a\"=-\n", 4},
                      ErrorCase{"noEquals", kHead + kKey + "\"a\" dword:1\n", 4},
                      ErrorCase{"bareWord", kHead + kKey + "a=dword:1\n", 4},
                      ErrorCase{"invalidUtf8", kHead + kKey + "\"a\xC3\"=\"-\"\n", 4},
                      ErrorCase{"encodedSurrogate", kHead + kKey + "\"\xED\xA0\x80\"=\"-\"\n", 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryText, namesCompareWithoutAsciiCaseOnly)
{
    EXPECT_TRUE(RegistryNamesEqual(u"m_iHopTimeout", u"M_IHOPTIMEOUT"));
    EXPECT_FALSE(RegistryNamesEqual(u"m_iHopTimeout", u"m_iHopTimeou"));
    EXPECT_FALSE(RegistryNamesEqual(u"\u00E9", u"\u00C9"));
    EXPECT_FALSE(RegistryNamesEqual(u"[", u"{")); // 0x5B and 0x7B differ by the case bit alone
}

} // namespace
} // namespace hopwise
