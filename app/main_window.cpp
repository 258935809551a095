#include "app/main_window.hpp"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateEdit>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "app/command_help.hpp"
#include "app/qt_progress.hpp"
#include "app/secondary_windows.hpp"
#include "app/sky_start.hpp"
#include "app/tab_dsf.hpp"
#include "app/tab_google_earth.hpp"
#include "app/tab_kelo.hpp"
#include "app/tab_serial.hpp"
#include "app/tab_settings.hpp"
#include "app/tab_user_commands.hpp"
#include "app/widgets.hpp"
#include "common/baud_rates.hpp"
#include "common/error.hpp"
#include "common/numbers.hpp"
#include "common/platform.hpp"
#include "nmea/sky_sentences.hpp"
#include "street/street_choices.hpp"

namespace trajix::gui {

namespace {

// The desktop's own open and save dialogs, starting in the folder last used for the
// kind of file they ask for.
class QtFileDialogs final : public FileDialogs {
public:
    explicit QtFileDialogs(FolderMemory& folders) : folders_(folders) {}
    QString openFile(QWidget* parent, const QString& title, const QString& pattern) override
    {
        const QString chosen =
            QFileDialog::getOpenFileName(parent, title, folders_.startPath(pattern), filterFor(pattern));
        folders_.remember(pattern, chosen);
        return chosen;
    }
    QString saveFile(QWidget* parent, const QString& title, const QString& pattern) override
    {
        const QString chosen =
            QFileDialog::getSaveFileName(parent, title, folders_.startPath(pattern), filterFor(pattern));
        folders_.remember(pattern, chosen);
        return chosen;
    }

private:
    // A pattern ("*.kml *.kmz") is its own filter; a suggested name ("loop.txt") is
    // offered under the filter of its extension.
    static QString filterFor(const QString& pattern)
    {
        const QString name = QFileInfo(pattern).fileName();
        if (name.contains('*') || QFileInfo(name).suffix().isEmpty()) return name + ";;*";
        return "*." + QFileInfo(name).suffix() + ";;*";
    }
    FolderMemory& folders_;
};

// The kind of file a dialog asks for: its pattern's extension when it is one of the kinds kept.
std::string kindOf(const QString& pattern)
{
    const std::string suffix = QFileInfo(pattern).suffix().toLower().toStdString();
    for (const std::string_view kind : trajix::fileKinds)
        if (suffix == kind) return suffix;
    return {};
}
// The version is the project's, as trajix --version and the package give it.
constexpr const char* mainCaption = "Trajix Trajectory generation V" TRAJIX_VERSION;
constexpr const char* orvenaHint = "Only used when creating scenarios for Corvalith Orvena GPS RF simulator";
// What a control switched off with the signal generator features says about itself.
constexpr const char* switchOnHint =
    "Off: tick \"Signal generator features\" on the Settings tab to use this (or start with --simulator-features).";
// The property that keeps a control's own tooltip while the hint above replaces it.
constexpr const char* ownToolTipProperty = "trajixOwnToolTip";

// The window's size on a screen large enough for it, and room for a window manager's
// frame and title bar around it.
constexpr QSize openingSize(1280, 800);
constexpr QSize frameAllowance(16, 64);

// A tab in a scroll area: below the size its controls need the tab scrolls instead of
// squeezing them, and above it the tab fills the page.
QScrollArea* scrolling(QWidget* tab)
{
    auto* area = new QScrollArea;
    area->setObjectName(tab->objectName() + "Scroll");
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(tab);
    return area;
}

QString fromStd(const std::string& text)
{
    return QString::fromStdString(text);
}
}  // namespace

QString FolderMemory::startPath(const QString& pattern) const
{
    if (pattern.contains('/') || pattern.contains('\\')) return pattern;
    const auto folder = folders.find(kindOf(pattern));
    if (folder == folders.end()) return pattern;
    return QDir(QString::fromStdString(folder->second)).filePath(pattern);
}

void FolderMemory::remember(const QString& pattern, const QString& chosen)
{
    const std::string kind = kindOf(pattern.isEmpty() ? chosen : pattern);
    if (chosen.isEmpty() || kind.empty()) return;
    folders[kind] = QFileInfo(chosen).absolutePath().toStdString();
}

StartOptions parseStartOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption simulatorFeatures(
        "simulator-features", "Enable the simulator scenario features (scenario step, almanac, dropouts).");
    const QCommandLineOption tab("tab", "Show tab N once started, counted from 1 (the first tab) to 6 (Settings).",
                                 "N");
    parser.setApplicationDescription("Trajix: makes, replays and converts GPS receiver trajectories.");
    const QCommandLineOption help({"h", "help"}, "Print these options and exit.");
    parser.addOption(help);
    parser.addOption(simulatorFeatures);
    parser.addOption(tab);
    parser.addPositionalArgument("FILE", "A path file (.kml, .kmz, .gpx) to drive, or an NMEA file to replay.",
                                 "[FILE]");
    parser.parse(arguments);  // unknown options are left to Qt
    StartOptions options;
    options.help = parser.isSet(help);
    // Without an application object Qt cannot know the program's name for the usage line.
    options.helpText = parser.helpText().replace("<executable_name>", "trajix-gui");
    options.simulatorFeatures = parser.isSet(simulatorFeatures);
    // The first existing file among the other arguments: the values of Qt's own options
    // ("-platform offscreen") are left here too and are not files.
    for (const QString& argument : parser.positionalArguments()) {
        if (QFileInfo(argument).isFile()) {
            options.file = argument;
            break;
        }
    }
    if (parser.isSet(tab)) {
        bool ok = false;
        const QString value = parser.value(tab);
        const int number = value.trimmed().toInt(&ok);
        if (ok && number >= 1 && number <= 6)
            options.tab = number - 1;
        else
            options.usageError = "--tab needs a tab number from 1 to 6, not '" + value + "'";
    } else if (arguments.contains("--tab")) {
        options.usageError = "--tab needs a tab number from 1 to 6";  // the value is missing
    }
    return options;
}

