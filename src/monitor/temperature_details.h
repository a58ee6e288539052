// The Temperatures page without its window: where a reading stands in a band
// (offset against temperature), the grid, the figures beside the bands and
// the readout under the mouse.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "digitizer/data_block.h"
#include "monitor/channel_history.h"
#include "monitor/channel_stats.h"
#include "monitor/number_format.h"

// Columns and rows are limited to +-TemperaturePixelLimit, far outside any band.
inline constexpr int TemperaturePixelLimit = 1 << 20;

// A band W x H: temperature across, in tenths of a degree, 999 of them over
// the width with 0 deg C at trunc(W x 0.4) (about -40 to +60 deg C, a grid
// division of about 10 deg C); offset upwards, 0 on the centre line and
// +-range = 8388608 / (gain factor x zoom) microvolts at the edges.
struct TTemperatureScale {
    double XScale = 0;  // W / 999
    int X0 = 0;         // trunc(W x 0.4)
    double YScale = 0;  // H / (2 x range)
    int Mid = 0;        // trunc(H x 0.5)
    int Height = 0;

    // trunc(trunc(XScale x celsius x 10) + X0). A dot is drawn only at X > 0.
    int X(double celsius) const;
    // Mid - trunc(YScale x microvolts), clamped to 0 ... Height - 1.
    int Y(double microvolts) const;
};

// Inline, as a redraw converts hundreds of thousands of readings. Values are
// limited before they become integers, which truncates toward zero.
inline int TTemperatureScale::X(double celsius) const {
    const double tenths = XScale * celsius * 10;
    if (!(tenths > -TemperaturePixelLimit)) {
        return tenths != tenths ? 0 : -TemperaturePixelLimit;  // not a number: 0
    }
    if (tenths >= TemperaturePixelLimit) {
        return TemperaturePixelLimit;
    }
    const int x = static_cast<int>(tenths) + X0;
    return x < TemperaturePixelLimit ? x : TemperaturePixelLimit;
}

inline int TTemperatureScale::Y(double microvolts) const {
    const double rows = YScale * microvolts;
    // At or above Mid rows up (or not a number): the top row; at or beyond
    // Height rows below Mid: the bottom one.
    if (!(rows < Mid) || Height <= 0) {
        return 0;
    }
    if (rows <= Mid - Height) {
        return Height - 1;
    }
    const int y = Mid - static_cast<int>(rows);
    return y < 0 ? 0 : (y < Height - 1 ? y : Height - 1);
}

TTemperatureScale MakeTemperatureScale(int width, int height, int32_t gainFactor, double zoom);

// The vertical grid line j (0 ... 9) stands at trunc(j x W x 0.1); line 4,
// 0 deg C, is dotted.
int TemperatureGridX(int j, int width);

struct TTemperatureDetailsTexts {
    std::string Range;        // as on the Channels page: "1: ±8.389 V, 1.234 mV"
    std::string Offset;       // "Offset = 1.234 mV"
    std::string Temperature;  // "Temperature = 23.5 deg C"
};

TTemperatureDetailsTexts TemperatureDetailsTexts(int channel, const TChannelHistory& history,
                                                 int samplesPerBlock, const TChannelStats& stats,
                                                 double temperature, int32_t gainFactor,
                                                 double zoom, const TNumberSeparators& separators);

// The readout at (x, y) of a list whose band `item` is under the mouse, each
// band width x height: t = x x 100 / width - 40 deg C, o = range - (y - height
// x item) x 2 x range / height microvolts; "(23.5 deg C, 1.234 mV)".
std::string TemperatureReadout(int x, int y, int item, int width, int height, int32_t gainFactor,
                               double zoom, const TNumberSeparators& separators);

// The channel of the item-th set flag (0-based), -1 when there are fewer.
int NthDisplayedChannel(std::span<const bool, MaxChannels> displayed, int item);

// The widest lines the page's figures show, for sizing their column.
std::string WidestTemperatureDetailsText(const TNumberSeparators& separators);
