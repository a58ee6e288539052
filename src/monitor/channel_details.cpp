#include "monitor/channel_details.h"

#include "monitor/voltage_format.h"

std::array<TDetailsPlacement, MaxChannels> LayOutChannelDetails(
    int panelHeight, std::span<const bool, MaxChannels> displayed, int channelCount) {
    std::array<bool, MaxChannels> shown{};
    int k = 0;
    for (int c = 0; c < MaxChannels; ++c) {
        shown[c] = displayed[c] && c < channelCount;
        k += shown[c] ? 1 : 0;
    }
    return LayOutDetailsSlots(panelHeight, shown, k);
}

std::array<TDetailsPlacement, MaxChannels> LayOutDetailsSlots(
    int panelHeight, std::span<const bool, MaxChannels> shown, int slotCount) {
    std::array<TDetailsPlacement, MaxChannels> placements{};
    int slot = 0;
    for (int c = 0; c < MaxChannels && slotCount > 0; ++c) {
        if (!shown[c]) {
            continue;
        }
        TDetailsPlacement& placement = placements[c];
        placement.Shown = true;
        placement.BevelTop = static_cast<int>(int64_t{panelHeight} * slot / slotCount);
        for (int i = 0; i < DetailsLabelCount; ++i) {
            placement.LabelTops[i] = placement.BevelTop + 4 + i * DetailsLabelStep;
        }
        ++slot;
    }
    return placements;
}

TChannelDetailsTexts ChannelDetailsTexts(int channel, const TChannelHistory& history,
                                         int samplesPerBlock, const TChannelStats& stats,
                                         int32_t gainFactor, double zoom,
                                         const TNumberSeparators& separators) {
    const double range = 8388608 / (gainFactor * zoom);
    double first = 0;
    const size_t size = history.Size();
    if (samplesPerBlock > 0 && size >= static_cast<size_t>(samplesPerBlock)) {
        first =
            SampleToMicrovolts(history[size - static_cast<size_t>(samplesPerBlock)], gainFactor);
    }
    TChannelDetailsTexts texts;
    texts.Range = std::to_string(channel + 1) + ": " + FormatVoltage("\u00b1", range, separators) +
                  "," + FormatVoltage(" ", first, separators);
    texts.Offset = FormatVoltage("Offset = ", stats.Offset, separators);
    texts.Ac = FormatVoltage("AC = ", stats.AcRms, separators);
    texts.Rms = "RMS = " + FormatNumber(stats.RmsDb, 3, separators) + " dB";
    texts.AvRms = "Av RMS = " + FormatNumber(stats.AvRmsDb, 3, separators) + " dB";
    return texts;
}

// Values below 1000 in their unit print at most four integer digits ("1,000.000
// µV" at the rounding edge); "m" is the widest unit letter.
std::string WidestChannelDetailsText(const TNumberSeparators& separators) {
    const std::string value = FormatNumber(8888.888, 3, separators) + " mV";
    return "6: \u00b1" + value + ", -" + value;
}
