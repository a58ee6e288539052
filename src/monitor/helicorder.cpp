#include "monitor/helicorder.h"

#include <algorithm>
#include <cmath>

namespace {

// A block whose time is off from where the previous one ended by more than this starts the
// band-pass afresh.
constexpr double TimeTolerance = 0.5;
// A step back in the blocks' times by more than this (a clock set right after a day of wrong
// times) empties every slot; a smaller one merges the samples into the slots they fall in.
constexpr double LongestStepBack = 3600;

int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

size_t RingIndex(int64_t slot) {
    const auto count = static_cast<int64_t>(THelicorder::SlotCount);
    return static_cast<size_t>(((slot % count) + count) % count);
}

}  // namespace

THelicorder::THelicorder(const TBandpassDesign& band) : band_(band) {}

void THelicorder::SetBand(const TBandpassDesign& band) {
    band_ = band;
    haveFormat_ = false;  // designed again, and settled, at the next block
}

int64_t THelicorder::SlotOf(int64_t seconds, int32_t nanoseconds) {
    return seconds * SlotsPerSecond +
           static_cast<int64_t>(nanoseconds) * SlotsPerSecond / 1000000000;
}

void THelicorder::Restart(const TRecordBlock& block) {
    haveFormat_ = true;
    rate_ = block.SampleRate;
    channelCount_ = block.ChannelCount;
    bytesPerSample_ = block.BytesPerSample;
    auto sections = DesignBandpass(band_, rate_);
    filterOk_ = sections.Ok();
    for (TChannel& channel : channels_) {
        channel.Filter = filterOk_ ? TBandpassFilter(*sections) : TBandpassFilter();
        channel.Fresh = true;
    }
}

void THelicorder::Advance(int64_t slot) {
    if (slot <= newest_) {
        return;
    }
    const int64_t steps = newest_ < 0 ? static_cast<int64_t>(SlotCount) : slot - newest_;
    for (TChannel& channel : channels_) {
        if (channel.Raw.empty()) {
            continue;
        }
        if (steps >= static_cast<int64_t>(SlotCount)) {
            std::fill(channel.Raw.begin(), channel.Raw.end(), TRange{});
            std::fill(channel.Filtered.begin(), channel.Filtered.end(), TRange{});
            continue;
        }
        for (int64_t s = newest_ + 1; s <= slot; ++s) {
            channel.Raw[RingIndex(s)] = TRange{};
            channel.Filtered[RingIndex(s)] = TRange{};
        }
    }
    newest_ = slot;
}

void THelicorder::Take(const TRecordBlock& block) {
    const int carried = std::clamp(block.ChannelCount, 0, MaxChannels);
    if (!block.HasSamples() || !(block.SampleRate > 0) || !std::isfinite(block.SampleRate)) {
        return;
    }
    const double time = static_cast<double>(block.Time);
    if (!haveFormat_ || block.SampleRate != rate_ || block.ChannelCount != channelCount_ ||
        block.BytesPerSample != bytesPerSample_ || std::fabs(time - nextTime_) > TimeTolerance) {
        if (haveFormat_ && time < nextTime_ - LongestStepBack) {
            Clear();
        }
        Restart(block);
    }
    size_t n = 0;
    for (int c = 0; c < carried; ++c) {
        n = std::max(n, block.Samples[static_cast<size_t>(c)].size());
    }
    nextTime_ = time + static_cast<double>(n) / rate_;
    const int64_t base = block.Time * SlotsPerSecond;
    const double slotsPerSample = SlotsPerSecond / rate_;
    // The newest slot first, so that the ring holds the block's whole span.
    Advance(base + static_cast<int64_t>(std::floor(static_cast<double>(n - 1) * slotsPerSample)));
    const int64_t oldest = OldestSlot();

    for (int c = 0; c < carried; ++c) {
        TChannel& channel = channels_[static_cast<size_t>(c)];
        const std::vector<int32_t>& samples = block.Samples[static_cast<size_t>(c)];
        if (samples.empty()) {
            continue;
        }
        if (channel.Raw.empty()) {
            channel.Raw.assign(SlotCount, TRange{});
            channel.Filtered.assign(SlotCount, TRange{});
        }
        for (size_t j = 0; j < samples.size(); ++j) {
            const double counts = CountScale(samples[j], block.BytesPerSample);
            double filtered = 0;
            if (filterOk_) {
                if (channel.Fresh) {
                    channel.Filter.Settle(counts);
                    channel.Fresh = false;
                }
                filtered = channel.Filter.Step(counts);
            }
            const int64_t slot =
                base + static_cast<int64_t>(std::floor(static_cast<double>(j) * slotsPerSample));
            if (slot < oldest) {
                continue;
            }
            const size_t at = RingIndex(slot);
            channel.Raw[at].Take(static_cast<float>(counts));
            if (filterOk_) {
                channel.Filtered[at].Take(static_cast<float>(filtered));
            }
        }
    }
}

