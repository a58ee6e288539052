// The in-place radix-2 transform of the FFT page: bit-reverse permutation, then
// the butterflies stage by stage with one sine and cosine per butterfly group.
//
// The forward transform uses the positive exponent and divides by N:
//     X[k] = 1/N x sum over n of x[n] exp(+2 pi i k n / N),
// the inverse the negative exponent without scaling, so forward then inverse
// gives the input back. For real input the magnitudes are those of the usual
// DFT divided by N: a full-scale sine on a bin shows 0.5 (-6.02 dB) there and
// at its mirror bin.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

// The lowest `bits` binary digits of `value` in reverse order:
// BitReverse(1, 10) = 512, BitReverse(6, 3) = 3.
unsigned BitReverse(unsigned value, int bits);

// The smallest b >= 0 with 2^b >= n.
int BitsFor(size_t n);

// Swaps entries j and BitReverse(j, BitsFor(N)) of both arrays for every
// 1 <= j <= N - 2 with j below its reverse. N is the arrays' length.
void BitReversePermute(std::span<double> re, std::span<double> im);

// The transform in place on arrays of one power-of-two length N (both the
// same length; N of 0 or 1 changes nothing but the scaling).
void Fft(std::span<double> re, std::span<double> im, bool inverse);

// One channel's transform buffer: N points, real and imaginary parts.
struct TFftBuffer {
    explicit TFftBuffer(int points = 0)
        : Points(points),
          Real(static_cast<size_t>(points > 0 ? points : 0)),
          Imag(static_cast<size_t>(points > 0 ? points : 0)) {}

    int Points;
    std::vector<double> Real;
    std::vector<double> Imag;
};

inline void Fft(TFftBuffer& buffer, bool inverse) {
    Fft(buffer.Real, buffer.Imag, inverse);
}
