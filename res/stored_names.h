#pragma once

// Where the pages keep their numeric settings, and the defaults they read with. The value
// names are the page members that hold them.

#include <cstdint>
#include <string_view>

namespace hopwise {

inline constexpr std::u16string_view kCompanyKey = u"Velmor";
inline constexpr std::u16string_view kApplicationName = u"Hopwise";

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

} // namespace hopwise
