// The layers of docs/architecture.md hold in the code: the page's table read as it stands,
// every include of src/ and sim/ checked against it, and its list of the files that use Qt
// checked against the files that include a Qt header.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The checkout this test was built from.
const fs::path Root = SOURCE_DIR;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A path of the page ("src/main/", "src/upload/upload_dlg.*", "sim/main.cpp") as the prefix
// of the files it names.
std::string Prefix(std::string path) {
    if (!path.empty() && path.back() == '*') {
        path.pop_back();
    }
    return path;
}

// The longest prefix in `prefixes` that `file` begins with; empty when none.
std::string Match(const std::string& file, const std::vector<std::string>& prefixes) {
    std::string best;
    for (const std::string& prefix : prefixes) {
        if (file.compare(0, prefix.size(), prefix) == 0 && prefix.size() > best.size()) {
            best = prefix;
        }
    }
    return best;
}

struct TLayers {
    std::map<std::string, int> Rank;  // prefix -> layer, 0 the lowest
    std::vector<std::string> Prefixes;
    std::vector<std::string> QtPrefixes;
};

TLayers ReadPage(const std::string& page) {
    TLayers layers;
    const size_t table = page.find("```", page.find("## Layers"));
    const size_t end = page.find("```", table + 3);
    std::istringstream lines(page.substr(table + 3, end - table - 3));
    const std::regex pathPattern(R"((?:src/[a-z_]+/|sim/)[a-z_.*]*)");
    std::vector<std::vector<std::string>> rows;  // top to bottom
    for (std::string line; std::getline(lines, line);) {
        if (line.find_first_not_of(' ') == std::string::npos) {
            continue;
        }
        if (line.find_first_not_of(' ') <= 1) {
            rows.emplace_back();  // a layer's first line names it; the others go on with it
        }
        for (std::sregex_iterator it(line.begin(), line.end(), pathPattern), none; it != none;
             ++it) {
            if (!rows.empty()) {
                rows.back().push_back(Prefix(it->str()));
            }
        }
    }
    for (size_t row = 0; row < rows.size(); ++row) {
        for (const std::string& prefix : rows[row]) {
            layers.Rank[prefix] = static_cast<int>(rows.size() - 1 - row);
            layers.Prefixes.push_back(prefix);
        }
    }
    const size_t qt = page.find("Qt is used by");
    const size_t qtEnd = page.find("nowhere else", qt);
    const std::string list = page.substr(qt, qtEnd - qt);
    const std::regex quoted(R"(`((?:src/[a-z_]+/|sim/)[a-z_.*]*)`)");
    for (std::sregex_iterator it(list.begin(), list.end(), quoted), none; it != none; ++it) {
        layers.QtPrefixes.push_back(Prefix((*it)[1].str()));
    }
    return layers;
}

// Every source file of src/ and sim/, relative to the checkout.
std::vector<std::string> SourceFiles() {
    std::vector<std::string> files;
    for (const char* top : {"src", "sim"}) {
        for (const auto& entry : fs::recursive_directory_iterator(Root / top)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() &&
                std::regex_search(name, std::regex(R"(\.(h|cpp|h\.in)$)"))) {
                files.push_back(fs::relative(entry.path(), Root).generic_string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The folder a file lies in ("src/monitor/", "sim/").
std::string FolderOf(const std::string& file) {
    return file.substr(0, file.rfind('/') + 1);
}

// The file an include names ("monitor/settings.h" is src/monitor/settings.h, "sim/firmware.h"
// is itself, "about/version.h" is made from src/about/version.h.in); empty for one outside
// src/ and sim/.
std::string IncludedFile(const std::string& include) {
    for (const std::string& candidate : {include, "src/" + include}) {
        for (const std::string& name : {candidate, candidate + ".in"}) {
            if (fs::is_regular_file(Root / name)) {
                return name;
            }
        }
    }
    return {};
}

}  // namespace

TEST(Layers, EveryIncludeGoesToItsOwnLayerOrBelowWithoutALoop) {
    const TLayers layers = ReadPage(ReadText(Root / "docs/architecture.md"));
    ASSERT_GE(layers.Rank.size(), 20u) << "the page's table was not found";
    const std::regex includePattern(R"re(#include\s+"([^"]+)")re");
    std::map<std::string, std::set<std::string>> sameLayer;  // folder -> folders it includes
    for (const std::string& file : SourceFiles()) {
        const std::string own = Match(file, layers.Prefixes);
        ASSERT_FALSE(own.empty()) << file << " lies in no layer of the page";
        const std::string text = ReadText(Root / file);
        for (std::sregex_iterator it(text.begin(), text.end(), includePattern), none; it != none;
             ++it) {
            const std::string included = IncludedFile((*it)[1].str());
            if (included.empty() || FolderOf(included) == FolderOf(file)) {
                continue;
            }
            const std::string theirs = Match(included, layers.Prefixes);
            ASSERT_FALSE(theirs.empty()) << included << " lies in no layer of the page";
            const int from = layers.Rank.at(own);
            const int to = layers.Rank.at(theirs);
            EXPECT_LE(to, from) << file << " includes " << included << ", a layer above it";
            if (to == from) {
                sameLayer[FolderOf(file)].insert(FolderOf(included));
            }
        }
    }
    // Folders of one layer: no loop.
    for (const auto& entry : sameLayer) {
        const std::string& start = entry.first;
        std::set<std::string> seen;
        std::function<bool(const std::string&)> reaches = [&](const std::string& folder) {
            if (!seen.insert(folder).second) {
                return false;
            }
            const auto found = sameLayer.find(folder);
            if (found == sameLayer.end()) {
                return false;
            }
            return std::any_of(found->second.begin(), found->second.end(),
                               [&](const std::string& f) { return f == start || reaches(f); });
        };
        EXPECT_FALSE(reaches(start)) << start << " includes itself through its own layer";
    }
}

TEST(Layers, QtIsUsedWhereThePageSaysAndNowhereElse) {
    const TLayers layers = ReadPage(ReadText(Root / "docs/architecture.md"));
    ASSERT_FALSE(layers.QtPrefixes.empty()) << "the page's list of Qt users was not found";
    const std::regex qtInclude(R"(#include\s*<Q)");
    std::set<std::string> used;
    for (const std::string& file : SourceFiles()) {
        const bool qt = std::regex_search(ReadText(Root / file), qtInclude);
        const std::string listed = Match(file, layers.QtPrefixes);
        if (qt) {
            EXPECT_FALSE(listed.empty()) << file << " uses Qt but the page says it does not";
            used.insert(listed);
        }
    }
    for (const std::string& prefix : layers.QtPrefixes) {
        EXPECT_TRUE(used.count(prefix)) << "the page lists " << prefix << " but it has no Qt";
    }
}
