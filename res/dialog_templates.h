#pragma once

// The dialog templates of the About box and the two pages, as data: every control with its id,
// kind, window style, text and rectangle in dialog units. The window code builds the controls
// from these tables and the tests compare the built widgets against them, so the layout is
// written down exactly once.

#include <cstdint>
#include <span>
#include <string_view>

namespace hopwise::res {

enum class ControlKind {
    PushButton,
    StaticText,
    Icon,
    Edit,
    UpDown, // takes the control before it in the template as its buddy
    ComboBox,
    CheckBox,
    TreeView,
    ListView,
};

// Window style bits that the window code acts on; the rest of each style word is kept for
// reference and for the tests.
inline constexpr std::uint32_t kStyleVisible = 0x10000000;
inline constexpr std::uint32_t kStyleDisabled = 0x08000000;
inline constexpr std::uint32_t kStyleTabStop = 0x00010000;

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::uint32_t style;
    std::string_view text;   // UTF-8
    int x, y, width, height; // dialog units
};

struct DialogTemplate {
    int id;
    std::string_view caption;                  // UTF-8; empty for the pages
    int width, height;                         // dialog units
    std::span<const ControlTemplate> controls; // template order, which is also the tab order
};

const DialogTemplate& AboutDialogTemplate();
const DialogTemplate& TraceRoutePageTemplate();
const DialogTemplate& PingPageTemplate();

} // namespace hopwise::res