MainWindow::MainWindow(const StartOptions& options, QWidget* parent) : QMainWindow(parent), options_(options)
{
    setObjectName("Form1");
    setWindowTitle(mainCaption);
    ownPrompt_ = std::make_unique<QtPrompt>(this);  // showError relies on its kind
    prompt_ = ownPrompt_.get();
    ownDialogs_ = std::make_unique<QtFileDialogs>(folders_);
    dialogs_ = ownDialogs_.get();

    // The image list of the buttons, from the desktop theme.
    QStyle* look = style();
    ImageList1 = {look->standardIcon(QStyle::SP_DialogOpenButton), look->standardIcon(QStyle::SP_DirOpenIcon),
                  look->standardIcon(QStyle::SP_FileDialogStart),  look->standardIcon(QStyle::SP_DialogSaveButton),
                  look->standardIcon(QStyle::SP_MediaPlay),        look->standardIcon(QStyle::SP_MessageBoxQuestion),
                  look->standardIcon(QStyle::SP_DialogCloseButton)};

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    googleEarth_ = new GoogleEarthTab(*this);
    userCommands_ = new UserCommandsTab(*this);
    kelo_ = new KeloTab(*this);
    dsf_ = new DsfTab(*this);
    serial_ = new SerialTab(*this);
    settings_ = new SettingsTab(*this);
    // The route's sky plot follows the sky choices: any change empties it.
    connect(settings_->SkyBox, &QCheckBox::toggled, googleEarth_, &GoogleEarthTab::showSkyChoice);
    for (QLineEdit* edit : {settings_->SkyFileEdit, settings_->SkyMaskEdit})
        connect(edit, &QLineEdit::textChanged, googleEarth_, &GoogleEarthTab::showSkyChoice);
    connect(settings_->NmeaDateEdit, &QDateEdit::dateChanged, googleEarth_, &GoogleEarthTab::showSkyChoice);
    // Each writing tab shows the date of the first fix and the sky's state: its date
    // edit and the Settings tab's are one date.
    for (FileDateRow* row : {googleEarth_->dateRow, userCommands_->dateRow, kelo_->dateRow}) {
        row->dateEdit->setDate(settings_->NmeaDateEdit->date());
        connect(row->dateEdit, &QDateEdit::dateChanged, settings_->NmeaDateEdit, &QDateEdit::setDate);
        connect(settings_->NmeaDateEdit, &QDateEdit::dateChanged, row->dateEdit, &QDateEdit::setDate);
    }
    for (QCheckBox* box : {settings_->RMCBox, settings_->ZDABox, settings_->SkyBox})
        connect(box, &QCheckBox::toggled, this, &MainWindow::showSkyChoices);
    connect(settings_->SkyFileEdit, &QLineEdit::textChanged, this, &MainWindow::showSkyChoices);
    for (QCheckBox* box :
         {settings_->SkyGpsBox, settings_->SkyGalileoBox, settings_->SkyBeidouBox, settings_->SkyGlonassBox})
        connect(box, &QCheckBox::toggled, googleEarth_, &GoogleEarthTab::showSkyChoice);
    PageControl1->addTab(scrolling(googleEarth_), "Google Earth import");
    PageControl1->addTab(scrolling(userCommands_), "User commands");
    PageControl1->addTab(scrolling(kelo_), "KELO import");
    PageControl1->addTab(scrolling(dsf_), "Convert .dsf to .bin");
    PageControl1->addTab(scrolling(serial_), "Serial Output");
    PageControl1->addTab(scrolling(settings_), "Settings");
    connect(PageControl1, &QTabWidget::currentChanged, this, &MainWindow::tabChanged);
    // The few requests that cross from one tab to another pass through the window.
    connect(googleEarth_, &GoogleEarthTab::almanacFetchRequested, settings_, &SettingsTab::fetchDailyAlmanac);
    connect(settings_, &SettingsTab::textConversionRequested, kelo_, &KeloTab::convertTextList);
    connect(userCommands_, &UserCommandsTab::helpRequested, this, &MainWindow::showCommandHelp);
    connect(settings_->SignalGeneratorBox, &QCheckBox::toggled, this, &MainWindow::applySimulatorFeatures);
    connect(settings_->SignalGeneratorBox, &QCheckBox::clicked, this, [this] { featuresChosen_ = true; });
    // The three rate edits follow each other as the user types, so that whichever tab
    // is shown next (a click on its tab leaves the edit without Enter or Tab) has it.
    for (QLineEdit* edit :
         {settings_->SampleRateEdit, googleEarth_->OutputUpdateEdit1, userCommands_->outputUpdateEdit2}) {
        connect(edit, &QLineEdit::textEdited, this, [this, edit](const QString& text) { shareRate(text, edit); });
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] { shareRate(edit->text(), edit); });
    }

    WebImage1 = new WebImage(this);
    connect(WebImage1, &WebImage::clicked, this, &MainWindow::openProductPage);

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

    // The secondary windows, in their start-up order after the main window.
    ProgressForm = new ProgressWindow(this);
    helpform = new CommandHelpWindow(this);
    continueForm = new RecordingWaitWindow(this);
    ProgressForm2 = new SearchProgressWindow(this);

    // Every tab scrolls rather than squeezes below the size its controls need; the window
    // opens at a size that shows them all, within the screen and its frame with it, even
    // where the window manager ignores a request to maximise it.
    QSize size = openingSize;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - frameAllowance);
    resize(size);
}

