#include "metadata/sensor.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <sstream>

namespace {

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ParseNumber(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && last == end && std::isfinite(value);
}

// The parts of `text` between `separator`s, trimmed; nothing for a blank text.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    if (Trim(text).empty()) {
        return parts;
    }
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(Trim(part));
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

}  // namespace

bool IsSensorUnit(const std::string& units) {
    return units == "M/S" || units == "M/S**2" || units == "M" || units == "V";
}

std::complex<double> PolesZerosValue(const TSensor& sensor, double frequency) {
    const double scale =
        sensor.Transfer == TPzTransfer::RadiansPerSecond ? 2 * std::numbers::pi : 1.0;
    const std::complex<double> s(0, scale * frequency);
    std::complex<double> value = 1;
    for (const std::complex<double>& zero : sensor.Zeros) {
        value *= s - zero;
    }
    for (const std::complex<double>& pole : sensor.Poles) {
        value /= s - pole;
    }
    return value;
}

double NormalizationFactor(const TSensor& sensor, double frequency) {
    if (sensor.Flat()) {
        return 1;
    }
    const double magnitude = std::abs(PolesZerosValue(sensor, frequency));
    return magnitude > 0 && std::isfinite(magnitude) && std::isfinite(1 / magnitude) ? 1 / magnitude
                                                                                     : 0;
}

std::optional<std::vector<std::complex<double>>> ParseRoots(const std::string& text,
                                                            std::string& error) {
    std::vector<std::complex<double>> roots;
    for (const std::string& part : Split(text, ';')) {
        std::istringstream in(part);
        std::string real, imaginary, extra;
        in >> real >> imaginary >> extra;
        double re = 0, im = 0;
        if (!ParseNumber(real, re) || (!imaginary.empty() && !ParseNumber(imaginary, im)) ||
            !extra.empty()) {
            error = "'" + part + "': each root is its real part and imaginary part (\"-0.037 " +
                    "0.037\"), roots separated by ';'";
            return std::nullopt;
        }
        roots.emplace_back(re, im);
    }
    return roots;
}

std::string FormatRoots(const std::vector<std::complex<double>>& roots) {
    std::string text;
    for (const std::complex<double>& root : roots) {
        text +=
            (text.empty() ? "" : "; ") + ExactNumber(root.real()) + " " + ExactNumber(root.imag());
    }
    return text;
}

std::optional<std::vector<double>> ParseNumberList(const std::string& text, std::string& error) {
    std::vector<double> numbers;
    for (const std::string& part : Split(text, ',')) {
        double value = 0;
        if (!ParseNumber(part, value)) {
            error = "'" + part + "' is not a number";
            return std::nullopt;
        }
        numbers.push_back(value);
    }
    if (numbers.size() > 3) {
        error = "at most three numbers, one per channel of the group";
        return std::nullopt;
    }
    return numbers;
}

std::string FormatNumberList(const std::vector<double>& numbers) {
    std::string text;
    for (const double number : numbers) {
        text += (text.empty() ? "" : ",") + ExactNumber(number);
    }
    return text;
}

std::string ExactNumber(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : "0";
}
