#include "settings/host_history.h"

namespace hopwise {

std::vector<std::u16string> LoadHostHistory(SettingsStore& store, std::u16string_view section)
{
    std::vector<std::u16string> hosts;
    store.ReadSectionEntries(section, hosts);
    return hosts;
}

bool RecordHost(SettingsStore& store, std::u16string_view section, std::u16string_view host)
{
    return store.AddSectionEntry(section, host);
}

std::vector<std::u16string> ClearHostHistory(SettingsStore& store, std::u16string_view section)
{
    store.DeleteSection(section);
    return LoadHostHistory(store, section);
}

} // namespace hopwise
