// The band-pass in front of the trigger: a Butterworth band-pass designed as an analog
// low-pass prototype of N poles taken to a band-pass (N poles on each side of the band) and to
// the sampled domain by the bilinear transform with both corners pre-warped, so that the
// response is exactly -3 dB at the corner frequencies. It runs as N second-order sections in
// transposed direct form II, in double precision, with its state carried from call to call.
#pragma once

#include <complex>
#include <vector>

#include "base/result.h"

// One second-order section: (B0 + B1 z^-1 + B2 z^-2) / (1 + A1 z^-1 + A2 z^-2).
struct TBiquad {
    double B0 = 1, B1 = 0, B2 = 0;
    double A1 = 0, A2 = 0;
};

// The corner frequencies and the poles per side.
struct TBandpassDesign {
    double LowHz = 1;
    double HighHz = 10;
    int Poles = 2;  // per side, 1 to 4
};

// The highest upper corner the design takes: 0.45 x the sample rate (nine tenths of Nyquist);
// an upper corner above it is brought down to it.
double HighestCorner(double sampleRate);

// The sections of `design` at `sampleRate`, the upper corner brought down to HighestCorner.
// An error when the poles are not 1 to 4, a corner is not above 0, the corners are not in
// order, or the band does not fit below the highest corner at this rate.
TResult<std::vector<TBiquad>> DesignBandpass(const TBandpassDesign& design, double sampleRate);

// The response of the cascade at `hz`.
std::complex<double> Response(const std::vector<TBiquad>& sections, double hz, double sampleRate);

// The cascade applied to one series; the state runs on from call to call.
class TBandpassFilter {
  public:
    TBandpassFilter() = default;
    explicit TBandpassFilter(std::vector<TBiquad> sections);

    // Starts again as if `level` had stood at the input for ever: the output of a constant is
    // 0, so that the offset a channel sits on does not ring through the filter at the start.
    void Settle(double level);
    double Step(double x) {
        for (TSection& s : sections_) {
            const double y = s.C.B0 * x + s.Z1;
            s.Z1 = s.C.B1 * x - s.C.A1 * y + s.Z2;
            s.Z2 = s.C.B2 * x - s.C.A2 * y;
            x = y;
        }
        return x;
    }
    bool Empty() const { return sections_.empty(); }

  private:
    struct TSection {
        TBiquad C;
        double Z1 = 0, Z2 = 0;
    };
    std::vector<TSection> sections_;
};
