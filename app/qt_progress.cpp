#include "app/qt_progress.hpp"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

#include <algorithm>
#include <chrono>
#include <climits>

#include "app/secondary_windows.hpp"

namespace trajix::gui {

namespace {
constexpr qint64 repaintIntervalMs = 50;
constexpr const char* messageCaption = "Trajix";

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

QtProgress::QtProgress(ProgressWindow* form)
    : window_(form), gauge_(form->Gauge1), stepLabel_(form->StepLabel), cancelRequested_(&form->cancelRequested)
{
    form->cancelRequested = false;
}

QtProgress::QtProgress(SearchProgressWindow* form)
    : window_(form),
      gauge_(form->Gauge1),
      innerGauge_(form->Gauge2),
      stepLabel_(form->StepLabel),
      cancelRequested_(&form->cancelRequested)
{
    form->cancelRequested = false;
}

QtProgress::~QtProgress() = default;

void QtProgress::start(std::string_view caption, long long maximum)
{
    if (!window_) return;
    window_->setWindowTitle(fromUtf8(caption));
    stepLabel_->setText(fromUtf8(caption));
    if (maximum < 0) maximum = 0;
    scale_ = maximum / INT_MAX + 1;
    gauge_->setRange(0, static_cast<int>(maximum / scale_));
    gauge_->setValue(0);
    if (innerGauge_) {
        innerGauge_->setRange(0, 100);
        innerGauge_->setValue(0);
    }
    if (!window_->isVisible()) window_->show();
    keepAlive(true);
}

void QtProgress::position(long long position)
{
    if (!window_) return;
    gauge_->setValue(static_cast<int>(std::clamp(position / scale_, 0LL, static_cast<long long>(gauge_->maximum()))));
    keepAlive(false);
}

void QtProgress::inner(int percent)
{
    if (!window_ || !innerGauge_) return;
    innerGauge_->setValue(std::clamp(percent, 0, 100));
    keepAlive(false);
}

void QtProgress::finish()
{
    if (!window_) return;
    window_->close();
    keepAlive(true);
}

bool QtProgress::cancelled()
{
    return window_ && *cancelRequested_;
}

void QtProgress::keepAlive(bool force)
{
    if (!force && sinceRepaint_.isValid() && sinceRepaint_.elapsed() < repaintIntervalMs) return;
    QApplication::processEvents();
    sinceRepaint_.start();
}

void processEventsUntil(const std::future<void>& done)
{
    // Only the window system's own events (resize, repaint): a click or a key meanwhile
    // waits until the work is done, so no second run can start inside this one.
    do {
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    } while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready);
}

void QtPrompt::information(std::string_view text)
{
    QMessageBox::information(owner_, messageCaption, fromUtf8(text));
}

void QtPrompt::warning(std::string_view text)
{
    QMessageBox::warning(owner_, messageCaption, fromUtf8(text));
}

bool QtPrompt::askYesNo(std::string_view question)
{
    return QMessageBox::warning(owner_, messageCaption, fromUtf8(question), QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace trajix::gui
