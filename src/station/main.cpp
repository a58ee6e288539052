// digitizer-station: records a digitizer's samples unattended into a miniSEED archive, until
// SIGTERM or SIGINT; SIGHUP reads the configuration again and reopens the files.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "about/version.h"
#include "digitizer/port_list.h"
#include "recording/day_file.h"
#include "settings/command_line.h"
#include "station/instance_locks.h"
#include "station/station.h"
#include "station/station_config.h"
#include "station/status_file.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t reloadRequested = 0;

void OnStop(int) {
    stopRequested = 1;
}

void OnReload(int) {
    reloadRequested = 1;
}

void Install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// One line per event on standard error; the journal stamps its own time, a terminal gets one.
void Log(const std::string& line) {
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    if (journal) {
        std::fprintf(stderr, "%s\n", line.c_str());
    } else {
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
        std::fprintf(stderr, "%s digitizer-station: %s\n", stamp, line.c_str());
    }
    std::fflush(stderr);
}

int ShowStatus(const TStationConfig& config) {
    std::string path = config.StatusFile.empty() ? DefaultStatusFile(config) : config.StatusFile;
    // A person at a shell asking for the service's status: the service writes into its own
    // runtime directory, which this shell's default is not.
    const std::string service = std::string(ServiceStatusDirectory) + path.substr(path.rfind('/'));
    if (config.StatusFile.empty() && access(path.c_str(), F_OK) != 0 &&
        access(service.c_str(), F_OK) == 0) {
        path = service;
    }
    std::string error;
    const std::optional<TStationStatus> status = ReadStatusFile(path, error);
    if (!status) {
        std::fprintf(stderr, "digitizer-station: %s\n", error.c_str());
        return 1;
    }
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    std::fputs(FormatStatusForPerson(*status, now).c_str(), stdout);
    return 0;
}

// One station per device and per status file: a device another program holds, or a status
// file another station writes, ends this one (false) rather than leaving it waiting or the
// two writing over each other.
bool TakeDeviceAndStatusFile(const TStationConfig& config) {
    const std::string device = StationDevicePath(config);
    if (DeviceLockedByAnother(device)) {
        std::string holders;
        for (const std::string& holder : DeviceHolders(device)) {
            holders += (holders.empty() ? "" : ", ") + holder;
        }
        Log("cannot record " + device + ": it is in use by " +
            (holders.empty() ? std::string("another process") : "process " + holders) +
            "; one program at a time can read a digitizer");
        return false;
    }
    std::string path = config.StatusFile;
    std::string error;
    if (path.empty()) {
        path = DefaultStatusFile(config);
        const char* runtime = std::getenv("RUNTIME_DIRECTORY");
        if ((runtime == nullptr || *runtime == '\0') &&
            !PrepareStatusDirectory(path.substr(0, path.rfind('/')), error)) {
            Log("no status file: " + error);
            return true;
        }
    }
    switch (LockStatusFile(path, error)) {
        case TStatusLock::Taken:
            Log("status file " + path);
            break;
        case TStatusLock::HeldByAnother:
            Log("cannot record: " + error);
            return false;
        case TStatusLock::Failed:
            Log("the status file is not locked: " + error);
            break;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const TStationCommand command = ParseStationCommand(args);
    if (!command.Error.empty()) {
        return CommandLineFault("digitizer-station", command.Error);
    }
    switch (command.Action) {
        case TStationAction::Help:
            std::fputs(StationUsage(), stdout);
            return 0;
        case TStationAction::Version:
            std::printf("digitizer-station %s\n", ProgramVersion);
            return 0;
        // Which device is the digitizer on: answered before any configuration is read.
        case TStationAction::ListPorts:
            std::fputs(SerialPortListText(ListSerialPorts()).c_str(), stdout);
            return 0;
        case TStationAction::PrintConfig:
            std::fputs(FormatStationConfig(command.Config).c_str(), stdout);
            return 0;
        case TStationAction::StationXml: {
            std::vector<std::string> notes;
            std::fputs(StationXmlOf(command.Config, std::time(nullptr), notes).c_str(), stdout);
            for (const std::string& note : notes) {
                std::fprintf(stderr, "digitizer-station: %s\n", note.c_str());
            }
            return 0;
        }
        case TStationAction::Status:
            return ShowStatus(command.Config);
        case TStationAction::Run:
            break;
    }

    if (!TakeDeviceAndStatusFile(command.Config)) {
        return 1;
    }
    Install(SIGTERM, OnStop);
    Install(SIGINT, OnStop);
    Install(SIGHUP, OnReload);
    std::signal(SIGPIPE, SIG_IGN);

    // An archive that cannot be written is a fault of the configuration: said at once, not
    // found out at the first record.
    if (command.Config.Layout == TArchiveLayout::Sds) {
        if (const TStatus ready = PrepareArchiveRoot(command.Config.Archive); !ready) {
            std::fprintf(stderr, "digitizer-station: %s\n", ready.Error().Text.c_str());
            return 1;
        }
    }

    TStation station(command.Config, Log);
    Log("recording " + StationDevicePath(command.Config) + " into " + command.Config.Archive +
        " (version " + ProgramVersion + ")");
    station.Start();
    while (!stopRequested) {
        if (reloadRequested) {
            reloadRequested = 0;
            const TStationCommand again = ParseStationCommand(args);
            if (!again.Error.empty()) {
                Log("the configuration was not read again: " + again.Error +
                    "; the one in force stays");
            } else {
                station.Reconfigure(again.Config);
            }
        }
        station.Turn(std::chrono::milliseconds(200));
    }
    Log("stopping: writing what is pending");
    station.Stop();
    Log("stopped");
    return 0;
}
