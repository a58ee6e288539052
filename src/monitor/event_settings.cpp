#include "monitor/event_settings.h"

TDetectorSettings DetectorSettingsOf(const TEventSettings& s) {
    TDetectorSettings d;
    d.BandpassOn = s.EventBandpass != 0;
    d.Band = {s.EventLowHz, s.EventHighHz, s.EventPoles};
    d.StaSeconds = s.EventStaSeconds;
    d.LtaSeconds = s.EventLtaSeconds;
    d.TriggerOn = s.EventTriggerOn;
    d.TriggerOff = s.EventTriggerOff;
    d.Channels = static_cast<uint32_t>(s.EventChannels);
    d.Coincidence = s.EventCoincidence;
    d.HoldSeconds = s.EventHoldSeconds;
    return d;
}

TEventSettings EventSettingsOf(const TDetectorSettings& d) {
    TEventSettings s;
    s.EventBandpass = d.BandpassOn ? 1 : 0;
    s.EventLowHz = d.Band.LowHz;
    s.EventHighHz = d.Band.HighHz;
    s.EventPoles = d.Band.Poles;
    s.EventStaSeconds = d.StaSeconds;
    s.EventLtaSeconds = d.LtaSeconds;
    s.EventTriggerOn = d.TriggerOn;
    s.EventTriggerOff = d.TriggerOff;
    s.EventChannels = static_cast<int32_t>(d.Channels);
    s.EventCoincidence = d.Coincidence;
    s.EventHoldSeconds = d.HoldSeconds;
    return s;
}
