#pragma once

// Registry-style keys and values over one in-memory document: predefined root handles, keys
// opened and created by name under a handle, values queried, set and enumerated with
// caller-sized buffers. The settings store loads the backing file into a document, runs one
// operation with these primitives and writes the document back only when it changed.
//
// Names compare with ASCII letters folded and every other character exact (a deliberate,
// locale-independent choice; the names in use are ASCII). Access masks are taken and ignored:
// there is no security model behind them. A key name may be a path of components separated by
// backslashes, as the platform allows.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "settings/registry_text.h"

namespace hopwise {

using RegKey = std::uint32_t;

inline constexpr RegKey kHkeyClassesRoot = 0x80000000;
inline constexpr RegKey kHkeyCurrentUser = 0x80000001;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002;
inline constexpr RegKey kHkeyUsers = 0x80000003;

// The platform's status codes for what can go wrong here.
enum class RegStatus : std::int32_t {
    Success = 0,
    NotFound = 2, // no such key or value
    InvalidHandle = 6,
    InvalidParameter = 87, // a name that can't be stored (see registry_text.h)
    MoreData = 234,        // a buffer too small for a name or the data
    NoMoreItems = 259,     // enumeration past the last value
    KeyDeleted = 1018,     // the handle's key was deleted under it
};

class Registry {
public:
    explicit Registry(RegistryDocument& document) : m_document(document) {}

    // Opens an existing key; never creates. An empty name opens the key itself again.
    RegStatus openKey(RegKey parent, std::u16string_view name, std::uint32_t access,
                      RegKey& opened);
    // Opens the key, creating it and any missing key on its path.
    RegStatus createKey(RegKey parent, std::u16string_view name, std::uint32_t access,
                        RegKey& opened);
    // Root handles close without effect.
    RegStatus closeKey(RegKey key);

    // dataLength holds the buffer size in and the data length out (also on MoreData). data may
    // be null to ask for the length; type may be null.
    RegStatus queryValue(RegKey key, std::u16string_view name, std::uint32_t* type,
                         std::uint8_t* data, std::uint32_t& dataLength);
    RegStatus setValue(RegKey key, std::u16string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data);
    // nameLength holds the name buffer size in characters (room for a terminator included) in
    // and the name's length without terminator out; dataLength as for queryValue. Values come
    // in the order they were first set. Fails with MoreData when either buffer is too small.
    RegStatus enumValue(RegKey key, std::uint32_t index, char16_t* name, std::uint32_t& nameLength,
                        std::uint32_t* type, std::uint8_t* data, std::uint32_t& dataLength);
    // Deletes the named subkey with all of its subkeys and values.
    RegStatus deleteKey(RegKey parent, std::u16string_view name);

    // Whether any call changed the document (setting a value to what it holds changes nothing).
    bool modified() const { return m_modified; }

private:
    RegStatus resolve(RegKey key, RegistryKeyNode*& node, std::vector<std::u16string>& path);
    RegStatus walk(RegKey parent, std::u16string_view name, bool create, RegKey& opened);

    RegistryDocument& m_document;
    // Open keys as paths rather than pointers: a delete or a new sibling may move nodes.
    std::vector<std::vector<std::u16string>> m_open;
    std::vector<bool> m_inUse;
    bool m_modified = false;
};

} // namespace hopwise
