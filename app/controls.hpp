#pragma once
// Helpers that build the tabs' controls with their object names, texts and hints.
#include <QString>

#include <initializer_list>

class QChartView;
class QGridLayout;
class QLabel;
class QLineEdit;
class QLineSeries;
class QProgressBar;
class QPushButton;
class QWidget;

namespace trajix::gui {

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, int width = 80);
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text);
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption);
/// A gauge as the tabs show block progress: 0 to 100, at 0, light blue with black text.
QProgressBar* makeGauge(QWidget* parent, const char* name);

/// The number in an edit (dot as the decimal mark). Throws Error naming the text and
/// the edit's caption: "'12x' is not a valid number (Max speed (km/h))".
double editNumber(const QLineEdit* edit, const QString& caption);
/// The whole number in an edit; the same error, "is not a valid whole number".
long long editInteger(const QLineEdit* edit, const QString& caption);

/// A line chart with two value axes, titled, for the tabs' charts.
QChartView* makeLineChart(const QString& title, const QString& xTitle, const QString& yTitle,
                          std::initializer_list<QLineSeries**> series, QWidget* parent);

/// Adds one row "label  edit  unit" to a grid of three columns; label may be any
/// label widget (some are clickable). unit may be empty.
void addEditRow(QGridLayout* grid, QLabel* label, QLineEdit* edit, const QString& unit = {});

}  // namespace trajix::gui