void MainWindow::showAtOpeningSize()
{
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QSize needed = openingSize + frameAllowance;
    if (screen && (screen->availableGeometry().width() < needed.width() ||
                   screen->availableGeometry().height() < needed.height()))
        showMaximized();
    else
        show();
}

MainWindow::~MainWindow() = default;

namespace {
// The number of a street value as typed; empty text is the core's default.
std::optional<double> streetNumber(const QString& text, const char* caption)
{
    const std::string typed = text.trimmed().toStdString();
    if (typed.empty()) return std::nullopt;
    double value = 0;
    if (!trajix::tryParseDouble(typed, value))
        throw trajix::Error(fmt::format("'{}' is not a valid number ({})", typed, caption));
    return value;
}

// The street of the Settings tab's choices, read once while they and the file stay as
// they were: every Preview and Generate asks for it again. Each file read is reported
// to choices.streetRead.
std::shared_ptr<const street::StreetModel> streetOf(const SentenceChoices& choices)
{
    struct Read {
        street::StreetChoices choices;
        QDateTime modified;
        qint64 size = -1;
        std::shared_ptr<const street::StreetModel> model;
    };
    static Read last;
    if (choices.buildingsFile.trimmed().isEmpty()) return nullptr;
    street::StreetChoices wanted;
    wanted.buildings = std::filesystem::path(QFile::encodeName(choices.buildingsFile).toStdString());
    if (const QString field = choices.heightField.trimmed(); !field.isEmpty())
        wanted.heightAttribute = field.toStdString();
    wanted.defaultBuildingHeight = streetNumber(choices.defaultBuildingHeight, defaultBuildingHeightCaption);
    wanted.railTunnels = choices.railTunnels;
    wanted.antennaHeight = streetNumber(choices.antennaHeight, antennaHeightCaption);
    wanted.reflectionLoss = streetNumber(choices.reflectionLoss, reflectionLossCaption);
    const QFileInfo info(choices.buildingsFile);
    if (last.model && wanted == last.choices && info.lastModified() == last.modified && info.size() == last.size)
        return last.model;
    street::StreetReadSummary summary;
    auto model = street::streetModelFor(wanted, &summary,
                                        {defaultBuildingHeightCaption, antennaHeightCaption, reflectionLossCaption});
    last = {wanted, info.lastModified(), info.size(), model};
    if (choices.streetRead) choices.streetRead(choices.buildingsFile, summary);
    return model;
}

// "1 building", "3 covered ways".
QString counted(std::size_t count, const char* thing)
{
    return QString("%1 %2%3").arg(count).arg(QLatin1String(thing)).arg(count == 1 ? "" : "s");
}
}  // namespace

