// What every graph page takes from its shared frame, one table over the pages: the zoom and
// span keys acting on the visible page's own controls alone, and the band pages' lists taking
// their own background colour and being made anew and redrawn when resized.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTabWidget>
#include <array>
#include <cmath>
#include <functional>

#include "main/band_list.h"
#include "main/channels_page.h"
#include "main/fft_page.h"
#include "main/helicorder_page.h"
#include "main/temperatures_page.h"
#include "main/time_frequency_page.h"
#include "support/blocks.h"
#include "support/window_fixture.h"

namespace {

class GraphPagesTest : public TWindowTest {
  protected:
    // Blocks of a 5 Hz sine at a tenth of full scale on three channels, with a temperature
    // reading each.
    void SineBlocks(int count) {
        for (int b = 0; b < count; ++b) {
            form_->ProcessBlock(MakeBlock({.BlockCount = ++blockCount_, .Counts = [](int, int j) {
                                               return static_cast<int32_t>(
                                                   838860 * std::sin(2 * M_PI * 5 * j / 100.0));
                                           }}));
        }
    }
    TSettings& Settings() const { return form_->Model().Settings(); }

    uint32_t blockCount_ = 0;
};

// A graph page as the keys reach it: its tab key, the page, and the span its X and Z step.
struct TKeyCase {
    const char* Name;
    int TabKey;
    std::function<TGraphPage*(const TMainForm&)> Page;
    std::function<int(const TSettings&)> Span;
    bool Zooms;       // U and D step its zoom
    int Longer;       // the span after X
    int ThenShorter;  // and after Z
};

}  // namespace

TEST_F(GraphPagesTest, ZoomAndSpanKeysStepTheVisiblePageAlone) {
    WriteSettings("[Helicorder]\nHours=6\n");
    OpenSilent();
    SineBlocks(1);  // the zoom buttons of the band pages act from the first block
    const TKeyCase cases[] = {
        {"Channels", Qt::Key_C, [](const TMainForm& f) { return f.ChannelsPage(); },
         [](const TSettings& s) { return s.StoredSeconds; }, true, 60, 30},
        {"Temperatures", Qt::Key_T, [](const TMainForm& f) { return f.TemperaturesPage(); },
         [](const TSettings& s) { return s.StoredHours; }, true, 2, 1},
        {"FFT", Qt::Key_F, [](const TMainForm& f) { return f.FftPage(); },
         [](const TSettings& s) { return s.Points; }, false, 1024, 1024},
        {"Spectrogram", Qt::Key_P, [](const TMainForm& f) { return f.SpectrogramPage(); },
         [](const TSettings& s) { return s.SpectrogramMinutes; }, false, 20, 10},
        {"Helicorder", Qt::Key_L, [](const TMainForm& f) { return f.HelicorderPage(); },
         [](const TSettings& s) { return s.HelicorderHours; }, true, 12, 6},
    };
    auto zooms = [&] {
        std::array<double, std::size(cases)> zoom{};
        for (size_t i = 0; i < std::size(cases); ++i) {
            zoom[i] = cases[i].Page(*form_)->Zoom();
        }
        return zoom;
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const TKeyCase& page = cases[i];
        SCOPED_TRACE(page.Name);
        form_->FormKeyDown(page.TabKey, Qt::NoModifier);
        ASSERT_EQ(form_->PageControl()->currentWidget(), page.Page(*form_));

        auto expected = zooms();
        expected[i] = page.Zooms ? 2 : 1;
        form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
        EXPECT_EQ(zooms(), expected);
        expected[i] = page.Zooms ? 8388608 : 1;
        form_->FormKeyDown(Qt::Key_U, Qt::ShiftModifier);
        EXPECT_EQ(zooms(), expected);
        expected[i] = 1;
        form_->FormKeyDown(Qt::Key_D, Qt::ShiftModifier);
        EXPECT_EQ(zooms(), expected);

        // The spans of the other pages stay as they are.
        std::array<int, std::size(cases)> spans{};
        for (size_t j = 0; j < std::size(cases); ++j) {
            spans[j] = cases[j].Span(Settings());
        }
        form_->FormKeyDown(Qt::Key_X, Qt::NoModifier);
        EXPECT_EQ(page.Span(Settings()), page.Longer);
        form_->FormKeyDown(Qt::Key_Z, Qt::NoModifier);
        EXPECT_EQ(page.Span(Settings()), page.ThenShorter);
        for (size_t j = 0; j < std::size(cases); ++j) {
            if (j != i) {
                EXPECT_EQ(cases[j].Span(Settings()), spans[j]) << cases[j].Name;
            }
        }
    }
}

namespace {

// A page of bands: its tab, the page, its background colour setting and its trace colour.
struct TBandCase {
    const char* Name;
    int TabKey;
    std::function<TBandPage*(const TMainForm&)> Page;
    int32_t TColourSettings::*Background;
    QColor Trace;
};

const TBandCase BandCases[] = {
    {"Channels", Qt::Key_C, [](const TMainForm& f) { return f.ChannelsPage(); },
     &TColourSettings::DataBgdCol, QColor(0, 255, 0)},
    {"Temperatures", Qt::Key_T, [](const TMainForm& f) { return f.TemperaturesPage(); },
     &TColourSettings::TemperaturesBgdCol, QColor(0, 255, 0)},
    {"FFT", Qt::Key_F, [](const TMainForm& f) { return f.FftPage(); }, &TColourSettings::FftBgdCol,
     QColor(0, 255, 255)},
};

bool HasColour(const QImage& image, const QColor& colour) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == colour) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

TEST_F(GraphPagesTest, EachBandListTakesItsOwnBackgroundColour) {
    OpenSilent();
    // Windows colour values 0x00BBGGRR, one for each page.
    const int32_t colours[] = {0x000010, 0x002000, 0x300000};
    for (size_t i = 0; i < std::size(BandCases); ++i) {
        Settings().*BandCases[i].Background = colours[i];
    }
    form_->ColourSettingsChanged();
    const QColor expected[] = {QColor(0x10, 0, 0), QColor(0, 0x20, 0), QColor(0, 0, 0x30)};
    for (size_t i = 0; i < std::size(BandCases); ++i) {
        EXPECT_EQ(BandCases[i].Page(*form_)->Bands()->Colour(), expected[i]) << BandCases[i].Name;
    }
}

TEST_F(GraphPagesTest, ABandListResizedIsMadeAnewAndRedrawnAtOnce) {
    OpenSilent();
    SineBlocks(11);  // enough samples for a 1024-point spectrum
    for (const TBandCase& page : BandCases) {
        SCOPED_TRACE(page.Name);
        form_->FormKeyDown(page.TabKey, Qt::NoModifier);
        QApplication::processEvents();
        TBandList* list = page.Page(*form_)->Bands();
        ASSERT_EQ(list->Count(), 3);
        const int width = list->width() - 10;
        list->resize(width, 300);
        EXPECT_EQ(list->ItemHeight(), 100);
        for (int c = 0; c < 3; ++c) {
            const QImage& image = list->Image(c);
            EXPECT_EQ(image.size(), QSize(width, 100)) << c;
            EXPECT_TRUE(HasColour(image, page.Trace)) << "channel " << c << " drawn again";
        }
    }
}
