#include "fft/fft.h"

#include <cmath>
#include <numbers>
#include <utility>

unsigned BitReverse(unsigned value, int bits) {
    unsigned reversed = 0;
    for (int b = 0; b < bits; ++b) {
        reversed = (reversed << 1) | (value & 1u);
        value >>= 1;
    }
    return reversed;
}

int BitsFor(size_t n) {
    int bits = 0;
    while ((size_t{1} << bits) < n) {
        ++bits;
    }
    return bits;
}

void BitReversePermute(std::span<double> re, std::span<double> im) {
    const size_t n = re.size();
    const int bits = BitsFor(n);
    for (size_t j = 1; j + 1 < n; ++j) {
        const size_t r = BitReverse(static_cast<unsigned>(j), bits);
        if (j < r) {
            std::swap(re[j], re[r]);
            std::swap(im[j], im[r]);
        }
    }
}

void Fft(std::span<double> re, std::span<double> im, bool inverse) {
    const size_t n = re.size();
    BitReversePermute(re, im);
    for (size_t half = 1; half < n; half *= 2) {
        const size_t step = 2 * half;
        for (size_t i = 0; i < half; ++i) {
            double theta = std::numbers::pi * static_cast<double>(i) / static_cast<double>(half);
            if (inverse) {
                theta = -theta;
            }
            const double c = std::cos(theta);
            const double s = std::sin(theta);
            for (size_t p = i; p < n; p += step) {
                const size_t q = p + half;
                const double tr = c * re[q] - s * im[q];
                const double ti = c * im[q] + s * re[q];
                re[q] = re[p] - tr;
                im[q] = im[p] - ti;
                re[p] = re[p] + tr;
                im[p] = im[p] + ti;
            }
        }
    }
    if (!inverse) {
        const double points = static_cast<double>(n);
        for (size_t k = 0; k < n; ++k) {
            re[k] /= points;
            im[k] /= points;
        }
    }
}
