#include "app/secondary_windows.hpp"

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

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
    layout->addSpacing(12);
    layout->addLayout(buttons);
}

void RecordingWaitWindow::done(int result)
{
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
