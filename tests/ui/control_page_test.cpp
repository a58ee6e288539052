// The Control page on the real link, the test playing the digitizer on a
// pseudo-terminal (or running the simulator): what each button puts on the
// line, the channel box rules, and synchronisation from a block's format.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <functional>
#include <stdexcept>

#include "main/control_page.h"
#include "main/link_session.h"
#include "main/prompts.h"
#include "main/radio_group.h"
#include "monitor/monitor_model.h"
#include "sim/simulator.h"
#include "support/pty_pair.h"

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int Untouched = -7;  // a watchdog value no command sets

// Bytes on the line, written as a string: "$SC\x00\x17"_b.
Bytes operator""_b(const char* text, size_t size) {
    return Bytes(text, text + size);
}

// The page on a real link session over the given device, with the questions
// answered by the test and the reconnects recorded.
struct TPageRig {
    explicit TPageRig(const std::string& device)
        : session([this](TDataBlock* block) {
              ++blocks;
              FreeBlock(block);
              return true;
          }),
          page(model, session, prompts) {
        prompts.SetConfirmHook([this](const QString& text) {
            questions.push_back(text);
            return answerYes;
        });
        QObject::connect(&session, &TLinkSession::Reconnecting, [this](uint32_t baud) {
            reconnects.push_back(baud);
            if (beforeReopen) {
                beforeReopen();  // lets a test look at the line between the two sessions
            }
        });
        session.Open(1, 19200, device);
        session.Timer()->stop();  // no baud search on a line the test plays
    }

    std::atomic<int> blocks{0};
    std::vector<QString> questions;
    bool answerYes = false;
    std::vector<uint32_t> reconnects;
    std::function<void()> beforeReopen;
    TMonitorModel model{TSettings{}};
    TPrompts prompts;
    TLinkSession session;
    TControlPage page;
};

class ControlPageTest : public ::testing::Test {
  protected:
    void Open(const std::string& device) {
        rig_.reset();
        rig_ = std::make_unique<TPageRig>(device);
        page_ = &rig_->page;
    }
    void SetUp() override { Open(peer_.SlavePath()); }

    template <typename T>
    T* Find(const std::string& name) const {
        T* widget = page_->findChild<T*>(QString::fromStdString(name));
        if (widget == nullptr) {
            throw std::runtime_error("no control " + name);
        }
        return widget;
    }
    QCheckBox* On(int n) const { return Find<QCheckBox>("OnCheck" + std::to_string(n)); }
    QCheckBox* HiGain(int n) const { return Find<QCheckBox>("HiGainCheck" + std::to_string(n)); }
    QPushButton* Button(const char* name) const { return Find<QPushButton>(name); }
    int Index(const char* group) const { return Find<TRadioGroup>(group)->ItemIndex(); }
    void Select(const char* group, const char* caption) const {
        TRadioGroup* radio = Find<TRadioGroup>(group);
        for (int i = 0; i < radio->Count(); ++i) {
            if (radio->ItemText(i) == QLatin1String(caption)) {
                return radio->Button(i)->click();
            }
        }
        ADD_FAILURE() << group << " has no item " << caption;
    }

    // Gives the reader a pass, compares what reaches the line, then echoes it
    // and waits until the link has dropped it: one command, nothing else.
    void ExpectOnLine(const Bytes& expected) {
        peer_.Write("x");
        Bytes got;
        peer_.ReadUntil(
            got, [&](const Bytes& r) { return r.size() >= expected.size(); }, 3s);
        got.resize(std::min(got.size(), expected.size()));
        EXPECT_EQ(got, expected);
        peer_.Write(Bytes(expected.begin(), expected.begin() + 3));
        EXPECT_TRUE(WaitFor([&] { return rig_->session.Link().QueueLength() == 0; }, 3s));
        peer_.ReadFor(20ms);  // a repeat sent before the echo arrived
    }
    void ExpectSilence() {
        EXPECT_EQ(rig_->session.Link().QueueLength(), 0);
        peer_.Write("x");
        EXPECT_TRUE(peer_.ReadFor(150ms).empty());
    }

