// The README's pictures of the Temperatures and FFT pages, and of the Events,
// Helicorder and time-frequency pages with an opened event: the window against
// the simulator, grabbed into KESTREL32_SCREENSHOTS (a directory) as
// screenshot-temperatures.png, screenshot-fft.png, screenshot-events.png,
// screenshot-event.png, screenshot-helicorder.png and
// screenshot-time-frequency.png. Skipped unless that variable is set.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>

#include <QTreeWidget>

#include "main/band_list.h"
#include "main/event_dialog.h"
#include "main/events_page.h"
#include "main/fft_page.h"
#include "main/helicorder_page.h"
#include "main/time_frequency_page.h"
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

TEST_F(Screenshots, EventsHelicorderAndTimeFrequencyPages) {
    const QString dir = qEnvironmentVariable("KESTREL32_SCREENSHOTS");
    if (dir.isEmpty()) {
        GTEST_SKIP() << "set KESTREL32_SCREENSHOTS to a directory to take the pictures";
    }
    // 42 minutes of noise from 23:30 UTC, at 100 frames a second, with five earthquakes, the
    // second beyond full scale; the Helicorder an hour in rows of 15 minutes.
    WriteSettings("[Helicorder]\nChannel=1\nHours=1\nRowMinutes=15\nGain=0\nBandpass=0\n");
    TSimConfig config = SimConfig();
    config.Speed = 100;
    config.Signal = TSignalKind::Noise;
    config.StartTime = 1796686200;  // 2026-12-07 23:30:00
    const auto quake = [](double at, double duration, double amplitude, uint32_t channels) {
        TSimEvent e;
        e.At = at;
        e.Duration = duration;
        e.Amplitude = amplitude;
        e.Channels = channels;
        return e;
    };
    config.Events = {quake(300, 40, 3e6, 0x7), quake(1000, 60, 2e7, 0x7),
                     quake(1500, 25, 1.5e6, 0x3), quake(2100, 50, 5e6, 0x7),
                     quake(2350, 30, 2.5e6, 0x7)};
    Launch(config);
    ASSERT_FALSE(HasFatalFailure());
    form_->resize(1100, 720);
    ASSERT_TRUE(WaitForBlocks(2520, 240s));
    form_->Timer()->stop();
    sim_->Stop();
    QtRunFor(500ms);

    form_->FormKeyDown(Qt::Key_E, Qt::NoModifier);
    QtRunFor(200ms);
    EXPECT_TRUE(form_->grab().save(dir + QStringLiteral("/screenshot-events.png")));

    // The fourth event opened: the Helicorder frames it, the dialog shows its traces.
    QTreeWidget* list = form_->EventsPage()->List();
    ASSERT_GE(list->topLevelItemCount(), 4);
    emit list->itemDoubleClicked(list->topLevelItem(list->topLevelItemCount() - 4), 0);
    QtRunFor(300ms);
    auto* dialog = form_->EventsPage()->findChild<TEventDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->grab().save(dir + QStringLiteral("/screenshot-event.png")));
    dialog->close();
    QtRunFor(200ms);
    EXPECT_TRUE(form_->grab().save(dir + QStringLiteral("/screenshot-helicorder.png")));

    form_->FormKeyDown(Qt::Key_P, Qt::NoModifier);
    QtRunFor(300ms);
    EXPECT_TRUE(form_->grab().save(dir + QStringLiteral("/screenshot-time-frequency.png")));
}
