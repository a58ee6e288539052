#include "datalink/datalink_client.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "datalink/datalink_protocol.h"

namespace {

using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool IsHostChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_';
}

bool IsV6Char(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
}

TResult<uint16_t> PortOf(const std::string& text, const std::string& whole) {
    if (text.empty()) {
        return TError{"no port after ':' in \"" + whole + "\""};
    }
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.size() > 5) {
        return TError{"the port \"" + PrintableText(text, 20) + "\" in \"" + whole +
                      "\" is not a number from 1 to 65535"};
    }
    if (value < 1 || value > 65535) {
        return TError{"the port " + text + " in \"" + whole + "\" is not from 1 to 65535"};
    }
    return uint16_t(value);
}

// "host:port", with brackets around an IPv6 address.
std::string HostPortText(const std::string& host, uint16_t port) {
    if (host.find(':') != std::string::npos) {
        return "[" + host + "]:" + std::to_string(port);
    }
    return host + ":" + std::to_string(port);
}

std::string SecondsText(milliseconds delay) {
    if (delay.count() % 1000 == 0) {
        return std::to_string(delay.count() / 1000) + " s";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", double(delay.count()) / 1000.0);
    return text;
}

std::string UserName() {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_name != nullptr) {
        return found->pw_name;
    }
    return std::to_string(geteuid());
}

std::string ArchName() {
    struct utsname names {};
    if (uname(&names) == 0) {
        return std::string(names.sysname) + "-" + names.machine;
    }
    return "unknown";
}

// A resolved address to connect to.
struct TAddress {
    sockaddr_storage Address{};
    socklen_t Length = 0;
    int Family = 0;
};

// The name resolution of one attempt, done on a thread of its own so that a resolver that hangs
// never holds up Stop: when the client gives up waiting, the thread finishes alone and the last
// one to let go of this frees it.
struct TResolution {
    std::mutex Mutex;
    std::condition_variable Done;
    bool Finished = false;
    std::vector<TAddress> Addresses;
    std::string Error;
};

void Resolve(TResolution& resolution, const std::string& host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int result = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    std::vector<TAddress> addresses;
    std::string error;
    if (result != 0) {
        error = "cannot resolve " + host + ": " +
                (result == EAI_SYSTEM ? std::string(std::strerror(errno))
                                      : std::string(gai_strerror(result)));
    } else {
        for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
            if (a->ai_addrlen <= sizeof(sockaddr_storage)) {
                TAddress address;
                std::memcpy(&address.Address, a->ai_addr, a->ai_addrlen);
                address.Length = a->ai_addrlen;
                address.Family = a->ai_family;
                addresses.push_back(address);
            }
        }
        freeaddrinfo(list);
        if (addresses.empty()) {
            error = "no address for " + host;
        }
    }
    std::lock_guard lock(resolution.Mutex);
    resolution.Addresses = std::move(addresses);
    resolution.Error = std::move(error);
    resolution.Finished = true;
    resolution.Done.notify_all();
}

class TSocket {
  public:
    TSocket() = default;
    explicit TSocket(int fd) : fd_(fd) {}
    ~TSocket() { Close(); }
    TSocket(const TSocket&) = delete;
    TSocket& operator=(const TSocket&) = delete;
    int Fd() const { return fd_; }
    // The descriptor, no longer closed by this.
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    int fd_ = -1;
};

}  // namespace

TResult<TDataLinkAddress> ParseDataLinkAddress(const std::string& text) {
    if (text.empty()) {
        return TError{"the DataLink address is empty"};
    }
    TDataLinkAddress address;
    std::string portText;
    bool hasPort = false;
    if (text[0] == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos) {
            return TError{"no ']' after the IPv6 address in \"" + PrintableText(text) + "\""};
        }
        address.Host = text.substr(1, close - 1);
        if (address.Host.empty() || address.Host.find(':') == std::string::npos ||
            !std::all_of(address.Host.begin(), address.Host.end(), IsV6Char)) {
            return TError{"\"" + PrintableText(address.Host) + "\" in \"" + PrintableText(text) +
                          "\" is not an IPv6 address"};
        }
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                return TError{"\"" + PrintableText(rest) + "\" after the IPv6 address in \"" +
                              PrintableText(text) + "\": expected ':port'"};
            }
            hasPort = true;
            portText = rest.substr(1);
        }
    } else {
        const size_t colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
            return TError{"an IPv6 address goes in brackets: \"[" + PrintableText(text) +
                          "]\" or \"[address]:port\""};
        }
        address.Host = text.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = text.substr(colon + 1);
        }
        if (address.Host.empty()) {
            return TError{"no host before the port in \"" + PrintableText(text) + "\""};
        }
        if (!std::all_of(address.Host.begin(), address.Host.end(), IsHostChar) ||
            address.Host.size() > 253) {
            return TError{"\"" + PrintableText(address.Host) + "\" is not a host name or address"};
        }
    }
    if (hasPort) {
        TResult<uint16_t> port = PortOf(portText, PrintableText(text));
        if (!port) {
            return port.Error();
        }
        address.Port = *port;
    }
    return address;
}

