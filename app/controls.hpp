#pragma once
// Helpers that build the tabs' controls with their object names, texts and hints.
#include <QString>

class QGridLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace trajix::gui {

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, int width = 80);
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text);
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption);
/// A gauge as the tabs show block progress: 0 to 100, at 0, navy.
QProgressBar* makeGauge(QWidget* parent, const char* name);

/// Adds one row "label  edit  unit" to a grid of three columns; label may be any
/// label widget (some are clickable). unit may be empty.
void addEditRow(QGridLayout* grid, QLabel* label, QLineEdit* edit, const QString& unit = {});

}  // namespace trajix::gui
