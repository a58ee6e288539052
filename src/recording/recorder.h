// The recorder: whole blocks in, data files out, written on a worker thread of its own so that
// the thread that receives the blocks never waits on a disk. Between the two runs a queue
// bounded in memory: when the disk is slower than the data for long enough to fill it, the
// oldest waiting blocks are dropped to keep the newest, and that is counted and reported,
// never silent. Failures come back as news (TakeNews), and the owner may be told when there
// is some.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "recording/archive_writer.h"
#include "recording/period_files.h"
#include "recording/record_block.h"
#include "recording/recorder_news.h"
#include "recording/recorder_settings.h"

class TRecorder {
  public:
    explicit TRecorder(TRecorderSettings settings);
    // Everything handed over is written (the pending files and partial records too) before the
    // worker ends.
    ~TRecorder();
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Called on the worker thread when news has come (never with a lock held); the owner
    // typically posts itself a call to TakeNews. Empty: nobody is told.
    void SetNewsCallback(std::function<void()> callback);

    // One block, in order. Never waits on the disk.
    void Take(TRecordBlock block);
    // Everything pending goes to disk: the window's data files, the archive's partial records.
    void Flush();
    // New settings from the next block on, after what is queued (the pending data written
    // first when anything changed).
    void Configure(const TRecorderSettings& settings);
    // Everything pending written and every file closed; they are opened again as needed.
    void Close();
    // As Close, at the end of the recording: records that the disk still does not take are
    // reported lost.
    void Finish();
    // Waits until everything handed over has been done.
    void Drain() const;

    TRecordingNews TakeNews();
    // The figures as of now: what waits and what was lost are counted as blocks are queued
    // and dropped, whatever the worker is doing (even stuck in a write that does not return).
    TRecorderStats Stats() const;
    // The settings last handed over.
    const TRecorderSettings& Settings() const { return settings_; }

    // The window layout's lists and file start time, for looking at after Drain; nullptr for
    // the archive layout.
    const TPeriodFiles* PeriodFiles() const;

  private:
    enum class TKind { Block, Flush, Configure, Close, Finish, Stop };
    struct TCommand {
        TKind Kind = TKind::Block;
        TRecordBlock Block;
        TRecorderSettings Settings;
        size_t Bytes = 0;
    };

    void Push(TCommand command);
    void Run();
    void Execute(TCommand& command);
    void MakeWriter(const TRecorderSettings& settings);
    std::string StreakLoss() const;

    TRecorderSettings settings_;  // as handed over (owner's thread)

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::deque<TCommand> queue_;
    std::atomic<size_t> queuedBytes_ = 0;      // blocks waiting for the worker
    std::atomic<size_t> writerHeldBytes_ = 0;  // records waiting for the disk
    std::atomic<int64_t> droppedSamples_ = 0;  // every sample lost, since the start
    bool busy_ = false;
    TRecordingNews news_;
    TRecorderStats stats_;
    // The streak of dropped blocks going on: reported at its start, its loss at its end.
    bool dropping_ = false;
    int64_t streakSamples_ = 0;  // per channel
    int64_t streakFirst_ = 0;    // block times
    int64_t streakLast_ = 0;
    std::function<void()> newsCallback_;

    // The worker's own.
    std::unique_ptr<TArchiveWriter> writer_;
    TArchiveLayout layout_ = TArchiveLayout::Periods;
    size_t memoryLimit_ = 0;
    std::thread worker_;
};
