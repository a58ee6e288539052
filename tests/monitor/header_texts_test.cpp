// Header page texts: number formats with the user's separators, the MDE-only rows, markers
// and the gain summary.
#include "monitor/header_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

const TNumberSeparators Comma{",", "."};

TBlockHeader MdeHeader() {
    TBlockHeader h;
    std::strcpy(h.DeviceId, "QF 5150-310");
    std::strcpy(h.Version, "V1.23");
    std::strcpy(h.SerialNumber, "12345678");
    std::strcpy(h.FilterType, "XY");
    std::strcpy(h.Coupling, "DC");
    h.BlockCount = 4294967295u;
    h.LastValidGpsBlock = -1;
    for (int i = 0; i < 5; ++i) {
        h.Decimation[i] = int16_t(i + 3);
    }
    for (int c = 0; c < MaxChannels; ++c) {
        h.GainValue[c] = 1000000 * (c + 1);
        h.OffsetValue[c] = -c;
        h.ModuleTemp[c] = 20 + c;
    }
    h.GainValue[0] = -1;
    h.PhaseError = -1234;
    h.SupplyVoltage = 5;
    h.SupplyCurrent = 22;
    h.SensorTemp = 20;
    h.RemoteVoltage = 15.9;
    h.UserInput[3] = -0.0004;
    h.HasMde = 1;
    return h;
}

TStreamFormat Format(int channels, double rate, int gainBits, int filterCode) {
    return {channels, rate, 3, gainBits, filterCode, 115200};
}

}  // namespace

TEST(HeaderTexts, BlockWithMde) {
    const THeaderTexts t = HeaderTexts(MdeHeader(), Format(6, 100.0 / 3, 63, -1), Comma);
    EXPECT_EQ(t.DeviceId, "QF 5150-310");
    EXPECT_EQ(t.SNum, "12345678");
    EXPECT_EQ(t.NumComps, "6");
    EXPECT_EQ(t.SRate, "33");
    EXPECT_EQ(t.BRateStr, "115,200");
    EXPECT_EQ(t.BlockCount, "4,294,967,295");
    EXPECT_EQ(t.LastValidGPSBlock, "N/A");
    EXPECT_EQ(t.Deci, (std::array<std::string, 5>{"3", "4", "5", "6", "7"}));
    EXPECT_EQ(t.PhaseError, "-1,234");
    EXPECT_EQ(t.GainC[0], "-1");
    EXPECT_EQ(t.GainC[5], "6,000,000");
    EXPECT_EQ(t.OffsetC[5], "-5");
    EXPECT_EQ(t.ADC[0], "5.000 V");
    EXPECT_EQ(t.ADC[1], "22.000 mA");
    EXPECT_EQ(t.ADC[2], "20.0 deg C");
    EXPECT_EQ(t.ADC[3], "15.900 V");
    EXPECT_EQ(t.ADC[7], "0.000 V");  // no minus sign on a value that rounds to zero
    EXPECT_EQ(t.ADC[13], "25.0 deg C");
    EXPECT_EQ(t.Coupling, "DC");
    EXPECT_EQ(t.FilterTypeStr, "Unknown - XY");
    EXPECT_EQ(t.GainStr, "1 Hi, 2 Hi, 3 Hi, 4 Hi, 5 Hi, 6 Hi");
}

TEST(HeaderTexts, BlockWithoutMdeEmptiesTheExtendedRows) {
    TBlockHeader h = MdeHeader();
    h.HasMde = 0;
    std::strcpy(h.SerialNumber, "1234");
    h.LastValidGpsBlock = 0;
    const THeaderTexts t = HeaderTexts(h, Format(3, 0.1, 5, 0), Comma);
    EXPECT_EQ(t.SNum, "1234");
    EXPECT_EQ(t.SRate, "0");
    EXPECT_EQ(t.LastValidGPSBlock, "0");
    EXPECT_EQ(t.Deci, (std::array<std::string, 5>{"3", "4", "", "", ""}));
    for (size_t c = 3; c < MaxChannels; ++c) {
        EXPECT_EQ(t.GainC[c], "");
        EXPECT_EQ(t.OffsetC[c], "");
    }
    EXPECT_NE(t.GainC[2], "");
    for (size_t i = 8; i < 14; ++i) {
        EXPECT_EQ(t.ADC[i], "") << i;
    }
    EXPECT_EQ(t.FilterTypeStr, "Minimal Phase");
    EXPECT_EQ(t.GainStr, "1 Hi, 2 Lo, 3 Hi");
    EXPECT_EQ(HeaderTexts(h, Format(3, 0.1, 5, 1), Comma).FilterTypeStr, "Linear Phase");

    h.LastValidGpsBlock = -2;
    EXPECT_EQ(HeaderTexts(h, Format(3, 0.1, 5, 0), Comma).LastValidGPSBlock, "4,294,967,294");
}

TEST(HeaderTexts, SeparatorsSummaryAndDeviceBytes) {
    TBlockHeader h = MdeHeader();
    h.BlockCount = 1234567;
    h.SupplyVoltage = 8388.6084;
    std::strcpy(h.DeviceId, "Unit\xe9");
    const THeaderTexts t = HeaderTexts(h, Format(1, 200, 0, -1), {".", ","});
    EXPECT_EQ(t.BlockCount, "1.234.567");
    EXPECT_EQ(t.ADC[0], "8.388,608 V");
    EXPECT_EQ(t.DeviceId, "Unit\xc3\xa9");  // Latin-1 e acute in UTF-8
    EXPECT_EQ(t.GainStr, "1 Lo");
    EXPECT_EQ(GainSummary(2, 2), "1 Lo, 2 Hi");

    // Labels() names every value label once and carries its text.
    const auto labels = t.Labels();
    std::set<std::string> names;
    for (const auto& [name, text] : labels) {
        names.insert(name);
    }
    EXPECT_EQ(names.size(), labels.size());
    EXPECT_EQ(labels.size(), 44u);
    for (const auto& [name, text] : labels) {
        if (name == "Deci5") {
            EXPECT_EQ(text, "5");
        } else if (name == "ADC13") {
            EXPECT_EQ(text, "25,0 deg C");
        } else if (name == "OffsetC6") {
            EXPECT_EQ(text, "-5");
        }
    }
    EXPECT_TRUE(names.count("Deci3") && names.count("Deci7") && names.count("GainC6") &&
                names.count("ADC0") && names.count("FilterTypeStr"));
}
