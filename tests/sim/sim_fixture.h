// A running simulator with a probe on its device, and waits for what the probe receives.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/serial_probe.h"
#include "sim/simulator.h"

// A command as the program sends it: "$", two letters and the argument bytes.
inline std::vector<uint8_t> Cmd(const char* letters, std::initializer_list<uint8_t> argument = {}) {
    std::vector<uint8_t> bytes = {'$', static_cast<uint8_t>(letters[0]),
                                  static_cast<uint8_t>(letters[1])};
    for (uint8_t b : argument) {
        bytes.push_back(b);
    }
    return bytes;
}

class TSimFixture : public ::testing::Test {
  protected:
    using ms = std::chrono::milliseconds;

    // A unit that sends 20 frames per second with the counter signal.
    static TSimConfig FastConfig() {
        TSimConfig config;
        config.Speed = 20;
        config.Signal = TSignalKind::Counter;
        config.PowerUpDelayMs = 100;
        config.RebootDelayMs = 200;
        config.BootWaitMs = 600;
        return config;
    }

    void Launch(const TSimConfig& config, int probeBaud = 19200) {
        sim_ = std::make_unique<TDigitizerSim>(config);
        ASSERT_TRUE(sim_->Start()) << sim_->LastError();
        ASSERT_TRUE(probe_.Open(sim_->DevicePath(), probeBaud));
        probe_.Discard();
    }

    void TearDown() override {
        probe_.Close();
        if (sim_) {
            sim_->Stop();
        }
    }

    // Echoes named here are taken out of the stream as soon as they arrive, wherever they
    // land, so that the frames around them still decode.
    void ExpectEcho(std::string echo) { expected_.push_back(std::move(echo)); }
    bool EchoSeen(const std::string& echo) const {
        return std::count(seen_.begin(), seen_.end(), echo) > 0;
    }

    bool Send(std::vector<uint8_t> command, bool expectEcho = true) {
        if (expectEcho) {
            ExpectEcho(std::string(command.begin(), command.begin() + 3));
        }
        return probe_.Write(command);
    }

    bool WaitEcho(const std::string& echo, ms timeout = ms(3000)) {
        return Until([&] { return EchoSeen(echo); }, timeout);
    }

    // Reads until `done` holds, taking out expected echoes and decoding frames as they come.
    bool Until(const std::function<bool()>& done, ms timeout) {
        return probe_.ReadUntil(
            [&] {
                TakeExpectedEchoes();
                probe_.TakeFrames();
                return done();
            },
            timeout);
    }

    // Waits for a frame, decoded after this call, for which `accept` holds.
    const TDataBlock* WaitFrame(const std::function<bool(const TDataBlock&)>& accept,
                                ms timeout = ms(4000)) {
        size_t next = probe_.Frames().size();
        const TDataBlock* found = nullptr;
        Until(
            [&] {
                for (; next < probe_.Frames().size() && found == nullptr; ++next) {
                    if (accept(*probe_.Frames()[next])) {
                        found = probe_.Frames()[next].get();
                    }
                }
                return found != nullptr;
            },
            timeout);
        return found;
    }

    const TDataBlock* WaitAnyFrame(ms timeout = ms(4000)) {
        return WaitFrame([](const TDataBlock&) { return true; }, timeout);
    }

    std::unique_ptr<TDigitizerSim> sim_;
    TSerialProbe probe_;

  private:
    void TakeExpectedEchoes() {
        for (auto it = expected_.begin(); it != expected_.end();) {
            if (probe_.TakeEcho(*it)) {
                seen_.push_back(*it);
                it = expected_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::vector<std::string> expected_;
    std::vector<std::string> seen_;
};
