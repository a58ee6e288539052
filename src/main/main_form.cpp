#include "main/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdio>
#include <cstdlib>

#include "about/about_dlg.h"
#include "about/program_icon.h"
#include "colours/settings_form.h"
#include "main/block_event.h"
#include "main/channels_page.h"
#include "main/control_page.h"
#include "main/events_page.h"
#include "main/fft_page.h"
#include "main/gps_page.h"
#include "main/header_page.h"
#include "main/helicorder_page.h"
#include "main/led.h"
#include "main/link_session.h"
#include "main/temperatures_page.h"
#include "main/time_frequency_page.h"
#include "main/widgets.h"
#include "settings/ini_file.h"
#include "upload/upload_dlg.h"
#if FILES_FEATURE
#include "about/version.h"
#include "datafile/data_file_dlg.h"
#include "metadata/station_xml.h"
#endif

const char* const MainCaption = "Varnhold 6 Channel 24 Bit Multi Sample Rate Digitizer Monitor";

namespace {

constexpr QSize DesignSize(769, 570);

TNumberSeparators SystemSeparators() {
    const QLocale locale = QLocale::system();
    TNumberSeparators separators;
    separators.Thousands = locale.groupSeparator().toStdString();
    separators.Decimal = locale.decimalPoint().toStdString();
    return separators;
}

TSettingsContext MakeSettingsContext(const TNumberSeparators& separators) {
    TSettingsContext context;
    context.FilesFeature = FILES_FEATURE != 0;
    context.DecimalSeparator = separators.Decimal;
    return context;
}

// The settings file read over the defaults, then the port or device of the
// command line.
TSettings StartSettings(const TStartOptions& options, const TNumberSeparators& separators) {
    const char* home = std::getenv("HOME");
    TSettings settings = DefaultSettings(home != nullptr ? home : "");
    TIniFile ini;
    ini.Load(options.SettingsPath);  // a missing file gives the defaults
    LoadSettings(settings, ini, MakeSettingsContext(separators));
    ApplyCommandLine(settings, options.Port, options.Device);
    return settings;
}

}  // namespace

TMainForm::TMainForm(const TStartOptions& options, QWidget* parent)
    : QMainWindow(parent),
      settingsPath_(QString::fromStdString(options.SettingsPath)),
      sessionDevice_(options.SessionDevice),
      model_(StartSettings(options, SystemSeparators()), SystemSeparators()),
      graphResources_(model_.Settings()),
      powerCycle_(options.PowerCycle) {
    // The window and its pages; the data file button only with recording.
    session_ = new TLinkSession(PostBlocksTo(this), this);
    BuildControls();
    dataFileButton_->setVisible(FILES_FEATURE != 0);
    connect(session_, &TLinkSession::Searching, this, [this] { led_->Rest(); });
    // The hook that hands every block to ProcessBlock, and the preview of the
    // window's keys.
    hook_ = new TBlockHook([this](TDataBlock* block) { ProcessBlock(block); }, this);
    qApp->installEventFilter(hook_);
    qApp->installEventFilter(this);
    // Recording news that comes between blocks (the files written after Stop) is shown
    // from the window's own thread.
    model_.Recorder().SetNewsCallback([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!destroyed_) {
                    TRecordingNews news = model_.TakeRecordingNews();
                    ShowRecordingNews(news.Reports, news.Notices);
                }
            },
            Qt::QueuedConnection);
    });
    // Empty value labels, no channel figures until a block.
    ResetDisplays();
    // The link opens the port and starts its reader thread; the watchdog runs.
    const TSettings& settings = model_.Settings();
    const bool opened =
        session_->Open(settings.Port, static_cast<uint32_t>(settings.Baud), DevicePath());
    // The Channels page is shown first.
    pageControl_->setCurrentIndex(ChannelsTab);
    activePage_ = pages_[ChannelsTab];
    // A port that did not open leaves the window stopped, and is reported once the window is
    // up.
    if (!opened) {
        ShowStopped();
        QTimer::singleShot(0, this, [this] { ReportOpenFailure(); });
    }
}

TMainForm::~TMainForm() {
    FormDestroy();
}

