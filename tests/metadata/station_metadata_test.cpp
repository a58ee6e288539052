// The channel epochs (what ends one and what continues it, across a restart through the
// archive's file), the position taken from the unit's GPS fixes, and the sensors' settings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "metadata/station_metadata.h"

namespace fs = std::filesystem;

namespace {

TStreamFormat Format(int channels, double rate, int32_t gainBits = 0) {
    TStreamFormat format;
    format.ChannelCount = channels;
    format.SampleRate = rate;
    format.BytesPerSample = 3;
    format.GainBits = gainBits;
    format.FilterCode = 0;
    return format;
}

// The epochs of `code`: (start, end or -1).
std::vector<std::pair<int64_t, int64_t>> EpochsOf(const std::vector<TChannelEpoch>& epochs,
                                                  const std::string& code) {
    std::vector<std::pair<int64_t, int64_t>> found;
    for (const TChannelEpoch& epoch : epochs) {
        if (epoch.Setup.Code == code) {
            found.emplace_back(epoch.Start, epoch.End.value_or(-1));
        }
    }
    return found;
}

using TSpans = std::vector<std::pair<int64_t, int64_t>>;

TEST(ChannelEpochs, ASettingThatChangesEndsTheEpochsItTouchesOnly) {
    TChannelPlan plan;
    std::vector<TChannelEpoch> epochs;
    EXPECT_TRUE(UpdateEpochs(epochs, ChannelSetups(plan, Format(3, 100), false), 1000));
    EXPECT_FALSE(UpdateEpochs(epochs, ChannelSetups(plan, Format(3, 100), false), 1001));
    // Channel 2 to high gain at 2000: its epoch ends, the others run on.
    EXPECT_TRUE(UpdateEpochs(epochs, ChannelSetups(plan, Format(3, 100, 0b10), false), 2000));
    EXPECT_EQ(EpochsOf(epochs, "HHN"), (TSpans{{1000, 2000}, {2000, -1}}));
    EXPECT_EQ(EpochsOf(epochs, "HHZ"), (TSpans{{1000, -1}}));
    EXPECT_EQ(EpochsOf(epochs, "LEV"), (TSpans{{1000, -1}}));
    // A new rate at 3000: every data channel's code and epoch change (HH to CH), the state of
    // health runs on.
    EXPECT_TRUE(UpdateEpochs(epochs, ChannelSetups(plan, Format(3, 250, 0b10), false), 3000));
    EXPECT_EQ(EpochsOf(epochs, "HHZ"), (TSpans{{1000, 3000}}));
    EXPECT_EQ(EpochsOf(epochs, "CHZ"), (TSpans{{3000, -1}}));
    EXPECT_EQ(EpochsOf(epochs, "LEV"), (TSpans{{1000, -1}}));
    // Four channels at 4000: the new channel begins, the module temperatures too.
    EXPECT_TRUE(UpdateEpochs(epochs, ChannelSetups(plan, Format(4, 250, 0b10), true), 4000));
    EXPECT_EQ(EpochsOf(epochs, "CH1"), (TSpans{{4000, -1}}));
    EXPECT_EQ(EpochsOf(epochs, "CHZ"), (TSpans{{3000, -1}}));
    EXPECT_EQ(EpochsOf(epochs, "LK4"), (TSpans{{4000, -1}}));
    // A sensor configured at 5000 ends channels 1-3's epochs, not the fourth's.
    plan.Sensors[0] = TSensor{"bb", "M/S", 1500, 1, TPzTransfer::RadiansPerSecond, {}, {}, {}, {}};
    EXPECT_TRUE(UpdateEpochs(epochs, ChannelSetups(plan, Format(4, 250, 0b10), true), 5000));
    EXPECT_EQ(EpochsOf(epochs, "CHZ"), (TSpans{{3000, 5000}, {5000, -1}}));
    EXPECT_EQ(EpochsOf(epochs, "CH1"), (TSpans{{4000, -1}}));
    // No state of health from 6000: those streams end.
    plan.Soh = false;
    EXPECT_TRUE(UpdateEpochs(epochs, ChannelSetups(plan, Format(4, 250, 0b10), true), 6000));
    EXPECT_EQ(EpochsOf(epochs, "LEV"), (TSpans{{1000, 6000}}));
}

class MetadataFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("metadata_test_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Archive() const { return dir_.string(); }

    // One run of the station as it keeps the file: loaded at the first block, updated by each.
    void Run(const TStreamFormat& format, std::vector<int64_t> times, const TChannelPlan& plan) {
        const std::string path = MetadataPath(Archive(), "XX", "TEST", "00");
        TResult<std::optional<TStationMetadata>> loaded = LoadMetadata(path);
        ASSERT_TRUE(loaded) << loaded.Error().Text;
        TStationMetadata metadata =
            loaded->value_or(TStationMetadata{"XX", "TEST", "00", std::nullopt, {}});
        for (const int64_t time : times) {
            if (UpdateEpochs(metadata.Epochs, ChannelSetups(plan, format, false), time)) {
                ASSERT_TRUE(SaveMetadata(path, metadata));
            }
        }
    }
    TStationMetadata Saved() {
        TResult<std::optional<TStationMetadata>> loaded =
            LoadMetadata(MetadataPath(Archive(), "XX", "TEST", "00"));
        EXPECT_TRUE(loaded && *loaded);
        return loaded && *loaded ? **loaded : TStationMetadata{};
    }

    fs::path dir_;
};

TEST_F(MetadataFile, ARestartWithTheSameSettingsContinuesTheEpochAndANewRateStartsOne) {
    TChannelPlan plan;
    plan.Location = "00";
    plan.Sensors[1] = TSensor{"acc", "M/S**2",           1.02,
                              5,     TPzTransfer::Hertz, {{-70.7, 70.7}, {-70.7, -70.7}},
                              {},    {0, 90, 0},         {0, 0, -90}};
    Run(Format(6, 100, 0b100000), {1000, 1001, 1002}, plan);
    Run(Format(6, 100, 0b100000), {5000, 5001}, plan);
    EXPECT_EQ(EpochsOf(Saved().Epochs, "HHZ"), (TSpans{{1000, -1}}));
    EXPECT_EQ(Saved().Epochs.size(), 6u + 5u);
    Run(Format(6, 200, 0b100000), {9000, 9001}, plan);
    const TStationMetadata saved = Saved();
    // The same codes at 200 sps (band H still), a new epoch each; the state of health runs on.
    EXPECT_EQ(EpochsOf(saved.Epochs, "HHZ"), (TSpans{{1000, 9000}, {9000, -1}}));
    EXPECT_EQ(EpochsOf(saved.Epochs, "HH3"), (TSpans{{1000, 9000}, {9000, -1}}));
    EXPECT_EQ(EpochsOf(saved.Epochs, "LCF"), (TSpans{{1000, -1}}));
    // Every setting comes back as it was written, the sensor's included.
    const auto hh3 = std::find_if(saved.Epochs.begin(), saved.Epochs.end(),
                                  [](auto& e) { return e.Setup.Code == "HH3" && !e.End; });
    ASSERT_NE(hh3, saved.Epochs.end());
    EXPECT_EQ(hh3->Setup, ChannelSetups(plan, Format(6, 200, 0b100000), false)[5]);
    EXPECT_EQ(hh3->Setup.GainFactor, 10);
    EXPECT_EQ(hh3->Setup.SampleRate, 200);
    // A file that is not the station's metadata is an error, never taken as empty.
    std::ofstream(MetadataPath(Archive(), "XX", "TEST", "00")) << "{\"network\": 1}";
    EXPECT_FALSE(LoadMetadata(MetadataPath(Archive(), "XX", "TEST", "00")));
}

TEST_F(MetadataFile, TheArchivesStationsOfANetworkAndLocation) {
    TStationMetadata a{"XX", "AAA", "", std::nullopt, {}}, b{"XX", "BBB", "", std::nullopt, {}};
    ASSERT_TRUE(SaveMetadata(MetadataPath(Archive(), "XX", "BBB", ""), b));
    ASSERT_TRUE(SaveMetadata(MetadataPath(Archive(), "XX", "AAA", ""), a));
    ASSERT_TRUE(SaveMetadata(MetadataPath(Archive(), "XX", "CCC", "00"), b));
    ASSERT_TRUE(SaveMetadata(MetadataPath(Archive(), "YY", "DDD", ""), b));
    std::vector<std::string> errors;
    const std::vector<TStationMetadata> found = LoadArchiveMetadata(Archive(), "XX", "", errors);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].Station, "AAA");
    EXPECT_EQ(found[1].Station, "BBB");
    EXPECT_TRUE(errors.empty());
}

