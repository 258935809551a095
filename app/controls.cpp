#include "app/controls.hpp"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

namespace trajix::gui {

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, int width)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    edit->setFixedWidth(width);
    return edit;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setMinimumHeight(30);
    return button;
}

QProgressBar* makeGauge(QWidget* parent, const char* name)
{
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(name);
    gauge->setRange(0, 100);
    gauge->setValue(0);
    gauge->setStyleSheet("QProgressBar::chunk { background-color: navy; }");
    gauge->setAlignment(Qt::AlignCenter);
    return gauge;
}

void addEditRow(QGridLayout* grid, QLabel* label, QLineEdit* edit, const QString& unit)
{
    const int row = grid->rowCount();
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    if (!unit.isEmpty()) grid->addWidget(new QLabel(unit, edit->parentWidget()), row, 2);
}

}  // namespace trajix::gui
