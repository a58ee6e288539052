#include "sim/simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace {

using namespace std::chrono_literals;

constexpr auto Tick = 5ms;  // the line is fed in chunks this far apart
constexpr auto SplitEchoPause = 50ms;
// How long the unit waits for a reader that is behind before it drops what it could not write.
constexpr auto StallLimit = 250ms;
// How long a pulled cable waits for the program to read what is on the line already, so that
// a frame the journal calls whole has reached the program.
constexpr auto DrainLimit = 250ms;
constexpr size_t LogLimit = 4096;
constexpr size_t LoggedArgumentLimit = 512;
// Echoes and memory reads are dropped while this much waits to go out: a flood of commands
// cannot make the unit's queue grow without bound.
constexpr size_t OutputLimit = 1 << 22;
// A scheduled silence of wall time beyond this (years) is cut to it.
constexpr double MaxSilenceSeconds = 1e8;

std::vector<uint8_t> EchoOf(const TCommand& command) {
    return {'$', static_cast<uint8_t>(command.Name[0]), static_cast<uint8_t>(command.Name[1])};
}

// The shortest text that reads back as `value` (100, 0.5, 428.57142857142856).
std::string NumberText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string ActionText(const TScheduledAction& action) {
    switch (action.Kind) {
        case TActionKind::Rate:
            return "rate=" + NumberText(action.Value);
        case TActionKind::Channels:
            return "channels=" + NumberText(action.Value);
        case TActionKind::Reopen:
            return "reopen";
        case TActionKind::Silence:
            return "silence=" + NumberText(action.Value);
        case TActionKind::PowerCycle:
            return "power-cycle";
        case TActionKind::Supply:
            return "supply=" + NumberText(action.Value);
        case TActionKind::Temperature:
            return "temperature=" + NumberText(action.Value);
        case TActionKind::GpsFix:
            return action.Value != 0 ? "gps=fix" : "gps=lost";
        case TActionKind::Calibration:
            return "calibration=" + NumberText(action.Value);
    }
    return "?";
}

}  // namespace

TDigitizerSim::TDigitizerSim(const TSimConfig& config)
    : config_(config),
      pty_(std::make_unique<TPtyDevice>()),
      firmware_(config),
      faultRng_(config.Seed ^ 0x5DEECE66DULL),
      noiseRng_(config.Seed + 0x2545F4914F6CDD1DULL),
      actions_(config.Actions),
      ownBaud_(config.Baud) {
    boot_.Memory().SetSerialNumber(config.SerialNumber);
    std::stable_sort(
        actions_.begin(), actions_.end(),
        [](const TScheduledAction& a, const TScheduledAction& b) { return a.At < b.At; });
}

TDigitizerSim::~TDigitizerSim() {
    Stop();
}

bool TDigitizerSim::Start() {
    std::lock_guard lifecycle(lifecycle_);
    if (thread_.joinable()) {
        return true;
    }
    std::lock_guard lock(mutex_);
    const auto now = TClock::now();
    if (!config_.MemoryPath.empty() && !boot_.Memory().Load(config_.MemoryPath, error_)) {
        return false;
    }
    if (!config_.JournalPath.empty() && !journal_.IsOpen() &&
        !journal_.Open(config_.JournalPath, error_)) {
        return false;
    }
    if (config_.Boot) {
        DoPowerCycle(now);
    }
    if (!pty_->Open(ownBaud_, error_)) {
        return false;
    }
    if (!config_.LinkPath.empty() && !PlaceLink(config_.LinkPath, pty_->Path(), error_)) {
        pty_->Close();
        return false;
    }
    Note("device " + pty_->Path());
    if (pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
        error_ = "pipe2 failed";
        RemoveLink(config_.LinkPath, pty_->Path());
        pty_->Close();
        return false;
    }
    lastStep_ = now;
    lastStepMatched_ = true;
    nextFrame_ = now;
    stop_ = false;
    thread_ = std::thread(&TDigitizerSim::Run, this);
    running_ = true;
    return true;
}

void TDigitizerSim::Stop() {
    std::lock_guard lifecycle(lifecycle_);
    if (!thread_.joinable()) {
        return;
    }
    stop_ = true;
    running_ = false;
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = write(wake_[1], &byte, 1);
    thread_.join();
    std::lock_guard lock(mutex_);
    SaveMemory();
    if (!config_.LinkPath.empty()) {
        RemoveLink(config_.LinkPath, pty_->Path());
    }
    pty_->Close();
    Note("stopped");
    close(wake_[0]);
    close(wake_[1]);
    wake_[0] = wake_[1] = -1;
}

