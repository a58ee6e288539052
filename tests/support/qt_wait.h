// Waiting in widget tests: the event loop keeps running (posted blocks,
// timers) until a condition holds or the time runs out.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <functional>

inline bool QtWaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() >= timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Runs the event loop for the given time.
inline void QtRunFor(std::chrono::milliseconds duration) {
    QtWaitFor([] { return false; }, duration);
}
