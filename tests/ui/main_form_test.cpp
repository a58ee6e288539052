// The main window against the simulator through a pseudo-terminal: a real
// window (offscreen), a real link and real blocks.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "digitizer/port_list.h"
#include "main/application.h"
#include "main/gps_page.h"
#include "main/led.h"
#include "main/link_session.h"
#include "recording/period_files.h"
#include "settings/ini_file.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

TNumberSeparators LocaleSeparators() {
    TNumberSeparators separators;
    separators.Thousands = QLocale::system().groupSeparator().toStdString();
    separators.Decimal = QLocale::system().decimalPoint().toStdString();
    return separators;
}

using MainFormTest = TWindowTest;

}  // namespace

TEST_F(MainFormTest, IsTheShellOfItsCaptionSizeButtonsAndPages) {
    peer_ = std::make_unique<TPtyPeer>();
    Open(peer_->SlavePath());
    EXPECT_EQ(form_->windowTitle().toStdString(),
              "Varnhold 6 Channel 24 Bit Multi Sample Rate Digitizer Monitor");
    EXPECT_EQ(form_->size(), QSize(769, 570));
    auto* pages = form_->findChild<QTabWidget*>(QStringLiteral("PageControl"));
    ASSERT_NE(pages, nullptr);
    const char* names[] = {"ChannelsSheet",    "HeaderSheet",       "GPSSheet",
                           "ControlSheet",     "TemperaturesSheet", "FFTSheet",
                           "SpectrogramSheet", "EventsSheet",       "HelicorderSheet"};
    const char* captions[] = {"&Channels", "&Header",      "&GPS",    "C&ontrol",   "&Temperatures",
                              "&FFT",      "S&pectrogram", "E&vents", "He&licorder"};
    ASSERT_EQ(pages->count(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(pages->widget(i)->objectName().toStdString(), names[i]);
        EXPECT_EQ(pages->tabText(i).toStdString(), captions[i]);
    }
    EXPECT_EQ(pages->currentIndex(), 0);
    const std::pair<const char*, const char*> buttons[] = {
        {"StartButton", "St&art"},      {"StopButton", "&Stop"},
        {"AboutButton", "A&bout..."},   {"DataFileButton", "Data F&iles..."},
        {"UploadButton", "&Upload..."}, {"SettingsButton", "S&ettings..."}};
    for (const auto& [name, caption] : buttons) {
        auto* button = form_->findChild<QPushButton*>(QString::fromLatin1(name));
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text().toStdString(), caption);
    }
    EXPECT_EQ(form_->findChild<QPushButton*>(QStringLiteral("DataFileButton"))->isVisible(),
              FILES_FEATURE != 0)
        << "the data file button only with recording built in";
    EXPECT_EQ(form_->Timer()->interval(), 1100);
    EXPECT_TRUE(form_->Timer()->isActive());
    EXPECT_EQ(form_->Led()->BrushColor(), TLed::Green);
    EXPECT_EQ(Value("DeviceId"), QString());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(MainFormTest, BlocksFillTheHeaderAndGpsPagesAndBlinkTheLamp) {
    Launch();
    ASSERT_TRUE(WaitForBlocks(3, 10s));
    const TNumberSeparators separators = LocaleSeparators();
    EXPECT_EQ(Value("DeviceId").toStdString(), "QF 5150-400 ");
    EXPECT_EQ(Value("SNum").toStdString(), "00012345");
    EXPECT_EQ(Value("NumComps"), QStringLiteral("3"));
    EXPECT_EQ(Value("SRate"), QStringLiteral("100"));
    EXPECT_EQ(Value("ByteCount"), QStringLiteral("3"));
    EXPECT_EQ(Value("BRateStr").toStdString(), FormatNumber(19200, 0, separators));
    EXPECT_EQ(Value("FilterTypeStr"), QStringLiteral("Minimal Phase"));
    EXPECT_EQ(Value("GainStr"), QStringLiteral("1 Lo, 2 Lo, 3 Lo"));
    EXPECT_TRUE(Value("ADC8").endsWith(QStringLiteral(" deg C"))) << "MDE temperatures shown";
    EXPECT_FALSE(Value("GPSDate").isEmpty());
    EXPECT_EQ(Value("GPSStatus"), QStringLiteral("Yes"));
    EXPECT_EQ(Value("GPSSecs"), QString()) << "a sentence leaves the report labels empty";
    EXPECT_EQ(Value("SysTime").size(), 19);
    bool utcCaption = false;
    for (const QLabel* label : form_->GpsPage()->findChildren<QLabel*>()) {
        utcCaption = utcCaption || label->text() == QStringLiteral("System Time (UTC)");
    }
    EXPECT_TRUE(utcCaption) << "the block time is shown as UTC";
    EXPECT_LE(form_->GpsPage()->Memo()->blockCount(), TGpsPage::MemoLines);

    // The samples reach the histories; each temperature reading carries the offset.
    EXPECT_GE(form_->Model().Channels().ChannelHistory(2).Size(), 300u);
    EXPECT_EQ(form_->Model().Temperatures()[1].back().Offset,
              form_->Model().Channels().ChannelStats(1).Offset);
    EXPECT_NE(form_->Model().Channels().ChannelStats(1).Offset, 0.0);

    // The lamp changes colour once per block: lime after an odd count.
    form_->Timer()->stop();
    sim_->Stop();
    QtRunFor(300ms);
    const size_t blocks = Blocks();
    EXPECT_EQ(form_->Led()->BrushColor(), blocks % 2 ? TLed::Lime : TLed::Green) << blocks;
}

TEST_F(MainFormTest, OnlyAChangeOfFormatResetsTheHistories) {
    Launch();
    ASSERT_TRUE(WaitForBlocks(4, 10s));
    // Grown one reading per block from the first: only the first block reset them.
    EXPECT_EQ(form_->Model().Format().ChannelCount, 3);
    form_->Link()->SetComponents(0x0003);  // channels 1 and 2
    ASSERT_TRUE(QtWaitFor([&] { return form_->Model().Format().ChannelCount == 2; }, 10s));
    EXPECT_EQ(Blocks(), 1u) << "the format change started the histories afresh";
    ASSERT_TRUE(WaitForBlocks(3, 10s));
    // The enhanced header switched off is not a change of format.
    form_->Link()->SetEnhancedHeader(false);
    ASSERT_TRUE(QtWaitFor([&] { return Value("ADC8").isEmpty(); }, 10s));
    EXPECT_GE(Blocks(), 4u);
}

TEST_F(MainFormTest, ABaudChangeIsConfirmedExactlyOnce) {
    Launch();
    ASSERT_TRUE(WaitForBlocks(2, 10s));
    EXPECT_EQ(Received("OK"), 0) << "the first blocks after start confirm nothing";
    // What the Control page's baud button does.
    form_->Link()->SetBaudRate(7);
    form_->Reconnect(115200);
    ASSERT_TRUE(QtWaitFor([&] { return form_->Model().Format().BaudRate == 115200; }, 10s));
    const size_t blocks = Blocks();
    ASSERT_TRUE(WaitForBlocks(blocks + 4, 10s));
    QtRunFor(300ms);
    EXPECT_EQ(Received("OK"), 1);
    EXPECT_EQ(form_->Session().LinkWatchdog >= 4, true);
}

TEST_F(MainFormTest, ASilentLineWalksTheBaudCycleEverySecondTick) {
    OpenSilent();
    std::vector<uint32_t> rates;
    for (int tick = 1; tick <= 18; ++tick) {
        form_->TimerTimer();
        ASSERT_NE(form_->Link()->Port(), nullptr);
        ASSERT_TRUE(form_->Link()->Port()->IsOpen()) << "tick " << tick;
        if (tick % 2 == 1) {
            EXPECT_EQ(form_->Session().LinkWatchdog, -1);
        } else {
            rates.push_back(form_->Link()->Port()->BaudRate());
            EXPECT_EQ(form_->Session().LinkWatchdog, 0);
        }
    }
    EXPECT_EQ(rates,
              (std::vector<uint32_t>{38400, 57600, 115200, 1200, 2400, 4800, 9600, 19200, 38400}));
}

TEST_F(MainFormTest, BlocksKeepTheWatchdogFromFiring) {
    Launch();
    // The ticks come from here, each after a block, however slow the machine.
    form_->Timer()->stop();
    for (int tick = 1; tick <= 4; ++tick) {
        const size_t blocks = Blocks();
        ASSERT_TRUE(QtWaitFor([&] { return Blocks() > blocks; }, 10s)) << "tick " << tick;
        form_->TimerTimer();
        EXPECT_EQ(form_->Session().LinkWatchdog, int(Blocks()) - tick)
            << "each block up, each tick down";
    }
    EXPECT_EQ(form_->Link()->Port()->BaudRate(), 19200u);
}

TEST_F(MainFormTest, FindsTheUnitsRateAndKeepsItAfterStopAndExit) {
    TSimConfig config = SimConfig();
    config.Baud = 38400;
    WriteSettings("[Comms]\nPort=1\nBaud=19200\n[Extra]\nKeep=me\n");
    Launch(config);
    ASSERT_TRUE(WaitForBlocks(2, 15s));
    EXPECT_EQ(form_->Model().Format().BaudRate, 38400);
    form_->StopButtonClick();
    EXPECT_EQ(form_->Link()->Port(), nullptr);
    EXPECT_TRUE(form_->findChild<QPushButton*>(QStringLiteral("StartButton"))->isEnabled());
    EXPECT_FALSE(form_->findChild<QPushButton*>(QStringLiteral("StopButton"))->isEnabled());
    EXPECT_TRUE(form_->findChild<QPushButton*>(QStringLiteral("UploadButton"))->isEnabled());
    EXPECT_FALSE(form_->Timer()->isActive());
    form_->close();
    form_.reset();

    TIniFile ini;
    ASSERT_TRUE(ini.Load(SettingsPath()));
    EXPECT_EQ(ini.Get("Comms", "Baud"), "38400");
    EXPECT_EQ(ini.Get("Comms", "Device"), sim_->DevicePath());
    EXPECT_EQ(ini.Get("extra", "keep"), "me") << "a section the program does not know";
    EXPECT_EQ(ini.Get("Data", "StoredSeconds"), "30");
}

TEST_F(MainFormTest, StartAfterStopMonitorsAgain) {
    Launch();
    ASSERT_TRUE(WaitForBlocks(2, 10s));
    form_->StopButtonClick();
    form_->StartButtonClick();
    EXPECT_FALSE(form_->findChild<QPushButton*>(QStringLiteral("StartButton"))->isEnabled());
    EXPECT_TRUE(form_->findChild<QPushButton*>(QStringLiteral("StopButton"))->isEnabled());
    EXPECT_FALSE(form_->findChild<QPushButton*>(QStringLiteral("UploadButton"))->isEnabled());
    EXPECT_TRUE(form_->Timer()->isActive());
    EXPECT_EQ(form_->Session().LinkWatchdog, 0);
    EXPECT_EQ(Blocks(), 0u) << "Start empties the histories";
    EXPECT_TRUE(WaitForBlocks(2, 10s));
}

// A port that does not open is reported with its reason and the ports this machine has (so
// that the user sees the right name), naming the device as the user gave it; nothing runs, so
// Start is the way to try again, and a Start that fails too says so and leaves it that way.
TEST_F(MainFormTest, APortThatDoesNotOpenIsReportedAndLeavesTheWindowStopped) {
    const std::string hint = SerialPortsHint(ListSerialPorts());
    struct TCase {
        const char* what;
        std::optional<uint8_t> port;
        std::string device;
        std::string message;
    };
    const TCase cases[] = {
        {"a device path: no port number", std::nullopt, "/dev/kestrel-no-such-device",
         "Failed to open /dev/kestrel-no-such-device: No such file or directory\n" + hint},
        {"a port number: its comm number and device", 200, "",
         "Failed to open comm 200\n/dev/ttyS199: No such file or directory\n" + hint},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        messages_.clear();
        TStartOptions options;
        options.SettingsPath = SettingsPath();
        options.Port = c.port;
        options.Device = c.device;
        form_ = std::make_unique<TMainForm>(options);
        form_->Prompts().SetMessageSink([this](const QString& text) { messages_.push_back(text); });
        form_->show();
        ASSERT_TRUE(QtWaitFor([&] { return !messages_.empty(); }, 2s));
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0].toStdString(), c.message);
        EXPECT_TRUE(form_->isVisible()) << "the window opens in any case";
        auto* start = Find<QPushButton>(QStringLiteral("StartButton"));
        auto* stop = Find<QPushButton>(QStringLiteral("StopButton"));
        EXPECT_TRUE(start->isEnabled());
        EXPECT_FALSE(stop->isEnabled());
        EXPECT_TRUE(Find<QPushButton>(QStringLiteral("UploadButton"))->isEnabled());
        EXPECT_FALSE(form_->Timer()->isActive()) << "no watchdog for a link that does not run";
        EXPECT_EQ(form_->Session().Port(), nullptr);

        Click(QStringLiteral("StartButton"));
        ASSERT_EQ(messages_.size(), 2u) << "a Start that fails is told too";
        EXPECT_EQ(messages_[1].toStdString(), c.message);
        EXPECT_TRUE(start->isEnabled());
        EXPECT_FALSE(stop->isEnabled());
        EXPECT_FALSE(form_->Timer()->isActive());
        form_.reset();
    }
}

