#include "dump/block_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

class TJsonWriter {
  public:
    void Begin(const char* name) {
        Key(name);
        out_ += '{';
        first_ = true;
    }
    void End() {
        out_ += '}';
        first_ = false;
    }
    void Text(const char* name, const char* text, size_t max) {
        Key(name);
        out_ += JsonString(text, max);
    }
    void Char(const char* name, char c) { Text(name, &c, 1); }
    void Int(const char* name, long long value) {
        Key(name);
        out_ += std::to_string(value);
    }
    void Double(const char* name, double value) {
        Key(name);
        AppendDouble(value);
    }
    template <typename T>
    void IntArray(const char* name, const T* values, size_t count) {
        Key(name);
        AppendInts(values, count);
    }
    void DoubleArray(const char* name, const double* values, size_t count) {
        Key(name);
        out_ += '[';
        for (size_t i = 0; i < count; ++i) {
            if (i > 0) {
                out_ += ',';
            }
            AppendDouble(values[i]);
        }
        out_ += ']';
    }
    void Null(const char* name) {
        Key(name);
        out_ += "null";
    }
    template <typename T>
    void AppendInts(const T* values, size_t count) {
        out_ += '[';
        char digits[24];
        for (size_t i = 0; i < count; ++i) {
            if (i > 0) {
                out_ += ',';
            }
            auto result = std::to_chars(digits, digits + sizeof digits, values[i]);
            out_.append(digits, result.ptr);
        }
        out_ += ']';
    }
    std::string& Out() { return out_; }
    void Key(const char* name) {
        if (!first_) {
            out_ += ',';
        }
        first_ = false;
        if (name != nullptr) {
            out_ += '"';
            out_ += name;
            out_ += "\":";
        }
    }

  private:
    void AppendDouble(double value) {
        if (!std::isfinite(value)) {
            out_ += "null";
            return;
        }
        char digits[32];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        out_.append(digits, result.ptr);
    }

    std::string out_;
    bool first_ = true;
};

void WriteHeader(TJsonWriter& w, const TBlockHeader& h) {
    w.Begin("Header");
    w.Int("ModLength", h.ModLength);
    w.Int("MdeLength", h.MdeLength);
    w.Text("DeviceId", h.DeviceId, sizeof h.DeviceId);
    w.Text("Version", h.Version, sizeof h.Version);
    w.Text("SerialNumber", h.SerialNumber, sizeof h.SerialNumber);
    w.Int("BlockCount", h.BlockCount);
    w.Int("NumComponents", h.NumComponents);
    w.Int("TotalRate", h.TotalRate);
    w.Int("BytesPerSample", h.BytesPerSample);
    w.Text("FilterType", h.FilterType, sizeof h.FilterType);
    w.IntArray("Decimation", h.Decimation, 5);
    w.Int("PhaseError", h.PhaseError);
    w.Text("GainCode", h.GainCode, sizeof h.GainCode);
    w.IntArray("GainValue", h.GainValue, MaxChannels);
    w.IntArray("OffsetValue", h.OffsetValue, MaxChannels);
    w.Double("SupplyVoltage", h.SupplyVoltage);
    w.Double("SupplyCurrent", h.SupplyCurrent);
    w.Double("SensorTemp", h.SensorTemp);
    w.Double("RemoteVoltage", h.RemoteVoltage);
    w.DoubleArray("UserInput", h.UserInput, 4);
    w.DoubleArray("ModuleTemp", h.ModuleTemp, MaxChannels);
    w.Text("Coupling", h.Coupling, sizeof h.Coupling);
    w.Int("LastValidGpsBlock", h.LastValidGpsBlock);
    w.Int("HasMde", h.HasMde);
    w.End();
}

