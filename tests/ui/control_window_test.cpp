// The Control page inside the main window against the simulator: commands
// reach the unit, change its stream, and the pages follow what arrives.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

#include "main/main_form.h"
#include "main/radio_group.h"
#include "sim/simulator.h"
#include "support/qt_wait.h"

using namespace std::chrono_literals;

namespace {

class ControlWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TSimConfig config;
        config.Channels = 3;
        config.Rate = 100;
        config.BytesPerSample = 3;
        config.Speed = 5;
        sim_ = std::make_unique<TDigitizerSim>(config);
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        TStartOptions options;
        options.SettingsPath = dir_.filePath("kestrel32.ini").toStdString();
        options.Device = sim_->DevicePath();
        form_ = std::make_unique<TMainForm>(options);
        form_->SetConfirmHook([this](const QString& text) {
            questions_.push_back(text);
            return answer_;
        });
        form_->show();
        ASSERT_TRUE(QtWaitFor([&] { return form_->Format().ChannelCount == 3; }, 10s));
    }

    void TearDown() override {
        form_.reset();
        sim_->Stop();
    }

    template <typename T>
    T* Find(const char* name) const {
        T* widget = form_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString Value(const char* name) const { return Find<QLabel>(name)->text(); }
    void Select(const char* group, const char* caption) const {
        TRadioGroup* radio = Find<TRadioGroup>(group);
        for (int i = 0; i < radio->Count(); ++i) {
            if (radio->ItemText(i) == QLatin1String(caption)) {
                return radio->Button(i)->click();
            }
        }
        ADD_FAILURE() << group << " has no item " << caption;
    }
    void Click(const char* button) const { Find<QPushButton>(button)->click(); }
    int Received(const std::string& name) const {
        int n = 0;
        for (const auto& command : sim_->ReceivedCommands()) {
            n += command.Name == name ? 1 : 0;
        }
        return n;
    }

    QTemporaryDir dir_;
    std::unique_ptr<TDigitizerSim> sim_;
    std::unique_ptr<TMainForm> form_;
    std::vector<QString> questions_;
    bool answer_ = false;
};

}  // namespace

TEST_F(ControlWindowTest, ReconfiguringTheUnitChangesTheStreamAndThePagesFollow) {
    // The page shows what the first block reported.
    EXPECT_EQ(Find<TRadioGroup>("SetRateRadioGroup")->ItemIndex(), 13);  // "100"
    EXPECT_EQ(Find<TRadioGroup>("BytesPerGroup")->ItemIndex(), 2);
    EXPECT_TRUE(Find<QCheckBox>("OnCheck3")->isChecked());

    // Four channels (channel 4 opens once 1 to 3 are on), channel 4 at high
    // gain, 50 samples per second, 2 bytes per sample.
    Find<QCheckBox>("OnCheck4")->click();
    ASSERT_TRUE(Find<QCheckBox>("OnCheck4")->isChecked());
    Find<QCheckBox>("HiGainCheck4")->click();
    Click("SCButton");
    Select("SetRateRadioGroup", "50");
    Click("SRButton");
    Select("BytesPerGroup", "2 Bytes, 16 Bits");
    Click("NBButton");
    EXPECT_EQ(form_->LinkWatchdog, 4);

    ASSERT_TRUE(QtWaitFor(
        [&] {
            const TStreamFormat& f = form_->Format();
            return f.ChannelCount == 4 && f.SampleRate == 50 && f.BytesPerSample == 2;
        },
        15s))
        << "channels " << form_->Format().ChannelCount << " rate " << form_->Format().SampleRate
        << " bytes " << form_->Format().BytesPerSample;
    EXPECT_EQ(form_->Format().GainBits, 0x8);
    // The Header page and this page follow the stream.
    EXPECT_EQ(Value("NumComps"), QStringLiteral("4"));
    EXPECT_EQ(Value("SRate"), QStringLiteral("50"));
    EXPECT_EQ(Value("ByteCount"), QStringLiteral("2"));
    EXPECT_EQ(Value("GainStr"), QStringLiteral("1 Lo, 2 Lo, 3 Lo, 4 Hi"));
    EXPECT_EQ(Find<TRadioGroup>("SetRateRadioGroup")->ItemIndex(), 11);  // "50"
    EXPECT_EQ(Find<TRadioGroup>("BytesPerGroup")->ItemIndex(), 1);
    EXPECT_TRUE(Find<QCheckBox>("OnCheck4")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("HiGainCheck4")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("OnCheck5")->isChecked());
}

TEST_F(ControlWindowTest, TheBaudButtonMovesUnitAndLinkAndTheNewRateIsConfirmedOnce) {
    Select("BaudRateRadioGroup", "57,600");
    Click("BAButton");
    EXPECT_EQ(form_->LinkWatchdog, 4);
    ASSERT_TRUE(QtWaitFor([&] { return form_->Format().BaudRate == 57600; }, 10s));
    EXPECT_EQ(sim_->State().Baud, 57600);
    const size_t blocks = form_->TemperatureHistories()[0].size();
    ASSERT_TRUE(
        QtWaitFor([&] { return form_->TemperatureHistories()[0].size() >= blocks + 3; }, 10s));
    EXPECT_EQ(Received("OK"), 1);
    EXPECT_EQ(Find<TRadioGroup>("BaudRateRadioGroup")->ItemIndex(), 6);
}

TEST_F(ControlWindowTest, RomQuestionsAndStopGuardTheCommands) {
    Click("RomDefButton");
    EXPECT_EQ(questions_, std::vector<QString>{QStringLiteral("Restore Factory Defaults")});
    EXPECT_EQ(form_->Link()->QueueLength(), 0) << "No queues nothing";
    answer_ = true;
    Click("RomWriteButton");
    ASSERT_TRUE(QtWaitFor([&] { return Received("RW") == 1; }, 5s));
    EXPECT_EQ(Received("RD"), 0);

    form_->StopButtonClick();
    for (const char* name : {"SRButton", "CAButton", "CPButton", "SCButton", "BAButton", "NBButton",
                             "SPButton", "FTButton", "LIButton", "RomWriteButton", "RomDefButton",
                             "EnhancedOnButton", "EnhancedOffButton"}) {
        EXPECT_FALSE(Find<QPushButton>(name)->isEnabled()) << name;
    }
    form_->StartButtonClick();
    EXPECT_TRUE(Find<QPushButton>("BAButton")->isEnabled());
}
