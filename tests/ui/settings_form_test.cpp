// The colour settings dialog: its groups, captions, swatches and buttons; each
// swatch button's colour dialog; and SettingsButtonClick in the window: Cancel
// leaves everything as it was, OK shows the colours on all three graph pages
// at once (and redraws them even when nothing changed), and the settings file
// gets them with the next save.
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <map>

#include "colours/colour_value.h"
#include "colours/settings_form.h"
#include "colours/swatch.h"
#include "main/band_list.h"
#include "main/channels_page.h"
#include "main/fft_page.h"
#include "main/temperatures_page.h"
#include "settings/ini_file.h"
#include "support/blocks.h"
#include "support/window_fixture.h"

namespace {

using TColour = TSettingsForm::TColour;

// The seven settings, in the order of TSettingsForm::TColour.
std::array<int32_t, TSettingsForm::ColourCount> Colours(const TSettings& s) {
    return {s.DataBgdCol,         s.DataFgdCol, s.DataFirstSampleCol, s.TemperaturesBgdCol,
            s.TemperaturesFgdCol, s.FftBgdCol,  s.FftFgdCol};
}

// A colour of its own for each setting, none of them a default.
QColor NewColour(int colour) {
    return QColor(40 + 20 * colour, 200 - 25 * colour, 90 + 15 * colour);
}

}  // namespace

TEST(SettingsForm, GroupsCaptionsSwatchesAndButtonsAreLaidOutAsNamed) {
    TSettingsForm form;
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Settings"));
    const struct {
        const char* group;
        const char* title;
        std::vector<std::pair<const char*, const char*>> rows;  // caption, name stem
    } groups[] = {
        {"GroupBox3", "FFT", {{"Foreground", "FFTFgd"}, {"Background", "FFTBgd"}}},
        {"GroupBox2",
         "Temperatures",
         {{"Foreground", "TemperaturesFgd"}, {"Background", "TemperaturesBgd"}}},
        {"GroupBox1",
         "Channels",
         {{"Foreground", "ChannelsFgd"},
          {"Background", "ChannelsBgd"},
          {"Line to 1st Sample", "ChannelsFirst"}}},
    };
    std::map<std::string, QRect> boxes;
    for (const auto& g : groups) {
        const auto* box = form.findChild<QGroupBox*>(QString::fromLatin1(g.group));
        ASSERT_NE(box, nullptr) << g.group;
        EXPECT_EQ(box->title(), QString::fromLatin1(g.title));
        boxes[g.group] = box->geometry();
        for (const auto& [caption, stem] : g.rows) {
            const QString name = QString::fromLatin1(stem);
            const auto* label = box->findChild<QLabel*>(name + "Label");
            const auto* swatch = box->findChild<TSwatch*>(name + "Shape");
            const auto* button = box->findChild<QPushButton*>(name + "Btn");
            ASSERT_TRUE(label && swatch && button) << stem;
            EXPECT_EQ(label->text(), QString::fromLatin1(caption)) << stem;
            EXPECT_EQ(button->text(), QStringLiteral("...")) << stem;
            // Caption, swatch, button from left to right.
            EXPECT_LT(label->x(), swatch->x()) << stem;
            EXPECT_LT(swatch->x(), button->x()) << stem;
        }
    }
    EXPECT_LT(boxes["GroupBox3"].bottom(), boxes["GroupBox2"].top()) << "FFT above Temperatures";
    EXPECT_LT(boxes["GroupBox2"].right(), boxes["GroupBox1"].left()) << "Channels on the right";
    EXPECT_EQ(form.OKButton()->text(), QStringLiteral("&OK"));
    EXPECT_TRUE(form.OKButton()->isDefault());
    EXPECT_EQ(form.CancelButton()->text(), QStringLiteral("&Cancel"));
    EXPECT_GT(form.OKButton()->y(), boxes["GroupBox1"].bottom());
}

