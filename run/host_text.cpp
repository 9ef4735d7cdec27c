#include "run/host_text.h"

#include <algorithm>
#include <optional>
#include <string>

#include "text/utf_text.h"

namespace hopwise {

bool SetHostText(char (&host)[kHostTextSize], std::string_view utf8)
{
    if (utf8.size() >= kHostTextSize || utf8.find('\0') != std::string_view::npos) {
        host[0] = '\0';
        return false;
    }
    std::copy(utf8.begin(), utf8.end(), host);
    host[utf8.size()] = '\0';
    return true;
}

bool SetHostText(char (&host)[kHostTextSize], std::u16string_view utf16)
{
    const std::optional<std::string> utf8 = Utf16ToUtf8(utf16);
    if (!utf8) {
        host[0] = '\0';
        return false;
    }
    return SetHostText(host, std::string_view(*utf8));
}

} // namespace hopwise
