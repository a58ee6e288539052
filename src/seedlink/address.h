// Network addresses for the server: where it listens ("[ADDR:]PORT") and the ranges of client
// addresses it accepts ("CIDR[,CIDR...]", IPv4 and IPv6). Pure functions over text.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TListenAddress {
    std::string Host;  // numeric IPv4 or IPv6 address; empty: every address
    int Port = 0;      // 1 to 65535 (0 only from code: any free port)
    bool operator==(const TListenAddress&) const = default;
};

// "PORT", "ADDR:PORT" or "[IPV6]:PORT"; nothing, with `error`, otherwise.
std::optional<TListenAddress> ParseListenAddress(const std::string& text, std::string& error);
std::string ListenAddressText(const TListenAddress& address);

// An address range: 16 bytes (IPv4 as IPv4-mapped IPv6) and the prefix length over them.
struct TAddressRange {
    std::array<uint8_t, 16> Bytes{};
    int PrefixBits = 128;
    bool operator==(const TAddressRange&) const = default;
};

// "ADDR" or "ADDR/BITS" for each comma-separated item; an empty text is an empty list.
std::optional<std::vector<TAddressRange>> ParseAddressRanges(const std::string& text,
                                                             std::string& error);
std::string AddressRangesText(const std::vector<TAddressRange>& ranges);

// The loopback ranges, 127.0.0.0/8 and ::1.
std::vector<TAddressRange> LoopbackRanges();

// A socket address as 16 bytes (IPv4 mapped), nothing for another family.
std::optional<std::array<uint8_t, 16>> AddressBytes(const sockaddr_storage& address);
// An empty list allows every address.
bool AddressAllowed(const std::vector<TAddressRange>& ranges,
                    const std::array<uint8_t, 16>& address);
// "1.2.3.4:5678" or "[::1]:5678".
std::string SocketAddressText(const sockaddr_storage& address);
