#pragma once

// Numbered resources: dialogs, the frame's shared id, control ids and command ids. The numbers
// are part of the design (tests and the pages find controls by them), so they never change.

namespace hopwise::res {

// Dialog templates and the frame's resources (menu, tool bar, icon, bitmap, title string).
inline constexpr int kAboutDialog = 100;
inline constexpr int kMainFrame = 128;
inline constexpr int kTraceRoutePageDialog = 130;
inline constexpr int kPingPageDialog = 131;

// Labels carry no id of their own.
inline constexpr int kStaticId = 65535;

// Trace route page (dialog 130).
inline constexpr int kTraceGo = 1001;
inline constexpr int kTraceHopTree = 1002;
inline constexpr int kTraceMaxHop = 1003;
inline constexpr int kTraceMaxDelay = 1004;
inline constexpr int kTraceDestIp = 1007;
inline constexpr int kTraceHost = 1008;
inline constexpr int kTraceStatus = 1009;
inline constexpr int kTraceCancel = 1024;
inline constexpr int kTraceMaxHopSpin = 1025;
inline constexpr int kTraceMaxDelaySpin = 1026;
inline constexpr int kTraceResolveIp = 1028;

// Ping page (dialog 131).
inline constexpr int kPingNumTrials = 1003;
inline constexpr int kPingMaxHopSpin = 1005;
inline constexpr int kPingGo = 1017;
inline constexpr int kPingHost = 1018;
inline constexpr int kPingMaxHop = 1019;
inline constexpr int kPingDestIp = 1021;
inline constexpr int kPingStatus = 1022;
inline constexpr int kPingReplyList = 1023;
inline constexpr int kPingCancel = 1027;

// Commands.
inline constexpr int kCmdOk = 1;
inline constexpr int kCmdCancel = 2;
inline constexpr int kCmdFileExit = 32774;
inline constexpr int kCmdClearHopwiseCache = 32776;
inline constexpr int kCmdClearPingCache = 32777;
inline constexpr int kCmdAppAbout = 57664;
inline constexpr int kCmdAppExit = 57665; // the framework's own exit command, bound to Ctrl+Q
// Tools > Route Monitor..., outside the design's numbers.
inline constexpr int kCmdRouteMonitor = 32800;

// Strings: the frame's title and the tool bar's tooltip texts.
inline constexpr int kStrMainFrame = 128;
inline constexpr int kStrFirstTooltip = 65000;
inline constexpr int kStrLastTooltip = 65007;

} // namespace hopwise::res
