// The user of an upload on a terminal (or a pipe): status texts as lines, a progress
// bar redrawn in place on a terminal and percentage lines otherwise, the serial number
// asked on the terminal, and a cancel flag that the signal handlers set.
#pragma once

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "upload/upload_procedure.h"

// "[########----------------]  33%": the bar `width` characters wide inside its brackets.
std::string ProgressBarText(int percent, int width);

class TTerminalUser : public TUploadUser {
  public:
    struct TOptions {
        FILE* Out = stdout;
        FILE* Err = stderr;
        FILE* In = stdin;
        bool OutIsTerminal = false;         // draw the bar in place
        bool InIsTerminal = false;          // the serial number may be asked
        std::optional<std::string> Serial;  // --serial
    };

    TTerminalUser(const TOptions& options, const volatile std::sig_atomic_t& cancel)
        : options_(options), cancel_(cancel) {}

    bool ConfirmPowerCycle() override;
    std::string AskSerialNumber() override;
    void ShowStatus(const std::string& text) override;
    void ShowProgress(int percent) override;
    void Refuse(const std::string& problem) override;
    bool CancelRequested() override { return cancel_ != 0; }

    // Ends a progress bar drawn in place, so that what follows starts on a line of its own.
    void EndLine();

  private:
    TOptions options_;
    const volatile std::sig_atomic_t& cancel_;
    int percent_ = -1;
    bool barShown_ = false;
};
