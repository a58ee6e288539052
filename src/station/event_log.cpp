#include "station/event_log.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/json_text.h"

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::isfinite(value) ? value : 0.0);
    return text;
}

std::string GeneralText(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", std::isfinite(value) ? value : 0.0);
    return text;
}

// `value` rounded to `decimals` places (0 when it is not finite), as a JSON number.
double Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::isfinite(value) ? std::round(value * scale) / scale : 0.0;
}

// `value` to 6 significant digits, as a JSON number: whole numbers without a fraction.
nlohmann::ordered_json General(double value) {
    const std::string text = GeneralText(value);
    double rounded = 0;
    std::from_chars(text.data(), text.data() + text.size(), rounded);
    if (std::abs(rounded) < 1e15 && rounded == std::trunc(rounded)) {
        return static_cast<int64_t>(rounded);
    }
    return rounded;
}

nlohmann::ordered_json ChannelArray(const std::vector<int>& channels) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const int c : channels) {
        array.push_back(c + 1);
    }
    return array;
}

nlohmann::ordered_json SeedIdArray(const std::vector<int>& channels, const TEventPlace& place) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const int c : channels) {
        array.push_back(c >= 0 && c < 6 ? place.SeedIds[static_cast<size_t>(c)] : "");
    }
    return array;
}

nlohmann::ordered_json Head(const char* kind, const TEvent& event, uint64_t id,
                            const TEventPlace& place) {
    return {{"kind", kind},
            {"id", id},
            {"network", place.Network},
            {"station", place.Station},
            {"start", FormatSampleTime(event.Start)}};
}

}  // namespace

std::optional<double> PeakGround(const TEventChannel& channel,
                                 const std::array<std::optional<TSensor>, 2>& sensors) {
    const std::optional<TSensor>& sensor = sensors[channel.Channel < 3 ? 0 : 1];
    if (!sensor || !(sensor->Sensitivity > 0)) {
        return std::nullopt;
    }
    return channel.PeakVolts / sensor->Sensitivity;
}

std::string TriggeredChannelText(const TEvent& event) {
    std::string text;
    for (const int c : event.TriggeredChannels()) {
        text += (text.empty() ? "" : ",") + std::to_string(c + 1);
    }
    return text;
}

std::string TriggeredSeedIds(const TEvent& event, const TEventPlace& place, char separator) {
    std::string text;
    for (const int c : event.TriggeredChannels()) {
        if (c >= 0 && c < 6) {
            text += (text.empty() ? "" : std::string(1, separator)) +
                    place.SeedIds[static_cast<size_t>(c)];
        }
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
    nlohmann::ordered_json json = Head("start", event, id, place);
    json["sample_rate"] = General(event.SampleRate);
    json["channels"] = ChannelArray(event.TriggeredChannels());
    json["peak_ratio"] = Rounded(TriggeredPeakRatio(event), 3);
    json["coincidence"] = FormatSampleTime(event.Coincidence);
    json["calibration"] = event.Calibration;
    json["seed_ids"] = SeedIdArray(event.TriggeredChannels(), place);
    return JsonText(json);
}

std::string EventEndJson(const TEvent& event, uint64_t id, const TEventPlace& place) {
    nlohmann::ordered_json json = Head("end", event, id, place);
    json["end"] = FormatSampleTime(event.End);
    json["duration"] = Rounded(event.Seconds(), 6);
    json["cut"] = event.Cut;
    json["sample_rate"] = General(event.SampleRate);
    json["channels"] = ChannelArray(event.TriggeredChannels());
    json["peak_ratio"] = Rounded(event.PeakRatio, 3);
    nlohmann::ordered_json& channels = json["per_channel"] = nlohmann::ordered_json::array();
    for (const TEventChannel& c : event.Channels) {
        nlohmann::ordered_json channel = {
            {"channel", c.Channel + 1},
            {"triggered", c.Triggered},
            {"first_trigger", c.Triggered ? nlohmann::ordered_json(FormatSampleTime(c.FirstTrigger))
                                          : nlohmann::ordered_json()},
            {"peak_ratio", Rounded(c.PeakRatio, 3)},
            {"peak_counts", Rounded(c.PeakCounts, 1)},
            {"peak_volts", General(c.PeakVolts)},
            {"clipped", c.Clipped},
            {"seed_id", SeedIdArray({c.Channel}, place)[0]}};
        if (const std::optional<double> ground = PeakGround(c, place.Sensors)) {
            channel["peak_ground"] = General(*ground);
            channel["ground_units"] = place.Sensors[c.Channel < 3 ? 0 : 1]->InputUnits;
        }
        channels.push_back(std::move(channel));
    }
    json["coincidence"] = FormatSampleTime(event.Coincidence);
    json["calibration"] = event.Calibration;
    json["clipped"] = event.Clipped();
    json["peak_filter"] = event.PeakFilter;
    json["seed_ids"] = SeedIdArray(event.TriggeredChannels(), place);
    return JsonText(json);
}

std::string EventCsvHeader() {
    std::string header = "id,start,end,duration_s,cut,channels,peak_ratio";
    for (int c = 1; c <= 6; ++c) {
        header += ",ch" + std::to_string(c) + "_peak_counts,ch" + std::to_string(c) + "_peak_volts";
    }
    header += ",coincidence,calibration,clipped_channels,peak_filter";
    for (int c = 1; c <= 6; ++c) {
        header +=
            ",ch" + std::to_string(c) + "_peak_ground,ch" + std::to_string(c) + "_ground_units";
    }
    return header + ",seed_ids";
}

std::string EventCsvRow(const TEvent& event, uint64_t id, const TEventPlace& place) {
    const std::array<std::optional<TSensor>, 2>& sensors = place.Sensors;
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
            row += "," + Fixed(part->PeakCounts, 1) + "," + GeneralText(part->PeakVolts);
        }
    }
    std::string clipped;
    for (const TEventChannel& c : event.Channels) {
        if (c.Clipped) {
            clipped += (clipped.empty() ? "" : " ") + std::to_string(c.Channel + 1);
        }
    }
    row += "," + FormatSampleTime(event.Coincidence) + "," + (event.Calibration ? "yes" : "no") +
           "," + clipped + "," + event.PeakFilter;
    for (int c = 0; c < 6; ++c) {
        const auto part = std::find_if(event.Channels.begin(), event.Channels.end(),
                                       [c](const TEventChannel& e) { return e.Channel == c; });
        const std::optional<double> ground =
            part == event.Channels.end() ? std::nullopt : PeakGround(*part, sensors);
        row += ground ? "," + GeneralText(*ground) + "," + sensors[c < 3 ? 0 : 1]->InputUnits
                      : std::string(",,");
    }
    return row + "," + TriggeredSeedIds(event, place, ' ');
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
