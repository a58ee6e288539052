#include "digitizer/link_keeper.h"

#include <cerrno>

#include "digitizer/protocol.h"

namespace {

// Open errors of a device that is not there (now): unplugged, or its node not yet made.
bool DeviceMissing(int error) {
    return error == ENOENT || error == ENXIO || error == EIO || error == ENODEV;
}

}  // namespace

std::string TLinkKeeper::TEvent::Text() const {
    const std::string baud = std::to_string(Baud) + " baud";
    switch (Kind) {
        case TEventKind::Searching:
            return "searching at " + baud;
        case TEventKind::Restarted:
            return "no block: link restarted at " + baud;
        case TEventKind::DeviceGone:
            return "device gone: " + Reason;
        case TEventKind::OpenFailed:
            return "cannot open the device: " + Reason;
        case TEventKind::DeviceBack:
            return "device back at " + baud;
        case TEventKind::Reopened:
            return "device hung up: reopened at " + baud;
    }
    return {};
}

TLinkKeeper::TLinkKeeper(TPostFunction post) : post_(std::move(post)) {}

TLinkKeeper::~TLinkKeeper() {
    Close();
}

bool TLinkKeeper::Open(uint8_t portNumber, const std::string& devicePath, uint32_t baud,
                       TClock::time_point now) {
    Close();
    portNumber_ = portNumber;
    search_ = baud == AutoBaud;
    baud_ = search_ ? SearchStartBaud : baud;
    silentTicks_ = 0;
    lastGood_ = cursor_ = 0;
    posted_.store(0);
    nextTick_ = now + TickInterval;
    linkBaud_.store(baud_);
    link_ = std::make_unique<TDigitizer>(
        portNumber, baud_,
        [this](TDataBlock* block) {
            posted_.fetch_add(1);
            return post_ && post_(block, linkBaud_.load());
        },
        devicePath);
    if (IsOpen()) {
        lastError_.clear();
        return true;
    }
    // The owner hears of this failure from the result; a later one with another reason is
    // reported as an event.
    lastError_ = link_->Port()->OpenResult().Error().Text;
    reported_ = lastError_;
    waiting_ = true;
    return false;
}

void TLinkKeeper::Close() {
    link_.reset();
    waiting_ = false;
    reported_.clear();
}

std::vector<TLinkKeeper::TEvent> TLinkKeeper::Service(TClock::time_point now) {
    std::vector<TEvent> events;
    if (!link_ || now < nextTick_) {
        return events;
    }
    nextTick_ += TickInterval;
    if (nextTick_ <= now) {
        nextTick_ = now + TickInterval;
    }
    if (waiting_) {
        if (StartLink(events)) {
            events.push_back({TEventKind::DeviceBack, baud_, {}});
        }
        return events;
    }
    if (link_->HungUp()) {
        // The device went away under the reader. It may already be back (a fresh device at
        // the same path); otherwise it is waited for at the same rate.
        if (StartLink(events)) {
            events.push_back({TEventKind::Reopened, baud_, {}});
        }
        return events;
    }
    if (posted_.exchange(0) > 0) {
        silentTicks_ = 0;
        lastGood_ = baud_;
        cursor_ = baud_;
        return events;
    }
    ++silentTicks_;
    // In the search a rate that has not shown a single frame tag is given up at once.
    if (silentTicks_ < 2 && !(search_ && !link_->Synced())) {
        return events;
    }
    // A whole frame still waiting for its end is posted at the rate it came at.
    link_->Stop();
    if (posted_.exchange(0) > 0) {
        lastGood_ = cursor_ = baud_;
    }
    if (search_) {
        baud_ = NextSearchBaud();
        events.push_back({TEventKind::Searching, baud_, {}});
    } else {
        events.push_back({TEventKind::Restarted, baud_, {}});
    }
    StartLink(events);
    return events;
}

uint32_t TLinkKeeper::NextSearchBaud() {
    if (lastGood_ == 0) {
        return static_cast<uint32_t>(BaudCycleNext(static_cast<int32_t>(baud_)));
    }
    if (baud_ != lastGood_) {
        return lastGood_;
    }
    cursor_ = static_cast<uint32_t>(BaudCycleNext(static_cast<int32_t>(cursor_)));
    if (cursor_ == lastGood_) {
        cursor_ = static_cast<uint32_t>(BaudCycleNext(static_cast<int32_t>(cursor_)));
    }
    return cursor_;
}

bool TLinkKeeper::StartLink(std::vector<TEvent>& events) {
    silentTicks_ = 0;
    linkBaud_.store(baud_);
    if (link_->Start(portNumber_, baud_)) {
        lastError_.clear();
        reported_.clear();
        waiting_ = false;
        return true;
    }
    const TCommPort& port = *link_->Port();
    lastError_ = port.OpenResult().Error().Text;
    waiting_ = true;
    if (lastError_ != reported_) {
        reported_ = lastError_;
        events.push_back({DeviceMissing(port.OpenResult().Error().Errno) ? TEventKind::DeviceGone
                                                                         : TEventKind::OpenFailed,
                          0, lastError_});
    }
    return false;
}

bool TLinkKeeper::IsOpen() const {
    return link_ && link_->Port() != nullptr && link_->Port()->IsOpen();
}

std::optional<uint32_t> TLinkKeeper::BaudRate() const {
    if (!IsOpen()) {
        return std::nullopt;
    }
    return link_->Port()->BaudRate();
}
