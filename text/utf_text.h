#pragma once

// UTF-8 and UTF-16: the window and the settings keep 16-bit texts, the resolver, the console and
// the settings file take UTF-8. Ill-formed input (an unpaired surrogate, a bad or overlong byte
// sequence) yields nothing rather than a guess.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace hopwise {

std::optional<std::string> Utf16ToUtf8(std::u16string_view text);
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);

// Decodes the code point at pos and moves pos past it; false (pos unchanged) when the bytes
// there are not well-formed UTF-8.
bool DecodeUtf8(std::string_view text, std::size_t& pos, char32_t& point);

} // namespace hopwise