    TPtyPeer peer_;
    std::unique_ptr<TPageRig> rig_;
    TControlPage* page_ = nullptr;
};

const char* const CommandButtons[] = {
    "SRButton",     "CAButton",         "CPButton",         "SCButton", "BAButton",
    "NBButton",     "SPButton",         "FTButton",         "LIButton", "RomWriteButton",
    "RomDefButton", "EnhancedOnButton", "EnhancedOffButton"};

}  // namespace

TEST_F(ControlPageTest, StartsInTheDesignStateAndStopDisablesTheButtons) {
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(On(n)->isChecked() && On(n)->isEnabled(), n <= 3) << n;
        EXPECT_EQ(HiGain(n)->isEnabled(), n <= 3) << n;
        EXPECT_FALSE(HiGain(n)->isChecked()) << n;
    }
    EXPECT_EQ(HiGain(6)->text(), QStringLiteral("Channel 6 High Gain"));
    EXPECT_FALSE(Find<QCheckBox>("LineOnCheck")->isChecked());
    EXPECT_FALSE(Find<TRadioGroup>("LineFrequencyRadioGroup")->isEnabled());
    EXPECT_TRUE(Find<QCheckBox>("GPSPSUCheck")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("SensorPSUCheck")->isChecked());
    const std::pair<const char*, const char*> selected[] = {{"LineFrequencyRadioGroup", "75 Hz"},
                                                            {"SetRateRadioGroup", "75"},
                                                            {"BaudRateRadioGroup", "19,200"},
                                                            {"BytesPerGroup", "3 Bytes, 24 Bits"},
                                                            {"FTypeRadioGroup", "Minimal Phase"},
                                                            {"PLLRadioGroup", "Off"},
                                                            {"CalRadioGroup", "Off"}};
    for (const auto& [group, caption] : selected) {
        EXPECT_EQ(Find<TRadioGroup>(group)->ItemText(Index(group)).toStdString(), caption);
    }
    EXPECT_EQ(Find<TRadioGroup>("SetRateRadioGroup")->Count(), 26);

    // Stop and Start switch exactly the thirteen command buttons.
    EXPECT_EQ(page_->findChildren<QPushButton*>().size(), 13);
    for (bool enabled : {true, false, true}) {
        page_->EnableCommandButtons(enabled);
        for (const char* name : CommandButtons) {
            EXPECT_EQ(Button(name)->isEnabled(), enabled) << name;
        }
        EXPECT_TRUE(On(1)->isEnabled() && Find<TRadioGroup>("SetRateRadioGroup")->isEnabled());
    }
}

