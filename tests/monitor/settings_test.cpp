// Settings: defaults, every range check with its previous-value rule, what is written and in
// which order, the file's place, the command-line port and the baud rate search cycle.
#include "monitor/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace {

const TSettingsContext FilesOff{false, "."};
const TSettingsContext FilesOn{true, "."};

TSettings Loaded(const std::string& text, const TSettingsContext& context,
                 TSettings settings = DefaultSettings("/home/u")) {
    TIniFile ini;
    ini.Parse(text);
    LoadSettings(settings, ini, context);
    return settings;
}

}  // namespace

TEST(Settings, MissingFileGivesTheDefaultsWrittenInTableOrder) {
    const TSettings s = Loaded("", FilesOn);
    EXPECT_EQ(s, DefaultSettings("/home/u"));
    EXPECT_EQ(DefaultSettings("/home/u/").BaseDir, "/home/u/recorderfiles");
    TIniFile ini;
    SaveSettings(s, ini, FilesOn);
    EXPECT_EQ(ini.Text(),
              "[Comms]\nPort=1\nBaud=19200\nDevice=\n"
              "[Data]\nStoredSeconds=30\nDCTimeConst=0.003\nFgdCol=65280\nFirstSampleCol=255\n"
              "BgdCol=0\n"
              "[Temperatures]\nStoredHours=1\nFgdCol=65280\nBgdCol=0\n"
              "[FFT]\nAutoCalc=1\nPoints=1024\nWindow=Blackman Harris\nFgdCol=16776960\n"
              "BgdCol=0\n"
              "[Files]\nEnable=0\nLocation=LO\nNetwork=NK\nUseSerialNumber=0\nStation=STATN\n"
              "BaseDir=/home/u/recorderfiles\nDurationMinutes=5\n"
              "[Spectrogram]\nPoints=1024\nAutoRange=1\nMinDb=-160\nMaxDb=-40\n"
              "LogFrequency=1\nMinutes=10\nMaxHz=0\n"
              "[Events]\nBandpass=1\nLowHz=1\nHighHz=10\nPoles=2\nStaSeconds=1\nLtaSeconds=30\n"
              "TriggerOn=4\nTriggerOff=1.5\nChannels=1,2,3,4,5,6\nCoincidence=2\n"
              "HoldSeconds=10\n"
              "[Helicorder]\nChannel=1\nHours=24\nRowMinutes=30\nGain=0\nBandpass=0\n");
}

TEST(Settings, RejectedValuesKeepThePreviousValue) {
    TSettings previous = DefaultSettings("/home/u");
    previous.Port = 4;
    previous.Baud = 38400;
    previous.StoredSeconds = 60;
    previous.DCTimeConst = 0.5;
    previous.StoredHours = 7;
    previous.AutoCalc = 0;
    previous.Points = 4096;
    previous.Window = "None";
    previous.DataFgdCol = 123;
    const TSettings s = Loaded(
        "[Comms]\nPort=256\nBaud=14400\n"
        "[Data]\nStoredSeconds=0\nDCTimeConst=1.5\nFgdCol=12x\n"
        "[Temperatures]\nStoredHours=101\n"
        "[FFT]\nAutoCalc=2\nPoints=1000\nWindow=hanning\n",
        FilesOff, previous);
    EXPECT_EQ(s.Port, 4);  // 256 is 0 in 8 bits
    EXPECT_EQ(s.Baud, 38400);
    EXPECT_EQ(s.StoredSeconds, 60);
    EXPECT_EQ(s.DCTimeConst, 0.5);
    EXPECT_EQ(s.DataFgdCol, 123);
    EXPECT_EQ(s.StoredHours, 7);
    EXPECT_EQ(s.AutoCalc, 0);
    EXPECT_EQ(s.Points, 4096);
    EXPECT_EQ(s.Window, "Blackman Harris");  // any other text, not the previous value

    EXPECT_EQ(Loaded("[Comms]\nPort=0\n[Data]\nDCTimeConst=-0.1\n", FilesOff).Port, 1);
    EXPECT_EQ(Loaded("[Data]\nDCTimeConst=-0.1\n", FilesOff).DCTimeConst, 0.003);
    EXPECT_EQ(Loaded("[Data]\nDCTimeConst=nan\n", FilesOff).DCTimeConst, 0.003);
    for (const char* bad : {"", "+", "1 2", "0x10", "2147483648", "99999999999999999999"}) {
        EXPECT_EQ(
            Loaded(std::string("[Data]\nStoredSeconds=") + bad + "\n", FilesOff).StoredSeconds, 30)
            << bad;
    }
}

