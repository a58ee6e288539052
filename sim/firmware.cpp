#include "sim/firmware.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

#include "sim/gps_text.h"
#include "sim/thermal.h"

namespace {

struct TRateRow {
    int Code;  // rate x 10
    std::array<int, 5> Factors;
};

constexpr TRateRow RateTable[] = {
    {1, {6, 10, 10, 10, 5}},  {2, {6, 10, 10, 5, 5}},   {5, {6, 10, 10, 5, 2}},
    {10, {12, 10, 5, 5, 1}},  {20, {6, 10, 5, 5, 1}},   {40, {6, 5, 5, 5, 1}},
    {50, {12, 10, 5, 1, 1}},  {100, {6, 10, 5, 1, 1}},  {200, {3, 10, 5, 1, 1}},
    {250, {12, 10, 1, 1, 1}}, {400, {3, 5, 5, 1, 1}},   {500, {12, 5, 1, 1, 1}},
    {750, {4, 10, 1, 1, 1}},  {1000, {6, 5, 1, 1, 1}},  {1200, {1, 5, 5, 1, 1}},
    {1250, {12, 2, 1, 1, 1}}, {1500, {4, 5, 1, 1, 1}},  {2000, {3, 5, 1, 1, 1}},
    {2500, {12, 1, 1, 1, 1}}, {3000, {1, 10, 1, 1, 1}}, {3750, {4, 2, 1, 1, 1}},
    {5000, {6, 1, 1, 1, 1}},  {6000, {1, 5, 1, 1, 1}},  {7500, {4, 1, 1, 1, 1}},
    {10000, {3, 1, 1, 1, 1}}, {30000, {1, 1, 1, 1, 1}},
};

// Where the simulated unit stands: 46 deg 57.1234 min N, 7 deg 26.4567 min E, 540 m.
constexpr int LatDegrees = 46;
constexpr double LatMinutes = 57.1234;
constexpr int LonDegrees = 7;
constexpr double LonMinutes = 26.4567;
constexpr int AltitudeMeters = 540;

int16_t Raw16(double value) {
    return static_cast<int16_t>(std::clamp<double>(std::lround(value), -32768, 32767));
}

int16_t RawVolts(double volts) {
    return Raw16((volts - 5) * 2700 / 10.9);
}
int16_t RawTemp(double celsius) {
    return Raw16((celsius + 50) * 10);
}

int PopCount(unsigned bits) {
    int n = 0;
    for (; bits != 0; bits &= bits - 1) {
        ++n;
    }
    return n;
}

}  // namespace

int TDeviceSettings::Decimation() const {
    int product = 1;
    for (int factor : Factors) {
        product *= factor;
    }
    return product;
}

std::array<int, 5> FactorsForRate(double rate) {
    const int code = static_cast<int>(rate * 10);
    for (const TRateRow& row : RateTable) {
        if (row.Code == code) {
            return row.Factors;
        }
    }
    return {4, 10, 1, 1, 1};
}

TDeviceSettings SettingsFromConfig(const TSimConfig& config) {
    TDeviceSettings s;
    s.Channels = std::clamp(config.Channels, 1, 6);
    s.Factors = FactorsForRate(config.Rate);
    s.BytesPerSample = std::clamp(config.BytesPerSample, 1, 4);
    s.Mde = config.Mde || config.Gps == TGpsForm::Reports;
    s.Baud = config.Baud;
    return s;
}

int16_t TotalRateField(int decimation, int channels) {
    double value = 0;
    if (decimation <= BaseRate) {
        value = std::round(static_cast<double>(BaseRate) * channels / decimation);
    } else {
        value = -std::round(static_cast<double>(decimation) / (BaseRate * channels));
    }
    return static_cast<int16_t>(std::clamp(value, -32768.0, 32767.0));
}

std::array<char, 2> GainCodeField(int mask, int channels) {
    const int m = mask & ((1 << channels) - 1);
    if (m == 0) {
        return {'L', '\0'};
    }
    if (channels < 4) {
        return {'G', static_cast<char>('0' + m)};
    }
    return {'G', static_cast<char>(m)};
}

