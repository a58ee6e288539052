#include "recording/live_records.h"

#include <algorithm>

#include "recording/stream_codes.h"

TLiveRecords::TLiveRecords(TLiveSettings settings, TSink sink)
    : settings_(std::move(settings)), sink_(std::move(sink)) {}

void TLiveRecords::Configure(const TLiveSettings& settings) {
    if (settings == settings_) {
        return;
    }
    EndAll();
    settings_ = settings;
    format_.reset();
    haveLast_ = false;
}

TLiveRecords::TStream& TLiveRecords::StreamFor(const std::string& station, const TStreamCode& code,
                                               bool soh) {
    TSeedCodes codes{station, code.Location, settings_.Network, code.Channel};
    const std::string id =
        codes.Network + "." + codes.Station + "." + codes.Location + "." + codes.Channel;
    auto [it, added] = streams_.try_emplace(id);
    if (added) {
        it->second.Codes = std::move(codes);
        it->second.Soh = soh;
    }
    return it->second;
}

void TLiveRecords::Take(const TRecordBlock& block) {
    const TFormat format{block.ChannelCount, block.SampleRate, block.BytesPerSample,
                         StationCodeOf(settings_.Station, block.SerialNumber)};
    const bool continues = haveLast_ && block.Time == lastTime_ + 1;
    if (!continues || (format_ && format_->Station != format.Station)) {
        EndAll();
    } else if (format_ && !(*format_ == format)) {
        // A new rate or channel set: the data series end, the state of health runs on.
        for (auto& entry : streams_) {
            if (!entry.second.Soh) {
                EndSeries(entry.second);
            }
        }
    }
    if (!haveLast_) {
        lastFlush_ = block.Time;
    }
    haveLast_ = true;
    lastTime_ = block.Time;
    format_ = format;

    const uint8_t flags = block.ClockLocked ? SeedClockLocked : 0;
    const int quality = TimingQualityOf(block);
    std::vector<const TStream*> fed;
    if (block.HasSamples() && block.SampleRate > 0) {
        const std::vector<TStreamCode> codes = DataStreamCodes(
            settings_.ChannelCodes, settings_.Location, block.ChannelCount, block.SampleRate);
        for (int c = 0; c < block.ChannelCount; ++c) {
            const std::vector<int32_t>& raw = block.Samples[static_cast<size_t>(c)];
            scaled_.resize(raw.size());
            std::transform(raw.begin(), raw.end(), scaled_.begin(),
                           [&](int32_t x) { return CountScale(x, block.BytesPerSample); });
            TStream& stream = StreamFor(format.Station, codes[static_cast<size_t>(c)], false);
            Append(stream, scaled_, block.Time, block.SampleRate, flags, quality);
            fed.push_back(&stream);
        }
    }
    if (settings_.Soh) {
        for (const TSohStream& s :
             SohStreams(block.ChannelCount, block.Soh.HasModuleTemperatures)) {
            const int32_t value = SohValue(s, block.Soh);
            TStream& stream = StreamFor(format.Station, {settings_.Location, s.Channel}, true);
            Append(stream, std::span<const int32_t>(&value, 1), block.Time, 1.0, flags, quality);
            fed.push_back(&stream);
        }
    }
    // A stream this block should have fed and did not ends: its next sample would not follow.
    for (auto& entry : streams_) {
        TStream& stream = entry.second;
        const bool wasFed = std::find(fed.begin(), fed.end(), &stream) != fed.end();
        const bool dataMayWait = !block.HasSamples() && !stream.Soh;
        if (stream.Series && !wasFed && !dataMayWait) {
            EndSeries(stream);
        }
    }

    if (settings_.FlushSeconds > 0 && block.Time - lastFlush_ >= settings_.FlushSeconds) {
        Flush();
        lastFlush_ = block.Time;
    }
}

void TLiveRecords::Append(TStream& stream, std::span<const int32_t> samples, int64_t start,
                          double rate, uint8_t flags, int quality) {
    if (!stream.Series) {
        stream.Series.emplace(TSeriesFormat{stream.Codes, rate, RecordLength, TByteOrder::Big},
                              TSeedTime{start, 0}, stream.NextSequence);
    }
    stream.Series->Append(samples, flags, quality,
                          [&](const TSeriesRecord& record) { Hand(record); });
    stream.NextSequence = stream.Series->NextSequence();
}

void TLiveRecords::EndSeries(TStream& stream) {
    if (!stream.Series) {
        return;
    }
    stream.Series->Flush([&](const TSeriesRecord& record) { Hand(record); });
    stream.NextSequence = stream.Series->NextSequence();
    stream.Series.reset();
}

void TLiveRecords::Flush() {
    for (auto& entry : streams_) {
        TStream& stream = entry.second;
        if (stream.Series) {
            stream.Series->Flush([&](const TSeriesRecord& record) { Hand(record); });
            stream.NextSequence = stream.Series->NextSequence();
        }
    }
}

void TLiveRecords::EndAll() {
    for (auto& entry : streams_) {
        EndSeries(entry.second);
    }
}

void TLiveRecords::Hand(const TSeriesRecord& record) {
    ++records_;
    if (!sink_) {
        return;
    }
    TLiveRecord live;
    live.Network = record.Codes->Network;
    live.Station = record.Codes->Station;
    live.Location = record.Codes->Location;
    live.Channel = record.Codes->Channel;
    live.Start = record.Start;
    live.End = record.End;
    live.Bytes.assign(record.Bytes.begin(), record.Bytes.end());
    sink_(std::move(live));
}
