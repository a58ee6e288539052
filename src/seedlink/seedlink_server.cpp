#include "seedlink/seedlink_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "seedlink/info.h"

namespace {

using TClock = std::chrono::steady_clock;

constexpr size_t PacketSize = 8 + SeedLinkRecordLength;
constexpr size_t MaxLogLines = 1000;
constexpr int ConnectionLinesPerWindow = 20;
constexpr auto LogWindow = std::chrono::seconds(10);
constexpr int AcceptsPerTurn = 256;

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t Micro(TSeedTime time) {
    return time.Seconds * 1000000 + int64_t{time.Ticks} * 100;
}

std::string SequenceText(uint32_t sequence) {
    char text[8];
    std::snprintf(text, sizeof text, "%06X", sequence % SeedLinkSequenceModulo);
    return text;
}

std::string Seconds(std::chrono::milliseconds duration) {
    const auto ms = duration.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s"
                          : std::to_string(double(ms) / 1000.0) + " s";
}

}  // namespace

struct TSeedLinkServer::TClient {
    int Fd = -1;
    std::string Address;
    bool Trusted = false;  // may see the connections
    int64_t ConnectedMicroseconds = 0;
    double InfoTokens = 0;  // scanning INFO answers it may still have now
    TClock::time_point InfoRefilled;
    TCommandLines Lines;
    bool Multi = false;
    std::vector<TRequest> Requests{TRequest{}};
    bool Streaming = false;
    bool Fetch = false;
    uint64_t Cursor = 0;
    bool Live = false;
    std::string Out;
    size_t OutOffset = 0;
    TClock::time_point LastHeard;    // last command
    TClock::time_point LastWritten;  // last byte it took, or when data began to wait
    std::optional<uint32_t> LastSequence;
    int64_t PacketsSent = 0;
    bool CloseWhenSent = false;
    bool Dead = false;
    // A connection adopted from elsewhere (SeedLink over WebSocket) on a message socket: each
    // answer and packet goes as one message, of the sizes queued here in order.
    bool Messages = false;
    std::deque<size_t> MessageSizes;

    size_t Queued() const { return Out.size() - OutOffset; }
};

TSeedLinkServer::TSeedLinkServer(TSeedLinkConfig config)
    : config_(std::move(config)), ring_(config_.RingBytes) {
    for (const auto& station : config_.Stations) {
        if (!station.second.empty()) {
            stations_.insert(station);
        }
    }
}

TSeedLinkServer::~TSeedLinkServer() {
    Stop();
}

