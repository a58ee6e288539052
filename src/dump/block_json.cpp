#include "dump/block_json.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/json_text.h"

namespace {

using TJson = nlohmann::ordered_json;

// Up to `max` bytes of `text`, to its first zero byte.
TJson Text(const char* text, size_t max) {
    return std::string(text, strnlen(text, max));
}

TJson Char(char c) {
    return Text(&c, 1);
}

// Not finite: null.
TJson Number(double value) {
    return std::isfinite(value) ? TJson(value) : TJson();
}

template <typename T>
TJson Array(const T* values, size_t count) {
    TJson array = TJson::array();
    for (size_t i = 0; i < count; ++i) {
        if constexpr (std::is_floating_point_v<T>) {
            array.push_back(Number(values[i]));
        } else {
            array.push_back(values[i]);
        }
    }
    return array;
}

TJson Header(const TBlockHeader& h) {
    return {{"ModLength", h.ModLength},
            {"MdeLength", h.MdeLength},
            {"DeviceId", Text(h.DeviceId, sizeof h.DeviceId)},
            {"Version", Text(h.Version, sizeof h.Version)},
            {"SerialNumber", Text(h.SerialNumber, sizeof h.SerialNumber)},
            {"BlockCount", h.BlockCount},
            {"NumComponents", h.NumComponents},
            {"TotalRate", h.TotalRate},
            {"BytesPerSample", h.BytesPerSample},
            {"FilterType", Text(h.FilterType, sizeof h.FilterType)},
            {"Decimation", Array(h.Decimation, 5)},
            {"PhaseError", h.PhaseError},
            {"GainCode", Text(h.GainCode, sizeof h.GainCode)},
            {"GainValue", Array(h.GainValue, MaxChannels)},
            {"OffsetValue", Array(h.OffsetValue, MaxChannels)},
            {"SupplyVoltage", Number(h.SupplyVoltage)},
            {"SupplyCurrent", Number(h.SupplyCurrent)},
            {"SensorTemp", Number(h.SensorTemp)},
            {"RemoteVoltage", Number(h.RemoteVoltage)},
            {"UserInput", Array(h.UserInput, 4)},
            {"ModuleTemp", Array(h.ModuleTemp, MaxChannels)},
            {"Coupling", Text(h.Coupling, sizeof h.Coupling)},
            {"LastValidGpsBlock", h.LastValidGpsBlock},
            {"HasMde", h.HasMde}};
}

TJson Gps(const TGpsInfo& g) {
    return {{"Text", Text(g.Text, sizeof g.Text)},
            {"Present", g.Present},
            {"Year", g.Year},
            {"Month", g.Month},
            {"Day", g.Day},
            {"Hour", g.Hour},
            {"Minute", g.Minute},
            {"Second", g.Second},
            {"Source", g.Source},
            {"FixValid", g.FixValid},
            {"LatDegrees", g.LatDegrees},
            {"LatMinutes", Number(g.LatMinutes)},
            {"LatHemisphere", Char(g.LatHemisphere)},
            {"LonDegrees", g.LonDegrees},
            {"LonMinutes", Number(g.LonMinutes)},
            {"LonHemisphere", Char(g.LonHemisphere)},
            {"Speed", Number(g.Speed)},
            {"Course", Number(g.Course)},
            {"MagVariation", Number(g.MagVariation)},
            {"MagVariationDir", Char(g.MagVariationDir)},
            {"TimeOfDay", g.TimeOfDay},
            {"Altitude", g.Altitude},
            {"FixSource", Char(g.FixSource)},
            {"FixAge", Char(g.FixAge)},
            {"VerticalVelocity", Number(g.VerticalVelocity)},
            {"Status1", Char(g.Status1)},
            {"Status2", Char(g.Status2)},
            {"Status3", Char(g.Status3)},
            {"StatusCode", Text(g.StatusCode, sizeof g.StatusCode)},
            {"StatusFlag", Char(g.StatusFlag)},
            {"UtcOffset", g.UtcOffset},
            {"SvCount", g.SvCount},
            {"TimeValid", g.TimeValid}};
}

TJson Samples(const TSampleSet& s, int channels) {
    TJson channel = TJson::array();
    for (int c = 0; c < channels && c < MaxChannels; ++c) {
        channel.push_back(Array(s.Channel[c].data(), s.Channel[c].size()));
    }
    return {{"DatLength", s.DatLength}, {"Channel", std::move(channel)}};
}

}  // namespace

std::string BlockToJson(const TDataBlock& block) {
    TJson json = TJson::object();
    json["Header"] = block.Header ? Header(*block.Header) : TJson();
    json["Gps"] = block.Gps ? Gps(*block.Gps) : TJson();
    json["Samples"] = block.Samples
                          ? Samples(*block.Samples, block.Header ? block.Header->NumComponents : 0)
                          : TJson();
    json["Sum"] =
        block.Sum ? TJson{{"SumLength", block.Sum->SumLength}, {"Checksum", block.Sum->Checksum}}
                  : TJson();
    return JsonText(json);
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
