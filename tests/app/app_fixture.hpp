#pragma once
// A main window under test: its own settings file (TRAJIX_CONFIG), no advert download,
// message boxes replaced by a scripted prompt.
#include <gtest/gtest.h>

#include <QChartView>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QString>
#include <QStringList>
#include <QTabWidget>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "app/main_window.hpp"
#include "app/tab_dsf.hpp"
#include "app/tab_google_earth.hpp"
#include "app/tab_kelo.hpp"
#include "app/tab_serial.hpp"
#include "app/tab_settings.hpp"
#include "app/tab_user_commands.hpp"
#include "app/widgets.hpp"
#ifdef TRAJIX_WITH_QTSERIAL
#include "replay/engine.hpp"
#endif
#include "test_support.hpp"

namespace trajix::test {

/// The one file-dialog fake of the GUI tests. Answers the open and save dialogs from
/// queues (an empty answer is a cancel): openAnswers and saveAnswers answer their own
/// kind of dialog first, answers answers any dialog in the order asked. Records what
/// was asked.
class ScriptedDialogs final : public gui::FileDialogs {
public:
    QString openFile(QWidget*, const QString& title, const QString& pattern) override
    {
        record("open: ", title, pattern);
        return next(openAnswers.empty() ? answers : openAnswers);
    }
    QString saveFile(QWidget*, const QString& title, const QString& pattern) override
    {
        record("save: ", title, pattern);
        return next(saveAnswers.empty() ? answers : saveAnswers);
    }

    std::deque<QString> openAnswers, saveAnswers, answers;
    QStringList asked;  ///< "open: title | pattern" or "save: ..."
    std::vector<QString> titles, patterns;
    std::function<void()> onAsk;  ///< called as each dialog opens, to look at the window then

private:
    void record(const char* kind, const QString& title, const QString& pattern)
    {
        if (onAsk) onAsk();
        asked.push_back(kind + title + " | " + pattern);
        titles.push_back(title);
        patterns.push_back(pattern);
    }
    static QString next(std::deque<QString>& queue)
    {
        if (queue.empty()) return {};
        QString answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// A started window as the user sees it: activated, the settings shown.
    std::unique_ptr<gui::MainWindow> startWindow(const gui::StartOptions& options = {});
    void writeSettingsFile(std::string_view text);
    std::string settingsText() const;

    TempDir dir;
    std::filesystem::path configPath;
    ScriptedPrompt prompt;
};

/// The control of the window's tabs with this object name (the secondary windows have
/// controls of the same names, so only the tabs are searched).
template <class Control>
Control* control(const gui::MainWindow& form, const char* name)
{
    auto* found = form.PageControl1->findChild<Control*>(QString::fromLatin1(name));
    if (!found) ADD_FAILURE() << "no control named " << name;
    return found;
}

/// The tab of the given class.
template <class Tab>
Tab* tab(const gui::MainWindow& form)
{
    auto* found = form.PageControl1->findChild<Tab*>();
    if (!found) ADD_FAILURE() << "no such tab";
    return found;
}

/// The chart series of this name on one of the tabs.
inline QLineSeries* series(const gui::MainWindow& form, const char* name)
{
    for (QChartView* view : form.PageControl1->findChildren<QChartView*>())
        for (QAbstractSeries* candidate : view->chart()->series())
            if (candidate->name() == QLatin1String(name)) return qobject_cast<QLineSeries*>(candidate);
    ADD_FAILURE() << "no series named " << name;
    return nullptr;
}

#ifdef TRAJIX_WITH_QTSERIAL
/// The replay file as the replay engine holds it.
inline QString replayFileName(gui::MainWindow& form)
{
    return QString::fromStdString(form.replayState().replayFileName);
}
#endif

/// What the user sees in a memo whose columns must line up: every character of its text
/// is drawn as wide as every other in the memo's font (whatever the font's family, and
/// whether or not it calls itself fixed pitch).
inline void expectDrawnMonospaced(const QPlainTextEdit* memo)
{
    const QString text = memo->toPlainText();
    ASSERT_FALSE(text.isEmpty()) << memo->objectName().toStdString() << " shows nothing to measure";
    const QFontMetrics metrics(memo->font());
    const int width = metrics.horizontalAdvance(text.front());
    QString otherWidths;
    for (const QChar c : text)
        if (c != QLatin1Char('\n') && metrics.horizontalAdvance(c) != width && !otherWidths.contains(c))
            otherWidths += c;
    EXPECT_TRUE(otherWidths.isEmpty()) << memo->objectName().toStdString() << " in "
                                       << QFontInfo(memo->font()).family().toStdString() << ": '"
                                       << otherWidths.toStdString() << "' not as wide as '"
                                       << QString(text.front()).toStdString() << "'";
}

inline QString qs(const char* text)
{
    return QString::fromUtf8(text);
}

}  // namespace trajix::test
