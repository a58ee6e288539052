#include "monitor/monitor_model.h"

#include <algorithm>
#include <cstring>

namespace {

// The window records in its own layout, from the [Files] values.
TRecorderSettings RecorderSettingsOf(const TSettings& settings) {
    TRecorderSettings recorder;
    recorder.Layout = TArchiveLayout::Periods;
    recorder.Periods = {settings.BaseDir, settings.Station, settings.Location, settings.Network,
                        settings.DurationMinutes};
    return recorder;
}

}  // namespace

TMonitorModel::TMonitorModel(TSettings settings, TNumberSeparators separators, TClock clock)
    : settings_(std::move(settings)),
      separators_(std::move(separators)),
      clock_(std::move(clock)),
      intake_([this] { return clock_().Seconds; }),
      blockTime_(clock_()),
      recorder_(RecorderSettingsOf(settings_)),
      fftWindow_(FftWindowFromName(settings_.Window)),
      events_(DetectorSettingsOf(settings_)),
      helicorder_(DetectorSettingsOf(settings_).Band) {
    channels_.SetStoredSeconds(settings_.StoredSeconds);
    channels_.SetDcTimeConst(settings_.DCTimeConst);
    for (auto& flags : displayed_) {
        flags.fill(true);
    }
}

int TMonitorModel::ChannelCount() const {
    return std::clamp(format_.ChannelCount, 0, MaxChannels);
}

TBlockOutcome TMonitorModel::ProcessBlock(const TDataBlock& block,
                                          std::optional<int32_t> baudRate) {
    const TBlockHeader& header = *block.Header;
    TBlockOutcome outcome;
    TIntakeBlock taken = intake_.Take(block, baudRate.value_or(format_.BaudRate));
    TakeGainFactors();
    // The first block at a new line rate confirms it.
    outcome.ConfirmBaud = taken.BaudChanged;

    headerTexts_ = ::HeaderTexts(header, format_, separators_);

    outcome.FormatChanged = taken.FormatChanged;
    outcome.FullRedraw = outcome.FormatChanged;
    if (outcome.FormatChanged) {
        FollowFormatChange(header);
        formatSince_ = taken.Record.Time;
    }
    blockTime_ = TBlockTime{taken.Record.Time};
    systemTimeText_ = FormatBlockTime(blockTime_);

    // The event detection and the helicorder take each block whole; recording runs only
    // while enabled, the recorder taking the block on its own thread (a block without samples
    // only tells it that the data runs on).
    TRecordBlock& record = taken.Record;
    outcome.EventNews = events_.Take(record, format_.GainBits);
    helicorder_.Take(record);
    if (settings_.Enable != 0) {
        recorder_.Configure(RecorderSettingsOf(settings_));
        recorder_.Take(std::move(record));
    }
    channels_.UpdateChannelStatistics(*block.Samples, format_.ChannelCount, SamplesPerBlock(),
                                      format_.SampleRate, gainFactor_);
    StoreTemperatures(header);
    WriteTemperatureLog(outcome);
    if (settings_.AutoCalc != 0) {
        RecomputeSpectra();
    }
    gpsUpdate_ =
        GpsPageUpdate(*block.Gps, header.BlockCount, header.LastValidGpsBlock, separators_);

    TRecordingNews news = recorder_.TakeNews();
    outcome.Reports.insert(outcome.Reports.end(), news.Reports.begin(), news.Reports.end());
    outcome.Notices.insert(outcome.Notices.end(), news.Notices.begin(), news.Notices.end());
    return outcome;
}

// The gain factors of channels beyond the block's channel count keep their
// old values.
void TMonitorModel::TakeGainFactors() {
    for (int c = 0; c < ChannelCount(); ++c) {
        gainFactor_[static_cast<size_t>(c)] = GainFactorOf(format_.GainBits, c);
    }
}

void TMonitorModel::FollowFormatChange(const TBlockHeader& header) {
    const int count = format_.ChannelCount;
    if (count >= 1 && count <= MaxChannels) {
        for (auto& flags : displayed_) {
            std::fill(flags.begin() + count, flags.end(), false);
        }
    }
    // The pending data files go out with the station they were recorded for.
    ResetChannelHistories();
    if (settings_.UseSerialNumber) {
        settings_.Station = SafeStationCode(std::string(
            header.SerialNumber, strnlen(header.SerialNumber, sizeof header.SerialNumber)));
    }
    settings_.Baud = format_.BaudRate;
}

