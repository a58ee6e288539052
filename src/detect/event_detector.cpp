#include "detect/event_detector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "calendar/calendar.h"
#include "digitizer/stream_format.h"

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// A block's time may differ from the one its predecessor leads to by rounding only: its time
// is a whole second, and the samples before it fill whole seconds.
constexpr double TimeTolerance = 0.5;

}  // namespace

TSampleTime SampleTimeOf(int64_t blockTime, int64_t sample, double sampleRate) {
    const double offset = sampleRate > 0 ? static_cast<double>(sample) / sampleRate : 0;
    const double whole = std::floor(offset);
    int64_t nanoseconds = std::llround((offset - whole) * 1e9);
    int64_t seconds = blockTime + static_cast<int64_t>(whole);
    if (nanoseconds >= 1000000000) {
        nanoseconds -= 1000000000;
        ++seconds;
    }
    return TSampleTime{seconds, static_cast<int32_t>(nanoseconds)};
}

double SecondsBetween(const TSampleTime& from, const TSampleTime& to) {
    return static_cast<double>(to.Seconds - from.Seconds) +
           (to.Nanoseconds - from.Nanoseconds) * 1e-9;
}

std::string FormatSampleTime(const TSampleTime& time) {
    const TCivilTime c = CivilTimeOf(time.Seconds);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%06dZ",
                  static_cast<long long>(c.Year), c.Month, c.Day, c.Hour, c.Minute, c.Second,
                  time.Nanoseconds / 1000);
    return text;
}

bool AtFullScale(int32_t raw, int bytesPerSample) {
    if (bytesPerSample >= 4) {
        return raw >= (1 << 23) - 1 || raw <= -(1 << 23);
    }
    const int shift = 32 - 8 * std::max(bytesPerSample, 1);
    const int32_t top = static_cast<int32_t>(
        static_cast<uint32_t>(std::numeric_limits<int32_t>::max() >> shift) << shift);
    return raw >= top || raw == std::numeric_limits<int32_t>::min();
}

bool TEvent::Clipped() const {
    return std::any_of(Channels.begin(), Channels.end(),
                       [](const TEventChannel& c) { return c.Clipped; });
}

std::vector<int> TEvent::TriggeredChannels() const {
    std::vector<int> triggered;
    for (const TEventChannel& c : Channels) {
        if (c.Triggered) {
            triggered.push_back(c.Channel);
        }
    }
    return triggered;
}

TResult<TEventDetector> TEventDetector::Make(const TDetectorSettings& settings) {
    if (TStatus valid = ValidateDetectorSettings(settings); !valid) {
        return valid.Error();
    }
    return TEventDetector(settings);
}

TEventDetector::TEventDetector(const TDetectorSettings& settings) : settings_(settings) {}

void TEventDetector::EndEvent(const TSampleTime& at, bool cut, TDetectorNews& news) {
    event_.End = at;
    event_.Cut = cut;
    event_.PeakRatio = 0;
    for (size_t i = 0; i < event_.Channels.size() && i < channels_.size(); ++i) {
        TEventChannel& c = event_.Channels[i];
        c.PeakVolts = c.PeakCounts * channels_[i].MicrovoltsPerCount * 1e-6;
        if (c.Triggered) {
            event_.PeakRatio = std::max(event_.PeakRatio, c.PeakRatio);
        }
    }
    news.Events.push_back(TEventNews{TEventNews::TKind::Ended, event_});
    inEvent_ = false;
    quiet_ = false;
}

TDetectorNews TEventDetector::EndHeld() {
    TDetectorNews news;
    if (inEvent_ && quiet_) {
        EndEvent(quietSince_, false, news);
    }
    return news;
}

void TEventDetector::SetCalibration(bool on) {
    if (calibrating_ && !on) {
        calibrationAfter_ = settings_.LtaSeconds;
    }
    calibrating_ = on;
}

void TEventDetector::Restart(const TRecordBlock& block, int32_t gainBits, TDetectorNews& news) {
    if (inEvent_) {
        // An event in its hold ended where its triggers did.
        EndEvent(quiet_ ? quietSince_ : SampleTimeOf(refTime_, refSamples_, rate_), !quiet_, news);
    }
    haveFormat_ = true;
    rate_ = block.SampleRate;
    channelCount_ = block.ChannelCount;
    bytesPerSample_ = block.BytesPerSample;
    gainBits_ = gainBits;
    refTime_ = block.Time;
    refSamples_ = 0;
    channels_.clear();
    idle_.clear();
    active_ = false;

    std::vector<TBiquad> sections;
    if (settings_.BandpassOn) {
        auto design = DesignBandpass(settings_.Band, rate_);
        if (!design) {
            idle_ = design.Error().Text;
            return;
        }
        sections = *design;
    }
    const double countRaw = bytesPerSample_ >= 4 ? 1 : 256;  // a count as a raw sample word
    for (int c = 0; c < std::min(channelCount_, MaxChannels); ++c) {
        if ((settings_.Channels >> c & 1u) == 0) {
            continue;
        }
        TChannel channel;
        channel.Index = c;
        channel.Filter = TBandpassFilter(sections);
        channel.Trigger = TStaLta(settings_.StaSeconds * rate_, settings_.LtaSeconds * rate_);
        channel.MicrovoltsPerCount =
            SampleToMicrovolts(static_cast<int32_t>(countRaw), GainFactorOf(gainBits, c));
        channels_.push_back(std::move(channel));
    }
    if (static_cast<int>(channels_.size()) < settings_.Coincidence) {
        idle_ = std::to_string(settings_.Coincidence) +
                " channels must trigger together, the blocks carry " +
                std::to_string(channels_.size()) + " of those chosen";
    }
    active_ = true;
}

