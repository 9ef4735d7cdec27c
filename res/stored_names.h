#pragma once

// The names the settings are stored under: the company and product keys, the sections, the
// pages' values (named after the page members that hold them) and the defaults they are read
// with. The store speaks UTF-16.

#include <array>
#include <cstdint>
#include <string_view>

#include "res/texts.h"

namespace hopwise {

namespace detail {
// The product key is the application's name; it is spelled once, in texts.h.
inline constexpr auto kApplicationNameUnits = [] {
    std::array<char16_t, res::kAppName.size()> units{};
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(res::kAppName[i]); // ASCII
    }
    return units;
}();
} // namespace detail

inline constexpr std::u16string_view kCompanyKey = u"Velmor";
inline constexpr std::u16string_view kApplicationName{detail::kApplicationNameUnits.data(),
                                                      detail::kApplicationNameUnits.size()};

inline constexpr std::u16string_view kTraceSettingsSection = u"HopwiseDialog";
inline constexpr std::u16string_view kPingSettingsSection = u"PingDialog";

inline constexpr std::u16string_view kMaxHopCountName = u"m_iMaxHopCount";
inline constexpr std::u16string_view kHopTimeoutName = u"m_iHopTimeout";
inline constexpr std::u16string_view kResolveIpName = u"m_bResolveIP";
inline constexpr std::u16string_view kNumTrialsName = u"m_iNumTrials";
inline constexpr std::u16string_view kMaxItemsInListName = u"m_iMaxItemsInList";

inline constexpr std::int32_t kDefaultMaxHopCount = 20;
inline constexpr std::int32_t kDefaultHopTimeout = 1000; // milliseconds
inline constexpr std::int32_t kDefaultResolveIp = 0;
inline constexpr std::int32_t kDefaultNumTrials = -1; // without end
inline constexpr std::int32_t kDefaultMaxItemsInList = 50;

// The route monitor window: its host history, size, splitter and run settings.
inline constexpr std::u16string_view kMonitorHistorySection = u"Monitor";
inline constexpr std::u16string_view kMonitorSettingsSection = u"MonitorWindow";
inline constexpr std::u16string_view kMonitorWidthName = u"Width";
inline constexpr std::u16string_view kMonitorHeightName = u"Height";
inline constexpr std::u16string_view kMonitorTableHeightName = u"TableHeight";
inline constexpr std::u16string_view kMonitorChartHeightName = u"ChartHeight";
inline constexpr std::u16string_view kMonitorIntervalName = u"IntervalMs";
inline constexpr std::u16string_view kMonitorTimeoutName = u"TimeoutMs";
inline constexpr std::u16string_view kMonitorMethodName = u"Method"; // ProbeProtocol's value
inline constexpr std::u16string_view kMonitorPortName = u"Port";     // 0: the method's default
inline constexpr std::int32_t kDefaultMonitorWidth = 1060;           // the control row fits
inline constexpr std::int32_t kDefaultMonitorHeight = 640;
inline constexpr std::int32_t kDefaultMonitorIntervalMs = 1000;
inline constexpr std::int32_t kDefaultMonitorTimeoutMs = 1000;

} // namespace hopwise