TEST(SettingsForm, EachButtonChangesOnlyItsOwnSwatchAndOnlyWhenTheChoiceIsConfirmed) {
    TSettings settings;
    settings.DataFgdCol = 0x7F00FF00;  // a top byte that is not part of the colour
    TSettingsForm form;
    form.SetColours(settings);
    const auto before = Colours(settings);
    for (int colour = 0; colour < TSettingsForm::ColourCount; ++colour) {
        EXPECT_EQ(form.Swatch(TColour(colour))->Colour(), ColourFromSetting(before[colour]));
    }

    std::optional<QColor> answer;
    std::vector<QColor> offered;
    form.SetColourChooser([&](QWidget* owner, const QColor& initial) {
        EXPECT_EQ(owner, &form);
        offered.push_back(initial);
        return answer;
    });
    // Cancelled: nothing changes.
    answer.reset();
    for (int colour = 0; colour < TSettingsForm::ColourCount; ++colour) {
        form.SwatchButton(TColour(colour))->click();
    }
    TSettings taken = settings;
    form.TakeColours(taken);
    EXPECT_EQ(Colours(taken), before) << "the top byte of an unchanged colour stays";
    ASSERT_EQ(offered.size(), size_t(TSettingsForm::ColourCount));
    for (int colour = 0; colour < TSettingsForm::ColourCount; ++colour) {
        EXPECT_EQ(offered[colour], ColourFromSetting(before[colour])) << "starts at the swatch";
    }

    // Confirmed, one button at a time: that swatch alone takes the colour.
    auto expected = before;
    for (int colour = 0; colour < TSettingsForm::ColourCount; ++colour) {
        answer = NewColour(colour);
        form.SwatchButton(TColour(colour))->click();
        expected[colour] = SettingFromColour(NewColour(colour));
        form.TakeColours(taken);
        EXPECT_EQ(Colours(taken), expected) << "after button " << colour;
    }
    EXPECT_EQ(SettingFromColour(QColor(0x10, 0x20, 0x30)), 0x302010);
}

TEST(SettingsForm, TheColourDialogStartsAtTheSwatchAndGivesTheChoiceOrNothing) {
    TSettingsForm form;
    form.SetColours(TSettings{});
    TSwatch* swatch = form.Swatch(TSettingsForm::FftFgd);
    for (bool confirm : {true, false}) {
        QColor offered;
        // Answered from the event loop of the dialog's own exec.
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->objectName(), QStringLiteral("ColorDlg"));
            offered = dialog->currentColor();
            dialog->setCurrentColor(QColor(12, 34, 56));
            confirm ? dialog->accept() : dialog->reject();
        });
        const QColor before = swatch->Colour();
        form.FFTFgdBtnClick();
        EXPECT_EQ(offered, before) << confirm;
        EXPECT_EQ(swatch->Colour(), confirm ? QColor(12, 34, 56) : before) << confirm;
        swatch->SetValue(0x123456);
    }
}

namespace {

class SettingsWindowTest : public TWindowTest {
  protected:
    void SetUp() override {
        OpenSilent();
        // Every graph page laid out once; the Channels page shown.
        for (Qt::Key tab : {Qt::Key_T, Qt::Key_F, Qt::Key_C}) {
            form_->FormKeyDown(tab, Qt::NoModifier);
            QApplication::processEvents();
        }
        // Enough blocks for 1024-point spectra; the temperature rises.
        for (int b = 0; b < 12; ++b) {
            form_->ProcessBlock(MakeBlock(
                {.BlockCount = uint32_t(b + 1),
                 .SensorTemp = 20.0 + b * 0.1,
                 .Counts = [](int c, int j) {
                     return static_cast<int32_t>(
                         1000 * (c + 1) + 400000 * std::sin(2 * M_PI * 5 * (c + 1) * j / 100.0));
                 }}));
        }
    }

    // The three graph lists: Channels, Temperatures, FFT.
    std::array<TBandList*, 3> Lists() const {
        return {form_->ChannelsPage()->StoredWavesList(),
                form_->TemperaturesPage()->StoredTemperaturesList(), form_->FftPage()->FftList()};
    }
    std::vector<QImage> Images() const {
        std::vector<QImage> images;
        for (TBandList* list : Lists()) {
            for (int c = 0; c < 3; ++c) {
                images.push_back(list->Image(c).copy());
            }
        }
        return images;
    }

