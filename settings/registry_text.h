#pragma once

// The registry's export format ("Windows Registry Editor Version 5.00"), read and written as
// UTF-8 text with LF line ends. Parsing and serialising are pure functions over a small tree of
// keys and values, so that the fuzzer and the tests can drive them without any file.
//
// What is written:
//   Windows Registry Editor Version 5.00
//   <blank line>
//   [HKEY_CURRENT_USER\Software]                      every key on a path gets its own line
//   <blank line>
//   [HKEY_CURRENT_USER\Software\Velmor\Hopwise\Ping]
//   "gateway1"="-"                                    type 1 data that is a clean text
//   @=dword:0000000a                                  the unnamed value; type 4 with 4 bytes
//   "blob"=hex:01,02                                  type 3
//   "odd"=hex(4):01,02,03,04,05,06,07,08              any other type or length
//   <blank line>
//
// What is read besides: CRLF line ends, a UTF-8 byte order mark, ';' comment lines, blank lines,
// key lines naming a key more than once (their values merge), root and key names in any case,
// dword: with 1 to 8 hex digits, hex lists continued over lines with a trailing backslash,
// whitespace around '='. Quoted texts know two escapes, \" and \\; anything else after a
// backslash is an error rather than a guess. A value named twice keeps its first place and its
// last data, as a second write to it would.
//
// Texts that a quoted form can't carry safely (control characters, C1 controls, DEL, lone
// surrogates) make string data fall back to hex(1); a NAME can't fall back, so such names are
// not representable and the registry layer refuses to create them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hopwise {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

struct RegistryValue {
    std::u16string name; // empty: the key's unnamed value, written as @
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;

    bool operator==(const RegistryValue&) const = default;
};

struct RegistryKeyNode {
    std::u16string name;
    std::vector<RegistryValue> values;    // in the order they were first set
    std::vector<RegistryKeyNode> subkeys; // in the order they were created

    bool operator==(const RegistryKeyNode&) const = default;

    // Lookups without regard to ASCII case; nullptr when absent.
    RegistryValue* findValue(std::u16string_view valueName);
    const RegistryValue* findValue(std::u16string_view valueName) const;
    RegistryKeyNode* findSubkey(std::u16string_view keyName);
};

// The four predefined roots, in the order of their handles 0x80000000 to 0x80000003.
inline constexpr std::array<std::u16string_view, 4> kRootKeyNames = {
    u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE", u"HKEY_USERS"};

struct RegistryDocument {
    RegistryDocument();
    std::array<RegistryKeyNode, 4> roots;

    bool operator==(const RegistryDocument&) const = default;
};

struct RegistryParseError {
    std::size_t line = 0; // 1-based line of the file where reading stopped
    std::string message;
};

// Fills document from text; on failure leaves document empty and describes the first problem.
bool ParseRegistryText(std::string_view text, RegistryDocument& document,
                       RegistryParseError& error);

// The text of the document, or nothing when a name in it can't be written (see above).
std::optional<std::string> SerializeRegistryText(const RegistryDocument& document);

// Name comparison of the registry: ASCII letters fold, every other code unit compares exactly.
bool RegistryNamesEqual(std::u16string_view a, std::u16string_view b);

// Whether a text can stand inside quotes (value names, string data) or as a key name component.
bool IsQuotableRegistryText(std::u16string_view text);
bool IsValidRegistryKeyName(std::u16string_view name);

} // namespace hopwise
