#include "recording/day_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/files.h"
#include "seedfile/seed_file.h"

namespace {

uint16_t Get16(const uint8_t* at, bool big) {
    return big ? static_cast<uint16_t>(at[0] << 8 | at[1])
               : static_cast<uint16_t>(at[1] << 8 | at[0]);
}

TDayFileWriteHook writeHook;

// The longest damaged tail that is taken for a record cut short (the longest record).
constexpr off_t LongestRecord = 65536;
// Where a record may start after a damaged stretch: records are whole multiples of this.
constexpr off_t RecordAlignment = 64;

// The length of the record whose first bytes are `h` (`n` of them), or 0 when they are not
// the start of a record; `sequence` is its sequence number.
size_t RecordLengthAt(const uint8_t* h, size_t n, int& sequence) {
    if (n < 64) {
        return 0;
    }
    sequence = 0;
    for (int i = 0; i < 6; ++i) {
        if (h[i] >= '0' && h[i] <= '9') {
            sequence = sequence * 10 + (h[i] - '0');
        } else if (h[i] != ' ') {
            return 0;
        }
    }
    if (std::strchr("DRQM", h[6]) == nullptr || h[6] == 0) {
        return 0;
    }
    const auto plausible = [&](bool big) {
        const int year = Get16(h + 20, big);
        const int day = Get16(h + 22, big);
        return year >= 1900 && year <= 2100 && day >= 1 && day <= 366;
    };
    bool big;
    if (plausible(true)) {
        big = true;
    } else if (plausible(false)) {
        big = false;
    } else {
        return 0;
    }
    size_t at = Get16(h + 46, big);
    for (int hops = 0; hops < 4 && at >= 48 && at + 8 <= n; ++hops) {
        if (Get16(h + at, big) == 1000) {
            const int exponent = h[at + 6];
            return exponent >= 8 && exponent <= 16 ? size_t{1} << exponent : 0;
        }
        at = Get16(h + at + 2, big);
    }
    return 0;
}

}  // namespace

std::string SdsPath(const std::string& root, const TSeedCodes& codes, TSeedTime start) {
    const TSeedCivil civil = CivilOf(start);
    char year[8];
    char day[8];
    std::snprintf(year, sizeof year, "%04d", civil.Year);
    std::snprintf(day, sizeof day, "%03d", DayOfYear(civil.Year, civil.Month, civil.Day));
    const std::string net = SafeStationCode(codes.Network);
    const std::string sta = SafeStationCode(codes.Station);
    const std::string loc = SafeStationCode(codes.Location);
    const std::string cha = SafeStationCode(codes.Channel);
    return root + "/" + year + "/" + net + "/" + sta + "/" + cha + ".D/" + net + "." + sta + "." +
           loc + "." + cha + ".D." + year + "." + day;
}

TStatus PrepareArchiveRoot(const std::string& root) {
    std::error_code ec;
    if (std::filesystem::exists(root, ec) && !std::filesystem::is_directory(root, ec)) {
        return TError{"the archive " + root + " is not a folder", ENOTDIR};
    }
    std::filesystem::create_directories(root, ec);
    if (ec) {
        return TError{"cannot make the archive folder " + root + ": " + ec.message(), ec.value()};
    }
    std::string probe = root + "/.write-test-XXXXXX";
    const int fd = mkstemp(probe.data());
    if (fd < 0) {
        return SystemError("cannot write in the archive folder " + root, errno);
    }
    close(fd);
    unlink(probe.c_str());
    return {};
}

