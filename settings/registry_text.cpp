#include "settings/registry_text.h"

#include "text/utf_text.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace hopwise {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// regedit wraps hex lists near 80 columns; the exact column only matters to a reader's eye.
constexpr std::size_t kHexWrapColumn = 77;

char16_t foldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::u16string foldName(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded)
        c = foldAscii(c);
    return folded;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trim(std::string_view s)
{
    return trimLeft(trimRight(s));
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// 1 to maxDigits hex digits and nothing else.
std::optional<std::uint32_t> parseHexNumber(std::string_view s, std::size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits)
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : s) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

std::vector<std::uint8_t> stringData(std::u16string_view text)
{
    std::vector<std::uint8_t> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

// The text of type 1 data when it is exactly a quotable text and its terminator.
std::optional<std::u16string> quotableStringData(const std::vector<std::uint8_t>& data)
{
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 ||
        data[data.size() - 2] != 0)
        return std::nullopt;
    std::u16string text;
    text.reserve(data.size() / 2 - 1);
    for (std::size_t i = 0; i + 2 < data.size(); i += 2)
        text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    // An embedded terminator would be lost by a quoted form; IsQuotable refuses it with the
    // other control characters.
    if (!IsQuotableRegistryText(text))
        return std::nullopt;
    return text;
}

class LineReader {
public:
    explicit LineReader(std::string_view text) : m_text(text) {}

    bool next(std::string_view& line)
    {
        if (m_pos >= m_text.size())
            return false;
        std::size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_pos, end - m_pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        m_pos = end + 1;
        ++m_lineNumber;
        return true;
    }

    std::size_t lineNumber() const { return m_lineNumber; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_lineNumber = 0;
};

class Parser {
public:
    Parser(std::string_view text, RegistryDocument& document, RegistryParseError& error)
        : m_reader(text), m_document(document), m_error(error)
    {
    }

