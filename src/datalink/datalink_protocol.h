// The pieces of DataLink 1.0 a pushing client needs: packets (`DL`, the header's length in one
// byte, the ASCII header, then as many data bytes as the header's last field says, for the
// packets that carry data), the headers it sends, and the answers it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "recording/live_record.h"
#include "seedfile/seed_time.h"

inline constexpr size_t DataLinkMaxHeader = 255;
// The longest message an answer may carry; a server that announces more is not speaking DataLink.
inline constexpr size_t DataLinkMaxMessage = 65536;

// Microseconds since 1970 UTC of a SEED time (exact: a tick is 100 microseconds).
int64_t HpTimeOf(TSeedTime time);

// "NET_STA_LOC_CHA/MSEED".
std::string StreamIdOf(const TLiveRecord& record);

// `WRITE streamid hpstart hpend A size` for a record, or why it cannot be sent (codes with
// characters a stream ID cannot hold, no bytes, a header beyond 255 bytes).
TResult<std::string> WriteHeaderOf(const TLiveRecord& record);

// `ID program:user:pid:arch`, each part kept to characters that cannot break the header.
std::string IdHeaderOf(const std::string& program, const std::string& user, int64_t pid,
                       const std::string& arch);

// Appends one packet: the pre-header, `header` (at most 255 bytes) and `data`.
void AppendDataLinkPacket(std::vector<uint8_t>& out, const std::string& header,
                          const uint8_t* data = nullptr, size_t size = 0);

// The capabilities of a server's answer to ID (`ID DataLink <version> :: <capabilities>`), or
// an error when the header is not such an answer.
TResult<std::vector<std::string>> CapabilitiesOf(std::string_view header);

// An answer to a WRITE: `OK value size` or `ERROR value size`, followed by `size` bytes of message.
struct TDataLinkAnswer {
    bool Ok = false;
    int64_t Value = 0;  // the packet ID of an acknowledged WRITE
    size_t Size = 0;    // of the message that follows
};

// The answer a header states, or an error when it is neither OK nor ERROR with two numbers.
TResult<TDataLinkAnswer> AnswerOf(std::string_view header);

// The packets of a byte stream from the server, cut as the bytes come. Only the header of each
// is looked at here; the caller says whether a packet carries data (an answer does).
class TDataLinkReader {
  public:
    void Feed(const uint8_t* data, size_t size);
    // A whole header that has come, or nothing yet; an error when the bytes are not a packet.
    TResult<std::optional<std::string>> NextHeader();
    // After a header that announces `size` data bytes: those bytes (at most
    // DataLinkMaxMessage), or nothing until they have all come.
    std::optional<std::string> TakeData(size_t size);
    // Bytes received and not taken (a packet cut short when the connection ends).
    size_t Waiting() const { return buffer_.size() - start_; }

  private:
    std::vector<uint8_t> buffer_;
    size_t start_ = 0;
};

// Text from the server made safe for one log line: printable ASCII, at most `limit` characters.
std::string PrintableText(std::string_view text, size_t limit = 120);
