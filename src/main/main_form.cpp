#include "main/main_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <cstdlib>

#include "main/block_event.h"
#include "main/channels_page.h"
#include "main/gps_page.h"
#include "main/header_page.h"
#include "main/led.h"
#include "main/model/ini_file.h"

const char* const MainCaption = "Varnhold 6 Channel 24 Bit Multi Sample Rate Digitizer Monitor";

namespace {

constexpr int TimerIntervalMs = 1100;

TNumberSeparators SystemSeparators() {
    const QLocale locale = QLocale::system();
    TNumberSeparators separators;
    separators.Thousands = locale.groupSeparator().toStdString();
    separators.Decimal = locale.decimalPoint().toStdString();
    return separators;
}

QPushButton* MakeButton(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

QWidget* MakeSheet(const char* name) {
    auto* sheet = new QWidget;
    sheet->setObjectName(QString::fromLatin1(name));
    return sheet;
}

}  // namespace

TMainForm::TMainForm(const TStartOptions& options, QWidget* parent)
    : QMainWindow(parent),
      settingsPath_(QString::fromStdString(options.SettingsPath)),
      sessionDevice_(options.SessionDevice),
      separators_(SystemSeparators()) {
    // 1-2: the window and its controls; the data file button only with recording.
    BuildControls();
    dataFileButton_->setVisible(FILES_FEATURE != 0);
    // 3: the block time starts from the computer's clock.
    blockTime_ = TBlockTime::Now();
    // 4: the settings.
    settings_ = DefaultSettings(HomeDirectory());
    TIniFile ini;
    ini.Load(options.SettingsPath);
    LoadSettings(settings_, ini, SettingsContext());
    channels_.SetStoredSeconds(settings_.StoredSeconds);
    channels_.SetDcTimeConst(settings_.DCTimeConst);
    // 6: a port or device on the command line overrides the file.
    if (options.Port) {
        settings_.Port = *options.Port;
    }
    if (!options.Device.empty()) {
        settings_.Device = options.Device;
    }
    // 7: no page refresh yet; the hook that hands every block to ProcessBlock,
    // and the preview of the window's keys.
    activePageRefresh_ = nullptr;
    hook_ = new TBlockHook([this](TDataBlock* block) { ProcessBlock(block); }, this);
    qApp->installEventFilter(hook_);
    qApp->installEventFilter(this);
    // 8: pens and brushes from the colour settings, the lists' colours.
    graphResources_.SetColours(settings_);
    channelsPage_->ApplyListColour();
    // 10: empty value labels, no channel figures, zoom disabled until a block.
    ResetDisplays();
    channelsPage_->UpdateZoomButtons(false);
    // 11: the settings in their fields.
    channelsPage_->ShowSettings();
    // 12: the link opens the port and starts its reader thread.
    link_ = std::make_unique<TDigitizer>(settings_.Port, static_cast<uint32_t>(settings_.Baud),
                                         PostBlocksTo(this), DevicePath());
    // 13: the Channels page is shown first, with its refresh handler.
    pageControl_->setCurrentIndex(ChannelsTab);
    activePageRefresh_ = graphPages_[ChannelsTab];
    // 14: a port that did not open is reported once the window is up.
    if (!link_->Port()->IsOpen()) {
        QTimer::singleShot(0, this, [this] { ReportOpenFailure(); });
    }
    timer_->start();
}

TMainForm::~TMainForm() {
    FormDestroy();
}

void TMainForm::BuildControls() {
    setWindowTitle(QString::fromLatin1(MainCaption));
    resize(769, 570);

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
    startButton_ = MakeButton("StartButton", tr("St&art"), topPanel);
    stopButton_ = MakeButton("StopButton", tr("&Stop"), topPanel);
    aboutButton_ = MakeButton("AboutButton", tr("A&bout..."), topPanel);
    dataFileButton_ = MakeButton("DataFileButton", tr("Data F&iles..."), topPanel);
    uploadButton_ = MakeButton("UploadButton", tr("&Upload..."), topPanel);
    settingsButton_ = MakeButton("SettingsButton", tr("S&ettings..."), topPanel);
    for (QPushButton* button : {startButton_, stopButton_, aboutButton_, dataFileButton_,
                                uploadButton_, settingsButton_}) {
        top->addWidget(button);
    }
    top->addStretch();
    layout->addWidget(topPanel);

    pageControl_ = new QTabWidget(central);
    pageControl_->setObjectName(QStringLiteral("PageControl"));
    headerPage_ = new THeaderPage;
    headerPage_->setObjectName(QStringLiteral("HeaderSheet"));
    gpsPage_ = new TGpsPage;
    gpsPage_->setObjectName(QStringLiteral("GPSSheet"));
    channelsPage_ =
        new TChannelsPage(TChannelsPageModel{channels_, settings_, format_, samplesPerBlock_,
                                             gainFactor_, separators_},
                          graphResources_, [this] { RefreshActivePage(); });
    channelsPage_->setObjectName(QStringLiteral("ChannelsSheet"));
    graphPages_[ChannelsTab] = channelsPage_;
    pageControl_->addTab(channelsPage_, tr("&Channels"));
    pageControl_->addTab(headerPage_, tr("&Header"));
    pageControl_->addTab(gpsPage_, tr("&GPS"));
    controlPage_ = new TControlPage(*this);
    controlPage_->setObjectName(QStringLiteral("ControlSheet"));
    pageControl_->addTab(controlPage_, tr("C&ontrol"));
    pageControl_->addTab(MakeSheet("TemperaturesSheet"), tr("&Temperatures"));
    pageControl_->addTab(MakeSheet("FFTSheet"), tr("&FFT"));
    layout->addWidget(pageControl_, 1);
    connect(pageControl_, &QTabWidget::currentChanged, this,
            [this](int index) { PageControlChange(index); });
    setCentralWidget(central);

    connect(startButton_, &QPushButton::clicked, this, [this] { StartButtonClick(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { StopButtonClick(); });

    // Monitoring from the start: Start and Upload wait for Stop.
    startButton_->setEnabled(false);
    uploadButton_->setEnabled(false);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer"));
    timer_->setInterval(TimerIntervalMs);
    connect(timer_, &QTimer::timeout, this, [this] { TimerTimer(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

std::string TMainForm::DevicePath() const {
    return sessionDevice_.empty() ? settings_.Device : sessionDevice_;
}

void TMainForm::ReportOpenFailure() {
    const TCommPort* port = link_ ? link_->Port() : nullptr;
    QString text = QStringLiteral("Failed to open comm %1").arg(settings_.Port);
    if (port != nullptr) {
        text += QLatin1Char('\n') + QString::fromStdString(port->OpenErrorText());
    }
    if (messageSink_) {
        messageSink_(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), text, QMessageBox::Ok, this);
    box.exec();
}

void TMainForm::ResetDisplays() {
    headerPage_->Clear();
    gpsPage_->Clear();
    channelsPage_->ResetDisplays();
}

void TMainForm::RefreshActivePage() {
    if (activePageRefresh_) {
        activePageRefresh_->RefreshPage();
    }
}

void TMainForm::PageControlChange(int index) {
    activePageRefresh_ = index >= 0 && index < TabCount ? graphPages_[index] : nullptr;
}

void TMainForm::FormKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) {
        return;
    }
    static constexpr std::pair<int, TTab> TabKeys[] = {
        {Qt::Key_C, ChannelsTab}, {Qt::Key_H, HeaderTab},       {Qt::Key_G, GpsTab},
        {Qt::Key_O, ControlTab},  {Qt::Key_T, TemperaturesTab}, {Qt::Key_F, FftTab}};
    for (const auto& [tabKey, tab] : TabKeys) {
        if (key == tabKey) {
            if (pageControl_->currentIndex() != tab) {
                pageControl_->setCurrentIndex(tab);
                activePageRefresh_ = graphPages_[tab];
            }
            return;
        }
    }
    const int current = pageControl_->currentIndex();
    TGraphPage* page = current >= 0 && current < TabCount ? graphPages_[current] : nullptr;
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
    graphResources_.SetColours(settings_);
    channelsPage_->ApplyListColour();
    channelsPage_->DrawChannelTraces(true);
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
    if (--LinkWatchdog < -1) {
        if (led_->BrushColor() == TLed::Lime) {
            led_->SetBrushColor(TLed::Green);
        }
        Reconnect(0);
    }
}

void TMainForm::Reconnect(uint32_t baud) {
    timer_->stop();
    const TCommPort* port = link_->Port();
    const uint8_t portNumber = port ? port->PortNumber() : settings_.Port;
    int watchdog = 4;
    if (baud == 0) {
        baud = static_cast<uint32_t>(
            BaudCycleNext(port ? static_cast<int32_t>(port->BaudRate()) : settings_.Baud));
        watchdog = 0;
    }
    link_->Stop();
    link_->Start(portNumber, baud);
    LinkWatchdog = watchdog;
    timer_->start();
}

void TMainForm::EnableControlButtons(bool enabled) {
    controlPage_->EnableCommandButtons(enabled);
}

bool TMainForm::ConfirmCommand(const QString& text) {
    if (confirmHook_) {
        return confirmHook_(text);
    }
    return QMessageBox::question(this, tr("Confirm"), text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void TMainForm::StartButtonClick() {
    timer_->stop();
    ResetChannelHistories();
    LinkWatchdog = 0;
    // The format of the next block is compared with the one seen before Stop.
    format_ = TStreamFormat{};
    samplesPerBlock_ = 0;
    blockTime_ = TBlockTime::Now();
    link_->SetDevicePath(DevicePath());
    link_->Start(settings_.Port, static_cast<uint32_t>(settings_.Baud));
    timer_->start();
    EnableControlButtons(true);
    uploadButton_->setEnabled(false);
    startButton_->setEnabled(false);
    stopButton_->setEnabled(true);
    channelsPage_->UpdateZoomButtons(false);
}

void TMainForm::StopButtonClick() {
    timer_->stop();
    if (led_->BrushColor() == TLed::Lime) {
        led_->SetBrushColor(TLed::Green);
    }
    // A rate found by the search survives and is saved at exit.
    if (const TCommPort* port = link_->Port()) {
        settings_.Port = port->PortNumber();
        settings_.Baud = static_cast<int32_t>(port->BaudRate());
    }
    link_->Stop();
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
    timer_->stop();
    // 1: the link, which waits for its reader thread.
    link_.reset();
    qApp->removeEventFilter(hook_);
    qApp->removeEventFilter(this);
    activePageRefresh_ = nullptr;
    // 2-3: the histories.
    ClearTemperatureHistories(temperatures_);
    channels_.ClearChannelHistories();
    // 4: the settings.
    SaveSettingsFile();
}

TSettingsContext TMainForm::SettingsContext() const {
    TSettingsContext context;
    context.FilesFeature = FILES_FEATURE != 0;
    context.DecimalSeparator = separators_.Decimal;
    return context;
}

// Read again first, so that keys this program does not know survive. A file
// that is there but cannot be read is not ours to replace.
void TMainForm::SaveSettingsFile() {
    const std::string path = settingsPath_.toStdString();
    TIniFile ini;
    if (!ini.Load(path)) {
        return;
    }
    SaveSettings(settings_, ini, SettingsContext());
    CreateParentDirectories(path);
    ini.Save(path);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    FormDestroy();
    event->accept();
}