TEST(Settings, AcceptedValuesAtTheirLimits) {
    const TSettings s = Loaded(
        "[comms]\nport=258\nBAUD= 57600 \n"
        "[Data]\nStoredSeconds=+86400\nDCTimeConst=1\nBgdCol=-16777216\n"
        "[Temperatures]\nStoredHours=100\n"
        "[FFT]\nPoints=8192\nWindow=Hanning\n",
        FilesOff);
    EXPECT_EQ(s.Port, 2);
    EXPECT_EQ(s.Baud, 57600);
    EXPECT_EQ(s.StoredSeconds, 86400);
    EXPECT_EQ(s.DCTimeConst, 1.0);
    EXPECT_EQ(s.DataBgdCol, -16777216);
    EXPECT_EQ(s.StoredHours, 100);
    EXPECT_EQ(s.Points, 8192);
    EXPECT_EQ(s.Window, "Hanning");
    EXPECT_EQ(Loaded("[Data]\nDCTimeConst=0\n", FilesOff).DCTimeConst, 0.0);
    EXPECT_EQ(Loaded("[Data]\nDCTimeConst=3E-3\n", FilesOff).DCTimeConst, 0.003);
    EXPECT_EQ(Loaded("[Comms]\nPort=-255\n", FilesOff).Port, 1);
}

TEST(Settings, FilesSectionOnlyWithTheFeature) {
    const std::string text =
        "[Files]\nEnable=1\nLocation=XX\nUseSerialNumber=1\nBaseDir=/data/\n"
        "DurationMinutes=60\n";
    TSettings previous = DefaultSettings("/home/u");
    previous.Enable = 1;
    previous.UseSerialNumber = 1;
    const TSettings on = Loaded(text, FilesOn, previous);
    EXPECT_EQ(on.Enable, 1);
    EXPECT_EQ(on.Location, "XX");
    EXPECT_EQ(on.BaseDir, "/data");
    EXPECT_EQ(on.DurationMinutes, 60);
    const TSettings off = Loaded(text, FilesOff, previous);
    EXPECT_EQ(off.Enable, 0);
    EXPECT_EQ(off.Location, "LO");
    EXPECT_EQ(off.BaseDir, "/home/u/recorderfiles");
    EXPECT_EQ(off.DurationMinutes, 5);

    // Enable and UseSerialNumber default to 0 whatever they held; durations out of range.
    for (const char* minutes : {"0", "61"}) {
        const TSettings s =
            Loaded(std::string("[Files]\nDurationMinutes=") + minutes + "\n", FilesOn, previous);
        EXPECT_EQ(s.Enable, 0);
        EXPECT_EQ(s.UseSerialNumber, 0);
        EXPECT_EQ(s.DurationMinutes, 5);
    }

    TIniFile ini;
    ini.Parse("[files]\nEnable=1\n");
    SaveSettings(previous, ini, FilesOff);
    EXPECT_EQ(ini.Get("Files", "Enable"), "1");  // left as the file had it
    EXPECT_EQ(ini.Get("Files", "Location"), std::nullopt);
    TIniFile empty;
    SaveSettings(previous, empty, FilesOff);
    EXPECT_EQ(empty.Text().find("[Files]"), std::string::npos);
}

