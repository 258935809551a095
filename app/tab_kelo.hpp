#pragma once
// "KELO import": a file recorded by a KELO GPS data logger becomes an NMEA file. The
// Settings tab's text-list conversion runs here too: it shares this tab's stationary
// periods and preview.
#include <QWidget>

class QChartView;
class QLineEdit;
class QLineSeries;
class QPlainTextEdit;
class QPushButton;

namespace trajix::gui {

class FileDateRow;
class TabHost;

class KeloTab : public QWidget {
    Q_OBJECT
public:
    explicit KeloTab(TabHost& host, QWidget* parent = nullptr);

    QPushButton* BitBtn3 = nullptr;
    /// The date of the first fix (the Settings tab's date) and whether the sky is on: a
    /// log holds times of day only.
    FileDateRow* dateRow = nullptr;
    QLineEdit* kelStationaryPeriodedit = nullptr;
    QLineEdit* kelstationaryPeriodEndEdit = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QChartView* Chart6 = nullptr;
    QChartView* Chart4 = nullptr;
    QLineSeries* Series11 = nullptr;
    QLineSeries* Series12 = nullptr;

public slots:
    /// Asks for a KELO log, imports it, previews it and writes the NMEA file the user names.
    void importLog();
    /// "Convert .txt file" of the Settings tab: a text list of fixes becomes an NMEA
    /// file with this tab's stationary periods; its first lines join the preview.
    void convertTextList();

private:
    /// Imports the log input. With offerDate, a sky file that does not cover the log's
    /// first fix brings the offer to move the date into what it covers and import again.
    void importLogFile(const QString& input, bool offerDate);
    /// Empties the preview and the charts.
    void clearResults();
    /// Throws Error naming the stationary period edit that holds no whole seconds of 0 or more.
    void checkPeriods() const;

    TabHost& host_;
};

}  // namespace trajix::gui