void MainWindow::reportStreetRead(const QString& file, const street::StreetReadSummary& summary)
{
    const QString read = counted(summary.buildings, "building") + ", " + counted(summary.coveredWays, "covered way") +
                         " and " + counted(summary.coveredAreas, "covered area");
    QString status = "Buildings: " + read + " read from " + QFileInfo(file).fileName();
    if (summary.leftOut > 0) status += QString("; %1 left out").arg(summary.leftOut);
    setStatusPanel(1, status);
    if (summary.leftOut == 0 && summary.notes.empty()) return;
    // One message for the file, with its first notes: each names the feature and why.
    std::string message = fmt::format("{}: {} read", QDir::toNativeSeparators(file).toStdString(), read.toStdString());
    if (summary.leftOut > 0) message += fmt::format("; {} left out", summary.leftOut);
    message += ":";
    constexpr std::size_t notesShown = 5;
    const std::size_t shown = std::min(notesShown, summary.notes.size());
    for (std::size_t k = 0; k < shown; ++k) message += "\n" + summary.notes[k];
    if (const std::size_t more = summary.notes.size() - shown + summary.notesDropped; more > 0)
        message += fmt::format("\nand {} more", more);
    prompt().information(message);
}

trajix::DateSentences SentenceChoices::dates() const
{
    trajix::DateSentences sentences{includeRmc, includeZda, std::nullopt};
    if (includeRmc || includeZda || sky) sentences.date = date;
    if (!sky) return sentences;
    double mask = 0;
    if (!trajix::tryParseDouble(skyMask.toStdString(), mask))
        throw trajix::Error(
            fmt::format("'{}' is not a valid number (Elevation mask (degrees))", skyMask.toStdString()));
    if (skyFile.trimmed().isEmpty()) throw trajix::Error("Satellites from: choose an almanac or RINEX navigation file");
    if (skySystems.isEmpty())
        throw trajix::Error("Satellites from: tick at least one of GPS, Galileo, BeiDou and GLONASS");
    sentences.maskDegrees = mask;
    sentences.systems = trajix::parseNmeaSystems(skySystems.toStdString());
    trajix::checkDateSentences(sentences);  // a bad mask is refused before the file is read
    sentences.sky =
        trajix::skyModelFor(std::filesystem::path(QFile::encodeName(skyFile).toStdString()), date, sentences.systems);
    trajix::checkSkySystems(*sentences.sky, sentences.systems);
    sentences.street = streetOf(*this);
    // In a street the positions are a receiver's, as the command line's --buildings
    // gives them by default, with the default seed.
    sentences.receiverErrors = sentences.street != nullptr;
    return sentences;
}

