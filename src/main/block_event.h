// The hand-off of decoded blocks from the link's reader thread to the main
// thread: an event of type 0x8000 carrying the block, and the application-wide
// filter that passes it to the block handler.
#pragma once

#include <QEvent>
#include <QObject>
#include <functional>

#include "digitizer/digitizer.h"

class TBlockEvent : public QEvent {
  public:
    static constexpr QEvent::Type BlockType = static_cast<QEvent::Type>(WM_DIGITIZER_BLOCK);

    explicit TBlockEvent(TDataBlock* block) : QEvent(BlockType), block_(block) {}
    // An event destroyed without having been handled (at shut-down) frees its block.
    ~TBlockEvent() override { FreeBlock(block_); }
    TBlockEvent(const TBlockEvent&) = delete;
    TBlockEvent& operator=(const TBlockEvent&) = delete;

    // The block, still owned by the event (none once taken).
    const TDataBlock* Block() const { return block_; }
    // Hands the block over; the event no longer owns it.
    TDataBlock* Take() {
        TDataBlock* block = block_;
        block_ = nullptr;
        return block;
    }

  private:
    TDataBlock* block_;
};

// Installed on the application: every block event, whatever its receiver, goes
// to the handler, which takes ownership of the block.
class TBlockHook : public QObject {
    Q_OBJECT
  public:
    explicit TBlockHook(std::function<void(TDataBlock*)> handler, QObject* parent = nullptr)
        : QObject(parent), handler_(std::move(handler)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(TDataBlock*)> handler_;
};

// A post function for the link: wraps each block in an event for `receiver`.
TDigitizer::TPostFunction PostBlocksTo(QObject* receiver);
