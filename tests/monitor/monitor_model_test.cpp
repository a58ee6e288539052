// The monitor model fed block by block, without a window: when a block is a
// change of format and what that resets, when "$OK" is due, Start's restart,
// the channels each graph page shows, and what a block leaves in the settings.
#include "monitor/monitor_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/blocks.h"

namespace {

const TBlockTime Clock0 = *TBlockTime::FromCivil(2026, 12, 7, 10, 0, 0);

class MonitorModelTest : public ::testing::Test {
  protected:
    // Feeds one block; the block's counts are 1000 + channel.
    TBlockOutcome Feed(TBlockShape shape, std::optional<int32_t> baud = 19200) {
        shape.BlockCount = ++blockCount_;
        if (!shape.Counts) {
            shape.Counts = [](int c, int) { return 1000 + c; };
        }
        return model_.ProcessBlock(*MakeOwnedBlock(shape), baud);
    }
    size_t Readings() const { return model_.Temperatures()[0].size(); }

    TBlockTime now_ = Clock0;
    TMonitorModel model_{TSettings{}, TNumberSeparators{}, [this] { return now_; }};
    uint32_t blockCount_ = 0;
};

}  // namespace

TEST_F(MonitorModelTest, OnlyAChangeOfFormatResetsTheHistoriesAndRedrawsEverything) {
    struct TStep {
        const char* what;
        TBlockShape shape;
        bool change;
    };
    const TStep steps[] = {
        {"the first block", {}, true},
        {"the same format", {}, false},
        {"the enhanced header is not part of the format", {.Mde = true}, false},
        {"another rate", {.Rate = 200}, true},
        {"another sample width", {.Rate = 200, .BytesPerSample = 2}, true},
        {"other gains", {.Rate = 200, .BytesPerSample = 2, .GainCode = "G1"}, true},
        {"another filter",
         {.Rate = 200, .BytesPerSample = 2, .GainCode = "G1", .FilterType = "LP"},
         true},
        {"the same again",
         {.Rate = 200, .BytesPerSample = 2, .GainCode = "G1", .FilterType = "LP"},
         false},
        {"fewer channels",
         {.Channels = 2, .Rate = 200, .BytesPerSample = 2, .GainCode = "G1", .FilterType = "LP"},
         true},
    };
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.what);
        const size_t before = Readings();
        const TBlockOutcome outcome = Feed(step.shape);
        EXPECT_EQ(outcome.FormatChanged, step.change);
        EXPECT_EQ(outcome.FullRedraw, step.change);
        EXPECT_FALSE(outcome.ConfirmBaud);
        EXPECT_EQ(Readings(), step.change ? 1u : before + 1) << "histories restart on a change";
        EXPECT_EQ(model_.Channels().ChannelHistory(0).Size(),
                  static_cast<size_t>(step.shape.Rate) * Readings());
    }
    EXPECT_EQ(model_.Format().ChannelCount, 2);
    EXPECT_EQ(model_.Format().SampleRate, 200);
    EXPECT_EQ(model_.SamplesPerBlock(), 200);
    EXPECT_EQ(model_.Format().FilterCode, 1);
    EXPECT_EQ(model_.GainFactors(), (std::array<int32_t, MaxChannels>{10, 1, 1, 1, 1, 1}));
}

TEST_F(MonitorModelTest, ANewLineRateIsConfirmedOnceAndAStoppedLinkKeepsTheRate) {
    struct TStep {
        std::optional<int32_t> baud;
        bool confirm;
        bool change;
    };
    const TStep steps[] = {
        {19200, false, true},          // the first block after start confirms nothing
        {19200, false, false},         //
        {57600, true, true},           // the first block at the new rate
        {57600, false, false},         // and only that one
        {std::nullopt, false, false},  // queued before Stop: keeps the rate it came at
        {38400, true, true},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        const TBlockOutcome outcome = Feed({}, steps[i].baud);
        EXPECT_EQ(outcome.ConfirmBaud, steps[i].confirm) << "block " << i;
        EXPECT_EQ(outcome.FormatChanged, steps[i].change) << "block " << i;
    }
    EXPECT_EQ(model_.Format().BaudRate, 38400);
    EXPECT_EQ(model_.Settings().Baud, 38400) << "the rate of the last change is kept";
}

TEST_F(MonitorModelTest, RestartEmptiesTheHistoriesAndComparesWithTheFormatSeenBefore) {
    Feed({});
    Feed({});
    now_ = now_ + 3600;
    model_.Restart();
    EXPECT_EQ(Readings(), 0u);
    EXPECT_EQ(model_.Channels().ChannelHistory(0).Size(), 0u);
    EXPECT_EQ(model_.Format(), TStreamFormat{});
    EXPECT_EQ(model_.BlockTime(), now_);
    EXPECT_FALSE(Feed({}).FormatChanged) << "the digitizer's format is unchanged";
    model_.Restart();
    EXPECT_TRUE(Feed({.Channels = 4}).FormatChanged);
}

TEST_F(MonitorModelTest, ChannelsBeyondANewCountLeaveEveryGraph) {
    Feed({.Channels = 6});
    for (int g = 0; g < GraphCount; ++g) {
        for (int c = 0; c < MaxChannels; ++c) {
            EXPECT_TRUE(model_.Displayed(TGraph(g), c));
        }
    }
    model_.SetDisplayed(TGraph::Temperatures, 1, false);
    Feed({.Channels = 4});
    Feed({.Channels = 6});  // the channels come back, but stay off
    for (int g = 0; g < GraphCount; ++g) {
        for (int c = 0; c < MaxChannels; ++c) {
            const bool off = c >= 4 || (TGraph(g) == TGraph::Temperatures && c == 1);
            EXPECT_EQ(model_.Displayed(TGraph(g), c), !off) << g << " " << c;
        }
    }
    EXPECT_FALSE(model_.Displayed(TGraph::Waves, MaxChannels));
    model_.SetDisplayed(TGraph::Waves, 4, true);
    EXPECT_TRUE(model_.Displayed(TGraph::Waves, 4));
}

