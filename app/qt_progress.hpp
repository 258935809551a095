#pragma once
// The core's progress and prompt callbacks, shown in the progress windows and in
// message boxes.
#include <QElapsedTimer>
#include <QPointer>

#include <future>
#include <thread>
#include <utility>

#include "common/progress.hpp"
#include "common/prompt.hpp"

class QDialog;
class QLabel;
class QProgressBar;
class QWidget;

namespace trajix::gui {

class ProgressWindow;
class SearchProgressWindow;

/// Drives ProgressForm (one gauge) or ProgressForm2 (with the inner gauge): start()
/// shows the window with the step as its caption, position() moves Gauge1, inner()
/// moves Gauge2, finish() closes the window. Window messages are processed at most
/// every 50 ms so the window stays alive without slowing the work down.
class QtProgress final : public trajix::ProgressSink {
public:
    explicit QtProgress(ProgressWindow* form);
    explicit QtProgress(SearchProgressWindow* form);
    ~QtProgress() override;

    void start(std::string_view caption, long long maximum) override;
    void position(long long position) override;
    void inner(int percent) override;
    void finish() override;
    /// True once Cancel of the window was clicked during this run.
    bool cancelled() override;

private:
    void keepAlive(bool force);

    QPointer<QDialog> window_;
    QProgressBar* gauge_ = nullptr;
    QProgressBar* innerGauge_ = nullptr;
    QLabel* stepLabel_ = nullptr;
    bool* cancelRequested_ = nullptr;
    long long scale_ = 1;  // counts beyond the gauge's int range are shown divided
    QElapsedTimer sinceRepaint_;
};

/// Lets the window system's messages (not the user's input) through once, then every
/// 20 ms until done is ready.
void processEventsUntil(const std::future<void>& done);

/// Runs work, a piece of core work that reports no progress (a scan, a copy) and
/// touches no widget, on a worker thread while the window stays alive (resized,
/// repainted); returns its result or throws what it threw.
template <class Work>
auto whileWindowAlive(Work work) -> decltype(work())
{
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    std::promise<void> finished;
    std::future<void> done = finished.get_future();
    std::thread worker([&] {
        task();
        finished.set_value();
    });
    processEventsUntil(done);
    worker.join();
    return result.get();
}

/// Message boxes owned by a window: information() shows an information box,
/// askYesNo() a warning-type question with Yes and No.
class QtPrompt final : public trajix::UserPrompt {
public:
    explicit QtPrompt(QWidget* owner) : owner_(owner) {}
    void information(std::string_view text) override;
    /// A message with the warning icon, for a run that failed.
    void warning(std::string_view text);
    bool askYesNo(std::string_view question) override;

private:
    QPointer<QWidget> owner_;
};

}  // namespace trajix::gui
