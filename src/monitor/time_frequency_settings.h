// The [Spectrogram] section of the settings file: what the Spectrogram page keeps between
// runs (LoadSettings and SaveSettings read and write it, after every other section). No Qt.
#pragma once

#include <cstdint>

struct TSpectrogramSettings {
    int32_t SpectrogramPoints = 1024;  // FFT length: 256, 512, 1024, 2048 or 4096
    int32_t SpectrogramAutoRange = 1;  // 0 or 1: the colour range follows the columns
    int32_t SpectrogramMinDb = -160;   // the fixed range, dBFS/Hz: -250 <= min
    int32_t SpectrogramMaxDb = -40;    //   < max <= 50
    // 0 or 1: a logarithmic frequency axis. On by default: at any rate it gives the
    // microseisms, a local earthquake's 1-20 Hz and the noise above them each their room.
    int32_t SpectrogramLogFrequency = 1;
    int32_t SpectrogramMinutes = 10;  // the time span shown, 1..60
    int32_t SpectrogramMaxHz = 0;     // the top of the frequency axis; 0: half the rate

    bool operator==(const TSpectrogramSettings&) const = default;
};
