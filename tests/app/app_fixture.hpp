#pragma once
// A main window under test: its own settings file (TRAJIX_CONFIG), no advert download,
// message boxes replaced by a scripted prompt.
#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <deque>
#include <memory>

#include "app/main_window.hpp"
#include "test_support.hpp"

namespace trajix::test {

/// Answers the open and save dialogs from queues (an empty answer is a cancel) and
/// records what was asked.
class ScriptedDialogs final : public gui::FileDialogs {
public:
    QString openFile(QWidget*, const QString& title, const QString& pattern) override
    {
        asked.push_back("open: " + title + " | " + pattern);
        return next(openAnswers);
    }
    QString saveFile(QWidget*, const QString& title, const QString& pattern) override
    {
        asked.push_back("save: " + title + " | " + pattern);
        return next(saveAnswers);
    }

    std::deque<QString> openAnswers, saveAnswers;
    QStringList asked;

private:
    static QString next(std::deque<QString>& answers)
    {
        if (answers.empty()) return {};
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
};


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