TResult<void> TSeedLinkServer::Start() {
    if (started_) {
        return {};
    }
    startedMicroseconds_ = NowMicroseconds();
    if (!config_.RingFile.empty()) {
        const TResult<TPacketRing::TOpened> opened = ring_.Open(config_.RingFile);
        if (!opened) {
            Log("SeedLink: the packet ring file is not used: " + opened.Error().Text +
                "; the ring is kept in memory only and lost at a stop");
        } else {
            Log(std::string("SeedLink: ") +
                (opened->Created     ? "packet ring file " + config_.RingFile + " created"
                 : opened->Converted ? "packet ring file " + config_.RingFile + " converted"
                                     : "packet ring file " + config_.RingFile + " opened") +
                ", " + std::to_string(ring_.Size()) + " packets" +
                (ring_.Empty() ? ""
                               : ", sequence numbers " +
                                     SequenceText(TPacketRing::SequenceOf(ring_.First())) + " to " +
                                     SequenceText(TPacketRing::SequenceOf(ring_.Next() - 1))) +
                "; new packets from " + SequenceText(TPacketRing::SequenceOf(ring_.Next())));
            if (opened->Rebooted) {
                Log("SeedLink: the ring was last written before the machine restarted; "
                    "numbering goes on after the numbers reserved then");
            }
            if (opened->Dropped > 0) {
                Log("SeedLink: " + std::to_string(opened->Dropped) +
                    " packets of the ring file left out (torn, cut off from the newest, or beyond "
                    "the capacity)");
            }
            for (uint64_t i = ring_.First(); i < ring_.Next(); ++i) {
                const TSeedLinkPacket* packet = ring_.At(i);
                if (packet == nullptr) {
                    continue;
                }
                stations_.insert({CodeText(packet->Network), CodeText(packet->Station)});
                Track(i, *packet);
            }
        }
    }
    nextSync_ = TClock::now() + config_.SyncInterval;

    const std::string where = "SeedLink: cannot listen on " + ListenAddressText(config_.Listen);
    int family = AF_INET6;
    sockaddr_storage address{};
    socklen_t length = 0;
    if (config_.Listen.Host.empty() || config_.Listen.Host.find(':') != std::string::npos) {
        auto& a6 = reinterpret_cast<sockaddr_in6&>(address);
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(static_cast<uint16_t>(config_.Listen.Port));
        a6.sin6_addr = in6addr_any;
        if (!config_.Listen.Host.empty() &&
            inet_pton(AF_INET6, config_.Listen.Host.c_str(), &a6.sin6_addr) != 1) {
            return TError{where + ": not an address"};
        }
        length = sizeof a6;
    }
    listen_ = length != 0 ? socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0) : -1;
    if (listen_ < 0 && !config_.Listen.Host.empty() &&
        config_.Listen.Host.find(':') != std::string::npos) {
        return SystemError(where, errno);
    }
    if (listen_ < 0) {
        // An IPv4 address, or every address of a machine without IPv6.
        family = AF_INET;
        address = {};
        auto& a4 = reinterpret_cast<sockaddr_in&>(address);
        a4.sin_family = AF_INET;
        a4.sin_port = htons(static_cast<uint16_t>(config_.Listen.Port));
        a4.sin_addr.s_addr = htonl(INADDR_ANY);
        if (!config_.Listen.Host.empty() &&
            inet_pton(AF_INET, config_.Listen.Host.c_str(), &a4.sin_addr) != 1) {
            return TError{where + ": not an address"};
        }
        length = sizeof a4;
        listen_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (listen_ < 0) {
            return SystemError(where, errno);
        }
    }
    const int one = 1;
    const int zero = 0;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (family == AF_INET6) {
        setsockopt(listen_, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero);
    }
    if (bind(listen_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listen_, 1024) != 0) {
        const int error = errno;
        close(listen_);
        listen_ = -1;
        return SystemError(where, error);
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&bound), &boundLength);
    port_ = bound.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port)
                                       : ntohs(reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        const int error = errno;
        close(listen_);
        listen_ = -1;
        return SystemError("SeedLink: eventfd", error);
    }
    started_ = true;
    PublishStatus();
    Log("SeedLink: listening on " + ListenAddressText(TListenAddress{config_.Listen.Host, port_}) +
        ", ring of " + std::to_string(ring_.Capacity()) + " packets (" +
        std::to_string(config_.RingBytes >> 20) + " MB)" +
        (config_.Allow.empty() ? "" : ", clients from " + AddressRangesText(config_.Allow)));
    thread_ = std::thread([this] { Run(); });
    return {};
}

void TSeedLinkServer::Push(const TLiveRecord& record) {
    {
        std::lock_guard lock(pendingMutex_);
        if (pending_.size() >= config_.HandOffRecords) {
            pending_.pop_front();
            ++handOffDropped_;
        }
        pending_.push_back(record);
    }
    if (wake_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
    }
}

void TSeedLinkServer::Stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    if (!started_) {
        return;
    }
    stop_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
    if (thread_.joinable()) {
        thread_.join();
    }
    for (auto& client : clients_) {
        close(client->Fd);
    }
    clients_.clear();
    {
        std::lock_guard lock(pendingMutex_);
        for (const TAdopted& a : adopted_) {
            close(a.Fd);
        }
        adopted_.clear();
    }
    close(listen_);
    listen_ = -1;
    TakePending();
    {
        std::lock_guard lock(pendingMutex_);  // Adopt writes to it under the lock
        close(wake_);
        wake_ = -1;
    }
    if (const TResult<void> synced = ring_.Sync(); !synced) {
        Log("SeedLink: the packet ring could not be synced: " + synced.Error().Text);
    }
    PublishStatus();
    std::lock_guard lock(statusMutex_);
    status_.Listening = false;
}

TSeedLinkStatus TSeedLinkServer::Status() const {
    std::lock_guard lock(statusMutex_);
    return status_;
}

std::vector<std::string> TSeedLinkServer::TakeLog() {
    std::lock_guard lock(logMutex_);
    std::vector<std::string> lines;
    lines.swap(log_);
    if (logLost_ > 0) {
        lines.push_back("SeedLink: " + std::to_string(logLost_) + " log lines lost");
        logLost_ = 0;
    }
    return lines;
}

void TSeedLinkServer::Log(const std::string& line) {
    std::lock_guard lock(logMutex_);
    if (log_.size() >= MaxLogLines) {
        ++logLost_;
        return;
    }
    log_.push_back(line);
}

void TSeedLinkServer::LogConnection(const std::string& line, TClock::time_point now) {
    if (now - logWindow_ >= LogWindow) {
        if (notLogged_ > 0) {
            Log("SeedLink: " + std::to_string(notLogged_) +
                " more connection events were not logged");
        }
        logWindow_ = now;
        loggedInWindow_ = 0;
        notLogged_ = 0;
    }
    if (loggedInWindow_ < ConnectionLinesPerWindow) {
        ++loggedInWindow_;
        Log(line);
    } else {
        ++notLogged_;
    }
}