TEST(PositionFixes, TheMedianOnceTheLastFixesAgree) {
    TPositionFixes fixes;
    // 59 fixes scattered within about 10 m, and one far off among them: not steady until the
    // far one has left the window.
    const auto fix = [](int i) {
        return TPosition{47.5 + (i % 7 - 3) * 1e-5, 8.25 + (i % 5 - 2) * 1e-5, 500.0 + i % 3};
    };
    for (int i = 0; i < 30; ++i) {
        EXPECT_FALSE(fixes.Add(fix(i)));
    }
    EXPECT_FALSE(fixes.Add(TPosition{47.51, 8.25, 500}));  // about 1.1 km north
    for (int i = 31; i < 90; ++i) {
        EXPECT_FALSE(fixes.Add(fix(i))) << i;
        EXPECT_FALSE(fixes.Steady());
    }
    EXPECT_TRUE(fixes.Add(fix(90)));
    ASSERT_TRUE(fixes.Steady());
    EXPECT_NEAR(fixes.Steady()->Latitude, 47.5, 2e-5);
    EXPECT_NEAR(fixes.Steady()->Longitude, 8.25, 2e-5);
    EXPECT_EQ(fixes.Steady()->Elevation, 501);
    // Kept from then on.
    EXPECT_FALSE(fixes.Add(TPosition{10, 10, 10}));
    EXPECT_NEAR(fixes.Steady()->Latitude, 47.5, 2e-5);
}

