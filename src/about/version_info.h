// The program's version information, looked up as a version resource is: the
// translations under "\VarFileInfo\Translation" and each string under
// "\StringFileInfo\<language><code page>\<key>", language and code page as
// four upper-case hexadecimal digits each ("\StringFileInfo\080904E4\FileVersion").
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TVersionInfo {
  public:
    // One translation's strings: key and value.
    using TStrings = std::vector<std::pair<std::string, std::string>>;

    TVersionInfo() = default;
    // The strings of one translation.
    TVersionInfo(uint16_t language, uint16_t codePage, const TStrings& strings);

    // Each translation as language (low 16 bits) and code page (high 16 bits),
    // in the order added; empty when there is none.
    const std::vector<uint32_t>& Translations() const { return translations_; }
    // The string at `path`; nothing for a path that names none.
    std::optional<std::string> QueryValue(std::string_view path) const;

    void AddTranslation(uint16_t language, uint16_t codePage, const TStrings& strings);

  private:
    std::vector<uint32_t> translations_;
    std::map<std::string, std::string, std::less<>> values_;
};

// "\StringFileInfo\LLLLCCCC\key" for a translation as Translations() gives it.
std::string StringFileInfoPath(uint32_t translation, std::string_view key);

// The program's own version information, compiled in from the build.
const TVersionInfo& ProgramVersionInfo();

// What the About box shows, each text absent when the version information
// does not give it: the description, "Version " and the file version, and the
// copyright notice. No information, or none in a translation, gives nothing.
struct TAboutTexts {
    std::optional<std::string> FileDescription;
    std::optional<std::string> FileVersion;
    std::optional<std::string> LegalCopyright;
};
TAboutTexts ReadAboutTexts(const TVersionInfo* info);
