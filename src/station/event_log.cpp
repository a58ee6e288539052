#include "station/event_log.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::isfinite(value) ? value : 0.0);
    return text;
}

std::string General(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", std::isfinite(value) ? value : 0.0);
    return text;
}

std::string TimeJson(const TSampleTime& time) {
    return "\"" + FormatSampleTime(time) + "\"";
}

std::string ChannelArray(const std::vector<int>& channels) {
    std::string text = "[";
    for (size_t i = 0; i < channels.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(channels[i] + 1);
    }
    return text + "]";
}

std::string Head(const char* kind, const TEvent& event, uint64_t id, const TEventPlace& place) {
    return std::string("{\"kind\":\"") + kind + "\",\"id\":" + std::to_string(id) +
           ",\"network\":" + EventJsonString(place.Network) +
           ",\"station\":" + EventJsonString(place.Station) + ",\"start\":" + TimeJson(event.Start);
}

}  // namespace

std::string EventJsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else if (byte > 0x7F) {
            out += '?';
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string TriggeredChannelText(const TEvent& event) {
    std::string text;
    for (const int c : event.TriggeredChannels()) {
        text += (text.empty() ? "" : ",") + std::to_string(c + 1);
    }
    return text;
}

double TriggeredPeakRatio(const TEvent& event) {
    double peak = 0;
    for (const TEventChannel& c : event.Channels) {
        if (c.Triggered) {
            peak = std::max(peak, c.PeakRatio);
        }
    }
    return peak;
}

std::string EventStartJson(const TEvent& event, uint64_t id, const TEventPlace& place) {
    return Head("start", event, id, place) + ",\"sample_rate\":" + General(event.SampleRate) +
           ",\"channels\":" + ChannelArray(event.TriggeredChannels()) +
           ",\"peak_ratio\":" + Fixed(TriggeredPeakRatio(event), 3) + "}";
}

std::string EventEndJson(const TEvent& event, uint64_t id, const TEventPlace& place) {
    std::string json = Head("end", event, id, place) + ",\"end\":" + TimeJson(event.End) +
                       ",\"duration\":" + Fixed(event.Seconds(), 6) +
                       ",\"cut\":" + (event.Cut ? "true" : "false") +
                       ",\"sample_rate\":" + General(event.SampleRate) +
                       ",\"channels\":" + ChannelArray(event.TriggeredChannels()) +
                       ",\"peak_ratio\":" + Fixed(event.PeakRatio, 3) + ",\"per_channel\":[";
    for (size_t i = 0; i < event.Channels.size(); ++i) {
        const TEventChannel& c = event.Channels[i];
        json += std::string(i == 0 ? "" : ",") + "{\"channel\":" + std::to_string(c.Channel + 1) +
                ",\"triggered\":" + (c.Triggered ? "true" : "false") +
                ",\"first_trigger\":" + (c.Triggered ? TimeJson(c.FirstTrigger) : "null") +
                ",\"peak_ratio\":" + Fixed(c.PeakRatio, 3) +
                ",\"peak_counts\":" + Fixed(c.PeakCounts, 1) +
                ",\"peak_volts\":" + General(c.PeakVolts) + "}";
    }
    return json + "]}";
}

std::string EventCsvHeader() {
    std::string header = "id,start,end,duration_s,cut,channels,peak_ratio";
    for (int c = 1; c <= 6; ++c) {
        header += ",ch" + std::to_string(c) + "_peak_counts,ch" + std::to_string(c) + "_peak_volts";
    }
    return header;
}

std::string EventCsvRow(const TEvent& event, uint64_t id) {
    std::string channels;
    for (const int c : event.TriggeredChannels()) {
        channels += (channels.empty() ? "" : " ") + std::to_string(c + 1);
    }
    std::string row = std::to_string(id) + "," + FormatSampleTime(event.Start) + "," +
                      FormatSampleTime(event.End) + "," + Fixed(event.Seconds(), 6) + "," +
                      (event.Cut ? "yes" : "no") + "," + channels + "," + Fixed(event.PeakRatio, 3);
    for (int c = 0; c < 6; ++c) {
        const auto part = std::find_if(event.Channels.begin(), event.Channels.end(),
                                       [c](const TEventChannel& e) { return e.Channel == c; });
        if (part == event.Channels.end()) {
            row += ",,";
        } else {
            row += "," + Fixed(part->PeakCounts, 1) + "," + General(part->PeakVolts);
        }
    }
    return row;
}

TAppendFile::TAppendFile(std::string path, std::string header)
    : path_(std::move(path)), header_(std::move(header)) {}

TAppendFile::~TAppendFile() {
    Close();
}

void TAppendFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

TStatus TAppendFile::Open() {
    fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
               0644);
    if (fd_ < 0 && errno == ENOENT) {
        const std::filesystem::path parent = std::filesystem::path(path_).parent_path();
        std::error_code error;
        if (!parent.empty()) {
            std::filesystem::create_directories(parent, error);
        }
        fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                   0644);
    }
    if (fd_ < 0) {
        return SystemError(path_, errno);
    }
    struct stat info {};
    if (fstat(fd_, &info) != 0) {
        const int error = errno;
        Close();
        return SystemError(path_, error);
    }
    if (!S_ISREG(info.st_mode)) {
        Close();
        return TError{path_ + ": not a regular file"};
    }
    if (info.st_size == 0 && !header_.empty()) {
        if (TStatus written = WriteWhole(header_ + "\n"); !written) {
            Close();
            return written;
        }
    }
    return {};
}

TStatus TAppendFile::WriteWhole(const std::string& text) {
    struct stat before {};
    const bool sized = fstat(fd_, &before) == 0;
    size_t done = 0;
    if (const TStatus written = WriteAll(fd_, text, &done); !written) {
        if (done > 0 && sized) {
            // Half a line is worse than none: take it back.
            [[maybe_unused]] const int ignored = ftruncate(fd_, before.st_size);
        }
        return SystemError(path_, written.Error().Errno);
    }
    return {};
}

TStatus TAppendFile::Append(const std::string& line) {
    if (fd_ < 0) {
        if (TStatus opened = Open(); !opened) {
            return opened;
        }
    }
    TStatus written = WriteWhole(line + "\n");
    if (!written) {
        Close();
    }
    return written;
}