    bool run()
    {
        std::string_view line;
        if (!m_reader.next(line))
            return fail("empty file: the first line must be \"" + std::string(kHeader) + "\"");
        if (line.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            line.remove_prefix(kByteOrderMark.size());
        if (trimRight(line) != kHeader)
            return fail("the first line must be \"" + std::string(kHeader) + "\"");
        while (m_reader.next(line)) {
            const std::string_view content = trim(line);
            if (content.empty() || content.front() == ';')
                continue;
            const bool ok = content.front() == '[' ? keyLine(content) : valueLine(content);
            if (!ok)
                return false;
        }
        return true;
    }

private:
    bool fail(std::string message)
    {
        m_error.line = std::max<std::size_t>(m_reader.lineNumber(), 1);
        m_error.message = std::move(message);
        return false;
    }

    bool keyLine(std::string_view content)
    {
        if (content.back() != ']' || content.size() < 2)
            return fail("a key line must end with ']'");
        std::string_view path = content.substr(1, content.size() - 2);
        const std::size_t rootEnd = path.find('\\');
        const std::string_view rootName = path.substr(0, rootEnd);
        RegistryKeyNode* node = nullptr;
        for (std::size_t i = 0; i < kRootKeyNames.size(); ++i) {
            const std::u16string_view known = kRootKeyNames[i];
            bool same = known.size() == rootName.size();
            for (std::size_t j = 0; same && j < known.size(); ++j)
                same = foldAscii(static_cast<char16_t>(static_cast<unsigned char>(rootName[j]))) ==
                       foldAscii(known[j]);
            if (same)
                node = &m_document.roots[i];
        }
        if (node == nullptr)
            return fail("unknown root key \"" + std::string(rootName) + "\"");
        m_currentPath = foldName(node->name);
        path = rootEnd == std::string_view::npos ? std::string_view() : path.substr(rootEnd + 1);
        bool more = rootEnd != std::string_view::npos;
        while (more) {
            const std::size_t end = path.find('\\');
            const std::optional<std::u16string> name = Utf8ToUtf16(path.substr(0, end));
            if (!name || !IsValidRegistryKeyName(*name))
                return fail("a key name is empty or holds a control character");
            RegistryKeyNode* sub = node->findSubkey(*name);
            if (sub == nullptr) {
                node->subkeys.push_back(RegistryKeyNode{*name, {}, {}});
                sub = &node->subkeys.back();
            }
            node = sub;
            m_currentPath += u'\\';
            m_currentPath += foldName(*name);
            more = end != std::string_view::npos;
            if (more)
                path.remove_prefix(end + 1);
        }
        m_current = node;
        return true;
    }

    // Reads "..." at the start of s; leaves s after the closing quote.
    bool quoted(std::string_view& s, std::u16string& text)
    {
        std::string raw;
        std::size_t i = 1;
        for (;; ++i) {
            if (i >= s.size())
                return fail("a quoted text has no closing quote");
            const char c = s[i];
            if (c == '"')
                break;
            if (c == '\\') {
                if (i + 1 >= s.size() || (s[i + 1] != '"' && s[i + 1] != '\\'))
                    return fail("a backslash in a quoted text must be followed by \" or \\");
                ++i;
            }
            raw += s[i];
        }
        s.remove_prefix(i + 1);
        std::optional<std::u16string> decoded = Utf8ToUtf16(raw);
        if (!decoded)
            return fail("a quoted text is not valid UTF-8");
        if (!IsQuotableRegistryText(*decoded))
            return fail("a quoted text holds a control character (write such data as hex(1))");
        text = std::move(*decoded);
        return true;
    }

    bool hexList(std::string_view first, std::vector<std::uint8_t>& data)
    {
        std::string joined(trim(first));
        while (!joined.empty() && joined.back() == '\\') {
            joined.pop_back();
            std::string_view next;
            if (!m_reader.next(next))
                return fail("a hex list continues past the end of the file");
            joined += trim(next);
        }
        std::string_view rest = trim(joined);
        if (rest.empty())
            return true;
        for (;;) {
            const std::size_t comma = rest.find(',');
            const std::optional<std::uint32_t> byte =
                parseHexNumber(trim(rest.substr(0, comma)), 2);
            if (!byte)
                return fail("a hex list must hold bytes of two hex digits separated by commas");
            data.push_back(static_cast<std::uint8_t>(*byte));
            if (comma == std::string_view::npos)
                return true;
            rest.remove_prefix(comma + 1);
        }
    }

    bool valueLine(std::string_view s)
    {
        if (m_current == nullptr)
            return fail("a value comes before any key line");
        RegistryValue value;
        if (s.front() == '@') {
            s.remove_prefix(1);
        } else if (s.front() == '"') {
            if (!quoted(s, value.name))
                return false;
        } else {
            return fail("expected a key line, a \"name\"= or @= value line, or a ; comment");
        }
        s = trimLeft(s);
        if (s.empty() || s.front() != '=')
            return fail("expected '=' after the value name");
        s = trim(s.substr(1));
        if (!s.empty() && s.front() == '"') {
            std::u16string text;
            if (!quoted(s, text))
                return false;
            if (!trim(s).empty())
                return fail("unexpected text after a quoted string");
            value.type = kRegSz;
            value.data = stringData(text);
        } else if (startsWithNoCase(s, "dword:")) {
            const std::optional<std::uint32_t> number = parseHexNumber(trim(s.substr(6)), 8);
            if (!number)
                return fail("dword: must be followed by 1 to 8 hex digits");
            value.type = kRegDword;
            for (int shift = 0; shift < 32; shift += 8)
                value.data.push_back(static_cast<std::uint8_t>(*number >> shift));
        } else if (startsWithNoCase(s, "hex:")) {
            value.type = kRegBinary;
            if (!hexList(s.substr(4), value.data))
                return false;
        } else if (startsWithNoCase(s, "hex(")) {
            const std::size_t close = s.find(')');
            std::optional<std::uint32_t> type;
            if (close != std::string_view::npos)
                type = parseHexNumber(s.substr(4, close - 4), 8);
            if (!type || close + 1 >= s.size() || s[close + 1] != ':')
                return fail("hex( must be followed by a hex type number and \"):\"");
            value.type = *type;
            if (!hexList(s.substr(close + 2), value.data))
                return false;
        } else if (s == "-") {
            return fail("deleting a value with =- is not supported here");
        } else {
            return fail("unrecognised value data");
        }
        store(std::move(value));
        return true;
    }

    void store(RegistryValue value)
    {
        auto& index = m_valueIndex[m_currentPath];
        const auto [slot, added] =
            index.try_emplace(foldName(value.name), m_current->values.size());
        if (added) {
            m_current->values.push_back(std::move(value));
        } else {
            RegistryValue& existing = m_current->values[slot->second];
            existing.type = value.type;
            existing.data = std::move(value.data);
        }
    }

    LineReader m_reader;
    RegistryDocument& m_document;
    RegistryParseError& m_error;
    RegistryKeyNode* m_current = nullptr; // stays valid: values never add keys
    std::u16string m_currentPath;         // folded, for the index below
    // Values already seen, per key; a linear search would make long histories quadratic.
    std::unordered_map<std::u16string, std::unordered_map<std::u16string, std::size_t>>
        m_valueIndex;
};

void appendQuoted(std::string& out, const std::string& utf8)
{
    out += '"';
    for (char c : utf8) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
}

void appendHexList(std::string& out, const std::vector<std::uint8_t>& data, std::size_t column)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out += ',';
            ++column;
            if (column + 3 > kHexWrapColumn) {
                out += "\\\n  ";
                column = 2;
            }
        }
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0xF];
        column += 2;
    }
}

