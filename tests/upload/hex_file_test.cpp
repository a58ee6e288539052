// The Intel HEX reader: hex pairs, record lines, the walk over a file with its
// refusals, files made by srec_cat read back to the same bytes at the same addresses;
// the serial number's text and field; which file and share the progress shows.
#include <gtest/gtest.h>

#include <sys/stat.h>

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
    for (const THexData& record : file.Records) {
        for (size_t i = 0; i < record.Bytes.size(); ++i) {
            image[record.Address + static_cast<uint32_t>(i)] = record.Bytes[i];
        }
    }
    return image;
}

}  // namespace

TEST(HexPairs, DecodeEitherCaseAndNeverReadPastTheText) {
    EXPECT_EQ(HexDigit('7', 0), 7);
    EXPECT_EQ(HexDigit('B', 4), 0xB0);
    EXPECT_EQ(HexDigit('b', 4), 0xB0);
    EXPECT_EQ(HexDigit('f', 0), 15);
    for (char c : {'G', 'g', ' ', ':', '\0', '/', '@'}) {
        EXPECT_FALSE(HexDigit(c, 0)) << int(c);
    }

    // The text "3A4" ends after its first pair and a half; the digit beyond the end
    // is never looked at.
    const char text[] = "3A4F";
    uint8_t bytes[2] = {};
    const char* bad = nullptr;
    EXPECT_EQ(HexToBytes(text, text + 3, bytes, 2, &bad), nullptr);
    EXPECT_EQ(bad, text + 3);
    EXPECT_EQ(HexToBytes(text, text + 4, bytes, 2), text + 4);
    EXPECT_EQ(bytes[0], 0x3A);
    EXPECT_EQ(bytes[1], 0x4F);

    const uint8_t summed[] = {0xF0, 0x20, 0x01};
    EXPECT_EQ(ByteSum(summed, 0x10, 3), 0x21);  // modulo 256
}

TEST(HexRecordLine, ValidLinesAndEveryReasonALineIsNone) {
    struct TCase {
        const char* line;
        const char* problem;  // "" for a valid record, else a part of the reason
        uint8_t type;
        std::vector<uint8_t> data;
    };
    const TCase cases[] = {
        {":00000001FF", "", 0x01, {}},
        {":020000021000EC", "", 0x02, {0x10, 0x00}},
        {":020000021000ec", "", 0x02, {0x10, 0x00}},
        {":0400100012345678D8\r", "", 0x00, {0x12, 0x34, 0x56, 0x78}},
        {":0400100012345678D8 \t", "", 0x00, {0x12, 0x34, 0x56, 0x78}},
        {":0400100012345679D8", "checksum error: the record says 0xD8, its bytes give 0xD7", 0, {}},
        {":04001000123G5678D8", "'G' in column 13 is no hex digit", 0, {}},
        {":0400100012-45678D8", "'-' in column 12 is no hex digit", 0, {}},
        {":04001000123\x01"
         "5678D8",
         "byte 0x01 in column 13 is no hex digit",
         0,
         {}},
        {":0400100012345678", "the line ends before its record does", 0, {}},
        {":04001000123456\r", "the line ends before its record does", 0, {}},
        {":0400", "the line ends before its record does", 0, {}},
        {":", "the line ends before its record does", 0, {}},
        {"", "blank line", 0, {}},
        {" \r", "blank line", 0, {}},
        {"0400100012345678D8", "does not begin with ':'", 0, {}},
        {":00000001FF00", "characters after the checksum, from column 12", 0, {}},
    };
    for (const TCase& c : cases) {
        HexRecord record;
        const std::string problem = ParseHexRecord(c.line, record);
        if (*c.problem == '\0') {
            EXPECT_EQ(problem, "") << c.line;
            EXPECT_EQ(record.RecordType, c.type) << c.line;
            EXPECT_EQ(std::vector<uint8_t>(record.RecordData.begin(),
                                           record.RecordData.begin() + record.ByteCount),
                      c.data)
                << c.line;
            EXPECT_TRUE(HexChecksumOk(record)) << c.line;
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.line << " gave: " << problem;
        }
    }

    // ReadHexRecord: a good record, then a line with a wrong checksum, a blank line and
    // the end of the file all end the reading.
    std::istringstream in(":020000021000EC\n:0400100012345679D8\n\n");
    HexRecord record;
    EXPECT_TRUE(ReadHexRecord(in, record));
    EXPECT_EQ(record.LoadOffset, 0);
    EXPECT_FALSE(ReadHexRecord(in, record));
    EXPECT_FALSE(ReadHexRecord(in, record));
    EXPECT_FALSE(ReadHexRecord(in, record));
}

