// The time of each block as the station service gives it to the recorder. From the unit's GPS
// when a block carries a valid GPS date and time (its time plus the blocks since, as the
// window reckons it); otherwise the data runs on from the previous block by the difference
// of the unit's block counts, so that lost frames leave a gap of their length and a step of
// the computer's clock moves nothing; only a block that does not follow (the first one, a
// unit that started counting again) takes the computer's UTC clock.
#pragma once

#include <cstdint>
#include <functional>

#include "digitizer/data_block.h"

struct TBlockTiming {
    int64_t Time = 0;     // UTC seconds of the block's first sample
    bool Locked = false;  // from the unit's GPS with a valid fix
};

class TBlockClock {
  public:
    using TNow = std::function<int64_t()>;  // the computer's UTC clock, in seconds

    static constexpr uint32_t LongestRunOn = 86400;  // blocks counted across a silence

    explicit TBlockClock(TNow now);

    TBlockTiming Next(const TBlockHeader& header, const TGpsInfo& gps);

  private:
    TNow now_;
    bool have_ = false;
    int64_t last_ = 0;
    uint32_t lastCount_ = 0;
};

// The computer's UTC clock in whole seconds.
int64_t SystemUtcSeconds();