// [Spectrogram], read with or without the files feature, after every other section.
TEST(Settings, SpectrogramSectionKeepsThePreviousValueForRejectedKeys) {
    TSettings previous = DefaultSettings("/home/u");
    previous.SpectrogramPoints = 2048;
    previous.SpectrogramMinDb = -150;
    previous.SpectrogramMaxDb = -30;
    previous.SpectrogramMinutes = 20;
    previous.SpectrogramLogFrequency = 0;
    struct TCase {
        const char* Text;
        TSpectrogramSettings Expected;
    };
    const TCase cases[] = {
        {"Points=256\nAutoRange=0\nMinDb=-250\nMaxDb=50\nLogFrequency=1\nMinutes=60\nMaxHz=25\n",
         {256, 0, -250, 50, 1, 60, 25}},
        {"Points=4096\nMinDb=-100\nMaxDb=-99\nMinutes=1\n", {4096, 1, -100, -99, 0, 1}},
        // Not a power of two in range, flags other than 0 or 1, spans outside 1..60.
        {"Points=8192\nAutoRange=2\nLogFrequency=-1\nMinutes=61\nMaxHz=-1\n",
         {2048, 1, -150, -30, 0, 20}},
        {"Points=128\nMinutes=0\n", {2048, 1, -150, -30, 0, 20}},
        {"Points=1000\nMinutes=x\n", {2048, 1, -150, -30, 0, 20}},
        // The bounds are taken as a pair: an empty, inverted or out-of-range pair keeps both.
        {"MinDb=-40\nMaxDb=-40\n", {2048, 1, -150, -30, 0, 20}},
        {"MinDb=-20\nMaxDb=-60\n", {2048, 1, -150, -30, 0, 20}},
        {"MinDb=-251\nMaxDb=0\n", {2048, 1, -150, -30, 0, 20}},
        {"MinDb=-100\nMaxDb=51\n", {2048, 1, -150, -30, 0, 20}},
        {"MinDb=-10\n", {2048, 1, -150, -30, 0, 20}},  // above the previous MaxDb
        {"MaxDb=0\n", {2048, 1, -150, 0, 0, 20}},
    };
    for (const TCase& c : cases) {
        for (const TSettingsContext& context : {FilesOff, FilesOn}) {
            const TSettings s = Loaded(std::string("[Spectrogram]\n") + c.Text, context, previous);
            EXPECT_EQ(static_cast<const TSpectrogramSettings&>(s), c.Expected) << c.Text;
        }
    }
    TIniFile ini;
    SaveSettings(previous, ini, FilesOff);
    const size_t fft = ini.Text().find("[FFT]");
    EXPECT_EQ(ini.Text().substr(fft, ini.Text().find("[Events]") - fft),
              "[FFT]\nAutoCalc=1\nPoints=1024\nWindow=Blackman Harris\nFgdCol=16776960\n"
              "BgdCol=0\n[Spectrogram]\nPoints=2048\nAutoRange=1\nMinDb=-150\nMaxDb=-30\n"
              "LogFrequency=0\nMinutes=20\nMaxHz=0\n");
}