TEST_F(MainFormTest, APortOnTheCommandLineWinsOverTheSavedDevice) {
    WriteSettings("[Comms]\nPort=1\nDevice=/dev/kestrel-saved-device\n");
    TStartOptions options;
    options.SettingsPath = SettingsPath();
    options.Port = 5;
    form_ = std::make_unique<TMainForm>(options);
    form_->Prompts().SetMessageSink([this](const QString& text) { messages_.push_back(text); });
    // The port opened, or did not open and says which device it tried.
    const TCommPort* port = form_->Session().Port();
    const std::string& failure = form_->Session().OpenFailure();
    EXPECT_EQ(port != nullptr ? port->DevicePath() : failure.substr(0, failure.find(':')),
              "/dev/ttyS4");
    form_.reset();
    TIniFile ini;
    ASSERT_TRUE(ini.Load(SettingsPath()));
    EXPECT_EQ(ini.Get("Comms", "Port"), "5");
    EXPECT_EQ(ini.Get("Comms", "Device"), "");
}

TEST(Application, HasNoDisplayNameToAppendToTheWindowTitles) {
    SetUpApplication(QStringLiteral("1.1.4.0"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("kestrel32"));
    EXPECT_EQ(QCoreApplication::applicationVersion(), QStringLiteral("1.1.4.0"));
    // Qt appends a display name to every title only when one has been set.
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
}

// With FILES_FEATURE off (the shipped configuration) nothing records, whatever
// the settings file says, and its [Files] section is left as it was; with it
// on, a Stop writes every pending file.
TEST_F(MainFormTest, RecordingFollowsTheBuildOption) {
    const std::string recordings = dir_.filePath(QStringLiteral("rec")).toStdString();
    WriteSettings("[Files]\nEnable=1\nDurationMinutes=7\nStation=ABCDE\nBaseDir=" + recordings +
                  "/\n");
    const int64_t started = std::time(nullptr);
    Launch();
    ASSERT_TRUE(WaitForBlocks(3, 10s));
    Click(QStringLiteral("StopButton"));
    form_->Model().WaitForRecorder();  // the files are written on the recorder's thread
    EXPECT_EQ(std::filesystem::exists(recordings), FILES_FEATURE != 0);
    if (FILES_FEATURE) {
        size_t files = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(recordings)) {
            files += entry.is_regular_file() ? 1 : 0;
        }
        // The blocks are timed by the clock: a run across the start of a 7-minute period
        // (minute 0, 7, ... 56 of the hour) rightly cuts each channel's file there.
        bool acrossAPeriod = false;
        for (int64_t t = started - 2; t <= std::time(nullptr) + 2; ++t) {
            acrossAPeriod = acrossAPeriod || IsFileBoundary(t, 7);
        }
        if (acrossAPeriod) {
            EXPECT_TRUE(files == 3u || files == 6u) << files;
        } else {
            EXPECT_EQ(files, 3u) << "one file per channel";
        }
    }
    form_.reset();
    TIniFile ini;
    ASSERT_TRUE(ini.Load(SettingsPath()));
    EXPECT_EQ(ini.Get("Files", "Station"), "ABCDE");
    EXPECT_EQ(ini.Get("Files", "BaseDir"), FILES_FEATURE ? recordings : recordings + "/");
    EXPECT_EQ(ini.Get("Files", "Location").has_value(), FILES_FEATURE != 0)
        << "[Files] written only with recording built in";
}
