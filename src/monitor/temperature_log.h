// The temperature log: one text line per block with each channel's newest
// temperature and offset, appended to a file chosen on the Temperatures page
// by a writer thread of its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "base/result.h"
#include "monitor/number_format.h"
#include "monitor/temperature_history.h"
#include "recording/recorder_news.h"

// For each channel below channelCount (at most six) with a reading, its newest
// temperature with one decimal and offset (microvolts) with three, as the "n"
// conversion writes them, all comma-separated, then CR LF:
// "23.5,12.346,23.5,-7.500\r\n". A channel without readings adds nothing.
std::string TemperatureLogLine(const TTemperatureHistories& histories, int channelCount,
                               const TNumberSeparators& separators);

// Appends `text` to the file at `path` in one write: the file is opened for
// reading and writing (created when it is missing, mode 0666 less the umask),
// written at its end and closed again. Fails with the system's reason (strerror)
// after cutting off whatever part of `text` did reach the file.
TStatus AppendToFile(const std::string& path, std::string_view text);

// The log as the model keeps it: lines are handed over in order on the model's thread and
// written on a writer thread of its own, so that the thread that receives the blocks never
// waits on a disk. At most `queueLimit` lines wait; when the disk is slower than that for long
// enough, the oldest waiting lines are dropped to keep the newest, counted and reported.
class TTemperatureLog {
  public:
    static constexpr size_t DefaultQueueLimit = 3600;  // an hour of blocks

    explicit TTemperatureLog(size_t queueLimit = DefaultQueueLimit);
    // Every line handed over is written before the writer ends.
    ~TTemperatureLog();
    TTemperatureLog(const TTemperatureLog&) = delete;
    TTemperatureLog& operator=(const TTemperatureLog&) = delete;

    // Logs to `path` from now on. An existing file there is deleted (its
    // overwriting has been confirmed), so that the log starts empty; a file
    // that cannot be deleted is emptied instead.
    void Start(const std::string& path);
    // No more logging; the lines handed over before are still written.
    void Stop();
    bool Active() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

    // Hands one line to the writer, which appends it to the file. Never waits on the disk;
    // nothing while logging is off.
    void Write(std::string line);
    // Waits until every line handed over has been written (or has failed).
    void Drain() const;

    // What the writer has had to say since the last call. Of a streak of failures only the
    // first is reported, naming the path and the reason; the end of a streak and of a run of
    // dropped lines are notices. After a write that succeeds, the next failure is told again.
    TRecordingNews TakeNews();

  private:
    enum class TKind { Start, Line, Stop, End };
    struct TCommand {
        TKind Kind;
        std::string Text;  // the path of Start, the line of Line
    };

    void Push(TCommand command);
    void Run();
    // The writer's own: the lines of a batch appended in one write.
    void Append(const std::string& lines, int count, TRecordingNews& news);

    std::string path_;  // as handed over (the owner's thread)
    const size_t queueLimit_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::deque<TCommand> queue_;
    size_t queuedLines_ = 0;
    bool busy_ = false;
    TRecordingNews news_;
    int64_t dropped_ = 0;    // lines dropped in the current run of drops
    bool dropping_ = false;  // that run has been reported

    // The writer's own.
    std::string writerPath_;
    TFailureStreak failures_;
    int64_t lostLines_ = 0;  // lines of the current failure streak
    std::thread writer_;
};
