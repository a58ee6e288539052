#include "seedlink/seedlink_client.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

std::string Trimmed(const uint8_t* p, size_t n) {
    std::string text(reinterpret_cast<const char*>(p), n);
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string TSeedLinkTestClient::TPacket::Station() const {
    return Trimmed(Record.data() + 8, 5);
}

std::string TSeedLinkTestClient::TPacket::Channel() const {
    return Trimmed(Record.data() + 15, 3);
}

std::string TSeedLinkTestClient::TPacket::Text() const {
    const size_t samples = (size_t(Record[30]) << 8) | Record[31];
    const size_t offset = (size_t(Record[44]) << 8) | Record[45];
    if (offset >= Record.size()) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(Record.data()) + offset,
                       std::min(samples, Record.size() - offset));
}

TSeedLinkTestClient::~TSeedLinkTestClient() {
    Close();
}

void TSeedLinkTestClient::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    buffer_.clear();
}

bool TSeedLinkTestClient::Connect(int port, std::chrono::milliseconds timeout, int receiveBuffer) {
    Close();
    const auto deadline = TClock::now() + timeout;
    while (true) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0) {
            setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return true;
        }
        Close();
        if (TClock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool TSeedLinkTestClient::Send(const std::string& line) {
    return SendRaw(line + "\r\n");
}

bool TSeedLinkTestClient::SendRaw(const std::string& bytes) {
    size_t done = 0;
    while (fd_ >= 0 && done < bytes.size()) {
        const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        done += size_t(n);
    }
    return fd_ >= 0;
}

bool TSeedLinkTestClient::Fill(size_t bytes, TClock::time_point deadline) {
    while (buffer_.size() < bytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        if (fd_ < 0 || left.count() <= 0) {
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) {
            continue;
        }
        char chunk[65536];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        buffer_.append(chunk, size_t(n));
    }
    return true;
}

std::optional<std::string> TSeedLinkTestClient::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = TClock::now() + timeout;
    while (true) {
        const size_t end = buffer_.find("\r\n");
        if (end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            return line;
        }
        if (!Fill(buffer_.size() + 1, deadline)) {
            return std::nullopt;
        }
    }
}

std::optional<TSeedLinkTestClient::TPacket> TSeedLinkTestClient::ReadPacket(
    std::chrono::milliseconds timeout) {
    const auto deadline = TClock::now() + timeout;
    if (!Fill(3, deadline)) {
        return std::nullopt;
    }
    if (buffer_.compare(0, 3, "END") == 0) {
        buffer_.erase(0, 3);
        ended_ = true;
        return std::nullopt;
    }
    if (!Fill(8 + 512, deadline)) {
        return std::nullopt;
    }
    TPacket packet;
    if (buffer_.compare(0, 6, "SLINFO") == 0) {
        packet.Info = true;
        packet.MoreInfo = buffer_[7] == '*';
    } else if (buffer_.compare(0, 2, "SL") == 0) {
        uint32_t sequence = 0;
        for (size_t i = 2; i < 8; ++i) {
            const char c = buffer_[i];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                garbled_ = true;
                return std::nullopt;
            }
            sequence = sequence * 16 + uint32_t(digit);
        }
        packet.Sequence = sequence;
    } else {
        garbled_ = true;
        return std::nullopt;
    }
    std::memcpy(packet.Record.data(), buffer_.data() + 8, 512);
    buffer_.erase(0, 8 + 512);
    return packet;
}

bool TSeedLinkTestClient::WaitClosed(std::chrono::milliseconds timeout) {
    const auto deadline = TClock::now() + timeout;
    while (fd_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0) {
            continue;
        }
        char chunk[65536];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return true;
        }
    }
    return true;
}

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

int OpenDescriptors() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (const dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(dir);
    return count - 1;  // the directory's own descriptor
}
