// The README's pictures of the Temperatures and FFT pages: the window against
// the simulator, grabbed into KESTREL32_SCREENSHOTS (a directory) as
// screenshot-temperatures.png and screenshot-fft.png. Skipped unless that
// variable is set.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>

#include "main/band_list.h"
#include "main/fft_page.h"
#include "support/qt_wait.h"
#include "support/window_fixture.h"

using namespace std::chrono_literals;

using Screenshots = TWindowTest;

TEST_F(Screenshots, TemperaturesAndFftPages) {
    const QString dir = qEnvironmentVariable("KESTREL32_SCREENSHOTS");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set KESTREL32_SCREENSHOTS to a directory to take the pictures";
    }
    // A simulated day and a half at 100 frames a second, the readings of the
    // first 30 seconds (while the offsets settle) cleared.
    TSimConfig config = SimConfig();
    config.Speed = 100;
    Launch(config);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(WaitForBlocks(30, 60s));
    Click(QStringLiteral("ClearTemperaturesButton"));
    ASSERT_TRUE(WaitForBlocks(1800, 120s));
    form_->Timer()->stop();
    sim_->Stop();
    QtRunFor(500ms);

    // Offsets against temperature, zoomed to +-65.5 mV.
    form_->FormKeyDown(Qt::Key_T, Qt::NoModifier);
    for (int i = 0; i < 7; ++i) {
        form_->FormKeyDown(Qt::Key_U, Qt::NoModifier);
    }
    QtRunFor(200ms);
    TBandList* bands = form_->findChild<TBandList*>(QStringLiteral("StoredTemperaturesList"));
    ASSERT_NE(bands, nullptr);
    const QPoint at(bands->ItemWidth() * 66 / 100, bands->ItemHeight() * 4 / 10);
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(bands->mapToGlobal(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bands, &move);
    QtRunFor(200ms);
    EXPECT_TRUE(form_->grab().save(dir + QStringLiteral("/screenshot-temperatures.png")));

    // Spectra, with the readout at channel 2's peak.
    form_->FormKeyDown(Qt::Key_F, Qt::NoModifier);
    QtRunFor(200ms);
    TBandList* spectra = form_->FftPage()->FftList();
    const QImage screen = spectra->grab().toImage();
    const int top = spectra->ItemHeight();
    QPoint peak(0, top + spectra->ItemHeight() / 3);
    for (int y = top + 1; y < top + spectra->ItemHeight() && peak.x() == 0; ++y) {
        for (int x = 1; x < screen.width(); ++x) {
            if (screen.pixelColor(x, y) == QColor(0, 255, 255)) {
                peak = QPoint(x, y);
                break;
            }
        }
    }
    QMouseEvent readout(QEvent::MouseMove, QPointF(peak), QPointF(spectra->mapToGlobal(peak)),
                        Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(spectra, &readout);
    QtRunFor(200ms);
    EXPECT_TRUE(form_->grab().save(dir + QStringLiteral("/screenshot-fft.png")));
}
