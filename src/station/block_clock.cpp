#include "station/block_clock.h"

#include <chrono>

TBlockClock::TBlockClock(TNow now) : now_(std::move(now)) {}

TBlockTiming TBlockClock::Next(const TBlockHeader& header, const TGpsInfo& gps) {
    TBlockTiming timing;
    if (const std::optional<int64_t> fix = GpsTimeOf(gps)) {
        timing.Time = *fix + int32_t(header.BlockCount - uint32_t(header.LastValidGpsBlock));
        timing.Locked = gps.FixValid != 0;
    } else {
        const uint32_t step = header.BlockCount - lastCount_;
        timing.Time = have_ && step >= 1 && step <= LongestRunOn ? last_ + step : now_();
    }
    have_ = true;
    last_ = timing.Time;
    lastCount_ = header.BlockCount;
    return timing;
}

int64_t SystemUtcSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
