#include "seedlink/command.h"

#include <charconv>

#include "seedfile/seed_time.h"

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

std::string UpperText(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = Upper(c);
    }
    return out;
}

bool IsCodeChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '?';
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

bool ParseWhole(std::string_view text, int& value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

std::optional<uint32_t> ParseSequence(std::string_view text) {
    if (text.empty() || text.size() > 6) {
        return std::nullopt;
    }
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

TSeedLinkParse Refuse(std::string reason) {
    TSeedLinkParse parse;
    parse.Error = std::move(reason);
    return parse;
}

TSeedLinkParse Accept(TSeedLinkCommand command) {
    TSeedLinkParse parse;
    parse.Command = std::move(command);
    return parse;
}

}  // namespace

bool WildcardMatches(std::string_view pattern, std::string_view text) {
    if (pattern == "*") {
        return true;
    }
    if (pattern.size() != text.size()) {
        return false;
    }
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '?' && Upper(pattern[i]) != Upper(text[i])) {
            return false;
        }
    }
    return true;
}

bool TStreamPattern::Matches(std::string_view location, std::string_view channel, char type) const {
    if (Type != '?' && Upper(type) != Type) {
        return false;
    }
    if (!Location.empty()) {
        std::string padded(location.substr(0, 2));
        padded.resize(2, ' ');
        for (size_t i = 0; i < 2; ++i) {
            const char want = Location[i];
            if (want == '?') {
                continue;
            }
            if (want == '-' ? padded[i] != ' ' : Upper(padded[i]) != want) {
                return false;
            }
        }
    }
    return WildcardMatches(Channel, channel);
}

std::string TStreamPattern::Text() const {
    std::string text = Negated ? "!" : "";
    text += Location + Channel;
    text += '.';
    text += Type;
    return text;
}

std::optional<TStreamPattern> ParseStreamPattern(std::string_view text) {
    TStreamPattern pattern;
    if (!text.empty() && text.front() == '!') {
        pattern.Negated = true;
        text.remove_prefix(1);
    }
    const size_t dot = text.find('.');
    std::string_view body = text.substr(0, dot);
    if (dot != std::string_view::npos) {
        const std::string_view type = text.substr(dot + 1);
        if (type.size() != 1) {
            return std::nullopt;
        }
        const char t = Upper(type[0]);
        if (std::string_view("DECTLO?").find(t) == std::string_view::npos) {
            return std::nullopt;
        }
        pattern.Type = t;
    }
    if (body.size() != 3 && body.size() != 5) {
        return std::nullopt;
    }
    const std::string upper = UpperText(body);
    if (body.size() == 5) {
        pattern.Location = upper.substr(0, 2);
        for (const char c : pattern.Location) {
            if (!IsCodeChar(c) && c != '-') {
                return std::nullopt;
            }
        }
    }
    pattern.Channel = upper.substr(upper.size() - 3);
    for (const char c : pattern.Channel) {
        if (!IsCodeChar(c)) {
            return std::nullopt;
        }
    }
    return pattern;
}

void TStreamSelection::Add(const TStreamPattern& pattern) {
    patterns_.push_back(pattern);
}

bool TStreamSelection::Selects(std::string_view location, std::string_view channel,
                               char type) const {
    bool anyPositive = false;
    bool positive = false;
    for (const TStreamPattern& pattern : patterns_) {
        if (pattern.Negated) {
            if (pattern.Matches(location, channel, type)) {
                return false;
            }
        } else {
            anyPositive = true;
            positive = positive || pattern.Matches(location, channel, type);
        }
    }
    return !anyPositive || positive;
}

std::string TStreamSelection::Text() const {
    if (patterns_.empty()) {
        return "*";
    }
    std::string text;
    for (const TStreamPattern& pattern : patterns_) {
        text += (text.empty() ? "" : " ") + pattern.Text();
    }
    return text;
}

std::optional<int64_t> ParseSeedLinkTime(std::string_view text) {
    int fields[6] = {};
    int count = 0;
    int64_t micro = 0;
    size_t start = 0;
    while (count < 6) {
        const size_t comma = text.find(',', start);
        std::string_view field = text.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (count == 5) {
            if (comma != std::string_view::npos) {
                return std::nullopt;
            }
            const size_t point = field.find('.');
            if (point != std::string_view::npos) {
                std::string_view fraction = field.substr(point + 1);
                field = field.substr(0, point);
                if (fraction.empty() || fraction.size() > 6) {
                    return std::nullopt;
                }
                int digits = 0;
                if (!ParseWhole(fraction, digits)) {
                    return std::nullopt;
                }
                micro = digits;
                for (size_t k = fraction.size(); k < 6; ++k) {
                    micro *= 10;
                }
            }
        }
        if (!ParseWhole(field, fields[count])) {
            return std::nullopt;
        }
        ++count;
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (count != 6 || fields[0] < 1900 || fields[0] > 2500 || fields[3] > 23 || fields[4] > 59 ||
        fields[5] > 60) {
        return std::nullopt;
    }
    const std::optional<TSeedTime> time =
        SeedTimeOf(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]);
    if (!time) {
        return std::nullopt;
    }
    return time->Seconds * 1000000 + micro;
}

