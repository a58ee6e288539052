// The layouts the recorder writes, behind one face. A writer runs on the recorder's worker
// thread only and never throws for a failure of the disk: it reports it in its news.
#pragma once

#include <cstddef>

#include "recording/record_block.h"
#include "recording/recorder_news.h"
#include "recording/recorder_settings.h"

class TArchiveWriter {
  public:
    virtual ~TArchiveWriter() = default;

    // One block, in order; every block, those without samples too, so that the writer sees
    // where the data runs on and where it breaks off.
    virtual void Take(const TRecordBlock& block) = 0;
    // Its layout's settings for the next block.
    virtual void Configure(const TRecorderSettings& settings) = 0;
    // Everything pending goes to disk now: the data files of the window's layout, the partial
    // records of the archive.
    virtual void Flush() = 0;
    // Flush, then close every file (they are opened again when written next).
    virtual void Close() = 0;
    // Memory held for data the disk has not taken yet; DropHeld frees the oldest of it until
    // at most `limit` bytes are held, and returns the samples dropped.
    virtual size_t HeldBytes() const { return 0; }
    virtual int64_t DropHeld(size_t /*limit*/) { return 0; }
    // At the end of the recording: everything still held is dropped, the loss reported;
    // returns the samples dropped.
    virtual int64_t DropAllHeld() { return 0; }

    // What happened since the last call; cleared.
    TRecordingNews TakeNews() {
        TRecordingNews news = std::move(news_);
        news_ = {};
        return news;
    }
    const TRecorderStats& Stats() const { return stats_; }

  protected:
    // The stream's figures, found or added by its id.
    TStreamStats& StreamStats(const std::string& id);
    void NoteError(const std::string& text);

    TRecordingNews news_;
    TRecorderStats stats_;
};
