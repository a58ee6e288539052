// The station's records pushed to a DataLink ring server (DataLink 1.0 over TCP), from a thread
// of the client's own behind a bounded queue.
//
// The thread resolves the address, connects, identifies itself (`ID program:user:pid:arch`) and
// reads the server's capabilities; a server without WRITE among them is not sent anything (said
// once, and tried again with the back-off). Each record goes as `WRITE NET_STA_LOC_CHA/MSEED
// hpstart hpend A size` and its bytes, and every answer is checked:
//  - Up to `Window` records are on the way unanswered at a time (pipelined); the server answers
//    in order, so the answers are matched to the records first in, first out.
//  - `OK` acknowledges the record: it leaves the queue.
//  - `ERROR` refuses it: the server would refuse the same bytes again, so the record is dropped,
//    not resent (counted as Refused). A server refuses by stream, so the first refusal of a
//    stream is said, then its refusals are only counted until one of its records is taken.
//  - Anything else (garbage, a size beyond reason, a connection closed in the middle of an
//    answer, no answer within AnswerTimeout) ends the connection.
// When a connection ends, the records sent and not yet answered go back to the head of the
// queue in their order and are sent again after the reconnect, which comes after a delay that
// doubles from MinDelay up to MaxDelay (and starts from MinDelay again once a connection has
// proved good). So a record reaches the server twice only when the server took it but its answer
// was lost with the connection; it can then only be one of the last `Window` records sent on
// that connection.
//
// Push never waits: when the queue holds QueueRecords records (sent and unanswered ones
// included), the oldest waiting one is dropped and counted; the streak is said once, with its
// count, when a record finds room again (or at Stop). The archive on disk has every record; the
// push only feeds the live ring. Failures to connect are said once until a connection is made.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/result.h"
#include "recording/live_record.h"

struct TDataLinkConfig {
    std::string Host;
    uint16_t Port = 16000;
    std::string ProgramName = "digitizer-station";  // for the ID packet: program:user:pid:arch
    // An hour of six channels at 500 samples per second in 512-byte Steim-1 records (about 200
    // samples each): 54000 records, some 40 MB when full.
    size_t QueueRecords = 54000;
    // Reconnect back-off: doubling from MinDelay, capped at MaxDelay.
    std::chrono::milliseconds MinDelay{1000}, MaxDelay{60000};
    // Records sent and not yet answered at a time (at least 1).
    size_t Window = 16;
    // The longest wait for a connection to be made or for an awaited answer to arrive.
    std::chrono::milliseconds AnswerTimeout{30000};
};

struct TDataLinkAddress {
    std::string Host;
    uint16_t Port = 16000;
};

// "HOST[:PORT]" and "[v6addr]:PORT" (or "[v6addr]"): the address, or an error text saying what
// is wrong.
TResult<TDataLinkAddress> ParseDataLinkAddress(const std::string& text);

struct TDataLinkStatus {
    bool Connected = false;  // identified to a server that accepts data
    int64_t Sent = 0;        // WRITE packets sent, the second sending of a record included
    int64_t Acknowledged = 0;
    int64_t Queued = 0;   // records waiting or sent and unanswered
    int64_t Dropped = 0;  // records pushed out of a full queue (or pushed after Stop)
    // The last failure (connecting, the connection, a refused record) and its time, UTC us
    // since 1970; both cleared when the client is connected again.
    std::string LastError;
    int64_t LastErrorMicroseconds = 0;
    int64_t Pushed = 0;       // records handed to Push
    int64_t Refused = 0;      // records the server answered with ERROR (or that cannot be sent)
    int64_t Resent = 0;       // WRITE packets of records sent before on a connection that ended
    int64_t Connections = 0;  // connections made and identified
    // Pushed == Acknowledged + Refused + Dropped + Queued, and, while none was dropped after
    // being sent, Sent - Resent == Acknowledged + Refused + (records sent and awaiting answer).
};

class TDataLinkClient {
  public:
    using TLog = std::function<void(const std::string&)>;

    TDataLinkClient(TDataLinkConfig config, TLog log);  // starts its own thread
    ~TDataLinkClient();                                 // stops it (Stop(0) if not stopped)
    TDataLinkClient(const TDataLinkClient&) = delete;
    TDataLinkClient& operator=(const TDataLinkClient&) = delete;

    void Push(const TLiveRecord& record);  // never blocks (beyond a short mutex)
    TDataLinkStatus Status() const;
    // Sends what is pending for up to `drain`, then stops (the records left are said in the log).
    void Stop(std::chrono::milliseconds drain);

  private:
    struct TState;
    std::unique_ptr<TState> state_;
};
