// libFuzzer target: the SeedLink command reader. Arbitrary bytes are cut into command lines as a
// client's connection would deliver them (in two pieces, at a point the first byte chooses),
// never holding more than a line's limit; each line reads as a command or is refused with a
// reason, and what reads as a command reads the same again from its own parts. The bytes are
// also read as a SELECT pattern, a time, a listening address and a list of address ranges.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "seedlink/address.h"
#include "seedlink/command.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t cut = size == 0 ? 0 : data[0] % (size + 1);

    TCommandLines lines;
    std::vector<TCommandLines::TLine> out;
    lines.Feed(std::string_view(text).substr(0, cut), out);
    Check(lines.Held() <= MaxCommandLine);
    lines.Feed(std::string_view(text).substr(cut), out);
    Check(lines.Held() <= MaxCommandLine);
    for (const TCommandLines::TLine& line : out) {
        Check(line.Overlong ? line.Text.empty() : !line.Text.empty());
        Check(line.Text.size() <= MaxCommandLine);
        Check(line.Text.find_first_of("\r\n") == std::string::npos);
        const TSeedLinkParse parse = ParseSeedLinkCommand(line.Text);
        Check(parse.Command.has_value() != !parse.Error.empty());
        if (!parse.Command) {
            continue;
        }
        const TSeedLinkCommand& command = *parse.Command;
        if (command.Pattern) {
            const std::optional<TStreamPattern> again = ParseStreamPattern(command.Pattern->Text());
            Check(again && *again == *command.Pattern);
            TStreamSelection selection;
            selection.Add(*command.Pattern);
            selection.Selects("00", "HHZ", 'D');
        }
        if (command.Sequence) {
            Check(*command.Sequence <= 0xFFFFFF);
        }
        if (command.Begin && command.End) {
            Check(*command.End > *command.Begin);
        }
    }

    if (const std::optional<TStreamPattern> pattern = ParseStreamPattern(text)) {
        Check(pattern->Channel.size() == 3);
        Check(pattern->Location.empty() || pattern->Location.size() == 2);
        pattern->Matches(text.substr(0, 2), text.substr(0, 3), 'D');
    }
    ParseSeedLinkTime(text);
    std::string error;
    if (const std::optional<TListenAddress> address = ParseListenAddress(text, error)) {
        std::string again;
        Check(ParseListenAddress(ListenAddressText(*address), again) == address);
    } else {
        Check(!error.empty());
    }
    error.clear();
    if (const auto ranges = ParseAddressRanges(text, error)) {
        const auto again = ParseAddressRanges(AddressRangesText(*ranges), error);
        Check(again && *again == *ranges);
        AddressAllowed(*ranges, std::array<uint8_t, 16>{});
    } else {
        Check(!error.empty());
    }
    return 0;
}