TDetectorNews TEventDetector::Take(const TRecordBlock& block, int32_t gainBits) {
    TDetectorNews news;
    const int carried = std::clamp(block.ChannelCount, 0, MaxChannels);
    size_t n = 0;
    for (int c = 0; c < carried; ++c) {
        const size_t size = block.Samples[static_cast<size_t>(c)].size();
        n = c == 0 ? size : std::min(n, size);
    }
    if (n == 0 || !(block.SampleRate > 0) || !std::isfinite(block.SampleRate)) {
        return news;
    }

    // The gains of the channels taking part: a change of another's does not matter.
    const uint32_t gainMask = settings_.Channels & ((1u << carried) - 1);
    if (!haveFormat_) {
        Restart(block, gainBits, news);
    } else if (block.SampleRate != rate_) {
        news.Restart = "the sample rate changed from " + Number(rate_) + " to " +
                       Number(block.SampleRate) + " samples per second";
    } else if (block.ChannelCount != channelCount_) {
        news.Restart = "the channels changed from " + std::to_string(channelCount_) + " to " +
                       std::to_string(block.ChannelCount);
    } else if (block.BytesPerSample != bytesPerSample_) {
        news.Restart = "the sample width changed from " + std::to_string(bytesPerSample_) + " to " +
                       std::to_string(block.BytesPerSample) + " bytes";
    } else if ((static_cast<uint32_t>(gainBits) & gainMask) !=
               (static_cast<uint32_t>(gainBits_) & gainMask)) {
        news.Restart = "a channel's gain changed";
    }
    size_t fill = 0;
    if (news.Restart.empty() && haveFormat_) {
        const double expected =
            static_cast<double>(refTime_) + static_cast<double>(refSamples_) / rate_;
        const double step = static_cast<double>(block.Time) - expected;
        if (step > BridgeSeconds + TimeTolerance) {
            news.Restart = "a gap of " + Number(step) + " s in the blocks' times";
        } else if (step > TimeTolerance) {
            news.Bridged = step;
            fill = static_cast<size_t>(std::llround(step * rate_));
        } else if (step < -TimeTolerance) {
            news.Restart = "the blocks' time went back by " + Number(-step) + " s";
        }
    }
    if (!news.Restart.empty()) {
        Restart(block, gainBits, news);
    }
    if (!active_) {
        return news;
    }
    if (fill > 0) {
        // The times go on from the block's own.
        refTime_ = block.Time;
        refSamples_ = 0;
    }
    Detect(block, fill, n, news);
    refSamples_ += static_cast<int64_t>(n);

    for (const TChannel& ch : channels_) {
        news.Ratios.push_back(
            TChannelRatio{ch.Index, ch.Trigger.Ratio(), ch.BlockPeak, ch.Trigger.Ready(), ch.On});
    }
    return news;
}

bool TEventDetector::CalibrationSignal(size_t k) const {
    if (channels_.size() < 2) {
        return false;
    }
    return std::all_of(channels_.begin() + 1, channels_.end(),
                       [k](const TChannel& ch) { return ch.Alike[k] <= CalibrationLikeness; });
}

