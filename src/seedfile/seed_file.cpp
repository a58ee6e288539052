#include "seedfile/seed_file.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// The code as a part of a file name: nothing in it can make a directory.
std::string NamePart(const std::string& code) {
    std::string part = code;
    for (char& c : part) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    return part;
}

// `text` right-aligned in `width` characters (printf's "%5s"); longer texts whole.
std::string RightAligned(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// mkdir -p.
TStatus MakeDirectories(const std::string& dir) {
    const auto fail = [](const std::string& path, int error) {
        return SystemError("cannot make the directory " + path, error);
    };
    struct stat info {};
    if (stat(dir.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? TStatus() : fail(dir, ENOTDIR);
    }
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = dir.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            return fail(part, errno);
        }
        if (slash == std::string::npos) {
            break;
        }
    }
    if (stat(dir.c_str(), &info) != 0) {
        return fail(dir, errno);
    }
    return S_ISDIR(info.st_mode) ? TStatus() : fail(dir, ENOTDIR);
}

}  // namespace

std::string SeedDayDirectory(const std::string& baseDir, TSeedTime start) {
    char day[8];
    std::snprintf(day, sizeof day, "%3.3d", DayOfYear(start));
    return baseDir + "/" + day;
}

std::string SeedFilePath(const TSeedFileParams& params) {
    const TSeedCivil c = CivilOf(params.StartTime);
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%4.4d.%3.3d.%2.2d%2.2d%2.2d", c.Year,
                  DayOfYear(c.Year, c.Month, c.Day), c.Hour, c.Minute, c.Second);
    const TSeedCodes& codes = params.Codes;
    return SeedDayDirectory(params.BaseDir, params.StartTime) + "/" +
           RightAligned(NamePart(codes.Station), 5) + "." +
           RightAligned(NamePart(codes.Network), 2) + "." +
           RightAligned(NamePart(codes.Location), 2) + "." + numbers + "." +
           RightAligned(NamePart(codes.Channel), 3);
}

std::string SafeStationCode(const std::string& serialNumber) {
    std::string code = serialNumber;
    for (char& c : code) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!keep) {
            c = '_';
        }
    }
    return code;
}

TCreatedSeedFile CreateSeedFile(const TSeedFileParams& params) {
    const std::string wanted = SeedFilePath(params);
    if (const TStatus made = MakeDirectories(SeedDayDirectory(params.BaseDir, params.StartTime));
        !made) {
        return {made.Error(), wanted, {}};
    }
    for (int suffix = 0; suffix <= 9999; ++suffix) {
        const std::string path = suffix == 0 ? wanted : wanted + "." + std::to_string(suffix);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return {fd, path,
                    suffix == 0
                        ? std::string()
                        : "data file " + wanted + " exists already; writing " + path + " instead"};
        }
        if (errno != EEXIST) {
            return {SystemError("cannot create the file", errno), path, {}};
        }
    }
    return {TError{"cannot create the file: " + wanted + " and 9999 numbered names exist already",
                   EEXIST},
            wanted,
            {}};
}

TSeedFileResult WriteSeedFile(const TSeedFileParams& params, const TSampleView& samples) {
    const std::optional<TExactRate> rate = ExactRateOf(params.SampleRate);
    if (!rate) {
        const std::string text = std::to_string(params.SampleRate);
        return {TError{"the sample rate " + text + " is not usable", 0}, SeedFilePath(params), {}};
    }
    const TCreatedSeedFile file = CreateSeedFile(params);
    if (!file.Fd) {
        return {file.Fd.Error(), file.Path, file.Clash};
    }

    TSeedRecord record;
    int32_t previousSample = 0;
    size_t done = 0;
    int error = 0;
    size_t records = 0;
    while (done < samples.Size()) {
        const TSeedTime start =
            params.StartTime.PlusTicks(TicksForSamples(static_cast<int64_t>(done), *rate));
        const size_t taken =
            EncodeSeedRecord(record, static_cast<int>(records + 1), params.Codes, previousSample,
                             done, samples, params.BytesPerSample, params.SampleRate, start);
        if (const TStatus written = WriteAll(*file.Fd, record.data(), record.size()); !written) {
            error = written.Error().Errno;
            break;
        }
        ++records;
        done += taken;
    }
    if (error != 0) {
        // Whole records stay; the piece of the record that did not fit goes.
        [[maybe_unused]] const int ignored =
            ftruncate(*file.Fd, static_cast<off_t>(records * SeedRecordLength));
    }
    if (close(*file.Fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0 && records == 0 && samples.Size() > 0) {
        unlink(file.Path.c_str());  // nothing of it could be written
    }
    if (error != 0) {
        const std::string part = std::to_string(done) + " of " + std::to_string(samples.Size());
        return {SystemError("written only in part (" + part + " samples)", error), file.Path,
                file.Clash, records};
    }
    return {{}, file.Path, file.Clash, records};
}
