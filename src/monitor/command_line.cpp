#include "monitor/command_line.h"

#include "monitor/settings.h"

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine command;
    bool havePort = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            command.Help = true;
        } else if (arg == "--version") {
            command.Version = true;
        } else if (arg == "--simulate") {
            command.Simulate = true;
        } else if (arg == "--settings" || arg.rfind("--settings=", 0) == 0) {
            if (arg.size() > 10) {
                command.SettingsFile = arg.substr(11);
            } else if (i + 1 < args.size()) {
                command.SettingsFile = args[++i];
            }
            if (command.SettingsFile.empty()) {
                command.Error = "--settings needs a file name";
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            command.Error = "unknown option '" + arg + "'";
        } else if (!havePort) {
            // Only the first argument names the port; a number, else port 1.
            havePort = true;
            if (IsDeviceArgument(arg)) {
                command.Device = arg;
            } else {
                command.Port = PortFromArgument(arg);
            }
        }
    }
    return command;
}

const char* CommandLineUsage() {
    return "Usage: kestrel32 [PORT|DEVICE] [--settings FILE] [--simulate] [--list-ports] [--help]\n"
           "                [--version]\n"
           "\n"
           "Monitors and controls a six-channel 24-bit digitizer on a serial port.\n"
           "\n"
           "  PORT             serial port number (1 is /dev/ttyS0), overriding the settings\n"
           "  DEVICE           a device path such as /dev/ttyUSB0; remembered in the settings\n"
           "  --settings FILE  the settings file to read and write\n"
           "  --simulate       run against the built-in digitizer simulator\n"
           "  --list-ports     list the serial ports present, and exit\n"
           "  --help           show this text\n"
           "  --version        show the program's version\n";
}
