#pragma once
// "User commands": a script of motion commands becomes a trajectory.
#include <QString>
#include <QWidget>

#include "script/script.hpp"

class QChartView;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QPushButton;

namespace trajix::gui {

class CommandEditor;
class FileDateRow;
class TabHost;

class UserCommandsTab : public QWidget {
    Q_OBJECT
public:
    explicit UserCommandsTab(TabHost& host, QWidget* parent = nullptr);

    /// Runs Memo1's script into the NMEA file target, or for the charts only when target
    /// is empty. Messages and errors go to the prompt. True when the file was written.
    bool runCommandScript(const QString& target);
    /// The script file last loaded or saved.
    const QString& commandFileName() const { return commandFileName_; }
    /// A run is under way (its progress window lets events through).
    bool scriptRunning() const { return scriptRunning_; }

    /// The script, with line numbers; a refused run marks the line it names.
    CommandEditor* Memo1 = nullptr;
    QLineEdit* userMaxJerkEdit = nullptr;
    QLineEdit* outputUpdateEdit2 = nullptr;
    /// The date of the first fix (the Settings tab's date) and whether the sky is on;
    /// the script's "time=" line sets the time.
    FileDateRow* dateRow = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn4 = nullptr;
    QPushButton* BitBtn6 = nullptr;
    QPushButton* previewButton = nullptr;
    QPushButton* GenerateNMEAfilebutton = nullptr;
    QChartView* Chart2 = nullptr;
    QChartView* Chart5 = nullptr;
    QChartView* Chart7 = nullptr;
    QLineSeries* Series4 = nullptr;
    QLineSeries* Series9 = nullptr;
    QLineSeries* Series13 = nullptr;

signals:
    /// "Help" was clicked: the window shows the command help.
    void helpRequested();

public slots:
    /// Asks for a script file and puts its lines into Memo1.
    void loadScript();
    /// Asks for a file name and writes Memo1's lines up to ".end" there.
    void saveScript();
    /// Runs the script for the charts only.
    void preview();
    /// Runs the script into an NMEA file the user names, then hands the file over.
    void generate();

private:
    /// The run's options from the edits; writing adds the output rate. Throws Error
    /// naming the edit that holds no usable number.
    trajix::ScriptOptions scriptOptions(bool writing) const;
    /// With the sky on, checks that its file covers the script's first fix (the date and
    /// the script's last "time=" line), before anything runs; outside, asks whether to
    /// start inside what it covers and then sets the date and the time line. False when
    /// nothing may run.
    bool startInsideSky();
    /// A file name for a save dialog: the script file's name (or "commands") with ending.
    QString suggestedName(const char* ending) const;

    TabHost& host_;
    QString commandFileName_;
    trajix::ScriptState scriptState_;  ///< start point and height carry over between runs
    bool scriptRunning_ = false;
};

}  // namespace trajix::gui