void TMainForm::BuildControls() {
    setWindowTitle(QString::fromLatin1(MainCaption));
    setWindowIcon(ProgramIcon());
    resize(DesignSize);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);

    auto* topPanel = new QWidget(central);
    topPanel->setObjectName(QStringLiteral("TopPanel"));
    auto* top = new QHBoxLayout(topPanel);
    top->setContentsMargins(4, 2, 4, 2);
    led_ = new TLed(topPanel);
    led_->setObjectName(QStringLiteral("Led"));
    top->addWidget(led_);
    startButton_ = MakeButton(QStringLiteral("StartButton"), tr("St&art"), topPanel);
    stopButton_ = MakeButton(QStringLiteral("StopButton"), tr("&Stop"), topPanel);
    aboutButton_ = MakeButton(QStringLiteral("AboutButton"), tr("A&bout..."), topPanel);
    dataFileButton_ = MakeButton(QStringLiteral("DataFileButton"), tr("Data F&iles..."), topPanel);
    uploadButton_ = MakeButton(QStringLiteral("UploadButton"), tr("&Upload..."), topPanel);
    settingsButton_ = MakeButton(QStringLiteral("SettingsButton"), tr("S&ettings..."), topPanel);
    for (QPushButton* button : {startButton_, stopButton_, aboutButton_, dataFileButton_,
                                uploadButton_, settingsButton_}) {
        top->addWidget(button);
    }
    top->addStretch();
    layout->addWidget(topPanel);

    pageControl_ = new QTabWidget(central);
    pageControl_->setObjectName(QStringLiteral("PageControl"));
    channelsPage_ = new TChannelsPage(model_, graphResources_, [this] { RefreshActivePage(); });
    channelsPage_->setObjectName(QStringLiteral("ChannelsSheet"));
    headerPage_ = new THeaderPage(model_);
    headerPage_->setObjectName(QStringLiteral("HeaderSheet"));
    gpsPage_ = new TGpsPage(model_);
    gpsPage_->setObjectName(QStringLiteral("GPSSheet"));
    controlPage_ = new TControlPage(model_, *session_, prompts_);
    controlPage_->setObjectName(QStringLiteral("ControlSheet"));
    temperaturesPage_ =
        new TTemperaturesPage(model_, graphResources_, prompts_, [this] { RefreshActivePage(); });
    temperaturesPage_->setObjectName(QStringLiteral("TemperaturesSheet"));
    fftPage_ = new TFftPage(model_, graphResources_, [this] { RefreshActivePage(); });
    fftPage_->setObjectName(QStringLiteral("FFTSheet"));
    spectrogramPage_ = new TTimeFrequencyPage(model_, [this] { RefreshActivePage(); });
    spectrogramPage_->setObjectName(QStringLiteral("SpectrogramSheet"));
    eventsPage_ = new TEventsPage(model_, [this](const TEvent& event) {
        pageControl_->setCurrentIndex(HelicorderTab);
        activePage_ = pages_[HelicorderTab];
        helicorderPage_->ShowEvent(event);
    });
    eventsPage_->setObjectName(QStringLiteral("EventsSheet"));
    helicorderPage_ = new THelicorderPage(model_, graphResources_, prompts_);
    helicorderPage_->setObjectName(QStringLiteral("HelicorderSheet"));
    pages_ = {channelsPage_, headerPage_,      gpsPage_,    controlPage_,   temperaturesPage_,
              fftPage_,      spectrogramPage_, eventsPage_, helicorderPage_};
    pageControl_->addTab(channelsPage_, tr("&Channels"));
    pageControl_->addTab(headerPage_, tr("&Header"));
    pageControl_->addTab(gpsPage_, tr("&GPS"));
    pageControl_->addTab(controlPage_, tr("C&ontrol"));
    pageControl_->addTab(temperaturesPage_, tr("&Temperatures"));
    pageControl_->addTab(fftPage_, tr("&FFT"));
    pageControl_->addTab(spectrogramPage_, tr("S&pectrogram"));
    pageControl_->addTab(eventsPage_, tr("E&vents"));
    pageControl_->addTab(helicorderPage_, tr("He&licorder"));
    layout->addWidget(pageControl_, 1);
    connect(pageControl_, &QTabWidget::currentChanged, this,
            [this](int index) { PageControlChange(index); });
    setCentralWidget(central);

    connect(startButton_, &QPushButton::clicked, this, [this] { StartButtonClick(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { StopButtonClick(); });
    connect(dataFileButton_, &QPushButton::clicked, this, [this] { DataFileButtonClick(); });
    connect(settingsButton_, &QPushButton::clicked, this, [this] { SettingsButtonClick(); });
    connect(aboutButton_, &QPushButton::clicked, this, [this] { AboutButtonClick(); });
    connect(uploadButton_, &QPushButton::clicked, this, [this] { UploadButtonClick(); });

    // Monitoring from the start: Start and Upload wait for Stop.
    startButton_->setEnabled(false);
    uploadButton_->setEnabled(false);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TDigitizer* TMainForm::Link() const {
    return session_->HasLink() ? &session_->Link() : nullptr;
}

QTimer* TMainForm::Timer() const {
    return session_->Timer();
}

std::string TMainForm::DevicePath() const {
    return sessionDevice_.empty() ? model_.Settings().Device : sessionDevice_;
}

TMonitorPage* TMainForm::PageOfTab(int index) const {
    return index >= 0 && index < TabCount ? pages_[static_cast<size_t>(index)] : nullptr;
}

// A device given by its path is named alone: its port number is one the user never gave.
void TMainForm::ReportOpenFailure() {
    const QString reason = QString::fromStdString(session_->OpenFailure());
    const QString text =
        DevicePath().empty()
            ? QStringLiteral("Failed to open comm %1\n%2").arg(model_.Settings().Port).arg(reason)
            : QStringLiteral("Failed to open %1").arg(reason);
    prompts_.Error(this, text);
}

void TMainForm::ResetDisplays() {
    for (TMonitorPage* page : pages_) {
        if (page) {
            page->ResetDisplays();
        }
    }
}

void TMainForm::RefreshActivePage() {
    if (activePage_) {
        activePage_->RefreshPage();
    }
}

void TMainForm::PageControlChange(int index) {
    activePage_ = PageOfTab(index);
}

void TMainForm::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return;
    }
    static constexpr std::pair<int, TTab> TabKeys[] = {
        {Qt::Key_C, ChannelsTab},    {Qt::Key_H, HeaderTab},       {Qt::Key_G, GpsTab},
        {Qt::Key_O, ControlTab},     {Qt::Key_T, TemperaturesTab}, {Qt::Key_F, FftTab},
        {Qt::Key_P, SpectrogramTab}, {Qt::Key_E, EventsTab},       {Qt::Key_L, HelicorderTab}};
    for (const auto& [tabKey, tab] : TabKeys) {
        if (key == tabKey) {
            if (pageControl_->currentIndex() != tab) {
                pageControl_->setCurrentIndex(tab);
                activePage_ = pages_[tab];
            }
            return;
        }
    }
    TMonitorPage* page = PageOfTab(pageControl_->currentIndex());
    if (!page) {
        return;
    }
    const bool shift = modifiers & Qt::ShiftModifier;
    switch (key) {
        case Qt::Key_U:
            page->ZoomKey(true, shift);
            break;
        case Qt::Key_D:
            page->ZoomKey(false, shift);
            break;
        case Qt::Key_X:
            page->SpanKey(true);
            break;
        case Qt::Key_Z:
            page->SpanKey(false);
            break;
        default:
            break;
    }
}

