#include "monitor/temperature_log.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

std::string TemperatureLogLine(const TTemperatureHistories& histories, int channelCount,
                               const TNumberSeparators& separators) {
    std::string line;
    const int count = std::clamp(channelCount, 0, MaxChannels);
    for (int c = 0; c < count; ++c) {
        const TTemperatureHistory& history = histories[static_cast<size_t>(c)];
        if (history.empty()) {
            continue;
        }
        const TTemperatureReading& newest = history.back();
        if (c != 0) {
            line += ',';
        }
        line += FormatNumber(newest.Temperature, 1, separators);
        line += ',';
        line += FormatNumber(newest.Offset, 3, separators);
    }
    line += "\r\n";
    return line;
}

TStatus AppendToFile(const std::string& path, std::string_view text) {
    // O_APPEND: every write lands at the end as one piece, whoever else appends.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        return TError{std::strerror(errno), errno};
    }
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    size_t written = 0;
    const TStatus whole = WriteAll(fd, text, &written);
    int error = whole ? 0 : whole.Error().Errno;
    if (error != 0 && written > 0 && sized) {
        // No half line is left behind (a disk that filled up mid-line).
        (void)::ftruncate(fd, before.st_size);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;  // a network file system may report a failed write only here
    }
    if (error != 0) {
        return TError{std::strerror(error), error};
    }
    return {};
}

TTemperatureLog::TTemperatureLog(size_t queueLimit)
    : queueLimit_(std::max<size_t>(queueLimit, 1)), writer_(&TTemperatureLog::Run, this) {}

TTemperatureLog::~TTemperatureLog() {
    Push({TKind::End, {}});
    writer_.join();
}

void TTemperatureLog::Start(const std::string& path) {
    path_ = path;
    Push({path.empty() ? TKind::Stop : TKind::Start, path});
}

void TTemperatureLog::Stop() {
    path_.clear();
    Push({TKind::Stop, {}});
}

void TTemperatureLog::Write(std::string line) {
    if (Active()) {
        Push({TKind::Line, std::move(line)});
    }
}

void TTemperatureLog::Push(TCommand command) {
    {
        std::lock_guard lock(mutex_);
        if (command.Kind == TKind::Line) {
            if (queuedLines_ >= queueLimit_) {
                const auto oldest =
                    std::find_if(queue_.begin(), queue_.end(),
                                 [](const TCommand& c) { return c.Kind == TKind::Line; });
                queue_.erase(oldest);
                --queuedLines_;
                ++dropped_;
                if (!dropping_) {
                    dropping_ = true;
                    news_.Reports.push_back("The disk does not keep up with the temperature log " +
                                            path_ +
                                            ": the oldest lines waiting to be written are dropped "
                                            "to keep the newest.");
                }
            }
            ++queuedLines_;
        }
        queue_.push_back(std::move(command));
    }
    wake_.notify_one();
}

void TTemperatureLog::Drain() const {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

TRecordingNews TTemperatureLog::TakeNews() {
    std::lock_guard lock(mutex_);
    return std::exchange(news_, {});
}

// The writer takes every line waiting at once and appends them in one write.
void TTemperatureLog::Run() {
    for (;;) {
        std::vector<TCommand> batch;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return !queue_.empty(); });
            do {
                batch.push_back(std::move(queue_.front()));
                queue_.pop_front();
            } while (!queue_.empty() && batch.back().Kind == TKind::Line &&
                     queue_.front().Kind == TKind::Line);
            if (batch.back().Kind == TKind::Line) {
                queuedLines_ -= batch.size();
            }
            busy_ = true;
        }
        TRecordingNews news;
        const TKind kind = batch.back().Kind;
        if (kind == TKind::Line) {
            std::string lines;
            for (const TCommand& command : batch) {
                lines += command.Text;
            }
            Append(lines, static_cast<int>(batch.size()), news);
        } else if (kind == TKind::Start) {
            writerPath_ = batch.back().Text;
            failures_ = {};
            lostLines_ = 0;
            if (::unlink(writerPath_.c_str()) != 0 && errno != ENOENT) {
                (void)::truncate(writerPath_.c_str(), 0);
            }
        } else {
            writerPath_.clear();
            failures_ = {};
            lostLines_ = 0;
        }
        {
            std::lock_guard lock(mutex_);
            if (queuedLines_ == 0 && dropping_) {
                // The queue ran dry: a later drop is a new run.
                news.Notices.push_back("the temperature log keeps up again; " +
                                       std::to_string(dropped_) + " lines were dropped");
                dropping_ = false;
                dropped_ = 0;
            }
            news_.Append(std::move(news));
            busy_ = false;
        }
        idle_.notify_all();
        if (kind == TKind::End) {
            return;
        }
    }
}

void TTemperatureLog::Append(const std::string& lines, int count, TRecordingNews& news) {
    if (writerPath_.empty()) {
        return;
    }
    const TStatus appended = AppendToFile(writerPath_, lines);
    if (appended) {
        if (failures_.Succeed()) {
            news.Notices.push_back("the temperature log " + writerPath_ + " is written again; " +
                                   std::to_string(lostLines_) + " lines were lost");
        }
        lostLines_ = 0;
        return;
    }
    lostLines_ += count;
    if (failures_.Fail()) {
        news.Reports.push_back("Cannot write the temperature log " + writerPath_ + ": " +
                               appended.Error().Text);
    }
}
