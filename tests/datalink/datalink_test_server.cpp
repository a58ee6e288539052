#include "datalink/datalink_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

namespace {

// Sends all of `bytes` (the connection is a blocking one); false when the peer has gone.
bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += size_t(n);
    }
    return true;
}

std::string Packet(const std::string& header, const std::string& data = "") {
    std::string packet = "DL";
    packet += char(uint8_t(header.size()));
    return packet + header + data;
}

}  // namespace

TDataLinkTestServer::TDataLinkTestServer(uint16_t port) : port_(port) {
    if (::pipe(wake_) != 0) {
        wake_[0] = wake_[1] = -1;
    }
    Start();
}

TDataLinkTestServer::~TDataLinkTestServer() {
    Stop();
    for (int fd : wake_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool TDataLinkTestServer::Start() {
    if (running_) {
        return true;
    }
    if (thread_.joinable()) {
        thread_.join();  // it has cut itself off
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        return false;
    }
    const int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port_);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0) {
        ::close(listener_);
        listener_ = -1;
        return false;
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    // A wake-up left from the last Stop must not end the new run at once.
    char drain[16];
    while (true) {
        pollfd p{wake_[0], POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) {
            break;
        }
        if (::read(wake_[0], drain, sizeof drain) <= 0) {
            break;
        }
    }
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void TDataLinkTestServer::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    const char stop = 's';
    [[maybe_unused]] ssize_t n = ::write(wake_[1], &stop, 1);
    thread_.join();
}

void TDataLinkTestServer::CutAfter(size_t count) {
    std::lock_guard lock(mutex_);
    cutAfter_ = count;
}

void TDataLinkTestServer::SetAnswer(TAnswer answer) {
    std::lock_guard lock(mutex_);
    answer_ = answer;
}

void TDataLinkTestServer::RefuseStream(const std::string& streamId) {
    std::lock_guard lock(mutex_);
    refusedStreams_.insert(streamId);
}

std::vector<TDataLinkTestServer::TWrite> TDataLinkTestServer::Stored() const {
    std::lock_guard lock(mutex_);
    return stored_;
}

std::vector<TDataLinkTestServer::TWrite> TDataLinkTestServer::Refused() const {
    std::lock_guard lock(mutex_);
    return refused_;
}

int TDataLinkTestServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

int TDataLinkTestServer::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

std::vector<std::string> TDataLinkTestServer::Ids() const {
    std::lock_guard lock(mutex_);
    return ids_;
}

std::vector<std::string> TDataLinkTestServer::Faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void TDataLinkTestServer::Fault(const std::string& text) {
    std::lock_guard lock(mutex_);
    faults_.push_back(text);
}

void TDataLinkTestServer::Run() {
    std::vector<TConnection> connections;
    for (;;) {
        std::vector<pollfd> fds;
        fds.push_back({wake_[0], POLLIN, 0});
        fds.push_back({listener_, POLLIN, 0});
        for (const TConnection& c : connections) {
            fds.push_back({c.Fd, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), 1000) < 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                std::lock_guard lock(mutex_);
                connections.push_back(TConnection{fd, ++connections_, {}});
            }
        }
        // The connection just accepted, if any, is looked at in the next round.
        for (size_t i = 0; i + 2 < fds.size(); ++i) {
            if (fds[2 + i].revents == 0) {
                continue;
            }
            TConnection& c = connections[i];
            uint8_t buffer[8192];
            const ssize_t n = ::recv(c.Fd, buffer, sizeof buffer, 0);
            bool keep = n > 0;
            if (keep) {
                c.Input.insert(c.Input.end(), buffer, buffer + n);
                keep = Handle(c);
            }
            if (!keep) {
                ::close(c.Fd);
                c.Fd = -1;
            }
        }
        std::erase_if(connections, [](const TConnection& c) { return c.Fd < 0; });
        std::lock_guard lock(mutex_);
        if (cutAfter_ > 0 && stored_.size() >= cutAfter_) {
            cutAfter_ = 0;
            break;
        }
    }
    for (TConnection& c : connections) {
        ::close(c.Fd);
    }
    ::close(listener_);
    listener_ = -1;
    running_ = false;
}

