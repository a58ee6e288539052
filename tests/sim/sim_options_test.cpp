#include <gtest/gtest.h>

#include "sim/sim_options.h"

namespace {

TEST(SimOptions, TakesEveryOptionInBothForms) {
    const TSimOptions o = ParseSimOptions({"--channels",
                                           "6",
                                           "--rate=0.5",
                                           "--bytes",
                                           "2",
                                           "--gps",
                                           "reports",
                                           "--signal=counter",
                                           "--baud",
                                           "115200",
                                           "--speed",
                                           "12.5",
                                           "--seconds=3",
                                           "--link",
                                           "/tmp/x",
                                           "--boot",
                                           "--fault",
                                           "split-echo",
                                           "--fault=corrupt=0.25",
                                           "--seed",
                                           "77",
                                           "--memory=/tmp/unit.bin",
                                           "--journal",
                                           "/tmp/unit.log"});
    ASSERT_EQ(o.Error, "");
    EXPECT_FALSE(o.Help);
    const TSimConfig& c = o.Config;
    EXPECT_EQ(c.Channels, 6);
    EXPECT_DOUBLE_EQ(c.Rate, 0.5);
    EXPECT_EQ(c.BytesPerSample, 2);
    EXPECT_EQ(c.Gps, TGpsForm::Reports);
    EXPECT_TRUE(c.Mde) << "receiver reports need the enhanced header";
    EXPECT_EQ(c.Signal, TSignalKind::Counter);
    EXPECT_EQ(c.Baud, 115200);
    EXPECT_DOUBLE_EQ(c.Speed, 12.5);
    EXPECT_DOUBLE_EQ(c.Seconds, 3);
    EXPECT_EQ(c.LinkPath, "/tmp/x");
    EXPECT_TRUE(c.Boot);
    ASSERT_EQ(c.Faults.size(), 2u);
    EXPECT_EQ(c.Faults[0].Kind, TFaultKind::SplitEcho);
    EXPECT_DOUBLE_EQ(c.Faults[0].Rate, 1.0);
    EXPECT_EQ(c.Faults[1].Kind, TFaultKind::Corrupt);
    EXPECT_DOUBLE_EQ(c.Faults[1].Rate, 0.25);
    EXPECT_EQ(c.Seed, 77u);
    EXPECT_EQ(c.MemoryPath, "/tmp/unit.bin");
    EXPECT_EQ(c.JournalPath, "/tmp/unit.log");

    const TSimOptions defaults = ParseSimOptions({});
    EXPECT_EQ(defaults.Error, "");
    EXPECT_EQ(defaults.Config.Channels, 3);
    EXPECT_DOUBLE_EQ(defaults.Config.Rate, 100);
    EXPECT_EQ(defaults.Config.Baud, 19200);
    EXPECT_FALSE(defaults.Config.Mde);
    EXPECT_TRUE(ParseSimOptions({"--help"}).Help);
}

TEST(SimOptions, RejectsBadArgumentsWithAMessage) {
    const std::vector<std::vector<std::string>> bad = {
        {"--channels", "0"},
        {"--channels", "7"},
        {"--channels", "3x"},
        {"--rate", "60"},
        {"--rate", "0.3"},
        {"--rate", "abc"},
        {"--bytes", "5"},
        {"--bytes", "0"},
        {"--baud", "14400"},
        {"--baud", "-19200"},
        {"--speed", "0"},
        {"--speed", "-1"},
        {"--seconds", "-2"},
        {"--gps", "nmea"},
        {"--signal", "square"},
        {"--fault", "melt"},
        {"--fault", "drop=2"},
        {"--fault", "drop=x"},
        {"--seed", "-1"},
        {"--frobnicate"},
        {"--mde=1"},
        {"stray"},
        {"--rate"},
        {"--link", ""},
    };
    for (const auto& args : bad) {
        const TSimOptions o = ParseSimOptions(args);
        EXPECT_NE(o.Error, "") << args[0] << (args.size() > 1 ? " " + args[1] : "");
    }
    EXPECT_EQ(ParseSimOptions({"--rate"}).Error, "--rate needs a value");
    EXPECT_EQ(ParseSimOptions({"--frobnicate"}).Error, "unknown option --frobnicate");
    for (double rate : SettableRates) {
        EXPECT_EQ(ParseSimOptions({"--rate", std::to_string(rate)}).Error, "") << rate;
    }
}

}  // namespace