TDayFileScan ScanDayFile(int fd, off_t size) {
    TDayFileScan scan;
    // The length of the whole record at `offset`, or 0.
    const auto recordAt = [&](off_t offset, int& sequence) -> off_t {
        uint8_t head[256];
        const ssize_t n = pread(fd, head, sizeof head, offset);
        const size_t length =
            n > 0 ? RecordLengthAt(head, static_cast<size_t>(n), sequence) : size_t{0};
        return offset + static_cast<off_t>(length) <= size ? static_cast<off_t>(length) : 0;
    };
    off_t offset = 0;
    while (offset < size) {
        int sequence = 0;
        off_t length = recordAt(offset, sequence);
        if (length == 0) {
            // Not a whole record: damage inside when whole records follow, else the tail.
            off_t next = offset + RecordAlignment;
            while (next < size && (length = recordAt(next, sequence)) == 0) {
                next += RecordAlignment;
            }
            if (next >= size) {
                break;
            }
            scan.DamagedInside = true;
            offset = next;
        }
        offset += length;
        scan.LastSequence = std::max(scan.LastSequence, sequence);
    }
    if (size - offset > LongestRecord) {
        // Too long for a record cut short: not ours to cut.
        scan.DamagedInside = true;
        offset = size;
    }
    scan.WholeLength = offset;
    return scan;
}

TStatus TDayFile::Open(const std::string& path, std::string& notice) {
    if (fd_ >= 0 && path == path_) {
        return {};
    }
    Close();
    std::error_code ec;
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    std::filesystem::create_directories(directory, ec);
    if (ec) {
        return TError{"cannot make " + directory.string() + ": " + ec.message(), ec.value()};
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return SystemError("cannot open " + path, errno);
    }
    const auto fail = [fd](TError error) {
        close(fd);
        return error;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return fail({path + " is not a regular file", 0});
    }
    // One writer per day file: a second station with the same codes must not interleave its
    // records with ours.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail({path + " is being written by another process", errno});
    }
    const TDayFileScan scan = ScanDayFile(fd, st.st_size);
    if (scan.DamagedInside) {
        notice = path + " holds a damaged stretch with whole records after it; it is left as it is";
    }
    if (scan.WholeLength < st.st_size) {
        if (ftruncate(fd, scan.WholeLength) != 0) {
            return fail(SystemError("cannot cut the partial record off " + path, errno));
        }
        notice += (notice.empty() ? "" : "; ") + std::string("cut ") +
                  std::to_string(st.st_size - scan.WholeLength) +
                  " bytes of a partial record off the end of " + path;
    }
    fd_ = fd;
    path_ = path;
    length_ = scan.WholeLength;
    lastSequence_ = scan.LastSequence;
    return {};
}

void SetDayFileWriteHook(TDayFileWriteHook hook) {
    writeHook = std::move(hook);
}

bool TDayFile::PathLeadsHere() const {
    struct stat open {};
    struct stat named {};
    return fstat(fd_, &open) == 0 && stat(path_.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

TStatus TDayFile::Append(std::span<const uint8_t> record, std::string& notice) {
    if (fd_ < 0) {
        return TError{"no file is open", 0};
    }
    if (!PathLeadsHere()) {
        // Removed or moved away while open (a clean-up): what follows goes to a new file under
        // the name, not on into one nobody can find.
        const std::string path = path_;
        Close();
        std::string cut;
        if (const TStatus opened = Open(path, cut); !opened) {
            return opened;
        }
        notice = path + " was removed or moved away while open; records go on in a new file";
    }
    if (writeHook) {
        if (const TStatus refused = writeHook(path_, record.size()); !refused) {
            return SystemError(path_, refused.Error().Errno);
        }
    }
    if (const TStatus written = WriteAll(fd_, record.data(), record.size()); !written) {
        // No partial record stays behind.
        [[maybe_unused]] const int cut = ftruncate(fd_, length_);
        return SystemError(path_, written.Error().Errno);
    }
    length_ += static_cast<off_t>(record.size());
    return {};
}

TStatus TDayFile::Sync() {
    if (fd_ < 0) {
        return {};
    }
    if (writeHook) {
        if (TStatus refused = writeHook(path_, 0); !refused) {
            return refused;
        }
    }
    if (fdatasync(fd_) != 0) {
        return SystemError("cannot put " + path_ + " on the disk", errno);
    }
    return {};
}

void TDayFile::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    path_.clear();
}
