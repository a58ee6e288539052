#include "fft/fft_channel.h"

#include <cmath>

void PrepareFftInput(TFftBuffer& buffer, std::span<const int32_t> older,
                     std::span<const int32_t> newer) {
    const int points = static_cast<int>(older.size() + newer.size());
    if (buffer.Points != points) {
        buffer = TFftBuffer(points);
    }
    size_t i = 0;
    for (std::span<const int32_t> run : {older, newer}) {
        for (int32_t word : run) {
            buffer.Real[i] = word * RawWordScale;
            buffer.Imag[i] = 0;
            ++i;
        }
    }
}

void ToDecibels(TFftBuffer& buffer) {
    for (size_t i = 0; i < buffer.Real.size(); ++i) {
        const double m =
            std::sqrt(buffer.Real[i] * buffer.Real[i] + buffer.Imag[i] * buffer.Imag[i]);
        buffer.Real[i] = m > 0 ? 20 * std::log10(m) : SpectrumFloorDb;
    }
}

void TSpectrum::Compute(std::span<const int32_t> older, std::span<const int32_t> newer,
                        TFftWindow window) {
    PrepareFftInput(buffer_, older, newer);
    window_.Prepare(window, buffer_.Points);
    window_.Apply(buffer_.Real, buffer_.Imag);
    Fft(buffer_, false);
    ToDecibels(buffer_);
}
