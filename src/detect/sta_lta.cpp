#include "detect/sta_lta.h"

#include <algorithm>

TStaLta::TStaLta(double staSamples, double ltaSamples)
    : staSamples_(std::max(1.0, staSamples)), ltaSamples_(std::max(1.0, ltaSamples)) {}

void TStaLta::Reset() {
    sta_ = lta_ = ratio_ = 0;
    count_ = 0;
}
