#include "main/run_report.h"

#include <time.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "main/block_event.h"

namespace {

double ClockSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

bool TRunReport::Requested() {
    const char* value = std::getenv("KESTREL32_RUN_REPORT");
    return value != nullptr && *value != 0;
}

TRunReport::TRunReport(QWidget* window, std::string program, TSink sink)
    : window_(window), program_(std::move(program)), sink_(std::move(sink)) {
    if (!sink_) {
        sink_ = [](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        };
    }
    qApp->installEventFilter(this);
}

TRunReport::~TRunReport() {
    qApp->removeEventFilter(this);
    sink_(program_ + ": " + std::to_string(blocks_) + " blocks received");
}

bool TRunReport::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == TBlockEvent::BlockType) {
        ++blocks_;
    } else if (!paintSeen_ && event->type() == QEvent::Paint && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->window() == window_) {
        // The window's widgets paint in one pass; it is over when the event loop next runs.
        paintSeen_ = true;
        QTimer::singleShot(0, this, [this] { FirstPaintDone(); });
    }
    return QObject::eventFilter(watched, event);
}

void TRunReport::FirstPaintDone() {
    const double monotonic = ClockSeconds(CLOCK_MONOTONIC);
    const double cpu = ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
    painted_ = true;
    char line[128];
    std::snprintf(line, sizeof line, "first paint at %.6f s monotonic, %.6f s CPU", monotonic, cpu);
    sink_(program_ + ": " + line);
}