    // SettingsButtonClick with the dialog worked by `work`, which gives its result.
    void Settings(const std::function<int(TSettingsForm&)>& work) {
        int shown = 0;
        form_->Prompts().SetDialogHook([&](QDialog& dialog) {
            auto* settingsForm = dynamic_cast<TSettingsForm*>(&dialog);
            EXPECT_NE(settingsForm, nullptr);
            EXPECT_EQ(dialog.parentWidget(), form_.get());
            ++shown;
            return settingsForm ? work(*settingsForm) : int(QDialog::Rejected);
        });
        Click(QStringLiteral("SettingsButton"));
        EXPECT_EQ(shown, 1);
        EXPECT_EQ(form_->findChild<TSettingsForm*>(), nullptr) << "destroyed when closed";
    }
    // Every swatch given its new colour.
    static void ChooseNewColours(TSettingsForm& settingsForm) {
        int colour = 0;
        settingsForm.SetColourChooser(
            [&colour](QWidget*, const QColor&) { return NewColour(colour); });
        for (colour = 0; colour < TSettingsForm::ColourCount; ++colour) {
            settingsForm.SwatchButton(TColour(colour))->click();
        }
    }

    static int Pixels(const QImage& image, const QColor& colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                n += image.pixelColor(x, y) == colour ? 1 : 0;
            }
        }
        return n;
    }
};

}  // namespace

