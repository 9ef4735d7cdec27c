#include "res/dialog_templates.h"

#include "res/resource_ids.h"
#include "res/texts.h"

namespace hopwise::res {
namespace {

using enum ControlKind;

constexpr ControlTemplate kAboutControls[] = {
    {kStaticId, Icon, 0x50000003, "", 14, 25, 20, 20},
    {kStaticId, StaticText, 0x50020001, "Hopwise Version 1.0.0.1", 36, 33, 90, 8},
    // Below the version line; the box otherwise follows its template.
    {kStaticId, StaticText, 0x50020001, "Copyright \u00a9 2026 Velmor", 14, 52, 112, 8},
};

constexpr DialogTemplate kAbout{kAboutDialog, "About Hopwise", 132, 159, kAboutControls};

constexpr ControlTemplate kTraceControls[] = {
    {kTraceGo, PushButton, 0x50010000, "GO", 111, 4, 19, 16},
    {kTraceHopTree, TreeView, 0x50810037, "", 0, 40, 131, 85},
    {kStaticId, StaticText, 0x50020000, "Name/IP", 2, 8, 28, 8},
    {kTraceMaxHop, Edit, 0x50810080, "", 32, 23, 26, 14},
    {kTraceMaxHopSpin, UpDown, 0x50000036, "", 47, 23, 11, 14},
    {kStaticId, StaticText, 0x50020000, "Max Hop", 2, 26, 29, 8},
    {kStaticId, StaticText, 0x40020000, "Max Delay", 3, 108, 33, 8},
    {kTraceMaxDelay, Edit, 0x40810080, "", 36, 105, 35, 14},
    {kTraceMaxDelaySpin, UpDown, 0x40000036, "", 62, 105, 11, 14},
    {kTraceDestIp, StaticText, 0x50020000, kDestIpPrefix, 0, 127, 84, 8},
    {kTraceHost, ComboBox, 0x50210842, "", 32, 5, 78, 92},
    {kTraceStatus, StaticText, 0x40020000, "", 90, 127, 41, 8},
    {kTraceCancel, PushButton, 0x40010000, "Cancel", 89, 127, 43, 9},
    {kTraceResolveIp, CheckBox, 0x50010003, "Resolve IP", 77, 25, 50, 10},
};

constexpr DialogTemplate kTraceRoutePage{kTraceRoutePageDialog, "", 132, 136, kTraceControls};

constexpr ControlTemplate kPingControls[] = {
    {kPingGo, PushButton, 0x50010000, "GO", 111, 4, 19, 16},
    {kStaticId, StaticText, 0x50020000, "Name/IP", 2, 8, 28, 8},
    {kPingMaxHop, Edit, 0x50810080, "", 31, 23, 29, 14},
    {kPingMaxHopSpin, UpDown, 0x50000036, "", 50, 23, 11, 14},
    {kStaticId, StaticText, 0x50020000, "Max Hop", 2, 26, 29, 8},
    {kPingDestIp, StaticText, 0x50020000, kDestIpPrefix, 0, 127, 84, 8},
    {kPingHost, ComboBox, 0x50210842, "", 32, 5, 78, 92},
    {kPingStatus, StaticText, 0x40020000, "", 87, 126, 41, 8},
    {kPingReplyList, ListView, 0x50810005, "", 2, 41, 128, 85},
    {kPingCancel, PushButton, 0x40010000, "Cancel", 85, 127, 46, 8},
    {kStaticId, StaticText, 0x50020000, "Num Trials", 63, 25, 34, 8},
    {kPingNumTrials, Edit, 0x50810080, "", 99, 23, 31, 14},
};

constexpr DialogTemplate kPingPage{kPingPageDialog, "", 132, 136, kPingControls};

} // namespace

const DialogTemplate& AboutDialogTemplate()
{
    return kAbout;
}
const DialogTemplate& TraceRoutePageTemplate()
{
    return kTraceRoutePage;
}
const DialogTemplate& PingPageTemplate()
{
    return kPingPage;
}

} // namespace hopwise::res
