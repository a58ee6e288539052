// kestrel32: entry point. Command line, orderly shut-down on signals, the
// standard display of an exception that escapes an event handler.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "about/version.h"
#include "digitizer/port_list.h"
#include "main/application.h"
#include "main/main_form.h"
#include "main/run_report.h"
#include "monitor/settings.h"
#include "settings/command_line.h"
#include "sim/simulator.h"

namespace {

const char* const Usage =
    "Usage: kestrel32 [PORT|DEVICE] [--settings FILE] [--simulate] [--list-ports] [--help]\n"
    "                [--version]\n"
    "\n"
    "Monitors and controls a six-channel 24-bit digitizer on a serial port.\n"
    "\n"
    "  PORT             serial port number (1 is /dev/ttyS0), overriding the settings\n"
    "  DEVICE           a device path such as /dev/ttyUSB0, or a name under /dev such\n"
    "                   as ttyUSB0; remembered in the settings\n"
    "  --settings FILE  the settings file to read and write\n"
    "  --simulate       run against the built-in digitizer simulator\n"
    "  --list-ports     list the serial ports present, and exit\n"
    "  --help           show this text\n"
    "  --version        show the program's version\n";

// Whether Qt will find somewhere to show the window: a display of X or Wayland, or a
// platform that needs none (offscreen, vnc, ...).
bool DisplayFound() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != 0;
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string named = platform != nullptr ? platform : "";
    if (!named.empty() && named.rfind("xcb", 0) != 0 && named.rfind("wayland", 0) != 0) {
        return true;
    }
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

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
    std::string settingsFile;
    std::string device;
    std::optional<uint8_t> port;
    bool simulate = false;
    bool listPorts = false;
    TOptionTable table;
    table
        .Value("--settings",
               [&](const std::string& file) {
                   settingsFile = file;
                   return file.empty() ? "needs a file name" : "";
               })
        .Flag("--simulate", [&] { simulate = true; })
        .Flag("--list-ports", [&] { listPorts = true; })
        .Operands(1, [&](const std::string& arg) {
            uint8_t number = 1;
            const std::string error = ParsePortArgument(arg, device, number);
            if (error.empty() && device.empty()) {
                port = number;
            }
            return error;
        });
    const TCommandScan scan = table.Scan(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> answer =
            CommandLineAnswer(scan, "kestrel32", Usage, ProgramVersion)) {
        return *answer;
    }
    // Answered without a display: which device is the digitizer on?
    if (listPorts) {
        std::fputs(SerialPortListText(ListSerialPorts()).c_str(), stdout);
        return 0;
    }
    if (!DisplayFound()) {
        std::fputs(
            "kestrel32: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set); to run "
            "without a window, start it with QT_QPA_PLATFORM=offscreen\n",
            stderr);
        return 1;
    }

    // SIGINT, SIGTERM and SIGHUP end the program as closing the window does.
    InstallTerminationSignals();
    TApplication app(argc, argv);
    SetUpApplication(QString::fromLatin1(ProgramVersion));

    std::unique_ptr<TDigitizerSim> simulator;
    TStartOptions options;
    options.SettingsPath = SettingsFilePath(GatherSettingsPathFacts(settingsFile));
    options.Port = port;
    options.Device = device;
    if (simulate) {
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