void TMainForm::ColourSettingsChanged() {
    graphResources_.SetColours(model_.Settings());
    for (TMonitorPage* page : pages_) {
        if (page) {
            page->ColoursChanged();
        }
    }
    RefreshActivePage();
}

// Keys reach this window's QWindow once each, before its widgets: the preview.
bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == windowHandle() && !destroyed_) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        FormKeyDown(key->key(), key->modifiers());
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::TimerTimer() {
    session_->TimerTimer();
}

void TMainForm::Reconnect(uint32_t baud) {
    session_->Reconnect(baud);
}

void TMainForm::EnableControlButtons(bool enabled) {
    controlPage_->EnableCommandButtons(enabled);
}

void TMainForm::StartButtonClick() {
    // The format of the next block is compared with the one seen before Stop;
    // data files still pending (blocks handled after Stop) are written.
    model_.Restart();
    const TSettings& settings = model_.Settings();
    if (!session_->Start(settings.Port, static_cast<uint32_t>(settings.Baud), DevicePath())) {
        // Nothing runs: Start stays the way to try again.
        ReportOpenFailure();
        return;
    }
    EnableControlButtons(true);
    uploadButton_->setEnabled(false);
    startButton_->setEnabled(false);
    stopButton_->setEnabled(true);
    for (TMonitorPage* page : pages_) {
        if (page) {
            page->MonitoringStarted();
        }
    }
}

void TMainForm::StopButtonClick() {
    led_->Rest();
    // A rate found by the search survives and is saved at exit.
    if (const TCommPort* port = session_->Port()) {
        model_.Settings().Port = port->PortNumber();
        model_.Settings().Baud = static_cast<int32_t>(port->BaudRate());
    }
    session_->Stop();
    // Every pending sample goes into its data file (what that has to say comes through the
    // recorder's news).
    model_.FlushDataFiles();
    ShowStopped();
}

void TMainForm::ShowStopped() {
    EnableControlButtons(false);
    uploadButton_->setEnabled(true);
    stopButton_->setEnabled(false);
    startButton_->setEnabled(true);
}

