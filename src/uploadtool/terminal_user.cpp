#include "uploadtool/terminal_user.h"

#include <algorithm>

namespace {

constexpr int BarWidth = 40;

}  // namespace

std::string ProgressBarText(int percent, int width) {
    const int p = std::clamp(percent, 0, 100);
    const int filled = p * width / 100;
    char number[8];
    std::snprintf(number, sizeof number, "%4d%%", p);
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '-') + "]" + number;
}

bool TTerminalUser::ConfirmPowerCycle() {
    EndLine();
    std::fprintf(options_.Out, "%s\n", PowerCycleText);
    std::fflush(options_.Out);
    return true;
}

std::string TTerminalUser::AskSerialNumber() {
    EndLine();
    if (options_.Serial) {
        std::fprintf(options_.Out, "The serial number could not be read: using %s\n",
                     options_.Serial->c_str());
        std::fflush(options_.Out);
        return *options_.Serial;
    }
    if (!options_.InIsTerminal) {
        std::fprintf(options_.Err,
                     "digitizer-upload: the serial number could not be read; give it with "
                     "--serial\n");
        return {};
    }
    std::fprintf(options_.Out, "The serial number could not be read.\nSerial Number: ");
    std::fflush(options_.Out);
    std::string line;
    for (int c = std::fgetc(options_.In); c != EOF && c != '\n'; c = std::fgetc(options_.In)) {
        if (c != '\r') {
            line.push_back(static_cast<char>(c));
        }
    }
    return line;
}

void TTerminalUser::ShowStatus(const std::string& text) {
    if (text.empty()) {
        return;
    }
    EndLine();
    std::fprintf(options_.Out, "%s\n", text.c_str());
    std::fflush(options_.Out);
}

void TTerminalUser::ShowProgress(int percent) {
    if (percent == percent_) {
        return;
    }
    percent_ = percent;
    if (options_.OutIsTerminal) {
        std::fprintf(options_.Out, "\r%s", ProgressBarText(percent, BarWidth).c_str());
        barShown_ = true;
    } else {
        std::fprintf(options_.Out, "%d%%\n", percent);
    }
    std::fflush(options_.Out);
}

void TTerminalUser::Refuse(const std::string& problem) {
    EndLine();
    std::fprintf(options_.Err, "digitizer-upload: %s\nNothing was sent to the digitizer.\n",
                 problem.c_str());
}

void TTerminalUser::EndLine() {
    if (barShown_) {
        std::fputc('\n', options_.Out);
        std::fflush(options_.Out);
        barShown_ = false;
    }
}
