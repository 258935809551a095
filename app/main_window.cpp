#include "app/main_window.hpp"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include "app/command_help.hpp"
#include "app/qt_progress.hpp"
#include "app/secondary_windows.hpp"
#include "app/widgets.hpp"
#include "common/error.hpp"
#include "common/platform.hpp"

namespace trajix::gui {

namespace {

// The desktop's own open and save dialogs.
class QtFileDialogs final : public FileDialogs {
public:
    QString openFile(QWidget* parent, const QString& title, const QString& pattern) override
    {
        return QFileDialog::getOpenFileName(parent, title, pattern, pattern + ";;*");
    }
    QString saveFile(QWidget* parent, const QString& title, const QString& pattern) override
    {
        return QFileDialog::getSaveFileName(parent, title, pattern, pattern + ";;*");
    }
};
constexpr const char* mainCaption = "Trajix Trajectory generation V4.8i";
constexpr int settingsDelayMs = 1000;  // Timer1: the saved rate appears a second after start
constexpr const char* orvenaHint = "Only used when creating scenarios for Corvalith Orvena GPS RF simulator";

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}
}  // namespace

StartOptions parseStartOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption simulatorFeatures(
        "simulator-features", "Enable the simulator scenario features (scenario step, almanac, dropouts).");
    const QCommandLineOption tab("tab", "Show tab N (0-5) once started.", "N");
    parser.addOption(simulatorFeatures);
    parser.addOption(tab);
    parser.parse(arguments);  // unknown options are left to Qt
    StartOptions options;
    options.simulatorFeatures = parser.isSet(simulatorFeatures);
    if (parser.isSet(tab)) {
        bool ok = false;
        const int index = parser.value(tab).toInt(&ok);
        if (ok && index >= 0 && index < 6) options.tab = index;
    }
    return options;
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

TForm1::TForm1(const StartOptions& options, QWidget* parent) : QMainWindow(parent), options_(options)
{
    setObjectName("Form1");
    setWindowTitle(mainCaption);
    ownPrompt_ = std::make_unique<QtPrompt>(this);
    prompt_ = ownPrompt_.get();
    ownDialogs_ = std::make_unique<QtFileDialogs>();
    dialogs_ = ownDialogs_.get();

    // The image list of the buttons, from the desktop theme.
    QStyle* look = style();
    ImageList1 = {look->standardIcon(QStyle::SP_DialogOpenButton), look->standardIcon(QStyle::SP_DirOpenIcon),
                  look->standardIcon(QStyle::SP_FileDialogStart),  look->standardIcon(QStyle::SP_DialogSaveButton),
                  look->standardIcon(QStyle::SP_MediaPlay),        look->standardIcon(QStyle::SP_MessageBoxQuestion),
                  look->standardIcon(QStyle::SP_DialogCloseButton)};

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    PageControl1->addTab(buildGoogleEarthTab(), "Google Earth import");
    PageControl1->addTab(buildUserCommandsTab(), "User commands");
    PageControl1->addTab(buildKeloTab(), "KELO import");
    PageControl1->addTab(buildDsfTab(), "Convert .dsf to .bin");
    PageControl1->addTab(buildSerialTab(), "Serial Output");
    PageControl1->addTab(buildSettingsTab(), "Settings");
    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);

    WebImage1 = new WebImage(this);
    connect(WebImage1, &WebImage::clicked, this, &TForm1::WebImage1Click);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 2);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(WebImage1, 0, Qt::AlignHCenter);
    setCentralWidget(central);

    StatusPanel0 = new QLabel(this);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setMinimumWidth(400);
    StatusPanel1 = new QLabel(this);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setMinimumWidth(50);
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    Timer1->setInterval(settingsDelayMs);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

    // The secondary windows, in their start-up order after the main window.
    ProgressForm = new TProgressForm(this);
    helpform = new Thelpform(this);
    continueForm = new TcontinueForm(this);
    ProgressForm2 = new TProgressForm2(this);

    resize(1280, 800);
}

TForm1::~TForm1() = default;

QString withTxtExtension(const QString& fileName)
{
    if (fileName.isEmpty() || QFileInfo(fileName).fileName().contains('.')) return fileName;
    return fileName + ".txt";
}

void TForm1::setDialogs(FileDialogs* dialogs) { dialogs_ = dialogs ? dialogs : ownDialogs_.get(); }

void TForm1::setPrompt(trajix::UserPrompt* prompt)
{
    prompt_ = prompt ? prompt : ownPrompt_.get();
}

void TForm1::setStatusPanel(int panel, const QString& text)
{
    (panel == 0 ? StatusPanel0 : StatusPanel1)->setText(text);
}

QString TForm1::statusPanel(int panel) const
{
    return (panel == 0 ? StatusPanel0 : StatusPanel1)->text();
}

std::filesystem::path TForm1::settingsPath() const
{
    return trajix::settingsFilePath(trajix::executableDirectory());
}

