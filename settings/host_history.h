#pragma once

// The stored side of the pages' host histories: one section per page whose value names are
// the hosts, in the order they were first recorded.

#include <string_view>
#include <vector>

#include "settings/settings_store.h"

namespace hopwise {

inline constexpr std::u16string_view kTraceHistorySection = u"Hopwise";
inline constexpr std::u16string_view kPingHistorySection = u"Ping";

// The stored hosts; empty when the section doesn't exist.
std::vector<std::u16string> LoadHostHistory(SettingsStore& store, std::u16string_view section);
// Stores host as an entry (an existing entry keeps its place).
bool RecordHost(SettingsStore& store, std::u16string_view section, std::u16string_view host);
// Deletes the section and yields what is stored afterwards: empty unless the delete failed.
std::vector<std::u16string> ClearHostHistory(SettingsStore& store, std::u16string_view section);

} // namespace hopwise
