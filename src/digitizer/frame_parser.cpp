// Frame decoder. Frames declaring 0 channels, 0 bytes per sample, a TotalRate
// of 0 or a negative data length are rejected: nothing downstream can make
// sense of them.
//
// The length bookkeeping (`rem`) assumes a 192-byte MOD and a 188-byte MDE,
// but record positions come from the records' own length fields. So that a
// hostile length can never make a decoder read outside the frame, every record
// position is checked against the frame, and every decoder is given the
// smaller of `rem` and the bytes really left. For well-formed frames
// (ModLength 184, MdeLength 180) both are the same.
#include "digitizer/frame_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

namespace {

uint16_t U16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
int16_t S16(const uint8_t* p) {
    return int16_t(U16(p));
}
uint32_t U32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t S32(const uint8_t* p) {
    return int32_t(U32(p));
}

// Copies a fixed-width text field and terminates it.
template <size_t Width, size_t Size>
void CopyText(char (&dst)[Size], const uint8_t* src) {
    static_assert(Width < Size);
    std::memcpy(dst, src, Width);
    dst[Width] = 0;
}

double Volts(int16_t raw) {
    return raw * 10.9 / 2700 + 5;
}
double DegreesC(int16_t raw) {
    return raw * 0.1 - 50;
}
int32_t Gain(int32_t raw) {
    return raw == 0x1FFFFFFF ? -1 : raw;
}

// Byte by byte rather than memcmp, which g++ inlines out of AddressSanitizer's
// sight: the tests rely on the sanitizer seeing every byte compared.
bool Matches(const uint8_t* bytes, const char* text, int count) {
    for (int i = 0; i < count; ++i) {
        if (bytes[i] != uint8_t(text[i])) {
            return false;
        }
    }
    return true;
}

// True when a three-letter tag lies wholly inside the frame at pos.
bool TagAt(const uint8_t* frame, int64_t length, int64_t pos, const char* tag) {
    return pos >= 0 && pos <= length - 3 && Matches(frame + pos, tag, 3);
}

uint16_t ByteSum(const uint8_t* bytes, int64_t count) {
    uint32_t sum = 0;
    for (int64_t i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    return uint16_t(sum);
}

int16_t Int16(const uint8_t* text, int width) {
    return int16_t(ColumnToInt(text, width));
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Skips leading blanks and one sign, like the C library's conversions.
const char* SkipBlanksAndSign(const char* s, const char* end, bool* negative) {
    while (s < end && IsBlank(*s)) {
        ++s;
    }
    *negative = false;
    if (s < end && (*s == '+' || *s == '-')) {
        *negative = *s == '-';
        ++s;
    }
    return s;
}

// What strtod gives for a number out of the double range: 0 on underflow,
// HUGE_VAL on overflow.
double OutOfRange(const char* s, const char* end) {
    const char* e = std::find_if(s, end, [](char c) { return c == 'e' || c == 'E'; });
    if (e != end) {
        return e + 1 < end && e[1] == '-' ? 0.0 : HUGE_VAL;
    }
    const char* digit = std::find_if(s, end, [](char c) { return c != '0'; });
    return digit != end && *digit >= '1' && *digit <= '9' ? HUGE_VAL : 0.0;  // 123... or 0.00...
}

// Receiver report decoders; `available` counts the bytes from `a` to the end
// of the frame. Positions are from the first character after the tag.
void DecodeAl(TGpsInfo* gps, const uint8_t* a, int64_t available) {
    if (available < 17) {
        return;
    }
    gps->TimeOfDay = ColumnToInt(a, 5);
    gps->Altitude = ColumnToInt(a + 5, 6);
    gps->VerticalVelocity = ColumnToInt(a + 11, 4);
    gps->FixSource = char(a[15]);
    gps->FixAge = char(a[16]);
}

double DegreeFractionToMinutes(const uint8_t* digits) {
    return ColumnToInt(digits, 5) * 60 * 0.00001;
}

void DecodePv(TGpsInfo* gps, const uint8_t* a, int64_t available) {
    if (available < 30) {
        return;
    }
    gps->TimeOfDay = ColumnToInt(a, 5);
    if (a[5] == '+' || a[5] == '-') {
        gps->LatHemisphere = a[5] == '+' ? 'N' : 'S';
    }
    gps->LatDegrees = Int16(a + 6, 2);
    gps->LatMinutes = DegreeFractionToMinutes(a + 8);
    if (a[13] == '+' || a[13] == '-') {
        gps->LonHemisphere = a[13] == '+' ? 'E' : 'W';
    }
    gps->LonDegrees = Int16(a + 14, 3);
    gps->LonMinutes = DegreeFractionToMinutes(a + 17);
    gps->Speed = ColumnToDouble(a + 22, 3);
    gps->Course = ColumnToDouble(a + 25, 3);
    gps->FixSource = char(a[28]);
    gps->FixAge = char(a[29]);
}

void DecodeSt(TGpsInfo* gps, const uint8_t* a, int64_t available) {
    if (available < 10) {
        return;
    }
    gps->Status1 = char(a[1]);
    gps->Status2 = char(a[2]);
    gps->Status3 = char(a[3]);
    CopyText<2>(gps->StatusCode, a + 4);
    gps->StatusFlag = char(a[7]);
}

void DecodeTm(TGpsInfo* gps, const uint8_t* a, int64_t available) {
    if (available < 28) {
        return;
    }
    gps->Hour = Int16(a, 2);
    gps->Minute = Int16(a + 2, 2);
    gps->Second = Int16(a + 4, 2);
    gps->Day = Int16(a + 9, 2);
    gps->Month = Int16(a + 11, 2);
    gps->Year = Int16(a + 13, 4);
    gps->UtcOffset = Int16(a + 17, 2);
    gps->FixSource = char(a[19]);
    gps->SvCount = Int16(a + 20, 2);
    gps->TimeValid = a[22] == '1';
}

// Unpacks n interleaved samples per channel of Width bytes each, left-justified.
template <int Width>
void Unpack(const uint8_t* src, int32_t* const* channel, uint32_t channels, uint32_t n) {
    for (uint32_t j = 0; j < n; ++j) {
        for (uint32_t k = 0; k < channels; ++k) {
            uint32_t word = 0;
            for (int b = 0; b < Width; ++b) {
                word |= uint32_t(src[b]) << (8 * (4 - Width + b));
            }
            channel[k][j] = int32_t(word);
            src += Width;
        }
    }
}

// Every check that fails for want of bytes marks the frame cut short; every
// other check reads only bytes that a longer frame has in the same places, so a
// frame that fails it fails whatever follows.
bool Decode(TDataBlock* block, const uint8_t* frame, int64_t length, TFrameExtent& extent) {
    const auto cutShort = [&extent] {
        extent.CutShort = true;
        return false;
    };
    // 1. Header and the MOD record with its limits.
    block->Header = std::make_unique<TBlockHeader>();
    TBlockHeader& header = *block->Header;
    if (length < 186) {
        return length < 4 || frame[3] == 0 ? cutShort() : false;
    }
    if (!ParseMod(&header, frame, length)) {
        return false;
    }
    // 2. GPS sentence of the MOD record.
    block->Gps = std::make_unique<TGpsInfo>();
    TGpsInfo& gps = *block->Gps;
    ParseRmc(&gps, frame + 120, length - 120);
    // 3.-5. Optional MDE record with the receiver reports.
    int64_t rem = length - 192;
    if (rem < 3) {
        return cutShort();
    }
    int64_t pos = int64_t(header.ModLength) + 8;
    if (pos > length - 3) {
        return cutShort();  // MDE or DAT, the tag is still to come
    }
    if (TagAt(frame, length, pos, "MDE")) {
        header.HasMde = 1;
        if (std::min(rem, length - pos) < 188) {
            return cutShort();
        }
        if (!ParseMde(&header, frame + pos, std::min(rem, length - pos))) {
            return false;
        }
        rem -= 58;
        if (gps.Source == 0) {
            ParseReports(&gps, frame + pos + 58, std::min(rem, length - pos - 58));
        }
        rem -= 130;
        pos += int64_t(header.MdeLength) + 8;
    } else {
        header.HasMde = 0;
    }
    // 6.-8. Samples.
    if (rem < 3 || pos > length - 3) {
        return pos >= 0 ? cutShort() : false;
    }
    if (!TagAt(frame, length, pos, "DAT")) {
        return false;
    }
    block->Samples = std::make_unique<TSampleSet>();
    const int64_t datAvailable = std::min(rem, length - pos);
    if (datAvailable < 8) {
        return cutShort();
    }
    // A well-formed DAT record whose samples have not all arrived.
    const int32_t datLength = S32(frame + pos + 4);
    const uint32_t sampleSize = uint32_t(header.NumComponents) * header.BytesPerSample;
    if (frame[pos + 3] == 0 && datLength >= 0 && datAvailable - 8 < datLength &&
        uint32_t(datLength) / sampleSize <= MaxSamplesPerChannel) {
        return cutShort();
    }
    if (!ParseDat(block->Samples.get(), header, frame + pos, datAvailable)) {
        return false;
    }
    const int64_t datRecord = int64_t(block->Samples->DatLength) + 8;
    pos += datRecord;
    rem -= datRecord;
    // 9.-12. Optional SUM record and the checksum.
    block->Sum = std::make_unique<TBlockSum>();
    if (rem < 3) {
        if (rem == 0) {
            extent.Used = static_cast<int32_t>(length);
            return true;
        }
        return cutShort();
    }
    if (pos > length - 3) {
        return cutShort();
    }
    if (!TagAt(frame, length, pos, "SUM")) {
        return false;
    }
    if (std::min(rem, length - pos) < 12) {
        return cutShort();
    }
    if (!ParseSum(block->Sum.get(), frame + pos, std::min(rem, length - pos)) ||
        ByteSum(frame, pos + 10) != block->Sum->Checksum) {
        return false;
    }
    extent.Used = static_cast<int32_t>(pos + 12);
    return true;
}

}  // namespace

bool ParseFrame(TDataBlock* block, const uint8_t* frame, int32_t length) {
    TFrameExtent extent;
    return ParseFrame(block, frame, length, &extent);
}

bool ParseFrame(TDataBlock* block, const uint8_t* frame, int32_t length, TFrameExtent* extent) {
    TFrameExtent found;
    bool decoded = false;
    if (block != nullptr && frame != nullptr) {
        try {
            decoded = Decode(block, frame, length, found);
        } catch (const std::bad_alloc&) {
            found = TFrameExtent{};
        }
    }
    if (extent != nullptr) {
        *extent = found;
    }
    return decoded;
}

bool ParseMod(TBlockHeader* header, const uint8_t* record, int64_t available) {
    if (available < 186 || record[3] != 0) {
        return false;
    }
    TBlockHeader& h = *header;
    h.ModLength = S32(record + 4);
    CopyText<12>(h.DeviceId, record + 8);
    CopyText<6>(h.Version, record + 20);
    CopyText<4>(h.SerialNumber, record + 27);
    h.BlockCount = U32(record + 40);
    h.NumComponents = U16(record + 44);
    h.TotalRate = S16(record + 46);
    h.BytesPerSample = U16(record + 48);
    CopyText<2>(h.FilterType, record + 50);
    h.Decimation[0] = S16(record + 52);
    h.Decimation[1] = S16(record + 54);
    h.PhaseError = S16(record + 56);
    CopyText<2>(h.GainCode, record + 58);
    for (int i = 0; i < 3; ++i) {
        h.GainValue[i] = Gain(S32(record + 60 + 4 * i));
        h.OffsetValue[i] = S32(record + 72 + 4 * i);
    }
    h.SupplyVoltage = Volts(S16(record + 84));
    h.SupplyCurrent = S16(record + 86) * 22.0 / 170;
    h.SensorTemp = DegreesC(S16(record + 88));
    h.RemoteVoltage = Volts(S16(record + 90));
    for (int i = 0; i < 4; ++i) {
        h.UserInput[i] = S16(record + 92 + 2 * i) * 0.001;
    }
    CopyText<2>(h.Coupling, record + 100);
    h.LastValidGpsBlock = S32(record + 116);
    // The limits, and no zero channels, width or rate.
    // A negative TotalRate encodes a rate below 1 Hz and passes.
    return h.BytesPerSample >= 1 && h.BytesPerSample <= 4 && h.NumComponents >= 1 &&
           h.NumComponents <= MaxChannels && h.TotalRate <= 3000 && h.TotalRate != 0;
}

void ParseRmc(TGpsInfo* gps, const uint8_t* s, int64_t available) {
    if (available < 72) {
        return;
    }
    CopyText<70>(gps->Text, s);
    if (!Matches(s, "$GPRMC", 6)) {
        gps->Present = 0;
        return;
    }
    gps->Present = 1;
    gps->Source = 1;
    gps->Hour = Int16(s + 7, 2);
    gps->Minute = Int16(s + 9, 2);
    gps->Second = Int16(s + 11, 2);
    gps->FixValid = s[14] == 'A';
    gps->LatDegrees = Int16(s + 16, 2);
    gps->LatMinutes = ColumnToDouble(s + 18, 7);
    gps->LatHemisphere = char(s[26]);
    gps->LonDegrees = Int16(s + 28, 3);
    gps->LonMinutes = ColumnToDouble(s + 31, 7);
    gps->LonHemisphere = char(s[39]);
    gps->Speed = ColumnToDouble(s + 41, 5);
    gps->Course = ColumnToDouble(s + 47, 5);
    gps->Day = Int16(s + 53, 2);
    gps->Month = Int16(s + 55, 2);
    gps->Year = int16_t(ColumnToInt(s + 57, 2) + 2000);
    gps->MagVariation = ColumnToDouble(s + 60, 5);
    gps->MagVariationDir = char(s[66]);
}

bool ParseMde(TBlockHeader* header, const uint8_t* record, int64_t available) {
    if (available < 188 || record[3] != 0) {
        return false;
    }
    TBlockHeader& h = *header;
    h.MdeLength = S32(record + 4);
    CopyText<8>(h.SerialNumber, record + 8);
    for (int i = 0; i < 3; ++i) {
        h.Decimation[2 + i] = S16(record + 16 + 2 * i);
        h.GainValue[3 + i] = Gain(S32(record + 22 + 4 * i));
        h.OffsetValue[3 + i] = S32(record + 34 + 4 * i);
    }
    for (int i = 0; i < MaxChannels; ++i) {
        h.ModuleTemp[i] = DegreesC(S16(record + 46 + 2 * i));
    }
    return true;
}

void ParseReports(TGpsInfo* gps, const uint8_t* area, int64_t available) {
    if (available < 130) {
        return;
    }
    CopyText<129>(gps->Text, area);
    int64_t p = 2;
    while (p < 130) {
        const uint8_t* a = area + p;
        const int64_t left = available - p;  // at least 1
        auto tagged = [&](const char* tag) { return left >= 4 && Matches(a, tag, 4); };
        void (*decoder)(TGpsInfo*, const uint8_t*, int64_t) = nullptr;
        int advance = 1;
        if (tagged(">RAL") || tagged(">?AL")) {
            decoder = DecodeAl;
            advance = 28;
        } else if (tagged(">RPV")) {
            decoder = DecodePv;
            advance = 41;
        } else if (tagged(">RST")) {
            decoder = DecodeSt;
            advance = 21;
        } else if (tagged(">RTM")) {
            decoder = DecodeTm;
            advance = 39;
        }
        if (decoder != nullptr) {
            // The decoder's minimum is checked against the bytes after the tag.
            decoder(gps, a + 4, left - 4);
            gps->Present = 1;
            gps->FixValid = 1;
            gps->Source = 2;
        } else if (a[0] == '0') {
            // A bare status report: the ST positions count from the "0".
            const size_t count = size_t(std::min<int64_t>(129, left));
            std::memcpy(gps->Text, a, count);
            std::memset(gps->Text + count, 0, sizeof gps->Text - count);
            DecodeSt(gps, a, left);
            gps->Present = 1;
            gps->FixValid = 0;
            gps->Source = 2;
            advance = 10;
        }
        p += advance;
    }
}

bool ParseDat(TSampleSet* samples, const TBlockHeader& header, const uint8_t* record,
              int64_t available) {
    for (auto& channel : samples->Channel) {
        channel.clear();
    }
    if (available < 8 || record[3] != 0) {
        return false;
    }
    samples->DatLength = S32(record + 4);
    // A negative length gives no sample count. Zero channels or a
    // width outside 1..4 cannot come through ParseMod, but ParseDat stands alone.
    const uint32_t channels = header.NumComponents;
    const uint32_t width = header.BytesPerSample;
    if (available - 8 < samples->DatLength || samples->DatLength < 0 || channels == 0 ||
        width == 0 || width > 4) {
        return false;
    }
    const uint32_t n = uint32_t(samples->DatLength) / (channels * width);
    if (n > MaxSamplesPerChannel || channels > MaxChannels) {
        return false;
    }
    int32_t* channel[MaxChannels] = {};
    try {
        for (uint32_t k = 0; k < channels; ++k) {
            samples->Channel[k].resize(n);
            channel[k] = samples->Channel[k].data();
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    const uint8_t* payload = record + 8;
    switch (width) {
        case 1:
            Unpack<1>(payload, channel, channels, n);
            break;
        case 2:
            Unpack<2>(payload, channel, channels, n);
            break;
        case 3:
            Unpack<3>(payload, channel, channels, n);
            break;
        default:
            Unpack<4>(payload, channel, channels, n);
            break;
    }
    return true;
}

bool ParseSum(TBlockSum* sum, const uint8_t* record, int64_t available) {
    if (available < 12 || record[3] != 0) {
        return false;
    }
    sum->SumLength = U32(record + 4);
    sum->Checksum = U16(record + 10);
    return true;
}

int32_t ColumnToInt(const uint8_t* text, int width) {
    if (width <= 0) {
        return 0;
    }
    const char* s = reinterpret_cast<const char*>(text);
    const char* end = s + width;
    bool negative;
    s = SkipBlanksAndSign(s, end, &negative);
    // An unsigned target takes no further sign, so "--5" gives 0 as atoi does.
    uint64_t magnitude = 0;
    const auto [last, ec] = std::from_chars(s, end, magnitude);
    if (ec == std::errc::invalid_argument) {
        return 0;
    }
    // Out of range saturates, as strtol does.
    const uint64_t limit = negative ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX);
    if (ec == std::errc::result_out_of_range || magnitude > limit) {
        magnitude = limit;
    }
    return negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
}

double ColumnToDouble(const uint8_t* text, int width) {
    if (width <= 0) {
        return 0;
    }
    const char* s = reinterpret_cast<const char*>(text);
    const char* end = s + width;
    bool negative;
    s = SkipBlanksAndSign(s, end, &negative);
    if (s == end || *s == '-' || *s == '+') {
        return 0;  // from_chars would take a second minus sign
    }
    double value = 0;
    const auto [last, ec] = std::from_chars(s, end, value);
    if (ec == std::errc::invalid_argument) {
        return 0;
    }
    if (ec == std::errc::result_out_of_range) {
        value = OutOfRange(s, last);
    }
    return negative ? -value : value;
}
