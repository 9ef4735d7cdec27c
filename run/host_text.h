#pragma once

// Filling a page's host field. A host that doesn't fit is refused whole rather than cut short:
// a cut name could be a different, existing host, and the user would probe the wrong machine.

#include <cstddef>
#include <string_view>

namespace hopwise {

// Bytes in a page's host field, the terminating NUL included.
inline constexpr std::size_t kHostTextSize = 512;

// Stores the UTF-8 host text and yields true; when it doesn't fit in 511 bytes or holds a NUL,
// stores the empty text (which resolves as unresolvable) and yields false.
bool SetHostText(char (&host)[kHostTextSize], std::string_view utf8);

// The same for 16-bit text (what a window's edit field holds); text that is not valid UTF-16
// is refused as well.
bool SetHostText(char (&host)[kHostTextSize], std::u16string_view utf16);

} // namespace hopwise