std::string TDigitizerSim::DevicePath() const {
    std::lock_guard lock(mutex_);
    return pty_->IsOpen() && !unplugged_ ? pty_->Path() : std::string();
}

std::string TDigitizerSim::LastError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void TDigitizerSim::PowerCycle() {
    std::lock_guard lock(mutex_);
    DoPowerCycle(TClock::now());
}

void TDigitizerSim::InjectFault(TFaultKind kind) {
    std::lock_guard lock(mutex_);
    if (kind == TFaultKind::Silence) {
        silentUntil_ = TClock::now() + config_.SilenceFrames * FramePeriod();
    } else {
        pendingFaults_.push_back(kind);
    }
}

TSimState TDigitizerSim::State() const {
    std::lock_guard lock(mutex_);
    const TDeviceSettings& s = firmware_.Settings();
    TSimState state;
    state.Running = running_;
    state.InBootLoader = boot_.Running();
    state.Baud = ownBaud_;
    state.LineBaud = lineBaud_;
    state.Channels = s.Channels;
    state.Rate = s.Rate();
    state.Factors = s.Factors;
    state.BytesPerSample = s.BytesPerSample;
    state.GainMask = s.GainMask;
    state.Mde = s.Mde;
    state.MinimalPhase = s.MinimalPhase;
    state.Calibration = s.Calibration;
    state.LineOutput = s.LineOutput;
    state.Supplies = s.Supplies;
    state.Pll = s.Pll;
    state.FramesSent = framesSent_;
    state.BlockCount = firmware_.BlockCount();
    state.Seconds = firmware_.Seconds();
    state.Unplugged = unplugged_;
    return state;
}

uint64_t TDigitizerSim::FramesSent() const {
    std::lock_guard lock(mutex_);
    return framesSent_;
}

