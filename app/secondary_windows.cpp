#include "app/secondary_windows.hpp"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "app/widgets.hpp"

namespace trajix::gui {

void centreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

namespace {

// Progress windows have a caption but no close, minimise or maximise box: the work
// that shows them closes them.
constexpr Qt::WindowFlags progressFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

QProgressBar* makeGauge(QWidget* parent, const char* name)
{
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(name);
    gauge->setRange(0, 100);
    gauge->setValue(0);
    gauge->setMinimumWidth(360);
    return gauge;
}

// Cancel asks the run to stop; the run checks between its steps and closes the window.
QPushButton* makeCancelButton(QDialog* window, bool& cancelRequested)
{
    auto* button = new QPushButton("Cancel", window);
    button->setObjectName("CancelButton");
    QObject::connect(button, &QPushButton::clicked, window, [&cancelRequested] { cancelRequested = true; });
    return button;
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* parent) : QDialog(parent, progressFlags)
{
    setObjectName("ProgressForm");
    setWindowTitle("Progress");
    StepLabel = new QLabel(this);
    StepLabel->setObjectName("StepLabel");
    Gauge1 = makeGauge(this, "Gauge1");
    CancelButton = makeCancelButton(this, cancelRequested);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StepLabel);
    layout->addWidget(Gauge1);
    layout->addWidget(CancelButton, 0, Qt::AlignRight);
}

void ProgressWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centreOnScreen(this);
}

SearchProgressWindow::SearchProgressWindow(QWidget* parent) : QDialog(parent, progressFlags)
{
    setObjectName("ProgressForm2");
    setWindowTitle("Progress");
    StepLabel = new QLabel(this);
    StepLabel->setObjectName("StepLabel");
    Gauge1 = makeGauge(this, "Gauge1");
    Gauge2 = makeGauge(this, "Gauge2");
    CancelButton = makeCancelButton(this, cancelRequested);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(StepLabel);
    layout->addWidget(Gauge1);
    layout->addWidget(Gauge2);
    layout->addWidget(CancelButton, 0, Qt::AlignRight);
}

void SearchProgressWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centreOnScreen(this);
}

CommandHelpWindow::CommandHelpWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName("helpform");
    setWindowTitle("Command help");
    setModal(false);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setFont(monospacedFont());

    CloseButton = new QPushButton("Close", this);
    CloseButton->setObjectName("CloseButton");
    CloseButton->setDefault(true);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1);
    layout->addLayout(buttons);

    // Wide enough for the longest help line without a scroll bar.
    const QFontMetrics metrics(Memo1->font());
    resize(metrics.horizontalAdvance(QString(90, 'x')) + 40, metrics.lineSpacing() * 24 + 80);
}

void CommandHelpWindow::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) CloseButton->setFocus();
}

void CommandHelpWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    CloseButton->setFocus();
}

RecordingWaitWindow::RecordingWaitWindow(QWidget* parent) : QDialog(parent)
{
    setObjectName("continueForm");
    setWindowTitle("Waiting for dsf file...");
    setModal(true);

    Label1 = new QLabel("Please WAIT until TrajixBinary has completely finished,", this);
    Label1->setObjectName("Label1");
    Label2 = new QLabel("and then click continue ", this);
    Label2->setObjectName("Label2");
    GeneratorGauge = new QProgressBar(this);
    GeneratorGauge->setObjectName("GeneratorGauge");
    GeneratorGauge->setRange(0, 1);
    GeneratorGauge->setValue(0);
    GeneratorGauge->setFormat("%v of %m s written");
    GeneratorGauge->setMinimumWidth(360);
    GeneratorLabel = new ElidedLabel(QString(), this);
    GeneratorLabel->setObjectName("GeneratorLabel");
    watch_ = new QTimer(this);
    watch_->setInterval(200);
    connect(watch_, &QTimer::timeout, this, &RecordingWaitWindow::showGeneratorProgress);
    Button1 = new QPushButton("Continue", this);
    Button1->setObjectName("Button1");
    Button2 = new QPushButton("Cancel", this);
    Button2->setObjectName("Button2");
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Label2);
    layout->addSpacing(8);
    layout->addWidget(GeneratorGauge);
    layout->addWidget(GeneratorLabel);
    layout->addSpacing(12);
    layout->addLayout(buttons);
}

namespace {

// The last line of a text file that holds something, from its last few kilobytes.
QString lastLineOf(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return {};
    constexpr qint64 tail = 4096;
    if (file.size() > tail) file.seek(file.size() - tail);
    const QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QRegularExpression("[\\r\\n]"));
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        if (!line->trimmed().isEmpty()) return line->trimmed();
    return {};
}

}  // namespace

void RecordingWaitWindow::watchGenerator(const GeneratorRun& run)
{
    run_ = run;
    // A recording or log older than the watch belongs to an earlier run (go.sh removes
    // the old output.dsf as it starts); the file times may lag the clock a little.
    watchedSince_ = QDateTime::currentDateTimeUtc().addSecs(-1);
    GeneratorLabel->clear();
    showGeneratorProgress();
    watch_->start();
}

void RecordingWaitWindow::showGeneratorProgress()
{
    const QDir folder(run_.toolFolder);
    // The generator writes its recording under a partial name and renames it when done.
    qint64 bytes = 0;
    const QFileInfoList recordings =
        folder.entryInfoList({"output.dsf", ".output.dsf.partial-*"}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& recording : recordings)
        if (recording.lastModified().toUTC() >= watchedSince_) bytes = std::max(bytes, recording.size());

    const int seconds = run_.seconds > 0 ? static_cast<int>(std::ceil(run_.seconds - 1e-9)) : 0;
    if (seconds > 0 && run_.bytesPerSecond > 0) {
        GeneratorGauge->setRange(0, seconds);
        GeneratorGauge->setValue(static_cast<int>(std::min<qint64>(bytes / run_.bytesPerSecond, seconds)));
    } else {
        GeneratorGauge->setRange(0, 0);  // the length is not known: the gauge shows that work goes on
    }

    QString said;
    if (!run_.logFile.isEmpty() && QFileInfo(run_.logFile).lastModified().toUTC() >= watchedSince_)
        said = lastLineOf(run_.logFile);
    if (said.isEmpty() && run_.bytesPerSecond > 0)
        said = QString("%1 s of signal written")
                   .arg(static_cast<double>(bytes) / static_cast<double>(run_.bytesPerSecond), 0, 'f', 1);
    GeneratorLabel->setText(said);
}

void RecordingWaitWindow::done(int result)
{
    watch_->stop();
    // Closing the window by its frame counts as Cancel, never as a stale Continue.
    continueConfirmed = result == QDialog::Accepted;
    QDialog::done(result);
}

void RecordingWaitWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    centreOnScreen(this);
}

}  // namespace trajix::gui
