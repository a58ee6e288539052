// The unit's side of the command protocol: splitting the byte stream into commands, the
// settings they change, and the boot loader's memory commands.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "sim/boot_loader.h"
#include "sim/command_reader.h"
#include "sim/firmware.h"

namespace {

using namespace std::string_view_literals;
using TClock = TCommandReader::TClock;

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<TCommand> FeedAll(TCommandReader& reader, const std::vector<uint8_t>& bytes,
                              TClock::time_point now = TClock::now()) {
    return reader.Feed(bytes.data(), bytes.size(), now);
}

TCommand Command(std::string name, std::vector<uint8_t> argument = {}) {
    return {std::move(name), std::move(argument)};
}

TEST(CommandReader, SplitsCommandsOfEveryShape) {
    TCommandReader reader;
    std::vector<uint8_t> stream = Bytes("$CA");
    stream.insert(stream.end(), {0x00, 0x24});  // an argument byte that looks like "$"
    for (char c : std::string("$OK$SF")) {
        stream.push_back(static_cast<uint8_t>(c));
    }
    stream.insert(stream.end(), {0x03, 0x06, '$', 'S', 'F', 0x04, 0x05});
    stream.insert(stream.end(), {'$', 'U', 'R', 0x00, 0x00, 0x0F, 0xF8, 0x00, 0x04});
    stream.insert(stream.end(), {'$', 'D', 'R', 0, 0, 0, 0x80, 0, 2, 0x12, '$', 0x0D, 0x0A});
    stream.insert(stream.end(), {'$', 'B', 'H'});
    // Fed whole, and fed one byte at a time, the same commands come out.
    for (bool byByte : {false, true}) {
        TCommandReader r;
        std::vector<TCommand> commands;
        if (byByte) {
            for (uint8_t b : stream) {
                for (TCommand& c : r.Feed(&b, 1, TClock::now())) {
                    commands.push_back(std::move(c));
                }
            }
        } else {
            commands = FeedAll(r, stream);
        }
        ASSERT_EQ(commands.size(), 7u);
        EXPECT_EQ(commands[0].Name, "CA");
        EXPECT_EQ(commands[0].Word(), 0x24);
        EXPECT_EQ(commands[1].Name, "OK");
        EXPECT_TRUE(commands[1].Argument.empty());
        EXPECT_EQ(commands[2].Argument, (std::vector<uint8_t>{3, 6}));
        EXPECT_EQ(commands[3].Argument, (std::vector<uint8_t>{4, 5}));
        EXPECT_EQ(commands[4].Name, "UR");
        EXPECT_EQ(commands[4].Argument.size(), 6u);
        EXPECT_EQ(commands[5].Name, "DR");
        EXPECT_EQ(commands[5].Argument.size(), 10u);
        EXPECT_EQ(commands[5].Argument[7], '$');
        EXPECT_EQ(commands[6].Name, "BH");
        EXPECT_FALSE(r.HasPartial());
    }
}

TEST(CommandReader, ResynchronisesOnGarbageAndForgetsStalledCommands) {
    TCommandReader reader;
    auto commands = FeedAll(reader, Bytes("xx$$CA\x00\x01$zz$XY$NB\x00\x02$ca$EM"sv));
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].Name, "CA");
    EXPECT_EQ(commands[1].Name, "NB");
    EXPECT_TRUE(reader.HasPartial());  // "$EM" waits for its argument

    // A partial command is completed by later bytes within the idle time...
    const auto t0 = TClock::now();
    commands = reader.Feed(reinterpret_cast<const uint8_t*>("\x00"), 1, t0);
    reader.Expire(t0 + std::chrono::milliseconds(900));
    commands = reader.Feed(reinterpret_cast<const uint8_t*>("\x01"), 1,
                           t0 + std::chrono::milliseconds(950));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].Word(), 1);

    // ...and dropped after a second without a byte, so that it cannot swallow what follows.
    FeedAll(reader, Bytes("$SC"), t0);
    reader.Expire(t0 + std::chrono::milliseconds(1000));
    EXPECT_FALSE(reader.HasPartial());
    commands = FeedAll(reader, Bytes("$RW"), t0 + std::chrono::milliseconds(1001));
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].Name, "RW");

    // A memory write announcing more words than the memory holds is garbage.
    commands = FeedAll(reader, {'$', 'D', 'R', 0, 0, 0, 0, 0xFF, 0xFF, '$', 'O', 'K'});
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].Name, "OK");
}

