#include "monitor/event_log.h"

#include "digitizer/stream_format.h"

TEventLog::TEventLog(const TDetectorSettings& settings) {
    TResult<TEventDetector> made = TEventDetector::Make(settings);
    // Settings that the detector refuses (a file edited by hand beyond what the reading
    // checks) give way to the defaults.
    detector_.emplace(made ? std::move(*made) : *TEventDetector::Make(TDetectorSettings{}));
}

TStatus TEventLog::SetSettings(const TDetectorSettings& settings) {
    TResult<TEventDetector> made = TEventDetector::Make(settings);
    if (!made) {
        return made.Error();
    }
    detector_.emplace(std::move(*made));
    detector_->SetCalibration(calibrating_);
    // A running event ends where the detection stopped, cut.
    if (running_) {
        events_.back().Cut = true;
    }
    running_ = false;
    ratios_ = {};
    return {};
}

void TEventLog::SetCalibration(int mode) {
    calibrating_ = mode != 0;
    detector_->SetCalibration(calibrating_);
}

bool TEventLog::Take(const TRecordBlock& block, int32_t gainBits) {
    TDetectorNews news = detector_->Take(block, gainBits);
    if (!news.Restart.empty()) {
        lastRestart_ = news.Restart;
    }
    for (const TEventNews& item : news.Events) {
        // The log numbers the events itself: a detector made for new settings counts from 1.
        if (item.Kind == TEventNews::TKind::Started) {
            events_.push_back(item.Event);
            events_.back().Id = ++count_;
            runningId_ = item.Event.Id;
            running_ = true;
            if (events_.size() > MaxEvents) {
                events_.pop_front();
            }
        } else if (running_ && item.Event.Id == runningId_) {
            const uint64_t id = events_.back().Id;
            events_.back() = item.Event;
            events_.back().Id = id;
            running_ = false;
        }
    }
    if (running_ && block.HasSamples() && block.SampleRate > 0) {
        // The running event reaches the block's last sample for now.
        events_.back().End = SampleTimeOf(block.Time, block.SamplesPerBlock, block.SampleRate);
    }
    ratios_ = {};
    for (const TChannelRatio& ratio : news.Ratios) {
        if (ratio.Channel >= 0 && ratio.Channel < MaxChannels) {
            ratios_[static_cast<size_t>(ratio.Channel)] = ratio;
        }
    }
    return !news.Events.empty();
}

void TEventLog::Clear() {
    events_.clear();
    running_ = false;
}
