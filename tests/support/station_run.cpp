#include "support/station_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "calendar/calendar.h"
#include "seedfile/seed_time.h"
#include "sim/signals.h"
#include "support/mseed_read.h"
#include "support/sim_journal.h"

namespace fs = std::filesystem;

bool WaitForUnitTime(const std::string& journal, int64_t time, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        const auto frames = TSimJournalRead::Load(journal).Frames();
        if (!frames.empty() && frames.back().Time >= time) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::map<std::string, TTimedSamples> ArchivedSamples(const std::string& archive) {
    std::map<std::string, TTimedSamples> archived;
    for (const auto& entry : fs::recursive_directory_iterator(archive)) {
        const std::string relative = fs::relative(entry.path(), archive).string();
        if (!entry.is_regular_file() || relative.starts_with(".") ||
            relative.find("/.") != std::string::npos || relative.starts_with("metadata/")) {
            continue;
        }
        const std::string name = entry.path().filename().string();
        const TMseedFile file = ReadMseedFile(entry.path().string());
        EXPECT_TRUE(file.Ok) << name << ": " << file.Error;
        EXPECT_EQ(file.Log, std::vector<std::string>{}) << name;
        for (const TMseedRecord& r : file.Records) {
            const int64_t first = r.StartMicroseconds;
            const int64_t last = first + int64_t(double(r.SampleCount - 1) * 1e6 / r.SampleRate);
            const TSeedCivil day = CivilOf({first / 1000000, 0});
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%04d.%03d", day.Year,
                          DayOfYear(day.Year, day.Month, day.Day));
            EXPECT_TRUE(name.ends_with(suffix)) << name << " holds a record of " << suffix;
            EXPECT_EQ(first / 86400000000, last / 86400000000) << name;
            for (size_t i = 0; i < r.Samples.size(); ++i) {
                archived[r.Channel].push_back(
                    {first + int64_t(double(i) * 1e6 / r.SampleRate), r.Samples[i]});
            }
        }
    }
    for (auto& [code, samples] : archived) {
        std::sort(samples.begin(), samples.end());
    }
    return archived;
}

std::map<std::string, TTimedSamples> SentSamples(const std::string& journal, int64_t from,
                                                 int64_t to) {
    std::map<std::string, TTimedSamples> sent;
    for (const auto& f : TSimJournalRead::Load(journal).Frames()) {
        if (!f.Intact || f.Time < from || f.Time > to) {
            continue;
        }
        const char band = f.Rate >= 80 ? 'H' : f.Rate >= 10 ? 'B' : 'M';
        for (int c = 0; c < f.Channels; ++c) {
            const std::string code = std::string(1, band) + "H" + "ZNE123"[c];
            for (int j = 0; j < f.Samples; ++j) {
                const int64_t t = f.Time * 1000000 + int64_t(double(j) * 1e6 / f.Rate);
                sent[code].push_back(
                    {t, CounterValue(c, f.First[size_t(c)] + uint64_t(j), f.Bytes)});
            }
        }
    }
    return sent;
}

std::string Difference(const TTimedSamples& got, const TTimedSamples& want) {
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) {
        ++i;
    }
    if (i == got.size() && i == want.size()) {
        return "none";
    }
    const auto at = [](const TTimedSamples& s, size_t k) {
        return k < s.size() ? std::to_string(s[k].first) + "=" + std::to_string(s[k].second)
                            : std::string("(end)");
    };
    return "at sample " + std::to_string(i) + " of " + std::to_string(got.size()) + " archived / " +
           std::to_string(want.size()) + " sent: archived " + at(got, i) + ", sent " + at(want, i);
}
