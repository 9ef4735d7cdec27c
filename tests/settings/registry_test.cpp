// The key and value primitives over a document: buffer rules, enumeration order, names that
// fold ASCII case, opening that never creates, deleting whole subtrees.

#include <gtest/gtest.h>

#include "settings/registry.h"

namespace hopwise {
namespace {

const std::vector<std::uint8_t> kDash = {'-', 0, 0, 0};

class RegistryPrimitives : public ::testing::Test {
protected:
    RegKey create(RegKey parent, std::u16string_view name)
    {
        RegKey key = 0;
        EXPECT_EQ(m_registry.createKey(parent, name, 0x2001F, key), RegStatus::Success);
        return key;
    }

    std::vector<std::u16string> names(RegKey key)
    {
        std::vector<std::u16string> found;
        for (std::uint32_t index = 0; index < 100; ++index) {
            char16_t name[64];
            std::uint32_t nameLength = 64;
            std::uint32_t dataLength = 0;
            const RegStatus status =
                m_registry.enumValue(key, index, name, nameLength, nullptr, nullptr, dataLength);
            if (status != RegStatus::Success) {
                EXPECT_EQ(status, RegStatus::NoMoreItems);
                break;
            }
            found.emplace_back(name, nameLength);
        }
        return found;
    }

    RegistryDocument m_document;
    Registry m_registry{m_document};
};

TEST_F(RegistryPrimitives, openNeverCreates)
{
    RegKey key = 0;
    EXPECT_EQ(m_registry.openKey(kHkeyCurrentUser, u"Software", 0, key), RegStatus::NotFound);
    EXPECT_FALSE(m_registry.modified());
    EXPECT_EQ(m_document, RegistryDocument());
}

TEST_F(RegistryPrimitives, createMakesEveryMissingKeyOnAPath)
{
    const RegKey deep = create(kHkeyCurrentUser, u"Software\\Velmor\\Hopwise");
    EXPECT_TRUE(m_registry.modified());
    RegKey again = 0;
    EXPECT_EQ(m_registry.openKey(kHkeyCurrentUser, u"SOFTWARE\\velmor\\HOPWISE", 0, again),
              RegStatus::Success);
    ASSERT_EQ(m_registry.setValue(deep, u"a", kRegSz, kDash), RegStatus::Success);
    std::uint32_t length = 0;
    EXPECT_EQ(m_registry.queryValue(again, u"A", nullptr, nullptr, length), RegStatus::Success);
    EXPECT_EQ(length, 4u);
    ASSERT_EQ(m_document.roots[1].subkeys.size(), 1u);
    EXPECT_EQ(m_document.roots[1].subkeys[0].name, u"Software");
}

TEST_F(RegistryPrimitives, refusesNamesTheFileCantHold)
{
    const RegKey key = create(kHkeyCurrentUser, u"Software");
    const RegistryDocument before = m_document;
    RegKey bad = 0;
    for (std::u16string_view name :
         {std::u16string_view(u"a\nb"), std::u16string_view(u"\\a"), std::u16string_view(u"a\\\\b"),
          std::u16string_view(u"\xD800")})
        EXPECT_EQ(m_registry.createKey(key, name, 0, bad), RegStatus::InvalidParameter);
    EXPECT_EQ(m_registry.setValue(key, u"x\ry", kRegSz, kDash), RegStatus::InvalidParameter);
    EXPECT_EQ(m_document, before);
}

TEST_F(RegistryPrimitives, valuesEnumerateInTheOrderFirstSet)
{
    const RegKey key = create(kHkeyCurrentUser, u"Software");
    for (std::u16string_view name : {u"c", u"a", u"b"})
        m_registry.setValue(key, name, kRegSz, kDash);
    const std::vector<std::uint8_t> one = {1, 0, 0, 0};
    m_registry.setValue(key, u"A", kRegDword, one); // same value: keeps its place and spelling
    EXPECT_EQ(names(key), (std::vector<std::u16string>{u"c", u"a", u"b"}));
    std::uint32_t type = 0;
    std::uint8_t data[4] = {};
    std::uint32_t length = sizeof data;
    ASSERT_EQ(m_registry.queryValue(key, u"a", &type, data, length), RegStatus::Success);
    EXPECT_EQ(type, kRegDword);
    EXPECT_EQ(data[0], 1);
}

TEST_F(RegistryPrimitives, settingTheSameDataChangesNothing)
{
    const RegKey key = create(kHkeyCurrentUser, u"Software");
    m_registry.setValue(key, u"a", kRegSz, kDash);
    Registry second(m_document);
    RegKey again = 0;
    second.openKey(kHkeyCurrentUser, u"software", 0, again);
    EXPECT_EQ(second.setValue(again, u"A", kRegSz, kDash), RegStatus::Success);
    EXPECT_FALSE(second.modified());
    EXPECT_EQ(second.setValue(again, u"A", kRegBinary, kDash), RegStatus::Success);
    EXPECT_TRUE(second.modified());
}

TEST_F(RegistryPrimitives, buffersMustHoldTheNameWithTerminatorAndTheData)
{
    const RegKey key = create(kHkeyCurrentUser, u"Software");
    const std::vector<std::uint8_t> eight(8, 7);
    m_registry.setValue(key, u"abc", kRegBinary, eight);
    std::uint8_t data[8];
    std::uint32_t length = 4;
    EXPECT_EQ(m_registry.queryValue(key, u"abc", nullptr, data, length), RegStatus::MoreData);
    EXPECT_EQ(length, 8u);
    length = 8;
    EXPECT_EQ(m_registry.queryValue(key, u"abc", nullptr, data, length), RegStatus::Success);

    char16_t name[4];
    struct Case {
        std::uint32_t nameBuffer, dataBuffer;
        RegStatus expected;
    };
    for (const Case& c : {Case{4, 8, RegStatus::Success}, Case{3, 8, RegStatus::MoreData},
                          Case{4, 7, RegStatus::MoreData}}) {
        std::uint32_t nameLength = c.nameBuffer;
        std::uint32_t dataLength = c.dataBuffer;
        EXPECT_EQ(m_registry.enumValue(key, 0, name, nameLength, nullptr, data, dataLength),
                  c.expected)
            << c.nameBuffer << "/" << c.dataBuffer;
        if (c.expected == RegStatus::Success) {
            EXPECT_EQ(nameLength, 3u);
            EXPECT_EQ(dataLength, 8u);
        }
    }
    std::uint32_t nameLength = 4;
    std::uint32_t dataLength = 8;
    EXPECT_EQ(m_registry.enumValue(key, 1, name, nameLength, nullptr, data, dataLength),
              RegStatus::NoMoreItems);
}

TEST_F(RegistryPrimitives, deleteTakesSubkeysAndStrandsOpenHandles)
{
    const RegKey product = create(kHkeyCurrentUser, u"Software\\Velmor\\Hopwise");
    const RegKey section = create(product, u"Ping\\Inner");
    const RegKey sibling = create(product, u"PingDialog");
    EXPECT_EQ(m_registry.deleteKey(product, u"ping"), RegStatus::Success);
    EXPECT_EQ(m_registry.setValue(section, u"a", kRegSz, kDash), RegStatus::KeyDeleted);
    EXPECT_EQ(m_registry.setValue(sibling, u"a", kRegSz, kDash), RegStatus::Success);
    EXPECT_EQ(m_registry.deleteKey(product, u"Ping"), RegStatus::NotFound);
    EXPECT_EQ(m_registry.deleteKey(product, u""), RegStatus::InvalidParameter);
    EXPECT_EQ(m_registry.closeKey(section), RegStatus::Success);
    EXPECT_EQ(m_registry.closeKey(section), RegStatus::InvalidHandle);
    EXPECT_EQ(m_registry.closeKey(kHkeyCurrentUser), RegStatus::Success);
}

} // namespace
} // namespace hopwise
