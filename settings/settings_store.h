#pragma once

// The application's settings and host histories, kept in registry layout
// (HKEY_CURRENT_USER\Software\<company>\<product>\<section>) in a text file in the registry's
// export format (see registry_text.h and registry_file.h).
//
// Two groups of routines reach the same keys by different roads: the profile routines
// (GetSettingInt, WriteSettingInt, WriteSettingString) create missing keys down to the section
// and use the application's name as product key; the list routines (ReadSectionEntries,
// DeleteSection) walk a path with "Hopwise" fixed in it and never create anything. Every call
// opens what it needs and closes it again, and reads the file again, so that the next call sees
// a hand edit; only the parsed document is kept, for as long as the file's bytes stay the same.
// Only the application's window thread is expected to call these.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hopwise {

struct RegistryFileCache;

class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path backingFile);
    SettingsStore(SettingsStore&&) noexcept;
    SettingsStore& operator=(SettingsStore&&) noexcept;
    ~SettingsStore();

    // $XDG_CONFIG_HOME/Velmor/Hopwise.reg, with ~/.config when XDG_CONFIG_HOME is unset, empty
    // or not an absolute path.
    static std::filesystem::path DefaultBackingFile();

    // Names the company key; until then the profile routines read 0 and write nothing.
    void SetRegistryKey(std::u16string_view company);
    // The product key of the profile routines; the executable's base name until set.
    void SetAppName(std::u16string_view appName);

    // The value's first 4 bytes as a little-endian signed integer whatever its type (shorter
    // data is padded with zero bytes); defaultValue when it is missing or longer than 4 bytes;
    // 0 when no company key is named. Creates the keys down to the section.
    std::int32_t GetSettingInt(std::u16string_view section, std::u16string_view entry,
                               std::int32_t defaultValue);
    // False when no company key is named, the name can't be stored (control characters, lone
    // surrogates) or the file can't be written.
    bool WriteSettingInt(std::u16string_view section, std::u16string_view entry,
                         std::int32_t value);
    bool WriteSettingString(std::u16string_view section, std::u16string_view entry,
                            std::u16string_view value);

    // Appends the names of the section's values with non-empty data, in the order the values
    // were first set, and yields the list's size. A value with a name over 255 characters or
    // data over 256 bytes is skipped. A missing section leaves the list as it was.
    int ReadSectionEntries(std::u16string_view section, std::vector<std::u16string>& list);
    // Records name as an entry: a string value "-".
    bool AddSectionEntry(std::u16string_view section, std::u16string_view name);
    // Deletes the section's key with everything in it; a missing one is no error.
    void DeleteSection(std::u16string_view section);

private:
    std::filesystem::path m_backingFile;
    std::u16string m_company;
    std::u16string m_appName;
    std::unique_ptr<RegistryFileCache> m_cache; // spares re-parsing an unchanged file
};

// The text of path up to its first backslash; path keeps what follows that backslash (or
// becomes empty when there is none).
std::u16string SplitFirstComponent(std::u16string& path);

} // namespace hopwise
