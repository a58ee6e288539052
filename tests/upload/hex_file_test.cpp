// The Intel HEX reader: record lines, the walk over a file with its
// refusals, files made by srec_cat read back to the same bytes at the same addresses;
// the serial number's text and field; which file and share the progress shows.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>

#include "support/hex_files.h"
#include "upload/hex_file.h"
#include "upload/serial_number.h"
#include "upload/upload_procedure.h"

namespace {

class THexFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("hex_file_test." + std::to_string(getpid()) + "." +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Write(const std::string& name, const std::string& text) const {
        const std::string path = (dir_ / name).string();
        WriteTextFile(path, text);
        return path;
    }

    std::filesystem::path dir_;
};

TMemoryImage ImageOf(const THexFile& file) {
    TMemoryImage image;
    for (const THexData& record : *file) {
        for (size_t i = 0; i < record.Bytes.size(); ++i) {
            image[record.Address + static_cast<uint32_t>(i)] = record.Bytes[i];
        }
    }
    return image;
}

}  // namespace

// What a walk over `text` gives: the records handed on as "address/count" words, or
// "line N: reason".
std::string Walk(const std::string& text) {
    std::istringstream in(text);
    std::string handed;
    const TResult<int, THexError> walk =
        SendHexFile(in, [&](uint32_t address, const HexRecord& record) {
            char word[32];
            std::snprintf(word, sizeof word, "%s0x%X/%d", handed.empty() ? "" : " ", address,
                          record.ByteCount);
            handed += word;
        });
    return !walk ? "line " + std::to_string(walk.Error().Line) + ": " + walk.Error().Text : handed;
}

TEST(HexRecordLine, ValidLinesAndEveryReasonALineIsNone) {
    const std::pair<const char*, const char*> cases[] = {
        // A line, and "" for a valid record or a part of the reason it is none.
        {":00000001FF", ""},
        {":020000021000ec", ""},
        {":0400100012345678D8 \r", ""},
        {":0400100012345679D8", "checksum error: the record says 0xD8, its bytes give 0xD7"},
        {":04001000123G5678D8", "'G' in column 13 is no hex digit"},
        {":04001000123\x01"
         "5678D8",
         "byte 0x01 in column 13 is no hex digit"},
        {":04001000123456\r", "the line ends before its record does"},
        {":0", "the line ends before its record does"},
        {" \r", "blank line"},
        {"0400100012345678D8", "does not begin with ':'"},
        {":00000001FF00", "characters after the checksum, from column 12"},
    };
    for (const auto& [line, problem] : cases) {
        HexRecord record;
        const std::string reason = ParseHexRecord(line, record);
        EXPECT_EQ(reason.empty(), *problem == '\0') << line << " gave: " << reason;
        EXPECT_NE(reason.find(problem), std::string::npos) << line << " gave: " << reason;
        EXPECT_EQ(reason.empty(), reason.empty() && HexChecksumOk(record)) << line;
    }
    HexRecord record;
    ASSERT_TRUE(ParseHexRecord(":020000021000ec", record).empty());
    EXPECT_EQ(record.RecordType, 0x02);
    EXPECT_EQ(record.RecordData[0], 0x10) << "lower case decodes as upper case";

    // ReadHexRecord: a good record; a wrong checksum, a blank line and the end of the
    // file all end the reading.
    std::istringstream in(":020000021000EC\n:0400100012345679D8\n\n");
    EXPECT_TRUE(ReadHexRecord(in, record));
    EXPECT_FALSE(ReadHexRecord(in, record));
    EXPECT_FALSE(ReadHexRecord(in, record));
    EXPECT_FALSE(ReadHexRecord(in, record));
}

TEST(HexFileWalk, HandsOnDataAtItsAddressOrRefusesNamingTheLine) {
    const std::string end = HexEndLine() + "\n";
    const std::string data = HexLine(0x00, 0x0100, {1, 2, 3, 4}) + "\n";
    const std::string segment = ":020000021000EC\n";
    const std::pair<std::string, std::string> cases[] = {
        {end, ""},
        {segment + data + end, "0x10100/4"},
        {segment + HexLine(0x04, 0, {0, 0}) + "\n" + data + end, "0x10100/4"},
        {HexLine(0x03, 0, {0, 0, 1, 0}) + "\n" + HexLine(0x05, 0, {0, 0, 1, 0}) + "\n" +
             HexLine(0x07, 0, {9}) + "\n" + data + end,
         "0x100/4"},
        {":020000021000ec\n:0400100012345678d8\n:00000001ff\n", "0x10010/4"},
        {data + end + "garbage\n", "0x100/4"},
        {data + HexEndLine(), "0x100/4"},
        {data + ":0400100012345679D8\n" + end, "line 2: checksum error"},
        {data + "\n" + data + end, "line 2: blank line"},
        {data + data, "line 3: the file ends before its end-of-file record"},
        {data + ":" + std::string(1100, '0') + "\n" + end, "line 2: the line is longer than 1023"},
        {HexLine(0x00, 0x0101, {1, 2}) + "\n" + end, "line 1: data record at the odd address"},
        {HexLine(0x00, 0x0100, {1, 2, 3}) + "\n" + end, "line 1: data record of an odd number"},
        {HexLine(0x00, 0xFFFE, {1, 2, 3, 4}) + "\n" + end, "line 1: data record runs past the"},
        {data + HexLine(0x04, 0, {0, 1}) + "\n" + end, "line 2: extended linear address 0x0001"},
        {HexLine(0x02, 0, {0x10}) + "\n" + end, "line 1: extended segment address record with"},
    };
    for (const auto& [text, expected] : cases) {
        // A refusal is matched by its beginning, handed records exactly.
        const std::string got = Walk(text);
        EXPECT_EQ(expected.rfind("line ", 0) == 0 ? got.substr(0, expected.size()) : got, expected);
    }
}

