// The reference for the program's start-up: a bare Qt Widgets main window of the program's
// size, started and measured as the program is (KESTREL32_RUN_REPORT: the time of its first
// paint on standard error). What start-up costs beyond it is the program's own.
#include <QApplication>
#include <QMainWindow>
#include <memory>

#include "main/run_report.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(769, 570);
    std::unique_ptr<TRunReport> report;
    if (TRunReport::Requested()) {
        report = std::make_unique<TRunReport>(&window, "bare_window");
    }
    window.show();
    return app.exec();
}