void TSeedLinkServer::TakePending() {
    std::deque<TLiveRecord> records;
    {
        std::lock_guard lock(pendingMutex_);
        records.swap(pending_);
    }
    for (const TLiveRecord& record : records) {
        const std::optional<TSeedLinkPacket> packet =
            PacketOfRecord(record.Bytes, Micro(record.Start), Micro(record.End));
        if (!packet) {
            continue;
        }
        AddToRing(*packet);
        stations_.insert({record.Network, record.Station});
    }
}

std::string TSeedLinkServer::StreamKey(const TSeedLinkPacket& packet) {
    std::string key;
    key.reserve(13);
    key.append(packet.Network.begin(), packet.Network.end());
    key.append(packet.Station.begin(), packet.Station.end());
    key.append(packet.Location.begin(), packet.Location.end());
    key.append(packet.Channel.begin(), packet.Channel.end());
    key += packet.Type;
    return key;
}

void TSeedLinkServer::AddToRing(const TSeedLinkPacket& packet) {
    if (const TSeedLinkPacket* oldest = ring_.Overwritten()) {
        // The oldest packet goes: it is the oldest of its stream too.
        const auto it = streams_.find(StreamKey(*oldest));
        if (it != streams_.end() && !it->second.Indices.empty()) {
            it->second.Indices.pop_front();
            const TSeedLinkPacket* next =
                it->second.Indices.empty() ? nullptr : ring_.At(it->second.Indices.front());
            if (next == nullptr) {
                streams_.erase(it);
            } else {
                it->second.Begin = next->StartMicroseconds;
            }
        }
    }
    Track(ring_.Add(packet), packet);
}

void TSeedLinkServer::Track(uint64_t index, const TSeedLinkPacket& packet) {
    TStreamState& stream = streams_[StreamKey(packet)];
    if (stream.Indices.empty()) {
        stream.Begin = packet.StartMicroseconds;
    }
    stream.Indices.push_back(index);
    stream.End = packet.EndMicroseconds;
    latestEnd_ = std::max(latestEnd_, packet.EndMicroseconds);
}

void TSeedLinkServer::Run() {
    std::vector<pollfd> fds;
    while (!stop_) {
        TClock::time_point now = TClock::now();
        fds.clear();
        fds.push_back({wake_, POLLIN, 0});
        const bool accepting = now >= acceptPausedUntil_;
        fds.push_back({accepting ? listen_ : -1, POLLIN, 0});
        for (const auto& client : clients_) {
            short events = POLLIN;
            if (client->Queued() > 0) {
                events |= POLLOUT;
            }
            fds.push_back({client->Fd, events, 0});
        }
        const int ready = poll(fds.data(), fds.size(), 200);
        if (ready < 0 && errno != EINTR) {
            Log(std::string("SeedLink: poll failed: ") + std::strerror(errno));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        now = TClock::now();
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(wake_, &count, sizeof count);
            TakeAdopted(now);
            const uint64_t before = ring_.Next();
            TakePending();
            if (ring_.Next() != before) {
                for (auto& client : clients_) {
                    if (client->Streaming && !client->Dead) {
                        Pump(*client, true);
                    }
                }
            }
        }
        // The clients polled are the first fds.size() - 2 of the list; new ones come after.
        const size_t polled = fds.size() - 2;
        for (size_t k = 0; k < polled && ready > 0; ++k) {
            TClient& client = *clients_[k];
            const short revents = fds[k + 2].revents;
            if (client.Dead || revents == 0) {
                continue;
            }
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                Read(client, now);
            }
            if (!client.Dead && (revents & POLLOUT) != 0) {
                Write(client, now);
            }
        }
        if (ready > 0 && accepting && (fds[1].revents & POLLIN) != 0) {
            Accept(now);
        }
        for (auto& client : clients_) {
            if (client->Dead) {
                continue;
            }
            if (!client->Streaming && now - client->LastHeard >= config_.Timeout) {
                Close(*client, "said nothing for " + Seconds(config_.Timeout));
            } else if (client->Queued() > 0 && now - client->LastWritten >= config_.Timeout) {
                Close(*client, "took no data for " + Seconds(config_.Timeout), true);
            }
        }
        if (now >= nextSync_) {
            nextSync_ = now + config_.SyncInterval;
            const TResult<void> synced = ring_.Sync();
            if (!synced && !syncFailing_) {
                Log("SeedLink: the packet ring could not be synced: " + synced.Error().Text);
            } else if (synced && syncFailing_) {
                Log("SeedLink: the packet ring is synced again");
            }
            syncFailing_ = !synced;
        }
        const size_t before = clients_.size();
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [](const std::unique_ptr<TClient>& c) { return c->Dead; }),
                       clients_.end());
        // The status follows every change of the clients at once, their figures at least
        // every 100 ms while anything happens and every second otherwise.
        const bool changed = clients_.size() != before || accepted_ != publishedAccepted_ ||
                             refused_ != publishedRefused_ || ring_.Next() != publishedNext_;
        if (changed || now >= nextStatus_ || (ready > 0 && now >= nextBusyStatus_)) {
            PublishStatus();
            publishedAccepted_ = accepted_;
            publishedRefused_ = refused_;
            publishedNext_ = ring_.Next();
            nextStatus_ = now + std::chrono::seconds(1);
            nextBusyStatus_ = now + std::chrono::milliseconds(100);
        }
    }
}

