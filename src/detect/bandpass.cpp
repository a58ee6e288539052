#include "detect/bandpass.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// The bilinear transform, s = k (1 - 1/z) / (1 + 1/z), of the analog section
// (b0 s^2 + b1 s + b2) / (s^2 + a1 s + a2).
TBiquad Bilinear(double b0, double b1, double b2, double a1, double a2, double k) {
    const double k2 = k * k;
    const double d0 = k2 + a1 * k + a2;
    TBiquad q;
    q.B0 = (b0 * k2 + b1 * k + b2) / d0;
    q.B1 = (2 * b2 - 2 * b0 * k2) / d0;
    q.B2 = (b0 * k2 - b1 * k + b2) / d0;
    q.A1 = (2 * a2 - 2 * k2) / d0;
    q.A2 = (k2 - a1 * k + a2) / d0;
    return q;
}

}  // namespace

double HighestCorner(double sampleRate) {
    return 0.45 * sampleRate;
}

TResult<std::vector<TBiquad>> DesignBandpass(const TBandpassDesign& design, double sampleRate) {
    if (design.Poles < 1 || design.Poles > 4) {
        return TError{"the band-pass takes 1 to 4 poles per side, not " +
                      std::to_string(design.Poles)};
    }
    if (!(design.LowHz > 0) || !std::isfinite(design.LowHz)) {
        return TError{"the band-pass's lower corner must be above 0 Hz, not " +
                      Number(design.LowHz) + " Hz"};
    }
    if (!(design.HighHz > design.LowHz) || !std::isfinite(design.HighHz)) {
        return TError{"the band-pass's upper corner (" + Number(design.HighHz) +
                      " Hz) must be above its lower corner (" + Number(design.LowHz) + " Hz)"};
    }
    if (!(sampleRate > 0) || !std::isfinite(sampleRate)) {
        return TError{"no band-pass at a sample rate of " + Number(sampleRate)};
    }
    const double high = std::min(design.HighHz, HighestCorner(sampleRate));
    if (!(high > design.LowHz)) {
        return TError{"the band " + Number(design.LowHz) + " to " + Number(design.HighHz) +
                      " Hz does not fit below " + Number(HighestCorner(sampleRate)) +
                      " Hz (0.45 x the sample rate) at " + Number(sampleRate) +
                      " samples per second"};
    }

    // The corners pre-warped, so that the bilinear transform takes them back to themselves.
    const double k = 2 * sampleRate;
    const double w1 = k * std::tan(std::numbers::pi * design.LowHz / sampleRate);
    const double w2 = k * std::tan(std::numbers::pi * high / sampleRate);
    const double bandwidth = w2 - w1;
    const double centre2 = w1 * w2;

    // Low-pass prototype pole p becomes the section s B / (s^2 - p B s + w0^2) of complex
    // coefficients; its two roots, each with its conjugate from p*, make two real sections.
    // The real prototype pole (odd N) gives the real section s B / (s^2 + B s + w0^2) at once.
    std::vector<TBiquad> sections;
    const int n = design.Poles;
    for (int i = 0; i < n / 2; ++i) {
        const double angle = std::numbers::pi * (2 * i + n + 1) / (2 * n);
        const std::complex<double> p = std::polar(1.0, angle);
        const std::complex<double> half = p * bandwidth / 2.0;
        const std::complex<double> root = std::sqrt(half * half - centre2);
        for (const std::complex<double> s : {half + root, half - root}) {
            sections.push_back(Bilinear(0, bandwidth, 0, -2 * s.real(), std::norm(s), k));
        }
    }
    if (n % 2 == 1) {
        sections.push_back(Bilinear(0, bandwidth, 0, bandwidth, centre2, k));
    }
    return sections;
}

std::complex<double> Response(const std::vector<TBiquad>& sections, double hz, double sampleRate) {
    const std::complex<double> zi = std::polar(1.0, -2 * std::numbers::pi * hz / sampleRate);
    std::complex<double> h = 1;
    for (const TBiquad& q : sections) {
        h *= (q.B0 + zi * (q.B1 + zi * q.B2)) / (1.0 + zi * (q.A1 + zi * q.A2));
    }
    return h;
}

TBandpassFilter::TBandpassFilter(std::vector<TBiquad> sections) {
    for (const TBiquad& q : sections) {
        sections_.push_back(TSection{q, 0, 0});
    }
}

void TBandpassFilter::Settle(double level) {
    // At rest on a constant x a section gives y = g x (g its gain at 0 Hz), which fixes both
    // of its state values; its output is the next section's constant.
    double x = level;
    for (TSection& s : sections_) {
        const double den = 1 + s.C.A1 + s.C.A2;
        const double y = den != 0 ? (s.C.B0 + s.C.B1 + s.C.B2) / den * x : 0;
        s.Z1 = y - s.C.B0 * x;
        s.Z2 = s.C.B2 * x - s.C.A2 * y;
        x = y;
    }
}
