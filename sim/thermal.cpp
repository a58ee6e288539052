#include "sim/thermal.h"

#include <cmath>
#include <numbers>

namespace {

constexpr double Omega = 2 * std::numbers::pi / ThermalPeriod;

// The daily shape: a fundamental and a second harmonic, so that the rise and
// the fall differ.
double Day(double seconds, double swing) {
    return swing * std::sin(Omega * seconds) + 0.7 * std::sin(2 * Omega * seconds - 0.8);
}

constexpr double DriftFractions[6] = {1.8e-4, -3.0e-4, 4.8e-4, -1.2e-4, 3.6e-4, -6.0e-4};

}  // namespace

double BoardTemperature(double seconds) {
    return 24 + Day(seconds, 5);
}

double ModuleTemperature(int channel, double seconds) {
    const double lag = 20.0 * channel;
    return 25 + 0.4 * channel + Day(seconds - lag, 5 * (1 + 0.1 * channel));
}

double DriftPerDegree(int channel) {
    return channel >= 0 && channel < 6 ? DriftFractions[channel] : 0;
}

double DriftCounts(int channel, double seconds, double fullScale, bool highGain) {
    const double degrees = ModuleTemperature(channel, seconds) - DriftReference;
    return DriftPerDegree(channel) * fullScale * degrees * (highGain ? 10 : 1);
}
