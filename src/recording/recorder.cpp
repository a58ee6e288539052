#include "recording/recorder.h"

#include "recording/sds_writer.h"

#include <algorithm>

TRecorder::TRecorder(TRecorderSettings settings) : settings_(std::move(settings)) {
    MakeWriter(settings_);
    worker_ = std::thread(&TRecorder::Run, this);
}

TRecorder::~TRecorder() {
    TCommand stop;
    stop.Kind = TKind::Stop;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(stop));
    }
    wake_.notify_one();
    worker_.join();
}

void TRecorder::MakeWriter(const TRecorderSettings& settings) {
    if (writer_) {
        writer_->Close();
    }
    layout_ = settings.Layout;
    memoryLimit_ = settings.MemoryLimit;
    if (settings.Layout == TArchiveLayout::Sds) {
        writer_ = std::make_unique<TSdsWriter>(settings.Sds);
    } else {
        writer_ = std::make_unique<TPeriodFiles>(settings.Periods);
    }
}

void TRecorder::SetNewsCallback(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    newsCallback_ = std::move(callback);
}

void TRecorder::Take(TRecordBlock block) {
    TCommand command;
    command.Bytes = block.Bytes();
    command.Block = std::move(block);
    Push(std::move(command));
}

void TRecorder::Flush() {
    TCommand command;
    command.Kind = TKind::Flush;
    Push(std::move(command));
}

void TRecorder::Configure(const TRecorderSettings& settings) {
    if (settings == settings_) {
        return;
    }
    settings_ = settings;
    TCommand command;
    command.Kind = TKind::Configure;
    command.Settings = settings;
    Push(std::move(command));
}

void TRecorder::Close() {
    TCommand command;
    command.Kind = TKind::Close;
    Push(std::move(command));
}

void TRecorder::Finish() {
    TCommand command;
    command.Kind = TKind::Finish;
    Push(std::move(command));
}

void TRecorder::Push(TCommand command) {
    std::function<void()> tell;
    {
        std::lock_guard lock(mutex_);
        // Half the memory for blocks on their way, half for records the disk has not taken.
        const size_t limit = settings_.MemoryLimit / 2;
        int64_t dropped = 0;
        while (queuedBytes_ + command.Bytes > limit) {
            auto oldest = std::find_if(queue_.begin(), queue_.end(),
                                       [](const TCommand& c) { return c.Kind == TKind::Block; });
            if (oldest == queue_.end()) {
                break;
            }
            const TRecordBlock& block = oldest->Block;
            const int64_t perChannel =
                block.ChannelCount > 0 ? static_cast<int64_t>(block.Samples[0].size()) : 0;
            for (int c = 0; c < block.ChannelCount; ++c) {
                dropped += static_cast<int64_t>(block.Samples[static_cast<size_t>(c)].size());
            }
            if (streakSamples_ == 0) {
                streakFirst_ = block.Time;
            }
            streakSamples_ += perChannel;
            streakLast_ = block.Time;
            queuedBytes_ -= oldest->Bytes;
            queue_.erase(oldest);
        }
        if (dropped > 0) {
            droppedSamples_ += dropped;
            if (!dropping_) {
                dropping_ = true;
                news_.Reports.push_back(
                    "The disk does not keep up with the data: the oldest blocks waiting to be "
                    "written are dropped to keep the newest (memory limit " +
                    std::to_string(settings_.MemoryLimit >> 20) +
                    " MB); the loss is logged when the disk keeps up again.");
                tell = newsCallback_;
            }
        }
        queuedBytes_ += command.Bytes;
        queue_.push_back(std::move(command));
    }
    wake_.notify_one();
    if (tell) {
        tell();
    }
}

std::string TRecorder::StreakLoss() const {
    return std::to_string(streakSamples_) + " samples of every channel were dropped (blocks of " +
           UtcText(TSeedTime{streakFirst_, 0}) + " to " + UtcText(TSeedTime{streakLast_, 0}) + ")";
}

void TRecorder::Run() {
    for (;;) {
        TCommand command;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return !queue_.empty(); });
            command = std::move(queue_.front());
            queue_.pop_front();
            queuedBytes_ -= command.Bytes;
            busy_ = true;
        }
        Execute(command);
        const bool stop = command.Kind == TKind::Stop;
        TRecordingNews news = writer_->TakeNews();
        std::function<void()> tell;
        {
            std::lock_guard lock(mutex_);
            const bool ending = stop || command.Kind == TKind::Finish;
            if (queue_.empty() || ending) {
                // The queue ran dry (or the recording ends): a later drop is a new streak.
                if (dropping_) {
                    news.Reports.push_back(
                        (ending ? "The recording ends while the disk does not keep up: "
                                : "The disk keeps up again: ") +
                        StreakLoss() + ".");
                }
                dropping_ = false;
                streakSamples_ = 0;
            }
            stats_ = writer_->Stats();
            if (!news.Empty()) {
                news_.Append(std::move(news));
                tell = newsCallback_;
            }
        }
        // Told before Drain can return, so that an owner who drains and then goes is never
        // called afterwards.
        if (tell) {
            tell();
        }
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
        idle_.notify_all();
        if (stop) {
            return;
        }
    }
}

void TRecorder::Execute(TCommand& command) {
    switch (command.Kind) {
        case TKind::Block:
            writer_->Take(command.Block);
            break;
        case TKind::Flush:
            writer_->Flush();
            break;
        case TKind::Configure:
            if (command.Settings.Layout != layout_) {
                MakeWriter(command.Settings);
            } else {
                writer_->Configure(command.Settings);
                memoryLimit_ = command.Settings.MemoryLimit;
            }
            break;
        case TKind::Close:
            writer_->Close();
            break;
        case TKind::Finish:
        case TKind::Stop:
            writer_->Close();
            droppedSamples_ += writer_->DropAllHeld();
            break;
    }
    droppedSamples_ += writer_->DropHeld(memoryLimit_ / 2);
    writerHeldBytes_ = writer_->HeldBytes();
}

void TRecorder::Drain() const {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
}

TRecordingNews TRecorder::TakeNews() {
    std::lock_guard lock(mutex_);
    TRecordingNews news = std::move(news_);
    news_ = {};
    return news;
}

TRecorderStats TRecorder::Stats() const {
    std::lock_guard lock(mutex_);
    TRecorderStats stats = stats_;
    stats.HeldBytes = queuedBytes_ + writerHeldBytes_;
    stats.DroppedSamples = droppedSamples_;
    return stats;
}

const TPeriodFiles* TRecorder::PeriodFiles() const {
    return dynamic_cast<const TPeriodFiles*>(writer_.get());
}
