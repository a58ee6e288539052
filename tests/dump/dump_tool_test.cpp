// The digitizer-dump program against the digitizer-sim program: a live stream
// decoded by one process and checked from its JSON output.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <unistd.h>

#include <thread>

#include "sim/signals.h"
#include "support/child_process.h"
#include "support/pty_pair.h"

using namespace std::chrono_literals;

TEST(DumpTool, ShowsALiveCorrectStreamFromTheSimulator) {
    TChild sim({DIGITIZER_SIM, "--channels", "4", "--rate", "20", "--bytes", "3", "--gps",
                "reports", "--signal", "counter", "--speed", "10", "--baud", "38400"});
    const auto simLines = sim.ReadLines(1, 5s);
    ASSERT_EQ(simLines.size(), 1u) << sim.Errors();
    const std::string device = simLines[0];

    TChild dump({DIGITIZER_DUMP, device, "--baud", "38400", "--json", "--blocks", "12"});
    EXPECT_EQ(dump.Wait(20s), 0) << dump.Errors();
    const auto lines = dump.ReadLines(12, 1s);
    ASSERT_EQ(lines.size(), 12u) << dump.Errors();

    uint64_t k = 0;
    double previousCount = -1;
    for (size_t b = 0; b < lines.size(); ++b) {
        nlohmann::json json = nlohmann::json::parse(lines[b], nullptr, false);
        ASSERT_FALSE(json.is_discarded()) << lines[b];
        nlohmann::json& header = json["Header"];
        EXPECT_EQ(header["NumComponents"].get<double>(), 4);
        EXPECT_EQ(header["HasMde"].get<double>(), 1);
        EXPECT_EQ(json["Gps"]["Source"].get<double>(), 2) << "receiver reports";
        if (previousCount >= 0) {
            EXPECT_EQ(header["BlockCount"].get<double>(), previousCount + 1) << "a block was lost";
        }
        previousCount = header["BlockCount"].get<double>();
        nlohmann::json& channels = json["Samples"]["Channel"];
        ASSERT_EQ(channels.size(), 4u);
        if (b == 0) {
            k = static_cast<uint64_t>(channels[0][0].get<double>()) >> 8;
        }
        for (int c = 0; c < 4; ++c) {
            ASSERT_EQ(channels[c].size(), 20u);
            for (size_t j = 0; j < 20; ++j) {
                ASSERT_EQ(channels[c][j].get<double>(), CounterValue(c, k + j, 3) * 256.0)
                    << "block " << b << " channel " << c << " sample " << j;
            }
        }
        k += 20;
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(DumpTool, SaysSoWhenNoBlockComesAndFindsTheRateWithAuto) {
    TChild sim({DIGITIZER_SIM, "--signal", "counter", "--speed", "10", "--baud", "57600"});
    const auto simLines = sim.ReadLines(1, 5s);
    ASSERT_EQ(simLines.size(), 1u) << sim.Errors();
    const std::string device = simLines[0];

    TChild wrong({DIGITIZER_DUMP, device, "--timeout", "1.5"});
    EXPECT_EQ(wrong.Wait(10s), 1);
    EXPECT_TRUE(wrong.ReadLines(1, 100ms).empty());
    const std::string errors = wrong.Errors();
    EXPECT_NE(errors.find("no block in 1.5 s at 19200 baud\n"), std::string::npos) << errors;
    EXPECT_NE(errors.find("try --baud auto"), std::string::npos) << errors;

    // From 19200 the search tries 38400, then the unit's rate.
    TChild search({DIGITIZER_DUMP, device, "--baud", "auto", "--json", "--blocks", "3"});
    EXPECT_EQ(search.Wait(30s), 0) << search.Errors();
    const auto lines = search.ReadLines(3, 1s);
    ASSERT_EQ(lines.size(), 3u) << search.Errors();
    EXPECT_EQ(search.Errors(),
              "digitizer-dump: searching at 38400 baud\n"
              "digitizer-dump: searching at 57600 baud\n"
              "digitizer-dump: receiving at 57600 baud\n");
    for (size_t b = 0; b < lines.size(); ++b) {
        const nlohmann::json json = nlohmann::json::parse(lines[b], nullptr, false);
        ASSERT_FALSE(json.is_discarded()) << lines[b];
        EXPECT_EQ(json["Header"]["NumComponents"].get<double>(), 3);
    }
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(DumpTool, FollowsTheDeviceAcrossACablePull) {
    const std::string link = testing::TempDir() + "dump_pull_" + std::to_string(getpid());
    // The cable pulled at the unit's fifth second, for two seconds.
    TChild sim({DIGITIZER_SIM, "--speed", "10", "--link", link, "--at", "5:reopen"});
    ASSERT_EQ(sim.ReadLines(1, 5s).size(), 1u) << sim.Errors();

    TChild dump({DIGITIZER_DUMP, link, "--blocks", "15"});
    EXPECT_EQ(dump.Wait(20s), 0) << dump.Errors();
    const auto lines = dump.ReadLines(15, 1s);
    EXPECT_EQ(lines.size(), 15u);
    const std::string errors = dump.Errors();
    EXPECT_NE(errors.find("device gone: " + link + ": No such file or directory\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("device back at 19200 baud\n"), std::string::npos) << errors;
    EXPECT_LT(errors.find("gone"), errors.find("back")) << errors;
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(DumpTool, ReportsADeviceItCannotOpen) {
    TChild dump({DIGITIZER_DUMP, "/dev/kestrel-no-such-device"});
    EXPECT_EQ(dump.Wait(), 1);
    const std::string errors = dump.Errors();
    EXPECT_NE(errors.find("/dev/kestrel-no-such-device"), std::string::npos) << errors;
    EXPECT_NE(errors.find("No such file or directory"), std::string::npos) << errors;

    TPtyPeer peer;
    TChild holder({DIGITIZER_DUMP, peer.SlavePath(), "--seconds", "5"});
    std::this_thread::sleep_for(300ms);
    TChild second({DIGITIZER_DUMP, peer.SlavePath()});
    EXPECT_EQ(second.Wait(), 1);
    EXPECT_NE(second.Errors().find("busy"), std::string::npos) << second.Errors();
}

// A run that received no block failed, whether it ended by --timeout, by --seconds before the
// timeout, or on a line that stays silent.
TEST(DumpTool, ARunWithoutABlockFailsHoweverItEnds) {
    TChild sim({DIGITIZER_SIM, "--speed", "10"});
    const auto simLines = sim.ReadLines(1, 5s);
    ASSERT_EQ(simLines.size(), 1u) << sim.Errors();
    TChild wrongRate({DIGITIZER_DUMP, simLines[0], "--baud", "9600", "--seconds", "2"});
    EXPECT_EQ(wrongRate.Wait(10s), 1);
    EXPECT_TRUE(wrongRate.ReadLines(1, 100ms).empty());
    EXPECT_NE(wrongRate.Errors().find("digitizer-dump: no block in 2 s at 9600 baud\n"),
              std::string::npos)
        << wrongRate.Errors();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);

    TPtyPeer peer;
    TChild silent({DIGITIZER_DUMP, peer.SlavePath(), "--seconds", "0.5"});
    EXPECT_EQ(silent.Wait(5s), 1);
    EXPECT_NE(silent.Errors().find("no block in 0.5 s at 19200 baud\n"), std::string::npos)
        << silent.Errors();
}

TEST(DumpTool, RefusesBadValuesInOneLine) {
    // Every number is taken whole and in range, or refused with the reason.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{}, "which device?"},
        {{"1", "--baud", "14400"}, "--baud 14400: needs auto or one of"},
        {{"1", "--baud", "19200.5"}, "--baud 19200.5: needs"},
        {{"1", "--baud", "Auto"}, "--baud Auto: needs auto or one of"},
        {{"1", "--timeout", "-1"}, "--timeout -1: needs"},
        {{"1", "--timeout", "5s"}, "--timeout 5s: needs"},
        {{"1", "--timeout", "1e10"}, "--timeout 1e10: needs"},
        {{"1", "--blocks", "0"}, "--blocks 0: needs"},
        {{"1", "--blocks", "2.5"}, "--blocks 2.5: needs"},
        {{"1", "--blocks", "99999999999999999999"}, "--blocks 99999999999999999999: needs"},
        {{"1", "--seconds", "1e10"}, "--seconds 1e10: needs"},
        {{"1", "--seconds", "inf"}, "--seconds inf: needs"},
        {{"1", "--seconds", "nan"}, "--seconds nan: needs"},
        {{"1", "--seconds", "-1"}, "--seconds -1: needs"},
        {{"1", "--seconds", "5s"}, "--seconds 5s: needs"},
        {{"3abc"}, "'3abc' is neither a device path nor a port number"},
        {{"0"}, "port number from 1 to 255"},
        {{"256"}, "port number from 1 to 255"},
        {{"+3"}, "port number from 1 to 255"},
    };
    for (const auto& [args, reason] : refused) {
        std::vector<std::string> command = {DIGITIZER_DUMP};
        command.insert(command.end(), args.begin(), args.end());
        TChild bad(command);
        EXPECT_EQ(bad.Wait(), 2) << command.back();
        const std::string errors = bad.Errors();
        EXPECT_EQ(errors.rfind("digitizer-dump: ", 0), 0u) << errors;
        EXPECT_NE(errors.find(reason), std::string::npos) << errors;
        EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
    }
}
