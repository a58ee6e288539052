// The [Events] section of digitizer-station's configuration: whether the station watches the
// blocks for events, the trigger's settings, where each event is written and the command run
// at the start of each. Every key is also a command-line option (the table below), read by the
// station's configuration reader as the [Station] keys are.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "detect/detector_settings.h"

struct TEventConfig {
    // Detection is off unless asked for (--trigger, Enable=yes): it costs nothing then, and a
    // station that records only is not surprised by files or commands it did not ask for.
    bool Enabled = false;
    TDetectorSettings Detector;
    // The events, one JSON object per line; empty: events.jsonl in the archive (EventsFilePath).
    std::string File;
    std::string CsvFile;  // one row per ended event; empty: none
    // Run at the start of each event, split into words by SplitCommand; empty: none.
    std::string Command;
    int CommandSeconds = 60;  // the command's time limit, 1..3600

    bool operator==(const TEventConfig& other) const;
};

// One key of the section: its name in the file, its option (nullptr: none), how a value is
// taken (the reason for a refusal, empty when taken) and how the value in force is written.
struct TEventKey {
    const char* IniName;
    const char* Option;
    std::function<std::string(TEventConfig&, const std::string&)> Set;
    std::function<std::string(const TEventConfig&)> Get;
};

inline constexpr char EventSectionName[] = "Events";

// The keys in the order --print-config writes them. Enable has no option of its own:
// --trigger and --no-trigger set it.
const std::vector<TEventKey>& EventKeys();

// What the keys cannot say one by one: the lower corner below the upper, the STA shorter than
// the LTA, the trigger-off ratio below the trigger-on ratio, the coincidence no more than the
// channels taking part. Empty when they fit; else the keys, their values and the reason.
std::string CheckEventConfig(const TEventConfig& config);

// The events file: File, or events.jsonl in `archive`.
std::string EventsFilePath(const TEventConfig& config, const std::string& archive);

// Shared by the sections' keys. A number as written back: the shortest %g form that reads
// back as the same number.
std::string ConfigNumberText(double value);
// A finite decimal number (digits, one point, an exponent), from min to max.
bool ParseConfigNumber(const std::string& text, double min, double max, double& value);
// A whole decimal number of digits only, from min to max.
bool ParseConfigWhole(const std::string& text, long min, long max, long& value);
// Why a command's text cannot be split into words (SplitCommand); empty when it can or when it
// is empty (no command).
std::string CommandTextProblem(const std::string& text);
