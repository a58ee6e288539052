// The About box: its labels from the version information (and as created when
// that is missing), the version that --version prints, the link handed to the
// browser, Enter and Escape closing it, and AboutButtonClick in the window
// with the program's icon.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "about/about_dlg.h"
#include "about/version.h"
#include "support/child_process.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

namespace {

using TLabelTexts = std::array<QString, 3>;

TLabelTexts Texts(const TAboutDlg& dialog) {
    return {dialog.FileDescription()->text(), dialog.FileVersion()->text(),
            dialog.LegalCopyright()->text()};
}

}  // namespace

TEST(AboutDlg, ShowsTheProgramsVersionInformationAndTheSameVersionAsTheCommandLine) {
    TAboutDlg dialog;
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("About"));
    EXPECT_EQ(Texts(dialog), (TLabelTexts{QStringLiteral("Varnhold 6 Channel Digitizer Monitor"),
                                          QStringLiteral("Version 1.1.4.0"),
                                          QString::fromUtf8(VersionInfoLegalCopyright)}));
    for (const char* name : {"Image1", "Image2"}) {
        const auto* image = dialog.findChild<QLabel*>(QString::fromLatin1(name));
        ASSERT_NE(image, nullptr) << name;
        EXPECT_EQ(image->size(), QSize(32, 32)) << name;
        EXPECT_FALSE(image->pixmap().isNull()) << name;
    }
    EXPECT_NE(dialog.findChild<QGroupBox*>(QStringLiteral("GroupBox1")), nullptr);
    EXPECT_EQ(dialog.Button1()->text(), QStringLiteral("&OK"));
    EXPECT_FALSE(dialog.windowIcon().isNull());

    // kestrel32 --version prints the version the box shows.
    TChild version({KESTREL32, "--version"}, {"QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(
        version.ReadLines(1, 1s),
        std::vector<std::string>{"kestrel32 " + dialog.FileVersion()->text().mid(8).toStdString()});
}

TEST(AboutDlg, LabelsKeepTheirCreatedTextsWhereTheInformationIsMissing) {
    const TAboutDlg created(nullptr, nullptr);
    const TLabelTexts asCreated = Texts(created);
    EXPECT_EQ(asCreated[1], QStringLiteral("Version unknown"));
    const TVersionInfo none;
    const TVersionInfo otherKeys(0x0809, 0x04E4, {{"ProductName", "Elsewhere"}});
    const TVersionInfo versionOnly(0x0809, 0x04E4, {{"FileVersion", "9.8.7.6"}});
    const struct {
        const char* name;
        const TVersionInfo* info;
        TLabelTexts texts;
    } cases[] = {
        {"no translation", &none, asCreated},
        {"none of the three keys", &otherKeys, asCreated},
        {"only a version",
         &versionOnly,
         {asCreated[0], QStringLiteral("Version 9.8.7.6"), asCreated[2]}},
    };
    for (const auto& c : cases) {
        const TAboutDlg dialog(nullptr, c.info);
        EXPECT_EQ(Texts(dialog), c.texts) << c.name;
    }
}

// Centred on the screen at the size its texts give it: long texts make the box wider, and it
// still sits in the middle.
TEST(AboutDlg, IsCentredOnTheScreenAtTheSizeItsTextsGiveIt) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const std::string wide(20, 'W');
    const TVersionInfo longTexts(0x0809, 0x04E4,
                                 {{"FileDescription", wide}, {"LegalCopyright", wide + wide}});
    const struct {
        const char* name;
        const TVersionInfo* info;
    } cases[] = {
        {"the program's", &ProgramVersionInfo()}, {"none", nullptr}, {"long texts", &longTexts}};
    int narrowest = screen.width();
    for (const auto& c : cases) {
        TAboutDlg dialog(nullptr, c.info);
        // Placed before it is shown (a window manager frames it afterwards).
        const QRect placed = dialog.geometry();
        EXPECT_LE(std::abs(placed.center().x() - screen.center().x()), 1) << c.name;
        EXPECT_LE(std::abs(placed.center().y() - screen.center().y()), 1) << c.name;
        dialog.show();
        QApplication::processEvents();
        EXPECT_EQ(dialog.size(), placed.size()) << c.name << ": the size was final";
        narrowest = std::min(narrowest, dialog.width());
        if (c.info == &longTexts) {
            EXPECT_GT(dialog.width(), narrowest + 100) << "the long texts widen the box";
        }
    }
}

TEST(AboutDlg, TheLinkOpensTheMakersSiteAndEnterOrEscapeCloses) {
    TAboutDlg dialog;
    std::vector<QUrl> opened;
    dialog.SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return false;  // a browser that fails is not reported
    });
    QLabel* link = dialog.HttpLabel();
    EXPECT_EQ(link->text(), QString::fromUtf8(MakerWebSite));
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    dialog.open();
    QTest::mouseClick(link, Qt::LeftButton);
    QTest::mouseClick(link, Qt::RightButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QString::fromUtf8(MakerWebSite)));
    EXPECT_TRUE(opened[0].isValid());
    EXPECT_TRUE(dialog.isVisible()) << "the link leaves the box open";

    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        TAboutDlg box;
        box.open();
        ASSERT_TRUE(box.isVisible());
        QTest::keyClick(&box, key);
        EXPECT_FALSE(box.isVisible()) << "key " << key;
    }
}

using AboutWindowTest = TWindowTest;

TEST_F(AboutWindowTest, AboutButtonShowsTheBoxOverTheWindowWhichCarriesTheIcon) {
    OpenSilent();
    int shown = 0;
    form_->Prompts().SetDialogHook([&](QDialog& dialog) {
        auto* about = dynamic_cast<TAboutDlg*>(&dialog);
        EXPECT_NE(about, nullptr);
        if (about) {
            ++shown;
            EXPECT_EQ(about->parentWidget(), form_.get());
            EXPECT_EQ(about->FileVersion()->text(), QStringLiteral("Version 1.1.4.0"));
        }
        return int(QDialog::Accepted);
    });
    Click(QStringLiteral("AboutButton"));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(form_->findChild<TAboutDlg*>(), nullptr) << "destroyed when closed";

    // The icon at every size it is drawn at, each from its own picture.
    const QIcon icon = form_->windowIcon();
    for (int size : {16, 32, 48, 64, 128, 256}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        EXPECT_EQ(image.size(), QSize(size, size)) << size;
        // Lamp green in the middle of the circle's left half, clear in the corner.
        const QColor inside = image.pixelColor(size / 4, size / 2 + size / 8);
        EXPECT_GT(inside.green(), 2 * std::max(inside.red(), inside.blue())) << size;
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0) << size;
    }
}

// The README's picture of the box, grabbed into KESTREL32_SCREENSHOTS (a
// directory) as screenshot-about.png.
TEST(Screenshots, AboutBox) {
    const QString dir = qEnvironmentVariable("KESTREL32_SCREENSHOTS");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set KESTREL32_SCREENSHOTS to a directory to take the picture";
    }
    TAboutDlg dialog;
    dialog.show();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.grab().save(dir + QStringLiteral("/screenshot-about.png")));
}
