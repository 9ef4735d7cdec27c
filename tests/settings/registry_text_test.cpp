// The settings file format: the files under data/ are written back byte for byte as their
// canonical form (every type and length, escapes, lists over several lines, hand-written
// variants, CRLF), and a fault stops reading at its line with nothing read.

#include "settings/registry_text.h"

#include "tests/settings/settings_test_util.h"

namespace hopwise::test {
namespace {

TEST(RegistryTextTest, FilesReadBackAsTheirCanonicalForm)
{
    for (const auto& [file, canonical] :
         {std::pair{"every_type.reg", "every_type.reg"},
          {"variants.reg", "variants.expected.reg"},
          {"first_start.expected.reg", "first_start.expected.reg"},
          {"hand_edited.expected.reg", "hand_edited.expected.reg"}}) {
        std::string text = ReadFile(kData + file);
        for (const bool crlf : {false, true}) {
            SCOPED_TRACE(std::string(file) + (crlf ? " with CRLF" : ""));
            for (std::size_t at = 0; crlf && (at = text.find('\n', at)) != std::string::npos;) {
                text.insert(at, "\r");
                at += 2;
            }
            RegistryDocument document;
            RegistryParseError error;
            EXPECT_TRUE(ParseRegistryText(text, document, error)) << error.line << error.message;
            EXPECT_EQ(SerializeRegistryText(document), ReadFile(kData + canonical));
        }
    }
}

TEST(RegistryTextTest, StopsAtTheLineAtFault)
{
    const std::string head = "Windows Registry Editor Version 5.00\n\n";
    const std::string key = head + "[HKEY_CURRENT_USER\\Software]\n";
    const std::pair<std::string, std::size_t> cases[] = {
        {"", 1},
        {head + "\"a\"=dword:1\n", 3}, // a value before any key
        {head + "[HKEY_NOWHERE\\x]\n", 3},
        {head + "[HKEY_CURRENT_USER\\a\\\\b]\n", 3}, // an empty key name
        {key + "\"a=dword:1\n", 4},
        {key + "\"a\"=\"c:\\dir\"\n", 4}, // \d is no escape
        {key + "\"a\tb\"=\"-\"\n", 4},
        {key + "\"a\"=dword:000000001\n", 4},
        {key + "\"a\"=hex:01,0g\n", 4},
        {key + "\"a\"=hex:01,\\\n  02,\\\n  xx\n", 6},
        {key + "\"\xED\xA0\x80\"=\"-\"\n", 4}, // an encoded surrogate
    };
    for (const auto& [text, line] : cases) {
        SCOPED_TRACE(text);
        RegistryDocument document;
        document.roots[0].values.push_back({u"left over", kRegSz, {}});
        RegistryParseError error;
        EXPECT_FALSE(ParseRegistryText(text, document, error));
        EXPECT_EQ(error.line, line) << error.message;
        EXPECT_EQ(document, RegistryDocument());
    }
}

} // namespace
} // namespace hopwise::test
