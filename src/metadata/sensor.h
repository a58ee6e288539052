// The sensor in front of a group of channels, as the station's configuration describes it:
// what it measures, its sensitivity at a frequency, and its poles and zeros (or a flat
// response). The digitizer's own stage (volts to counts) is added by the document, not here.
#pragma once

#include <complex>
#include <optional>
#include <string>
#include <vector>

enum class TPzTransfer { RadiansPerSecond, Hertz };

struct TSensor {
    std::string Description;
    std::string InputUnits = "M/S";  // M/S, M/S**2, M or V
    double Sensitivity = 0;          // volts per input unit at Frequency
    double Frequency = 1;            // Hz, where Sensitivity holds
    TPzTransfer Transfer = TPzTransfer::RadiansPerSecond;
    std::vector<std::complex<double>> Poles;  // both empty: a flat response
    std::vector<std::complex<double>> Zeros;
    // Per channel of the group (1st, 2nd, 3rd); empty: by the channel code's orientation.
    std::vector<double> Azimuths;
    std::vector<double> Dips;

    bool Flat() const { return Poles.empty() && Zeros.empty(); }
    bool operator==(const TSensor&) const = default;
};

// The units a sensor may measure, as StationXML names them.
bool IsSensorUnit(const std::string& units);

// prod(s - zero) / prod(s - pole) at `frequency` Hz, without normalisation: s = 2 pi i f for
// RadiansPerSecond, i f for Hertz. 1 for a flat response.
std::complex<double> PolesZerosValue(const TSensor& sensor, double frequency);

// The normalisation factor that makes the poles-and-zeros stage's magnitude 1 at
// `frequency`: 1 / |PolesZerosValue|. 1 for a flat response; 0 when the value there is 0 or
// not finite (a pole or zero at that very frequency).
double NormalizationFactor(const TSensor& sensor, double frequency);

// "re im; re im; ..." (the imaginary part may be left out for a real root), as the
// configuration gives poles and zeros; nothing with `error` set when a part is not a number.
std::optional<std::vector<std::complex<double>>> ParseRoots(const std::string& text,
                                                            std::string& error);
// The roots as ParseRoots reads them back.
std::string FormatRoots(const std::vector<std::complex<double>>& roots);

// "a, b, c" numbers (azimuths or dips), at most three.
std::optional<std::vector<double>> ParseNumberList(const std::string& text, std::string& error);
std::string FormatNumberList(const std::vector<double>& numbers);

// A number as text that reads back to the same double.
std::string ExactNumber(double value);