void WriteGps(TJsonWriter& w, const TGpsInfo& g) {
    w.Begin("Gps");
    w.Text("Text", g.Text, sizeof g.Text);
    w.Int("Present", g.Present);
    w.Int("Year", g.Year);
    w.Int("Month", g.Month);
    w.Int("Day", g.Day);
    w.Int("Hour", g.Hour);
    w.Int("Minute", g.Minute);
    w.Int("Second", g.Second);
    w.Int("Source", g.Source);
    w.Int("FixValid", g.FixValid);
    w.Int("LatDegrees", g.LatDegrees);
    w.Double("LatMinutes", g.LatMinutes);
    w.Char("LatHemisphere", g.LatHemisphere);
    w.Int("LonDegrees", g.LonDegrees);
    w.Double("LonMinutes", g.LonMinutes);
    w.Char("LonHemisphere", g.LonHemisphere);
    w.Double("Speed", g.Speed);
    w.Double("Course", g.Course);
    w.Double("MagVariation", g.MagVariation);
    w.Char("MagVariationDir", g.MagVariationDir);
    w.Int("TimeOfDay", g.TimeOfDay);
    w.Int("Altitude", g.Altitude);
    w.Char("FixSource", g.FixSource);
    w.Char("FixAge", g.FixAge);
    w.Double("VerticalVelocity", g.VerticalVelocity);
    w.Char("Status1", g.Status1);
    w.Char("Status2", g.Status2);
    w.Char("Status3", g.Status3);
    w.Text("StatusCode", g.StatusCode, sizeof g.StatusCode);
    w.Char("StatusFlag", g.StatusFlag);
    w.Int("UtcOffset", g.UtcOffset);
    w.Int("SvCount", g.SvCount);
    w.Int("TimeValid", g.TimeValid);
    w.End();
}

void WriteSamples(TJsonWriter& w, const TSampleSet& s, int channels) {
    w.Begin("Samples");
    w.Int("DatLength", s.DatLength);
    w.Key("Channel");
    w.Out() += '[';
    for (int c = 0; c < channels && c < MaxChannels; ++c) {
        if (c > 0) {
            w.Out() += ',';
        }
        w.AppendInts(s.Channel[c].data(), s.Channel[c].size());
    }
    w.Out() += ']';
    w.End();
}

}  // namespace

std::string JsonString(const char* text, size_t max) {
    std::string out = "\"";
    for (size_t i = 0; i < max && text[i] != 0; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Bytes from the device are not UTF-8: keep each as its code point.
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string BlockToJson(const TDataBlock& block) {
    TJsonWriter w;
    w.Out() += '{';
    if (block.Header) {
        WriteHeader(w, *block.Header);
    } else {
        w.Null("Header");
    }
    if (block.Gps) {
        WriteGps(w, *block.Gps);
    } else {
        w.Null("Gps");
    }
    if (block.Samples) {
        WriteSamples(w, *block.Samples, block.Header ? block.Header->NumComponents : 0);
    } else {
        w.Null("Samples");
    }
    if (block.Sum) {
        w.Begin("Sum");
        w.Int("SumLength", block.Sum->SumLength);
        w.Int("Checksum", block.Sum->Checksum);
        w.End();
    } else {
        w.Null("Sum");
    }
    w.Out() += '}';
    return std::move(w.Out());
}

std::string BlockToLine(const TDataBlock& block) {
    if (!block.Header || !block.Gps || !block.Samples || !block.Sum) {
        return "incomplete block";
    }
    const TBlockHeader& h = *block.Header;
    const TGpsInfo& g = *block.Gps;
    char gps[64] = "no GPS";
    if (g.Present) {
        std::snprintf(gps, sizeof gps, "GPS %04d-%02d-%02d %02d:%02d:%02d%s", g.Year, g.Month,
                      g.Day, g.Hour, g.Minute, g.Second, g.FixValid ? "" : " (no fix)");
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "block %u: %u ch, rate field %d, %u bytes, %u samples/ch, %s, serial %s, "
                  "%s, checksum 0x%04X",
                  h.BlockCount, h.NumComponents, h.TotalRate, h.BytesPerSample,
                  SamplesPerChannel(h, *block.Samples), gps, h.SerialNumber,
                  h.HasMde ? "MDE" : "no MDE", block.Sum->Checksum);
    return line;
}
