#pragma once
// The date and sky of a writing tab: the date of the first fix, editable where the
// file is written, a word on whether the sky is on and where to switch it; and the
// check, before anything runs, that the sky file covers the first fix, with an offer to
// start inside the span it covers.
#include <optional>

#include <QString>
#include <QWidget>

#include "nmea/dates.hpp"
#include "nmea/sky_sentences.hpp"

class QDateEdit;
class QLabel;

namespace trajix {
class UserPrompt;
}

namespace trajix::gui {

/// "First fix date (UTC)" with its date edit and the sky's state ("Sky on: file" or
/// "Sky off"). The window keeps its date the same as the Settings tab's date edit.
class FileDateRow : public QWidget {
    Q_OBJECT
public:
    /// The edit is named prefix + "DateEdit", the sky's state prefix + "SkyLabel".
    FileDateRow(const QString& prefix, QWidget* parent = nullptr);

    /// The date is editable when a sentence needs it (RMC, ZDA or the sky); the label
    /// says whether the sky is on and, when off, its tooltip where to switch it on.
    void showChoices(bool dateNeeded, bool sky, const QString& skyFile);

    QDateEdit* dateEdit = nullptr;
    QLabel* skyLabel = nullptr;
};

/// The tooltip of a "Sky off": where the sky is switched on.
extern const char* const skyOffHint;

/// The question that refuses a start outside the sky file's span (the error names the
/// file, the time and the span, UTC) and offers to start at start instead; what says
/// what Yes changes ("the first fix date and the GPS Start Time").
QString startInsideQuestion(const sky::SkyNotCovered& error, const trajix::FileStart& start, const QString& what);

/// The question that refuses a log whose first fix the sky file does not cover and
/// offers to move the date (the log keeps its times of day) to date and import again.
QString startOnDateQuestion(const sky::SkyNotCovered& error, const trajix::CalendarDate& date);

/// Checks that the sky of dates (when there is one) covers a first fix on its date at
/// clock. Covered or without a sky: nullopt and true. Not covered: asks
/// startInsideQuestion; Yes gives the start to move to, No gives false (nothing runs).
struct SkyStartCheck {
    bool go = true;
    std::optional<trajix::FileStart> moveTo;
};
SkyStartCheck checkSkyStart(trajix::UserPrompt& prompt, const trajix::DateSentences& dates, long double clock,
                            const QString& what);

}  // namespace trajix::gui