TEST_F(SettingsWindowTest, CancelAfterChangingEverySwatchChangesNothingAnywhere) {
    const auto colours = Colours(form_->Model().Settings());
    const std::vector<QImage> images = Images();
    Settings([](TSettingsForm& settingsForm) {
        ChooseNewColours(settingsForm);
        EXPECT_EQ(settingsForm.Swatch(TSettingsForm::FftFgd)->Colour(),
                  NewColour(TSettingsForm::FftFgd));
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(Colours(form_->Model().Settings()), colours);
    EXPECT_TRUE(Images() == images) << "nothing redrawn";
    for (TBandList* list : Lists()) {
        EXPECT_EQ(list->Colour(), QColor(Qt::black)) << list->objectName().toStdString();
    }
    form_->FormDestroy();
    TIniFile ini;
    ASSERT_TRUE(ini.Load(SettingsPath()));
    EXPECT_EQ(ini.Get("Data", "BgdCol"), "0");
    EXPECT_EQ(ini.Get("FFT", "FgdCol"), "16776960");
}

TEST_F(SettingsWindowTest, OkWithoutChangesStillRedrawsEveryGraph) {
    // A mark in a band of each page that only a redraw takes away.
    const QRect mark(2, 2, 6, 6);
    const QColor magenta(255, 0, 255);
    for (TBandList* list : Lists()) {
        for (int y = mark.top(); y <= mark.bottom(); ++y) {
            for (int x = mark.left(); x <= mark.right(); ++x) {
                list->Image(1).setPixelColor(x, y, magenta);
            }
        }
    }
    form_->Model().Settings().TemperaturesFgdCol = 0x0100FF00;  // the top byte is kept
    const auto colours = Colours(form_->Model().Settings());
    Settings([](TSettingsForm&) { return int(QDialog::Accepted); });
    EXPECT_EQ(Colours(form_->Model().Settings()), colours);
    for (TBandList* list : Lists()) {
        EXPECT_EQ(Pixels(list->Image(1), magenta), 0) << list->objectName().toStdString();
    }
}

TEST_F(SettingsWindowTest, NewColoursShowOnEveryPageAtOnceAndReachTheFileWithTheSave) {
    Settings([](TSettingsForm& settingsForm) {
        ChooseNewColours(settingsForm);
        return int(QDialog::Accepted);
    });
    const TSettings& settings = form_->Model().Settings();
    for (int colour = 0; colour < TSettingsForm::ColourCount; ++colour) {
        EXPECT_EQ(Colours(settings)[colour], SettingFromColour(NewColour(colour))) << colour;
    }
    // Each page: its list and its bands' background in the new background
    // colour, its traces in the new foreground colour, none of the old left.
    const std::pair<TColour, TColour> pageColours[] = {
        {TSettingsForm::ChannelsBgd, TSettingsForm::ChannelsFgd},
        {TSettingsForm::TemperaturesBgd, TSettingsForm::TemperaturesFgd},
        {TSettingsForm::FftBgd, TSettingsForm::FftFgd}};
    const QColor oldForeground[] = {QColor(0, 255, 0), QColor(0, 255, 0), QColor(0, 255, 255)};
    for (size_t page = 0; page < 3; ++page) {
        TBandList* list = Lists()[page];
        const QColor background = NewColour(pageColours[page].first);
        const QColor foreground = NewColour(pageColours[page].second);
        const std::string name = list->objectName().toStdString();
        EXPECT_EQ(list->Colour(), background) << name;
        for (int c = 0; c < 3; ++c) {
            const QImage& image = list->Image(c);
            EXPECT_GT(Pixels(image, background), image.width() * image.height() / 2)
                << name << " band " << c;
            EXPECT_EQ(Pixels(image, Qt::black), 0) << name << " band " << c;
            EXPECT_GT(Pixels(image, foreground), 0) << name << " band " << c;
            EXPECT_EQ(Pixels(image, oldForeground[page]), 0) << name << " band " << c;
        }
    }
    // The visible Channels page shows it; the next block draws in the new colours.
    TBandList* waves = Lists()[0];
    const QImage screen = waves->grab().toImage();
    EXPECT_EQ(screen.pixelColor(screen.width() - 1, waves->ItemHeight() - 1),
              NewColour(TSettingsForm::ChannelsBgd));
    form_->ProcessBlock(MakeBlock({.Counts = [](int, int j) { return 300000 * (j % 2); }}));
    EXPECT_GT(Pixels(waves->Image(0), NewColour(TSettingsForm::ChannelsFirst)), 0);

    // The settings file has the colours only after the save, and a new
    // window starts with them.
    {
        TIniFile ini;
        ini.Load(SettingsPath());  // none yet, or the file as it was
        EXPECT_NE(ini.Get("Data", "BgdCol"),
                  std::to_string(SettingFromColour(NewColour(TSettingsForm::ChannelsBgd))));
    }
    form_->FormDestroy();
    TIniFile ini;
    ASSERT_TRUE(ini.Load(SettingsPath()));
    const std::pair<const char*, const char*> keys[] = {
        {"Data", "BgdCol"},         {"Data", "FgdCol"},         {"Data", "FirstSampleCol"},
        {"Temperatures", "BgdCol"}, {"Temperatures", "FgdCol"}, {"FFT", "BgdCol"},
        {"FFT", "FgdCol"}};
    for (int colour = 0; colour < TSettingsForm::ColourCount; ++colour) {
        EXPECT_EQ(ini.Get(keys[colour].first, keys[colour].second),
                  std::to_string(SettingFromColour(NewColour(colour))))
            << keys[colour].first << " " << keys[colour].second;
    }
    form_.reset();
    OpenSilent();
    EXPECT_EQ(Colours(form_->Model().Settings())[TSettingsForm::FftFgd],
              SettingFromColour(NewColour(TSettingsForm::FftFgd)));
    EXPECT_EQ(form_->ChannelsPage()->StoredWavesList()->Colour(),
              NewColour(TSettingsForm::ChannelsBgd));
}

// The README's picture of the dialog, at the default colours, grabbed into
// KESTREL32_SCREENSHOTS (a directory) as screenshot-settings.png.
TEST(Screenshots, SettingsDialog) {
    const QString dir = qEnvironmentVariable("KESTREL32_SCREENSHOTS");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set KESTREL32_SCREENSHOTS to a directory to take the picture";
    }
    TSettingsForm form;
    form.SetColours(TSettings{});
    form.show();
    QApplication::processEvents();
    EXPECT_TRUE(form.grab().save(dir + QStringLiteral("/screenshot-settings.png")));
}
