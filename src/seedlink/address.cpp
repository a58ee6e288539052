#include "seedlink/address.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

namespace {

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return error == std::errc() && end == text.data() + text.size() && port >= 1 && port <= 65535;
}

// A numeric address to 16 bytes, IPv4 as IPv4-mapped; `v4` says which it was.
bool ParseAddress(const std::string& text, std::array<uint8_t, 16>& bytes, bool& v4) {
    in_addr a4{};
    in6_addr a6{};
    bytes.fill(0);
    if (text.size() < 64 && inet_pton(AF_INET, text.c_str(), &a4) == 1) {
        bytes[10] = 0xFF;
        bytes[11] = 0xFF;
        std::memcpy(bytes.data() + 12, &a4, 4);
        v4 = true;
        return true;
    }
    if (text.size() < 64 && inet_pton(AF_INET6, text.c_str(), &a6) == 1) {
        std::memcpy(bytes.data(), &a6, 16);
        v4 = false;
        return true;
    }
    return false;
}

bool IsMapped(const std::array<uint8_t, 16>& bytes) {
    for (int i = 0; i < 10; ++i) {
        if (bytes[static_cast<size_t>(i)] != 0) {
            return false;
        }
    }
    return bytes[10] == 0xFF && bytes[11] == 0xFF;
}

// IPv4 text for an IPv4-mapped address unless `asIpv6`.
std::string BytesText(const std::array<uint8_t, 16>& bytes, bool asIpv6 = false) {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsMapped(bytes) && !asIpv6) {
        inet_ntop(AF_INET, bytes.data() + 12, text, sizeof text);
    } else {
        inet_ntop(AF_INET6, bytes.data(), text, sizeof text);
    }
    return text;
}

}  // namespace

std::optional<TListenAddress> ParseListenAddress(const std::string& text, std::string& error) {
    TListenAddress address;
    std::string port = text;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) {
            error = "an IPv6 address is written [ADDR]:PORT";
            return std::nullopt;
        }
        address.Host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        address.Host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (address.Host.find(':') != std::string::npos) {
            error = "an IPv6 address is written [ADDR]:PORT";
            return std::nullopt;
        }
    }
    if (!ParsePort(port, address.Port)) {
        error = "the port must be 1 to 65535";
        return std::nullopt;
    }
    if (!address.Host.empty()) {
        std::array<uint8_t, 16> bytes{};
        bool v4 = false;
        if (!ParseAddress(address.Host, bytes, v4)) {
            error = "'" + address.Host + "' is not a numeric IPv4 or IPv6 address";
            return std::nullopt;
        }
    }
    return address;
}

std::string ListenAddressText(const TListenAddress& address) {
    if (address.Host.empty()) {
        return std::to_string(address.Port);
    }
    if (address.Host.find(':') != std::string::npos) {
        return "[" + address.Host + "]:" + std::to_string(address.Port);
    }
    return address.Host + ":" + std::to_string(address.Port);
}

std::optional<std::vector<TAddressRange>> ParseAddressRanges(const std::string& text,
                                                             std::string& error) {
    std::vector<TAddressRange> ranges;
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        comma = comma == std::string::npos ? text.size() : comma;
        std::string item = text.substr(start, comma - start);
        start = comma + 1;
        while (!item.empty() && item.front() == ' ') {
            item.erase(0, 1);
        }
        while (!item.empty() && item.back() == ' ') {
            item.pop_back();
        }
        if (item.empty()) {
            error = "an empty address range";
            return std::nullopt;
        }
        const size_t slash = item.find('/');
        const std::string host = item.substr(0, slash);
        TAddressRange range;
        bool v4 = false;
        if (!ParseAddress(host, range.Bytes, v4)) {
            error = "'" + host.substr(0, 64) + "' is not a numeric IPv4 or IPv6 address";
            return std::nullopt;
        }
        range.PrefixBits = 128;
        if (slash != std::string::npos) {
            const std::string bits = item.substr(slash + 1);
            int n = -1;
            const auto [end, e] = std::from_chars(bits.data(), bits.data() + bits.size(), n);
            const int max = v4 ? 32 : 128;
            if (bits.empty() || e != std::errc() || end != bits.data() + bits.size() || n < 0 ||
                n > max) {
                error = "'" + item.substr(0, 64) + "': the prefix length must be 0 to " +
                        std::to_string(max);
                return std::nullopt;
            }
            range.PrefixBits = v4 ? 96 + n : n;
        }
        ranges.push_back(range);
    }
    return ranges;
}

std::string AddressRangesText(const std::vector<TAddressRange>& ranges) {
    std::string text;
    for (const TAddressRange& range : ranges) {
        const bool v4 = IsMapped(range.Bytes) && range.PrefixBits >= 96;
        text += (text.empty() ? "" : ",") + BytesText(range.Bytes, !v4) + "/" +
                std::to_string(v4 ? range.PrefixBits - 96 : range.PrefixBits);
    }
    return text;
}

std::optional<std::array<uint8_t, 16>> AddressBytes(const sockaddr_storage& address) {
    std::array<uint8_t, 16> bytes{};
    if (address.ss_family == AF_INET) {
        const auto& a = reinterpret_cast<const sockaddr_in&>(address);
        bytes[10] = 0xFF;
        bytes[11] = 0xFF;
        std::memcpy(bytes.data() + 12, &a.sin_addr, 4);
        return bytes;
    }
    if (address.ss_family == AF_INET6) {
        const auto& a = reinterpret_cast<const sockaddr_in6&>(address);
        std::memcpy(bytes.data(), &a.sin6_addr, 16);
        return bytes;
    }
    return std::nullopt;
}

bool AddressAllowed(const std::vector<TAddressRange>& ranges,
                    const std::array<uint8_t, 16>& address) {
    if (ranges.empty()) {
        return true;
    }
    for (const TAddressRange& range : ranges) {
        int bits = range.PrefixBits;
        bool match = true;
        for (size_t i = 0; i < 16 && bits > 0 && match; ++i, bits -= 8) {
            const int take = bits >= 8 ? 8 : bits;
            const auto mask = static_cast<uint8_t>(0xFF << (8 - take));
            match = (address[i] & mask) == (range.Bytes[i] & mask);
        }
        if (match) {
            return true;
        }
    }
    return false;
}

std::string SocketAddressText(const sockaddr_storage& address) {
    const std::optional<std::array<uint8_t, 16>> bytes = AddressBytes(address);
    if (!bytes) {
        return "(unknown)";
    }
    const int port = address.ss_family == AF_INET
                         ? ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port)
                         : ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    const std::string host = BytesText(*bytes);
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
           std::to_string(port);
}

std::vector<TAddressRange> LoopbackRanges() {
    TAddressRange v4;
    v4.Bytes[10] = 0xFF;
    v4.Bytes[11] = 0xFF;
    v4.Bytes[12] = 127;
    v4.PrefixBits = 96 + 8;
    TAddressRange v6;
    v6.Bytes[15] = 1;
    return {v4, v6};
}
