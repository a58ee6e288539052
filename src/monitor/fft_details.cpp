#include "monitor/fft_details.h"

#include <algorithm>
#include <cmath>

#include "fft/fft_channel.h"

namespace {

constexpr double ScaleDb = -SpectrumFloorDb;  // 200 dB from top to bottom

}  // namespace

int TFftScale::X(int bin) const {
    return static_cast<int>(std::clamp(std::trunc(bin * XScale), -1e9, 1e9));
}

int TFftScale::Y(double level) const {
    const double y = std::trunc(-level * YScale);
    if (Height <= 0 || !(y > 0)) {
        return 0;
    }
    return y < Height - 1 ? static_cast<int>(y) : Height - 1;
}

TFftScale MakeFftScale(int width, int height, int points) {
    TFftScale scale;
    const int half = points / 2;
    scale.XScale = half > 0 ? static_cast<double>(width) / half : 0;
    scale.YScale = height / ScaleDb;
    scale.Height = height;
    return scale;
}

TFftDetailsTexts FftDetailsTexts(int channel, int points, double sampleRate,
                                 const TNumberSeparators& separators) {
    return {"Channel " + std::to_string(channel + 1) + " : (" +
                FormatNumber(points, 0, separators) + " Points)",
            "x : 0 -> " + FormatNumber(sampleRate * 0.5, 2, separators) + " Hz",
            "y : 0 -> " + FormatNumber(0 - ScaleDb, 2, separators) + " dB"};
}

std::string FftReadout(int x, int y, int item, int width, int height, double sampleRate,
                       const TNumberSeparators& separators) {
    const double f = x * sampleRate / (static_cast<double>(width) * 2);
    const double level = 0 - (y - static_cast<double>(height) * item) * ScaleDb / height;
    return "x: " + FormatNumber(f, 2, separators) +
           " Hz, y: " + FormatNumber(level, 2, separators) + " dB";
}

std::string WidestFftDetailsText(const TNumberSeparators& separators) {
    return "x: " + FormatNumber(8888.88, 2, separators) +
           " Hz, y: " + FormatNumber(-888.88, 2, separators) + " dB";
}
