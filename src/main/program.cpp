// kestrel32: entry point. Command line, orderly shut-down on signals, the
// standard display of an exception that escapes an event handler.
#include <QApplication>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

#include "about/version.h"
#include "digitizer/port_list.h"
#include "main/application.h"
#include "main/main_form.h"
#include "main/run_report.h"
#include "monitor/command_line.h"
#include "monitor/settings.h"
#include "sim/simulator.h"

namespace {

class TApplication : public QApplication {
  public:
    using QApplication::QApplication;

    // An exception escaping a handler is shown, and the message loop goes on.
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            QMessageBox::critical(activeWindow(), QString::fromLatin1(MainCaption),
                                  QString::fromLocal8Bit(error.what()));
        } catch (...) {
            QMessageBox::critical(activeWindow(), QString::fromLatin1(MainCaption),
                                  QStringLiteral("Unknown exception"));
        }
        return false;
    }
};

// The built-in digitizer of --simulate.
std::unique_ptr<TDigitizerSim> StartSimulator(std::string& error) {
    TSimConfig config;
    config.Channels = 3;
    config.Rate = 100;
    config.Mde = true;
    config.Gps = TGpsForm::Rmc;
    auto simulator = std::make_unique<TDigitizerSim>(config);
    if (!simulator->Start()) {
        error = simulator->LastError();
        return nullptr;
    }
    return simulator;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // Answered before anything else, without a display: which device is the digitizer on?
    if (std::find(args.begin(), args.end(), "--list-ports") != args.end()) {
        std::fputs(SerialPortListText(ListSerialPorts()).c_str(), stdout);
        return 0;
    }
    const TCommandLine command = ParseCommandLine(args);
    if (!command.Error.empty()) {
        std::fprintf(stderr, "kestrel32: %s\n%s", command.Error.c_str(), CommandLineUsage());
        return 2;
    }
    if (command.Help) {
        std::fputs(CommandLineUsage(), stdout);
        return 0;
    }
    if (command.Version) {
        std::printf("kestrel32 %s\n", ProgramVersion);
        return 0;
    }

    // SIGINT, SIGTERM and SIGHUP end the program as closing the window does.
    InstallTerminationSignals();
    TApplication app(argc, argv);
    SetUpApplication(QString::fromLatin1(ProgramVersion));

    std::unique_ptr<TDigitizerSim> simulator;
    TStartOptions options;
    options.SettingsPath = SettingsFilePath(GatherSettingsPathFacts(command.SettingsFile));
    options.Port = command.Port;
    options.Device = command.Device;
    if (command.Simulate) {
        std::string error;
        simulator = StartSimulator(error);
        if (!simulator) {
            std::fprintf(stderr, "kestrel32: cannot start the simulator: %s\n", error.c_str());
            return 1;
        }
        options.SessionDevice = simulator->DevicePath();
        options.PowerCycle = [sim = simulator.get()] { sim->PowerCycle(); };
    }

    auto form = std::make_unique<TMainForm>(options);
    CloseOnTerminationSignal(form.get());
    // KESTREL32_RUN_REPORT: the first paint and the blocks received, for measurements.
    std::unique_ptr<TRunReport> runReport;
    if (TRunReport::Requested()) {
        runReport = std::make_unique<TRunReport>(form.get(), "kestrel32");
    }
    form->show();
    const int result = app.exec();
    runReport.reset();
    form.reset();  // the link stops before the simulator it may be connected to
    simulator.reset();
    return result;
}
