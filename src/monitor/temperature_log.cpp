#include "monitor/temperature_log.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::string TemperatureLogLine(const TTemperatureHistories& histories, int channelCount,
                               const TNumberSeparators& separators) {
    std::string line;
    const int count = std::clamp(channelCount, 0, MaxChannels);
    for (int c = 0; c < count; ++c) {
        const TTemperatureHistory& history = histories[static_cast<size_t>(c)];
        if (history.empty()) {
            continue;
        }
        const TTemperatureReading& newest = history.back();
        if (c != 0) {
            line += ',';
        }
        line += FormatNumber(newest.Temperature, 1, separators);
        line += ',';
        line += FormatNumber(newest.Offset, 3, separators);
    }
    line += "\r\n";
    return line;
}

TStatus AppendToFile(const std::string& path, std::string_view text) {
    // O_APPEND: every write lands at the end as one piece, whoever else appends.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        return TError{std::strerror(errno), errno};
    }
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    size_t written = 0;
    const TStatus whole = WriteAll(fd, text, &written);
    int error = whole ? 0 : whole.Error().Errno;
    if (error != 0 && written > 0 && sized) {
        // No half line is left behind (a disk that filled up mid-line).
        (void)::ftruncate(fd, before.st_size);
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;  // a network file system may report a failed write only here
    }
    if (error != 0) {
        return TError{std::strerror(error), error};
    }
    return {};
}

void TTemperatureLog::Start(const std::string& path) {
    path_ = path;
    failing_ = false;
    if (path.empty()) {
        return;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        (void)::truncate(path.c_str(), 0);
    }
}

void TTemperatureLog::Stop() {
    path_.clear();
    failing_ = false;
}

TStatus TTemperatureLog::Write(std::string_view line) {
    const TStatus appended = path_.empty() ? TStatus() : AppendToFile(path_, line);
    const bool told = failing_;
    failing_ = !appended;
    if (appended || told) {
        return {};
    }
    return TError{"Cannot write the temperature log " + path_ + ": " + appended.Error().Text,
                  appended.Error().Errno};
}