struct TDataLinkClient::TState {
    // A record waiting to be sent; SentBefore when it went out on a connection that ended
    // before its answer came.
    struct TEntry {
        TLiveRecord Record;
        bool SentBefore = false;
    };

    // What ended a connection, or the attempt at one.
    enum class TEnd { Stopped, ConnectFailed, NoWrite, Lost };

    TDataLinkConfig Config;
    TLog Log;
    std::string Where;  // host:port for the log
    size_t Window = 1;

    mutable std::mutex Mutex;
    std::deque<TEntry> Pending;  // oldest first
    size_t InFlightCount = 0;    // the thread's InFlight.size(), for the bound and Queued
    TDataLinkStatus Counters;    // Queued is worked out when asked
    int64_t StreakDropped = 0;   // dropped since the queue was last not full
    bool StreakEnded = false;
    bool Stopping = false;
    bool Finished = false;  // the thread has ended: Push only counts
    TClock::time_point DrainUntil;

    std::mutex StopMutex;  // one Stop at a time
    bool Joined = false;
    int WakeFd = -1;
    std::thread Thread;

    // The thread's own.
    std::deque<TEntry> InFlight;  // sent, awaiting an answer, in the order sent
    // The streams whose records are being refused, with the count of the streak: a server
    // refuses by stream (its write permissions), so each stream's streak is said on its own.
    std::map<std::string, int64_t> Refusing;
    std::string LastConnectError;  // said once until a connection is made
    bool NoWriteSaid = false;

    TState(TDataLinkConfig config, TLog log) : Config(std::move(config)), Log(std::move(log)) {
        Where = HostPortText(Config.Host, Config.Port);
        Window = std::max<size_t>(1, std::min(Config.Window, Config.QueueRecords / 2));
        if (Config.MinDelay.count() < 1) {
            Config.MinDelay = milliseconds(1);
        }
        Config.MaxDelay = std::max(Config.MaxDelay, Config.MinDelay);
        if (Config.AnswerTimeout.count() < 1) {
            Config.AnswerTimeout = milliseconds(1);
        }
        WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    }
    ~TState() {
        if (WakeFd >= 0) {
            ::close(WakeFd);
        }
    }

    void Say(const std::string& text) {
        if (Log) {
            Log("datalink: " + text);
        }
    }

    void Wake() {
        if (WakeFd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
        }
    }

    void ClearWake() {
        if (WakeFd >= 0) {
            uint64_t value = 0;
            [[maybe_unused]] ssize_t n = ::read(WakeFd, &value, sizeof value);
        }
    }

    // Stopping, and either the drain time is over or nothing is left to send.
    bool ShouldEnd() {
        std::lock_guard lock(Mutex);
        return Stopping && (TClock::now() >= DrainUntil || (Pending.empty() && InFlightCount == 0));
    }