TEST(CommandReader, RandomBytesNeverBreakTheUnit) {
    std::mt19937 rng(7);
    TCommandReader reader;
    TSimConfig config;
    TFirmware firmware(config);
    TBootLoader loader;
    const auto t0 = TClock::now();
    loader.Start(t0, std::chrono::milliseconds(0));
    ASSERT_TRUE(loader.ReadyDue(t0, std::chrono::milliseconds(1000)));
    size_t commands = 0;
    std::vector<uint8_t> chunk;
    for (int round = 0; round < 2000; ++round) {
        chunk.resize(rng() % 200);
        for (uint8_t& b : chunk) {
            // Plenty of "$" and capitals, so that many commands start and some complete.
            const uint32_t r = rng() % 8;
            b = r == 0  ? '$'
                : r < 3 ? static_cast<uint8_t>('A' + rng() % 26)
                        : static_cast<uint8_t>(rng());
        }
        for (const TCommand& command : FeedAll(reader, chunk, t0)) {
            ++commands;
            ASSERT_EQ(command.Name.size(), 2u);
            ASSERT_GE(static_cast<int>(command.Argument.size()),
                      ArgumentLength(command.Name.c_str()));
            if (command.Name != "BR") {
                firmware.Apply(command);
            }
            std::vector<uint8_t> reply;
            loader.Handle(command, reply);
            ASSERT_GE(reply.size(), 3u);
        }
    }
    EXPECT_GT(commands, 20u);  // the garbage did reach the command handlers
    const TDeviceSettings& s = firmware.Settings();
    EXPECT_GE(s.Channels, 1);
    EXPECT_LE(s.Channels, 6);
    EXPECT_GE(s.BytesPerSample, 1);
    EXPECT_LE(s.BytesPerSample, 4);
    EXPECT_GE(s.Decimation(), 1);
    // Whatever was left half-way goes after a second of quiet; then commands come through.
    reader.Expire(t0 + std::chrono::seconds(1));
    const auto after = FeedAll(reader, Bytes("$OK"), t0 + std::chrono::seconds(1));
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].Name, "OK");
}

TEST(Firmware, ConfigurationCommandsChangeTheSettings) {
    TSimConfig config;
    TFirmware firmware(config);
    EXPECT_DOUBLE_EQ(firmware.Settings().Rate(), 100);

    // A set of $SF sub-commands: stage 3 starts it, stages not given are 1.
    firmware.Apply(Command("SF", {3, 6}));
    firmware.Apply(Command("SF", {4, 10}));
    firmware.Apply(Command("SF", {5, 10}));
    firmware.Apply(Command("SF", {6, 10}));
    firmware.Apply(Command("SF", {7, 5}));
    EXPECT_DOUBLE_EQ(firmware.Settings().Rate(), 0.1);
    firmware.Apply(Command("SF", {3, 4}));
    firmware.Apply(Command("SF", {4, 2}));
    EXPECT_DOUBLE_EQ(firmware.Settings().Rate(), 375);
    EXPECT_EQ(firmware.Settings().Factors, (std::array<int, 5>{4, 2, 1, 1, 1}));
    firmware.Apply(Command("SF", {9, 2}));  // no such stage
    firmware.Apply(Command("SF", {4, 0}));  // no such factor
    EXPECT_DOUBLE_EQ(firmware.Settings().Rate(), 375);

    // Channels 1 to 3 on, channel 2 high gain; then all six, 1 and 6 high gain.
    firmware.Apply(Command("SC", {0x00, 0x17}));
    EXPECT_EQ(firmware.Settings().Channels, 3);
    EXPECT_EQ(firmware.Settings().GainMask, 0x02);
    firmware.Apply(Command("SC", {0x27, 0x0F}));
    EXPECT_EQ(firmware.Settings().Channels, 6);
    EXPECT_EQ(firmware.Settings().GainMask, 0x21);

    firmware.Apply(Command("NB", {0, 2}));
    firmware.Apply(Command("NB", {0, 5}));  // out of range: ignored
    EXPECT_EQ(firmware.Settings().BytesPerSample, 2);
    firmware.Apply(Command("FT", {0, 0}));
    EXPECT_FALSE(firmware.Settings().MinimalPhase);
    firmware.Apply(Command("EM", {0, 1}));
    EXPECT_TRUE(firmware.Settings().Mde);
    firmware.Apply(Command("CA", {0, 8}));
    firmware.Apply(Command("LI", {0, 3}));
    firmware.Apply(Command("SP", {0, 1}));
    firmware.Apply(Command("CP", {0, 2}));
    EXPECT_EQ(firmware.Settings().Calibration, 8);
    EXPECT_EQ(firmware.Settings().LineOutput, 3);
    EXPECT_EQ(firmware.Settings().Supplies, 1);
    EXPECT_EQ(firmware.Settings().Pll, 2);

    EXPECT_EQ(firmware.Apply(Command("BA", {0, 7})).SwitchBaud, 115200);
    EXPECT_EQ(firmware.Apply(Command("BA", {0, 8})).SwitchBaud, 0);
    EXPECT_TRUE(firmware.Apply(Command("BR", {0, 0})).Reboot);

    // ROM: $RW keeps the settings over a power-up, $RD brings back the factory settings.
    firmware.Apply(Command("RW"));
    firmware.Apply(Command("NB", {0, 4}));
    firmware.LoadRom();
    EXPECT_EQ(firmware.Settings().BytesPerSample, 2);
    firmware.SetBaud(57600);
    EXPECT_EQ(firmware.Apply(Command("RD")).SwitchBaud, 19200);
    EXPECT_EQ(firmware.Settings().Channels, 3);
    EXPECT_DOUBLE_EQ(firmware.Settings().Rate(), 100);
    firmware.LoadRom();
    EXPECT_EQ(firmware.Settings().BytesPerSample, 3);
}