QString withTxtExtension(const QString& fileName)
{
    if (fileName.isEmpty() || QFileInfo(fileName).fileName().contains('.')) return fileName;
    return fileName + ".txt";
}

void MainWindow::setDialogs(FileDialogs* dialogs)
{
    dialogs_ = dialogs ? dialogs : ownDialogs_.get();
}

void MainWindow::showError(std::string_view text)
{
    if (prompt_ == ownPrompt_.get())
        static_cast<QtPrompt*>(prompt_)->warning(text);
    else
        prompt_->information(text);
}

void MainWindow::setPrompt(trajix::UserPrompt* prompt)
{
    prompt_ = prompt ? prompt : ownPrompt_.get();
}

void MainWindow::openFile(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == "kml" || suffix == "kmz" || suffix == "gpx") {
        showTab(googleEarth_);
        googleEarth_->openPathFile(QFileInfo(fileName).absoluteFilePath());
    } else {
        showTab(serial_);
        serial_->adoptReplayFile(QFileInfo(fileName).absoluteFilePath());
    }
}

void MainWindow::setStatusPanel(int panel, const QString& text)
{
    (panel == 0 ? StatusPanel0 : StatusPanel1)->setText(text);
}

QString MainWindow::statusPanel(int panel) const
{
    return (panel == 0 ? StatusPanel0 : StatusPanel1)->text();
}

std::filesystem::path MainWindow::settingsPath() const
{
    return trajix::settingsFilePath(trajix::executableDirectory());
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) activateOnce();
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    // Some window systems (and the offscreen platform) never activate the window; the
    // start-up must not depend on it.
    activateOnce();
}

void MainWindow::activateOnce()
{
    if (activated_) return;
    activated_ = true;

    WebImage1->setToolTip("Click to navigate to Orvena website");
    WebImage1->load(WebImage::advertUrl());

    applySimulatorFeatures(false);

    PageControl1->setCurrentIndex(0);

    userCommands_->BitBtn1->setIcon(ImageList1[0]);
    googleEarth_->BitBtn2->setIcon(ImageList1[1]);
    kelo_->BitBtn3->setIcon(ImageList1[2]);
    userCommands_->BitBtn4->setIcon(ImageList1[3]);
    userCommands_->GenerateNMEAfilebutton->setIcon(ImageList1[4]);
    userCommands_->BitBtn6->setIcon(ImageList1[5]);
    helpform->CloseButton->setIcon(ImageList1[6]);

    helpform->Memo1->setPlainText(
        QString::fromUtf8(commandHelpText.data(), static_cast<qsizetype>(commandHelpText.size()))
            .replace("\r\n", "\n"));

    // Until a file is written the panel says where relative names go; then it names the
    // last file written.
    setStatusPanel(0, "Working folder: " + QDir::toNativeSeparators(QDir::currentPath()));
    startDrive = fromStd(trajix::startDrive());

    std::string warning;
    const trajix::Settings settings = trajix::loadSettings(settingsPath(), &warning);
    applySettings(settings);
    // The start option switches the features on for this run whatever the file says.
    featuresSaved_ = settings.signalGeneratorFeatures;
    settings_->SignalGeneratorBox->setChecked(settings.signalGeneratorFeatures || options_.simulatorFeatures);
    applySimulatorFeatures(settings_->SignalGeneratorBox->isChecked());
    if (!warning.empty()) setStatusPanel(1, fromStd(warning));

    // The saved rate and almanac show at once: a rate typed in the first second after
    // start was overwritten when they arrived a second later.
    showSavedSettings();
}

