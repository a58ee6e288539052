// Intel HEX files: one record per line, decoded and checked, and the walk over a
// whole file that hands every data record on at its absolute address. A file is
// taken whole or not at all: the walk stops at the first fault and names it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

// One decoded record.
struct HexRecord {
    uint8_t ByteCount = 0;
    uint16_t LoadOffset = 0;
    uint8_t RecordType = 0;
    std::array<uint8_t, 255> RecordData{};
    uint8_t RecordChecksum = 0;
};

// Record types the walk acts on; all others are read, checked and skipped.
constexpr uint8_t HexDataRecord = 0x00;
constexpr uint8_t HexEndRecord = 0x01;
constexpr uint8_t HexSegmentRecord = 0x02;
constexpr uint8_t HexLinearRecord = 0x04;

// Lines longer than this are not records.
constexpr size_t HexLineLimit = 1023;
// The highest address an extended-segment file reaches: 0xFFFF0 + 0xFFFF.
constexpr uint32_t HexAddressLimit = 0x10FFF0;

// The value of hex digit `c` (either case) shifted left by `shift` (4 or 0), kept to
// 8 bits; none when `c` is no hex digit.
std::optional<uint8_t> HexDigit(char c, int shift);
// Decodes `count` hex pairs from [pos, end) into `dest`. Returns the position after
// them, or nullptr when the text ends first or holds a character that is no hex digit
// (the first bad position is then in `bad`, when given). Never reads at or past `end`.
const char* HexToBytes(const char* pos, const char* end, uint8_t* dest, int count,
                       const char** bad = nullptr);
// `start` plus the sum of `count` bytes, modulo 256.
uint8_t ByteSum(const uint8_t* bytes, uint8_t start, int count);
// True when the record's bytes, checksum included, sum to 0 modulo 256.
bool HexChecksumOk(const HexRecord& record);

// Decodes one line (without its line end) into `record`. Returns an empty text for a
// valid record, otherwise why the line is none: not beginning with ':', a character
// that is no hex digit, too short for its byte count, a wrong checksum, characters
// after the checksum (spaces, tabs and a carriage return are allowed there).
std::string ParseHexRecord(std::string_view line, HexRecord& record);

// Reads the next line of at most HexLineLimit characters. False at the end of the
// stream with nothing read. A longer line is read to its end and flagged in `tooLong`.
bool ReadHexLine(std::istream& in, std::string& line, bool& tooLong);

// Reads the next line and decodes it: true when it is a record with a right checksum;
// false at the end of the file, for a line that is not a record, and for a wrong
// checksum.
bool ReadHexRecord(std::istream& in, HexRecord& record);

// What is wrong with a file: the reason, the system's errno when the file could not be read,
// and the line (0 for the file as a whole).
struct THexError : TError {
    int Line = 0;
};

// A data record at its absolute address.
struct THexData {
    uint32_t Address = 0;
    std::vector<uint8_t> Bytes;
};

// Walks the records of a file up to its end-of-file record and hands each data record
// on at base + offset (type 02 sets the base); the result is how many were handed on.
// Stops at the first fault, which the result names; the records before it have been
// handed on, so a caller that must not act on part of a file collects them first
// (LoadHexFile). Faults besides invalid lines: the end of the file before its
// end-of-file record, a data record at an odd address or with an odd byte count (memory
// is written in 16-bit words), one that runs past the end of its 64 KiB segment, a type
// 02 or 04 record without two data bytes, a type 04 record with a non-zero upper address
// (it would not move the data that follows), and more data than the memory a file can
// address.
TResult<int, THexError> SendHexFile(
    std::istream& in, const std::function<void(uint32_t address, const HexRecord&)>& write);

// A whole file read and checked: its data records, or the fault that refuses it.
using THexFile = TResult<std::vector<THexData>, THexError>;
THexFile LoadHexFile(const std::string& path);