std::vector<TReceivedCommand> TDigitizerSim::ReceivedCommands() const {
    std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

std::vector<uint8_t> TDigitizerSim::ReadMemory(uint32_t address, size_t count) const {
    std::lock_guard lock(mutex_);
    return boot_.Memory().Read(address, count);
}

void TDigitizerSim::WriteMemory(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    boot_.Memory().Write(address, bytes.data(), bytes.size());
}

void TDigitizerSim::SaveMemory() {
    if (!config_.MemoryPath.empty()) {
        boot_.Memory().Save(config_.MemoryPath, error_);
    }
}

void TDigitizerSim::Run() {
    while (!stop_) {
        // Only this thread replaces the device, so its descriptor can be read unlocked.
        pollfd fds[2] = {{pty_->Master(), POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const auto before = TClock::now();
        poll(fds, 2, static_cast<int>(Tick.count()));
        if (stop_) {
            break;
        }
        if (fds[1].revents != 0) {
            char drain[16];
            while (read(wake_[0], drain, sizeof drain) > 0) {
            }
        }
        if ((fds[0].revents & POLLIN) == 0 && fds[0].revents != 0) {
            // A hang-up or error reported at once: wait out the tick instead of spinning.
            std::this_thread::sleep_until(before + Tick);
        }
        std::lock_guard lock(mutex_);
        Step(TClock::now());
    }
}

void TDigitizerSim::Step(TClock::time_point now) {
    const auto elapsed = now - lastStep_;
    lastStep_ = now;
    if (TakeFault(TFaultKind::Reopen)) {
        RequestReopen(now);
    }
    if (reopenPending_ && (pty_->Unread() == 0 || now - reopenAskedAt_ >= DrainLimit)) {
        reopenPending_ = false;
        Reopen(now);
    }
    if (unplugged_ && now >= unpluggedUntil_) {
        PlugIn();
    }

    // Bytes that arrived since the last step were sent at the rate seen then or at the rate
    // seen now. The earlier one decides: a command written just before the program switched
    // the line away still counts, bytes written at a wrong rate just before it switched back
    // do not. Steps, not time, decide, so that a slow step on a busy machine changes nothing.
    const bool accepted = lastStepMatched_;
    const int lineBaud = pty_->LineBaud();
    if (lineBaud != lineBaud_) {
        Note("line " + std::to_string(lineBaud));
    }
    lineBaud_ = lineBaud;
    const bool match = lineBaud_ == ownBaud_;
    ReadInput(now, accepted);
    lastStepMatched_ = match;
    reader_.Expire(now);

    if (boot_.ReadyDue(now, std::chrono::milliseconds(config_.BootWaitMs))) {
        TOutputLine::TSegment ready;
        ready.Bytes.assign(ReadyLine.begin(), ReadyLine.end());
        output_.Append(std::move(ready));
        Note("ready");
    }
    if (boot_.WaitExpired(now)) {
        StartFirmware();
    }
    AdvanceClock(now);
    Transmit(now, elapsed, match);
}

void TDigitizerSim::AdvanceClock(TClock::time_point now) {
    // While the boot loader runs, the seconds pass without frames: the GPS clock goes on, and
    // the first frame afterwards tells the true time.
    while (boot_.Running() && now >= nextFrame_) {
        RunActions(firmware_.Seconds(), nextFrame_);
        firmware_.SkipSecond();
        nextFrame_ += FramePeriod();
    }
    if (boot_.Running() || now < nextFrame_ || output_.HasFrame()) {
        return;
    }
    RunActions(firmware_.Seconds(), nextFrame_);
    if (boot_.Running()) {
        firmware_.SkipSecond();  // switched off at this second
    } else {
        SendFrame();
    }
    nextFrame_ += FramePeriod();
    if (nextFrame_ < now) {
        nextFrame_ = now;  // the line is slower than the frames: no catching up
    }
}

void TDigitizerSim::RunActions(uint64_t second, TClock::time_point secondStart) {
    for (; nextAction_ < actions_.size() && actions_[nextAction_].At <= second; ++nextAction_) {
        const TScheduledAction& action = actions_[nextAction_];
        Note("action " + std::to_string(action.At) + " " + ActionText(action));
        switch (action.Kind) {
            case TActionKind::Rate:
                firmware_.SetRate(action.Value);
                break;
            case TActionKind::Channels:
                firmware_.SetChannels(static_cast<int>(action.Value));
                break;
            case TActionKind::Reopen:
                RequestReopen(secondStart);
                break;
            case TActionKind::Silence:
                // Exactly the frames of these seconds are left out, whatever the line's pace;
                // nothing else goes out in their time either.
                silentBefore_ = second + static_cast<uint64_t>(action.Value);
                silentUntil_ =
                    secondStart +
                    std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::duration<double>(std::min(
                            action.Value * FramePeriod().count() / 1e9, MaxSilenceSeconds)));
                break;
            case TActionKind::PowerCycle:
                DoPowerCycle(secondStart);
                break;
            case TActionKind::Supply:
                firmware_.HoldSupply(action.Value);
                break;
            case TActionKind::Temperature:
                firmware_.HoldTemperature(action.Value);
                break;
            case TActionKind::GpsFix:
                firmware_.SetGpsFix(action.Value != 0);
                break;
            case TActionKind::Calibration:
                firmware_.SetCalibration(static_cast<int>(action.Value));
                break;
        }
    }
}

void TDigitizerSim::ReadInput(TClock::time_point now, bool accepted) {
    uint8_t buffer[4096];
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t n = pty_->Read(buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        if (!accepted) {
            // At another line rate the unit receives garbage, which breaks any command.
            reader_.Reset();
            continue;
        }
        for (const TCommand& command : reader_.Feed(buffer, static_cast<size_t>(n), now)) {
            Dispatch(command, now);
        }
    }
}

void TDigitizerSim::Dispatch(const TCommand& command, TClock::time_point now) {
    if (log_.size() >= LogLimit) {
        log_.pop_front();
    }
    const size_t logged = std::min(command.Argument.size(), LoggedArgumentLimit);
    log_.push_back({command.Name, {command.Argument.begin(), command.Argument.begin() + logged}});
    Note("command " + command.Name);

    if (boot_.Running()) {
        std::vector<uint8_t> reply;
        const TBootLoader::TAction action = boot_.Handle(command, reply);
        if (action == TBootLoader::TAction::Ignored) {
            return;
        }
        SendEcho(std::move(reply), 0);
        if (action == TBootLoader::TAction::Reboot) {
            SaveMemory();
            boot_.Start(now, std::chrono::milliseconds(config_.RebootDelayMs));
        }
        return;
    }

    const TFirmware::TEffect effect = firmware_.Apply(command);
    if (effect.Reboot) {
        // The unit restarts: the rest of what it was sending is cut off after the echo.
        output_.Clear();
        CutFrames("reboot");
        SendEcho(EchoOf(command), ownBaud_ != BootLoaderBaud ? BootLoaderBaud : 0);
        SaveMemory();
        boot_.Start(now, std::chrono::milliseconds(config_.RebootDelayMs));
        return;
    }
    SendEcho(EchoOf(command), effect.SwitchBaud != ownBaud_ ? effect.SwitchBaud : 0);
}

void TDigitizerSim::SendEcho(std::vector<uint8_t> echo, int switchBaud) {
    const std::string name =
        echo.size() >= 3 ? std::string(echo.begin() + 1, echo.begin() + 3) : std::string();
    if (output_.Pending() > OutputLimit && switchBaud == 0) {
        Note("echo " + name + " dropped");
        return;
    }
    TOutputLine::TSegment segment;
    segment.SwitchBaud = switchBaud;
    const bool split = echo.size() >= 2 && TakeOrRollFault(TFaultKind::SplitEcho);
    // An echo goes out at once, between the bytes of a frame that has begun. A receiver takes
    // a whole echo out of the frame again; a split one stays in it and spoils it.
    if (!outgoing_.empty() && outgoing_.front().Left < outgoing_.front().Size) {
        TFrameTrace& frame = outgoing_.front();
        frame.EchoInside = true;
        if (split && frame.Damage.empty()) {
            frame.Damage = "split-echo";
        }
    }
    if (split) {
        Note("echo " + name + " split");
        const size_t cut = 1 + faultRng_() % std::min<size_t>(2, echo.size() - 1);
        TOutputLine::TSegment first;
        first.Bytes.assign(echo.begin(), echo.begin() + cut);
        first.PauseAfter = SplitEchoPause;
        output_.InsertEcho(std::move(first));
        segment.Bytes.assign(echo.begin() + cut, echo.end());
    } else {
        Note("echo " + name);
        segment.Bytes = std::move(echo);
    }
    output_.InsertEcho(std::move(segment));
}

void TDigitizerSim::SendFrame() {
    const bool silent = firmware_.Seconds() < silentBefore_;
    TWireFrame frame = firmware_.NextFrame(boot_.Memory().SerialNumber());
    if (!config_.Events.empty()) {
        const TFrameFacts& facts = firmware_.LastFrame();
        AddEvents(config_.Events, config_.Seed,
                  TEventFrame{firmware_.Seconds() - 1, facts.Time, facts.Rate, facts.Channels,
                              facts.BytesPerSample},
                  frame.Samples);
    }
    TFrameTrace trace;
    trace.BlockCount = frame.BlockCount;
    if (silent) {
        trace.Damage = "silence";
        trace.Facts = firmware_.LastFrame();
        ReportFrame(trace);
        return;
    }
    const bool plantAsked = TakeFault(TFaultKind::ModInSamples);
    if (plantAsked || RollFault(TFaultKind::ModInSamples)) {
        trace.TagInSamples = PlantInSamples(frame, "MOD");
        if (!trace.TagInSamples && plantAsked) {
            pendingFaults_.push_back(TFaultKind::ModInSamples);  // too few samples: the next frame
        }
    }
    std::vector<uint8_t> bytes = EncodeFrame(frame);
    // Damage lies behind the "MOD" tag, so the frame still begins where it did.
    if (TakeOrRollFault(TFaultKind::Corrupt)) {
        const size_t at = 3 + faultRng_() % (bytes.size() - 3);
        bytes[at] ^= static_cast<uint8_t>(1 + faultRng_() % 255);
        trace.Damage = "corrupt";
    }
    if (TakeOrRollFault(TFaultKind::Drop)) {
        bytes.erase(bytes.begin() + 3 + faultRng_() % (bytes.size() - 3));
        trace.Damage = trace.Damage.empty() ? "drop" : trace.Damage;
    }
    trace.Size = trace.Left = bytes.size();
    trace.Facts = firmware_.LastFrame();
    outgoing_.push_back(std::move(trace));
    TOutputLine::TSegment segment;
    segment.Bytes = std::move(bytes);
    segment.Kind = TOutputLine::TKind::Frame;
    output_.Append(std::move(segment));

    if (RollFault(TFaultKind::Silence)) {
        silentUntil_ = TClock::now() + config_.SilenceFrames * FramePeriod();
    }
    if (RollFault(TFaultKind::Reopen)) {
        pendingFaults_.push_back(TFaultKind::Reopen);
    }
}

void TDigitizerSim::Transmit(TClock::time_point now, std::chrono::nanoseconds elapsed, bool match) {
    if (reopenPending_) {
        return;  // the cable is being pulled: nothing more goes out on this device
    }
    const double bytesPerSecond = ownBaud_ / 10.0 * config_.Speed;
    const double seconds = std::chrono::duration<double>(elapsed).count();
    // No bursts after an idle spell: at most about four ticks' worth is saved up.
    allowance_ =
        std::min(allowance_ + seconds * bytesPerSecond,
                 std::max(1.0, bytesPerSecond * 4 * std::chrono::duration<double>(Tick).count()));
    if (!stalled_.empty()) {
        const ssize_t n = pty_->Write(stalled_.data(), stalled_.size());
        stalled_.erase(stalled_.begin(), stalled_.begin() + std::max<ssize_t>(n, 0));
        if (!stalled_.empty()) {
            if (now - stalledSince_ < StallLimit) {
                return;  // the reader is behind: wait for it
            }
            // Nobody is reading (no program has the device open, or it stopped reading): the
            // bytes are lost, as on a real line, and so is whatever the device does not take
            // until it takes a whole chunk again. The line, and with it the unit's clock, runs
            // on at its pace.
            stalled_.clear();
            nobodyReads_ = true;
            SettleFrames("stall");
            if (!outgoing_.empty() && outgoing_.front().Left < outgoing_.front().Size) {
                outgoing_.front().Damage = "stall";
            }
        }
        SettleFrames(nullptr);
    }
    if (now < pauseUntil_ || allowance_ < 1) {
        return;
    }
    TOutputLine::TChunk chunk = output_.Take(static_cast<size_t>(allowance_));
    allowance_ -= static_cast<double>(chunk.Bytes.size());
    framesSent_ += chunk.FramesCompleted;
    const char* loss = unplugged_           ? "unplugged"
                       : now < silentUntil_ ? "silence"
                       : !match             ? "noise"
                                            : nullptr;
    bool dropped = false;
    if (!chunk.Bytes.empty() && now >= silentUntil_ && !unplugged_) {
        if (!match) {
            // Read at another rate the bytes turn into noise; it never holds an "M", so it
            // cannot hold a frame start either.
            for (uint8_t& b : chunk.Bytes) {
                b = static_cast<uint8_t>(noiseRng_());
                b = b == 'M' ? 'N' : b;
            }
        }
        const ssize_t n = pty_->Write(chunk.Bytes.data(), chunk.Bytes.size());
        const size_t written = static_cast<size_t>(std::max<ssize_t>(n, 0));
        if (written == chunk.Bytes.size()) {
            nobodyReads_ = false;
        } else if (nobodyReads_) {
            dropped = true;
        } else {
            stalled_.assign(chunk.Bytes.begin() + static_cast<long>(written), chunk.Bytes.end());
            stalledSince_ = now;
        }
    }
    TrackFrames(chunk.FrameBytes, loss != nullptr ? loss : dropped ? "stall" : nullptr);
    if (stalled_.empty()) {
        SettleFrames(nullptr);
    }
    if (chunk.Pause.count() > 0) {
        pauseUntil_ = now + chunk.Pause;
    }
    if (chunk.SwitchBaud != 0) {
        ownBaud_ = chunk.SwitchBaud;
        if (!boot_.Running()) {
            firmware_.SetBaud(chunk.SwitchBaud);
        }
    }
}

void TDigitizerSim::DoPowerCycle(TClock::time_point now) {
    SaveMemory();
    Note("power-cycle");
    output_.Clear();
    CutFrames("power-cycle");
    stalled_.clear();
    SettleFrames("power-cycle");
    reader_.Reset();
    pauseUntil_ = {};
    silentUntil_ = {};
    silentBefore_ = 0;
    ownBaud_ = BootLoaderBaud;
    boot_.Start(now, std::chrono::milliseconds(config_.PowerUpDelayMs));
}

// The frame clock ran on through the boot loader: the next frame is its next second's.
void TDigitizerSim::StartFirmware() {
    firmware_.LoadRom();
    ownBaud_ = firmware_.Settings().Baud;
    Note("firmware");
}

void TDigitizerSim::RequestReopen(TClock::time_point now) {
    if (!reopenPending_ && !unplugged_) {
        reopenPending_ = true;
        reopenAskedAt_ = now;
    }
}

void TDigitizerSim::Reopen(TClock::time_point now) {
    if (unplugged_) {
        return;  // the cable is out already
    }
    // The new device is opened before the old one closes, so it gets a path of its own; it
    // stays unknown (and the link gone) until the cable is back, and carries nothing a
    // program could read until one opens it at its rate.
    auto fresh = std::make_unique<TPtyDevice>();
    std::string error;
    if (!fresh->Open(UnusedBaud, error)) {
        error_ = error;
        return;
    }
    if (!config_.LinkPath.empty()) {
        RemoveLink(config_.LinkPath, pty_->Path());
    }
    pty_ = std::move(fresh);
    unplugged_ = true;
    unpluggedUntil_ = now + std::chrono::milliseconds(config_.UnplugMs);
    Note("unplugged");
    reader_.Reset();
    stalled_.clear();
    SettleFrames("reopen");
    if (!outgoing_.empty() && outgoing_.front().Left < outgoing_.front().Size) {
        outgoing_.front().Damage = "reopen";
    }
}

void TDigitizerSim::PlugIn() {
    unplugged_ = false;
    std::string error;
    if (!config_.LinkPath.empty() && !PlaceLink(config_.LinkPath, pty_->Path(), error)) {
        error_ = error;
    }
    Note("device " + pty_->Path());
}

bool TDigitizerSim::TakeFault(TFaultKind kind) {
    const auto at = std::find(pendingFaults_.begin(), pendingFaults_.end(), kind);
    if (at == pendingFaults_.end()) {
        return false;
    }
    pendingFaults_.erase(at);
    return true;
}

bool TDigitizerSim::RollFault(TFaultKind kind) {
    for (const TFaultRate& fault : config_.Faults) {
        if (fault.Kind == kind &&
            std::uniform_real_distribution<double>(0, 1)(faultRng_) < fault.Rate) {
            return true;
        }
    }
    return false;
}

std::chrono::nanoseconds TDigitizerSim::FramePeriod() const {
    const double speed = config_.Speed > 0 ? config_.Speed : 1;
    return std::chrono::nanoseconds(static_cast<int64_t>(1e9 / speed));
}

void TDigitizerSim::Note(const std::string& text) {
    journal_.Write(text);
}

void TDigitizerSim::TrackFrames(size_t frameBytes, const char* loss) {
    while (frameBytes > 0 && !outgoing_.empty()) {
        TFrameTrace& frame = outgoing_.front();
        const size_t n = std::min(frameBytes, frame.Left);
        frame.Left -= n;
        frameBytes -= n;
        if (loss != nullptr && n > 0 && frame.Damage.empty()) {
            frame.Damage = loss;
        }
        if (frame.Left > 0) {
            break;
        }
        stalledFrames_.push_back(std::move(frame));
        outgoing_.pop_front();
    }
}

void TDigitizerSim::SettleFrames(const char* loss) {
    for (TFrameTrace& frame : stalledFrames_) {
        if (loss != nullptr && frame.Damage.empty()) {
            frame.Damage = loss;
        }
        ReportFrame(frame);
    }
    stalledFrames_.clear();
}

void TDigitizerSim::CutFrames(const char* why) {
    for (TFrameTrace& frame : outgoing_) {
        if (frame.Damage.empty()) {
            frame.Damage = why;
        }
        ReportFrame(frame);
    }
    outgoing_.clear();
}

void TDigitizerSim::ReportFrame(const TFrameTrace& frame) {
    if (!journal_.IsOpen()) {
        return;
    }
    std::string line = "frame " + std::to_string(frame.BlockCount);
    line += frame.Damage.empty() ? " intact" : " damaged " + frame.Damage;
    if (frame.TagInSamples) {
        line += " tag-in-samples";
    }
    if (frame.EchoInside) {
        line += " echo-inside";
    }
    const TFrameFacts& facts = frame.Facts;
    line += " time " + std::to_string(facts.Time) + " channels " + std::to_string(facts.Channels) +
            " rate " + NumberText(facts.Rate) + " samples " + std::to_string(facts.Samples) +
            " first ";
    for (int c = 0; c < facts.Channels; ++c) {
        if (c > 0) {
            line += ',';
        }
        line += std::to_string(facts.First[c]);
    }
    line += " bytes " + std::to_string(facts.BytesPerSample);
    Note(line);
}
