#include "monitor/header_texts.h"

#include <algorithm>
#include <cstring>

namespace {

template <size_t N>
std::string DeviceText(const char (&field)[N]) {
    return DeviceTextToUtf8(field, N);
}

}  // namespace

std::string DeviceTextToUtf8(const char* text, size_t maxLength) {
    std::string utf8;
    for (size_t i = 0; i < maxLength && text[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            utf8 += char(byte);
        } else {
            utf8 += char(0xC0 | (byte >> 6));
            utf8 += char(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

std::string GainSummary(int32_t gainBits, int channelCount) {
    std::string summary;
    const int channels = std::clamp(channelCount, 1, MaxChannels);
    for (int n = 1; n <= channels; ++n) {
        if (n > 1) {
            summary += ", ";
        }
        summary += std::to_string(n);
        summary += GainFactorOf(gainBits, n - 1) == 10 ? " Hi" : " Lo";
    }
    return summary;
}

THeaderTexts HeaderTexts(const TBlockHeader& h, const TStreamFormat& format,
                         const TNumberSeparators& separators) {
    const auto whole = [&separators](double value) { return FormatNumber(value, 0, separators); };
    const auto withUnit = [&separators](double value, int decimals, const char* unit) {
        return FormatNumber(value, decimals, separators) + unit;
    };
    const bool mde = h.HasMde != 0;
    THeaderTexts t;
    t.DeviceId = DeviceText(h.DeviceId);
    t.Version = DeviceText(h.Version);
    t.SNum = DeviceText(h.SerialNumber);
    t.NumComps = whole(format.ChannelCount);
    t.SRate = whole(format.SampleRate);
    t.ByteCount = whole(format.BytesPerSample);
    t.BRateStr = whole(format.BaudRate);
    t.BlockCount = whole(h.BlockCount);
    t.LastValidGPSBlock = h.LastValidGpsBlock == -1 ? "N/A" : whole(uint32_t(h.LastValidGpsBlock));
    for (size_t i = 0; i < t.Deci.size(); ++i) {
        t.Deci[i] = i < 2 || mde ? whole(h.Decimation[i]) : "";
    }
    for (size_t c = 0; c < MaxChannels; ++c) {
        t.GainC[c] = c < 3 || mde ? whole(h.GainValue[c]) : "";
        t.OffsetC[c] = c < 3 || mde ? whole(h.OffsetValue[c]) : "";
    }
    t.ADC[0] = withUnit(h.SupplyVoltage, 3, " V");
    t.ADC[1] = withUnit(h.SupplyCurrent, 3, " mA");
    t.ADC[2] = withUnit(h.SensorTemp, 1, " deg C");
    t.ADC[3] = withUnit(h.RemoteVoltage, 3, " V");
    for (size_t i = 0; i < 4; ++i) {
        t.ADC[4 + i] = withUnit(h.UserInput[i], 3, " V");
    }
    for (size_t c = 0; c < MaxChannels; ++c) {
        t.ADC[8 + c] = mde ? withUnit(h.ModuleTemp[c], 1, " deg C") : "";
    }
    t.PhaseError = whole(h.PhaseError);
    t.Coupling = DeviceText(h.Coupling);
    if (format.FilterCode == 0) {
        t.FilterTypeStr = "Minimal Phase";
    } else if (format.FilterCode == 1) {
        t.FilterTypeStr = "Linear Phase";
    } else {
        t.FilterTypeStr = "Unknown - " + DeviceText(h.FilterType);
    }
    t.GainStr = GainSummary(format.GainBits, format.ChannelCount);
    return t;
}

std::vector<std::pair<std::string, std::string>> THeaderTexts::Labels() const {
    std::vector<std::pair<std::string, std::string>> labels = {
        {"DeviceId", DeviceId},
        {"Version", Version},
        {"SNum", SNum},
        {"NumComps", NumComps},
        {"SRate", SRate},
        {"ByteCount", ByteCount},
        {"BRateStr", BRateStr},
        {"BlockCount", BlockCount},
        {"LastValidGPSBlock", LastValidGPSBlock}};
    for (size_t i = 0; i < Deci.size(); ++i) {
        labels.emplace_back("Deci" + std::to_string(i + 3), Deci[i]);
    }
    for (size_t c = 0; c < GainC.size(); ++c) {
        labels.emplace_back("GainC" + std::to_string(c + 1), GainC[c]);
    }
    for (size_t c = 0; c < OffsetC.size(); ++c) {
        labels.emplace_back("OffsetC" + std::to_string(c + 1), OffsetC[c]);
    }
    for (size_t i = 0; i < ADC.size(); ++i) {
        labels.emplace_back("ADC" + std::to_string(i), ADC[i]);
    }
    labels.emplace_back("PhaseError", PhaseError);
    labels.emplace_back("Coupling", Coupling);
    labels.emplace_back("FilterTypeStr", FilterTypeStr);
    labels.emplace_back("GainStr", GainStr);
    return labels;
}
