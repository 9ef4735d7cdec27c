#include "settings/settings_store.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <unistd.h>

#include "settings/registry.h"
#include "settings/registry_file.h"
#include "text/utf_text.h"

namespace hopwise {

namespace {

// Read and write access, asked for on the way to the application key (not enforced here).
constexpr std::uint32_t kKeyAccess = 0x2001F;
constexpr std::uint32_t kNoParticularAccess = 0;

constexpr std::uint32_t kEntryNameChars = 256;
constexpr std::uint32_t kEntryDataBytes = 256;

constexpr std::u16string_view kListRootAndSoftware = u"HKEY_CURRENT_USER\\Software\\";
constexpr std::u16string_view kListProduct = u"\\Hopwise";

std::u16string executableBaseName()
{
    const std::optional<std::u16string> name = Utf8ToUtf16(program_invocation_short_name);
    return name.value_or(u"Hopwise");
}

// The application key, with the keys on the way created as needed.
std::optional<RegKey> applicationKey(Registry& registry, std::u16string_view company,
                                     std::u16string_view appName)
{
    RegKey software = 0;
    bool haveSoftware =
        registry.openKey(kHkeyCurrentUser, u"software", kKeyAccess, software) == RegStatus::Success;
    if (!haveSoftware)
        haveSoftware = registry.createKey(kHkeyCurrentUser, u"software", kKeyAccess, software) ==
                       RegStatus::Success;
    if (haveSoftware)
        registry.closeKey(software);
    if (registry.openKey(kHkeyCurrentUser, u"software", kKeyAccess, software) != RegStatus::Success)
        return std::nullopt;
    RegKey companyKey = 0;
    RegKey productKey = 0;
    bool ok = registry.createKey(software, company, kKeyAccess, companyKey) == RegStatus::Success;
    if (ok) {
        ok = registry.createKey(companyKey, appName, kKeyAccess, productKey) == RegStatus::Success;
        registry.closeKey(companyKey);
    }
    registry.closeKey(software);
    if (!ok)
        return std::nullopt;
    return productKey;
}

std::optional<RegKey> sectionKey(Registry& registry, std::u16string_view company,
                                 std::u16string_view appName, std::u16string_view section)
{
    const std::optional<RegKey> app = applicationKey(registry, company, appName);
    if (!app)
        return std::nullopt;
    RegKey key = 0;
    const RegStatus status = registry.createKey(*app, section, kKeyAccess, key);
    registry.closeKey(*app);
    if (status != RegStatus::Success)
        return std::nullopt;
    return key;
}

std::optional<RegKey> rootByName(std::u16string_view name)
{
    constexpr std::array<RegKey, 4> kHandles = {kHkeyClassesRoot, kHkeyCurrentUser,
                                                kHkeyLocalMachine, kHkeyUsers};
    for (std::size_t i = 0; i < kRootKeyNames.size(); ++i)
        if (RegistryNamesEqual(kRootKeyNames[i], name))
            return kHandles[i];
    return std::nullopt;
}

// Opens each component of the path in turn, never creating one.
std::optional<RegKey> walkKeyPath(Registry& registry, std::u16string path)
{
    const std::optional<RegKey> root = rootByName(SplitFirstComponent(path));
    if (!root)
        return std::nullopt;
    RegKey current = *root;
    while (!path.empty()) {
        const std::u16string component = SplitFirstComponent(path);
        RegKey next = 0;
        const bool opened =
            registry.openKey(current, component, kNoParticularAccess, next) == RegStatus::Success;
        registry.closeKey(current);
        if (!opened)
            return std::nullopt;
        current = next;
    }
    return current;
}

std::vector<std::uint8_t> littleEndian(std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
            static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
}

std::vector<std::uint8_t> terminatedText(std::u16string_view text)
{
    std::vector<std::uint8_t> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

} // namespace

SettingsStore::SettingsStore(std::filesystem::path backingFile)
    : m_backingFile(std::move(backingFile)), m_appName(executableBaseName()),
      m_cache(std::make_unique<RegistryFileCache>())
{
}

SettingsStore::SettingsStore(SettingsStore&&) noexcept = default;
SettingsStore& SettingsStore::operator=(SettingsStore&&) noexcept = default;
SettingsStore::~SettingsStore() = default;

std::filesystem::path SettingsStore::DefaultBackingFile()
{
    std::filesystem::path configHome;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        configHome = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* entry = ::getpwuid(::getuid());
            home = entry != nullptr ? entry->pw_dir : "/";
        }
        configHome = std::filesystem::path(home) / ".config";
    }
    return configHome / "Velmor" / "Hopwise.reg";
}

void SettingsStore::SetRegistryKey(std::u16string_view company)
{
    m_company = company;
}

