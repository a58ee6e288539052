#include "recording/block_intake.h"

#include <algorithm>
#include <chrono>

TBlockIntake::TBlockIntake(TUtcClock now) : now_(std::move(now)) {}

TIntakeBlock TBlockIntake::Take(const TDataBlock& block, int32_t baudRate) {
    const TBlockHeader& header = *block.Header;
    TIntakeBlock taken;
    taken.Format = StreamFormatOf(header, baudRate);
    taken.SamplesPerBlock = static_cast<int>(
        ::SamplesPerBlock(block.Samples->DatLength, header.BytesPerSample,
                          static_cast<uint32_t>(std::max(taken.Format.ChannelCount, 0))));
    taken.FormatChanged = !(taken.Format == previous_);
    taken.BaudChanged = previous_.BaudRate != 0 && previous_.BaudRate != taken.Format.BaudRate;

    taken.Record =
        MakeRecordBlock(block, 0, false, taken.Format.ChannelCount, taken.Format.SampleRate,
                        taken.Format.BytesPerSample, taken.SamplesPerBlock);
    const TTiming timing = TimeOf(header, *block.Gps, taken.Record.SerialNumber);
    taken.Record.Time = timing.Time;
    taken.Record.ClockLocked = timing.Locked;
    taken.Gap = have_ && timing.Time != lastTime_ + 1;
    taken.FramesLost = timing.Follows ? timing.Step - 1 : 0;
    taken.CountRestarted = timing.Restarted;

    have_ = true;
    lastTime_ = timing.Time;
    lastCount_ = header.BlockCount;
    lastSerial_ = taken.Record.SerialNumber;
    format_ = previous_ = taken.Format;
    samplesPerBlock_ = taken.SamplesPerBlock;
    return taken;
}

TBlockIntake::TTiming TBlockIntake::TimeOf(const TBlockHeader& header, const TGpsInfo& gps,
                                           const std::string& serial) {
    TTiming timing;
    timing.Step = header.BlockCount - lastCount_;
    timing.Follows =
        have_ && serial == lastSerial_ && timing.Step >= 1 && timing.Step <= LongestRunOn;
    timing.Restarted = have_ && serial == lastSerial_ && int32_t(timing.Step) <= 0;
    if (const std::optional<int64_t> fix = GpsTimeOf(gps)) {
        timing.Time = *fix + int32_t(header.BlockCount - uint32_t(header.LastValidGpsBlock));
        timing.Locked = gps.FixValid != 0;
    } else {
        timing.Time = timing.Follows ? lastTime_ + timing.Step : now_();
    }
    return timing;
}

void TBlockIntake::Restart() {
    format_ = TStreamFormat{};
    samplesPerBlock_ = 0;
}

int64_t SystemUtcSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