void TForm1::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Some window systems (and the offscreen platform) never activate the window; the
    // start-up must not depend on it.
    FormActivate();
}

void TForm1::FormActivate()
{
    if (activated) return;
    activated = true;

    replay.replayPosition = 0;
    replay.replayFileOpen = false;
    replay.comPortOpen = false;

    WebImage1->setToolTip("Click to navigate to Orvena website");
    WebImage1->load(WebImage::advertUrl());

    simulatorFeaturesOff = !options_.simulatorFeatures;
    applySimulatorFeaturesOff();

    PageControl1->setCurrentIndex(0);

    BitBtn1->setIcon(ImageList1[0]);
    BitBtn2->setIcon(ImageList1[1]);
    BitBtn3->setIcon(ImageList1[2]);
    BitBtn4->setIcon(ImageList1[3]);
    GenerateNMEAfilebutton->setIcon(ImageList1[4]);
    BitBtn6->setIcon(ImageList1[5]);
    helpform->CloseButton->setIcon(ImageList1[6]);

    helpform->Memo1->setPlainText(
        QString::fromUtf8(commandHelpText.data(), static_cast<qsizetype>(commandHelpText.size()))
            .replace("\r\n", "\n"));

    setStatusPanel(0, QDir::currentPath());
    startDrive = fromStd(trajix::startDrive());

    std::string warning;
    const trajix::Settings settings = trajix::loadSettings(settingsPath(), &warning);
    applySettings(settings);
    if (!warning.empty()) setStatusPanel(1, fromStd(warning));

    Timer1->start();
}

void TForm1::applySimulatorFeaturesOff()
{
    if (!simulatorFeaturesOff) return;
    OrvenaGroupBox->setToolTip(orvenaHint);
    for (QWidget* control : std::initializer_list<QWidget*>{
             orvLabel1,         orvLabel2,        orvLabel3,      orvLabel4,     orvLabel5,     WeekEdit,
             StartTimeEdit,     StartDayEdit,     StartMonthEdit, StartYearEdit, AlmanacEdit,   AlmanacBrowseButton,
             correctNmeaButton, ConvertTxtButton, Start1,         Duration1,     DropoutButton, Label27,
             Label28,           Label29,          Label30,        Label31,       progressGauge2})
        control->setEnabled(false);
}

void TForm1::applySettings(const trajix::Settings& settings)
{
    almanacFileName = fromStd(settings.almanacFileName);
    profileRate = fromStd(settings.profileRate);
    ComPortEdit->setText(fromStd(settings.comPort));
    VTGBox->setChecked(settings.includeVtg);
    HDTcheckbox->setChecked(settings.hdtOnly);
    const int index = settings.baudRateIndex;
    BaudRateComboBox->setCurrentIndex(index >= 0 && index < BaudRateComboBox->count() ? index : 7);
}

trajix::Settings TForm1::currentSettings() const
{
    trajix::Settings settings;
    settings.almanacFileName = AlmanacEdit->text().toStdString();
    settings.profileRate = SampleRateEdit->text().toStdString();
    settings.comPort = ComPortEdit->text().toStdString();
    settings.includeVtg = VTGBox->isChecked();
    settings.hdtOnly = HDTcheckbox->isChecked();
    settings.baudRateIndex = BaudRateComboBox->currentIndex();
    return settings;
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    SampleRateEdit->setText(profileRate);
    OutputUpdateEdit1->setText(profileRate);
    outputUpdateEdit2->setText(profileRate);
    AlmanacEdit->setText(almanacFileName);
}

void TForm1::copyRateText(const QLineEdit* source)
{
    const QString text = source->text();
    for (QLineEdit* edit : {SampleRateEdit, OutputUpdateEdit1, outputUpdateEdit2})
        if (edit != source) edit->setText(text);
}

void TForm1::PageControl1Change(int /*index*/)
{
    // Changing the page ends playback.
    endReplay();
}

void TForm1::WebImage1Click()
{
    QDesktopServices::openUrl(WebImage::productUrl());
}

void TForm1::handOverWrittenFile(const QString& path, bool makeReplayFile)
{
    // The Serial Output tab describes every written file; the route and command
    // writers also make it the replay file.
    if (makeReplayFile)
        adoptReplayFile(path);
    else
        scanfile(path);
    if (!simulatorFeaturesOff) runPlenarch(path);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void TForm1::FormClose()
{
    QApplication::processEvents();
    releaseSerialPort();
    if (!activated) return;  // the settings were never read, so the edits hold nothing to keep
    // Closed before Timer1 fired: the edits do not show the saved values yet, and
    // writing them would replace the saved rate and almanac with the defaults.
    if (Timer1->isActive()) Timer1Timer();
    try {
        for (const std::string& warning : trajix::saveSettings(settingsPath(), currentSettings()))
            prompt().information(warning);
    } catch (const trajix::Error& error) {
        prompt().information(error.what());
    }
}

}  // namespace trajix::gui
