#include "sim/boot_loader.h"

#include "base/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint16_t BigEndian16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

}  // namespace

uint16_t WordSum(const uint8_t* data, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < count; i += 2) {
        sum += BigEndian16(data + i);
    }
    return static_cast<uint16_t>(sum);
}

std::vector<uint8_t> TDeviceMemory::Read(uint64_t address, size_t count) const {
    std::vector<uint8_t> out(count, 0xFF);
    for (size_t i = 0; i < count && address + i < MemorySize; ++i) {
        out[i] = bytes_[address + i];
    }
    return out;
}

void TDeviceMemory::Write(uint64_t address, const uint8_t* data, size_t count) {
    for (size_t i = 0; i < count && address + i < MemorySize; ++i) {
        bytes_[address + i] = data[i];
    }
}

void TDeviceMemory::SetSerialNumber(std::string_view serial) {
    uint8_t field[8];
    uint8_t inverted[8];
    for (size_t i = 0; i < 8; ++i) {
        field[i] = i < serial.size() ? static_cast<uint8_t>(serial[i]) : ' ';
        inverted[i] = static_cast<uint8_t>(~field[i]);
    }
    Write(SerialNumberAddress, field, 8);
    Write(InvertedSerialAddress, inverted, 8);
}

std::string TDeviceMemory::SerialNumber() const {
    const auto field = Read(SerialNumberAddress, 8);
    return std::string(field.begin(), field.end());
}

bool TDeviceMemory::Load(const std::string& path, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != MemorySize) {
        close(fd);
        error = path + ": not a memory image of " + std::to_string(MemorySize) + " bytes";
        return false;
    }
    std::vector<uint8_t> bytes(MemorySize);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = path + ": " + (n < 0 ? std::strerror(errno) : "shorter than expected");
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    bytes_ = std::move(bytes);
    return true;
}

bool TDeviceMemory::Save(const std::string& path, std::string& error) const {
    const TStatus saved = ReplaceFileDurably(
        path, std::string_view(reinterpret_cast<const char*>(bytes_.data()), bytes_.size()));
    if (!saved) {
        error = saved.Error().Text;
    }
    return saved.Ok();
}

void TBootLoader::Start(TClock::time_point now, std::chrono::milliseconds delay) {
    phase_ = TPhase::Starting;
    due_ = now + delay;
}

bool TBootLoader::ReadyDue(TClock::time_point now, std::chrono::milliseconds wait) {
    if (phase_ != TPhase::Starting || now < due_) {
        return false;
    }
    phase_ = TPhase::Waiting;
    due_ = now + wait;
    return true;
}

bool TBootLoader::WaitExpired(TClock::time_point now) {
    if (phase_ != TPhase::Waiting || now < due_) {
        return false;
    }
    phase_ = TPhase::Off;
    return true;
}

TBootLoader::TAction TBootLoader::Handle(const TCommand& command, std::vector<uint8_t>& reply) {
    if (phase_ != TPhase::Waiting && phase_ != TPhase::Active) {
        return TAction::Ignored;  // still starting up
    }
    reply = {'$', static_cast<uint8_t>(command.Name[0]), static_cast<uint8_t>(command.Name[1])};
    const std::vector<uint8_t>& a = command.Argument;
    if (command.Name == "BH") {
        phase_ = TPhase::Active;
    } else if (command.Name == "UR" && a.size() >= 6) {
        const uint64_t address = uint64_t{BigEndian32(a.data())} * 2;
        const size_t count = size_t{BigEndian16(a.data() + 4)} * 2;
        const auto bytes = memory_.Read(address, count);
        reply.insert(reply.end(), bytes.begin(), bytes.end());
    } else if (command.Name == "DR" && a.size() >= 6) {
        const uint64_t address = uint64_t{BigEndian32(a.data())} * 2;
        const uint8_t* data = a.data() + 6;
        const size_t count = a.size() - 6;
        memory_.Write(address, data, count);
        const uint16_t sum = WordSum(data, count);
        reply.push_back(static_cast<uint8_t>(sum >> 8));
        reply.push_back(static_cast<uint8_t>(sum));
    } else if (command.Name == "BR") {
        return TAction::Reboot;
    }
    return TAction::Echo;
}
