#include "app/controls.hpp"

#include <QChart>
#include <QChartView>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QProgressBar>
#include <QPushButton>
#include <QValueAxis>

#include <fmt/format.h>

#include "common/error.hpp"
#include "common/numbers.hpp"

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
    // The percentage is drawn in black over both parts of the bar: a light blue fill
    // keeps it readable when the bar is full (black on navy was not).
    gauge->setStyleSheet("QProgressBar { color: black; } QProgressBar::chunk { background-color: #8db4ea; }");
    gauge->setAlignment(Qt::AlignCenter);
    return gauge;
}

double editNumber(const QLineEdit* edit, const QString& caption)
{
    const std::string text = edit->text().toStdString();
    double value = 0;
    if (!trajix::tryParseDouble(text, value))
        throw trajix::Error(fmt::format("'{}' is not a valid number ({})", text, caption.toStdString()));
    return value;
}

long long editInteger(const QLineEdit* edit, const QString& caption)
{
    const std::string text = edit->text().toStdString();
    long long value = 0;
    if (!trajix::tryParseInteger(text, value))
        throw trajix::Error(fmt::format("'{}' is not a valid whole number ({})", text, caption.toStdString()));
    return value;
}

QChartView* makeLineChart(const QString& title, const QString& xTitle, const QString& yTitle,
                          std::initializer_list<QLineSeries**> series, QWidget* parent)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->hide();
    chart->setMargins(QMargins(4, 4, 4, 4));
    auto* xAxis = new QValueAxis;
    auto* yAxis = new QValueAxis;
    xAxis->setTitleText(xTitle);
    yAxis->setTitleText(yTitle);
    xAxis->setLabelFormat("%g");
    yAxis->setLabelFormat("%g");
    chart->addAxis(xAxis, Qt::AlignBottom);
    chart->addAxis(yAxis, Qt::AlignLeft);
    for (QLineSeries** slot : series) {
        auto* line = new QLineSeries;
        chart->addSeries(line);
        line->attachAxis(xAxis);
        line->attachAxis(yAxis);
        *slot = line;
    }
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(280, 220);
    view->setRubberBand(QChartView::RectangleRubberBand);
    return view;
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
