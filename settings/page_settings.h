#pragma once

// The numbers each page keeps in the store, as one table per page: the value's name, the member
// that holds it and the default it is read with. Loading at construction and saving at
// destruction walk the same table, in its order, so the two can't drift apart; tests and
// benchmarks use it too. The settings are atomics because a worker reads them again during its
// run (the hop limit before every further hop) while the page's thread may be editing them.

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "res/stored_names.h"
#include "settings/settings_store.h"

namespace hopwise {

struct TraceRouteSettings {
    std::atomic<std::int32_t> m_iMaxHopCount{kDefaultMaxHopCount}; // hops 1 .. m_iMaxHopCount - 1
    std::atomic<std::int32_t> m_iHopTimeout{kDefaultHopTimeout};   // milliseconds per probe
    std::atomic<bool> m_bResolveIP{kDefaultResolveIp != 0};        // look up each responder
};

struct PingSettings {
    std::atomic<std::int32_t> m_iMaxHopCount{kDefaultMaxHopCount}; // TTL of every request
    std::atomic<std::int32_t> m_iNumTrials{kDefaultNumTrials};     // -1: until cancelled
    std::atomic<std::int32_t> m_iHopTimeout{kDefaultHopTimeout};   // milliseconds per request
    std::int32_t m_iMaxItemsInList =
        kDefaultMaxItemsInList; // rows the page keeps; no worker reads it
};

template <class Settings> struct SettingEntry {
    using Member = std::variant<std::atomic<std::int32_t> Settings::*,
                                std::atomic<bool> Settings::*, std::int32_t Settings::*>;
    std::u16string_view name;
    Member member;
    std::int32_t defaultValue = 0;
    // A timeout or row limit edited by hand below zero would become a wait of some 49 days per
    // echo, or a trimming that never ends: such values are taken as 0.
    bool notNegative = false;
};

inline constexpr SettingEntry<TraceRouteSettings> kTraceRouteSettingTable[] = {
    {kMaxHopCountName, &TraceRouteSettings::m_iMaxHopCount, kDefaultMaxHopCount, false},
    {kHopTimeoutName, &TraceRouteSettings::m_iHopTimeout, kDefaultHopTimeout, true},
    {kResolveIpName, &TraceRouteSettings::m_bResolveIP, kDefaultResolveIp, false},
};

inline constexpr SettingEntry<PingSettings> kPingSettingTable[] = {
    {kMaxHopCountName, &PingSettings::m_iMaxHopCount, kDefaultMaxHopCount, false},
    {kNumTrialsName, &PingSettings::m_iNumTrials, kDefaultNumTrials, false},
    {kHopTimeoutName, &PingSettings::m_iHopTimeout, kDefaultHopTimeout, true},
    {kMaxItemsInListName, &PingSettings::m_iMaxItemsInList, kDefaultMaxItemsInList, true},
};

inline std::span<const SettingEntry<TraceRouteSettings>> SettingTable(const TraceRouteSettings&)
{
    return kTraceRouteSettingTable;
}
inline std::span<const SettingEntry<PingSettings>> SettingTable(const PingSettings&)
{
    return kPingSettingTable;
}
inline std::u16string_view SettingsSection(const TraceRouteSettings&)
{
    return kTraceSettingsSection;
}
inline std::u16string_view SettingsSection(const PingSettings&)
{
    return kPingSettingsSection;
}

namespace detail {

// std::visit could throw (for a valueless variant, which these never are); the pages save from
// their destructors, so the members are reached without it.
template <class Settings>
std::int32_t ReadMember(const Settings& settings,
                        const typename SettingEntry<Settings>::Member& member) noexcept
{
    if (const auto* number = std::get_if<std::atomic<std::int32_t> Settings::*>(&member)) {
        return settings.**number;
    }
    if (const auto* flag = std::get_if<std::atomic<bool> Settings::*>(&member)) {
        return (settings.**flag) ? 1 : 0;
    }
    const auto* plain = std::get_if<std::int32_t Settings::*>(&member);
    return plain != nullptr ? settings.**plain : 0;
}

template <class Settings>
void WriteMember(Settings& settings, const typename SettingEntry<Settings>::Member& member,
                 std::int32_t value) noexcept
{
    if (const auto* number = std::get_if<std::atomic<std::int32_t> Settings::*>(&member)) {
        settings.** number = value;
    } else if (const auto* flag = std::get_if<std::atomic<bool> Settings::*>(&member)) {
        settings.** flag = value != 0;
    } else if (const auto* plain = std::get_if<std::int32_t Settings::*>(&member)) {
        settings.** plain = value;
    }
}

} // namespace detail

// Reads every setting of the page's table from its section, in table order.
template <class Settings> void LoadSettings(SettingsStore& store, Settings& settings)
{
    for (const SettingEntry<Settings>& entry : SettingTable(settings)) {
        std::int32_t value =
            store.GetSettingInt(SettingsSection(settings), entry.name, entry.defaultValue);
        if (entry.notNegative && value < 0) {
            value = 0;
        }
        detail::WriteMember(settings, entry.member, value);
    }
}

// Writes every setting of the page's table back, changed or not, in table order.
template <class Settings> void SaveSettings(SettingsStore& store, const Settings& settings)
{
    for (const SettingEntry<Settings>& entry : SettingTable(settings)) {
        store.WriteSettingInt(SettingsSection(settings), entry.name,
                              detail::ReadMember(settings, entry.member));
    }
}

} // namespace hopwise
