#include "datalink/datalink_protocol.h"

#include <charconv>

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

bool IsCodeChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// A code of a stream ID: letters, digits and '-' only (no '_', the separator, no spaces).
bool IsCode(std::string_view code) {
    for (char c : code) {
        if (!IsCodeChar(c)) {
            return false;
        }
    }
    return true;
}

// A part of the ID header: no ':' (the separator), no spaces, printable only.
std::string IdPart(const std::string& text) {
    std::string part;
    for (char c : text) {
        if (c > ' ' && c < 127 && c != ':') {
            part += c;
        } else {
            part += '_';
        }
    }
    if (part.size() > 60) {
        part.resize(60);
    }
    return part.empty() ? std::string("unknown") : part;
}

std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') {
            ++i;
        }
        const size_t begin = i;
        while (i < text.size() && text[i] != ' ') {
            ++i;
        }
        if (i > begin) {
            fields.push_back(text.substr(begin, i - begin));
        }
    }
    return fields;
}

template <typename T>
std::optional<T> NumberOf(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

int64_t HpTimeOf(TSeedTime time) {
    return time.Seconds * 1000000 + int64_t(time.Ticks) * (1000000 / TSeedTime::TicksPerSecond);
}

std::string StreamIdOf(const TLiveRecord& record) {
    std::string id;
    id.append(Trimmed(record.Network)).append("_");
    id.append(Trimmed(record.Station)).append("_");
    id.append(Trimmed(record.Location)).append("_");
    id.append(Trimmed(record.Channel)).append("/MSEED");
    return id;
}

TResult<std::string> WriteHeaderOf(const TLiveRecord& record) {
    const std::string_view codes[] = {Trimmed(record.Network), Trimmed(record.Station),
                                      Trimmed(record.Location), Trimmed(record.Channel)};
    for (size_t i = 0; i < 4; ++i) {
        if ((i != 2 && codes[i].empty()) || !IsCode(codes[i])) {
            return TError{"a record of " + PrintableText(StreamIdOf(record)) +
                          " has codes a stream ID cannot carry"};
        }
    }
    if (record.Bytes.empty()) {
        return TError{"a record of " + StreamIdOf(record) + " has no bytes"};
    }
    std::string header =
        "WRITE " + StreamIdOf(record) + " " + std::to_string(HpTimeOf(record.Start)) + " " +
        std::to_string(HpTimeOf(record.End)) + " A " + std::to_string(record.Bytes.size());
    if (header.size() > DataLinkMaxHeader) {
        return TError{"the stream ID of a record of " + StreamIdOf(record) + " is too long"};
    }
    return header;
}

std::string IdHeaderOf(const std::string& program, const std::string& user, int64_t pid,
                       const std::string& arch) {
    return "ID " + IdPart(program) + ":" + IdPart(user) + ":" + std::to_string(pid) + ":" +
           IdPart(arch);
}

void AppendDataLinkPacket(std::vector<uint8_t>& out, const std::string& header, const uint8_t* data,
                          size_t size) {
    out.push_back('D');
    out.push_back('L');
    out.push_back(uint8_t(header.size()));
    out.insert(out.end(), header.begin(), header.end());
    if (size > 0) {
        out.insert(out.end(), data, data + size);
    }
}

TResult<std::vector<std::string>> CapabilitiesOf(std::string_view header) {
    const std::vector<std::string_view> fields = Fields(header);
    if (fields.empty() || fields[0] != "ID") {
        return TError{"the answer to ID is \"" + PrintableText(header) + "\""};
    }
    std::vector<std::string> capabilities;
    const size_t mark = header.find(" :: ");
    if (mark != std::string_view::npos) {
        for (std::string_view field : Fields(header.substr(mark + 4))) {
            capabilities.emplace_back(field);
        }
    }
    return capabilities;
}

TResult<TDataLinkAnswer> AnswerOf(std::string_view header) {
    const std::vector<std::string_view> fields = Fields(header);
    if (fields.size() != 3 || (fields[0] != "OK" && fields[0] != "ERROR")) {
        return TError{"an answer \"" + PrintableText(header) + "\""};
    }
    const std::optional<int64_t> value = NumberOf<int64_t>(fields[1]);
    const std::optional<uint64_t> size = NumberOf<uint64_t>(fields[2]);
    if (!value || !size) {
        return TError{"an answer \"" + PrintableText(header) + "\""};
    }
    if (*size > DataLinkMaxMessage) {
        return TError{"an answer announcing " + std::string(fields[2]) + " bytes of message"};
    }
    TDataLinkAnswer answer;
    answer.Ok = fields[0] == "OK";
    answer.Value = *value;
    answer.Size = size_t(*size);
    return answer;
}

void TDataLinkReader::Feed(const uint8_t* data, size_t size) {
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + std::ptrdiff_t(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + size);
}

TResult<std::optional<std::string>> TDataLinkReader::NextHeader() {
    const size_t waiting = Waiting();
    const uint8_t* p = buffer_.data() + start_;
    if ((waiting >= 1 && p[0] != 'D') || (waiting >= 2 && p[1] != 'L')) {
        const std::string bytes(reinterpret_cast<const char*>(p), std::min<size_t>(waiting, 16));
        return TError{"bytes that are not a DataLink packet (\"" + PrintableText(bytes, 16) +
                      "\")"};
    }
    if (waiting < 3) {
        return std::optional<std::string>();
    }
    const size_t length = p[2];
    if (length == 0) {
        return TError{"a packet with an empty header"};
    }
    if (waiting < 3 + length) {
        return std::optional<std::string>();
    }
    std::string header(reinterpret_cast<const char*>(p + 3), length);
    for (char c : header) {
        if (c < ' ' || c > '~') {
            return TError{"a header with control characters (\"" + PrintableText(header) + "\")"};
        }
    }
    start_ += 3 + length;
    return std::optional<std::string>(std::move(header));
}

std::optional<std::string> TDataLinkReader::TakeData(size_t size) {
    if (Waiting() < size) {
        return std::nullopt;
    }
    std::string data(reinterpret_cast<const char*>(buffer_.data() + start_), size);
    start_ += size;
    return data;
}

std::string PrintableText(std::string_view text, size_t limit) {
    std::string out;
    for (char c : text) {
        if (out.size() >= limit) {
            out += "...";
            break;
        }
        out += (c >= ' ' && c <= '~') ? c : '?';
    }
    return out;
}