void MainWindow::applySimulatorFeatures(bool on)
{
    simulatorFeaturesOff_ = !on;
    GoogleEarthTab& route = *googleEarth_;
    SettingsTab& settings = *settings_;
    route.OrvenaGroupBox->setToolTip(on ? QString() : QString(orvenaHint) + "\n" + switchOnHint);
    settings.OrvenaSettingsGroupBox->setToolTip(on ? QString() : QString(switchOnHint));
    for (QWidget* control : std::initializer_list<QWidget*>{route.orvLabel1,
                                                            route.orvLabel2,
                                                            route.orvLabel3,
                                                            route.orvLabel4,
                                                            route.orvLabel5,
                                                            route.WeekEdit,
                                                            route.StartTimeEdit,
                                                            route.durationLabel,
                                                            route.DurationEdit,
                                                            route.StartDayEdit,
                                                            route.StartMonthEdit,
                                                            route.StartYearEdit,
                                                            settings.AlmanacEdit,
                                                            settings.AlmanacBrowseButton,
                                                            settings.correctNmeaButton,
                                                            settings.ConvertTxtButton,
                                                            settings.Start1,
                                                            settings.Duration1,
                                                            settings.DropoutButton,
                                                            settings.Label27,
                                                            settings.Label28,
                                                            settings.Label29,
                                                            settings.Label30,
                                                            settings.Label31,
                                                            settings.progressGauge2}) {
        if (!control->property(ownToolTipProperty).isValid())
            control->setProperty(ownToolTipProperty, control->toolTip());
        const QString own = control->property(ownToolTipProperty).toString();
        control->setEnabled(on);
        control->setToolTip(on ? own : own.isEmpty() ? QString(switchOnHint) : own + "\n" + switchOnHint);
    }
    showSkyChoices();
}

void MainWindow::showSkyChoices()
{
    const SettingsTab& settings = *settings_;
    const bool sky = settings.SkyBox->isChecked();
    const bool dateNeeded = settings.RMCBox->isChecked() || settings.ZDABox->isChecked();
    for (FileDateRow* row : {googleEarth_->dateRow, userCommands_->dateRow, kelo_->dateRow})
        row->showChoices(dateNeeded, sky, settings.SkyFileEdit->text());
    // The start time sets the first fix, which the sky must cover: with the sky on it
    // is editable whatever the scenario controls are.
    const bool editable = !simulatorFeaturesOff_ || sky;
    for (QWidget* control : std::initializer_list<QWidget*>{googleEarth_->orvLabel2, googleEarth_->StartTimeEdit}) {
        if (!control->property(ownToolTipProperty).isValid())
            control->setProperty(ownToolTipProperty, control->toolTip());
        const QString own = control->property(ownToolTipProperty).toString();
        control->setEnabled(editable);
        control->setToolTip(editable ? own : own.isEmpty() ? QString(switchOnHint) : own + "\n" + switchOnHint);
    }
}

void MainWindow::setFileDate(const trajix::CalendarDate& date)
{
    settings_->NmeaDateEdit->setDate(QDate(date.year, date.month, date.day));
}

