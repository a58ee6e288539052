#include "station/event_config.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "station/event_command.h"

namespace {

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = char(c - 'A' + 'a');
        }
    }
    return text;
}

bool HasControl(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

// A number as written back: the shortest %g form that reads back as the same number.
std::string ConfigNumberText(double value) {
    char text[40];
    for (const int digits : {6, 10, 17}) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) {
            break;
        }
    }
    return text;
}

// A finite decimal number (digits, one point, an exponent), from min to max.
bool ParseConfigNumber(const std::string& text, double min, double max, double& value) {
    if (text.empty() || text.size() > 40) {
        return false;
    }
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-')) {
            return false;
        }
    }
    char* end = nullptr;
    const double number = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(number) || number < min ||
        number > max) {
        return false;
    }
    value = number;
    return true;
}

bool ParseConfigWhole(const std::string& text, long min, long max, long& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    long number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + (c - '0');
    }
    if (number < min || number > max) {
        return false;
    }
    value = number;
    return true;
}

namespace {

std::string YesNoText(bool value) {
    return value ? "yes" : "no";
}

std::string SetYesNo(bool& field, const std::string& value) {
    const std::string lower = Lower(value);
    if (lower == "yes" || lower == "true" || lower == "1" || lower == "on") {
        field = true;
    } else if (lower == "no" || lower == "false" || lower == "0" || lower == "off") {
        field = false;
    } else {
        return "must be yes or no (or true/false, 1/0, on/off)";
    }
    return "";
}

TEventKey NumberKey(const char* ini, const char* option, double TDetectorSettings::*field,
                    double min, double max, const char* reason) {
    return TEventKey{ini, option,
                     [=](TEventConfig& c, const std::string& v) -> std::string {
                         double number = 0;
                         if (!ParseConfigNumber(v, min, max, number)) {
                             return reason;
                         }
                         c.Detector.*field = number;
                         return "";
                     },
                     [=](const TEventConfig& c) { return ConfigNumberText(c.Detector.*field); }};
}

TEventKey CornerKey(const char* ini, const char* option, double TBandpassDesign::*field) {
    return TEventKey{
        ini, option,
        [=](TEventConfig& c, const std::string& v) -> std::string {
            double number = 0;
            if (!ParseConfigNumber(v, 0, 1000, number) || !(number > 0)) {
                return "must be a frequency above 0 Hz, at most 1000 Hz";
            }
            c.Detector.Band.*field = number;
            return "";
        },
        [=](const TEventConfig& c) { return ConfigNumberText(c.Detector.Band.*field); }};
}

TEventKey PathKey(const char* ini, const char* option, std::string TEventConfig::*field) {
    return TEventKey{ini, option,
                     [=](TEventConfig& c, const std::string& v) -> std::string {
                         if (HasControl(v)) {
                             return "must not contain control characters";
                         }
                         c.*field = v;
                         return "";
                     },
                     [=](const TEventConfig& c) { return c.*field; }};
}

std::string SetChannels(TEventConfig& config, const std::string& value) {
    const std::optional<uint32_t> channels = ParseChannelList(value);
    if (!channels) {
        return "must be channel numbers 1 to 6 or ranges such as 1-3, joined by , or + (1-6: all)";
    }
    config.Detector.Channels = *channels;
    return "";
}

std::string SetCommand(TEventConfig& config, const std::string& value) {
    if (std::string problem = CommandTextProblem(value); !problem.empty()) {
        return problem;
    }
    config.Command = value;
    return "";
}

}  // namespace

bool TEventConfig::operator==(const TEventConfig& o) const {
    const TDetectorSettings& a = Detector;
    const TDetectorSettings& b = o.Detector;
    return Enabled == o.Enabled && a.BandpassOn == b.BandpassOn && a.Band.LowHz == b.Band.LowHz &&
           a.Band.HighHz == b.Band.HighHz && a.Band.Poles == b.Band.Poles &&
           a.StaSeconds == b.StaSeconds && a.LtaSeconds == b.LtaSeconds &&
           a.TriggerOn == b.TriggerOn && a.TriggerOff == b.TriggerOff && a.Channels == b.Channels &&
           a.Coincidence == b.Coincidence && a.HoldSeconds == b.HoldSeconds && File == o.File &&
           CsvFile == o.CsvFile && Command == o.Command && CommandSeconds == o.CommandSeconds;
}

