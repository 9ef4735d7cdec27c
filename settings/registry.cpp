#include "settings/registry.h"

#include <algorithm>
#include <cstring>

namespace hopwise {

namespace {

bool isRoot(RegKey key)
{
    return key >= kHkeyClassesRoot && key <= kHkeyUsers;
}

// The components of a key name; nothing for an empty name. False when a component is empty
// (a leading, trailing or doubled backslash), which names no key.
bool splitKeyName(std::u16string_view name, std::vector<std::u16string_view>& components)
{
    components.clear();
    while (!name.empty()) {
        const std::size_t end = name.find(u'\\');
        const std::u16string_view component = name.substr(0, end);
        if (component.empty())
            return false;
        components.push_back(component);
        if (end == std::u16string_view::npos)
            break;
        name.remove_prefix(end + 1);
        if (name.empty())
            return false;
    }
    return true;
}

} // namespace

RegStatus Registry::resolve(RegKey key, RegistryKeyNode*& node, std::vector<std::u16string>& path)
{
    if (isRoot(key)) {
        node = &m_document.roots[key - kHkeyClassesRoot];
        path.assign(1, node->name);
        return RegStatus::Success;
    }
    if (key == 0 || key > m_open.size() || !m_inUse[key - 1])
        return RegStatus::InvalidHandle;
    path = m_open[key - 1];
    node = nullptr;
    for (std::size_t i = 0; i < m_document.roots.size(); ++i)
        if (m_document.roots[i].name == path.front())
            node = &m_document.roots[i];
    for (std::size_t i = 1; node != nullptr && i < path.size(); ++i)
        node = node->findSubkey(path[i]);
    return node != nullptr ? RegStatus::Success : RegStatus::KeyDeleted;
}

RegStatus Registry::walk(RegKey parent, std::u16string_view name, bool create, RegKey& opened)
{
    RegistryKeyNode* node = nullptr;
    std::vector<std::u16string> path;
    if (const RegStatus status = resolve(parent, node, path); status != RegStatus::Success)
        return status;
    std::vector<std::u16string_view> components;
    if (!splitKeyName(name, components))
        return create ? RegStatus::InvalidParameter : RegStatus::NotFound;
    if (create) {
        for (std::u16string_view component : components)
            if (!IsValidRegistryKeyName(component))
                return RegStatus::InvalidParameter;
    }
    for (std::u16string_view component : components) {
        RegistryKeyNode* sub = node->findSubkey(component);
        if (sub == nullptr) {
            if (!create)
                return RegStatus::NotFound;
            node->subkeys.push_back(RegistryKeyNode{std::u16string(component), {}, {}});
            sub = &node->subkeys.back();
            m_modified = true;
        }
        node = sub;
        path.push_back(node->name);
    }
    const auto freeSlot = std::find(m_inUse.begin(), m_inUse.end(), false);
    const std::size_t slot = static_cast<std::size_t>(freeSlot - m_inUse.begin());
    if (freeSlot == m_inUse.end()) {
        m_open.push_back(std::move(path));
        m_inUse.push_back(true);
    } else {
        m_open[slot] = std::move(path);
        m_inUse[slot] = true;
    }
    opened = static_cast<RegKey>(slot + 1);
    return RegStatus::Success;
}

RegStatus Registry::openKey(RegKey parent, std::u16string_view name, std::uint32_t /*access*/,
                            RegKey& opened)
{
    return walk(parent, name, false, opened);
}

RegStatus Registry::createKey(RegKey parent, std::u16string_view name, std::uint32_t /*access*/,
                              RegKey& opened)
{
    return walk(parent, name, true, opened);
}

RegStatus Registry::closeKey(RegKey key)
{
    if (isRoot(key))
        return RegStatus::Success;
    if (key == 0 || key > m_open.size() || !m_inUse[key - 1])
        return RegStatus::InvalidHandle;
    m_inUse[key - 1] = false;
    m_open[key - 1].clear();
    return RegStatus::Success;
}

RegStatus Registry::queryValue(RegKey key, std::u16string_view name, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t& dataLength)
{
    RegistryKeyNode* node = nullptr;
    std::vector<std::u16string> path;
    if (const RegStatus status = resolve(key, node, path); status != RegStatus::Success)
        return status;
    const RegistryValue* value = node->findValue(name);
    if (value == nullptr)
        return RegStatus::NotFound;
    const auto size = static_cast<std::uint32_t>(value->data.size());
    if (type != nullptr)
        *type = value->type;
    if (data != nullptr && size > dataLength) {
        dataLength = size;
        return RegStatus::MoreData;
    }
    if (data != nullptr && size > 0)
        std::memcpy(data, value->data.data(), size);
    dataLength = size;
    return RegStatus::Success;
}

RegStatus Registry::setValue(RegKey key, std::u16string_view name, std::uint32_t type,
                             std::span<const std::uint8_t> data)
{
    RegistryKeyNode* node = nullptr;
    std::vector<std::u16string> path;
    if (const RegStatus status = resolve(key, node, path); status != RegStatus::Success)
        return status;
    if (!IsQuotableRegistryText(name))
        return RegStatus::InvalidParameter;
    RegistryValue* value = node->findValue(name);
    if (value == nullptr) {
        node->values.push_back(
            RegistryValue{std::u16string(name), type, {data.begin(), data.end()}});
        m_modified = true;
    } else if (value->type != type || !std::ranges::equal(value->data, data)) {
        value->type = type;
        value->data.assign(data.begin(), data.end());
        m_modified = true;
    }
    return RegStatus::Success;
}

RegStatus Registry::enumValue(RegKey key, std::uint32_t index, char16_t* name,
                              std::uint32_t& nameLength, std::uint32_t* type, std::uint8_t* data,
                              std::uint32_t& dataLength)
{
    RegistryKeyNode* node = nullptr;
    std::vector<std::u16string> path;
    if (const RegStatus status = resolve(key, node, path); status != RegStatus::Success)
        return status;
    if (index >= node->values.size())
        return RegStatus::NoMoreItems;
    const RegistryValue& value = node->values[index];
    const auto size = static_cast<std::uint32_t>(value.data.size());
    if (value.name.size() + 1 > nameLength || (data != nullptr && size > dataLength))
        return RegStatus::MoreData;
    std::copy(value.name.begin(), value.name.end(), name);
    name[value.name.size()] = u'\0';
    nameLength = static_cast<std::uint32_t>(value.name.size());
    if (type != nullptr)
        *type = value.type;
    if (data != nullptr && size > 0)
        std::memcpy(data, value.data.data(), size);
    dataLength = size;
    return RegStatus::Success;
}

RegStatus Registry::deleteKey(RegKey parent, std::u16string_view name)
{
    RegistryKeyNode* node = nullptr;
    std::vector<std::u16string> path;
    if (const RegStatus status = resolve(parent, node, path); status != RegStatus::Success)
        return status;
    std::vector<std::u16string_view> components;
    if (name.empty() || !splitKeyName(name, components))
        return RegStatus::InvalidParameter;
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        node = node->findSubkey(components[i]);
        if (node == nullptr)
            return RegStatus::NotFound;
    }
    const auto victim = std::find_if(node->subkeys.begin(), node->subkeys.end(), [&](auto& sub) {
        return RegistryNamesEqual(sub.name, components.back());
    });
    if (victim == node->subkeys.end())
        return RegStatus::NotFound;
    node->subkeys.erase(victim);
    m_modified = true;
    return RegStatus::Success;
}

} // namespace hopwise
