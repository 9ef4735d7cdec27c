#pragma once

// A private directory per test for the backing file, and direct looks into that file.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "settings/registry_text.h"

namespace hopwise::test {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "hopwise-settings-XXXXXX");
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline std::optional<std::string> ReadWholeFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteWholeFile(const std::filesystem::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

inline std::string TestDataFile(const std::string& name)
{
    const std::optional<std::string> text =
        ReadWholeFile(std::filesystem::path(HOPWISE_SETTINGS_TEST_DATA) / name);
    if (!text)
        throw std::runtime_error("missing test data " + name);
    return *text;
}

// The file's document; fails the test when it doesn't parse.
inline RegistryDocument ParseFile(const std::filesystem::path& file)
{
    RegistryDocument document;
    RegistryParseError error;
    const std::optional<std::string> text = ReadWholeFile(file);
    EXPECT_TRUE(text.has_value()) << file;
    EXPECT_TRUE(ParseRegistryText(text.value_or(""), document, error))
        << "line " << error.line << ": " << error.message;
    return document;
}

// The key at HKEY_CURRENT_USER\<path...>, or nullptr.
inline RegistryKeyNode* FindKey(RegistryDocument& document,
                                std::initializer_list<std::u16string_view> path)
{
    RegistryKeyNode* node = &document.roots[1];
    for (std::u16string_view name : path) {
        node = node->findSubkey(name);
        if (node == nullptr)
            return nullptr;
    }
    return node;
}

} // namespace hopwise::test
