// The Control page inside the main window against the simulator: commands
// reach the unit, change its stream, and the pages follow what arrives.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPushButton>

#include "main/link_session.h"
#include "main/radio_group.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

class ControlWindowTest : public TWindowTest {
  protected:
    void SetUp() override {
        TSimConfig config = SimConfig();
        config.Mde = false;
        Launch(config);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(QtWaitFor([&] { return Format().ChannelCount == 3; }, 10s));
    }
    const TStreamFormat& Format() const { return form_->Model().Format(); }
};

}  // namespace

TEST_F(ControlWindowTest, ReconfiguringTheUnitChangesTheStreamAndThePagesFollow) {
    // The page shows what the first block reported.
    EXPECT_EQ(Find<TRadioGroup>(QStringLiteral("SetRateRadioGroup"))->ItemIndex(), 13);  // "100"
    EXPECT_EQ(Find<TRadioGroup>(QStringLiteral("BytesPerGroup"))->ItemIndex(), 2);
    EXPECT_TRUE(Find<QCheckBox>(QStringLiteral("OnCheck3"))->isChecked());

    // Four channels (channel 4 opens once 1 to 3 are on), channel 4 at high
    // gain, 50 samples per second, 2 bytes per sample.
    Find<QCheckBox>(QStringLiteral("OnCheck4"))->click();
    ASSERT_TRUE(Find<QCheckBox>(QStringLiteral("OnCheck4"))->isChecked());
    Find<QCheckBox>(QStringLiteral("HiGainCheck4"))->click();
    Click("SCButton");
    Select("SetRateRadioGroup", "50");
    Click("SRButton");
    Select("BytesPerGroup", "2 Bytes, 16 Bits");
    Click("NBButton");
    EXPECT_EQ(form_->Session().LinkWatchdog, 4);

    ASSERT_TRUE(QtWaitFor(
        [&] {
            const TStreamFormat& f = Format();
            return f.ChannelCount == 4 && f.SampleRate == 50 && f.BytesPerSample == 2;
        },
        15s))
        << "channels " << Format().ChannelCount << " rate " << Format().SampleRate << " bytes "
        << Format().BytesPerSample;
    EXPECT_EQ(Format().GainBits, 0x8);
    // The Header page and this page follow the stream.
    EXPECT_EQ(Value("NumComps"), QStringLiteral("4"));
    EXPECT_EQ(Value("SRate"), QStringLiteral("50"));
    EXPECT_EQ(Value("ByteCount"), QStringLiteral("2"));
    EXPECT_EQ(Value("GainStr"), QStringLiteral("1 Lo, 2 Lo, 3 Lo, 4 Hi"));
    EXPECT_EQ(Find<TRadioGroup>(QStringLiteral("SetRateRadioGroup"))->ItemIndex(), 11);  // "50"
    EXPECT_EQ(Find<TRadioGroup>(QStringLiteral("BytesPerGroup"))->ItemIndex(), 1);
    EXPECT_TRUE(Find<QCheckBox>(QStringLiteral("OnCheck4"))->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(QStringLiteral("HiGainCheck4"))->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(QStringLiteral("OnCheck5"))->isChecked());
}

TEST_F(ControlWindowTest, TheBaudButtonMovesUnitAndLinkAndTheNewRateIsConfirmedOnce) {
    Select("BaudRateRadioGroup", "57,600");
    Click("BAButton");
    EXPECT_EQ(form_->Session().LinkWatchdog, 4);
    ASSERT_TRUE(QtWaitFor([&] { return Format().BaudRate == 57600; }, 10s));
    EXPECT_EQ(sim_->State().Baud, 57600);
    const size_t blocks = Blocks();
    ASSERT_TRUE(QtWaitFor([&] { return Blocks() >= blocks + 3; }, 10s));
    EXPECT_EQ(Received("OK"), 1);
    EXPECT_EQ(Find<TRadioGroup>(QStringLiteral("BaudRateRadioGroup"))->ItemIndex(), 6);
}

TEST_F(ControlWindowTest, RomQuestionsAndStopGuardTheCommands) {
    Click("RomDefButton");
    EXPECT_EQ(questions_, std::vector<QString>{QStringLiteral("Restore Factory Defaults")});
    EXPECT_EQ(form_->Link()->QueueLength(), 0) << "No queues nothing";
    answer_ = true;
    Click("RomWriteButton");
    ASSERT_TRUE(QtWaitFor([&] { return Received("RW") == 1; }, 15s));
    EXPECT_EQ(Received("RD"), 0);

    form_->StopButtonClick();
    for (const char* name : {"SRButton", "CAButton", "CPButton", "SCButton", "BAButton", "NBButton",
                             "SPButton", "FTButton", "LIButton", "RomWriteButton", "RomDefButton",
                             "EnhancedOnButton", "EnhancedOffButton"}) {
        EXPECT_FALSE(Find<QPushButton>(QString::fromLatin1(name))->isEnabled()) << name;
    }
    form_->StartButtonClick();
    EXPECT_TRUE(Find<QPushButton>("BAButton")->isEnabled());
}
