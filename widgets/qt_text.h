#pragma once

// Between Qt's strings and the texts below the window: the tables in res/ are UTF-8 views, the
// settings keep UTF-16, and the workers hand over UTF-8 bytes.

#include <QString>
#include <string_view>

namespace hopwise {

inline QString FromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QString FromUtf16(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Valid while text is unchanged.
inline std::u16string_view Utf16View(const QString& text)
{
    return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

} // namespace hopwise
