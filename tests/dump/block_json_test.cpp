// The dump tool's JSON: valid, complete, and faithful to the decoded block.
#include "dump/block_json.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

#include "digitizer/frame_parser.h"
#include "sim/gps_text.h"
#include "support/frames.h"

namespace {

TDataBlock* Decode(const TWireFrame& frame) {
    const auto bytes = EncodeFrame(frame);
    TDataBlock* block = NewBlock();
    EXPECT_TRUE(ParseFrame(block, bytes.data(), static_cast<int32_t>(bytes.size())));
    return block;
}

}  // namespace

TEST(BlockJson, HoldsEveryPartWithTheFieldNamesAndValuesOfTheBlock) {
    TWireFrame frame = MakeTestFrame(42, 4, 5, 2, true);
    TRmcFix fix;
    fix.LatDegrees = 51;
    fix.LatMinutes = 30.25;
    fix.LatHemisphere = 'S';
    fix.Day = 7;
    fix.Month = 12;
    fix.Year = 2026;
    frame.GpsArea = FormatRmc(fix);
    frame.GainValue[1] = 0x1FFFFFFF;
    frame.ModuleTemp[5] = 250;
    SetText(frame.DeviceId, "Q\"F\\5\xff");
    TDataBlock* block = Decode(frame);
    const std::string text = BlockToJson(*block);
    EXPECT_EQ(text.find('\n'), std::string::npos) << "one line per block";
    nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(json.is_discarded()) << text;

    nlohmann::json& header = json["Header"];
    // 0xFF is not UTF-8: its Latin-1 character.
    EXPECT_EQ(header["DeviceId"].get<std::string>(), "Q\"F\\5\xC3\xBF      ");
    EXPECT_EQ(header["SerialNumber"].get<std::string>(), "A1234567");
    EXPECT_EQ(header["BlockCount"].get<double>(), 42);
    EXPECT_EQ(header["NumComponents"].get<double>(), 4);
    EXPECT_EQ(header["HasMde"].get<double>(), 1);
    EXPECT_EQ(header["GainValue"][1].get<double>(), -1);
    EXPECT_EQ(header["GainValue"].size(), 6u);
    EXPECT_DOUBLE_EQ(header["ModuleTemp"][5].get<double>(), -25.0);
    EXPECT_EQ(header["Decimation"].size(), 5u);

    nlohmann::json& gps = json["Gps"];
    EXPECT_EQ(gps["Present"].get<double>(), 1);
    EXPECT_EQ(gps["LatHemisphere"].get<std::string>(), "S");
    EXPECT_DOUBLE_EQ(gps["LatMinutes"].get<double>(), 30.25);
    EXPECT_EQ(gps["Year"].get<double>(), 2026);
    EXPECT_EQ(gps["Status1"].get<std::string>(), "") << "a zero character is an empty string";
    EXPECT_EQ(gps["Text"].get<std::string>().substr(0, 6), "$GPRMC");

    nlohmann::json& samples = json["Samples"];
    EXPECT_EQ(samples["DatLength"].get<double>(), 4 * 5 * 2);
    ASSERT_EQ(samples["Channel"].size(), 4u);
    for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(samples["Channel"][c].size(), 5u);
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(samples["Channel"][c][j].get<double>(), block->Samples->Channel[c][j]);
        }
    }
    EXPECT_EQ(samples["Channel"][3][4].get<double>(),
              (42000 + 304) % 65536 * 65536.0 - 65536.0 * 65536);
    EXPECT_EQ(json["Sum"]["Checksum"].get<double>(), block->Sum->Checksum);
    EXPECT_EQ(json["Sum"]["SumLength"].get<double>(), 4);
    FreeBlock(block);
}

TEST(BlockJson, AbsentPartsAndNonFiniteNumbersStayValidJson) {
    TDataBlock* block = NewBlock();
    block->Header = std::make_unique<TBlockHeader>();
    block->Header->SupplyVoltage = std::numeric_limits<double>::quiet_NaN();
    block->Header->UserInput[2] = std::numeric_limits<double>::infinity();
    nlohmann::json json = nlohmann::json::parse(BlockToJson(*block), nullptr, false);
    ASSERT_FALSE(json.is_discarded());
    EXPECT_TRUE(json["Header"]["SupplyVoltage"].is_null());
    EXPECT_TRUE(json["Header"]["UserInput"][2].is_null());
    EXPECT_TRUE(json["Gps"].is_null());
    EXPECT_TRUE(json["Samples"].is_null());
    EXPECT_TRUE(json["Sum"].is_null());
    EXPECT_EQ(BlockToLine(*block), "incomplete block");
    FreeBlock(block);
}

TEST(BlockJson, SummaryLineNamesTheBlock) {
    TDataBlock* block = Decode(MakeTestFrame(1234, 3, 100, 3, false));
    const std::string line = BlockToLine(*block);
    EXPECT_NE(line.find("block 1234"), std::string::npos) << line;
    EXPECT_NE(line.find("3 ch"), std::string::npos) << line;
    EXPECT_NE(line.find("100 samples/ch"), std::string::npos) << line;
    FreeBlock(block);
}