void MainWindow::applySettings(const trajix::Settings& settings)
{
    almanacFileName_ = fromStd(settings.almanacFileName);
    profileRate_ = fromStd(settings.profileRate);
    serial_->ComPortEdit->setText(fromStd(settings.comPort));
    settings_->VTGBox->setChecked(settings.includeVtg);
    settings_->HDTcheckbox->setChecked(settings.hdtOnly);
    settings_->RMCBox->setChecked(settings.includeRmc);
    settings_->ZDABox->setChecked(settings.includeZda);
    if (const QDate date = QDate::fromString(fromStd(settings.nmeaDate), "yyyy-MM-dd"); date.isValid())
        settings_->NmeaDateEdit->setDate(date);
    settings_->SkyBox->setChecked(settings.sky);
    settings_->SkyFileEdit->setText(fromStd(settings.skyFile));
    settings_->SkyMaskEdit->setText(fromStd(settings.skyMask));
    settings_->setSkySystems(fromStd(settings.skySystems));
    settings_->BuildingsEdit->setText(fromStd(settings.buildingsFile));
    settings_->BuildingsHeightAttributeEdit->setText(fromStd(settings.buildingsHeightField));
    settings_->DefaultBuildingHeightEdit->setText(fromStd(settings.defaultBuildingHeight));
    settings_->RailTunnelsBox->setChecked(settings.railTunnels);
    settings_->AntennaHeightEdit->setText(fromStd(settings.antennaHeight));
    settings_->ReflectionLossEdit->setText(fromStd(settings.reflectionLoss));
    const int index = settings.baudRateIndex;
    QComboBox* baudRates = serial_->BaudRateComboBox;
    baudRates->setCurrentIndex(index >= 0 && index < baudRates->count() ? index : trajix::defaultBaudRateIndex);
    folders_.folders = settings.folders;
}

trajix::Settings MainWindow::currentSettings() const
{
    trajix::Settings settings;
    settings.almanacFileName = settings_->AlmanacEdit->text().toStdString();
    settings.profileRate = settings_->SampleRateEdit->text().toStdString();
    settings.comPort = serial_->ComPortEdit->text().toStdString();
    settings.includeVtg = settings_->VTGBox->isChecked();
    settings.hdtOnly = settings_->HDTcheckbox->isChecked();
    settings.includeRmc = settings_->RMCBox->isChecked();
    settings.includeZda = settings_->ZDABox->isChecked();
    settings.nmeaDate = settings_->NmeaDateEdit->date().toString("yyyy-MM-dd").toStdString();
    settings.sky = settings_->SkyBox->isChecked();
    settings.skyFile = settings_->SkyFileEdit->text().toStdString();
    settings.skyMask = settings_->SkyMaskEdit->text().toStdString();
    settings.skySystems = settings_->skySystems().toStdString();
    settings.buildingsFile = settings_->BuildingsEdit->text().toStdString();
    settings.buildingsHeightField = settings_->BuildingsHeightAttributeEdit->text().toStdString();
    settings.defaultBuildingHeight = settings_->DefaultBuildingHeightEdit->text().toStdString();
    settings.railTunnels = settings_->RailTunnelsBox->isChecked();
    settings.antennaHeight = settings_->AntennaHeightEdit->text().toStdString();
    settings.reflectionLoss = settings_->ReflectionLossEdit->text().toStdString();
    settings.baudRateIndex = serial_->BaudRateComboBox->currentIndex();
    settings.folders = folders_.folders;
    // Switched on by --simulator-features alone, the box leaves the saved choice as it was.
    settings.signalGeneratorFeatures =
        featuresChosen_ || !options_.simulatorFeatures ? settings_->SignalGeneratorBox->isChecked() : featuresSaved_;
    return settings;
}

void MainWindow::showSavedSettings()
{
    shareRate(profileRate_);
    settings_->AlmanacEdit->setText(almanacFileName_);
}

QString MainWindow::rateText() const
{
    return settings_->SampleRateEdit->text();
}

void MainWindow::shareRate(const QString& text, const QLineEdit* source, const QString& fromLog)
{
    for (QLineEdit* edit :
         {settings_->SampleRateEdit, googleEarth_->OutputUpdateEdit1, userCommands_->outputUpdateEdit2})
        if (edit != source) edit->setText(text);
    if (!fromLog.isEmpty()) {
        // Every tab's rate changed without the user typing it: both places the user
        // looks say so.
        rateFromLog_ = text;
        setStatusPanel(1, "Output rate set to " + text + " Hz from the log " + fromLog);
        settings_->SampleRateSourceLabel->setText("set from the log " + fromLog);
        settings_->SampleRateEdit->setToolTip(QString(sampleRateToolTip) + "; set to " + text + " Hz from the log " +
                                              fromLog);
    } else if (text != rateFromLog_) {
        // Leaving an edit without changing it keeps the note; another rate ends it.
        if (!rateFromLog_.isEmpty() && statusPanel(1).startsWith("Output rate set to ")) setStatusPanel(1, {});
        rateFromLog_.clear();
        settings_->SampleRateSourceLabel->clear();
        settings_->SampleRateEdit->setToolTip(sampleRateToolTip);
    }
}

