// The main window's state and its work for each received block, without a
// window: the stream format and its changes, the gain factors, the block time,
// the channel histories and statistics, the temperatures and their log, the
// spectra, the texts of the Header and GPS pages, which channels each graph
// page shows, and the settings the pages change. The window hands it every block and then lets its
// pages read what it holds.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "digitizer/data_block.h"
#include "digitizer/stream_format.h"
#include "fft/fft_windows.h"
#include "monitor/block_time.h"
#include "monitor/channel_stats.h"
#include "monitor/event_log.h"
#include "monitor/fft_channels.h"
#include "monitor/gps_texts.h"
#include "monitor/header_texts.h"
#include "monitor/helicorder.h"
#include "monitor/number_format.h"
#include "monitor/settings.h"
#include "monitor/temperature_history.h"
#include "monitor/temperature_log.h"
#include "recording/block_intake.h"
#include "recording/recorder.h"

// The three pages that draw channels in bands, each with its own choice of
// channels shown.
enum class TGraph { Waves, Temperatures, Fft };
inline constexpr int GraphCount = 3;

// What one block did to the model.
struct TBlockOutcome {
    // The block's format differs from the previous block's: the histories were
    // reset, and the pages follow the new channel set.
    bool FormatChanged = false;
    // The first block at a new line rate: "$OK" is due, once per change.
    bool ConfirmBaud = false;
    // The pages draw everything again rather than the newest block only.
    bool FullRedraw = false;
    // An event started or ended within the block.
    bool EventNews = false;
    // Failures of the work the block caused that the user must hear of (a
    // file that could not be written), each naming the path and the reason;
    // said once per failure streak, while the work goes on.
    std::vector<std::string> Reports;
    // Lines for standard error only (a data file name that was taken, the end
    // of a failure streak).
    std::vector<std::string> Notices;
};

class TMonitorModel {
  public:
    using TClock = std::function<TBlockTime()>;

    // The settings as read at start; the block time starts from `clock` (UTC),
    // which also times blocks without GPS where the unit's count does not follow
    // (TBlockIntake).
    explicit TMonitorModel(TSettings settings, TNumberSeparators separators = {},
                           TClock clock = TBlockTime::Now);

    // One decoded block, in order: the intake's format, format-change test and
    // block time (with the open port's rate; none while the link is stopped keeps
    // the rate the block came at), the Header texts, the reset of a format change
    // (which writes the pending data files), the samples (into the recording lists too
    // while recording is enabled, writing the files that are due), the
    // temperatures and the log line, the spectra (with AutoCalc set) and the
    // GPS texts. The block is only read. A data file or log line that cannot
    // be written is reported once per failure streak in Reports.
    TBlockOutcome ProcessBlock(const TDataBlock& block, std::optional<int32_t> baudRate);

    // Monitoring starts again: histories emptied, the current format zeroed
    // (the previous one is kept, so the next block is a format change only if
    // the digitizer's format differs from the one seen before), the block time
    // shown taken from the clock until the next block. The pending data files are
    // written.
    void Restart();
    // Statistics, channel and temperature histories and FFT rings back to
    // empty; the pending data files written. The spectra stay.
    void ResetChannelHistories();
    // Every recording list that holds samples written to its data file and all
    // emptied (the Stop button, the end of the program). The files are written on
    // the recorder's own thread: WaitForRecorder waits until they are, and until
    // the temperature log's lines are written.
    void FlushDataFiles();
    void WaitForRecorder() const;
    // What recording and the temperature log have had to say since the last call
    // (ProcessBlock hands it over in its outcome; the recorder's news that comes
    // between blocks is announced through its news callback).
    TRecordingNews TakeRecordingNews();
    // The histories' memory freed at shut-down.
    void ReleaseHistories();

