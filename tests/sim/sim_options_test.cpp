#include <gtest/gtest.h>

#include <tuple>

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
                                           "/tmp/unit.log",
                                           "--start",
                                           "2024-12-31 23:59:30",
                                           "--at",
                                           "30:power-cycle",
                                           "--at=5:rate=0.5",
                                           "--at",
                                           "5:channels=6",
                                           "--at",
                                           "0:silence=2",
                                           "--at",
                                           "7:reopen",
                                           "--at=8:supply=10.2",
                                           "--at=9:temperature=-5",
                                           "--at=10:gps=lost",
                                           "--at=11:gps=fix",
                                           "--at",
                                           "12:calibration=1"});
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
    EXPECT_EQ(c.StartTime, 1735689570);
    // In the order given; the simulator does them in the order of their seconds.
    const std::vector<std::tuple<uint64_t, TActionKind, double>> actions = {
        {30, TActionKind::PowerCycle, 0},  {5, TActionKind::Rate, 0.5},
        {5, TActionKind::Channels, 6},     {0, TActionKind::Silence, 2},
        {7, TActionKind::Reopen, 0},       {8, TActionKind::Supply, 10.2},
        {9, TActionKind::Temperature, -5}, {10, TActionKind::GpsFix, 0},
        {11, TActionKind::GpsFix, 1},      {12, TActionKind::Calibration, 1},
    };
    ASSERT_EQ(c.Actions.size(), actions.size());
    for (size_t i = 0; i < actions.size(); ++i) {
        EXPECT_EQ(c.Actions[i].At, std::get<0>(actions[i])) << i;
        EXPECT_EQ(c.Actions[i].Kind, std::get<1>(actions[i])) << i;
        EXPECT_DOUBLE_EQ(c.Actions[i].Value, std::get<2>(actions[i])) << i;
    }

    const TSimOptions defaults = ParseSimOptions({});
    EXPECT_EQ(defaults.Error, "");
    EXPECT_EQ(defaults.Config.Channels, 3);
    EXPECT_DOUBLE_EQ(defaults.Config.Rate, 100);
    EXPECT_EQ(defaults.Config.Baud, 19200);
    EXPECT_FALSE(defaults.Config.Mde);
    EXPECT_FALSE(defaults.Config.StartTime) << "the computer's clock";
    EXPECT_TRUE(defaults.Config.Actions.empty());
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
        {"--at", "5"},
        {"--at", "5:"},
        {"--at", ":reopen"},
        {"--at", "-1:reopen"},
        {"--at", "1.5:reopen"},
        {"--at", "5:reopen=1"},
        {"--at", "5:explode"},
        {"--at", "5:rate=60"},
        {"--at", "5:rate"},
        {"--at", "5:channels=0"},
        {"--at", "5:channels=7"},
        {"--at", "5:silence=0"},
        {"--at", "5:silence=x"},
        {"--at", "5:calibration=10"},
        {"--at", "5:calibration"},
        {"--at", "5:power-cycle=now"},
        {"--at", "5:supply=31"},
        {"--at", "5:supply"},
        {"--at", "5:temperature=hot"},
        {"--at", "5:gps=maybe"},
        {"--at", "5:gps"},
        {"--start", "tomorrow"},
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

TEST(SimOptions, StartTimeIsAUtcTimeInOneOfItsFormsOrRefused) {
    // 2024-12-31T23:59:30Z is 1735689570 seconds after 1970.
    const std::vector<std::pair<std::string, int64_t>> good = {
        {"2024-12-31T23:59:30Z", 1735689570}, {"2024-12-31T23:59:30", 1735689570},
        {"2024-12-31 23:59:30", 1735689570},  {"2024-12-31 23:59:30Z", 1735689570},
        {"2000-01-01T00:00:00Z", 946684800},  {"2024-02-29T12:00:00Z", 1709208000},  // a leap day
        {"2099-12-31T23:59:59Z", 4102444799},
    };
    for (const auto& [text, seconds] : good) {
        int64_t parsed = 0;
        EXPECT_TRUE(ParseUtcTime(text, parsed)) << text;
        EXPECT_EQ(parsed, seconds) << text;
        EXPECT_EQ(ParseSimOptions({"--start", text}).Config.StartTime, seconds) << text;
    }
    const std::vector<std::string> bad = {
        "",
        "2024-12-31",
        "2024-12-31T23:59",
        "2024-12-31T23:59:30ZZ",
        "2024-12-31T23:59:30z",
        "2024-12-31t23:59:30Z",
        "2024-12-31_23:59:30",
        "2024-12-31T23:59:30+01:00",
        "2024-12-31T23:59:30.5Z",
        "2024-12-31T23:59:60Z",  // no leap seconds
        "2024-12-31T24:00:00Z",
        "2024-12-31T23:60:00Z",
        "2023-02-29T00:00:00Z",
        "2024-13-01T00:00:00Z",
        "2024-00-10T00:00:00Z",
        "2024-12-32T00:00:00Z",
        "2024-1-31T00:00:00Z ",
        " 2024-12-31T23:59:30",
        "1999-12-31T23:59:59Z",  // the GPS sentence's two-digit year
        "2100-01-01T00:00:00Z",
        "+024-12-31T23:59:30Z",
    };
    for (const std::string& text : bad) {
        int64_t parsed = 0;
        EXPECT_FALSE(ParseUtcTime(text, parsed)) << "'" << text << "'";
        const std::string error = ParseSimOptions({"--start", text}).Error;
        EXPECT_EQ(error, "--start " + text +
                             ": must be a UTC time from 2000 to 2099 such as "
                             "2024-12-31T23:59:30Z (the Z may be left out, the T may be a space)");
    }
}

}  // namespace
