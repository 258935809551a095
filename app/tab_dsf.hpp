#pragma once
// "Convert .dsf to .bin": a simulator recording gets the bit order of the RF simulator.
#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include "common/progress.hpp"

class QLabel;
class QProgressBar;
class QPushButton;

namespace trajix::gui {

class TabHost;

class DsfTab : public QWidget {
    Q_OBJECT
public:
    explicit DsfTab(TabHost& host, QWidget* parent = nullptr);

    /// Converts a .dsf recording into output on this tab (gauges, Label17); errors go
    /// to the prompt. True when the recording was converted.
    bool convertRecording(const QString& input, const QString& output);

    QPushButton* Button1 = nullptr;
    QProgressBar* progressbar2 = nullptr;
    QLabel* Label17 = nullptr;

    /// Says why input cannot be converted (it cannot be read, or holds less than one
    /// second of signal) and returns false; true when it can be.
    bool checkInput(const QString& input);

public slots:
    /// Asks for a .dsf recording and converts it.
    void pickAndConvert();

private:
    TabHost& host_;
};

/// Progress of the recording steps, shown where the caller says. A conversion moves
/// the tab's gauge and the progress window's gauge together, the window itself stays as
/// the caller left it; the scenario step's own steps ("Processing dsf file") only
/// prepare and close the progress window.
class RecordingProgress final : public trajix::ProgressSink {
public:
    enum class Step { Conversion, ScenarioStep };
    RecordingProgress(DsfTab& tab, TabHost& host, Step step) : tab_(tab), host_(host), step_(step) {}

    void start(std::string_view caption, long long maximum) override;
    void position(long long position) override;
    void finish() override;

private:
    // Window messages run between blocks, but not more often than every 50 ms.
    void keepAlive(bool force);

    DsfTab& tab_;
    TabHost& host_;
    Step step_;
    QElapsedTimer sinceRepaint_;
};

}  // namespace trajix::gui