void TSeedLinkServer::Accept(TClock::time_point now) {
    for (int k = 0; k < AcceptsPerTurn; ++k) {
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(listen_, reinterpret_cast<sockaddr*>(&peer), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: the waiting connections stay queued a moment.
                if (!acceptFailing_) {
                    Log(std::string("SeedLink: cannot accept connections: ") +
                        std::strerror(errno));
                }
                acceptFailing_ = true;
                acceptPausedUntil_ = now + std::chrono::milliseconds(100);
            }
            return;
        }
        acceptFailing_ = false;
        if (!AddClient(fd, SocketAddressText(peer), AddressBytes(peer), false, now)) {
            continue;
        }
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        const int idle = 60, interval = 10, count = 3;
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    }
}

bool TSeedLinkServer::AddClient(int fd, const std::string& address,
                                const std::optional<std::array<uint8_t, 16>>& bytes, bool messages,
                                TClock::time_point now) {
    if (!bytes || !AddressAllowed(config_.Allow, *bytes)) {
        close(fd);
        ++refused_;
        LogConnection("SeedLink: " + address + " refused: not an allowed address", now);
        return false;
    }
    if (clients_.size() >= static_cast<size_t>(std::max(config_.MaxClients, 0))) {
        close(fd);
        ++refused_;
        LogConnection("SeedLink: " + address + " refused: already " +
                          std::to_string(clients_.size()) + " clients",
                      now);
        return false;
    }
    auto client = std::make_unique<TClient>();
    client->Fd = fd;
    client->Address = address;
    client->Trusted = AddressAllowed(config_.Trusted, *bytes) && !config_.Trusted.empty();
    client->Messages = messages;
    client->InfoTokens = 2.0 * config_.InfoPerSecond;
    client->InfoRefilled = now;
    client->ConnectedMicroseconds = NowMicroseconds();
    client->LastHeard = now;
    client->LastWritten = now;
    clients_.push_back(std::move(client));
    ++accepted_;
    LogConnection("SeedLink: " + address + " connected" + (messages ? " over WebSocket" : ""), now);
    return true;
}

bool TSeedLinkServer::Adopt(int fd, const std::string& address,
                            const std::array<uint8_t, 16>& bytes) {
    {
        std::lock_guard lock(pendingMutex_);
        if (!started_ || stop_) {
            close(fd);
            return false;
        }
        adopted_.push_back({fd, address, bytes});
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(wake_, &one, sizeof one);
    }
    return true;
}

void TSeedLinkServer::TakeAdopted(TClock::time_point now) {
    std::vector<TAdopted> adopted;
    {
        std::lock_guard lock(pendingMutex_);
        adopted.swap(adopted_);
    }
    for (const TAdopted& a : adopted) {
        const int flags = fcntl(a.Fd, F_GETFL);
        fcntl(a.Fd, F_SETFL, flags | O_NONBLOCK);
        AddClient(a.Fd, a.Address, a.Bytes, true, now);
    }
}

void TSeedLinkServer::Close(TClient& client, const std::string& why, bool dropped) {
    if (client.Dead) {
        return;
    }
    client.Dead = true;
    close(client.Fd);
    client.Fd = -1;
    client.Out.clear();
    client.Out.shrink_to_fit();
    client.MessageSizes.clear();
    if (dropped) {
        ++dropped_;
        Log("SeedLink: " + client.Address + " dropped: " + why);
    } else {
        LogConnection("SeedLink: " + client.Address + " closed: " + why, TClock::now());
    }
}

void TSeedLinkServer::Read(TClient& client, TClock::time_point now) {
    char buffer[4096];
    const ssize_t n = recv(client.Fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return;
    }
    if (n <= 0) {
        Close(client, n == 0 ? "the client closed the connection"
                             : std::string("read failed: ") + std::strerror(errno));
        return;
    }
    std::vector<TCommandLines::TLine> lines;
    client.Lines.Feed(std::string_view(buffer, static_cast<size_t>(n)), lines);
    if (!lines.empty()) {
        client.LastHeard = now;
    }
    for (const TCommandLines::TLine& line : lines) {
        if (client.Dead || client.CloseWhenSent) {
            break;
        }
        Handle(client, line);
    }
    if (!client.Dead && client.Queued() > 0) {
        Write(client, now);
    }
}