bool TDataLinkTestServer::Answer(TConnection& c, const std::string& header,
                                 const std::string& message) {
    return SendAll(c.Fd, Packet(header + " " + std::to_string(message.size()), message));
}

bool TDataLinkTestServer::Handle(TConnection& c) {
    for (;;) {
        if (c.Input.size() < 3) {
            return true;
        }
        if (c.Input[0] != 'D' || c.Input[1] != 'L' || c.Input[2] == 0) {
            Fault("not a DataLink packet");
            return false;
        }
        const size_t length = c.Input[2];
        if (c.Input.size() < 3 + length) {
            return true;
        }
        const std::string header(c.Input.begin() + 3, c.Input.begin() + 3 + long(length));
        std::istringstream fields(header);
        std::string command;
        fields >> command;
        TAnswer mode;
        {
            std::lock_guard lock(mutex_);
            mode = answer_;
        }
        if (command == "ID") {
            c.Input.erase(c.Input.begin(), c.Input.begin() + 3 + long(length));
            {
                std::lock_guard lock(mutex_);
                ids_.push_back(header);
            }
            c.Writable = mode != TAnswer::NoWrite;
            const std::string capabilities = mode == TAnswer::NoWrite
                                                 ? "DLPROTO:1.0 PACKETSIZE:512"
                                                 : "DLPROTO:1.0 PACKETSIZE:512 WRITE";
            if (!SendAll(c.Fd, Packet("ID DataLink 2026.341 :: " + capabilities))) {
                return false;
            }
            continue;
        }
        if (command != "WRITE") {
            Fault("unexpected packet: " + header);
            c.Input.erase(c.Input.begin(), c.Input.begin() + 3 + long(length));
            if (!Answer(c, "ERROR 0", "unsupported request")) {
                return false;
            }
            continue;
        }
        TWrite write;
        long long size = -1;
        std::string rest;
        fields >> write.StreamId >> write.HpStart >> write.HpEnd >> write.Flags >> size;
        if (!fields || (fields >> rest) || size <= 0 || size > (1 << 20)) {
            Fault("bad WRITE header: " + header);
            return false;
        }
        if (c.Input.size() < 3 + length + size_t(size)) {
            return true;
        }
        write.Bytes.assign(c.Input.begin() + 3 + long(length),
                           c.Input.begin() + 3 + long(length) + size);
        c.Input.erase(c.Input.begin(), c.Input.begin() + 3 + long(length) + size);
        write.Connection = c.Number;
        bool refuse = false;
        {
            std::lock_guard lock(mutex_);
            ++writes_;
            refuse = refusedStreams_.count(write.StreamId) > 0 || !c.Writable;
            if (!c.Writable) {
                faults_.push_back("WRITE on a connection without WRITE");
            }
        }
        if (write.Flags != "A" && write.Flags != "N") {
            Fault("bad WRITE flags: " + header);
        }
        switch (c.Writable ? mode : TAnswer::Ok) {
            case TAnswer::Garbage:
                SendAll(c.Fd, "HTTP/1.0 400 Bad Request\r\n\r\n");
                continue;
            case TAnswer::BadHeader:
                SendAll(c.Fd, Packet(std::string(255, 'x')));
                continue;
            case TAnswer::HugeSize:
                SendAll(c.Fd, Packet("OK 1 1000000000000"));
                continue;
            case TAnswer::CutMidAnswer: {
                const std::string half = Packet("OK 1 6", "stored");
                SendAll(c.Fd, half.substr(0, half.size() / 2));
                return false;
            }
            case TAnswer::Silent:
                continue;
            default:
                break;
        }
        std::lock_guard lock(mutex_);
        if (refuse) {
            refused_.push_back(write);
            if (!Answer(c, "ERROR 0", "stream refused")) {
                return false;
            }
        } else {
            write.PacketId = nextPacketId_++;
            stored_.push_back(write);
            if (!Answer(c, "OK " + std::to_string(write.PacketId), "stored")) {
                return false;
            }
        }
    }
}