TEST(Firmware, HeaderFieldsDecodeToTheSettings) {
    EXPECT_EQ(TotalRateField(30, 3), 300);     // 100 per second, 3 channels
    EXPECT_EQ(TotalRateField(30000, 1), -10);  // 0.1 per second
    EXPECT_EQ(TotalRateField(6000, 2), -1);    // 0.5 per second on 2 channels: one per second
    EXPECT_EQ(TotalRateField(1, 6), 18000);
    EXPECT_EQ(GainCodeField(0, 3), (std::array<char, 2>{'L', '\0'}));
    EXPECT_EQ(GainCodeField(5, 3), (std::array<char, 2>{'G', '5'}));
    EXPECT_EQ(GainCodeField(0x3F, 2), (std::array<char, 2>{'G', '3'}));  // only channels present
    EXPECT_EQ(GainCodeField(0x3F, 6), (std::array<char, 2>{'G', '\x3F'}));
    EXPECT_EQ(GainCodeField(0x28, 4), (std::array<char, 2>{'G', '\x08'}));
    for (double rate : SettableRates) {
        TDeviceSettings settings;
        settings.Factors = FactorsForRate(rate);
        EXPECT_DOUBLE_EQ(settings.Rate(), rate);
    }
}

TEST(BootLoader, AnnouncesItselfAndServesMemory) {
    TBootLoader loader;
    loader.Memory().SetSerialNumber("  123456");
    const auto t0 = TClock::now();
    const auto wait = std::chrono::milliseconds(3000);
    loader.Start(t0, std::chrono::milliseconds(300));
    std::vector<uint8_t> reply;
    EXPECT_EQ(loader.Handle(Command("BH"), reply), TBootLoader::TAction::Ignored);
    EXPECT_FALSE(loader.ReadyDue(t0 + std::chrono::milliseconds(299), wait));
    EXPECT_TRUE(loader.ReadyDue(t0 + std::chrono::milliseconds(300), wait));
    EXPECT_FALSE(loader.ReadyDue(t0 + std::chrono::milliseconds(301), wait));

    // The serial number read: word address 0xFF8, 4 words.
    ASSERT_EQ(loader.Handle(Command("UR", {0, 0, 0x0F, 0xF8, 0, 4}), reply),
              TBootLoader::TAction::Echo);
    EXPECT_EQ(std::string(reply.begin(), reply.end()), "$UR  123456");
    reply.clear();
    loader.Handle(Command("UR", {0, 0, 0x0F, 0xF0, 0, 1}), reply);
    EXPECT_EQ(reply, (std::vector<uint8_t>{'$', 'U', 'R', 0xDF, 0xDF}));  // inverted blanks

    // A write: echo with the word sum, data in memory.
    loader.Handle(Command("DR", {0, 0, 0, 0x80, 0, 2, 0x12, 0x34, 0x56, 0x78}), reply);
    EXPECT_EQ(reply, (std::vector<uint8_t>{'$', 'D', 'R', 0x68, 0xAC}));
    EXPECT_EQ(loader.Memory().Read(0x100, 4), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78}));
    // The memory reaches the last address of a segment-addressed file, 0x10FFEF.
    loader.Handle(Command("DR", {0, 0x08, 0x7F, 0xF7, 0, 1, 0xCC, 0xDD}), reply);
    EXPECT_EQ(loader.Memory().Read(0x10FFEE, 2), (std::vector<uint8_t>{0xCC, 0xDD}));
    // Beyond the end: writes vanish, reads give erased bytes, nothing wraps around.
    loader.Handle(Command("DR", {0xFF, 0xFF, 0xFF, 0xFF, 0, 1, 0xAA, 0xBB}), reply);
    EXPECT_EQ(reply, (std::vector<uint8_t>{'$', 'D', 'R', 0xAA, 0xBB}));
    loader.Handle(Command("UR", {0, 0x08, 0x7F, 0xF7, 0, 2}), reply);
    EXPECT_EQ(reply, (std::vector<uint8_t>{'$', 'U', 'R', 0xCC, 0xDD, 0xFF, 0xFF}));
    EXPECT_EQ(loader.Memory().Read(0, 2), (std::vector<uint8_t>{0xFF, 0xFF}));

    // "$BH" keeps the loader; without it the wait runs out.
    EXPECT_EQ(loader.Handle(Command("BH"), reply), TBootLoader::TAction::Echo);
    EXPECT_FALSE(loader.WaitExpired(t0 + std::chrono::hours(1)));
    EXPECT_EQ(loader.Handle(Command("BR", {0, 0}), reply), TBootLoader::TAction::Reboot);
    loader.Start(t0, std::chrono::milliseconds(0));
    EXPECT_TRUE(loader.ReadyDue(t0, wait));
    EXPECT_FALSE(loader.WaitExpired(t0 + wait - std::chrono::milliseconds(1)));
    EXPECT_TRUE(loader.WaitExpired(t0 + wait));
    EXPECT_FALSE(loader.Running());
}

}  // namespace