TSeedLinkParse ParseSeedLinkCommand(std::string_view line) {
    if (line.size() > MaxCommandLine) {
        return Refuse("the line is longer than 255 bytes");
    }
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u >= 0x7F) {
            return Refuse("the line holds a byte that is not printable ASCII");
        }
    }
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) {
        return Refuse("an empty line");
    }
    const std::string verb = UpperText(words[0]);
    const size_t args = words.size() - 1;
    TSeedLinkCommand command;
    const auto noArguments = [&](TSeedLinkVerb v) {
        if (args != 0) {
            return Refuse(verb + " takes no arguments");
        }
        command.Verb = v;
        return Accept(command);
    };
    if (verb == "HELLO") {
        return noArguments(TSeedLinkVerb::Hello);
    }
    if (verb == "CAT") {
        return noArguments(TSeedLinkVerb::Cat);
    }
    if (verb == "BYE") {
        return noArguments(TSeedLinkVerb::Bye);
    }
    if (verb == "END") {
        return noArguments(TSeedLinkVerb::End);
    }
    if (verb == "STATION") {
        if (args < 1 || args > 2) {
            return Refuse("STATION takes a station code and an optional network code");
        }
        command.Verb = TSeedLinkVerb::Station;
        command.Station = UpperText(words[1]);
        command.Network = args == 2 ? UpperText(words[2]) : "";
        const auto valid = [](const std::string& code, size_t max) {
            if (code == "*") {
                return true;
            }
            if (code.empty() || code.size() > max) {
                return false;
            }
            for (const char c : code) {
                if (!IsCodeChar(c)) {
                    return false;
                }
            }
            return true;
        };
        if (!valid(command.Station, 5) || (args == 2 && !valid(command.Network, 2))) {
            return Refuse("a station code is up to 5 and a network code up to 2 letters or digits");
        }
        return Accept(command);
    }
    if (verb == "SELECT") {
        if (args > 1) {
            return Refuse("SELECT takes one pattern");
        }
        command.Verb = TSeedLinkVerb::Select;
        if (args == 1) {
            command.Pattern = ParseStreamPattern(words[1]);
            if (!command.Pattern) {
                return Refuse("a SELECT pattern is [!][LL]CCC[.T]");
            }
        }
        return Accept(command);
    }
    if (verb == "DATA" || verb == "FETCH") {
        command.Verb = verb == "DATA" ? TSeedLinkVerb::Data : TSeedLinkVerb::Fetch;
        if (args > 2) {
            return Refuse(verb + " takes a sequence number and a time at most");
        }
        if (args >= 1) {
            command.Sequence = ParseSequence(words[1]);
            if (!command.Sequence) {
                return Refuse("a sequence number is up to six hexadecimal digits");
            }
        }
        if (args == 2) {
            command.Begin = ParseSeedLinkTime(words[2]);
            if (!command.Begin) {
                return Refuse("a time is YYYY,MM,DD,hh,mm,ss");
            }
        }
        return Accept(command);
    }
    if (verb == "TIME") {
        if (args < 1 || args > 2) {
            return Refuse("TIME takes a begin time and an optional end time");
        }
        command.Verb = TSeedLinkVerb::Time;
        command.Begin = ParseSeedLinkTime(words[1]);
        if (args == 2) {
            command.End = ParseSeedLinkTime(words[2]);
        }
        if (!command.Begin || (args == 2 && !command.End)) {
            return Refuse("a time is YYYY,MM,DD,hh,mm,ss");
        }
        if (command.End && *command.End <= *command.Begin) {
            return Refuse("the end time is not after the begin time");
        }
        return Accept(command);
    }
    if (verb == "INFO") {
        if (args != 1) {
            return Refuse("INFO takes one level");
        }
        command.Verb = TSeedLinkVerb::Info;
        // A level the server does not know is answered with an error INFO packet.
        command.Level = UpperText(words[1]);
        return Accept(command);
    }
    return Refuse("an unknown command");
}

void TCommandLines::Feed(std::string_view bytes, std::vector<TLine>& out) {
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!discarding_ && !partial_.empty()) {
                out.push_back({partial_, false});
            }
            partial_.clear();
            discarding_ = false;
            continue;
        }
        if (discarding_) {
            continue;
        }
        if (partial_.size() >= MaxCommandLine) {
            out.push_back({std::string(), true});
            partial_.clear();
            discarding_ = true;
            continue;
        }
        partial_ += c;
    }
}
