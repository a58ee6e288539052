// digitizer-dump: prints the blocks a digitizer sends, for checking a unit
// without the window and for other programs to read.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <string>

#include "about/version.h"
#include "digitizer/block_queue.h"
#include "digitizer/link_keeper.h"
#include "digitizer/port_list.h"
#include "digitizer/protocol.h"
#include "dump/block_json.h"
#include "settings/command_line.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
    interrupted = 1;
}

const char* const Usage =
    "Usage: digitizer-dump DEVICE|PORT [--baud B|auto] [--blocks N] [--seconds S]\n"
    "                      [--timeout S] [--json]\n"
    "       digitizer-dump --list-ports\n"
    "\n"
    "Opens the digitizer on DEVICE (a path such as /dev/ttyUSB0) or serial port\n"
    "number PORT (1 is /dev/ttyS0) and prints one line per decoded block. A device\n"
    "that goes away (a USB adapter unplugged) is waited for and opened again.\n"
    "\n"
    "  --baud B      line speed, 1200 ... 115200 (default 19200); auto searches the\n"
    "                rates from 19200 on as the window does, two seconds each\n"
    "  --blocks N    stop after N blocks\n"
    "  --seconds S   stop after S seconds (at most 100000000)\n"
    "  --timeout S   give up with status 1 when no block has come S seconds after\n"
    "                the start (default 5, with --baud auto 20: every rate once);\n"
    "                0 waits for ever\n"
    "  --json        one JSON object per block with every field and sample\n"
    "  --list-ports  list the serial devices present (USB adapters with their maker,\n"
    "                product and serial number, and their stable names) and exit\n"
    "  --help        show this text\n"
    "  --version     show the program's version\n";

constexpr double DefaultTimeout = 5;
// Two ticks of the watchdog at each of the eight rates, and a margin.
constexpr double DefaultSearchTimeout = 20;

struct TOptions {
    std::string device;
    uint8_t port = 1;
    uint32_t baud = 19200;  // TLinkKeeper::AutoBaud: the search
    long blocks = 0;
    double seconds = 0;
    double timeout = -1;  // -1: the default for the rate, 0: none
    bool json = false;
};

constexpr double MaxSeconds = 1e8;  // about three years; the clock's range is far beyond

// A whole decimal number from min to max, the text all digits.
bool ParseWhole(const std::string& text, long min, long max, long& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && text[0] != '-' && error == std::errc() && last == end && value >= min &&
           value <= max;
}

// A number of seconds above 0 and up to MaxSeconds, the text all number.
bool ParseSeconds(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && last == end && std::isfinite(value) && value > 0 &&
           value <= MaxSeconds;
}

