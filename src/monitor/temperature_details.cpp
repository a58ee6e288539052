#include "monitor/temperature_details.h"

#include <algorithm>
#include <cmath>

#include "monitor/channel_details.h"
#include "monitor/voltage_format.h"

namespace {

double Range(int32_t gainFactor, double zoom) {
    return 8388608 / (gainFactor * zoom);
}

}  // namespace

TTemperatureScale MakeTemperatureScale(int width, int height, int32_t gainFactor, double zoom) {
    TTemperatureScale scale;
    scale.XScale = width / 999.0;
    scale.X0 = static_cast<int>(width * 0.4);
    scale.YScale = height / (2 * Range(gainFactor, zoom));
    scale.Mid = static_cast<int>(height * 0.5);
    scale.Height = height;
    return scale;
}

int TemperatureGridX(int j, int width) {
    return static_cast<int>(j * width * 0.1);
}

TTemperatureDetailsTexts TemperatureDetailsTexts(int channel, const TChannelHistory& history,
                                                 int samplesPerBlock, const TChannelStats& stats,
                                                 double temperature, int32_t gainFactor,
                                                 double zoom, const TNumberSeparators& separators) {
    const TChannelDetailsTexts channelTexts =
        ChannelDetailsTexts(channel, history, samplesPerBlock, stats, gainFactor, zoom, separators);
    return {channelTexts.Range, channelTexts.Offset,
            "Temperature = " + FormatNumber(temperature, 1, separators) + " deg C"};
}

std::string TemperatureReadout(int x, int y, int item, int width, int height, int32_t gainFactor,
                               double zoom, const TNumberSeparators& separators) {
    const double t = x * 100.0 / width - 40;
    const double range = Range(gainFactor, zoom);
    const double o = range - (y - static_cast<double>(height) * item) * 2 * range / height;
    return "(" + FormatNumber(t, 1, separators) + " deg C," + FormatVoltage(" ", o, separators) +
           ")";
}

int NthDisplayedChannel(std::span<const bool, MaxChannels> displayed, int item) {
    for (int c = 0; c < MaxChannels; ++c) {
        if (displayed[static_cast<size_t>(c)] && item-- == 0) {
            return c;
        }
    }
    return -1;
}

std::string WidestTemperatureDetailsText(const TNumberSeparators& separators) {
    return WidestChannelDetailsText(separators);
}
