// The main window as the window tests use it: a real window (offscreen) on a
// real link, against the simulator on a pseudo-terminal or on a silent
// pseudo-terminal that the test plays by hand, with the message boxes and
// questions captured instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "main/main_form.h"
#include "sim/simulator.h"
#include "support/form_controls.h"
#include "support/pty_pair.h"

class TWindowTest : public ::testing::Test {
  protected:
    // Three channels at 100 samples per second with the enhanced header, five
    // frames a second.
    static TSimConfig SimConfig();

    std::string SettingsPath() const;
    void WriteSettings(const std::string& text) const;

    // The simulator started on its pseudo-terminal.
    void StartSim(const TSimConfig& config);
    // The window on `device`, shown.
    void Open(const std::string& device);
    // The simulator, then the window on it.
    void Launch(const TSimConfig& config = SimConfig());
    // The window on a line that never speaks, with the watchdog's timer
    // stopped so that no baud search reopens it; blocks are handed to
    // ProcessBlock by the test.
    void OpenSilent();
    void TearDown() override;

    // The named control; fails the test when there is none.
    template <typename T>
    T* Find(const QString& name) const {
        return FindControl<T>(*form_, name);
    }
    // The text of a label.
    QString Value(const QString& name) const { return LabelText(*form_, name); }
    void Click(const QString& button) const { ClickButton(*form_, button); }
    // Clicks the item of a radio group with that caption.
    void Select(const QString& group, const QString& caption) const {
        SelectItem(*form_, group, caption);
    }

    // Commands the simulator received with these two letters.
    int Received(const std::string& letters) const;
    // Blocks since the histories last started afresh (one temperature
    // reading each).
    size_t Blocks() const;
    // Generous: a window under a sanitizer on a loaded machine takes seconds to start.
    bool WaitForBlocks(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30));

    QTemporaryDir dir_;
    std::unique_ptr<TPtyPeer> peer_;
    std::unique_ptr<TDigitizerSim> sim_;
    std::unique_ptr<TMainForm> form_;
    std::vector<QString> messages_;
    std::vector<QString> questions_;
    bool answer_ = false;
};
