// digitizer-dump: prints the blocks a digitizer sends, for checking a unit
// without the window and for other programs to read.
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <string>

#include "digitizer/digitizer.h"
#include "dump/block_json.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
    interrupted = 1;
}

const char* const Usage =
    "Usage: digitizer-dump DEVICE|PORT [--baud B] [--blocks N] [--seconds S] [--json]\n"
    "\n"
    "Opens the digitizer on DEVICE (a path such as /dev/ttyUSB0) or serial port\n"
    "number PORT (1 is /dev/ttyS0) and prints one line per decoded block.\n"
    "\n"
    "  --baud B      line speed, 1200 ... 115200 (default 19200)\n"
    "  --blocks N    stop after N blocks\n"
    "  --seconds S   stop after S seconds (at most 100000000)\n"
    "  --json        one JSON object per block with every field and sample\n"
    "  --help        show this text\n";

struct TOptions {
    std::string device;
    uint8_t port = 1;
    uint32_t baud = 19200;
    long blocks = 0;
    double seconds = 0;
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

int Fail(const std::string& message) {
    std::fprintf(stderr, "digitizer-dump: %s\n%s", message.c_str(), Usage);
    return 2;
}

// Hands blocks from the reader thread to the printing loop.
class TBlockQueue {
  public:
    bool Post(TDataBlock* block) {
        std::lock_guard lock(mutex_);
        blocks_.push_back(block);
        ready_.notify_one();
        return true;
    }
    TDataBlock* Take(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, wait, [&] { return !blocks_.empty(); });
        if (blocks_.empty()) {
            return nullptr;
        }
        TDataBlock* block = blocks_.front();
        blocks_.pop_front();
        return block;
    }
    ~TBlockQueue() {
        for (TDataBlock* block : blocks_) {
            FreeBlock(block);
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<TDataBlock*> blocks_;
};

}  // namespace

int main(int argc, char** argv) {
    TOptions options;
    bool haveTarget = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // The value after an option, or an empty text when there is none.
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--baud") {
            if (!ParseWhole(value(), 1, 115200, number) ||
                !IsSupportedBaudRate(static_cast<uint32_t>(number))) {
                return Fail("--baud needs one of 1200 2400 4800 9600 19200 38400 57600 115200");
            }
            options.baud = static_cast<uint32_t>(number);
        } else if (arg == "--blocks") {
            if (!ParseWhole(value(), 1, std::numeric_limits<long>::max(), number)) {
                return Fail("--blocks needs a whole number of blocks, 1 or more");
            }
            options.blocks = number;
        } else if (arg == "--seconds") {
            if (!ParseSeconds(value(), options.seconds)) {
                return Fail("--seconds needs a number of seconds above 0 and up to 100000000");
            }
        } else if (arg.rfind("--", 0) == 0 || haveTarget) {
            return Fail("unexpected argument '" + arg + "'");
        } else {
            haveTarget = true;
            if (arg[0] == '/') {
                options.device = arg;
            } else {
                if (!ParseWhole(arg, 1, 255, number)) {
                    return Fail("'" + arg +
                                "' is neither a device path nor a port number from 1 to 255");
                }
                options.port = static_cast<uint8_t>(number);
            }
        }
    }
    if (!haveTarget) {
        return Fail("which device?");
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGPIPE, OnSignal);

    TBlockQueue queue;
    TDigitizer link(
        options.port, options.baud, [&queue](TDataBlock* block) { return queue.Post(block); },
        options.device);
    if (!link.Port() || !link.Port()->IsOpen()) {
        std::fprintf(stderr, "digitizer-dump: cannot open %s\n",
                     link.Port() ? link.Port()->OpenErrorText().c_str() : "the device");
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline =
        options.seconds > 0
            ? Clock::now() + std::chrono::milliseconds(std::llround(options.seconds * 1000))
            : Clock::time_point::max();
    long printed = 0;
    while (!interrupted && Clock::now() < deadline &&
           (options.blocks == 0 || printed < options.blocks)) {
        TDataBlock* block = queue.Take(std::chrono::milliseconds(100));
        if (block == nullptr) {
            continue;
        }
        const std::string line = options.json ? BlockToJson(*block) : BlockToLine(*block);
        FreeBlock(block);
        if (std::fprintf(stdout, "%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) {
            break;  // the reader of our output has gone
        }
        ++printed;
    }
    link.Stop();
    return 0;
}
