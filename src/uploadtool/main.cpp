// digitizer-upload: the firmware upload without a window, for a station reached over
// SSH. The same run as the window's upload dialog, on the same link.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "about/version.h"
#include "digitizer/digitizer.h"
#include "digitizer/port_list.h"
#include "settings/command_line.h"
#include "uploadtool/terminal_user.h"

namespace {

volatile std::sig_atomic_t cancelRequested = 0;
volatile std::sig_atomic_t interrupts = 0;

void Say(const char* text) {
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
}

// The first interrupt cancels the run, which then reboots the unit; the second only says
// so, since ending now would leave the unit in its boot loader with part of an image; the
// third ends the program at once, saying what state the unit may be left in.
void OnCancel(int) {
    cancelRequested = 1;
    const std::sig_atomic_t count = interrupts + 1;
    interrupts = count;
    if (count == 2) {
        Say("\ndigitizer-upload: cancelling: the unit is being rebooted so that it starts its "
            "firmware again (up to a minute). Interrupt once more to end at once.\n");
    } else if (count >= 3) {
        Say("\ndigitizer-upload: ended before the unit was rebooted: it may be left in its "
            "boot loader with part of the new firmware. Power it off and on and upload "
            "again.\n");
        _exit(1);
    }
}

const char* const Usage =
    "Usage: digitizer-upload DEVICE|PORT [--boot FILE] [--main FILE] [--filter FILE]\n"
    "                        [--serial TEXT]\n"
    "       digitizer-upload --list-ports\n"
    "\n"
    "Uploads new firmware to the digitizer on DEVICE (a path such as /dev/ttyUSB0) or\n"
    "serial port number PORT (1 is /dev/ttyS0) through its boot loader, keeping the\n"
    "unit's serial number. Every file is read and checked before anything is sent.\n"
    "When \"Power digitizer off and back on\" appears, switch the unit off and on.\n"
    "\n"
    "  --boot FILE     boot code, an Intel HEX file\n"
    "  --main FILE     main code, an Intel HEX file\n"
    "  --filter FILE   filter code, an Intel HEX file\n"
    "  --serial TEXT   the serial number to write when the unit's cannot be read\n"
    "                  (otherwise it is asked for on the terminal)\n"
    "  --list-ports    list the serial devices present (USB adapters with their maker,\n"
    "                  product and serial number, and their stable names) and exit\n"
    "  --help          show this text\n"
    "  --version       show the program's version\n"
    "\n"
    "Ctrl+C while the files are sent cancels the upload: the unit is rebooted (a second\n"
    "Ctrl+C says so; a third ends at once, leaving the unit in its boot loader). When the\n"
    "device goes away (the cable pulled), the upload stops and says at which record.\n"
    "Exits with 0 after \"Upload Successfully Completed\", with 1 when the upload did\n"
    "not complete, with 2 for a wrong command line.\n";

void CancelOn(int signal) {
    struct sigaction action {};
    action.sa_handler = OnCancel;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string device;
    uint8_t port = 1;
    bool haveTarget = false;
    bool listPorts = false;
    TFirmwareFiles files;
    TTerminalUser::TOptions terminal;
    const auto into = [](std::string& field) {
        return [&field](const std::string& value) {
            field = value;
            return std::string();
        };
    };
    TOptionTable table;
    table.Flag("--list-ports", [&] { listPorts = true; })
        .Value("--boot", into(files.Boot))
        .Value("--main", into(files.Main))
        .Value("--filter", into(files.Filter))
        .Value("--serial",
               [&](const std::string& value) {
                   terminal.Serial = value;
                   return std::string();
               })
        .Operands(1, [&](const std::string& arg) {
            haveTarget = true;
            return ParsePortArgument(arg, device, port);
        });
    const TCommandScan scan = table.Scan(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> answer =
            CommandLineAnswer(scan, "digitizer-upload", Usage, ProgramVersion)) {
        return *answer;
    }
    if (listPorts) {
        std::fputs(SerialPortListText(ListSerialPorts()).c_str(), stdout);
        return 0;
    }
    if (!haveTarget) {
        return CommandLineFault("digitizer-upload", "which device? Give DEVICE or PORT");
    }
    if (files.Boot.empty() && files.Main.empty() && files.Filter.empty()) {
        std::fprintf(stderr,
                     "digitizer-upload: no file given: only the serial number is written "
                     "back\n");
    }

    // A file that is not fit to be sent is refused before the device is even opened.
    if (const TResult<TFirmwareImage> image = LoadFirmware(files); !image) {
        std::fprintf(stderr, "digitizer-upload: %s\nNothing was sent to the digitizer.\n",
                     image.Error().Text.c_str());
        return 1;
    }

    std::signal(SIGPIPE, SIG_IGN);
    CancelOn(SIGINT);
    CancelOn(SIGTERM);
    CancelOn(SIGHUP);

    // The device is opened as the window opens it; the run starts it again in the boot
    // loader's mode.
    TDigitizer link(
        port, BootLoaderBaudRate, [](TDataBlock*) { return false; }, device);
    if (!link.Port() || !link.Port()->IsOpen()) {
        std::fprintf(stderr, "digitizer-upload: cannot open %s\n",
                     link.Port() ? link.Port()->OpenErrorText().c_str() : "the device");
        std::fflush(stderr);
        return 1;
    }
    link.Stop();

    terminal.OutIsTerminal = isatty(STDOUT_FILENO) != 0;
    terminal.InIsTerminal = isatty(STDIN_FILENO) != 0;
    TTerminalUser user(terminal, cancelRequested);
    TSleepWait wait;
    TFirmwareUpload upload(link, port, user, wait);
    const TUploadResult result = upload.Run(files);
    user.EndLine();
    const TUploadEnd end = result.Error().End;
    if (result || end == TUploadEnd::Refused) {
        return result ? 0 : 1;
    }
    if (end == TUploadEnd::NoSerialNumber || end == TUploadEnd::MissedSerialNumber) {
        // The unit waits in its boot loader: back to its firmware, unchanged.
        upload.RebootUnit();
        user.EndLine();
    }
    std::fprintf(stderr, "digitizer-upload: %s\n", result.Error().Text.c_str());
    return 1;
}