bool appendValue(std::string& out, const RegistryValue& value)
{
    const std::size_t lineStart = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        const std::optional<std::string> name = Utf16ToUtf8(value.name);
        if (!name || !IsQuotableRegistryText(value.name))
            return false;
        appendQuoted(out, *name);
    }
    out += '=';
    char number[16];
    if (value.type == kRegSz) {
        if (const std::optional<std::u16string> text = quotableStringData(value.data)) {
            appendQuoted(out, *Utf16ToUtf8(*text));
            out += '\n';
            return true;
        }
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        const std::uint32_t dword = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                                    (static_cast<std::uint32_t>(value.data[3]) << 24);
        std::snprintf(number, sizeof number, "%08x", dword);
        out += "dword:";
        out += number;
    } else if (value.type == kRegBinary) {
        out += "hex:";
        appendHexList(out, value.data, out.size() - lineStart);
    } else {
        std::snprintf(number, sizeof number, "%x", value.type);
        out += "hex(";
        out += number;
        out += "):";
        appendHexList(out, value.data, out.size() - lineStart);
    }
    out += '\n';
    return true;
}

bool appendKey(std::string& out, const RegistryKeyNode& key, std::string& path, bool isRoot)
{
    if (!isRoot || !key.values.empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const RegistryValue& value : key.values)
            if (!appendValue(out, value))
                return false;
        out += '\n';
    }
    for (const RegistryKeyNode& sub : key.subkeys) {
        const std::optional<std::string> name = Utf16ToUtf8(sub.name);
        if (!name || !IsValidRegistryKeyName(sub.name))
            return false;
        const std::size_t length = path.size();
        path += '\\';
        path += *name;
        const bool ok = appendKey(out, sub, path, false);
        path.resize(length);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

RegistryValue* RegistryKeyNode::findValue(std::u16string_view valueName)
{
    for (RegistryValue& value : values)
        if (RegistryNamesEqual(value.name, valueName))
            return &value;
    return nullptr;
}

const RegistryValue* RegistryKeyNode::findValue(std::u16string_view valueName) const
{
    return const_cast<RegistryKeyNode*>(this)->findValue(valueName);
}

RegistryKeyNode* RegistryKeyNode::findSubkey(std::u16string_view keyName)
{
    for (RegistryKeyNode& sub : subkeys)
        if (RegistryNamesEqual(sub.name, keyName))
            return &sub;
    return nullptr;
}

RegistryDocument::RegistryDocument()
{
    for (std::size_t i = 0; i < roots.size(); ++i)
        roots[i].name = kRootKeyNames[i];
}

bool ParseRegistryText(std::string_view text, RegistryDocument& document, RegistryParseError& error)
{
    // Validate the encoding once up front, so that the error names the line of the bad byte.
    for (std::size_t pos = 0, line = 1; pos < text.size();) {
        if (text[pos] == '\n')
            ++line;
        char32_t c = 0;
        if (!DecodeUtf8(text, pos, c)) {
            document = RegistryDocument();
            error = {line, "the file is not valid UTF-8"};
            return false;
        }
    }
    document = RegistryDocument();
    if (!Parser(text, document, error).run()) {
        document = RegistryDocument();
        return false;
    }
    return true;
}

std::optional<std::string> SerializeRegistryText(const RegistryDocument& document)
{
    std::string out(kHeader);
    out += "\n\n";
    for (const RegistryKeyNode& root : document.roots) {
        std::string path = *Utf16ToUtf8(root.name);
        if (!appendKey(out, root, path, true))
            return std::nullopt;
    }
    return out;
}

bool RegistryNamesEqual(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    return true;
}

bool IsQuotableRegistryText(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

bool IsValidRegistryKeyName(std::u16string_view name)
{
    return !name.empty() && name.find(u'\\') == std::u16string_view::npos &&
           IsQuotableRegistryText(name);
}

} // namespace hopwise