THelicorder::TRange THelicorder::Range(int channel, TSeries series, int64_t from,
                                       int64_t to) const {
    TRange range;
    if (channel < 0 || channel >= MaxChannels || newest_ < 0) {
        return range;
    }
    const TChannel& ch = channels_[static_cast<size_t>(channel)];
    const std::vector<TRange>& slots = series == TSeries::Raw ? ch.Raw : ch.Filtered;
    if (slots.empty()) {
        return range;
    }
    from = std::max(from, OldestSlot());
    to = std::min(to, newest_ + 1);
    for (int64_t s = from; s < to; ++s) {
        range.Take(slots[RingIndex(s)]);
    }
    return range;
}

double THelicorder::Centre(int channel, TSeries series, int64_t from, int64_t to) const {
    if (channel < 0 || channel >= MaxChannels || newest_ < 0) {
        return 0;
    }
    const TChannel& ch = channels_[static_cast<size_t>(channel)];
    const std::vector<TRange>& slots = series == TSeries::Raw ? ch.Raw : ch.Filtered;
    if (slots.empty()) {
        return 0;
    }
    from = std::max(from, OldestSlot());
    to = std::min(to, newest_ + 1);
    double sum = 0;
    int64_t count = 0;
    for (int64_t s = from; s < to; ++s) {
        const TRange& r = slots[RingIndex(s)];
        if (!r.Empty()) {
            sum += (static_cast<double>(r.Min) + r.Max) / 2;
            ++count;
        }
    }
    return count > 0 ? sum / static_cast<double>(count) : 0;
}

double THelicorder::MedianSpan(int channel, TSeries series, int64_t from, int64_t to) const {
    if (channel < 0 || channel >= MaxChannels || newest_ < 0) {
        return 0;
    }
    const TChannel& ch = channels_[static_cast<size_t>(channel)];
    const std::vector<TRange>& slots = series == TSeries::Raw ? ch.Raw : ch.Filtered;
    if (slots.empty()) {
        return 0;
    }
    from = std::max(from, OldestSlot());
    to = std::min(to, newest_ + 1);
    std::vector<float> spans;
    spans.reserve(static_cast<size_t>(std::max<int64_t>(to - from, 0)));
    for (int64_t s = from; s < to; ++s) {
        const TRange& r = slots[RingIndex(s)];
        if (!r.Empty()) {
            spans.push_back(r.Max - r.Min);
        }
    }
    if (spans.empty()) {
        return 0;
    }
    const auto middle = spans.begin() + static_cast<std::ptrdiff_t>(spans.size() / 2);
    std::nth_element(spans.begin(), middle, spans.end());
    return *middle;
}

size_t THelicorder::Bytes() const {
    size_t bytes = 0;
    for (const TChannel& channel : channels_) {
        bytes += (channel.Raw.capacity() + channel.Filtered.capacity()) * sizeof(TRange);
    }
    return bytes;
}

void THelicorder::Clear() {
    for (TChannel& channel : channels_) {
        std::vector<TRange>().swap(channel.Raw);  // the memory goes, not only the values
        std::vector<TRange>().swap(channel.Filtered);
        channel.Fresh = true;
    }
    newest_ = -1;
    haveFormat_ = false;
}

int THelicorderRows::RowOf(int64_t second) const {
    if (second < FirstStart) {
        return -1;
    }
    return static_cast<int>(std::min<int64_t>((second - FirstStart) / RowSeconds, Count));
}

THelicorderRows HelicorderRows(int64_t newestSecond, int hours, int rowMinutes) {
    THelicorderRows rows;
    rows.RowSeconds = std::max(1, rowMinutes) * 60;
    rows.Count = std::max(1, hours * 3600 / rows.RowSeconds);
    const int64_t last = FloorDiv(newestSecond, rows.RowSeconds) * rows.RowSeconds;
    rows.FirstStart = last - static_cast<int64_t>(rows.Count - 1) * rows.RowSeconds;
    return rows;
}

double HelicorderHalfRowCounts(double medianSpan) {
    if (!(medianSpan > 0)) {
        return 8388608;
    }
    const double exponent = std::round(std::log2(4 * medianSpan));
    return std::exp2(std::clamp(exponent, 4.0, 23.0));
}
