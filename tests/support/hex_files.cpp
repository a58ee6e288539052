#include "support/hex_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string HexLine(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()),
                                  static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset),
                                  type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<uint8_t>(-sum));
    std::string line = ":";
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        line += pair;
    }
    return line;
}

std::string HexEndLine() {
    return ":00000001FF";
}

std::string MakeHexText(uint32_t start, int records, int size, uint32_t seed, TMemoryImage& image) {
    std::string text;
    uint32_t segment = 0xFFFFFFFF;
    uint32_t value = seed * 2654435761u + 1;
    for (int r = 0; r < records; ++r) {
        const uint32_t address = start + static_cast<uint32_t>(r * size);
        // 64 KiB windows, the last one starting at 0xFFFF0.
        const uint32_t wanted = std::min<uint32_t>((address >> 16) << 12, 0xFFFF);
        if (wanted != segment) {
            segment = wanted;
            text += HexLine(0x02, 0,
                            {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)}) +
                    "\r\n";
        }
        std::vector<uint8_t> data(static_cast<size_t>(size));
        for (int i = 0; i < size; ++i) {
            value = value * 1103515245u + 12345u;
            data[static_cast<size_t>(i)] = static_cast<uint8_t>(value >> 16);
            image[address + static_cast<uint32_t>(i)] = data[static_cast<size_t>(i)];
        }
        text += HexLine(0x00, static_cast<uint16_t>(address - (segment << 4)), data) + "\r\n";
    }
    return text + HexEndLine() + "\r\n";
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

bool SrecCatHex(const std::vector<uint8_t>& bytes, uint32_t address, const std::string& hexPath) {
    const std::string binary = hexPath + ".bin";
    std::ofstream(binary, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const std::string command = "srec_cat '" + binary + "' -binary -offset " + Hex(address) +
                                " -o '" + hexPath + "' -intel -address-length=3";
    return std::system(command.c_str()) == 0;
}
