// The [Events] and [Helicorder] sections of the settings file: the trigger of the event
// detection (the band-pass, the STA/LTA, the channels taking part and how many must trigger
// together) and what the Helicorder page shows. LoadSettings and SaveSettings read and write
// them after every other section. No Qt.
#pragma once

#include <cstdint>

#include "detect/detector_settings.h"

struct TEventSettings {
    int32_t EventBandpass = 1;  // 0 or 1: the band-pass in front of the triggers
    double EventLowHz = 1;      // the band's corners, 0 < low < high
    double EventHighHz = 10;
    int32_t EventPoles = 2;      // poles per side, 1 to 4
    double EventStaSeconds = 1;  // 0 < STA < LTA <= 3600
    double EventLtaSeconds = 30;
    double EventTriggerOn = 4;  // 0 < off < on
    double EventTriggerOff = 1.5;
    int32_t EventChannels = 0x3F;  // bit n: channel n + 1 takes part; 1 to 63
    int32_t EventCoincidence = 2;  // 1 to the number of channels taking part
    double EventHoldSeconds = 10;  // quiet time before an event ends, 0 to 600

    bool operator==(const TEventSettings&) const = default;
};

struct THelicorderSettings {
    int32_t HelicorderChannel = 1;      // 1 to 6
    int32_t HelicorderHours = 24;       // 1, 6, 12 or 24
    int32_t HelicorderRowMinutes = 30;  // 15, 30 or 60
    int32_t HelicorderGain = 0;         // the trace's zoom: 2^Gain, 0 to 23
    int32_t HelicorderBandpass = 0;     // 0 or 1: the trace through the trigger's band-pass

    bool operator==(const THelicorderSettings&) const = default;
};

// The detector's settings of the section, and back.
TDetectorSettings DetectorSettingsOf(const TEventSettings& settings);
TEventSettings EventSettingsOf(const TDetectorSettings& settings);
