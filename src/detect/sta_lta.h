// The classic recursive STA/LTA on one series: the characteristic function is the square of
// the (band-passed) sample; the short-term and long-term averages follow it as
//     avg += (x^2 - avg) / n
// with n the average's length in samples. While fewer than n samples have come, n is the
// count so far (the plain mean of what came), so that each average starts from a full value;
// the ratio counts as ready once the long-term average has had its n samples.
#pragma once

#include <cstdint>

class TStaLta {
  public:
    TStaLta() = default;
    // Lengths in samples, at least 1 each.
    TStaLta(double staSamples, double ltaSamples);

    // Takes the next sample; returns the ratio STA / LTA after it (0 while the LTA is 0).
    double Step(double x) {
        const double cf = x * x;
        ++count_;
        const double n = static_cast<double>(count_);
        sta_ += (cf - sta_) / (n < staSamples_ ? n : staSamples_);
        lta_ += (cf - lta_) / (n < ltaSamples_ ? n : ltaSamples_);
        ratio_ = lta_ > 0 ? sta_ / lta_ : 0;
        return ratio_;
    }
    // The long-term average has had its length in samples: the ratio may trigger.
    bool Ready() const { return static_cast<double>(count_) >= ltaSamples_; }
    double Ratio() const { return ratio_; }
    double Sta() const { return sta_; }
    double Lta() const { return lta_; }
    uint64_t Count() const { return count_; }
    void Reset();

  private:
    double staSamples_ = 1;
    double ltaSamples_ = 1;
    double sta_ = 0;
    double lta_ = 0;
    double ratio_ = 0;
    uint64_t count_ = 0;
};
