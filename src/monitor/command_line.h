// The program's command line:
//   kestrel32 [PORT|DEVICE] [--settings FILE] [--simulate] [--help] [--version]
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TCommandLine {
    std::optional<uint8_t> Port;  // the first argument that is not an option, as a port number
    std::string Device;           // ... or as a device path when it begins with "/"
    std::string SettingsFile;
    bool Simulate = false;
    bool Help = false;
    bool Version = false;
    std::string Error;  // empty when the command line is usable
};

TCommandLine ParseCommandLine(const std::vector<std::string>& args);
const char* CommandLineUsage();
