// libFuzzer target: the status file reader. Arbitrary bytes are read as a status text; what
// reads must write back as a text that reads as the same status and writes the same text
// again, and must format for a person. The bytes are also written as every kind of text the
// status holds (a name, a string, a raw section), and the result must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "station/status_file.h"

namespace {

void RoundTrip(const TStationStatus& status) {
    const std::string json = StatusJson(status);
    if (json.size() > MaxStatusFileSize) {
        return;
    }
    std::string error;
    const std::optional<TStationStatus> again = ParseStatusJson(json, error);
    if (!again || StatusJson(*again) != json) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (const std::optional<TStationStatus> status = ParseStatusJson(text, error)) {
        const std::string json = StatusJson(*status);
        if (json.size() <= MaxStatusFileSize) {
            const std::optional<TStationStatus> again = ParseStatusJson(json, error);
            if (!again || !(*again == *status)) {
                abort();
            }
        }
        for (int64_t now :
             {int64_t(0), status->UpdatedMicroseconds, std::numeric_limits<int64_t>::min(),
              std::numeric_limits<int64_t>::max()}) {
            FormatStatusForPerson(*status, now);
        }
    } else if (error.empty()) {
        abort();
    }

    TStationStatus written;
    written.Program = text;
    written.Channels = {{text, 0, std::nullopt}};
    written.Extra = {{text, text}, {"x" + text, "[" + text + "]"}};
    RoundTrip(written);
    return 0;
}
