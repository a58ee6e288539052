// The window, built as the program builds it, as one unit is unplugged and another plugged
// in on the same device: six channels with the enhanced header and the GPS receiver's
// reports at 57600, then three channels without the enhanced header, with a GPS sentence, at
// 115200. The program finds the new unit by itself and every page follows; nothing of the
// first unit stays where a page empties it.
#include <QCheckBox>
#include <QPlainTextEdit>

#include "main/band_list.h"
#include "main/channels_page.h"
#include "main/fft_page.h"
#include "main/radio_group.h"
#include "main/temperatures_page.h"
#include "support/e2e_fixture.h"

using namespace std::chrono_literals;

namespace {

using PagesEndToEnd = TEndToEndTest;

QString Name(const char* pattern, int channel) {
    return QString::fromLatin1(pattern).arg(channel);
}

// The labels a page fills only from the enhanced header, and those only the receiver's
// reports fill.
QStringList EnhancedHeaderLabels() {
    QStringList names;
    for (int i = 5; i <= 7; ++i) {
        names << Name("Deci%1", i);
    }
    for (int c = 4; c <= 6; ++c) {
        names << Name("GainC%1", c) << Name("OffsetC%1", c);
    }
    for (int i = 8; i <= 13; ++i) {
        names << Name("ADC%1", i);
    }
    return names;
}

const QStringList ReportLabels = {"GPSSecs", "GPSUTC",      "GPSAlt",     "GPSSource",
                                  "GPSAge",  "GPSTracking", "GPSAntenna", "GPSRAM",
                                  "GPSRTC",  "GPSDets3",    "GPSSVs",     "GPSID"};

TEST_F(PagesEndToEnd, EveryPageFollowsWhenAnotherUnitIsPluggedIn) {
    WriteSettings("[Comms]\nPort=1\nBaud=57600\n");
    StartSim({"--channels", "6", "--rate", "200", "--gps", "reports", "--baud", "57600", "--speed",
              "2"});
    OpenWindow();
    const TMonitorModel& model = Window().Model();
    // Long enough for the first spectra (1024 points).
    ASSERT_TRUE(WaitUntil([&] { return Received().size() >= 7; }, 30s));
    EXPECT_EQ(Value("NumComps"), QStringLiteral("6"));
    for (const QString& name : EnhancedHeaderLabels() + ReportLabels) {
        EXPECT_FALSE(Value(name).isEmpty()) << name.toStdString() << " before";
    }
    EXPECT_TRUE(Value("GPSDets4").isEmpty()) << "no magnetic variation in the reports";
    for (const char* pattern : {"Ch%1L", "TCh%1L", "FCh%1L"}) {
        EXPECT_TRUE(Shown(Name(pattern, 6))) << pattern;
    }
    ASSERT_NE(model.Spectra().Result(5), nullptr);
    EXPECT_FALSE(model.Temperatures()[5].empty());

    // Unplugged, and the other unit plugged in on the same path.
    KillSim();
    StartSim(
        {"--channels", "3", "--rate", "100", "--gps", "rmc", "--baud", "115200", "--speed", "2"});
    ASSERT_TRUE(WaitUntil([&] { return model.Format().ChannelCount == 3; }, 60s));
    const size_t changedAt = Received().size();
    ASSERT_TRUE(WaitUntil([&] { return Received().size() >= changedAt + 3; }, 20s));

    // Header page: the new unit's values; the enhanced header's are gone.
    EXPECT_EQ(Value("NumComps"), QStringLiteral("3"));
    EXPECT_EQ(Value("SRate"), QStringLiteral("100"));
    EXPECT_EQ(Value("SNum"), QStringLiteral("2345")) << "the short serial number";
    for (const QString& name : EnhancedHeaderLabels()) {
        EXPECT_TRUE(Value(name).isEmpty())
            << name.toStdString() << ": " << Value(name).toStdString();
    }
    // GPS page: the sentence's values; the reports' are gone.
    for (const QString& name : ReportLabels) {
        EXPECT_TRUE(Value(name).isEmpty())
            << name.toStdString() << ": " << Value(name).toStdString();
    }
    EXPECT_TRUE(Value("GPSDets4").endsWith(QStringLiteral(" deg East")));
    EXPECT_FALSE(Value("GPSDate").isEmpty());
    EXPECT_TRUE(Find<QPlainTextEdit>("GPSMessage")
                    ->toPlainText()
                    .split('\n')
                    .last()
                    .contains(QStringLiteral("$GPRMC")));

    // The graph pages: three bands, the figures and display boxes of three channels.
    EXPECT_EQ(Window().ChannelsPage()->StoredWavesList()->Count(), 3);
    EXPECT_EQ(Window().TemperaturesPage()->StoredTemperaturesList()->Count(), 3);
    EXPECT_EQ(Window().FftPage()->FftList()->Count(), 3);
    for (int c = 1; c <= 6; ++c) {
        for (const char* pattern : {"Ch%1L", "Ch%1Rms", "TCh%1L", "TCh%1Temp", "FCh%1L", "FCh%1Db",
                                    "Bevel%1", "TBevel%1", "FBevel%1"}) {
            EXPECT_EQ(Shown(Name(pattern, c)), c <= 3) << Name(pattern, c).toStdString();
        }
        for (const char* pattern : {"Disp%1", "TDisp%1", "FDisp%1"}) {
            const QCheckBox* box = Find<QCheckBox>(Name(pattern, c));
            EXPECT_EQ(box->isEnabled(), c <= 3) << Name(pattern, c).toStdString();
            EXPECT_EQ(box->isChecked(), c <= 3) << Name(pattern, c).toStdString();
        }
        // What the histories hold began with the new unit.
        const size_t history = model.Channels().ChannelHistory(c - 1).Size();
        const size_t readings = model.Temperatures()[c - 1].size();
        if (c <= 3) {
            EXPECT_GE(readings, 3u);
            EXPECT_LE(readings, Received().size() - changedAt + 1);
            EXPECT_EQ(history, 100 * readings);
        } else {
            EXPECT_EQ(history, 0u) << "channel " << c;
            EXPECT_EQ(readings, 0u) << "channel " << c;
        }
    }

    // Control page: the new unit's settings.
    for (int c = 1; c <= 6; ++c) {
        EXPECT_EQ(Find<QCheckBox>(Name("OnCheck%1", c))->isChecked(), c <= 3) << c;
    }
    EXPECT_EQ(Find<TRadioGroup>("BaudRateRadioGroup")->ItemIndex(), 7);  // 115,200
    EXPECT_EQ(Find<TRadioGroup>("SetRateRadioGroup")->ItemIndex(), 13);  // 100
    EXPECT_EQ(Find<TRadioGroup>("BytesPerGroup")->ItemIndex(), 2);

    // The new line rate was confirmed to the unit, and is saved.
    EXPECT_GE(Journal().CommandCount("OK"), 1);
    EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
    Window().close();
    EXPECT_EQ(SavedSettings().Get("Comms", "Baud"), "115200");
}

}  // namespace