    // The last error and its time; the caller holds Mutex.
    void NoteError(const std::string& text) {
        Counters.LastError = text;
        Counters.LastErrorMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                             std::chrono::system_clock::now().time_since_epoch())
                                             .count();
    }

    void SetError(const std::string& text) {
        std::lock_guard lock(Mutex);
        NoteError(text);
    }

    // Waits on `fd` for `events` until `until`; the events seen, 0 when the time is over, the
    // client is to end, or (with `wakeEnds`) Push or Stop has woken the thread.
    short WaitFor(int fd, short events, TClock::time_point until, bool wakeEnds = false) {
        while (!ShouldEnd()) {
            const auto now = TClock::now();
            if (now >= until) {
                return 0;
            }
            const int64_t wait = std::chrono::duration_cast<milliseconds>(until - now).count() + 1;
            // poll passes over a negative descriptor: without a wake-up, look again often.
            pollfd fds[2] = {{WakeFd, POLLIN, 0}, {fd, events, 0}};
            const int n = poll(fds, 2, int(std::min<int64_t>(wait, WakeFd < 0 ? 100 : 1000)));
            if (n < 0 && errno != EINTR) {
                return POLLERR;
            }
            if (fds[0].revents & POLLIN) {
                ClearWake();
                if (wakeEnds) {
                    return fd >= 0 ? fds[1].revents : 0;
                }
            }
            if (fd >= 0 && (fds[1].revents & (events | POLLHUP | POLLERR | POLLNVAL)) != 0) {
                return fds[1].revents;
            }
        }
        return 0;
    }

    void Sleep(milliseconds delay) { WaitFor(-1, 0, TClock::now() + delay); }

    // The end of a drop streak, said with its count.
    void ReportDrops(bool final) {
        int64_t count = 0;
        {
            std::lock_guard lock(Mutex);
            if (StreakDropped > 0 && (StreakEnded || final)) {
                count = StreakDropped;
                StreakDropped = 0;
                StreakEnded = false;
            }
        }
        if (count > 0) {
            Say("queue full: " + std::to_string(count) +
                " records not sent (the archive has them)");
        }
    }

    // The records sent and not answered back to the head of the queue, in their order.
    void Requeue() {
        std::lock_guard lock(Mutex);
        while (!InFlight.empty()) {
            InFlight.back().SentBefore = true;
            Pending.push_front(std::move(InFlight.back()));
            InFlight.pop_back();
        }
        InFlightCount = 0;
        Counters.Connected = false;
    }

    TResult<std::vector<TAddress>> Addresses() {
        auto resolution = std::make_shared<TResolution>();
        try {
            std::thread([resolution, host = Config.Host, port = Config.Port] {
                Resolve(*resolution, host, port);
            }).detach();
        } catch (const std::system_error&) {
            Resolve(*resolution, Config.Host, Config.Port);
        }
        std::unique_lock lock(resolution->Mutex);
        while (!resolution->Finished) {
            resolution->Done.wait_for(lock, milliseconds(100));
            if (!resolution->Finished) {
                lock.unlock();
                const bool end = ShouldEnd();
                lock.lock();
                if (end) {
                    return TError{"stopped while resolving " + Config.Host};
                }
            }
        }
        if (!resolution->Error.empty()) {
            return TError{resolution->Error};
        }
        return resolution->Addresses;
    }

    // A connected socket (non-blocking), or why there is none.
    TResult<int> Connect() {
        TResult<std::vector<TAddress>> addresses = Addresses();
        if (!addresses) {
            return addresses.Error();
        }
        TError last{"no address"};
        for (const TAddress& address : *addresses) {
            TSocket socket(::socket(address.Family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            if (socket.Fd() < 0) {
                last = SystemError("socket", errno);
                continue;
            }
            if (::connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&address.Address),
                          address.Length) != 0) {
                if (errno != EINPROGRESS) {
                    last = SystemError("connect", errno);
                    continue;
                }
                const short events =
                    WaitFor(socket.Fd(), POLLOUT, TClock::now() + Config.AnswerTimeout);
                if (events == 0) {
                    last = TError{ShouldEnd()
                                      ? "stopped while connecting"
                                      : "no connection in " + SecondsText(Config.AnswerTimeout)};
                    continue;
                }
                int error = 0;
                socklen_t length = sizeof error;
                if (getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
                if (error != 0) {
                    last = SystemError("connect", error);
                    continue;
                }
            }
            const int one = 1;
            setsockopt(socket.Fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return socket.Release();
        }
        return last;
    }

    // Takes the next record to send off the queue into the window; false when none waits.
    bool TakeNext(TEntry& entry) {
        std::lock_guard lock(Mutex);
        if (Pending.empty()) {
            return false;
        }
        entry = std::move(Pending.front());
        Pending.pop_front();
        return true;
    }

    void Refused(const std::string& stream, const std::string& text) {
        {
            std::lock_guard lock(Mutex);
            ++Counters.Refused;
            NoteError(text);
        }
        if (Refusing[stream]++ == 0) {
            Say(text + " (a refused record is not sent again; until one of " + stream +
                " is taken, refusals are only counted)");
        }
    }

    void Accepted(const std::string& stream) {
        const auto refusing = Refusing.find(stream);
        if (refusing != Refusing.end()) {
            Say(Where + " takes " + stream + " again after refusing " +
                std::to_string(refusing->second) + " records of it");
            Refusing.erase(refusing);
        }
    }

    // One connection, from the handshake until it ends.
    TEnd Session(std::string& reason, bool& proved) {
        TResult<int> connected = Connect();
        if (!connected) {
            reason = connected.Error().Text;
            return ShouldEnd() ? TEnd::Stopped : TEnd::ConnectFailed;
        }
        TSocket socket(*connected);
        const int fd = socket.Fd();
        TDataLinkReader reader;
        std::vector<uint8_t> out;
        size_t outSent = 0;
        AppendDataLinkPacket(out, IdHeaderOf(Config.ProgramName, UserName(), getpid(), ArchName()));

        bool identified = false;
        TDataLinkAnswer answer;  // its header read, its message awaited when haveAnswer
        bool haveAnswer = false;
        TClock::time_point awaitingSince = TClock::now();  // of the oldest awaited answer
        TClock::time_point identifiedAt;
        uint8_t buffer[65536];

        auto lost = [&](const std::string& why) {
            reason = why;
            return TEnd::Lost;
        };
        // Sends what the socket takes now; false (with the reason) when the connection failed.
        auto sendSome = [&] {
            if (outSent == out.size()) {
                return true;
            }
            const ssize_t n =
                ::send(fd, out.data() + outSent, out.size() - outSent, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                reason = SystemError("send", errno).Text;
                return false;
            }
            if (n > 0) {
                outSent += size_t(n);
                if (outSent == out.size()) {
                    out.clear();
                    outSent = 0;
                }
            }
            return true;
        };

        for (;;) {
            if (ShouldEnd()) {
                return TEnd::Stopped;
            }
            ReportDrops(false);
            if (identified) {
                if (!proved && TClock::now() - identifiedAt >= Config.MaxDelay) {
                    proved = true;
                }
                // Fill the window.
                TEntry entry;
                while (InFlight.size() < Window && TakeNext(entry)) {
                    TResult<std::string> header = WriteHeaderOf(entry.Record);
                    if (!header) {
                        Refused(StreamIdOf(entry.Record), header.Error().Text);
                        continue;
                    }
                    if (InFlight.empty()) {
                        awaitingSince = TClock::now();
                    }
                    AppendDataLinkPacket(out, *header, entry.Record.Bytes.data(),
                                         entry.Record.Bytes.size());
                    {
                        std::lock_guard lock(Mutex);
                        ++Counters.Sent;
                        if (entry.SentBefore) {
                            ++Counters.Resent;
                        }
                        ++InFlightCount;
                    }
                    InFlight.push_back(std::move(entry));
                }
            }
            if (!sendSome()) {
                return TEnd::Lost;
            }
            TClock::time_point until = TClock::now() + milliseconds(1000);
            if (!identified || !InFlight.empty()) {
                until = std::min(until, awaitingSince + Config.AnswerTimeout);
            }
            const short events =
                WaitFor(fd, short(POLLIN | (outSent < out.size() ? POLLOUT : 0)), until, true);
            if (ShouldEnd()) {
                return TEnd::Stopped;
            }
            if ((events & POLLOUT) && !sendSome()) {
                return TEnd::Lost;
            }
            if (events & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
                if (n == 0) {
                    return lost(reader.Waiting() > 0 || haveAnswer
                                    ? "closed in the middle of a packet"
                                    : "closed by the server");
                }
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    return lost(SystemError("recv", errno).Text);
                }
                if (n > 0) {
                    reader.Feed(buffer, size_t(n));
                    // Acknowledge at once: a server that holds back small answers until the
                    // last is acknowledged (Nagle) would otherwise wait for the delayed ACK.
                    const int one = 1;
                    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
                }
            }
            // The answers that have come.
            for (;;) {
                if (!haveAnswer) {
                    TResult<std::optional<std::string>> header = reader.NextHeader();
                    if (!header) {
                        return lost("the server sent " + header.Error().Text);
                    }
                    if (!*header) {
                        break;
                    }
                    if (!identified) {
                        TResult<std::vector<std::string>> capabilities = CapabilitiesOf(**header);
                        if (!capabilities) {
                            return lost(capabilities.Error().Text);
                        }
                        if (std::find(capabilities->begin(), capabilities->end(), "WRITE") ==
                            capabilities->end()) {
                            reason = "the server does not accept data (no WRITE among \"" +
                                     PrintableText(**header) + "\")";
                            return TEnd::NoWrite;
                        }
                        identified = true;
                        identifiedAt = TClock::now();
                        {
                            std::lock_guard lock(Mutex);
                            Counters.Connected = true;
                            ++Counters.Connections;
                            Counters.LastError.clear();
                            Counters.LastErrorMicroseconds = 0;
                        }
                        LastConnectError.clear();
                        NoWriteSaid = false;
                        Say("connected to " + Where);
                        continue;
                    }
                    TResult<TDataLinkAnswer> parsed = AnswerOf(**header);
                    if (!parsed) {
                        return lost("the server sent " + parsed.Error().Text);
                    }
                    if (InFlight.empty()) {
                        return lost("the server sent an answer with no record awaiting one (\"" +
                                    PrintableText(**header) + "\")");
                    }
                    answer = *parsed;
                    haveAnswer = true;
                }
                std::optional<std::string> message = reader.TakeData(answer.Size);
                if (!message) {
                    break;
                }
                TEntry done = std::move(InFlight.front());
                InFlight.pop_front();
                {
                    std::lock_guard lock(Mutex);
                    --InFlightCount;
                    if (answer.Ok) {
                        ++Counters.Acknowledged;
                    }
                }
                const std::string stream = StreamIdOf(done.Record);
                if (answer.Ok) {
                    if (!Refusing.empty()) {
                        Accepted(stream);
                    }
                } else {
                    Refused(stream, Where + " refused a record of " + stream + ": " +
                                        PrintableText(*message));
                }
                proved = true;
                haveAnswer = false;
                awaitingSince = TClock::now();
            }
            if ((!identified || !InFlight.empty()) &&
                TClock::now() >= awaitingSince + Config.AnswerTimeout) {
                return lost("no answer in " + SecondsText(Config.AnswerTimeout));
            }
        }
    }

    void Run() {
        milliseconds delay = Config.MinDelay;
        while (!ShouldEnd()) {
            ReportDrops(false);
            std::string reason;
            bool proved = false;
            const TEnd end = Session(reason, proved);
            Requeue();
            if (end == TEnd::Stopped || ShouldEnd()) {
                break;
            }
            if (proved) {
                delay = Config.MinDelay;
            }
            SetError(reason);
            const std::string retry = "; retrying in " + SecondsText(delay);
            if (end == TEnd::ConnectFailed) {
                if (reason != LastConnectError) {
                    LastConnectError = reason;
                    Say("cannot connect to " + Where + ": " + reason + retry);
                }
            } else if (end == TEnd::NoWrite) {
                if (!NoWriteSaid) {
                    NoWriteSaid = true;
                    Say(Where + ": " + reason + "; nothing is sent to it" + retry);
                }
            } else {
                LastConnectError.clear();
                Say("lost " + Where + ": " + reason + retry);
            }
            Sleep(delay);
            delay = std::min(Config.MaxDelay, delay * 2);
        }
        Requeue();
        ReportDrops(true);
        int64_t left = 0;
        {
            std::lock_guard lock(Mutex);
            left = int64_t(Pending.size());
            Finished = true;
        }
        if (left > 0) {
            Say("stopped with " + std::to_string(left) +
                " records not sent (the archive has them)");
        }
    }
};