// The text a number of seconds was given as, for messages: 5, 1.5.
std::string SecondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    bool haveTarget = false;
    bool listPorts = false;
    TOptionTable table;
    table.Flag("--json", [&] { options.json = true; })
        .Flag("--list-ports", [&] { listPorts = true; })
        .Value("--baud",
               [&](const std::string& rate) -> std::string {
                   long number = 0;
                   if (rate == "auto") {
                       options.baud = TLinkKeeper::AutoBaud;
                   } else if (!ParseWhole(rate, 1, 115200, number) ||
                              !IsSupportedBaudRate(static_cast<uint32_t>(number))) {
                       return "needs auto or one of 1200 2400 4800 9600 19200 38400 57600 115200";
                   } else {
                       options.baud = static_cast<uint32_t>(number);
                   }
                   return "";
               })
        .Value("--blocks",
               [&](const std::string& text) {
                   return ParseWhole(text, 1, std::numeric_limits<long>::max(), options.blocks)
                              ? ""
                              : "needs a whole number of blocks, 1 or more";
               })
        .Value("--seconds",
               [&](const std::string& text) {
                   return ParseSeconds(text, options.seconds)
                              ? ""
                              : "needs a number of seconds above 0 and up to 100000000";
               })
        .Value("--timeout",
               [&](const std::string& text) -> std::string {
                   if (text == "0") {
                       options.timeout = 0;
                   } else if (!ParseSeconds(text, options.timeout)) {
                       return "needs a number of seconds, 0 (no limit) up to 100000000";
                   }
                   return "";
               })
        .Operands(1, [&](const std::string& arg) {
            haveTarget = true;
            return ParsePortArgument(arg, options.device, options.port);
        });
    const TCommandScan scan = table.Scan(std::vector<std::string>(argv + 1, argv + argc));
    if (const std::optional<int> answer =
            CommandLineAnswer(scan, "digitizer-dump", Usage, ProgramVersion)) {
        return *answer;
    }
    if (listPorts) {
        std::fputs(SerialPortListText(ListSerialPorts()).c_str(), stdout);
        return 0;
    }
    if (!haveTarget) {
        return CommandLineFault("digitizer-dump", "which device? Give DEVICE or PORT");
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, OnSignal);

    const bool search = options.baud == TLinkKeeper::AutoBaud;
    if (options.timeout < 0) {
        options.timeout = search ? DefaultSearchTimeout : DefaultTimeout;
    }

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    TBlockQueue queue;
    TLinkKeeper keeper(
        [&queue](TDataBlock* block, uint32_t baud) { return queue.Post(block, baud); });
    if (!keeper.Open(options.port, options.device, options.baud, start)) {
        std::fprintf(stderr, "digitizer-dump: cannot open %s\n%s\n", keeper.LastOpenError().c_str(),
                     SerialPortsHint(ListSerialPorts()).c_str());
        return 1;
    }

    const auto after = [&](double seconds) {
        return seconds > 0 ? start + std::chrono::milliseconds(std::llround(seconds * 1000))
                           : Clock::time_point::max();
    };
    const auto deadline = after(options.seconds);
    const auto firstBlockDeadline = after(options.timeout);
    long printed = 0;
    bool received = false;
    std::deque<TQueuedBlock> pending;
    int status = 0;
    // The rates tried, for the message when no block comes.
    std::string tried = std::to_string(keeper.BaudRate().value_or(TLinkKeeper::SearchStartBaud));
    size_t ratesTried = 1;
    // A run that received no block failed, however it ended.
    const auto noBlock = [&](double seconds) {
        std::fprintf(stderr, "digitizer-dump: no block in %s s at %s baud\n",
                     SecondsText(seconds).c_str(), tried.c_str());
        if (!search) {
            std::fputs(
                "digitizer-dump: the digitizer may send at another rate: try --baud "
                "auto; or check the device, its cable and the digitizer's power\n",
                stderr);
        } else if (ratesTried < BaudRates.size()) {
            std::fputs(
                "digitizer-dump: give the search more time with --timeout, or check "
                "the device, its cable and the digitizer's power\n",
                stderr);
        } else {
            std::fputs(
                "digitizer-dump: no rate gave a block: check the device, its cable "
                "and the digitizer's power\n",
                stderr);
        }
        status = 1;
    };
    while (!interrupted && Clock::now() < deadline &&
           (options.blocks == 0 || printed < options.blocks)) {
        for (const TLinkKeeper::TEvent& event : keeper.Service(Clock::now())) {
            std::fprintf(stderr, "digitizer-dump: %s\n", event.Text().c_str());
            if (event.Kind == TLinkKeeper::TEventKind::Searching && ratesTried < BaudRates.size()) {
                tried += ", " + std::to_string(event.Baud);
                ++ratesTried;
            }
        }
        if (!received && Clock::now() >= firstBlockDeadline) {
            noBlock(options.timeout);
            break;
        }
        if (pending.empty()) {
            pending = queue.TakeAll(std::chrono::milliseconds(100));
        }
        if (pending.empty()) {
            continue;
        }
        const auto [block, baud] = pending.front();
        pending.pop_front();
        if (!received && search) {
            std::fprintf(stderr, "digitizer-dump: receiving at %u baud\n", baud);
        }
        received = true;
        const std::string line = options.json ? BlockToJson(*block) : BlockToLine(*block);
        FreeBlock(block);
        if (std::fprintf(stdout, "%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) {
            break;  // the reader of our output has gone
        }
        ++printed;
    }
    if (!received && status == 0) {
        const double ran = std::chrono::duration<double>(Clock::now() - start).count();
        noBlock(std::round(std::min(ran, options.seconds > 0 ? options.seconds : ran) * 10) / 10);
    }
    keeper.Close();
    for (const TQueuedBlock& queued : pending) {
        FreeBlock(queued.Block);
    }
    return status;
}