// [Events] is taken whole when the detector accepts it, else kept whole; [Helicorder] key by
// key.
TEST(Settings, EventsAndHelicorderSections) {
    TSettings previous = DefaultSettings("/home/u");
    previous.EventStaSeconds = 2;
    previous.EventChannels = 0x7;
    previous.HelicorderHours = 12;
    const TEventSettings kept = previous;
    struct TCase {
        const char* Text;
        bool Taken;
    };
    const TCase cases[] = {
        {"Bandpass=0\nLowHz=0.5\nHighHz=20\nPoles=4\nStaSeconds=0.5\nLtaSeconds=60\n"
         "TriggerOn=3.5\nTriggerOff=1.2\nChannels=1+3\nCoincidence=1\nHoldSeconds=0\n",
         true},
        {"LtaSeconds=3600\nChannels=1\nCoincidence=1\n", true},
        {"StaSeconds=40\n", false},                // STA longer than the LTA
        {"LtaSeconds=3601\n", false},              // LTA beyond an hour
        {"TriggerOn=1\nTriggerOff=1.5\n", false},  // on below off
        {"Channels=7\n", false},                   // a seventh channel
        {"Channels=0\n", false},
        {"Channels=63\n", false},  // a number, not a list
        {"Channels=1\n", false},   // 3 of 1 channel cannot coincide
        {"Coincidence=0\n", false},
        {"Poles=5\n", false},
        {"LowHz=12\n", false},              // corners out of order
        {"Bandpass=0\nLowHz=12\n", false},  // checked with the band-pass off too
        {"Bandpass=2\n", false},
        {"LowHz=nan\n", false},
        {"HoldSeconds=601\n", false},
        {"HoldSeconds=-1\n", false},
    };
    for (const TCase& c : cases) {
        previous.EventCoincidence = 3;
        const TSettings s = Loaded(std::string("[Events]\n") + c.Text, FilesOff, previous);
        if (c.Taken) {
            EXPECT_NE(static_cast<const TEventSettings&>(s), kept) << c.Text;
            EXPECT_TRUE(ValidateDetectorSettings(DetectorSettingsOf(s)).Ok()) << c.Text;
        } else {
            TEventSettings expected = kept;
            expected.EventCoincidence = 3;
            EXPECT_EQ(static_cast<const TEventSettings&>(s), expected) << c.Text;
        }
    }
    const TSettings first = Loaded(std::string("[Events]\n") + cases[0].Text, FilesOff);
    EXPECT_EQ(DetectorSettingsOf(first).Band.LowHz, 0.5);
    EXPECT_EQ(DetectorSettingsOf(first).Channels, 5u);
    EXPECT_FALSE(DetectorSettingsOf(first).BandpassOn);

    // The numbers in the user's decimal separator.
    const TSettingsContext comma{false, ","};
    EXPECT_EQ(Loaded("[Events]\nTriggerOff=1,25\n", comma).EventTriggerOff, 1.25);
    EXPECT_EQ(Loaded("[Events]\nTriggerOff=1.25\n", comma).EventTriggerOff, 1.5);

    struct THeliCase {
        const char* Text;
        THelicorderSettings Expected;
    };
    const THeliCase heli[] = {
        {"Channel=6\nHours=1\nRowMinutes=15\nGain=0\nBandpass=1\n", {6, 1, 15, 0, 1}},
        {"Channel=1\nHours=6\nRowMinutes=60\nGain=23\n", {1, 6, 60, 23, 0}},
        {"Channel=7\nHours=2\nRowMinutes=20\nGain=24\nBandpass=2\n", {1, 12, 30, 0, 0}},
        {"Channel=0\nHours=x\nRowMinutes=0\nGain=-1\nBandpass=-1\n", {1, 12, 30, 0, 0}},
    };
    for (const THeliCase& c : heli) {
        const TSettings s = Loaded(std::string("[Helicorder]\n") + c.Text, FilesOff, previous);
        EXPECT_EQ(static_cast<const THelicorderSettings&>(s), c.Expected) << c.Text;
    }
}

TEST(Settings, SavingKeepsUnknownKeysAndTheFilesSpelling) {
    TIniFile ini;
    ini.Parse("[COMMS]\nport=7\nFoo=bar\n[Extra]\nx=1\n");
    TSettings s = Loaded("", FilesOff);
    s.Port = 3;
    SaveSettings(s, ini, FilesOff);
    EXPECT_EQ(ini.Text().rfind("[COMMS]\nport=3\nFoo=bar\nBaud=19200\nDevice=\n[Extra]\nx=1\n"
                               "[Data]\n",
                               0),
              0u)
        << ini.Text();
}

TEST(Settings, DCTimeConstUsesTheLocalesSeparator) {
    const TSettingsContext comma{false, ","};
    EXPECT_EQ(FormatSettingsDouble(0.003, "."), "0.003");
    EXPECT_EQ(FormatSettingsDouble(1, ","), "1");
    TSettings s = Loaded("", comma);
    for (const double value : {0.0125, 1e-5, 0.1 + 0.2, 1.0}) {
        s.DCTimeConst = value;
        TIniFile ini;
        SaveSettings(s, ini, comma);
        EXPECT_EQ(Loaded(ini.Text(), comma).DCTimeConst, value) << ini.Text();
    }
    EXPECT_EQ(Loaded("[Data]\nDCTimeConst=0,0125\n", comma).DCTimeConst, 0.0125);
    EXPECT_EQ(Loaded("[Data]\nDCTimeConst=0.5\n", comma).DCTimeConst, 0.003);
    EXPECT_EQ(Loaded("[Data]\nDCTimeConst=0,5\n", FilesOff).DCTimeConst, 0.003);
}