TEST(PositionFixes, OnlyAValidFixGivesAPosition) {
    TGpsInfo gps;
    gps.Present = 1;
    gps.FixValid = 1;
    gps.LatDegrees = 33;
    gps.LatMinutes = 15;
    gps.LatHemisphere = 'S';
    gps.LonDegrees = 70;
    gps.LonMinutes = 30;
    gps.LonHemisphere = 'W';
    gps.Altitude = 820;
    EXPECT_EQ(PositionOf(gps), (TPosition{-33.25, -70.5, 820}));
    gps.FixValid = 0;
    EXPECT_FALSE(PositionOf(gps));
    gps.FixValid = 1;
    gps.LonHemisphere = 0;
    EXPECT_FALSE(PositionOf(gps));
}

TEST(Sensors, TheNormalisationFactorIsComputedAtItsFrequency) {
    // One pole at -1 rad/s: |H(i w)| = 1 / sqrt(1 + w^2).
    TSensor sensor;
    sensor.Poles = {{-1, 0}};
    EXPECT_NEAR(NormalizationFactor(sensor, 1), std::hypot(1.0, 2 * std::numbers::pi), 1e-12);
    sensor.Transfer = TPzTransfer::Hertz;
    EXPECT_NEAR(NormalizationFactor(sensor, 1), std::sqrt(2.0), 1e-12);
    // A zero at the very frequency cannot be normalised; a flat response is 1.
    sensor.Zeros = {{0, 1}};
    EXPECT_EQ(NormalizationFactor(sensor, 1), 0);
    EXPECT_EQ(NormalizationFactor(TSensor{}, 1), 1);
}

TEST(Sensors, RootsAsTheConfigurationGivesThem) {
    std::string error;
    const auto roots = ParseRoots("-0.037 0.037; -0.037 -0.037;-251.3", error);
    ASSERT_TRUE(roots) << error;
    EXPECT_EQ(*roots,
              (std::vector<std::complex<double>>{{-0.037, 0.037}, {-0.037, -0.037}, {-251.3, 0}}));
    EXPECT_EQ(ParseRoots(FormatRoots(*roots), error), roots);
    EXPECT_EQ(ParseRoots("", error), std::vector<std::complex<double>>{});
    for (const char* bad : {"-1 2 3", "x", "-1 y", "1;;2", "1 nan"}) {
        EXPECT_FALSE(ParseRoots(bad, error)) << bad;
    }
}

}  // namespace