TEST_F(THexFileTest, AFileIsTakenWholeOrRefusedWithItsRoleLineAndReason) {
    TMemoryImage expected;
    const std::string good = Write("main.hex", MakeHexText(0x1FF00, 40, 16, 7, expected));
    const THexFile file = LoadHexFile(good);
    ASSERT_TRUE(file.Ok()) << file.Error().Text;
    EXPECT_EQ(file->size(), 40u);
    EXPECT_EQ(ImageOf(file), expected);

    // A damaged line late in a file: none of its records are kept.
    std::string text = ReadTextFile(good);
    text.replace(text.rfind(":10"), 1, "#");
    const std::string damaged = Write("damaged.hex", text);
    const THexFile refused = LoadHexFile(damaged);
    ASSERT_FALSE(refused.Ok());
    EXPECT_EQ(refused.Error().Line, 42) << "refused whole: no records come with the fault";

    const THexFile missing = LoadHexFile((dir_ / "missing.hex").string());
    EXPECT_EQ(missing.Error().Text, "cannot be opened: No such file or directory");
    EXPECT_EQ(missing.Error().Errno, ENOENT);
    EXPECT_EQ(LoadHexFile(dir_.string()).Error().Text, "is a directory");

    const TResult<TFirmwareImage> image = LoadFirmware({good, "", good});
    ASSERT_TRUE(image.Ok()) << image.Error().Text;
    EXPECT_EQ(image->Files[0].size(), 40u);
    EXPECT_TRUE(image->Files[1].empty()) << "an empty field is no file";
    EXPECT_EQ(LoadFirmware({good, damaged, good}).Error().Text,
              "Main Code file " + damaged + ", line 42: not a record: it does not begin with ':'")
        << "the last data record, after two segment records";
}

TEST_F(THexFileTest, FilesMadeBySrecCatReadBackToTheSameBytesAtTheSameAddresses) {
    std::mt19937 rng(12);
    struct TPiece {
        uint32_t address;
        size_t size;
    };
    // A small file, one across two 64 KiB windows, one near the top of the
    // segment-addressed memory, one of a single record.
    for (const TPiece piece : {TPiece{0x0000, 0x400}, TPiece{0x1FE80, 0x300},
                               TPiece{0xFF000, 0xFF0}, TPiece{0x2000, 2}}) {
        std::vector<uint8_t> bytes(piece.size);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(rng());
        }
        const std::string path = (dir_ / "piece.hex").string();
        ASSERT_TRUE(SrecCatHex(bytes, piece.address, path));
        const THexFile file = LoadHexFile(path);
        ASSERT_TRUE(file.Ok()) << file.Error().Line << ": " << file.Error().Text;
        TMemoryImage expected;
        for (size_t i = 0; i < bytes.size(); ++i) {
            expected[piece.address + static_cast<uint32_t>(i)] = bytes[i];
        }
        EXPECT_EQ(ImageOf(file), expected) << std::hex << piece.address;
    }
}

TEST(SerialNumber, TextKeepsPrintableBytesAndTheFieldIsRightAligned) {
    auto never = []() -> std::string {
        ADD_FAILURE() << "asked although a number was read";
        return {};
    };
    const uint8_t spaced[8] = {' ', ' ', '1', '2', '3', '4', '5', '6'};
    EXPECT_EQ(SerialNumberText(spaced, never), "  123456");
    const uint8_t mixed[8] = {0x1F, 'A', 0x7F, '{', 'z', 0xFF, ' ', 0x00};
    EXPECT_EQ(SerialNumberText(mixed, never), "Az ");
    const uint8_t erased[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    int asked = 0;
    EXPECT_EQ(SerialNumberText(erased,
                               [&] {
                                   ++asked;
                                   return std::string("ABC");
                               }),
              "ABC");
    EXPECT_EQ(asked, 1);

    auto field = [](const std::string& serial) {
        const auto bytes = SerialNumberField(serial);
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(field("  123456"), "  123456");
    EXPECT_EQ(field("ABC"), "     ABC");
    EXPECT_EQ(field("123456789AB"), "12345678");
    EXPECT_EQ(field(""), "        ");
}

TEST(UploadProgress, FileShownAndShareFollowTheAcknowledgedWrites) {
    // Boot 100 records, main 300, filter 50, and the two serial number writes.
    const int total = 100 + 300 + 50 + 2;
    struct TCase {
        int done;
        TFirmwareFile file;
        int percent;
    };
    const TCase cases[] = {
        {0, TFirmwareFile::Boot, 0},      {100, TFirmwareFile::Boot, 22},
        {101, TFirmwareFile::Main, 22},   {150, TFirmwareFile::Main, 33},
        {400, TFirmwareFile::Main, 88},   {401, TFirmwareFile::Filter, 88},
        {410, TFirmwareFile::Filter, 90}, {452, TFirmwareFile::Filter, 100},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(UploadFileShown(c.done, 100, 300), c.file) << c.done;
        EXPECT_EQ(UploadPercent(c.done, total), c.percent) << c.done;
    }
    // Without a boot file the main file is shown from the first write on.
    EXPECT_EQ(UploadFileShown(1, 0, 300), TFirmwareFile::Main);
}
