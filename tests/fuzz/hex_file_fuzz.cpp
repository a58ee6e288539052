// Any bytes as an Intel HEX file: the walk never reads past a line, never crashes, and
// hands on only records that the upload can write whole — an even address and byte
// count, inside the memory a segment-addressed file reaches.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "upload/hex_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The first line alone: a record it calls valid passes the checksum test.
    HexRecord record;
    const std::string_view line = std::string_view(text).substr(0, text.find('\n'));
    if (ParseHexRecord(line, record).empty() && !HexChecksumOk(record)) {
        std::abort();
    }

    std::istringstream in(text);
    uint64_t bytes = 0;
    const TResult<int, THexError> walk = SendHexFile(in, [&](uint32_t address, const HexRecord& r) {
        if (address % 2 != 0 || r.ByteCount % 2 != 0 || address + r.ByteCount > HexAddressLimit ||
            r.RecordType != HexDataRecord) {
            std::abort();
        }
        bytes += r.ByteCount;
    });
    if (bytes > HexAddressLimit || (!walk && walk.Error().Line < 1)) {
        std::abort();
    }
    return 0;
}