TEST_F(MonitorModelTest, ABlockLeavesItsTextsTimeAndStationBehind) {
    // Without GPS the first block takes the clock, each next one adds a second.
    Feed({});
    EXPECT_EQ(model_.BlockTime(), Clock0);
    now_ = now_ + 100;
    Feed({});
    Feed({});
    EXPECT_EQ(model_.BlockTime(), Clock0 + 2);
    EXPECT_EQ(model_.SystemTimeText(), "07/12/2026 10:00:02");
    EXPECT_EQ(model_.HeaderTexts().NumComps, "3");
    EXPECT_FALSE(model_.GpsUpdate().Present);

    // Gains of channels beyond the block's count keep their values.
    Feed({.Channels = 6, .GainCode = std::string("G\x3F")});
    Feed({.Channels = 2, .GainCode = "L"});
    EXPECT_EQ(model_.GainFactors(), (std::array<int32_t, MaxChannels>{1, 1, 10, 10, 10, 10}));

    // The station follows the serial number on a change of format, when asked to.
    EXPECT_EQ(model_.Settings().Station, "STATN");
    model_.Settings().UseSerialNumber = 1;
    Feed({.Channels = 2, .GainCode = "L", .SerialNumber = "00099"});
    EXPECT_EQ(model_.Settings().Station, "STATN") << "not a change of format";
    Feed({.Channels = 1, .SerialNumber = "00099"});
    EXPECT_EQ(model_.Settings().Station, "00099");

    // Temperatures: one reading per block carrying the channel's offset.
    Feed({.Channels = 1, .SensorTemp = 31.5});
    ASSERT_EQ(Readings(), 2u);
    EXPECT_EQ(model_.Temperatures()[0].back().Temperature, 31.5);
    EXPECT_EQ(model_.Temperatures()[0].back().Offset, model_.Channels().ChannelStats(0).Offset);
    EXPECT_NE(model_.Channels().ChannelStats(0).Offset, 0);
}

// Spectra after each block while AutoCalc is set, for the channels the FFT
// page shows, once their rings hold Points samples; they survive resets.
TEST_F(MonitorModelTest, SpectraFollowAutoCalcTheChannelsShownAndThePoints) {
    // Channel c: a sine of 10 x (c + 1) cycles per block of 100 samples, so
    // 102.4 x (c + 1) cycles in 1024 samples.
    auto sine = [](int c, int j) {
        return static_cast<int32_t>(1000000 * std::sin(2 * M_PI * 10 * (c + 1) * j / 100.0));
    };
    auto peak = [this](int c) {
        const TSpectrum* spectrum = model_.Spectra().Result(c);
        int best = 0;
        for (int k = 0; k < spectrum->Points() / 2; ++k) {
            best = spectrum->Level(k) > spectrum->Level(best) ? k : best;
        }
        return best * 1024 / spectrum->Points();
    };
    EXPECT_EQ(model_.Settings().Points, 1024);
    EXPECT_EQ(model_.FftWindow(), TFftWindow::BlackmanHarris);
    model_.SetDisplayed(TGraph::Fft, 1, false);
    for (int b = 0; b < 10; ++b) {
        Feed({.Counts = sine});
    }
    EXPECT_EQ(model_.Spectra().Result(0), nullptr) << "1000 samples of 1024";
    Feed({.Counts = sine});
    ASSERT_NE(model_.Spectra().Result(0), nullptr);
    EXPECT_EQ(model_.Spectra().Result(1), nullptr) << "not shown";
    ASSERT_NE(model_.Spectra().Result(2), nullptr);
    EXPECT_EQ(model_.Spectra().Result(3), nullptr) << "beyond the channel count";
    EXPECT_EQ(peak(0), 102);
    EXPECT_EQ(peak(2), 307);

    // AutoCalc off: the spectra stay as they are while the signal changes.
    const std::vector<double> before = model_.Spectra().Result(0)->Buffer().Real;
    model_.SetAutoCalc(false);
    EXPECT_EQ(model_.Settings().AutoCalc, 0);
    Feed({.Counts = [](int, int) { return 0; }});
    EXPECT_EQ(model_.Spectra().Result(0)->Buffer().Real, before);
    model_.SetAutoCalc(true);

    // 8192 points: the 1024-point spectra stay until the rings hold 8192.
    model_.SetFftPoints(8192);
    model_.SetFftWindow(TFftWindow::Hanning);
    EXPECT_EQ(model_.Settings().Window, "Hanning");
    Feed({.Counts = sine});
    EXPECT_EQ(model_.Spectra().Result(0)->Points(), 1024);
    while (model_.Channels().FftRing(0).Count() < 8192) {
        Feed({.Counts = sine});
    }
    EXPECT_EQ(model_.Spectra().Result(0)->Points(), 8192);
    EXPECT_EQ(peak(0), 102);

    // A new format empties the rings; the spectra stay.
    Feed({.Rate = 200, .Counts = sine});
    EXPECT_EQ(model_.Channels().FftRing(0).Count(), 200);
    ASSERT_NE(model_.Spectra().Result(0), nullptr);
    EXPECT_EQ(model_.Spectra().Result(0)->Points(), 8192);
    model_.Restart();
    EXPECT_NE(model_.Spectra().Result(2), nullptr);
}