TEST(Settings, SaveThenLoadGivesTheSameSettings) {
    TSettings s = DefaultSettings("/home/u");
    s.Port = 255;
    s.Device = "/dev/serial/by-id/usb-x";
    s.Station = "  A B ";
    s.Location = "\"q\"";
    s.BaseDir = "/data//";  // ends in "/" after reading "/data///"
    s.DCTimeConst = 0.1;
    s.Enable = -5;
    s.EventBandpass = 0;
    s.EventLowHz = 0.1 + 0.2;
    s.EventHighHz = 24.75;
    s.EventTriggerOn = 6.125;
    s.EventChannels = 0x21;
    s.EventCoincidence = 2;
    s.HelicorderChannel = 4;
    s.HelicorderGain = 3;
    TIniFile ini;
    SaveSettings(s, ini, FilesOn);
    EXPECT_EQ(Loaded(ini.Text(), FilesOn), s) << ini.Text();
}

TEST(Settings, PlaceOfTheSettingsFile) {
    TSettingsPathFacts facts;
    facts.ExecutableDir = "/opt/k/bin/";
    facts.HomeDir = "/home/u";
    facts.CommandLineSettings = "my.ini";
    EXPECT_EQ(SettingsFilePath(facts), "my.ini");
    facts.CommandLineSettings.clear();
    facts.FileInExecutableDir = true;
    EXPECT_EQ(SettingsFilePath(facts), "/opt/k/bin/kestrel32.ini");
    facts.FileInExecutableDir = false;
    facts.ExecutableDirWritable = true;
    EXPECT_EQ(SettingsFilePath(facts), "/opt/k/bin/kestrel32.ini");
    facts.ExecutableDirWritable = false;
    EXPECT_EQ(SettingsFilePath(facts), "/home/u/.config/kestrel32/kestrel32.ini");
    facts.XdgConfigHome = "relative/ignored";
    EXPECT_EQ(SettingsFilePath(facts), "/home/u/.config/kestrel32/kestrel32.ini");
    facts.XdgConfigHome = "/cfg";
    EXPECT_EQ(SettingsFilePath(facts), "/cfg/kestrel32/kestrel32.ini");

    // Installed: never beside the program, even where it could write (as root) or where a
    // file already lies.
    facts.ExecutableDir = "/usr/bin/";
    facts.ExecutableDirInstalled = true;
    facts.ExecutableDirWritable = true;
    facts.FileInExecutableDir = true;
    EXPECT_EQ(SettingsFilePath(facts), "/cfg/kestrel32/kestrel32.ini");
    facts.XdgConfigHome.clear();
    EXPECT_EQ(SettingsFilePath(facts), "/home/u/.config/kestrel32/kestrel32.ini");
    facts.ExecutableDirInstalled = false;
    EXPECT_EQ(SettingsFilePath(facts), "/usr/bin/kestrel32.ini");

    const TSettingsPathFacts here = GatherSettingsPathFacts("");
    EXPECT_TRUE(std::filesystem::exists(here.ExecutableDir + "settings_test"));
    EXPECT_FALSE(here.ExecutableDirInstalled);  // a build directory

    std::string pattern = (std::filesystem::temp_directory_path() / "cfg.XXXXXX").string();
    const std::string dir = mkdtemp(pattern.data());
    EXPECT_TRUE(CreateParentDirectories(dir + "/a/b/kestrel32.ini"));
    EXPECT_TRUE(std::filesystem::is_directory(dir + "/a/b"));
    std::filesystem::remove_all(dir);
}

