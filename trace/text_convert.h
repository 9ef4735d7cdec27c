#pragma once

// The workers hand 16-bit texts to the window; consoles and host fields want UTF-8.

#include <optional>
#include <string>
#include <string_view>

namespace hopwise {

// UTF-8 form of the text; empty when it holds an unpaired surrogate.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

} // namespace hopwise