TFirmware::TFirmware(const TSimConfig& config)
    : config_(config),
      settings_(SettingsFromConfig(config)),
      rom_(settings_),
      factory_(settings_),
      signals_(config.Signal, config.Seed),
      rng_(config.Seed * 0x9E3779B97F4A7C15ULL + 1) {
    using namespace std::chrono;
    epoch_ = config.StartTime
                 ? *config.StartTime
                 : duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void TFirmware::SetChannels(int channels) {
    settings_.Channels = std::clamp(channels, 1, 6);
}

TFirmware::TEffect TFirmware::Apply(const TCommand& command) {
    TEffect effect;
    const std::string& n = command.Name;
    const int word = command.Word();
    const int low = word & 0xFF;
    TDeviceSettings& s = settings_;
    if (n == "SF" && command.Argument.size() >= 2) {
        const int stage = command.Argument[0];
        const int factor = command.Argument[1];
        if (stage >= 3 && stage <= 7 && factor > 0) {
            if (stage == 3) {
                s.Factors = {1, 1, 1, 1, 1};  // a new set of factors begins
            }
            s.Factors[stage - 3] = factor;
        }
    } else if (n == "SC") {
        const unsigned enabled = (word & 0x7) | ((word >> 8) & 0x7) << 3;
        s.Channels = std::max(1, PopCount(enabled));
        s.GainMask = ((word >> 3) & 0x7) | ((word >> 11) & 0x7) << 3;
    } else if (n == "NB") {
        if (low >= 1 && low <= 4) {
            s.BytesPerSample = low;
        }
    } else if (n == "FT") {
        if (low == 2 || low == 0) {
            s.MinimalPhase = low == 2;
        }
    } else if (n == "EM") {
        s.Mde = low != 0;
    } else if (n == "CA") {
        if (low <= 9) {
            s.Calibration = low;
        }
    } else if (n == "CP") {
        if (low <= 3) {
            s.Pll = low;
        }
    } else if (n == "LI") {
        s.LineOutput = word & 0x3;
    } else if (n == "SP") {
        s.Supplies = word & 0x3;
    } else if (n == "BA") {
        if (low < 8) {
            effect.SwitchBaud = UnitBaudRates[low];
        }
    } else if (n == "RW") {
        rom_ = s;
    } else if (n == "RD") {
        const int baud = s.Baud;
        s = factory_;
        s.Baud = baud;
        rom_ = factory_;
        if (factory_.Baud != baud) {
            effect.SwitchBaud = factory_.Baud;
        }
    } else if (n == "BR") {
        effect.Reboot = true;
    }
    return effect;
}

TWireFrame TFirmware::NextFrame(const std::string& serial) {
    const TDeviceSettings& s = settings_;
    const int decimation = s.Decimation();
    if (decimation != lastDecimation_) {
        lastDecimation_ = decimation;
        rateSince_ = seconds_;
    }
    ++blockCount_;

    TWireFrame f;
    SetText(f.DeviceId, config_.DeviceId);
    SetText(f.Version, "V3.07");
    SetText(f.LongSerial, serial);
    SetText(f.ShortSerial, serial.size() >= 4 ? std::string_view(serial).substr(serial.size() - 4)
                                              : std::string_view(serial));
    f.BlockCount = blockCount_;
    f.NumComponents = static_cast<uint16_t>(s.Channels);
    f.TotalRate = TotalRateField(decimation, s.Channels);
    f.BytesPerSample = static_cast<uint16_t>(s.BytesPerSample);
    SetText(f.FilterType, s.MinimalPhase ? "MP" : "LP");
    for (int i = 0; i < 5; ++i) {
        f.Decimation[i] = static_cast<int16_t>(s.Factors[i]);
    }
    static constexpr int PhaseSpread[4] = {400, 60, 15, 30};
    const int spread = PhaseSpread[s.Pll & 3];
    f.PhaseError = static_cast<int16_t>(static_cast<int>(rng_() % (2 * spread + 1)) - spread);
    f.GainCode = GainCodeField(s.GainMask, s.Channels);
    for (int c = 0; c < 6; ++c) {
        const bool high = (s.GainMask >> c & 1) != 0;
        if (c < s.Channels) {
            f.GainValue[c] = high ? 83886080 + 15000 * c : 8388608 + 1500 * c;
            f.OffsetValue[c] = (-2000 + 750 * c) * (high ? 10 : 1);
        } else {
            f.GainValue[c] = 0x1FFFFFFF;  // not calibrated
            f.OffsetValue[c] = 0;
        }
    }
    SetText(f.Coupling, "DC");
    FillHealth(f);
    FillGps(f, (s.Supplies & 1) != 0 && !gpsLost_);
    f.HasMde = s.Mde;

    TSignalParams params;
    params.Rate = s.Rate();
    params.BytesPerSample = s.BytesPerSample;
    params.Calibration = s.Calibration;
    // The samples' grid is anchored at the rate change in the unit's time, so that a frame
    // after seconds without frames (a power cycle) still starts with its own second's sample.
    const int count = SamplesInFrame(seconds_ - rateSince_, decimation);
    lastFrame_.Time = epoch_ + static_cast<int64_t>(seconds_);
    lastFrame_.Channels = s.Channels;
    lastFrame_.Rate = s.Rate();
    lastFrame_.Samples = count;
    lastFrame_.BytesPerSample = s.BytesPerSample;
    for (int c = 0; c < 6; ++c) {
        lastFrame_.First[c] = signals_.Produced(c);
    }
    for (int c = 0; c < s.Channels; ++c) {
        params.HighGain = (s.GainMask >> c & 1) != 0;
        // The drift runs on smoothly through the frame's second.
        const double now = static_cast<double>(seconds_);
        const double fullScale = FullScale(s.BytesPerSample);
        params.Offset = DriftCounts(c, now, fullScale, params.HighGain);
        const double next = DriftCounts(c, now + 1, fullScale, params.HighGain);
        params.OffsetStep = count > 0 ? (next - params.Offset) / count : 0;
        signals_.Generate(c, count, params, f.Samples[c]);
    }
    ++seconds_;
    return f;
}

void TFirmware::FillHealth(TWireFrame& f) const {
    const TDeviceSettings& s = settings_;
    const double t = static_cast<double>(seconds_);
    f.SupplyVoltage =
        RawVolts(supply_.value_or(12.0 + 0.05 * std::sin(2 * std::numbers::pi * t / 600)));
    const double milliamps = 60 + 15 * s.Channels + ((s.Supplies & 1) ? 25 : 0) +
                             ((s.Supplies & 2) ? 40 : 0) + ((s.LineOutput & 1) ? 10 : 0);
    f.SupplyCurrent = Raw16(milliamps * 170 / 22);
    f.SensorTemp = RawTemp(temperature_.value_or(BoardTemperature(t)));
    f.RemoteVoltage = RawVolts((s.Supplies & 2) ? 12.0 : 0.0);
    f.UserInput[0] = 2500;
    f.UserInput[1] = 1250;
    for (int c = 0; c < 6; ++c) {
        f.ModuleTemp[c] = RawTemp(temperature_.value_or(ModuleTemperature(c, t)));
    }
}

void TFirmware::FillGps(TWireFrame& f, bool fix) {
    if (config_.Gps == TGpsForm::None) {
        f.LastValidGpsBlock = -1;
        return;
    }
    if (fix) {
        lastFixBlock_ = static_cast<int32_t>(blockCount_);
    }
    f.LastValidGpsBlock = lastFixBlock_;

    // The receiver's date and time are those of the last block with a fix.
    using namespace std::chrono;
    const int64_t since = lastFixBlock_ >= 0 ? blockCount_ - uint32_t(lastFixBlock_) : 0;
    const sys_seconds now{seconds(epoch_ + static_cast<int64_t>(seconds_) - since)};
    const sys_days day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{now - day};
    const int hour = static_cast<int>(time.hours().count());
    const int minute = static_cast<int>(time.minutes().count());
    const int second = static_cast<int>(time.seconds().count());

    if (config_.Gps == TGpsForm::Rmc) {
        TRmcFix rmc;
        rmc.Hour = hour;
        rmc.Minute = minute;
        rmc.Second = second;
        rmc.Valid = fix;
        rmc.LatDegrees = LatDegrees;
        rmc.LatMinutes = LatMinutes;
        rmc.LatHemisphere = 'N';
        rmc.LonDegrees = LonDegrees;
        rmc.LonMinutes = LonMinutes;
        rmc.LonHemisphere = 'E';
        rmc.Day = static_cast<int>(static_cast<unsigned>(date.day()));
        rmc.Month = static_cast<int>(static_cast<unsigned>(date.month()));
        rmc.Year = static_cast<int>(date.year());
        rmc.MagVariation = 2.1;
        rmc.MagVariationDir = 'E';
        f.GpsArea = FormatRmc(rmc);
        return;
    }

    TReceiverReports r;
    r.TimeOfDay = hour * 3600 + minute * 60 + second;
    r.FixSource = fix ? '1' : '9';
    r.FixAge = fix ? '2' : '1';
    r.Hour = hour;
    r.Minute = minute;
    r.Second = second;
    r.Day = static_cast<int>(static_cast<unsigned>(date.day()));
    r.Month = static_cast<int>(static_cast<unsigned>(date.month()));
    r.Year = static_cast<int>(date.year());
    r.UtcOffset = 18;
    r.SvCount = fix ? 9 : 0;
    r.TimeValid = fix;
    r.LatDegrees = LatDegrees;
    r.LatFraction = static_cast<int>(std::lround(LatMinutes / 60 * 100000));
    r.LonDegrees = LonDegrees;
    r.LonFraction = static_cast<int>(std::lround(LonMinutes / 60 * 100000));
    r.AltitudeValid = fix;
    r.Altitude = AltitudeMeters;
    r.Status1 = fix ? '0' : '8';
    r.StatusCode = {'0', '1'};
    f.ReportArea = FormatReports(r);
}
