#pragma once

// A store over a backing file in a private directory per test, and the files under data/.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "res/stored_names.h"
#include "settings/host_history.h"
#include "settings/page_settings.h"
#include "settings/settings_warning.h"

namespace hopwise::test {

inline std::string ReadFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline const std::string kData = HOPWISE_SETTINGS_TEST_DATA "/";

class SettingsTest : public ::testing::Test {
protected:
    ~SettingsTest() override { std::filesystem::remove_all(m_dir); }

    SettingsStore openStore()
    {
        SettingsStore store(m_file);
        store.SetRegistryKey(kCompanyKey);
        store.SetAppName(kApplicationName);
        return store;
    }

    void writeFile(const std::string& text)
    {
        std::filesystem::create_directories(m_file.parent_path());
        std::ofstream(m_file, std::ios::binary | std::ios::trunc) << text;
    }

    std::filesystem::path m_dir = [] {
        std::string pattern = std::filesystem::temp_directory_path() / "hopwise-settings-XXXXXX";
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
        return std::filesystem::path(pattern);
    }();
    std::filesystem::path m_file = m_dir / "Velmor" / "Hopwise.reg";
};

// The settings warnings told while it lives, kind and text.
struct CapturedWarnings {
    CapturedWarnings()
    {
        SetSettingsWarningSink([this](SettingsWarning kind, std::string_view text) {
            kinds.push_back(kind);
            texts.emplace_back(text);
        });
    }
    ~CapturedWarnings() { SetSettingsWarningSink({}); }
    std::vector<SettingsWarning> kinds;
    std::vector<std::string> texts;
};

} // namespace hopwise::test
