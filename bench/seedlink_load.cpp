// SeedLink load for scripts/station-load (not a benchmark):
//   seedlink_load stream PORT CLIENTS SECONDS
//     CLIENTS clients on 127.0.0.1:PORT, each taking every stream (DATA), for SECONDS; prints
//     the packets each got and the latency from a record's last sample time to its arrival
//     (the data's time against this machine's clock: with a unit stamped from the same clock,
//     that is the delay of the block, the record's filling and the delivery).
//   seedlink_load churn PORT SECONDS
//     Connections opened and closed as fast as they go for SECONDS (every other one says HELLO
//     and reads the answer); prints how many per second and how many failed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "seedfile/seed_time.h"

namespace {

using TClock = std::chrono::steady_clock;

int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The time of the record's last sample, microseconds since 1970 (big-endian header).
int64_t LastSampleTime(const uint8_t* r) {
    const int year = (r[20] << 8) | r[21];
    const int day = (r[22] << 8) | r[23];
    const std::optional<TSeedTime> jan1 = SeedTimeOf(year, 1, 1, r[24], r[25], r[26]);
    if (!jan1) {
        return 0;
    }
    const int64_t start =
        (jan1->Seconds + int64_t(day - 1) * 86400) * 1000000 + int64_t((r[28] << 8) | r[29]) * 100;
    const int samples = (r[30] << 8) | r[31];
    const auto factor = int16_t((r[32] << 8) | r[33]);
    const auto multiplier = int16_t((r[34] << 8) | r[35]);
    double rate = factor > 0 ? factor : factor < 0 ? -1.0 / factor : 0;
    rate = multiplier > 0 ? rate * multiplier : multiplier < 0 ? rate / -multiplier : rate;
    return rate > 0 && samples > 0 ? start + int64_t(double(samples - 1) * 1e6 / rate) : start;
}

int Stream(int port, int clients, int seconds) {
    struct TClient {
        int Fd = -1;
        std::string Buffer;
        int64_t Packets = 0;
    };
    std::vector<TClient> all(static_cast<size_t>(clients));
    for (TClient& c : all) {
        c.Fd = Connect(port);
        if (c.Fd < 0 || send(c.Fd, "DATA\r\n", 6, MSG_NOSIGNAL) != 6) {
            std::fprintf(stderr, "seedlink_load: cannot connect to port %d\n", port);
            return 1;
        }
    }
    std::vector<double> latencies;  // ms, of every packet of every client
    std::vector<pollfd> polls;
    for (const TClient& c : all) {
        polls.push_back({c.Fd, POLLIN, 0});
    }
    const auto end = TClock::now() + std::chrono::seconds(seconds);
    char chunk[65536];
    int64_t garbled = 0, closed = 0;
    while (TClock::now() < end) {
        if (poll(polls.data(), polls.size(), 100) <= 0) {
            continue;
        }
        const int64_t now = NowMicroseconds();
        for (size_t k = 0; k < polls.size(); ++k) {
            if ((polls[k].revents & (POLLIN | POLLHUP)) == 0 || polls[k].fd < 0) {
                continue;
            }
            TClient& c = all[k];
            const ssize_t n = recv(c.Fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n <= 0) {
                ++closed;
                polls[k].fd = -1;
                continue;
            }
            c.Buffer.append(chunk, size_t(n));
            size_t at = 0;
            while (c.Buffer.size() - at >= 520) {
                if (c.Buffer.compare(at, 2, "SL") != 0) {
                    ++garbled;
                    at = c.Buffer.size();
                    break;
                }
                const auto* record = reinterpret_cast<const uint8_t*>(c.Buffer.data() + at + 8);
                latencies.push_back(double(now - LastSampleTime(record)) / 1000.0);
                ++c.Packets;
                at += 520;
            }
            c.Buffer.erase(0, at);
        }
    }
    int64_t least = INT64_MAX, most = 0;
    for (const TClient& c : all) {
        least = std::min(least, c.Packets);
        most = std::max(most, c.Packets);
        close(c.Fd);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies.empty() ? 0.0
                                 : latencies[std::min(latencies.size() - 1,
                                                      size_t(q * double(latencies.size())))];
    };
    std::printf("clients %d: packets per client %lld to %lld, %lld garbled, %lld closed\n", clients,
                (long long)least, (long long)most, (long long)garbled, (long long)closed);
    std::printf(
        "latency ms (last sample to arrival, %zu packets): min %.0f p10 %.0f p50 %.0f "
        "p90 %.0f p99 %.0f max %.0f\n",
        latencies.size(), at(0), at(0.1), at(0.5), at(0.9), at(0.99),
        latencies.empty() ? 0.0 : latencies.back());
    return 0;
}

int Churn(int port, int seconds) {
    const auto start = TClock::now();
    const auto end = start + std::chrono::seconds(seconds);
    int64_t made = 0, failed = 0;
    char answer[512];
    while (TClock::now() < end) {
        const int fd = Connect(port);
        if (fd < 0) {
            ++failed;
            continue;
        }
        if (made % 2 == 1) {
            if (send(fd, "HELLO\r\n", 7, MSG_NOSIGNAL) != 7 ||
                recv(fd, answer, sizeof answer, 0) <= 0) {
                ++failed;
            }
        }
        close(fd);
        ++made;
    }
    const double elapsed = std::chrono::duration<double>(TClock::now() - start).count();
    std::printf("churn: %lld connections in %.1f s (%.0f per second), %lld failed\n",
                (long long)made, elapsed, double(made) / elapsed, (long long)failed);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "stream") {
        return Stream(std::atoi(args[1].c_str()), std::atoi(args[2].c_str()),
                      std::atoi(args[3].c_str()));
    }
    if (args.size() == 3 && args[0] == "churn") {
        return Churn(std::atoi(args[1].c_str()), std::atoi(args[2].c_str()));
    }
    std::fprintf(stderr, "usage: seedlink_load stream PORT CLIENTS SECONDS | churn PORT SECONDS\n");
    return 2;
}