void SettingsStore::SetAppName(std::u16string_view appName)
{
    m_appName = appName;
}

std::int32_t SettingsStore::GetSettingInt(std::u16string_view section, std::u16string_view entry,
                                          std::int32_t defaultValue)
{
    if (m_company.empty())
        return 0;
    std::int32_t result = defaultValue;
    UpdateRegistryFile(m_backingFile, *m_cache, [&](Registry& registry) {
        result = defaultValue;
        const std::optional<RegKey> key = sectionKey(registry, m_company, m_appName, section);
        if (!key)
            return;
        // Zeroed first, so that data shorter than 4 bytes reads as itself rather than as
        // whatever the buffer held.
        std::array<std::uint8_t, 4> bytes{};
        std::uint32_t length = bytes.size();
        if (registry.queryValue(*key, entry, nullptr, bytes.data(), length) == RegStatus::Success)
            result = static_cast<std::int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                               (static_cast<std::uint32_t>(bytes[3]) << 24));
        registry.closeKey(*key);
    });
    return result;
}

bool SettingsStore::WriteSettingInt(std::u16string_view section, std::u16string_view entry,
                                    std::int32_t value)
{
    if (m_company.empty())
        return false;
    bool set = false;
    const std::vector<std::uint8_t> data = littleEndian(value);
    const bool saved = UpdateRegistryFile(m_backingFile, *m_cache, [&](Registry& registry) {
        set = false;
        const std::optional<RegKey> key = sectionKey(registry, m_company, m_appName, section);
        if (!key)
            return;
        set = registry.setValue(*key, entry, kRegDword, data) == RegStatus::Success;
        registry.closeKey(*key);
    });
    return set && saved;
}

bool SettingsStore::WriteSettingString(std::u16string_view section, std::u16string_view entry,
                                       std::u16string_view value)
{
    if (m_company.empty())
        return false;
    bool set = false;
    const std::vector<std::uint8_t> data = terminatedText(value);
    const bool saved = UpdateRegistryFile(m_backingFile, *m_cache, [&](Registry& registry) {
        set = false;
        const std::optional<RegKey> key = sectionKey(registry, m_company, m_appName, section);
        if (!key)
            return;
        set = registry.setValue(*key, entry, kRegSz, data) == RegStatus::Success;
        registry.closeKey(*key);
    });
    return set && saved;
}

int SettingsStore::ReadSectionEntries(std::u16string_view section,
                                      std::vector<std::u16string>& list)
{
    std::u16string path(kListRootAndSoftware);
    path += m_company;
    path += kListProduct;
    path += u'\\';
    path += section;
    std::vector<std::u16string> found;
    UpdateRegistryFile(m_backingFile, *m_cache, [&](Registry& registry) {
        found.clear();
        const std::optional<RegKey> key = walkKeyPath(registry, path);
        if (!key)
            return;
        for (std::uint32_t index = 0;; ++index) {
            std::array<char16_t, kEntryNameChars> name{};
            std::array<std::uint8_t, kEntryDataBytes> data{};
            std::uint32_t nameLength = kEntryNameChars;
            std::uint32_t dataLength = kEntryDataBytes;
            const RegStatus status = registry.enumValue(*key, index, name.data(), nameLength,
                                                        nullptr, data.data(), dataLength);
            // A value too big for the buffers (a hand edit) is a broken entry; stopping there
            // would hide every later host for good.
            if (status == RegStatus::MoreData)
                continue;
            if (status != RegStatus::Success)
                break;
            // Empty data marks no host: only values holding something are entries.
            if (dataLength != 0)
                found.emplace_back(name.data(), nameLength);
        }
        registry.closeKey(*key);
    });
    list.insert(list.end(), found.begin(), found.end());
    return static_cast<int>(list.size());
}

bool SettingsStore::AddSectionEntry(std::u16string_view section, std::u16string_view name)
{
    return WriteSettingString(section, name, u"-");
}

void SettingsStore::DeleteSection(std::u16string_view section)
{
    std::u16string path(kListRootAndSoftware);
    path += m_company;
    path += kListProduct;
    UpdateRegistryFile(m_backingFile, *m_cache, [&](Registry& registry) {
        const std::optional<RegKey> product = walkKeyPath(registry, path);
        if (!product)
            return;
        registry.deleteKey(*product, section);
        registry.closeKey(*product);
    });
}

std::u16string SplitFirstComponent(std::u16string& path)
{
    const std::size_t separator = path.find(u'\\');
    if (separator == std::u16string::npos) {
        std::u16string whole = std::move(path);
        path.clear();
        return whole;
    }
    std::u16string first = path.substr(0, separator);
    path.erase(0, separator + 1);
    return first;
}

} // namespace hopwise
