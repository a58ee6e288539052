#include "upload/hex_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <sstream>

namespace {

// Larger files are no firmware; reading them would only fill the memory.
constexpr off_t FileSizeLimit = 64 << 20;

bool IsLineEndSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string CharacterText(char c) {
    char text[16];
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 32 && byte < 127) {
        std::snprintf(text, sizeof text, "'%c'", c);
    } else {
        std::snprintf(text, sizeof text, "byte 0x%02X", byte);
    }
    return text;
}

std::string Hex(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace

std::optional<uint8_t> HexDigit(char c, int shift) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    }
    if (value < 0) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(value << shift);
}

const char* HexToBytes(const char* pos, const char* end, uint8_t* dest, int count,
                       const char** bad) {
    for (int i = 0; i < count; ++i) {
        for (int half = 0; half < 2; ++half) {
            if (pos + half >= end) {
                if (bad != nullptr) {
                    *bad = end;
                }
                return nullptr;
            }
            if (!HexDigit(pos[half], 0)) {
                if (bad != nullptr) {
                    *bad = pos + half;
                }
                return nullptr;
            }
        }
        dest[i] = static_cast<uint8_t>(*HexDigit(pos[0], 4) | *HexDigit(pos[1], 0));
        pos += 2;
    }
    return pos;
}

uint8_t ByteSum(const uint8_t* bytes, uint8_t start, int count) {
    unsigned sum = start;
    for (int i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return static_cast<uint8_t>(sum);
}

bool HexChecksumOk(const HexRecord& record) {
    const uint8_t head[4] = {record.ByteCount, static_cast<uint8_t>(record.LoadOffset >> 8),
                             static_cast<uint8_t>(record.LoadOffset), record.RecordType};
    uint8_t sum = ByteSum(head, record.RecordChecksum, 4);
    sum = ByteSum(record.RecordData.data(), sum, record.ByteCount);
    return sum == 0;
}

std::string ParseHexRecord(std::string_view line, HexRecord& record) {
    if (line.empty() || line.find_first_not_of(" \t\r") == std::string_view::npos) {
        return "blank line";
    }
    if (line[0] != ':') {
        return "not a record: it does not begin with ':'";
    }
    const char* pos = line.data() + 1;
    const char* const end = line.data() + line.size();
    const char* bad = nullptr;
    auto fail = [&]() -> std::string {
        if (bad == end || IsLineEndSpace(*bad)) {
            return "the line ends before its record does";
        }
        return CharacterText(*bad) + " in column " + std::to_string(bad - line.data() + 1) +
               " is no hex digit";
    };
    uint8_t head[4];
    if ((pos = HexToBytes(pos, end, head, 4, &bad)) == nullptr) {
        return fail();
    }
    record.ByteCount = head[0];
    record.LoadOffset = static_cast<uint16_t>(head[1] << 8 | head[2]);
    record.RecordType = head[3];
    if ((pos = HexToBytes(pos, end, record.RecordData.data(), record.ByteCount, &bad)) == nullptr ||
        (pos = HexToBytes(pos, end, &record.RecordChecksum, 1, &bad)) == nullptr) {
        return fail();
    }
    for (const char* rest = pos; rest < end; ++rest) {
        if (!IsLineEndSpace(*rest)) {
            return "characters after the checksum, from column " +
                   std::to_string(rest - line.data() + 1);
        }
    }
    if (!HexChecksumOk(record)) {
        uint8_t expected = ByteSum(head, 0, 4);
        expected = ByteSum(record.RecordData.data(), expected, record.ByteCount);
        return "checksum error: the record says " + Hex(record.RecordChecksum, 2) +
               ", its bytes give " + Hex(static_cast<uint8_t>(-expected), 2);
    }
    return {};
}

bool ReadHexLine(std::istream& in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr) {
        return false;
    }
    bool any = false;
    for (;;) {
        const int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            return any;
        }
        any = true;
        if (c == '\n') {
            return true;
        }
        if (line.size() < HexLineLimit) {
            line.push_back(static_cast<char>(c));
        } else {
            tooLong = true;
        }
    }
}

