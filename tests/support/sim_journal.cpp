#include "support/sim_journal.h"

#include <fstream>
#include <sstream>

TSimJournalRead TSimJournalRead::Load(const std::string& path) {
    TSimJournalRead journal;
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::istringstream words(text.substr(start, end - start));
        TJournalLine line;
        if (!(words >> line.Seconds)) {
            continue;
        }
        for (std::string word; words >> word;) {
            line.Words.push_back(word);
        }
        if (!line.Words.empty()) {
            journal.lines_.push_back(std::move(line));
        }
    }
    return journal;
}

std::vector<TSimJournalRead::TFrame> TSimJournalRead::Frames() const {
    std::vector<TFrame> frames;
    for (const TJournalLine& line : lines_) {
        if (line.Words[0] != "frame" || line.Words.size() < 3) {
            continue;
        }
        TFrame frame;
        frame.BlockCount = static_cast<uint32_t>(std::stoul(line.Words[1]));
        frame.Seconds = line.Seconds;
        frame.Intact = line.Words[2] == "intact";
        size_t next = 3;
        if (!frame.Intact && line.Words.size() > 3) {
            frame.Damage = line.Words[next++];
        }
        for (; next < line.Words.size(); ++next) {
            const std::string& word = line.Words[next];
            frame.TagInSamples = frame.TagInSamples || word == "tag-in-samples";
            frame.EchoInside = frame.EchoInside || word == "echo-inside";
            if (next + 1 == line.Words.size()) {
                continue;
            }
            const std::string& value = line.Words[next + 1];
            if (word == "time") {
                frame.Time = std::stoll(value);
            } else if (word == "channels") {
                frame.Channels = std::stoi(value);
            } else if (word == "rate") {
                frame.Rate = std::stod(value);
            } else if (word == "samples") {
                frame.Samples = std::stoi(value);
            } else if (word == "bytes") {
                frame.Bytes = std::stoi(value);
            } else if (word == "first") {
                std::istringstream list(value);
                for (std::string k; std::getline(list, k, ',');) {
                    frame.First.push_back(std::stoull(k));
                }
            } else {
                continue;
            }
            ++next;  // the value is taken
        }
        frames.push_back(frame);
    }
    return frames;
}

std::vector<std::string> TSimJournalRead::Commands() const {
    std::vector<std::string> commands;
    for (const TJournalLine& line : lines_) {
        if (line.Words[0] == "command" && line.Words.size() > 1) {
            commands.push_back(line.Words[1]);
        }
    }
    return commands;
}

int TSimJournalRead::CommandCount(const std::string& letters) const {
    int n = 0;
    for (const std::string& command : Commands()) {
        n += command == letters ? 1 : 0;
    }
    return n;
}

int TSimJournalRead::EchoCount(const std::string& letters) const {
    int n = 0;
    for (const TJournalLine& line : lines_) {
        const bool sent =
            line.Words.size() == 2 || (line.Words.size() == 3 && line.Words[2] == "split");
        n += line.Words[0] == "echo" && line.Words.size() > 1 && line.Words[1] == letters && sent;
    }
    return n;
}

int TSimJournalRead::SplitEchoCount() const {
    int n = 0;
    for (const TJournalLine& line : lines_) {
        n += line.Words[0] == "echo" && line.Words.size() == 3 && line.Words[2] == "split";
    }
    return n;
}

std::vector<std::pair<double, int>> TSimJournalRead::LineRates() const {
    std::vector<std::pair<double, int>> rates;
    for (const TJournalLine& line : lines_) {
        if (line.Words[0] == "line" && line.Words.size() > 1) {
            rates.emplace_back(line.Seconds, std::stoi(line.Words[1]));
        }
    }
    return rates;
}

int TSimJournalRead::LineRate() const {
    const auto rates = LineRates();
    return rates.empty() ? 0 : rates.back().second;
}

double TSimJournalRead::LineRateSince() const {
    const auto rates = LineRates();
    return rates.empty() ? 0 : rates.back().first;
}

double TSimJournalRead::LastSeconds() const {
    return lines_.empty() ? 0 : lines_.back().Seconds;
}
