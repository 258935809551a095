// The date and sky of a writing tab, and the check that the sky covers the first fix.
#include "app/sky_start.hpp"

#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <fmt/format.h>

#include "common/prompt.hpp"
#include "nmea/dates.hpp"
#include "sky/sky_model.hpp"

namespace trajix::gui {

namespace {

// The sky's state in the room the row leaves it: the end of a long file name gives way
// ("Sky on: brdc1820_00…"); the tooltip names the whole file.
class SkyStateLabel final : public QLabel {
public:
    explicit SkyStateLabel(QWidget* parent) : QLabel("Sky off", parent)
    {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    QSize minimumSizeHint() const override
    {
        // Room for "Sky on: " and the start of a file name.
        return {fontMetrics().averageCharWidth() * 22, QLabel::minimumSizeHint().height()};
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override
    {
        QPainter painter(this);
        const QRect room = contentsRect();
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(room, static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter),
                         fontMetrics().elidedText(text(), Qt::ElideRight, room.width()));
    }
};

}  // namespace

const char* const skyOffHint =
    "The sky is off: switch it on in the Settings tab, \"Satellites from\", with an almanac or RINEX navigation file";

FileDateRow::FileDateRow(const QString& prefix, QWidget* parent) : QWidget(parent)
{
    setObjectName(prefix + "DateRow");
    auto* caption = new QLabel("First fix date (UTC)", this);
    dateEdit = new QDateEdit(QDateTime::currentDateTimeUtc().date(), this);
    dateEdit->setObjectName(prefix + "DateEdit");
    dateEdit->setDisplayFormat("yyyy-MM-dd");
    dateEdit->setCalendarPopup(true);
    dateEdit->setDateRange(QDate(1980, 1, 6), QDate(2099, 12, 31));
    dateEdit->setToolTip(
        "UTC date of the first fix, the same as the Settings tab's date: RMC, ZDA and the sky need it "
        "(editable when one of them is on)");
    dateEdit->setEnabled(false);
    caption->setBuddy(dateEdit);
    skyLabel = new SkyStateLabel(this);
    skyLabel->setObjectName(prefix + "SkyLabel");
    skyLabel->setToolTip(skyOffHint);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(caption);
    row->addWidget(dateEdit);
    row->addSpacing(12);
    row->addWidget(skyLabel, 1);
}

void FileDateRow::showChoices(bool dateNeeded, bool sky, const QString& skyFile)
{
    dateEdit->setEnabled(dateNeeded || sky);
    const QString name = QFileInfo(skyFile).fileName();
    skyLabel->setText(sky ? "Sky on: " + (name.isEmpty() ? QString("no file chosen") : name) : QString("Sky off"));
    skyLabel->setToolTip(sky ? "Satellites from " + skyFile + " (the Settings tab, \"Satellites from\")"
                             : QString(skyOffHint));
}

QString startInsideQuestion(const sky::SkyNotCovered& error, const trajix::FileStart& start, const QString& what)
{
    const auto& d = start.date;
    const long long s = start.secondOfDay;
    return QString::fromStdString(
        fmt::format("{}.\n\nStart at {:04}-{:02}-{:02} {:02}:{:02}:{:02} UTC instead, inside "
                    "what the file covers? Yes sets {}.",
                    error.what(), d.year, d.month, d.day, s / 3600, s / 60 % 60, s % 60, what.toStdString()));
}

QString startOnDateQuestion(const sky::SkyNotCovered& error, const trajix::CalendarDate& date)
{
    return QString::fromStdString(
        fmt::format("{}.\n\nSet the first fix date to {:04}-{:02}-{:02}, inside what the file "
                    "covers, and import again? (The log keeps its times of day.)",
                    error.what(), date.year, date.month, date.day));
}

SkyStartCheck checkSkyStart(trajix::UserPrompt& prompt, const trajix::DateSentences& dates, long double clock,
                            const QString& what)
{
    if (!dates.sky || !dates.date) return {};
    try {
        trajix::checkSkyCoversStart(*dates.sky, *dates.date, clock);
        return {};
    } catch (const sky::SkyNotCovered& error) {
        const trajix::FileStart start = trajix::suggestedFileStart(error.coverage());
        if (!prompt.askYesNo(startInsideQuestion(error, start, what).toStdString())) return {false, std::nullopt};
        return {true, start};
    }
}

}  // namespace trajix::gui