void TMainForm::FormDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    // The link first, which waits for its reader thread.
    session_->Close();
    qApp->removeEventFilter(hook_);
    qApp->removeEventFilter(this);
    activePage_ = nullptr;
    // Then the pending data files (waiting until they are written), the histories, and
    // last the settings.
    model_.FlushDataFiles();
    model_.WaitForRecorder();
    model_.Recorder().SetNewsCallback({});
    TRecordingNews news = model_.TakeRecordingNews();
    ShowRecordingNews(news.Reports, news.Notices, true);
    model_.ReleaseHistories();
    SaveSettingsFile();
}

void TMainForm::DataFileButtonClick() {
#if FILES_FEATURE
    TDataFileDlg dataFileDlg(this);
    dataFileDlg.SetOptions(model_.Settings());
    // The metadata of what is recorded: the codes in force and the unit's current format.
    dataFileDlg.SetStationXml([this] {
        if (model_.ChannelCount() <= 0) {
            return std::string();
        }
        return RecordingStationXml(model_.Settings(), model_.Format(), model_.FormatSince(),
                                   std::string("kestrel32 ") + ProgramVersion,
                                   TBlockTime::Now().Seconds);
    });
    // While the link runs the options can only be looked at.
    const bool stopped = startButton_->isEnabled();
    dataFileDlg.OKButton()->setEnabled(stopped);
    if (prompts_.Exec(dataFileDlg) == QDialog::Accepted && stopped) {
        dataFileDlg.TakeOptions(model_.Settings());
        SaveSettingsFile();
    }
#endif
}

void TMainForm::SettingsButtonClick() {
    TSettingsForm settingsForm(this);
    settingsForm.SetColours(model_.Settings());
    if (prompts_.Exec(settingsForm) == QDialog::Accepted) {
        settingsForm.TakeColours(model_.Settings());
        ColourSettingsChanged();
    }
}

void TMainForm::AboutButtonClick() {
    TAboutDlg aboutDlg(this);
    prompts_.Exec(aboutDlg);
}

void TMainForm::UploadButtonClick() {
    if (!session_->HasLink() || session_->Port() != nullptr || destroyed_) {
        return;  // only while the link is stopped
    }
    TDigitizer& link = session_->Link();
    link.SetDevicePath(DevicePath());
    TUploadDlg uploadDlg(link, model_.Settings().Port, this);
    uploadDlg.SetPowerCycle(powerCycle_);
    uploadDlg_ = &uploadDlg;
    prompts_.Exec(uploadDlg);
    uploadDlg_ = nullptr;
    // A run that ended early leaves the link running, perhaps still waiting for the boot
    // loader; Start would keep that mode and never see a frame.
    link.Stop();
    link.SetBootWait(false);
    if (closePending_) {
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void TMainForm::ShowRecordingNews(const std::vector<std::string>& reports,
                                  const std::vector<std::string>& notices, bool windowGoing) {
    for (const std::string& notice : notices) {
        std::fprintf(stderr, "kestrel32: %s\n", notice.c_str());
    }
    for (const std::string& report : reports) {
        if (windowGoing) {
            std::fprintf(stderr, "kestrel32: %s\n", report.c_str());
        } else {
            prompts_.Report(this, QString::fromStdString(report));
        }
    }
}

TSettingsContext TMainForm::SettingsContext() const {
    return MakeSettingsContext(model_.Separators());
}

// Read again first, so that keys this program does not know survive. A file
// that is there but cannot be read is not ours to replace.
void TMainForm::SaveSettingsFile() {
    const std::string path = settingsPath_.toStdString();
    TIniFile ini;
    if (!ini.Load(path)) {
        return;
    }
    SaveSettings(model_.Settings(), ini, SettingsContext());
    CreateParentDirectories(path);
    ini.Save(path);
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    QTimer::singleShot(0, this, [this] { FitMinimumSize(); });
}

void TMainForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        QTimer::singleShot(0, this, [this] { FitMinimumSize(); });
    }
}

void TMainForm::FitMinimumSize() {
    // Asked of every page: Qt sizes the tabs by what it has laid out, and a page not shown yet
    // may not have told it.
    QSize page(0, 0);
    for (int i = 0; i < pageControl_->count(); ++i) {
        page = page.expandedTo(pageControl_->widget(i)->minimumSizeHint());
    }
    const QSize around = size() - pageControl_->currentWidget()->size();
    setMinimumSize((page + around).expandedTo(minimumSizeHint()));
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (uploadDlg_ != nullptr) {
        // An upload in progress is cancelled (the unit rebooted) before the window goes.
        closePending_ = true;
        uploadDlg_->CancelAndClose();
        event->ignore();
        return;
    }
    FormDestroy();
    event->accept();
}