bool ReadHexRecord(std::istream& in, HexRecord& record) {
    std::string line;
    bool tooLong = false;
    if (!ReadHexLine(in, line, tooLong)) {
        return false;
    }
    return !tooLong && ParseHexRecord(line, record).empty();
}

TResult<int, THexError> SendHexFile(
    std::istream& in, const std::function<void(uint32_t address, const HexRecord&)>& write) {
    int records = 0;
    uint32_t base = 0;
    uint64_t dataBytes = 0;
    std::string line;
    HexRecord record;
    int lineNumber = 0;
    auto stop = [&](std::string reason) { return THexError{{std::move(reason), 0}, lineNumber}; };
    for (;;) {
        bool tooLong = false;
        if (!ReadHexLine(in, line, tooLong)) {
            ++lineNumber;
            return stop("the file ends before its end-of-file record");
        }
        ++lineNumber;
        if (tooLong) {
            return stop("the line is longer than " + std::to_string(HexLineLimit) + " characters");
        }
        std::string reason = ParseHexRecord(line, record);
        if (!reason.empty()) {
            return stop(std::move(reason));
        }
        const uint8_t count = record.ByteCount;
        switch (record.RecordType) {
            case HexDataRecord: {
                const uint32_t address = base + record.LoadOffset;
                if (address % 2 != 0) {
                    return stop("data record at the odd address " + Hex(address, 5) +
                                ": memory is written in 16-bit words");
                }
                if (count % 2 != 0) {
                    return stop("data record of an odd number of bytes (" + std::to_string(count) +
                                "): memory is written in 16-bit words");
                }
                if (record.LoadOffset + count > 0x10000) {
                    return stop("data record runs past the end of its 64 KiB segment");
                }
                dataBytes += count;
                if (dataBytes > HexAddressLimit) {
                    return stop("more data than the digitizer's memory holds");
                }
                ++records;
                write(address, record);
                break;
            }
            case HexEndRecord:
                return records;
            case HexSegmentRecord:
                if (count != 2) {
                    return stop("extended segment address record without two data bytes");
                }
                base = (uint32_t{record.RecordData[0]} << 8 | record.RecordData[1]) << 4;
                break;
            case HexLinearRecord: {
                if (count != 2) {
                    return stop("extended linear address record without two data bytes");
                }
                const uint32_t upper = uint32_t{record.RecordData[0]} << 8 | record.RecordData[1];
                if (upper != 0) {
                    return stop("extended linear address " + Hex(upper, 4) +
                                ": the data that follows would be written at the wrong "
                                "addresses (only segment addresses move the data)");
                }
                break;
            }
            default:
                break;  // start addresses and unknown types: checked and skipped
        }
    }
}

THexFile LoadHexFile(const std::string& path) {
    auto fail = [](TError error) { return THexError{std::move(error), 0}; };
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail(SystemError("cannot be opened", errno));
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return fail({S_ISDIR(info.st_mode) ? "is a directory" : "is not a regular file", 0});
    }
    if (info.st_size > FileSizeLimit) {
        close(fd);
        return fail({"is too large to be firmware", 0});
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            close(fd);
            return fail(SystemError("cannot be read", error));
        }
        if (n == 0) {
            break;
        }
        text.append(chunk, static_cast<size_t>(n));
        if (text.size() > static_cast<size_t>(FileSizeLimit)) {
            close(fd);
            return fail({"is too large to be firmware", 0});
        }
    }
    close(fd);

    std::istringstream in(std::move(text));
    std::vector<THexData> records;
    const auto keep = [&](uint32_t address, const HexRecord& record) {
        records.push_back(THexData{
            address, {record.RecordData.begin(), record.RecordData.begin() + record.ByteCount}});
    };
    if (const TResult<int, THexError> walk = SendHexFile(in, keep); !walk) {
        return walk.Error();
    }
    return records;
}
