// The program as its users meet it, against the simulator program. digitizer-sim runs as a
// child process on a pseudo-terminal reached through a link in the test's own directory (the
// device path the program is given, as a user gives /dev/ttyUSB0), and keeps its journal
// there: what it sent whole, what it heard, the line rates set on its device. The program
// runs either as the kestrel32 process, for what concerns the process (signals, CPU time,
// reconnection), or as its window built in this process exactly as the program builds it,
// where the test looks at the pages.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "main/main_form.h"
#include "settings/ini_file.h"
#include "support/child_process.h"
#include "support/form_controls.h"
#include "support/sim_journal.h"

// CPU time (user and system, all threads) a process has used so far, in seconds; negative when
// the process is not there.
double ProcessCpuSeconds(pid_t pid);
// Bytes a process has read through read() and its kin so far (from any file: for a program
// that reads nothing else meanwhile, its serial device); negative when it is not there.
int64_t ProcessBytesRead(pid_t pid);

// Sees every block on its way to the window, before the window takes it.
class TBlockObserver : public QObject {
  public:
    const std::vector<uint32_t>& BlockCounts() const { return blockCounts_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::vector<uint32_t> blockCounts_;
};

class TEndToEndTest : public ::testing::Test {
  protected:
    using TClock = std::chrono::steady_clock;

    std::string Path(const std::string& name) const;
    // The device the program is given: a link to the simulator's pseudo-terminal.
    std::string LinkPath() const { return Path("digitizer"); }
    std::string SettingsPath() const { return Path("kestrel32.ini"); }
    void WriteSettings(const std::string& text) const;
    // The settings file as the program left it.
    TIniFile SavedSettings() const;

    // digitizer-sim with `options` on the link, its journal beside it. After KillSim a new
    // call plugs a unit in again on the same path.
    void StartSim(std::vector<std::string> options);
    // SIGKILL: the device goes at once, as when the cable is pulled.
    void KillSim();
    // SIGTERM: the unit stops and its journal is complete.
    void StopSim();
    // The unit switched off and on (SIGUSR1).
    void PowerCycleSim();
    // The running (or last) unit's journal as far as it has been written.
    TSimJournalRead Journal() const;
    std::string JournalPath() const;
    TChild& Sim() { return *sim_; }

    // The kestrel32 program on the link with the settings file, offscreen.
    void StartProgram();
    TChild& Program() { return *program_; }
    // CPU seconds the program has used so far, and the bytes it has read.
    double ProgramCpuSeconds() const;
    int64_t ProgramBytesRead() const;

    // The window on the link, built as the program builds it, shown; its messages collected.
    void OpenWindow();
    TMainForm& Window() { return *form_; }
    // Block counts of the blocks that reached the window, in order.
    const std::vector<uint32_t>& Received() const { return observer_->BlockCounts(); }
    // The window's controls by name; a missing one fails the test.
    template <typename T>
    T* Find(const QString& name) const {
        return FindControl<T>(*form_, name);
    }
    QString Value(const QString& label) const { return LabelText(*form_, label); }
    bool Shown(const QString& widget) const { return ControlShown(*form_, widget); }
    void Click(const QString& button) const { ClickButton(*form_, button); }
    // Clicks the item of a radio group with that caption.
    void Select(const QString& group, const QString& caption) const {
        SelectItem(*form_, group, caption);
    }

    // Waits until `condition` holds, the event loop running meanwhile.
    static bool WaitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout);

    void TearDown() override;

    QTemporaryDir dir_;
    std::unique_ptr<TChild> sim_;
    int sims_ = 0;
    std::unique_ptr<TChild> program_;
    std::unique_ptr<TMainForm> form_;
    std::unique_ptr<TBlockObserver> observer_;
    // Errors, reports and questions the window put to the user.
    std::vector<QString> messages_;
    std::vector<QString> questions_;
};
