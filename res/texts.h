#pragma once

// Every text the user sees outside the dialog templates: the string table (the frame's title
// and the tool bar's tooltips), the menu, and the pages' run-time texts, which hopwise-cli
// prints as well. UTF-8.

#include <array>
#include <string_view>

namespace hopwise::res {

// The application's name: the product key of the settings, the window caption and the
// message box caption.
inline constexpr std::string_view kAppName = "Hopwise";

// String 128: the frame's title is its first field.
inline constexpr std::string_view kMainFrameString = "Hopwise";

// Strings 65000 to 65007 (65003, "Save", is never loaded).
struct TooltipString {
    int id;
    std::string_view text;
};
inline constexpr std::array<TooltipString, 8> kTooltipStrings{{
    {65000, "New"},
    {65001, "File"},
    {65002, "Help"},
    {65003, "Save"},
    {65004, "Cut"},
    {65005, "Copy"},
    {65006, "Paste"},
    {65007, "About"},
}};

// Menu 128.
inline constexpr std::string_view kMenuFile = "File";
inline constexpr std::string_view kMenuFileExit = "Exit";
inline constexpr std::string_view kMenuTools = "Tools";
inline constexpr std::string_view kMenuToolsAbout = "About Hopwise...";
inline constexpr std::string_view kMenuToolsClearCache = "Clear Cached IP/Name";
inline constexpr std::string_view kMenuClearHopwise = "Hopwise";
inline constexpr std::string_view kMenuClearPing = "Ping";

// Tabs.
inline constexpr std::string_view kTraceRouteTab = "Hopwise";
inline constexpr std::string_view kPingTab = "Ping";

// The pages at run time. The Dest IP line starts out as the prefix alone; each run that
// resolves its host replaces it with the prefix followed by the dotted destination.
inline constexpr std::string_view kDestIpPrefix = "Dest IP: ";
inline constexpr std::string_view kCantResolveName = "Can't resolve name";
inline constexpr std::string_view kStatusDone = "Done";
inline constexpr std::string_view kStatusCancelled = "Cancelled";
inline constexpr std::string_view kNoResponse = "No Response";
// hopwise-cli trace -q: one of a hop's probes that got no answer, on the hop's line.
inline constexpr std::string_view kNoAnswerMark = "*";
// hopwise-cli trace --mtu: at the end of a hop's line, the path's MTU past that hop.
inline constexpr std::string_view kHopPathMtuFormat = "pmtu %u";
// hopwise-cli trace --flows: after a responder some of the flows saw at a hop, which ones.
inline constexpr std::string_view kHopFlowsFormat = "(flows %s)";
inline constexpr std::string_view kHopFlowFormat = "(flow %s)";
// hopwise-cli trace and report: an entry of the MPLS label stack a router's report carried, each
// on a line of its own under its hop (label, traffic class, bottom of stack, TTL).
inline constexpr std::string_view kMplsLabelFormat = "     [MPLS: Lbl %u TC %u S %u TTL %u]";
inline constexpr std::string_view kHopFormat = "%s [%d ms]";
// Num Trials shows -1 as "inf", and takes either word, in any case, for it.
inline constexpr std::string_view kInfiniteTrials = "inf";
inline constexpr std::string_view kInfiniteTrialsLong = "infinity";
inline constexpr std::string_view kReplyColumnIp = "IP";
inline constexpr std::string_view kReplyColumnTime = "Time";
inline constexpr std::string_view kReplyColumnTtl = "TTL";

// hopwise-cli's ping, in ping's words: the column of -s, what a router's report or a local error
// about a request says (each a printf format), -O's line, and the options that name no usable
// interface or address.
inline constexpr std::string_view kReplyColumnBytes = "Bytes";
inline constexpr std::string_view kPingReportFormat = "From %s icmp_seq=%lld %s";
inline constexpr std::string_view kPingTimeToLiveExceeded = "Time to live exceeded";
inline constexpr std::string_view kPingReassemblyTimeExceeded = "Frag reassembly time exceeded";
inline constexpr std::string_view kPingNetUnreachable = "Destination Net Unreachable";
inline constexpr std::string_view kPingHostUnreachable = "Destination Host Unreachable";
inline constexpr std::string_view kPingProtocolUnreachable = "Destination Protocol Unreachable";
inline constexpr std::string_view kPingPortUnreachable = "Destination Port Unreachable";
inline constexpr std::string_view kPingSourceRouteFailed = "Source Route Failed";
inline constexpr std::string_view kPingUnreachable = "Destination unreachable";
inline constexpr std::string_view kPingParameterProblem = "Parameter problem";
inline constexpr std::string_view kPingSourceQuench = "Source Quench";
inline constexpr std::string_view kPingFragmentationNeededFormat =
    "Frag needed and DF set (mtu = %u)";
inline constexpr std::string_view kPingPacketTooBigFormat = "Packet too big: mtu=%u";
inline constexpr std::string_view kPingLocalTooBigFormat = "local error: message too long, mtu=%u";
inline constexpr std::string_view kPingNoAnswerYetFormat = "no answer yet for icmp_seq=%lld";
// "hopwise-cli ping: -I eth9: no such interface or local address", as the other usage errors
inline constexpr std::string_view kOptionValueFormat = "hopwise-cli %s: %s %s: %s";
inline constexpr std::string_view kNoSuchInterfaceOrAddress = "no such interface or local address";
inline constexpr std::string_view kNoSuchInterface = "no such interface";
inline constexpr std::string_view kNotLocalAddress = "not a local address";
inline constexpr std::string_view kNotIpv4Address = "not an IPv4 address (-4)";
inline constexpr std::string_view kNotIpv6Address = "not an IPv6 address (-6)";

// What a person can do with the results: the views' context menu, and the header of "Copy All"
// (one "name: value" line each, then the rows).
inline constexpr std::string_view kResultCopy = "Copy";
inline constexpr std::string_view kResultCopyAll = "Copy All";
inline constexpr std::string_view kResultPingThisAddress = "Ping This Address";
inline constexpr std::string_view kResultTraceThisAddress = "Trace Route to This Address";
inline constexpr std::string_view kCopyHeaderHost = "Host";
inline constexpr std::string_view kCopyHeaderAddress = "Address";
inline constexpr std::string_view kCopyHeaderTime = "Date";
inline constexpr std::string_view kCopyHeaderSettings = "Settings";
inline constexpr std::string_view kSettingMaxHop = "Max Hop";
inline constexpr std::string_view kSettingTimeout = "Timeout (ms)";
inline constexpr std::string_view kSettingResolveIp = "Resolve IP";
inline constexpr std::string_view kSettingNumTrials = "Num Trials";
inline constexpr std::string_view kSettingMaxItems = "Rows Kept";
// Accessible names of controls that show no text of their own.
inline constexpr std::string_view kAccessibleHopTree = "Hops";
inline constexpr std::string_view kAccessibleReplyList = "Replies";
inline constexpr std::string_view kAccessibleUpArrow = "Up";
inline constexpr std::string_view kAccessibleDownArrow = "Down";
inline constexpr std::string_view kAccessibleToolBarMore = "More Tools";

// The route monitor: its menu items in the main window and the pages' views, its window, table,
// notes, chart and files.
inline constexpr std::string_view kMenuToolsRouteMonitor = "Route Monitor...";
inline constexpr std::string_view kResultMonitorThisRoute = "Monitor This Route";
inline constexpr std::string_view kMonitorTitle = "Route Monitor";
inline constexpr std::string_view kMonitorTitleFormat = "Route Monitor - %1";
inline constexpr std::string_view kMonitorReadOnlyTitleFormat = "Route Monitor - %1 (read-only)";
inline constexpr std::string_view kMonitorHost = "Host:";
inline constexpr std::string_view kMonitorInterval = "Interval (s):";
inline constexpr std::string_view kMonitorTimeout = "Time-out (ms):";
inline constexpr std::string_view kMonitorMethod = "Method:";
// In ProbeProtocol's order.
inline constexpr std::array<std::string_view, 3> kMonitorMethods{"ICMP echo", "UDP", "TCP"};
inline constexpr std::string_view kMonitorPort = "Port:";
inline constexpr std::string_view kMonitorPortDefault = "Default";
inline constexpr std::string_view kMonitorStart = "Start";
inline constexpr std::string_view kMonitorPause = "Pause";
inline constexpr std::string_view kMonitorResume = "Resume";
inline constexpr std::array<std::string_view, 13> kMonitorColumns{
    "Hop",     "Address", "Name",  "Loss %", "Sent",   "Received", "Last",
    "Average", "Best",    "Worst", "StDev",  "Jitter", "Latency"};
inline constexpr std::string_view kMonitorSparkFormat = "Last %1 round trips, %2 lost";
inline constexpr std::string_view kMonitorRateLimitedTip =
    "This router limits its replies: the hops after it lose less, so this is not loss on the path";
inline constexpr std::string_view kMonitorRateLimitedNote =
    "Hop %1 is a router limiting its replies, not loss on the path.";
inline constexpr std::string_view kMonitorLossBeginsTip =
    "Loss begins at this hop and goes on to the destination";
inline constexpr std::string_view kMonitorLossBeginsNote =
    "Loss begins at hop %1: the problem is there or on the link before it.";
inline constexpr std::string_view kMonitorMplsTip = "MPLS: Lbl %1 TC %2 S %3 TTL %4";
inline constexpr std::string_view kMonitorRouteChangedTip = "Route changed at %1: %2 to %3";
inline constexpr std::string_view kMonitorMenuFile = "File";
inline constexpr std::string_view kMonitorMenuEdit = "Edit";
inline constexpr std::string_view kMonitorSaveSession = "Save Session...";
inline constexpr std::string_view kMonitorOpenSession = "Open Session...";
inline constexpr std::string_view kMonitorExport = "Export";
inline constexpr std::string_view kMonitorExportCsv = "Table as CSV...";
inline constexpr std::string_view kMonitorExportJson = "Report as JSON...";
inline constexpr std::string_view kMonitorExportPng = "Chart as PNG...";
inline constexpr std::string_view kMonitorClose = "Close";
inline constexpr std::string_view kMonitorCopy = "Copy";
inline constexpr std::string_view kMonitorSessionFilter = "Hopwise sessions (*.hopwise)";
inline constexpr std::string_view kMonitorCsvFilter = "CSV files (*.csv)";
inline constexpr std::string_view kMonitorJsonFilter = "JSON files (*.json)";
inline constexpr std::string_view kMonitorPngFilter = "PNG images (*.png)";
inline constexpr std::string_view kMonitorCantWrite = "Can't write %1";
inline constexpr std::string_view kMonitorCantLoad = "The route monitor can't be loaded: %1";
inline constexpr std::array<std::string_view, 4> kMonitorRanges{"10 min", "1 hour", "24 hours",
                                                                "All"};
inline constexpr std::string_view kMonitorChartDescription =
    "Hop %1: last %2 ms, average %3 ms, loss %4 % over the shown range";
inline constexpr std::string_view kMonitorChartEmpty = "Hop %1: no replies over the shown range";
inline constexpr std::string_view kMonitorSeriesRoundTrip = "Round trip (ms)";
inline constexpr std::string_view kMonitorSeriesLost = "Lost";
inline constexpr std::string_view kMonitorSeriesRouteChange = "Route change";
inline constexpr std::string_view kAccessibleMonitorTable = "Monitored hops";
inline constexpr std::string_view kAccessibleMonitorNotes = "Notes";
inline constexpr std::string_view kAccessibleMonitorChart = "Round trip over time";
inline constexpr std::string_view kAccessibleMonitorScroll = "Scroll back in time";
inline constexpr std::string_view kAccessibleMonitorRanges = "Shown range";

// The window's refusal to start without a display, on stderr: %s names the environment
// variables that would give it one.
inline constexpr std::string_view kNoDisplay =
    "no display to open the window on: %s must name one (hopwise-cli needs none)";

// The route monitor's session files (each followed by ": " and the file's path) and its table as
// exported and copied: the columns, then what a hop's note says.
inline constexpr std::string_view kSessionOpenFailed = "Can't open the session file";
inline constexpr std::string_view kSessionNotASession = "Not a Hopwise session file";
inline constexpr std::string_view kSessionTooNew = "The session file is from a newer Hopwise";
inline constexpr std::string_view kSessionDamaged = "The session file is damaged";
inline constexpr std::string_view kSessionSaveFailed = "Can't save the session";
inline constexpr std::string_view kSessionCacheFailed = "Can't create the session file";
inline constexpr std::string_view kMonitorColumnHop = "Hop";
inline constexpr std::string_view kMonitorColumnResponders = "Responders";
inline constexpr std::string_view kMonitorColumnLoss = "Loss%";
inline constexpr std::string_view kMonitorColumnSent = "Sent";
inline constexpr std::string_view kMonitorColumnReceived = "Recv";
inline constexpr std::string_view kMonitorColumnLast = "Last";
inline constexpr std::string_view kMonitorColumnAverage = "Avg";
inline constexpr std::string_view kMonitorColumnBest = "Best";
inline constexpr std::string_view kMonitorColumnWorst = "Wrst";
inline constexpr std::string_view kMonitorColumnStdev = "StDev";
inline constexpr std::string_view kMonitorColumnJitter = "Jitter";
inline constexpr std::string_view kMonitorColumnNote = "Note";
inline constexpr std::string_view kMonitorNoteRateLimited = "rate limited";
inline constexpr std::string_view kMonitorNoteLossBegins = "loss begins here";
inline constexpr std::string_view kMonitorNoResponse = "???";

} // namespace hopwise::res