TEST_F(ControlPageTest, EachButtonPutsItsCommandOnTheLine) {
    struct TCase {
        std::function<void()> prepare;
        const char* button;
        Bytes bytes;
        int watchdog;
    };
    auto check = [&](const char* name) { return [=, this] { Find<QCheckBox>(name)->click(); }; };
    auto select = [&](const char* group, const char* item) {
        return [=, this] { Select(group, item); };
    };
    auto yes = [&] { rig_->answerYes = true; };
    const TCase cases[] = {
        {select("SetRateRadioGroup", "100"), "SRButton", "$SF\x03\x06$SF\x04\x05"_b, 4},
        {select("SetRateRadioGroup", "0.1"), "SRButton",
         "$SF\x03\x06$SF\x04\x0A$SF\x05\x0A$SF\x06\x0A$SF\x07\x05"_b, 4},
        {select("CalRadioGroup", "0.3125v Dual Sine"), "CAButton", "$CA\x00\x09"_b, Untouched},
        {select("PLLRadioGroup", "Fast"), "CPButton", "$CP\x00\x03"_b, Untouched},
        {select("BytesPerGroup", "2 Bytes, 16 Bits"), "NBButton", "$NB\x00\x02"_b, 4},
        {check("HiGainCheck2"), "SCButton", "$SC\x00\x17"_b, 4},
        {select("FTypeRadioGroup", "Linear Phase"), "FTButton", "$FT\x00\x00"_b, Untouched},
        {select("FTypeRadioGroup", "Minimal Phase"), "FTButton", "$FT\x00\x02"_b, Untouched},
        {check("LineOnCheck"), "LIButton", "$LI\x00\x03"_b, Untouched},
        {select("LineFrequencyRadioGroup", "100 Hz"), "LIButton", "$LI\x00\x01"_b, Untouched},
        {check("LineOnCheck"), "LIButton", "$LI\x00\x00"_b, Untouched},
        {check("GPSPSUCheck"), "SPButton", "$SP\x00\x02"_b, Untouched},
        {yes, "RomWriteButton", "$RW"_b, Untouched},
        {yes, "RomDefButton", "$RD"_b, Untouched},
        {[] {}, "EnhancedOnButton", "$EM\x00\x01"_b, 4},
        {[] {}, "EnhancedOffButton", "$EM\x00\x00"_b, 4},
    };
    // Answering No to a ROM question sends nothing.
    Button("RomWriteButton")->click();
    Button("RomDefButton")->click();
    ExpectSilence();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.button);
        rig_->session.LinkWatchdog = Untouched;
        c.prepare();
        Button(c.button)->click();
        EXPECT_EQ(rig_->session.LinkWatchdog, c.watchdog);
        ExpectOnLine(c.bytes);
    }
    EXPECT_FALSE(Find<TRadioGroup>("LineFrequencyRadioGroup")->isEnabled());
    const QString write = QStringLiteral("Write Settings to ROM");
    const QString restore = QStringLiteral("Restore Factory Defaults");
    EXPECT_EQ(rig_->questions, (std::vector<QString>{write, restore, write, restore}));
}

TEST_F(ControlPageTest, BaudButtonSendsAtTheOldRateThenReopensAtTheNew) {
    Bytes between;  // what the line carried between the two sessions
    speed_t speedBetween = B0;
    rig_->beforeReopen = [&] {
        peer_.ReadUntil(
            between, [](const Bytes& r) { return r.size() >= 5; }, 2s);
        speedBetween = peer_.LineSpeed();
    };
    Select("BaudRateRadioGroup", "57,600");
    Button("BAButton")->click();
    between.resize(std::min<size_t>(between.size(), 5));
    EXPECT_EQ(between, "$BA\x00\x06"_b);
    // Between the sessions the line is back at the settings it had before the
    // link opened it (those of a new pseudo-terminal), not yet at the new rate.
    const TPtyPeer fresh;
    EXPECT_EQ(speedBetween, fresh.LineSpeed());
    EXPECT_NE(speedBetween, speed_t(B57600));
    EXPECT_EQ(rig_->reconnects, std::vector<uint32_t>{57600});
    EXPECT_EQ(rig_->session.LinkWatchdog, TLinkSession::CommandWatchdog);
    EXPECT_EQ(peer_.LineSpeed(), speed_t(B57600));
}

TEST_F(ControlPageTest, TheSimulatorFollowsTheBaudButton) {
    TSimConfig config;
    config.Speed = 5;
    TDigitizerSim sim(config);
    ASSERT_TRUE(sim.Start()) << sim.LastError();
    Open(sim.DevicePath());
    ASSERT_TRUE(WaitFor([&] { return rig_->blocks >= 1; }, 5s));
    Select("BaudRateRadioGroup", "38,400");
    Button("BAButton")->click();
    EXPECT_TRUE(WaitFor([&] { return sim.State().Baud == 38400; }, 3s));
    const int before = rig_->blocks;
    EXPECT_TRUE(WaitFor([&] { return rig_->blocks >= before + 3; }, 5s))
        << "frames decode at the new rate";
    rig_.reset();
}

