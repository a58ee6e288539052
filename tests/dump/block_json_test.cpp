// The dump tool's JSON: valid, complete, and faithful to the decoded block.
#include "dump/block_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "digitizer/frame_parser.h"
#include "sim/gps_text.h"
#include "support/frames.h"
#include "support/json.h"

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
    auto json = ParseJson(text);
    ASSERT_TRUE(json) << text;

    const TJson& header = (*json)["Header"];
    EXPECT_EQ(header["DeviceId"].String, std::string("Q\"F\\5\xff      "));
    EXPECT_EQ(header["SerialNumber"].String, "A1234567");
    EXPECT_EQ(header["BlockCount"].Number, 42);
    EXPECT_EQ(header["NumComponents"].Number, 4);
    EXPECT_EQ(header["HasMde"].Number, 1);
    EXPECT_EQ(header["GainValue"][1].Number, -1);
    EXPECT_EQ(header["GainValue"].Array.size(), 6u);
    EXPECT_DOUBLE_EQ(header["ModuleTemp"][5].Number, -25.0);
    EXPECT_EQ(header["Decimation"].Array.size(), 5u);

    const TJson& gps = (*json)["Gps"];
    EXPECT_EQ(gps["Present"].Number, 1);
    EXPECT_EQ(gps["LatHemisphere"].String, "S");
    EXPECT_DOUBLE_EQ(gps["LatMinutes"].Number, 30.25);
    EXPECT_EQ(gps["Year"].Number, 2026);
    EXPECT_EQ(gps["Status1"].String, "") << "a zero character is an empty string";
    EXPECT_EQ(gps["Text"].String.substr(0, 6), "$GPRMC");

    const TJson& samples = (*json)["Samples"];
    EXPECT_EQ(samples["DatLength"].Number, 4 * 5 * 2);
    ASSERT_EQ(samples["Channel"].Array.size(), 4u);
    for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(samples["Channel"][c].Array.size(), 5u);
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(samples["Channel"][c][j].Number, block->Samples->Channel[c][j]);
        }
    }
    EXPECT_EQ(samples["Channel"][3][4].Number, (42000 + 304) % 65536 * 65536.0 - 65536.0 * 65536);
    EXPECT_EQ((*json)["Sum"]["Checksum"].Number, block->Sum->Checksum);
    EXPECT_EQ((*json)["Sum"]["SumLength"].Number, 4);
    FreeBlock(block);
}

TEST(BlockJson, AbsentPartsAndNonFiniteNumbersStayValidJson) {
    TDataBlock* block = NewBlock();
    block->Header = std::make_unique<TBlockHeader>();
    block->Header->SupplyVoltage = std::numeric_limits<double>::quiet_NaN();
    block->Header->UserInput[2] = std::numeric_limits<double>::infinity();
    auto json = ParseJson(BlockToJson(*block));
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["Header"]["SupplyVoltage"].Kind, TJson::TKind::Null);
    EXPECT_EQ((*json)["Header"]["UserInput"][2].Kind, TJson::TKind::Null);
    EXPECT_EQ((*json)["Gps"].Kind, TJson::TKind::Null);
    EXPECT_EQ((*json)["Samples"].Kind, TJson::TKind::Null);
    EXPECT_EQ((*json)["Sum"].Kind, TJson::TKind::Null);
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
