// The simulated unit's temperatures and what they do to its channels: the
// board and each channel module follow a daily cycle compressed into
// ThermalPeriod seconds of the frame clock (a slow rise and a quicker fall),
// each module warmer or cooler than the board, with its own swing and lag;
// each channel's DC offset follows its module's temperature by a coefficient
// of its own, so that offset against temperature is a line per channel.
#pragma once

// One simulated day, in seconds of the frame clock.
inline constexpr double ThermalPeriod = 1200;
// The temperature at which every channel's drift is zero.
inline constexpr double DriftReference = 25;

// The one sensor of the board, deg C, `seconds` into the frame clock.
double BoardTemperature(double seconds);
// Channel module `channel` (0 to 5), deg C.
double ModuleTemperature(int channel, double seconds);
// The channel's offset drift per deg C as a fraction of full scale (of either
// sign, a few parts in ten thousand).
double DriftPerDegree(int channel);
// The channel's offset drift in counts of a sample whose full scale is
// `fullScale`, at its module's temperature, times 10 at high gain (the
// drift arises at the input).
double DriftCounts(int channel, double seconds, double fullScale, bool highGain);