TDataLinkClient::TDataLinkClient(TDataLinkConfig config, TLog log)
    : state_(std::make_unique<TState>(std::move(config), std::move(log))) {
    state_->Thread = std::thread([this] { state_->Run(); });
}

TDataLinkClient::~TDataLinkClient() {
    Stop(milliseconds(0));
}

void TDataLinkClient::Push(const TLiveRecord& record) {
    TState& s = *state_;
    {
        std::lock_guard lock(s.Mutex);
        ++s.Counters.Pushed;
        if (s.Finished) {
            ++s.Counters.Dropped;
            return;
        }
        if (s.Pending.size() + s.InFlightCount >= s.Config.QueueRecords) {
            ++s.Counters.Dropped;
            ++s.StreakDropped;
            if (s.Pending.empty()) {
                return;  // all of the queue is on the way: the new one is the one left out
            }
            s.Pending.pop_front();
        } else if (s.StreakDropped > 0) {
            s.StreakEnded = true;
        }
        s.Pending.push_back(TState::TEntry{record, false});
    }
    s.Wake();
}

TDataLinkStatus TDataLinkClient::Status() const {
    const TState& s = *state_;
    std::lock_guard lock(s.Mutex);
    TDataLinkStatus status = s.Counters;
    status.Queued = int64_t(s.Pending.size() + s.InFlightCount);
    return status;
}

void TDataLinkClient::Stop(milliseconds drain) {
    TState& s = *state_;
    std::lock_guard stopLock(s.StopMutex);
    if (s.Joined) {
        return;
    }
    {
        std::lock_guard lock(s.Mutex);
        s.Stopping = true;
        s.DrainUntil = TClock::now() + std::max(drain, milliseconds(0));
    }
    s.Wake();
    if (s.Thread.joinable()) {
        s.Thread.join();
    }
    s.Joined = true;
}
