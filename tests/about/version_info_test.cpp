// The version information lookup: the program's own strings under their one
// translation, the paths they are found by, and what the About box reads when
// information is missing.
#include <gtest/gtest.h>

#include <cstring>

#include "about/version.h"
#include "about/version_info.h"

TEST(VersionInfo, TheProgramsStringsAreFoundUnderItsOneTranslation) {
    const TVersionInfo& info = ProgramVersionInfo();
    ASSERT_EQ(info.Translations(), std::vector<uint32_t>{0x04E40809u});
    const uint32_t translation = info.Translations().front();
    EXPECT_EQ(StringFileInfoPath(translation, "FileDescription"),
              "\\StringFileInfo\\080904E4\\FileDescription");
    const std::pair<const char*, const char*> strings[] = {
        {"FileDescription", "Varnhold 6 Channel Digitizer Monitor"},
        {"FileVersion", "1.1.4.0"},
        {"ProductName", "Varnhold 6 Channel 24 Bit Multi Sample Rate Digitizer Monitor"},
        {"ProductVersion", "V1.14"},
        {"InternalName", "kestrel32"},
        {"LegalCopyright", VersionInfoLegalCopyright}};
    for (const auto& [key, value] : strings) {
        EXPECT_EQ(info.QueryValue(StringFileInfoPath(translation, key)), value) << key;
    }
    EXPECT_NE(std::strstr(VersionInfoLegalCopyright, "Copyright"), nullptr);
    // The version --version prints is the one the About box reads.
    EXPECT_EQ(info.QueryValue("\\StringFileInfo\\080904E4\\FileVersion"), ProgramVersion);
    // Another translation, a lower-case path or an unknown key names nothing.
    for (const char* path :
         {"\\StringFileInfo\\040904B0\\FileVersion", "\\StringFileInfo\\080904e4\\FileVersion",
          "\\StringFileInfo\\080904E4\\Comments", "", "\\"}) {
        EXPECT_EQ(info.QueryValue(path), std::nullopt) << path;
    }
}

TEST(VersionInfo, AboutTextsComeFromTheFirstTranslationAndAreAbsentWhenMissing) {
    using TTexts = std::vector<std::optional<std::string>>;
    const TVersionInfo none;
    const TVersionInfo versionOnly(0x0409, 0x04B0, {{"FileVersion", "2.0"}});
    TVersionInfo two(0x0407, 0x04E4, {{"FileDescription", "Erste"}});
    two.AddTranslation(0x0809, 0x04E4, {{"FileDescription", "Second"}, {"FileVersion", "3.1"}});
    const struct {
        const char* name;
        const TVersionInfo* info;
        TTexts texts;
    } cases[] = {
        {"the program's",
         &ProgramVersionInfo(),
         {"Varnhold 6 Channel Digitizer Monitor", "Version 1.1.4.0", VersionInfoLegalCopyright}},
        {"none to read", nullptr, {{}, {}, {}}},
        {"no translation", &none, {{}, {}, {}}},
        {"only a version, under its own translation", &versionOnly, {{}, "Version 2.0", {}}},
        {"two translations: the first", &two, {"Erste", {}, {}}},
    };
    for (const auto& c : cases) {
        const TAboutTexts texts = ReadAboutTexts(c.info);
        EXPECT_EQ((TTexts{texts.FileDescription, texts.FileVersion, texts.LegalCopyright}), c.texts)
            << c.name;
    }
}