TEST_F(ControlPageTest, ChannelBoxesStayContiguousFromChannelOne) {
    HiGain(1)->click();
    On(2)->click();  // off, with channels 1 to 3 on
    for (int n = 3; n <= 6; ++n) {
        EXPECT_FALSE(On(n)->isChecked() || On(n)->isEnabled()) << n;
    }
    for (int n = 2; n <= 6; ++n) {
        EXPECT_FALSE(HiGain(n)->isChecked() || HiGain(n)->isEnabled()) << n;
    }
    Button("SCButton")->click();
    ExpectOnLine("$SC\x00\x09"_b);

    On(2)->click();
    On(3)->click();
    EXPECT_TRUE(On(4)->isEnabled()) << "channel 4 opens once 1 to 3 are on";
    EXPECT_FALSE(HiGain(4)->isEnabled());
    On(4)->click();
    HiGain(4)->click();
    EXPECT_EQ(page_->ChannelFlags(), 0x0F + 0x0100 + 0x0800);

    On(1)->click();  // off
    EXPECT_FALSE(Button("SCButton")->isEnabled());
    EXPECT_EQ(page_->ChannelFlags(), 0);
    for (int n = 2; n <= 6; ++n) {
        EXPECT_FALSE(On(n)->isEnabled() || HiGain(n)->isEnabled()) << n;
    }
    page_->EnableCommandButtons(true);
    EXPECT_FALSE(Button("SCButton")->isEnabled()) << "no channel command without channel 1";
    On(1)->click();
    EXPECT_TRUE(Button("SCButton")->isEnabled());
}

TEST_F(ControlPageTest, SyncFromAFormatSetsTheControlsAndSendsNothing) {
    TStreamFormat format{.ChannelCount = 2,
                         .SampleRate = 0.1,
                         .BytesPerSample = 2,
                         .GainBits = 0b100010,  // channels 2 and 6 high gain
                         .FilterCode = 1,
                         .BaudRate = 38400};
    page_->SyncControlPage(format);
    EXPECT_TRUE(On(1)->isChecked() && On(2)->isChecked());
    EXPECT_FALSE(On(3)->isChecked() || On(4)->isEnabled());
    EXPECT_TRUE(HiGain(2)->isChecked());
    EXPECT_FALSE(HiGain(6)->isChecked()) << "a channel that is off has no gain";
    EXPECT_EQ(Index("SetRateRadioGroup"), 0);
    EXPECT_EQ(Index("BytesPerGroup"), 1);
    EXPECT_EQ(Index("FTypeRadioGroup"), 1);
    EXPECT_EQ(Index("BaudRateRadioGroup"), 5);

    format = {.ChannelCount = 6,
              .SampleRate = 100.0 / 3,
              .BytesPerSample = 4,
              .GainBits = 0x3F,
              .FilterCode = -1,
              .BaudRate = 14400};
    page_->SyncControlPage(format);
    EXPECT_EQ(page_->ChannelFlags(), 0x3F3F);
    EXPECT_EQ(Index("SetRateRadioGroup"), -1);
    EXPECT_EQ(Index("FTypeRadioGroup"), -1);
    EXPECT_EQ(Index("BaudRateRadioGroup"), -1);

    format.ChannelCount = 7;
    page_->SyncControlPage(format);
    rig_->session.LinkWatchdog = Untouched;
    EXPECT_EQ(page_->ChannelFlags(), 0);
    // With no item selected the rate, filter and baud buttons have nothing to send.
    for (const char* name : {"SRButton", "FTButton", "BAButton"}) {
        Button(name)->click();
    }
    EXPECT_TRUE(rig_->reconnects.empty());
    EXPECT_EQ(rig_->session.LinkWatchdog, Untouched);
    ExpectSilence();
}
