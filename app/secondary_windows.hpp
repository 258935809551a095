#pragma once
// The windows that the main window creates at start-up besides itself: the two
// progress windows, the command help and the wait for the simulator's recording.
#include <QDateTime>
#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace trajix::gui {

/// "Progress" with one gauge, the step's name above it and Cancel below; no border
/// icons, centred on the desktop.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* parent = nullptr);
    QLabel* StepLabel = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QPushButton* CancelButton = nullptr;
    /// Set by Cancel; the run that shows the window clears it when it starts.
    bool cancelRequested = false;

protected:
    void showEvent(QShowEvent* event) override;
};

/// "Progress" with the overall gauge and the inner search gauge (0 to 100), the step's
/// name and Cancel; centred.
class SearchProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit SearchProgressWindow(QWidget* parent = nullptr);
    QLabel* StepLabel = nullptr;
    QProgressBar* Gauge1 = nullptr;
    QProgressBar* Gauge2 = nullptr;
    QPushButton* CancelButton = nullptr;
    /// Set by Cancel; the run that shows the window clears it when it starts.
    bool cancelRequested = false;

protected:
    void showEvent(QShowEvent* event) override;
};

/// "Command help": the command language in a read-only monospaced memo.
class CommandHelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit CommandHelpWindow(QWidget* parent = nullptr);
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* CloseButton = nullptr;

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
};

/// "Waiting for dsf file...": shown modally while the external generator runs. While
/// it watches a run, a gauge shows the seconds of signal written so far and a line the
/// generator's last message.
class RecordingWaitWindow : public QDialog {
    Q_OBJECT
public:
    explicit RecordingWaitWindow(QWidget* parent = nullptr);
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QProgressBar* GeneratorGauge = nullptr;
    QLabel* GeneratorLabel = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    /// Set by "Continue", cleared by "Cancel"; kept until the next wait.
    bool continueConfirmed = false;

    /// What to watch until the window closes: the recording output.dsf in toolFolder
    /// (and the generator's partial file of it), which grows by bytesPerSecond per second
    /// of signal up to seconds (0 when not known: the gauge then only shows that it
    /// works), and the generator's messages in logFile (empty when they go elsewhere,
    /// such as a terminal window).
    struct GeneratorRun {
        QString toolFolder;
        double seconds = 0;
        qint64 bytesPerSecond = 0;
        QString logFile;
    };
    /// Starts watching run: from now until the window closes the gauge and the line
    /// follow it.
    void watchGenerator(const GeneratorRun& run);
    /// Takes one look at the run and shows it (the watch does it five times a second).
    void showGeneratorProgress();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    GeneratorRun run_;
    QDateTime watchedSince_;
    QTimer* watch_ = nullptr;
};

/// Moves a top-level window to the centre of the screen it is on.
void centreOnScreen(QWidget* window);

}  // namespace trajix::gui