const QLineEdit* MainWindow::routeJerkEdit() const
{
    return googleEarth_->jerkEdit;
}

SentenceChoices MainWindow::sentences() const
{
    const QDate date = settings_->NmeaDateEdit->date();
    SentenceChoices choices;
    choices.includeVtg = settings_->VTGBox->isChecked();
    choices.hdtAndGll = settings_->HDTcheckbox->isChecked();
    choices.includeRmc = settings_->RMCBox->isChecked();
    choices.includeZda = settings_->ZDABox->isChecked();
    choices.date = trajix::CalendarDate{date.year(), date.month(), date.day()};
    choices.standardGll = settings_->StandardGllBox->isChecked();
    choices.sky = settings_->SkyBox->isChecked();
    choices.skyFile = settings_->SkyFileEdit->text();
    choices.skyMask = settings_->SkyMaskEdit->text();
    choices.skySystems = settings_->skySystems();
    choices.buildingsFile = settings_->BuildingsEdit->text();
    choices.heightField = settings_->BuildingsHeightAttributeEdit->text();
    choices.defaultBuildingHeight = settings_->DefaultBuildingHeightEdit->text();
    choices.railTunnels = settings_->RailTunnelsBox->isChecked();
    choices.antennaHeight = settings_->AntennaHeightEdit->text();
    choices.reflectionLoss = settings_->ReflectionLossEdit->text();
    choices.streetRead = streetRead_;
    return choices;
}

void MainWindow::showTab(QWidget* tab)
{
    for (int index = 0; index < PageControl1->count(); ++index) {
        const auto* area = qobject_cast<QScrollArea*>(PageControl1->widget(index));
        if (PageControl1->widget(index) == tab || (area && area->widget() == tab)) PageControl1->setCurrentIndex(index);
    }
}

void MainWindow::showCommandHelp()
{
    helpform->show();
    helpform->raise();
    helpform->activateWindow();
}

void MainWindow::setReplayTimer(trajix::PeriodicTimer* timer)
{
    serial_->setReplayTimer(timer);
}

#ifdef TRAJIX_WITH_QTSERIAL
trajix::ReplayState& MainWindow::replayState()
{
    return serial_->replayState();
}
#endif

void MainWindow::tabChanged(int /*index*/)
{
    // Changing the page ends playback.
    serial_->endReplay();
}

void MainWindow::openProductPage()
{
    QDesktopServices::openUrl(WebImage::productUrl());
}

void MainWindow::handOverWrittenFile(const QString& path, bool makeReplayFile)
{
    // The Serial Output tab describes every written file; the route and command
    // writers also make it the replay file.
    setStatusPanel(0, "Written: " + QDir::toNativeSeparators(path));
    if (makeReplayFile)
        serial_->adoptReplayFile(path);
    else
        serial_->scanfile(path);
    // Every writer says what it wrote and where; with the simulator features on, the
    // scenario step's question follows instead.
    if (simulatorFeaturesOff_)
        prompt().information((QDir::toNativeSeparators(path) + " created.").toStdString());
    else
        runPlenarch(path);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    closeDown();
    event->accept();
}

void MainWindow::closeDown()
{
    QApplication::processEvents();
    serial_->releaseSerialPort();
    if (!activated_) return;  // the settings were never read, so the edits hold nothing to keep
    try {
        for (const std::string& warning : trajix::saveSettings(settingsPath(), currentSettings()))
            prompt().information(warning);
    } catch (const trajix::Error& error) {
        showError(error.what());
    }
}

}  // namespace trajix::gui
