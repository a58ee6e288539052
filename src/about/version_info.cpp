#include "about/version_info.h"

#include <cstdio>

#include "about/version.h"

TVersionInfo::TVersionInfo(uint16_t language, uint16_t codePage, const TStrings& strings) {
    AddTranslation(language, codePage, strings);
}

void TVersionInfo::AddTranslation(uint16_t language, uint16_t codePage, const TStrings& strings) {
    const uint32_t translation = language | static_cast<uint32_t>(codePage) << 16;
    translations_.push_back(translation);
    for (const auto& [key, value] : strings) {
        values_[StringFileInfoPath(translation, key)] = value;
    }
}

std::optional<std::string> TVersionInfo::QueryValue(std::string_view path) const {
    const auto found = values_.find(path);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::string StringFileInfoPath(uint32_t translation, std::string_view key) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%04X%04X", translation & 0xFFFFu, translation >> 16);
    std::string path = "\\StringFileInfo\\";
    path += hex;
    path += '\\';
    path += key;
    return path;
}

const TVersionInfo& ProgramVersionInfo() {
    static const TVersionInfo info(VersionInfoLanguage, VersionInfoCodePage,
                                   {{"CompanyName", VersionInfoCompanyName},
                                    {"FileDescription", VersionInfoFileDescription},
                                    {"FileVersion", VersionInfoFileVersion},
                                    {"InternalName", VersionInfoInternalName},
                                    {"LegalCopyright", VersionInfoLegalCopyright},
                                    {"OriginalFilename", VersionInfoOriginalFilename},
                                    {"ProductName", VersionInfoProductName},
                                    {"ProductVersion", VersionInfoProductVersion}});
    return info;
}

TAboutTexts ReadAboutTexts(const TVersionInfo* info) {
    TAboutTexts texts;
    if (info == nullptr || info->Translations().empty()) {
        return texts;
    }
    // The first translation's strings.
    const uint32_t translation = info->Translations().front();
    texts.FileDescription = info->QueryValue(StringFileInfoPath(translation, "FileDescription"));
    if (auto version = info->QueryValue(StringFileInfoPath(translation, "FileVersion"))) {
        texts.FileVersion = "Version " + *version;
    }
    texts.LegalCopyright = info->QueryValue(StringFileInfoPath(translation, "LegalCopyright"));
    return texts;
}
