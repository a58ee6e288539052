// libFuzzer target: the FDSN dataselect request reader. Arbitrary bytes are read as a GET query
// string and as a POST body; each gives a request or a fault with a status of 400 or 413 and a
// text, never both, and a request holds only windows that end after they start and a nodata of
// 204 or 404. The bytes are also read as a time and as a code pattern over its own other half.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "web/fdsn_request.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        abort();
    }
}

void CheckParsed(const TFdsnParsed<TDataSelectQuery>& parsed) {
    if (!parsed.Value) {
        Check(parsed.Fault.Status == 400 || parsed.Fault.Status == 413);
        Check(!parsed.Fault.Text.empty());
        return;
    }
    const TDataSelectQuery& query = *parsed.Value;
    Check(query.NoData == 204 || query.NoData == 404);
    Check(!query.Selections.empty() && query.Selections.size() <= MaxPostSelections);
    for (const TFdsnSelection& s : query.Selections) {
        Check(s.Start == OpenTimeBefore || s.End == OpenTimeAfter || s.Start < s.End);
        Check(!s.Networks.empty() && !s.Stations.empty() && !s.Locations.empty() &&
              !s.Channels.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckParsed(ParseDataSelectGet(text));
    CheckParsed(ParseDataSelectPost(text));
    if (const std::optional<int64_t> time = ParseFdsnTime(text)) {
        Check(text.size() >= 10);
    }
    if (const std::optional<std::string> decoded = DecodeQueryText(text)) {
        Check(decoded->size() <= text.size());
    }
    const size_t half = size / 2;
    const std::string_view pattern = std::string_view(text).substr(0, half);
    const std::string_view code = std::string_view(text).substr(half);
    if (pattern.find_first_of("?*") == std::string_view::npos) {
        Check(CodePatternMatches(pattern, code) == (pattern == code));
    }
    Check(CodePatternMatches("*", code));
    return 0;
}