const std::vector<TEventKey>& EventKeys() {
    static const std::vector<TEventKey> keys = {
        {"Enable", nullptr,
         [](TEventConfig& c, const std::string& v) { return SetYesNo(c.Enabled, v); },
         [](const TEventConfig& c) { return YesNoText(c.Enabled); }},
        {"Bandpass", "--trigger-bandpass",
         [](TEventConfig& c, const std::string& v) { return SetYesNo(c.Detector.BandpassOn, v); },
         [](const TEventConfig& c) { return YesNoText(c.Detector.BandpassOn); }},
        CornerKey("LowHz", "--trigger-low", &TBandpassDesign::LowHz),
        CornerKey("HighHz", "--trigger-high", &TBandpassDesign::HighHz),
        {"Poles", "--trigger-poles",
         [](TEventConfig& c, const std::string& v) -> std::string {
             long poles = 0;
             if (!ParseConfigWhole(v, 1, 4, poles)) {
                 return "must be 1 to 4 (poles on each side of the band)";
             }
             c.Detector.Band.Poles = int(poles);
             return "";
         },
         [](const TEventConfig& c) { return std::to_string(c.Detector.Band.Poles); }},
        NumberKey("StaSeconds", "--trigger-sta", &TDetectorSettings::StaSeconds, 0.01, 3600,
                  "must be 0.01 to 3600 seconds"),
        NumberKey("LtaSeconds", "--trigger-lta", &TDetectorSettings::LtaSeconds, 0.01, 3600,
                  "must be 0.01 to 3600 seconds"),
        NumberKey("TriggerOn", "--trigger-on", &TDetectorSettings::TriggerOn, 0.01, 1000,
                  "must be a ratio of 0.01 to 1000"),
        NumberKey("TriggerOff", "--trigger-off", &TDetectorSettings::TriggerOff, 0.01, 1000,
                  "must be a ratio of 0.01 to 1000"),
        {"Channels", "--trigger-channels", SetChannels,
         [](const TEventConfig& c) { return ChannelListText(c.Detector.Channels); }},
        {"Coincidence", "--trigger-coincidence",
         [](TEventConfig& c, const std::string& v) -> std::string {
             long count = 0;
             if (!ParseConfigWhole(v, 1, 6, count)) {
                 return "must be 1 to 6 (channels triggered together)";
             }
             c.Detector.Coincidence = int(count);
             return "";
         },
         [](const TEventConfig& c) { return std::to_string(c.Detector.Coincidence); }},
        NumberKey("HoldSeconds", "--trigger-hold", &TDetectorSettings::HoldSeconds, 0, 600,
                  "must be 0 to 600 seconds"),
        PathKey("File", "--events-file", &TEventConfig::File),
        PathKey("CsvFile", "--events-csv", &TEventConfig::CsvFile),
        {"OnEvent", "--on-event", SetCommand, [](const TEventConfig& c) { return c.Command; }},
        {"OnEventSeconds", "--on-event-seconds",
         [](TEventConfig& c, const std::string& v) -> std::string {
             long seconds = 0;
             if (!ParseConfigWhole(v, 1, 3600, seconds)) {
                 return "must be 1 to 3600 seconds";
             }
             c.CommandSeconds = int(seconds);
             return "";
         },
         [](const TEventConfig& c) { return std::to_string(c.CommandSeconds); }},
    };
    return keys;
}

std::string CheckEventConfig(const TEventConfig& config) {
    const TDetectorSettings& d = config.Detector;
    const std::string where = std::string("[") + EventSectionName + "] ";
    if (d.BandpassOn && !(d.Band.LowHz < d.Band.HighHz)) {
        return where + "LowHz=" + ConfigNumberText(d.Band.LowHz) +
               ", HighHz=" + ConfigNumberText(d.Band.HighHz) +
               " (--trigger-low, --trigger-high): the lower corner must be below the upper";
    }
    if (!(d.StaSeconds < d.LtaSeconds)) {
        return where + "StaSeconds=" + ConfigNumberText(d.StaSeconds) +
               ", LtaSeconds=" + ConfigNumberText(d.LtaSeconds) +
               " (--trigger-sta, --trigger-lta): the STA must be shorter than the LTA";
    }
    if (!(d.TriggerOff < d.TriggerOn)) {
        return where + "TriggerOn=" + ConfigNumberText(d.TriggerOn) +
               ", TriggerOff=" + ConfigNumberText(d.TriggerOff) +
               " (--trigger-on, --trigger-off): the trigger-off ratio must be below the "
               "trigger-on ratio";
    }
    if (d.Coincidence > ChannelCountOf(d.Channels)) {
        return where + "Coincidence=" + std::to_string(d.Coincidence) +
               ", Channels=" + ChannelListText(d.Channels) +
               " (--trigger-coincidence, --trigger-channels): more channels must trigger "
               "together than take part";
    }
    if (const TStatus valid = ValidateDetectorSettings(d); !valid) {
        return where + valid.Error().Text;
    }
    return "";
}

std::string CommandTextProblem(const std::string& text) {
    if (!text.empty()) {
        const TResult<std::vector<std::string>> words = SplitCommand(text);
        if (!words) {
            return words.Error().Text;
        }
    }
    return "";
}

std::string EventsFilePath(const TEventConfig& config, const std::string& archive) {
    if (!config.File.empty()) {
        return config.File;
    }
    return archive + "/events.jsonl";
}