void TEventDetector::Detect(const TRecordBlock& block, size_t fill, size_t n, TDetectorNews& news) {
    // Sample k of the series is the block's sample k - fill: the bridged ones come first.
    const size_t total = fill + n;
    const auto timeOf = [&](size_t k) {
        return SampleTimeOf(block.Time, static_cast<int64_t>(k) - static_cast<int64_t>(fill),
                            rate_);
    };

    // Each channel's band-passed series, ratios and trigger state over the block. Over the
    // bridged samples the filter runs on the channel's last value; the averages and the
    // trigger stay as they were.
    const bool filter = settings_.BandpassOn;
    const double staLength = std::max(1.0, settings_.StaSeconds * rate_);
    const double ltaLength = std::max(1.0, settings_.LtaSeconds * rate_);
    for (TChannel& ch : channels_) {
        const TChannel& first = channels_.front();
        const std::vector<int32_t>& raw = block.Samples[static_cast<size_t>(ch.Index)];
        ch.Filtered.assign(total, 0);
        ch.Ratios.assign(total, ch.Trigger.Ratio());
        ch.OnAt.assign(total, ch.On ? 1 : 0);
        ch.ClipAt.assign(total, 0);
        ch.Excess.assign(total, ch.Trigger.Sta() - ch.Trigger.Lta());
        ch.Alike.assign(total, 1);
        ch.BlockPeak = 0;
        if (filter) {
            for (size_t k = 0; k < fill; ++k) {
                ch.Filter.Step(ch.Last);
            }
        }
        for (size_t k = fill; k < total; ++k) {
            const int32_t word = raw[k - fill];
            const double x = CountScale(word, bytesPerSample_);
            if (ch.Fresh) {
                ch.Filter.Settle(x);
                ch.Fresh = false;
            }
            ch.Last = x;
            const double y = filter ? ch.Filter.Step(x) : x;
            const double ratio = ch.Trigger.Step(y);
            if (!ch.Trigger.Ready()) {
                ch.On = false;
            } else if (!ch.On && ratio >= settings_.TriggerOn) {
                ch.On = true;
                ch.OnSince = timeOf(k);
            } else if (ch.On && ratio < settings_.TriggerOff) {
                ch.On = false;
            }
            ch.Filtered[k] = y;
            ch.Ratios[k] = ratio;
            ch.OnAt[k] = ch.On ? 1 : 0;
            ch.ClipAt[k] = AtFullScale(word, bytesPerSample_) ? 1 : 0;
            ch.Excess[k] = ch.Trigger.Sta() - ch.Trigger.Lta();
            if (&ch != &first) {
                const double d = y - first.Filtered[k];
                ch.Unlike += (d * d - ch.Unlike) / staLength;
                ch.UnlikeLong += (d * d - ch.UnlikeLong) / ltaLength;
                const double gained = ch.Excess[k] + first.Excess[k];
                ch.Alike[k] = gained > 0 ? (ch.Unlike - ch.UnlikeLong) / gained : 1;
            }
            ch.BlockPeak = std::max(ch.BlockPeak, ratio);
        }
    }
    if (!idle_.empty()) {
        return;
    }

    // The coincidence, sample by sample.
    const double hold = std::round(settings_.HoldSeconds * rate_);
    for (size_t k = 0; k < total; ++k) {
        const bool calibration = Calibrating();
        if (!calibrating_ && calibrationAfter_ > 0) {
            calibrationAfter_ -= 1 / rate_;
        }
        int on = 0;
        for (const TChannel& ch : channels_) {
            on += ch.OnAt[k];
        }
        if (!inEvent_ && on >= settings_.Coincidence) {
            const TSampleTime at = timeOf(k);
            event_ = TEvent{};
            event_.Id = nextId_++;
            event_.Start = at;
            event_.Coincidence = at;
            event_.SampleRate = rate_;
            event_.PeakFilter =
                settings_.BandpassOn
                    ? "band-passed " + Number(settings_.Band.LowHz) + "-" +
                          Number(std::min(settings_.Band.HighHz, HighestCorner(rate_))) + " Hz (" +
                          std::to_string(settings_.Band.Poles) + " poles)"
                    : "raw";
            for (const TChannel& ch : channels_) {
                TEventChannel c;
                c.Channel = ch.Index;
                c.Triggered = ch.OnAt[k] != 0;
                c.FirstTrigger = c.Triggered ? ch.OnSince : TSampleTime{};
                c.PeakRatio = ch.Ratios[k];
                if (c.Triggered) {
                    event_.Start = std::min(event_.Start, c.FirstTrigger);
                }
                event_.Channels.push_back(c);
            }
            event_.Calibration = calibration || CalibrationSignal(k);
            if (event_.Calibration && !calibration) {
                calibrationAfter_ = settings_.LtaSeconds;  // its switch-off too
            }
            news.Events.push_back(TEventNews{TEventNews::TKind::Started, event_});
            inEvent_ = true;
            quiet_ = false;
        } else if (inEvent_ && on >= settings_.Coincidence) {
            quiet_ = false;
        } else if (inEvent_ && !quiet_) {
            quiet_ = true;
            quietSince_ = timeOf(k);
            quietSamples_ = 0;
        }
        if (inEvent_ && quiet_ && static_cast<double>(quietSamples_++) >= hold) {
            EndEvent(quietSince_, false, news);
        }
        if (inEvent_) {
            event_.Calibration = event_.Calibration || calibration;
            if (k < fill) {
                continue;  // nothing was measured
            }
            for (size_t i = 0; i < channels_.size(); ++i) {
                const TChannel& ch = channels_[i];
                TEventChannel& c = event_.Channels[i];
                c.PeakCounts = std::max(c.PeakCounts, std::fabs(ch.Filtered[k]));
                c.PeakRatio = std::max(c.PeakRatio, ch.Ratios[k]);
                c.Clipped = c.Clipped || ch.ClipAt[k] != 0;
                if (ch.OnAt[k] != 0 && !c.Triggered) {
                    c.Triggered = true;
                    c.FirstTrigger = ch.OnSince;
                }
            }
        }
    }
}
