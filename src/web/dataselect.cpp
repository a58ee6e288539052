#include "web/dataselect.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "seedfile/seed_time.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t MicrosPerDay = int64_t{86400} * 1000000;

int64_t DayOf(int64_t micro) {
    return micro >= 0 ? micro / MicrosPerDay : -((-micro + MicrosPerDay - 1) / MicrosPerDay);
}

bool IsCode(const std::string& text, size_t longest) {
    return !text.empty() && text.size() <= longest &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
           });
}

std::vector<std::string> Directories(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec)) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::vector<TDayFileRead> SelectDayFiles(const std::string& root, const TDataSelectQuery& query) {
    std::map<std::pair<std::string, int>, TDayFileRead> files;  // by stream and day
    const fs::path base(root);
    for (const std::string& yearName : Directories(base)) {
        if (yearName.size() != 4 || !std::all_of(yearName.begin(), yearName.end(),
                                                 [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const int year = std::stoi(yearName);
        const std::optional<TSeedTime> newYear = SeedTimeOf(year, 1, 1);
        if (!newYear) {
            continue;
        }
        const int64_t yearDay = newYear->Seconds / 86400;
        for (const std::string& net : Directories(base / yearName)) {
            if (!IsCode(net, 2)) {
                continue;
            }
            for (const std::string& sta : Directories(base / yearName / net)) {
                if (!IsCode(sta, 5)) {
                    continue;
                }
                for (const std::string& chaDir : Directories(base / yearName / net / sta)) {
                    if (chaDir.size() < 3 || chaDir.substr(chaDir.size() - 2) != ".D") {
                        continue;
                    }
                    const std::string cha = chaDir.substr(0, chaDir.size() - 2);
                    const fs::path dir = base / yearName / net / sta / chaDir;
                    std::error_code ec;
                    for (fs::directory_iterator it(dir, ec), end; !ec && it != end;
                         it.increment(ec)) {
                        // NET.STA.LOC.CHA.D.YEAR.DOY
                        const std::string name = it->path().filename().string();
                        const std::string head = net + "." + sta + ".";
                        if (name.compare(0, head.size(), head) != 0 || !it->is_regular_file(ec)) {
                            continue;
                        }
                        const size_t dot = name.find('.', head.size());
                        if (dot == std::string::npos) {
                            continue;
                        }
                        const std::string loc = name.substr(head.size(), dot - head.size());
                        const std::string tail = "." + cha + ".D." + yearName + ".";
                        if (name.compare(dot, tail.size(), tail) != 0 ||
                            name.size() != dot + tail.size() + 3) {
                            continue;
                        }
                        const std::string doyText = name.substr(dot + tail.size());
                        if (!std::all_of(doyText.begin(), doyText.end(),
                                         [](char c) { return c >= '0' && c <= '9'; })) {
                            continue;
                        }
                        const int doy = std::stoi(doyText);
                        const int64_t day = yearDay + doy - 1;
                        const std::string stream = net + "." + sta + "." + loc + "." + cha;
                        for (const TFdsnSelection& s : query.Selections) {
                            if (!CodeListMatches(s.Networks, net) ||
                                !CodeListMatches(s.Stations, sta) ||
                                !CodeListMatches(s.Locations, loc) ||
                                !CodeListMatches(s.Channels, cha) ||
                                (s.Start != OpenTimeBefore && day < DayOf(s.Start)) ||
                                (s.End != OpenTimeAfter && day > DayOf(s.End))) {
                                continue;
                            }
                            TDayFileRead& file = files[{stream, int(day)}];
                            if (file.Path.empty()) {
                                file.Path = it->path().string();
                                file.Stream = stream;
                                file.Day = int(day);
                                file.Size = it->file_size(ec);
                            }
                            file.Windows.emplace_back(s.Start, s.End);
                        }
                    }
                }
            }
        }
    }
    std::vector<TDayFileRead> list;
    list.reserve(files.size());
    for (auto& [key, file] : files) {
        list.push_back(std::move(file));
    }
    return list;
}

uint64_t EstimatedBytes(const std::vector<TDayFileRead>& files) {
    uint64_t total = 0;
    for (const TDayFileRead& file : files) {
        const int64_t dayStart = int64_t{file.Day} * MicrosPerDay;
        int64_t covered = 0;
        for (const auto& [start, end] : file.Windows) {
            const int64_t from = std::max(start, dayStart);
            const int64_t to = std::min(end, dayStart + MicrosPerDay);
            covered = std::max(covered, to - from);
        }
        total += uint64_t(double(file.Size) * double(covered) / double(MicrosPerDay));
    }
    return total;
}

int64_t SendRecords(const std::vector<TDayFileRead>& files,
                    const std::function<bool(std::span<const uint8_t>)>& sink) {
    constexpr size_t Chunk = size_t{1} << 16;
    std::vector<uint8_t> buffer(Chunk * 2);
    int64_t sent = 0;
    for (const TDayFileRead& file : files) {
        const int fd = open(file.Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;  // removed since it was found (the archive is pruned)
        }
        size_t have = 0;
        bool more = true;
        while (more || have > 0) {
            if (more && have < buffer.size()) {
                const ssize_t n = read(fd, buffer.data() + have, buffer.size() - have);
                more = n > 0;
                have += n > 0 ? size_t(n) : 0;
            }
            size_t used = 0;
            while (true) {
                const std::span<const uint8_t> rest(buffer.data() + used, have - used);
                const std::optional<TRecordHead> head = ReadRecordHead(rest);
                if (!head) {
                    if (rest.size() >= 64) {
                        used = have;  // not a record: the rest of the file is not read
                        more = false;
                    }
                    break;
                }
                if (head->Length > rest.size()) {
                    if (head->Length > buffer.size()) {
                        used = have;
                        more = false;
                    }
                    break;  // the record's end comes with the next read
                }
                used += head->Length;
                const bool wanted =
                    std::any_of(file.Windows.begin(), file.Windows.end(), [&](const auto& window) {
                        return head->Start < window.second && head->End > window.first;
                    });
                if (wanted) {
                    if (!sink(rest.first(head->Length))) {
                        close(fd);
                        return sent;
                    }
                    ++sent;
                }
            }
            std::copy(buffer.begin() + long(used), buffer.begin() + long(have), buffer.begin());
            have -= used;
            if (!more && have > 0) {
                break;  // a record cut short at the end (being written): left for next time
            }
        }
        close(fd);
    }
    return sent;
}