    // What the pages read.
    const TSettings& Settings() const { return settings_; }
    TSettings& Settings() { return settings_; }
    const TNumberSeparators& Separators() const { return separators_; }
    const TStreamFormat& Format() const { return format_; }
    // ChannelCount limited to 0 ... MaxChannels.
    int ChannelCount() const;
    int SamplesPerBlock() const { return intake_.SamplesPerBlock(); }
    // 10 for a channel at high gain, 1 at low gain.
    const std::array<int32_t, MaxChannels>& GainFactors() const { return gainFactor_; }
    TBlockTime BlockTime() const { return blockTime_; }
    // The time of the first block of the current format (UTC seconds).
    int64_t FormatSince() const { return formatSince_; }
    const TChannelModel& Channels() const { return channels_; }
    TRecorder& Recorder() { return recorder_; }
    const TRecorder& Recorder() const { return recorder_; }
    const TTemperatureHistories& Temperatures() const { return temperatures_; }
    const std::array<double, MaxChannels>& ChannelTemperatures() const {
        return channelTemperature_;
    }
    const TSpectra& Spectra() const { return spectra_; }
    // The window function in force, from the setting Window.
    TFftWindow FftWindow() const { return fftWindow_; }
    // The log file written after every block; empty while logging is off.
    const std::string& TemperatureLogName() const { return temperatureLog_.Path(); }
    // The texts of the newest block: Header page values, GPS page changes, and
    // the block time as the GPS page's "System Time (UTC)" shows it.
    const THeaderTexts& HeaderTexts() const { return headerTexts_; }
    const TGpsPageUpdate& GpsUpdate() const { return gpsUpdate_; }
    const std::string& SystemTimeText() const { return systemTimeText_; }
    // The events found in the blocks and the live trigger ratios, with the [Events] settings.
    const TEventLog& Events() const { return events_; }
    // The min/max envelope of every channel over the newest 24 hours.
    const THelicorder& Helicorder() const { return helicorder_; }

    // Which channels a graph page shows; all at start. On a format change the
    // channels beyond the new channel count are taken off every page, and a
    // channel that comes back stays off until it is chosen again.
    std::span<const bool, MaxChannels> Displayed(TGraph graph) const;
    bool Displayed(TGraph graph, int channel) const;
    void SetDisplayed(TGraph graph, int channel, bool shown);

    // Settings the pages change, in force at once.
    void SetStoredSeconds(int seconds);
    void SetDcTimeConst(double value);
    void ClearChannelHistories();
    // Hours of temperature readings kept: the histories are trimmed to it at
    // the next block.
    void SetStoredHours(int hours);
    void ClearTemperatureHistories();
    // Points of the next spectra (1024, 2048, 4096 or 8192); nothing is
    // recomputed here.
    void SetFftPoints(int points);
    // The window of the next spectra; the setting Window takes its name.
    void SetFftWindow(TFftWindow window);
    // Spectra recomputed after every block, or left as they are.
    void SetAutoCalc(bool on);
    // RecomputeSpectra now, with the settings in force.
    void RecomputeSpectra();
    // Logging to `path` from the next block on, into an emptied file; an
    // empty path stops it. The lines are written on the log's own thread.
    void StartTemperatureLog(const std::string& path);
    // New trigger settings, in force from the next block (the Helicorder's band-pass too) and
    // kept for the settings file; refused, nothing changed, when the detector refuses them.
    TStatus SetEventSettings(const TEventSettings& settings);
    // The unit told to calibrate in `mode` ("$CA"; 0 stops): the events marked meanwhile.
    void SetCalibration(int mode) { events_.SetCalibration(mode); }

  private:
    void TakeGainFactors();
    void FollowFormatChange(const TBlockHeader& header);
    void StoreTemperatures(const TBlockHeader& header);
    void WriteTemperatureLog(TBlockOutcome& outcome);

    TSettings settings_;
    TNumberSeparators separators_;
    TClock clock_;

    TBlockIntake intake_;
    const TStreamFormat& format_ = intake_.Format();  // of the newest block
    int64_t formatSince_ = 0;
    std::array<int32_t, MaxChannels> gainFactor_{1, 1, 1, 1, 1, 1};
    TBlockTime blockTime_;
    TChannelModel channels_;
    TRecorder recorder_;
    std::array<double, MaxChannels> channelTemperature_{};
    TTemperatureHistories temperatures_;
    TTemperatureLog temperatureLog_;
    TSpectra spectra_;
    TFftWindow fftWindow_;
    THeaderTexts headerTexts_;
    TGpsPageUpdate gpsUpdate_;
    std::string systemTimeText_;
    std::array<std::array<bool, MaxChannels>, GraphCount> displayed_;
    TEventLog events_;
    THelicorder helicorder_;
};