TEST(HexFileWalk, HandsOnDataAtItsAddressOrRefusesNamingTheLine) {
    struct TCase {
        const char* name;
        std::string text;
        std::vector<std::pair<uint32_t, int>> records;  // address, byte count
        int problemLine;                                // 0: none
        const char* problem;
    };
    const std::string end = HexEndLine() + "\n";
    const std::string data = HexLine(0x00, 0x0100, {1, 2, 3, 4}) + "\n";
    const TCase cases[] = {
        {"only the end record", end, {}, 0, ""},
        {"segment base 0x10000", ":020000021000EC\n" + data + end, {{0x10100, 4}}, 0, ""},
        {"linear address 0 skipped, base kept",
         ":020000021000EC\n" + HexLine(0x04, 0, {0, 0}) + "\n" + data + end,
         {{0x10100, 4}},
         0,
         ""},
        {"start addresses and unknown types skipped",
         HexLine(0x03, 0, {0, 0, 1, 0}) + "\n" + HexLine(0x05, 0, {0, 0, 1, 0}) + "\n" +
             HexLine(0x07, 0, {9}) + "\n" + data + end,
         {{0x100, 4}},
         0,
         ""},
        {"lower case",
         ":020000021000ec\n:0400100012345678d8\n:00000001ff\n",
         {{0x10010, 4}},
         0,
         ""},
        {"nothing after the end record is read", data + end + "garbage\n", {{0x100, 4}}, 0, ""},
        {"the end record without a line end", data + HexEndLine(), {{0x100, 4}}, 0, ""},
        {"a wrong digit", data + ":0400100012345679D8\n" + end, {}, 2, "checksum error"},
        {"a non-hex character",
         data + data + ":0400100012Z45678D8\n" + end,
         {},
         3,
         "'Z' in column 12 is no hex digit"},
        {"a truncated line",
         data + ":04001000123456\n" + end,
         {},
         2,
         "the line ends before its record does"},
        {"a blank line", data + "\n" + data + end, {}, 2, "blank line"},
        {"no end record", data + data, {}, 3, "the file ends before its end-of-file record"},
        {"an empty file", "", {}, 1, "the file ends before its end-of-file record"},
        {"a line too long",
         data + ":" + std::string(1100, '0') + "\n" + end,
         {},
         2,
         "longer than 1023 characters"},
        {"an odd address",
         HexLine(0x00, 0x0101, {1, 2}) + "\n" + end,
         {},
         1,
         "odd address 0x00101"},
        {"an odd byte count",
         HexLine(0x00, 0x0100, {1, 2, 3}) + "\n" + end,
         {},
         1,
         "odd number of bytes (3)"},
        {"past the end of its segment",
         HexLine(0x00, 0xFFFE, {1, 2, 3, 4}) + "\n" + end,
         {},
         1,
         "past the end of its 64 KiB segment"},
        {"linear address 1",
         data + HexLine(0x04, 0, {0, 1}) + "\n" + data + end,
         {},
         2,
         "extended linear address 0x0001"},
        {"segment record of one byte",
         HexLine(0x02, 0, {0x10}) + "\n" + data + end,
         {},
         1,
         "extended segment address record without two data bytes"},
    };
    for (const TCase& c : cases) {
        std::istringstream in(c.text);
        std::vector<std::pair<uint32_t, int>> handed;
        const THexWalk walk = SendHexFile(in, [&](uint32_t address, const HexRecord& record) {
            handed.emplace_back(address, record.ByteCount);
        });
        if (c.problemLine == 0) {
            EXPECT_FALSE(walk.Problem) << c.name << ": " << walk.Problem->Reason;
            EXPECT_EQ(handed, c.records) << c.name;
            EXPECT_EQ(walk.Records, static_cast<int>(c.records.size())) << c.name;
        } else {
            ASSERT_TRUE(walk.Problem) << c.name;
            EXPECT_EQ(walk.Problem->Line, c.problemLine) << c.name;
            EXPECT_NE(walk.Problem->Reason.find(c.problem), std::string::npos)
                << c.name << " gave: " << walk.Problem->Reason;
        }
    }
}

TEST_F(THexFileTest, AFileIsTakenWholeOrRefusedWithItsRoleLineAndReason) {
    TMemoryImage expected;
    const std::string good = Write("main.hex", MakeHexText(0x1FF00, 40, 16, 7, expected));
    const THexFile file = LoadHexFile(good);
    ASSERT_FALSE(file.Problem) << file.Problem->Reason;
    EXPECT_EQ(file.Records.size(), 40u);
    EXPECT_EQ(ImageOf(file), expected);

    // A damaged line late in a file: none of its records are kept.
    std::string text = ReadTextFile(good);
    text.replace(text.rfind(":10"), 1, "#");
    const std::string damaged = Write("damaged.hex", text);
    const THexFile refused = LoadHexFile(damaged);
    ASSERT_TRUE(refused.Problem);
    EXPECT_TRUE(refused.Records.empty());

    EXPECT_EQ(LoadHexFile((dir_ / "missing.hex").string()).Problem->Reason,
              "cannot be opened: No such file or directory");
    EXPECT_EQ(LoadHexFile(dir_.string()).Problem->Reason, "is a directory");

    TFirmwareImage image;
    EXPECT_EQ(LoadFirmware({"", "", ""}, image), std::nullopt);
    EXPECT_EQ(LoadFirmware({good, "", good}, image), std::nullopt);
    EXPECT_EQ(image.Files[0].size(), 40u);
    EXPECT_TRUE(image.Files[1].empty());
    EXPECT_EQ(image.Files[2].size(), 40u);
    EXPECT_EQ(LoadFirmware({good, damaged, good}, image),
              "Main Code file " + damaged + ", line 42: not a record: it does not begin with ':'")
        << "the last data record, after two segment records";
    const auto missing = LoadFirmware({good, good, (dir_ / "no.hex").string()}, image);
    EXPECT_EQ(missing, "Filter Code file " + (dir_ / "no.hex").string() +
                           ": cannot be opened: No such file or directory");
    if (geteuid() != 0) {
        chmod(good.c_str(), 0);
        EXPECT_EQ(LoadHexFile(good).Problem->Reason, "cannot be opened: Permission denied");
    }
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
        ASSERT_FALSE(file.Problem) << file.Problem->Line << ": " << file.Problem->Reason;
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
