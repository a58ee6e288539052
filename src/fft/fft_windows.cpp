#include "fft/fft_windows.h"

#include <cmath>

namespace {

constexpr double TwoPi = 6.283185307179586;

}  // namespace

std::string_view FftWindowName(TFftWindow window) {
    return FftWindowNames[static_cast<size_t>(window)];
}

TFftWindow FftWindowFromName(std::string_view name) {
    for (size_t i = 0; i < FftWindowNames.size(); ++i) {
        if (FftWindowNames[i] == name) {
            return static_cast<TFftWindow>(i);
        }
    }
    return TFftWindow::BlackmanHarris;
}

TFftWindow FftWindowFromIndex(int index) {
    return index >= 0 && index < static_cast<int>(FftWindowNames.size())
               ? static_cast<TFftWindow>(index)
               : TFftWindow::BlackmanHarris;
}

double HanningWeight(int i, int n) {
    return 1 - std::cos(TwoPi * i / n);
}

double BlackmanHarrisWeight(int i, int n) {
    const double a = TwoPi / n;
    const double b = 0.35875 - 0.48829 * std::cos(a * i) + 0.14128 * std::cos(2 * a * i) -
                     0.01168 * std::cos(3 * a * i);
    return b * b;
}

void HanningWindow(std::span<double> re, std::span<double> im, int n) {
    for (int i = 0; i < n; ++i) {
        const double w = HanningWeight(i, n);
        re[static_cast<size_t>(i)] *= w;
        im[static_cast<size_t>(i)] *= w;
    }
}

void BlackmanHarrisWindow(std::span<double> re, std::span<double> im, int n) {
    (void)im;
    for (int i = 0; i < n; ++i) {
        re[static_cast<size_t>(i)] = re[static_cast<size_t>(i)] * BlackmanHarrisWeight(i, n) * 4;
    }
}

void TWindowTable::Prepare(TFftWindow window, int n) {
    if (window == window_ && n == n_) {
        return;
    }
    window_ = window;
    n_ = n;
    weights_.clear();
    if (window == TFftWindow::None) {
        return;
    }
    weights_.resize(static_cast<size_t>(n > 0 ? n : 0));
    for (int i = 0; i < n; ++i) {
        weights_[static_cast<size_t>(i)] =
            window == TFftWindow::Hanning ? HanningWeight(i, n) : BlackmanHarrisWeight(i, n);
    }
}

void TWindowTable::Apply(std::span<double> re, std::span<double> im) const {
    const size_t n = weights_.size();
    if (window_ == TFftWindow::Hanning) {
        for (size_t i = 0; i < n; ++i) {
            re[i] *= weights_[i];
            im[i] *= weights_[i];
        }
    } else if (window_ == TFftWindow::BlackmanHarris) {
        for (size_t i = 0; i < n; ++i) {
            re[i] = re[i] * weights_[i] * 4;
        }
    }
}