void TSeedLinkServer::Write(TClient& client, TClock::time_point now) {
    while (client.Queued() > 0) {
        // A message socket takes each message whole or not at all.
        const size_t piece = client.Messages && !client.MessageSizes.empty()
                                 ? client.MessageSizes.front()
                                 : client.Queued();
        const ssize_t n = send(client.Fd, client.Out.data() + client.OutOffset, piece,
                               MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (n <= 0) {
            Close(client, std::string("write failed: ") + std::strerror(errno));
            return;
        }
        client.OutOffset += static_cast<size_t>(n);
        client.LastWritten = now;
        if (client.Messages && !client.MessageSizes.empty()) {
            client.MessageSizes.pop_front();
        }
    }
    if (client.Queued() == 0) {
        client.Out.clear();
        client.OutOffset = 0;
    } else if (client.OutOffset >= config_.ClientQueueBytes / 2) {
        client.Out.erase(0, client.OutOffset);
        client.OutOffset = 0;
    }
    if (client.Streaming && client.Queued() <= config_.ClientQueueBytes / 2) {
        Pump(client, false);
    }
    if (client.CloseWhenSent && client.Queued() == 0) {
        Close(client, "all data of its window sent");
    }
}

void TSeedLinkServer::Queue(TClient& client, const std::string& bytes) {
    if (client.Queued() == 0) {
        client.LastWritten = TClock::now();
    }
    client.Out += bytes;
    if (client.Messages) {
        // INFO answers are several packets: one message each.
        const bool packets = bytes.rfind("SLINFO", 0) == 0 && bytes.size() % PacketSize == 0;
        for (size_t at = 0; at < bytes.size(); at += packets ? PacketSize : bytes.size()) {
            client.MessageSizes.push_back(packets ? PacketSize : bytes.size());
        }
    }
}

bool TSeedLinkServer::StationKnown(const std::string& station, const std::string& network) const {
    if (stations_.empty()) {
        return true;
    }
    for (const auto& [net, sta] : stations_) {
        if (WildcardMatches(station, sta) && (network.empty() || WildcardMatches(network, net))) {
            return true;
        }
    }
    return false;
}

void TSeedLinkServer::Handle(TClient& client, const TCommandLines::TLine& line) {
    const bool blank = line.Text.find_first_not_of(" \t") == std::string::npos;
    if (blank && !line.Overlong) {
        return;
    }
    const TSeedLinkParse parse =
        line.Overlong ? TSeedLinkParse{std::nullopt, "overlong"} : ParseSeedLinkCommand(line.Text);
    if (client.Streaming) {
        // During the transfer only INFO (a keepalive) and BYE count.
        if (parse.Command && parse.Command->Verb == TSeedLinkVerb::Info) {
            AnswerInfo(client, parse.Command->Level, TClock::now());
            if (client.Queued() > config_.ClientQueueBytes + PacketSize) {
                Close(client, "asks for INFO faster than it reads the answers", true);
            }
        } else if (parse.Command && parse.Command->Verb == TSeedLinkVerb::Bye) {
            Close(client, "said BYE");
        }
        return;
    }
    if (!parse.Command) {
        Queue(client, "ERROR\r\n");
    } else {
        const TSeedLinkCommand& command = *parse.Command;
        TRequest* target = client.Multi
                               ? (client.Requests.empty() ? nullptr : &client.Requests.back())
                               : &client.Requests.front();
        switch (command.Verb) {
            case TSeedLinkVerb::Hello:
                Queue(client, "SeedLink v3.1 (" + config_.Software +
                                  ") :: SLPROTO:3.1 MULTISTATION WINDOW-EXTRACTION\r\n" +
                                  config_.Description + "\r\n");
                break;
            case TSeedLinkVerb::Cat: {
                std::string text;
                for (const auto& [net, sta] : stations_) {
                    text += net + " " + sta + " " + config_.Description + "\r\n";
                }
                Queue(client, text + "END\r\n");
                break;
            }
            case TSeedLinkVerb::Bye:
                Close(client, "said BYE");
                return;
            case TSeedLinkVerb::Station:
                if (!StationKnown(command.Station, command.Network)) {
                    Queue(client, "ERROR\r\n");
                    break;
                }
                if (!client.Multi) {
                    client.Multi = true;
                    client.Requests.clear();
                }
                if (client.Requests.size() >= 64) {
                    Queue(client, "ERROR\r\n");
                    break;
                }
                client.Requests.push_back(
                    TRequest{command.Station, command.Network, {}, {}, {}, {}});
                Queue(client, "OK\r\n");
                break;
            case TSeedLinkVerb::Select:
                if (target == nullptr || (command.Pattern && target->Selection.Size() >=
                                                                 TStreamSelection::MaxPatterns)) {
                    Queue(client, "ERROR\r\n");
                } else {
                    if (command.Pattern) {
                        target->Selection.Add(*command.Pattern);
                    } else {
                        target->Selection.Clear();
                    }
                    Queue(client, "OK\r\n");
                }
                break;
            case TSeedLinkVerb::Data:
            case TSeedLinkVerb::Fetch:
            case TSeedLinkVerb::Time:
                if (target == nullptr) {
                    Queue(client, "ERROR\r\n");
                    break;
                }
                if (command.Verb == TSeedLinkVerb::Time) {
                    target->From = ring_.First();
                } else if (command.Sequence) {
                    target->From = ring_.IndexOfSequence(*command.Sequence);
                    if (TPacketRing::SequenceOf(*target->From) != *command.Sequence) {
                        Log("SeedLink: " + client.Address + " asked for sequence number " +
                            SequenceText(*command.Sequence) + ", which the ring does not hold; " +
                            "it starts at " + SequenceText(TPacketRing::SequenceOf(*target->From)) +
                            (*target->From == ring_.Next() ? " (the next new packet)"
                                                           : " (the first held after it)"));
                    }
                } else {
                    target->From = ring_.Next();
                }
                target->Begin = command.Begin;
                target->End = command.End;
                client.Fetch = client.Fetch || command.Verb == TSeedLinkVerb::Fetch;
                if (client.Multi) {
                    Queue(client, "OK\r\n");
                } else {
                    StartStreaming(client);
                }
                break;
            case TSeedLinkVerb::End:
                if (!client.Multi) {
                    Queue(client, "ERROR\r\n");
                } else {
                    StartStreaming(client);
                }
                break;
            case TSeedLinkVerb::Info:
                AnswerInfo(client, command.Level, TClock::now());
                break;
        }
    }
    if (client.Queued() > config_.ClientQueueBytes + PacketSize) {
        Close(client, "sends commands faster than it reads the answers", true);
    }
}

void TSeedLinkServer::StartStreaming(TClient& client) {
    client.Streaming = true;
    uint64_t from = ring_.Next();
    for (TRequest& request : client.Requests) {
        if (!request.From) {
            request.From = ring_.Next();
        }
        from = std::min(from, *request.From);
    }
    client.Cursor = from;
    Pump(client, false);
}

bool TSeedLinkServer::Wanted(const TClient& client, uint64_t index,
                             const TSeedLinkPacket& packet) const {
    const std::string location(packet.Location.begin(), packet.Location.end());
    const std::string channel(packet.Channel.begin(), packet.Channel.end());
    for (const TRequest& request : client.Requests) {
        if (request.From && index < *request.From) {
            continue;
        }
        if (request.Begin && packet.EndMicroseconds < *request.Begin) {
            continue;
        }
        if (request.End && packet.StartMicroseconds >= *request.End) {
            continue;
        }
        if (!request.Station.empty() &&
            !WildcardMatches(request.Station, CodeText(packet.Station))) {
            continue;
        }
        if (!request.Network.empty() &&
            !WildcardMatches(request.Network, CodeText(packet.Network))) {
            continue;
        }
        if (request.Selection.Selects(location, channel, packet.Type)) {
            return true;
        }
    }
    return false;
}

void TSeedLinkServer::Pump(TClient& client, bool live) {
    if (client.CloseWhenSent) {
        return;  // its window is complete
    }
    const uint64_t next = ring_.Next();
    if (client.Cursor < ring_.First()) {
        client.Cursor = ring_.First();  // overwritten while it waited: on from the oldest
    }
    while (client.Cursor < next && client.Queued() + PacketSize <= config_.ClientQueueBytes) {
        const uint64_t index = client.Cursor++;
        const TSeedLinkPacket* packet = ring_.At(index);
        if (packet == nullptr || !Wanted(client, index, *packet)) {
            continue;
        }
        const uint32_t sequence = TPacketRing::SequenceOf(index);
        if (client.Queued() == 0) {
            client.LastWritten = TClock::now();
        }
        client.Out += "SL" + SequenceText(sequence);
        client.Out.append(reinterpret_cast<const char*>(packet->Record.data()),
                          packet->Record.size());
        if (client.Messages) {
            client.MessageSizes.push_back(PacketSize);
        }
        client.LastSequence = sequence;
        ++client.PacketsSent;
    }
    if (client.Cursor < next) {
        if (live && client.Live) {
            Close(client,
                  "reads nothing: its queue of " + std::to_string(config_.ClientQueueBytes) +
                      " bytes is full",
                  true);
        }
        return;
    }
    client.Live = true;
    bool windowDone = !client.Requests.empty();
    for (const TRequest& request : client.Requests) {
        windowDone = windowDone && WindowDone(request);
    }
    if (client.Fetch || windowDone) {
        // The end of the window, in place of the next packet's header; closed once it is sent.
        Queue(client, "END");
        client.CloseWhenSent = true;
    }
}

bool TSeedLinkServer::WindowDone(const TRequest& request) const {
    if (!request.End) {
        return false;
    }
    bool any = false;
    for (const auto& [key, stream] : streams_) {
        TSeedLinkPacket codes;
        std::copy_n(key.begin(), 2, codes.Network.begin());
        std::copy_n(key.begin() + 2, 5, codes.Station.begin());
        if ((!request.Station.empty() &&
             !WildcardMatches(request.Station, CodeText(codes.Station))) ||
            (!request.Network.empty() &&
             !WildcardMatches(request.Network, CodeText(codes.Network))) ||
            !request.Selection.Selects(key.substr(7, 2), key.substr(9, 3), key[12])) {
            continue;
        }
        any = true;
        if (stream.End < *request.End) {
            return false;  // this stream has not reached the end yet
        }
    }
    // No stream selected: it ends when the station's data has passed the end.
    return any || latestEnd_ >= *request.End;
}

std::string TSeedLinkServer::ClientSelection(const TClient& client) const {
    std::string text;
    for (const TRequest& request : client.Requests) {
        if (!text.empty()) {
            text += "; ";
        }
        if (client.Multi) {
            text += (request.Network.empty() ? "*" : request.Network) + "_" + request.Station + ":";
        }
        text += request.Selection.Text();
    }
    return text;
}

void TSeedLinkServer::AnswerInfo(TClient& client, const std::string& level,
                                 TClock::time_point now) {
    const int64_t stamp = NowMicroseconds();
    if (level != "ID" && level != "CAPABILITIES") {
        // A token bucket: InfoPerSecond a second, twice that at most in store.
        const double rate = std::max(config_.InfoPerSecond, 0);
        const double seconds = std::chrono::duration<double>(now - client.InfoRefilled).count();
        client.InfoTokens = std::min(2.0 * rate, client.InfoTokens + seconds * rate);
        client.InfoRefilled = now;
        if (client.InfoTokens < 1.0) {
            Queue(client,
                  InfoPackets(InfoErrorXml("too many INFO requests; at most " +
                                           std::to_string(config_.InfoPerSecond) + " a second"),
                              stamp));
            return;
        }
        client.InfoTokens -= 1.0;
    }
    Queue(client, InfoPackets(InfoXml(level, client), stamp));
}

std::string TSeedLinkServer::InfoErrorXml(const std::string& message) const {
    return InfoHead() + ">\n<error message=\"" + XmlEscape(message) + "\"/>\n</seedlink>\n";
}

std::string TSeedLinkServer::InfoHead() const {
    const std::string software = "SeedLink v3.1 (" + XmlEscape(config_.Software) + ")";
    return "<?xml version=\"1.0\"?>\n<seedlink software=\"" + software + "\" organization=\"" +
           XmlEscape(config_.Description) + "\" started=\"" + InfoTimeText(startedMicroseconds_) +
           "\"";
}

std::string TSeedLinkServer::InfoXml(const std::string& level, const TClient& asker) const {
    static const std::set<std::string> levels = {"ID",   "CAPABILITIES", "STATIONS", "STREAMS",
                                                 "GAPS", "CONNECTIONS",  "ALL"};
    if (levels.count(level) == 0) {
        return InfoErrorXml("unknown INFO level " + level);
    }
    const bool connections = level == "CONNECTIONS" || level == "ALL";
    if (level == "CONNECTIONS" && !asker.Trusted) {
        return InfoErrorXml("INFO CONNECTIONS is answered only to trusted addresses");
    }
    std::string xml = InfoHead();
    if (level == "ID") {
        return xml + "/>\n";
    }
    xml += ">\n";
    if (level == "CAPABILITIES") {
        for (const char* name :
             {"multistation", "window-extraction", "info:id", "info:capabilities", "info:stations",
              "info:streams", "info:gaps", "info:connections", "info:all"}) {
            xml += std::string("<capability name=\"") + name + "\"/>\n";
        }
        return xml + "</seedlink>\n";
    }
    // Per station its first and last packet, from the table of streams (ordered by NET+STA).
    const bool streams = level != "STATIONS" && level != "CONNECTIONS";
    std::map<std::pair<std::string, std::string>, std::vector<const TStreamState*>> perStation;
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> keys;
    for (const auto& station : stations_) {
        perStation[station];
    }
    for (const auto& [key, stream] : streams_) {
        const std::pair<std::string, std::string> codes{CodeText({key.data(), 2}),
                                                        CodeText({key.data() + 2, 5})};
        perStation[codes].push_back(&stream);
        keys[codes].push_back(key);
    }
    for (const auto& [codes, list] : perStation) {
        uint64_t first = ring_.Next(), last = ring_.Next();
        bool any = false;
        for (const TStreamState* stream : list) {
            first = any ? std::min(first, stream->Indices.front()) : stream->Indices.front();
            last = any ? std::max(last, stream->Indices.back() + 1) : stream->Indices.back() + 1;
            any = true;
        }
        xml += "<station name=\"" + XmlEscape(codes.second) + "\" network=\"" +
               XmlEscape(codes.first) + "\" description=\"" + XmlEscape(config_.Description) +
               "\" begin_seq=\"" + SequenceText(TPacketRing::SequenceOf(first)) + "\" end_seq=\"" +
               SequenceText(TPacketRing::SequenceOf(last)) + "\" stream_check=\"enabled\"";
        if (!streams && !connections) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        for (size_t k = 0; streams && k < list.size(); ++k) {
            const std::string& key = keys[codes][k];
            const TStreamState& s = *list[k];
            xml += "<stream location=\"" + XmlEscape(CodeText({key.data() + 7, 2})) +
                   "\" seedname=\"" + XmlEscape(CodeText({key.data() + 9, 3})) + "\" type=\"" +
                   XmlEscape(std::string(1, key[12])) + "\" begin_time=\"" + InfoTimeText(s.Begin) +
                   "\" end_time=\"" + InfoTimeText(s.End) + "\" begin_recno=\"" +
                   std::to_string(s.Indices.front()) + "\" end_recno=\"" +
                   std::to_string(s.Indices.back()) +
                   "\" gap_check=\"disabled\" gap_treshold=\"0\"/>\n";
        }
        if (connections && asker.Trusted) {
            for (const auto& client : clients_) {
                if (client->Dead) {
                    continue;
                }
                const size_t colon = client->Address.rfind(':');
                xml += "<connection host=\"" + XmlEscape(client->Address.substr(0, colon)) +
                       "\" port=\"" + XmlEscape(client->Address.substr(colon + 1)) + "\" ctime=\"" +
                       InfoTimeText(client->ConnectedMicroseconds) + "\" begin_seq=\"" +
                       SequenceText(TPacketRing::SequenceOf(ring_.First())) + "\" current_seq=\"" +
                       (client->LastSequence ? SequenceText(*client->LastSequence) : "unset") +
                       "\" sequence_gaps=\"0\" txcount=\"" + std::to_string(client->PacketsSent) +
                       "\" totBytes=\"" +
                       std::to_string(client->PacketsSent * int64_t(PacketSize)) +
                       "\" begin_seq_valid=\"yes\" realtime=\"" + (client->Live ? "yes" : "no") +
                       "\" end_of_data=\"no\"/>\n";
            }
        }
        xml += "</station>\n";
    }
    return xml + "</seedlink>\n";
}

void TSeedLinkServer::PublishStatus() {
    TSeedLinkStatus status;
    status.Listening = listen_ >= 0;
    status.Listen = ListenAddressText(TListenAddress{config_.Listen.Host, port_});
    status.RingPackets = ring_.Size();
    status.RingCapacity = ring_.Capacity();
    if (!ring_.Empty()) {
        status.FirstSequence = TPacketRing::SequenceOf(ring_.First());
        status.LastSequence = TPacketRing::SequenceOf(ring_.Next() - 1);
    }
    status.Accepted = accepted_;
    status.Refused = refused_;
    status.Dropped = dropped_;
    {
        std::lock_guard lock(pendingMutex_);
        status.HandOffDropped = handOffDropped_;
    }
    for (const auto& client : clients_) {
        if (client->Dead) {
            continue;
        }
        TSeedLinkClientStatus c;
        c.Address = client->Address;
        c.Selection = ClientSelection(*client);
        c.Streaming = client->Streaming;
        c.LastSequence = client->LastSequence;
        c.PacketsSent = client->PacketsSent;
        c.QueuedBytes = client->Queued();
        c.QueueCapacity = config_.ClientQueueBytes;
        c.ConnectedMicroseconds = client->ConnectedMicroseconds;
        status.Clients.push_back(std::move(c));
    }
    std::lock_guard lock(statusMutex_);
    status_ = std::move(status);
}
