// The window functions applied before the transform, and their names as the
// FFT page and the settings file give them.
#pragma once

#include <array>
#include <span>
#include <string_view>
#include <vector>

enum class TFftWindow { BlackmanHarris, Hanning, None };

// In the order of the FFT page's list: item 0, 1, 2.
inline constexpr std::array<std::string_view, 3> FftWindowNames = {"Blackman Harris", "Hanning",
                                                                   "None"};

std::string_view FftWindowName(TFftWindow window);
// The window of one of the three names (case-sensitive); Blackman-Harris for
// any other text.
TFftWindow FftWindowFromName(std::string_view name);
// The window of list item `index`; Blackman-Harris for an index outside 0 ... 2.
TFftWindow FftWindowFromIndex(int index);

// Point i of n (2 pi taken as 6.283185307179586):
//   Hanning:         1 - cos(2 pi i / n);
//   Blackman-Harris: (0.35875 - 0.48829 cos(a i) + 0.14128 cos(2a i) - 0.01168 cos(3a i))^2,
//                    a = 2 pi / n: the four-term window squared.
double HanningWeight(int i, int n);
double BlackmanHarrisWeight(int i, int n);

// Hanning multiplies both arrays by its weights.
void HanningWindow(std::span<double> re, std::span<double> im, int n);
// Blackman-Harris multiplies the real array by its weights and by a gain of
// 4; the imaginary array is left as it is.
void BlackmanHarrisWindow(std::span<double> re, std::span<double> im, int n);

// The weights of one window for one n, computed once and applied to every
// transform of that length with the same result as the functions above.
class TWindowTable {
  public:
    // Makes the table again only when the window or n differs from the last call.
    void Prepare(TFftWindow window, int n);
    // The prepared window on the first n points of both arrays.
    void Apply(std::span<double> re, std::span<double> im) const;

  private:
    TFftWindow window_ = TFftWindow::None;
    int n_ = -1;
    std::vector<double> weights_;
};
