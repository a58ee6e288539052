// The protocol's tables: rate and line-rate lookups, the search cycle, and the
// flag arguments as they go on the line.
#include "digitizer/protocol.h"

#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <string>

TEST(Protocol, LineRatesTheirIndexAndTheSearchCycle) {
    EXPECT_EQ(BaudRateIndex(1200), 0);
    EXPECT_EQ(BaudRateIndex(19200), 4);
    EXPECT_EQ(BaudRateIndex(115200), 7);
    EXPECT_EQ(BaudRateIndex(14400), -1);
    EXPECT_EQ(BaudRateIndex(0), -1);

    int32_t baud = 19200;
    std::vector<int32_t> cycle;
    for (int i = 0; i < 9; ++i) {
        cycle.push_back(baud = BaudCycleNext(baud));
    }
    EXPECT_EQ(cycle,
              (std::vector<int32_t>{38400, 57600, 115200, 1200, 2400, 4800, 9600, 19200, 38400}));
    EXPECT_EQ(BaudCycleNext(14400), 19200);
    EXPECT_EQ(BaudCycleNext(0), 19200);
}

TEST(Protocol, SampleRatesAreFoundByTheirTruncatedCode) {
    EXPECT_EQ(SampleRateIndex(0.1), 0);
    EXPECT_EQ(SampleRateIndex(100.0 / 3), -1);
    EXPECT_EQ(SampleRateIndex(100.09), 13);  // truncated: 1000.9 -> 1000
    EXPECT_EQ(SampleRateIndex(3000), 25);
    for (double bad : {0.0, -0.1, 1e300, std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(SampleRateIndex(bad), -1) << bad;
    }
    // Every caption selects its own row, whose factors divide 3000 samples
    // per second down to that rate.
    for (size_t i = 0; i < SampleRates.size(); ++i) {
        const TSampleRate& row = SampleRates[i];
        const double rate = std::stod(std::string(row.Caption));
        EXPECT_EQ(SampleRateIndex(rate), static_cast<int>(i)) << row.Caption;
        const std::vector<uint8_t> factors = SampleRateFactors(rate);
        const int product = std::accumulate(factors.begin(), factors.end(), 1,
                                            [](int a, uint8_t f) { return a * f; });
        EXPECT_DOUBLE_EQ(product * rate, 3000) << row.Caption;
    }
    EXPECT_EQ(SampleRateFactors(60), (std::vector<uint8_t>{4, 10})) << "as 75";
    EXPECT_EQ(SampleRateFactors(0.1), (std::vector<uint8_t>{6, 10, 10, 10, 5}));
}

TEST(Protocol, FlagArguments) {
    using Flags = std::array<bool, MaxChannels>;
    struct TCase {
        Flags on, high;
        uint16_t expected;
    };
    const TCase cases[] = {
        {{true, true, true, false, false, false},
         {false, true, false, false, false, false},
         0x0017},
        {{true, true, true, true, true, true}, {true, true, true, true, true, true}, 0x3F3F},
        {{true, false, false, false, false, false}, {}, 0x0001},
        {{true, true, true, true, false, false}, {false, false, false, true, false, false}, 0x0907},
        {{}, {}, 0},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(ChannelFlags(c.on, c.high), c.expected);
    }

    EXPECT_EQ(LineOutputFlags(true, true), 3);
    EXPECT_EQ(LineOutputFlags(true, false), 1);
    EXPECT_EQ(LineOutputFlags(false, true), 0);
    EXPECT_EQ(PowerSupplyFlags(true, true), 3);
    EXPECT_EQ(PowerSupplyFlags(false, true), 2);
    EXPECT_EQ(PowerSupplyFlags(true, false), 1);
    EXPECT_EQ(FilterTypeArgument(0), 2);
    EXPECT_EQ(FilterTypeArgument(1), 0);
    EXPECT_EQ(FilterTypeArgument(-1), -1);
}
