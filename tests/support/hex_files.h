// Intel HEX files for the upload tests: lines with their checksums, files of many
// data records with the bytes each address must end up holding, and files made by
// srec_cat.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One record line, upper-case hex, with its checksum (no line end).
std::string HexLine(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data);
// ":00000001FF"
std::string HexEndLine();

// The bytes a firmware image puts at each address.
using TMemoryImage = std::map<uint32_t, uint8_t>;

// A file of `records` data records of `size` bytes from `start` upward (`start` and
// `size` even, `size` dividing 0x10000), a type 02 record before each 64 KiB window (the
// last window starts at 0xFFFF0), bytes made from `seed`. The bytes are added to `image`.
std::string MakeHexText(uint32_t start, int records, int size, uint32_t seed, TMemoryImage& image);

void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);

// srec_cat turning `bytes` at `address` into an Intel HEX file with segment addresses
// (type 02 records). True when it ran without error.
bool SrecCatHex(const std::vector<uint8_t>& bytes, uint32_t address, const std::string& hexPath);
