// Settings file: lookup rules, what survives a rewrite, hostile content and atomic saving.
#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

using namespace std::string_literals;

namespace {

class TTempDir {
  public:
    TTempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ini_test.XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TTempDir() { std::filesystem::remove_all(path_); }
    std::string File(const char* name) const { return path_ + "/" + name; }
    size_t EntryCount() const {
        return size_t(std::distance(std::filesystem::directory_iterator(path_),
                                    std::filesystem::directory_iterator()));
    }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST(IniFile, LooksUpNamesWithoutCaseAndTrimsValues) {
    TIniFile ini;
    ini.Parse(
        "Orphan=1\n"
        "[ comms ]\r\n"
        "  PORT =  3 \r\n"
        "; Baud=1200\r\n"
        "# Baud=2400\r\n"
        "Baud\t=\t'  57600 '\r\n"
        "port=9\r\n"
        "Empty=\r\n"
        "[Data\n"
        "[COMMS]\n"
        "Device=/dev/x\n");
    EXPECT_EQ(ini.Get("Comms", "Port"), "3");  // the first of a repeated key
    EXPECT_EQ(ini.Get("cOMMS", "baud"), "  57600 ");
    EXPECT_EQ(ini.Get("Comms", "Empty"), "");
    EXPECT_EQ(ini.Get("Comms", "Missing"), std::nullopt);
    EXPECT_EQ(ini.Get("Comms", "Device"), std::nullopt);  // in the repeated section
    EXPECT_EQ(ini.Get("", "Orphan"), std::nullopt);
    EXPECT_EQ(ini.Get("Data", "Port"), std::nullopt);  // "[Data" is not a section
}

TEST(IniFile, SetKeepsEverythingElseInPlace) {
    const std::string original =
        "; settings\r\n"
        "[Comms]\r\n"
        "port = 1\r\n"
        "Unknown=keep me\r\n"
        "\r\n"
        "; end of comms\r\n"
        "[Other]\r\n"
        "garbage line\r\n"
        "X=1\r\n";
    TIniFile ini;
    ini.Parse(original);
    ini.Set("COMMS", "Port", "1");  // unchanged: the line stays as written
    EXPECT_EQ(ini.Text(), original);

    ini.Set("comms", "PORT", "7");
    ini.Set("Comms", "Baud", "19200");
    ini.Set("FFT", "Window", "None");
    ini.Set("FFT", "Points", "2048");
    EXPECT_EQ(ini.Text(),
              "; settings\r\n"
              "[Comms]\r\n"
              "port=7\r\n"
              "Unknown=keep me\r\n"
              "Baud=19200\r\n"
              "\r\n"
              "; end of comms\r\n"
              "[Other]\r\n"
              "garbage line\r\n"
              "X=1\r\n"
              "[FFT]\r\n"
              "Window=None\r\n"
              "Points=2048\r\n");
}

TEST(IniFile, EveryValueSetReadsBackEqual) {
    TIniFile ini;
    for (const std::string value :
         {" lead", "trail\t", "\"quoted\"", "'x'", "a=b;c", "\"", "\xff\x01 bytes", ""}) {
        ini.Set("S", "K", value);
        TIniFile reread;
        reread.Parse(ini.Text());
        EXPECT_EQ(reread.Get("S", "K"), value) << ini.Text();
    }
    ini.Set("S", "K", "two\r\nlines");  // a line end cannot be stored
    TIniFile reread;
    reread.Parse(ini.Text());
    EXPECT_EQ(reread.Get("S", "K"), "two\r lines");
    EXPECT_EQ(ini.Get("S", "K"), "two\r lines");
}

TEST(IniFile, GarbageIsReadWithoutHarm) {
    std::string text = "[A]\nK=";
    text += std::string(2'000'000, 'x');
    text += "\n";
    text += "\0\x80\xff[\n=\n[]\n]]]\nK2=v"s;  // no line end at the end
    TIniFile ini;
    ini.Parse(text);
    EXPECT_EQ(ini.Get("A", "K")->size(), 2'000'000u);
    EXPECT_EQ(ini.Get("", "K2"), "v");  // "[]" is a section with an empty name
    EXPECT_EQ(ini.Text(), text + "\n");
}

TEST(IniFile, LoadsAndSavesFiles) {
    TTempDir dir;
    TIniFile ini;
    EXPECT_TRUE(ini.Load(dir.File("missing.ini")));
    EXPECT_EQ(ini.Text(), "");

    const std::string path = dir.File("kestrel32.ini");
    ini.Set("Comms", "Port", "2");
    ASSERT_TRUE(ini.Save(path));
    WriteFile(path, "[Comms]\nPort=3\n");
    chmod(path.c_str(), 0640);
    ASSERT_TRUE(ini.Load(path));
    EXPECT_EQ(ini.Get("Comms", "Port"), "3");
    ini.Set("Comms", "Port", "4");
    ASSERT_TRUE(ini.Save(path));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);  // the old file's permissions
    EXPECT_EQ(dir.EntryCount(), 1u);        // no temporary file left behind
    TIniFile reread;
    ASSERT_TRUE(reread.Load(path));
    EXPECT_EQ(reread.Text(), "[Comms]\nPort=4\n");

    EXPECT_FALSE(ini.Save(dir.File("no/such/dir.ini")));
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(reread.Load(fifo));  // must not wait for a writer
    EXPECT_FALSE(reread.Load(dir.File("")));
    WriteFile(dir.File("big.ini"), std::string(TIniFile::MaxFileSize + 1, '\n'));
    EXPECT_FALSE(reread.Load(dir.File("big.ini")));
    EXPECT_EQ(reread.Text(), "");
}

// A new file gets what the umask leaves of 0666, as an editor's file does; a rewritten file
// keeps its own permissions whatever the umask.
TEST(IniFile, ANewFileFollowsTheUmask) {
    struct TUmask {
        const mode_t Old;
        explicit TUmask(mode_t mask) : Old(umask(mask)) {}
        ~TUmask() { umask(Old); }
    };
    const auto permissions = [](const std::string& path) {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 0777;
    };
    TTempDir dir;
    TIniFile ini;
    ini.Set("Comms", "Port", "2");
    for (const mode_t mask : {022, 027, 002, 077}) {
        const std::string path = dir.File(("new" + std::to_string(mask) + ".ini").c_str());
        TUmask set(mask);
        ASSERT_TRUE(ini.Save(path));
        EXPECT_EQ(permissions(path), 0666 & ~mask) << "umask " << std::oct << mask;
    }

    const std::string shared = dir.File("shared.ini");
    WriteFile(shared, "[Comms]\n");
    chmod(shared.c_str(), 0664);
    TUmask set(077);
    ASSERT_TRUE(ini.Save(shared));
    EXPECT_EQ(permissions(shared), 0664u);
}
