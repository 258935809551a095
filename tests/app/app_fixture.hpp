#pragma once
// A main window under test: its own settings file (TRAJIX_CONFIG), no advert download,
// message boxes replaced by a scripted prompt.
#include <gtest/gtest.h>

#include <QString>

#include <memory>

#include "app/main_window.hpp"
#include "test_support.hpp"

namespace trajix::test {

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// A started window as the user sees it: activated, Timer1 fired.
    std::unique_ptr<gui::TForm1> startWindow(const gui::StartOptions& options = {});
    void writeSettingsFile(std::string_view text);
    std::string settingsText() const;

    TempDir dir;
    std::filesystem::path configPath;
    ScriptedPrompt prompt;
};

inline QString qs(const char* text)
{
    return QString::fromUtf8(text);
}

}  // namespace trajix::test