void TMonitorModel::StoreTemperatures(const TBlockHeader& header) {
    std::array<double, MaxChannels> offsets{};
    for (int c = 0; c < MaxChannels; ++c) {
        offsets[static_cast<size_t>(c)] = channels_.ChannelStats(c).Offset;
    }
    ::StoreTemperatures(temperatures_, header, format_.ChannelCount, settings_.StoredHours, offsets,
                        channelTemperature_);
}

// The line goes to the log's writer; what the writer has said since the last block (a failure
// names the path and the reason) comes back with this one.
void TMonitorModel::WriteTemperatureLog(TBlockOutcome& outcome) {
    if (temperatureLog_.Active()) {
        temperatureLog_.Write(TemperatureLogLine(temperatures_, format_.ChannelCount, separators_));
    }
    TRecordingNews news = temperatureLog_.TakeNews();
    outcome.Reports.insert(outcome.Reports.end(), news.Reports.begin(), news.Reports.end());
    outcome.Notices.insert(outcome.Notices.end(), news.Notices.begin(), news.Notices.end());
}

void TMonitorModel::RecomputeSpectra() {
    spectra_.RecomputeSpectra(channels_, format_.ChannelCount, Displayed(TGraph::Fft),
                              settings_.Points, fftWindow_);
}

void TMonitorModel::Restart() {
    ResetChannelHistories();
    intake_.Restart();
    blockTime_ = clock_();
}

void TMonitorModel::ResetChannelHistories() {
    channels_.ResetChannelHistories([this] {
        ::ClearTemperatureHistories(temperatures_);
        channelTemperature_.fill(0);
        recorder_.Flush();
    });
}

void TMonitorModel::FlushDataFiles() {
    recorder_.Flush();
}

void TMonitorModel::WaitForRecorder() const {
    recorder_.Drain();
    temperatureLog_.Drain();
}

TRecordingNews TMonitorModel::TakeRecordingNews() {
    TRecordingNews news = recorder_.TakeNews();
    news.Append(temperatureLog_.TakeNews());
    return news;
}

void TMonitorModel::ReleaseHistories() {
    ::ClearTemperatureHistories(temperatures_);
    channels_.ClearChannelHistories();
    helicorder_.Clear();
}

std::span<const bool, MaxChannels> TMonitorModel::Displayed(TGraph graph) const {
    return displayed_[static_cast<size_t>(graph)];
}

bool TMonitorModel::Displayed(TGraph graph, int channel) const {
    return channel >= 0 && channel < MaxChannels &&
           displayed_[static_cast<size_t>(graph)][static_cast<size_t>(channel)];
}

void TMonitorModel::SetDisplayed(TGraph graph, int channel, bool shown) {
    if (channel >= 0 && channel < MaxChannels) {
        displayed_[static_cast<size_t>(graph)][static_cast<size_t>(channel)] = shown;
    }
}

void TMonitorModel::SetStoredSeconds(int seconds) {
    settings_.StoredSeconds = seconds;
    channels_.SetStoredSeconds(seconds);
}

void TMonitorModel::SetDcTimeConst(double value) {
    settings_.DCTimeConst = value;
    channels_.SetDcTimeConst(value);
}

void TMonitorModel::ClearChannelHistories() {
    channels_.ClearChannelHistories();
}

void TMonitorModel::SetStoredHours(int hours) {
    settings_.StoredHours = hours;
}

void TMonitorModel::ClearTemperatureHistories() {
    ::ClearTemperatureHistories(temperatures_);
}

void TMonitorModel::SetFftPoints(int points) {
    settings_.Points = points;
}

void TMonitorModel::SetFftWindow(TFftWindow window) {
    fftWindow_ = window;
    settings_.Window = std::string(FftWindowName(window));
}

void TMonitorModel::SetAutoCalc(bool on) {
    settings_.AutoCalc = on ? 1 : 0;
}

void TMonitorModel::StartTemperatureLog(const std::string& path) {
    if (path.empty()) {
        temperatureLog_.Stop();
    } else {
        temperatureLog_.Start(path);
    }
}

TStatus TMonitorModel::SetEventSettings(const TEventSettings& settings) {
    const TDetectorSettings detector = DetectorSettingsOf(settings);
    if (TStatus set = events_.SetSettings(detector); !set) {
        return set;
    }
    helicorder_.SetBand(detector.Band);
    static_cast<TEventSettings&>(settings_) = settings;
    return {};
}