TEST(Settings, InstalledProgramDirectories) {
    EXPECT_TRUE(IsInstalledProgramDir("/usr/bin/", ""));
    EXPECT_TRUE(IsInstalledProgramDir("/usr/bin", ""));
    EXPECT_TRUE(IsInstalledProgramDir("/usr/local/bin/", ""));
    EXPECT_TRUE(IsInstalledProgramDir("/bin/", ""));
    EXPECT_TRUE(IsInstalledProgramDir("/usr/games/", ""));
    EXPECT_TRUE(IsInstalledProgramDir("/opt/kestrel/bin/", "/opt/kestrel/bin"));
    EXPECT_TRUE(IsInstalledProgramDir("/opt/kestrel/bin", "/opt/kestrel/bin/"));
    EXPECT_FALSE(IsInstalledProgramDir("/opt/kestrel/bin/", ""));
    EXPECT_FALSE(IsInstalledProgramDir("/opt/kestrel/bin/", "/usr/local/bin"));
    EXPECT_FALSE(IsInstalledProgramDir("/home/u/kestrel32/build/src/app/", "/usr/local/bin"));
    EXPECT_FALSE(IsInstalledProgramDir("/usr/bin/x/", ""));
    EXPECT_FALSE(IsInstalledProgramDir("/usr/", ""));
    EXPECT_FALSE(IsInstalledProgramDir("/", ""));
    EXPECT_FALSE(IsInstalledProgramDir("", ""));
}

TEST(Settings, CommandLinePort) {
    // A port number on the command line means that port, whatever device was saved.
    TSettings settings;
    settings.Port = 2;
    settings.Device = "/dev/ttyUSB0";
    ApplyCommandLine(settings, std::nullopt, "");
    EXPECT_EQ(settings.Device, "/dev/ttyUSB0");
    ApplyCommandLine(settings, 5, "");
    EXPECT_EQ(settings.Port, 5);
    EXPECT_EQ(settings.Device, "");
    ApplyCommandLine(settings, std::nullopt, "/dev/ttyACM0");
    EXPECT_EQ(settings.Device, "/dev/ttyACM0");
    EXPECT_EQ(settings.Port, 5);
}

TEST(Settings, AFullFileReadAndWrittenAgainIsTheSameByteForByte) {
    // Every section and key as a user's file holds them, with CR LF line ends, comments, a
    // quoted value, keys and a section this program does not know.
    const std::string text =
        "; kestrel32\r\n[Comms]\r\nPort=3\r\nBaud=38400\r\nDevice=/dev/ttyUSB0\r\n"
        "[Data]\r\nStoredSeconds=600\r\nDCTimeConst=0.25\r\nFgdCol=255\r\nFirstSampleCol=65535\r\n"
        "BgdCol=16777215\r\nLater=kept\r\n"
        "[Temperatures]\r\nStoredHours=48\r\nFgdCol=1\r\nBgdCol=2\r\n"
        "[FFT]\r\nAutoCalc=0\r\nPoints=8192\r\nWindow=Hanning\r\nFgdCol=3\r\nBgdCol=4\r\n"
        "[Files]\r\nEnable=1\r\nLocation=00\r\nNetwork=XX\r\nUseSerialNumber=1\r\n"
        "Station=\" AB \"\r\nBaseDir=/data/rec\r\nDurationMinutes=15\r\n"
        "[Elsewhere]\r\n# note\r\nx=1\r\n"
        "[Spectrogram]\r\nPoints=4096\r\nAutoRange=0\r\nMinDb=-180\r\nMaxDb=-60\r\n"
        "LogFrequency=1\r\nMinutes=60\r\nMaxHz=0\r\n"
        "[Events]\r\nBandpass=0\r\nLowHz=0.5\r\nHighHz=8\r\nPoles=3\r\nStaSeconds=0.75\r\n"
        "LtaSeconds=45\r\nTriggerOn=3.5\r\nTriggerOff=1.25\r\nChannels=1,2,3\r\nCoincidence=3\r\n"
        "HoldSeconds=2.5\r\n"
        "[Helicorder]\r\nChannel=2\r\nHours=6\r\nRowMinutes=15\r\nGain=5\r\nBandpass=1\r\n";
    TIniFile ini;
    ini.Parse(text);
    TSettings s = DefaultSettings("/home/u");
    LoadSettings(s, ini, FilesOn);
    EXPECT_EQ(s.Station, " AB ");
    SaveSettings(s, ini, FilesOn);
    EXPECT_EQ(ini.Text(), text);
}
