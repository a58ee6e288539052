#include "recording/stream_codes.h"

#include <algorithm>
#include <cctype>
#include <cstring>

char BandCode(double sampleRate) {
    if (sampleRate >= 1000) {
        return 'F';
    }
    if (sampleRate >= 250) {
        return 'C';
    }
    if (sampleRate >= 80) {
        return 'H';
    }
    if (sampleRate >= 10) {
        return 'B';
    }
    if (sampleRate > 1) {
        return 'M';
    }
    if (sampleRate >= 0.5) {
        return 'L';
    }
    if (sampleRate >= 0.05) {
        return 'V';
    }
    return 'U';
}

char BandCodeLike(char configured, double sampleRate) {
    if (std::strchr("GDES", configured) != nullptr && configured != 0 && sampleRate >= 10) {
        return sampleRate >= 1000 ? 'G' : sampleRate >= 250 ? 'D' : sampleRate >= 80 ? 'E' : 'S';
    }
    return BandCode(sampleRate);
}

std::string DataChannelCode(const std::string& configured, int channel, double sampleRate) {
    static constexpr char Orientations[] = "ZNE123";
    if (configured.size() == 3) {
        return BandCodeLike(configured[0], sampleRate) + configured.substr(1);
    }
    std::string code(1, BandCode(sampleRate));
    if (configured.size() == 2) {
        return code + configured;
    }
    code += 'H';
    code += Orientations[channel >= 0 && channel < 6 ? channel : 0];
    return code;
}

TStreamCode SplitStreamCode(const std::string& configured, const std::string& location) {
    const size_t dot = configured.find('.');
    if (dot == std::string::npos) {
        return {location, configured};
    }
    return {configured.substr(0, dot), configured.substr(dot + 1)};
}

std::vector<TStreamCode> DataStreamCodes(const std::array<std::string, 6>& configured,
                                         const std::string& location, int channelCount,
                                         double sampleRate) {
    std::vector<TStreamCode> codes;
    const auto taken = [&](const TStreamCode& code) {
        return std::find(codes.begin(), codes.end(), code) != codes.end();
    };
    for (int c = 0; c < channelCount && c < 6; ++c) {
        const TStreamCode given = SplitStreamCode(configured[static_cast<size_t>(c)], location);
        TStreamCode code{given.Location, DataChannelCode(given.Channel, c, sampleRate)};
        if (taken(code)) {
            code.Channel = DataChannelCode("", c, sampleRate);
        }
        if (taken(code)) {
            code.Channel = std::string(1, BandCode(sampleRate)) + "X" + static_cast<char>('1' + c);
        }
        codes.push_back(code);
    }
    return codes;
}

std::string StationFromSerial(const std::string& serialNumber) {
    std::string code;
    for (const char c : serialNumber) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 128) {
            code += static_cast<char>(std::toupper(u));
        }
    }
    if (code.size() > 4) {
        code.erase(0, code.size() - 4);
    }
    return code.empty() ? "UNIT" : code;
}

std::string StationCodeOf(const std::string& configured, const std::string& serialNumber) {
    return configured.empty() ? StationFromSerial(serialNumber) : configured;
}

std::vector<TSohStream> SohStreams(int channelCount, bool moduleTemperatures) {
    std::vector<TSohStream> streams = {
        {"LEV", TSohKind::Supply},
        {"LEC", TSohKind::Current},
        {"LKS", TSohKind::SensorTemp},
    };
    if (moduleTemperatures) {
        for (int c = 0; c < channelCount && c < 6; ++c) {
            streams.push_back({"LK" + std::to_string(c + 1), TSohKind::ModuleTemp, c});
        }
    }
    streams.push_back({"LCS", TSohKind::Satellites});
    streams.push_back({"LCF", TSohKind::GpsFix});
    return streams;
}

int32_t SohValue(const TSohStream& stream, const TSohReadings& soh) {
    switch (stream.Kind) {
        case TSohKind::Supply:
            return soh.SupplyMillivolts;
        case TSohKind::Current:
            return soh.SupplyMilliamperes;
        case TSohKind::SensorTemp:
            return soh.SensorDeciCelsius;
        case TSohKind::ModuleTemp:
            return soh.ModuleDeciCelsius[static_cast<size_t>(stream.Index)];
        case TSohKind::Satellites:
            return soh.Satellites;
        case TSohKind::GpsFix:
            return soh.GpsFix;
    }
    return 0;
}
