#pragma once
// "Serial Output": replays an NMEA file, ours or a receiver log, in real time to a
// serial port, TCP clients or a UDP address.
#include <QString>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace trajix {
class PeriodicTimer;
struct ReplayState;
}  // namespace trajix

namespace trajix::gui {

class TabHost;
struct SerialReplay;
/// Ends the tab's port, timer and replay engine.
struct SerialReplayDeleter {
    void operator()(SerialReplay* replay) const;
};

class SerialTab : public QWidget {
    Q_OBJECT
public:
    explicit SerialTab(TabHost& host, QWidget* parent = nullptr);
    ~SerialTab() override;

    /// Describes the replay file anew (rate, length, type, step count) when fileName is
    /// it, as after a writer overwrote it; any other file leaves the tab as it is.
    void scanfile(const QString& fileName);
    /// Scans fileName and makes it the replay file when the scan measures a rate;
    /// otherwise says why and keeps the previous replay file.
    void adoptReplayFile(const QString& fileName);
    /// Ends playback: closes the replay file and stops the paced timer.
    void endReplay();
    /// Enables Start, Pause (or Resume) and Stop as the connection and playback stand.
    void showPlaybackState();
    /// Purges and closes the serial port if it is open.
    void releaseSerialPort();
    /// Puts a manually driven timer in place of the high-precision one (tests call
    /// playStep for its ticks); nullptr restores it.
    void setReplayTimer(trajix::PeriodicTimer* timer);
#ifdef TRAJIX_WITH_QTSERIAL
    /// The replay engine's state: file, step count, position, open file and port.
    trajix::ReplayState& replayState();
#endif

    /// "Serial port", "TCP server" or "UDP".
    QComboBox* ReplayOutputComboBox = nullptr;
    QLabel* ComPortLabel = nullptr;
    QLineEdit* ComPortEdit = nullptr;
    /// The TCP server's "[HOST:]PORT" or the UDP "HOST:PORT", in place of the COM port.
    QLabel* ReplayAddressLabel = nullptr;
    QLineEdit* ReplayAddressEdit = nullptr;
    /// Where the network output goes, and its clients coming, going and dropped.
    QLabel* NetworkLabel = nullptr;
    /// Gaps of a receiver log longer than this many seconds play this long; empty for none.
    QLineEdit* ReplayMaxGapEdit = nullptr;
    QComboBox* BaudRateComboBox = nullptr;
    QPushButton* ComConnectButton = nullptr;
    QPushButton* LoadReplayFileButton = nullptr;
    QLabel* replayFilenameEdit = nullptr;
    QLineEdit* ReplayOutputRateEdit = nullptr;
    QLabel* ReplayFileLengthLabel = nullptr;
    QLabel* ReplayFileTypeLabel = nullptr;
    QComboBox* ReplaySpeedComboBox = nullptr;
    QCheckBox* RepeatReplayCheckBox = nullptr;
    QPushButton* StartReplayButton = nullptr;
    QPushButton* PauseReplayButton = nullptr;
    QPushButton* StopReplayButton = nullptr;
    QProgressBar* ReplayProgress = nullptr;
    QLabel* BufferLabel = nullptr;
    QPlainTextEdit* OutputpreviewMemo = nullptr;
    QTimer* ComWaitTimer = nullptr;

public slots:
    /// Opens the chosen output (serial port, TCP server, UDP), or closes it when open.
    void toggleConnection();
    /// Shows the edits the chosen output needs: the COM port or the network address.
    void showOutputControls();
    /// Gives a running playback the chosen speed.
    void applySpeed();
    /// Asks for a file and makes it the replay file.
    void pickReplayFile();
    /// Starts playing the replay file from the start (or from where it paused).
    void start();
    /// Pauses playback where it is.
    void pause();
    /// Stops playback and goes back to the start of the file.
    void stop();
    /// Lets Connect be clicked again, a second after the port opened.
    void enableConnectButton();
    /// Plays the next step of the replay file (the paced timer's tick). lastDue, when
    /// the timer gives it, is the count of ticks fallen due: a receiver log then sends
    /// every epoch due by then, so a window that fell behind catches up with the clock.
    void playStep(long long lastDue = -1);

private:
    TabHost& host_;
    /// The port, paced timer and replay engine behind the tab (nothing in a build
    /// without the replay).
    std::unique_ptr<SerialReplay, SerialReplayDeleter> serialReplay_;
};

}  // namespace trajix::gui
