// Frame decoder: decoding, every rejection in its order, hostile
// lengths. Frames are parsed from exact-size heap copies, so that a run under
// AddressSanitizer catches any read past the frame.
#include "digitizer/frame_parser.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

// Allocation failure on demand: with allocationsLeft >= 0, allocations beyond
// that many throw std::bad_alloc. The plain and nothrow forms are replaced
// together, with their deletes, so that sanitizers see matching pairs.
namespace {
int allocationsLeft = -1;
int allocationsRefused = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (allocationsLeft == 0) {
        ++allocationsRefused;
        throw std::bad_alloc();
    }
    if (allocationsLeft > 0) {
        --allocationsLeft;
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"  // malloc above, free here
void operator delete(void* p) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop
void operator delete(void* p, std::size_t) noexcept {
    ::operator delete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    ::operator delete(p);
}

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t None = size_t(-1);
const std::string Rmc =
    "$GPRMC,123519,A,4827.4068,N,01131.0000,E,022.4,084.4,230324,003.1,W*6A\r\n";

void Put(Bytes& b, size_t at, int64_t value, int width) {
    for (int i = 0; i < width; ++i) {
        b[at + i] = uint8_t(uint64_t(value) >> (8 * i));
    }
}
void PutText(Bytes& b, size_t at, const std::string& text) {
    std::memcpy(b.data() + at, text.data(), text.size());
}
Bytes Record(const char* tag, size_t payload) {
    Bytes r(8 + payload, 0);
    PutText(r, 0, tag);
    r[3] = 0;
    Put(r, 4, int64_t(payload), 4);
    return r;
}

struct Shape {
    int channels = 3, width = 3, samples = 4, rate = 100;
    bool mde = false, sum = true;
    std::string gps = Rmc;
    std::string reports;
    std::function<uint32_t(int j, int k)> wire = [](int j, int k) {
        return uint32_t(j * 0x010307 + k * 0x200101 + 0x8001);
    };
};

// A frame and the offsets of its records (None when absent).
struct Frame {
    Bytes b;
    size_t mde = None, dat = None, sum = None;
    void Seal() {
        if (sum != None && sum + 12 <= b.size()) {
            uint32_t total = 0;
            for (size_t i = 0; i < sum + 10; ++i) {
                total += b[i];
            }
            Put(b, sum + 10, total, 2);
        }
    }
};

Frame Build(const Shape& s) {
    Frame f;
    Bytes mod = Record("MOD", 184);
    PutText(mod, 8, "KESTREL6CH24");
    PutText(mod, 20, "V1.1.4");
    PutText(mod, 27, "S123");
    Put(mod, 40, 4711, 4);
    Put(mod, 44, s.channels, 2);
    Put(mod, 46, s.rate, 2);
    Put(mod, 48, s.width, 2);
    PutText(mod, 50, "F3");
    Put(mod, 52, 5, 2);
    Put(mod, 54, -4, 2);
    Put(mod, 56, -7, 2);
    PutText(mod, 58, "HG");
    Put(mod, 60, 0x1FFFFFFF, 4);  // GainValue 1
    Put(mod, 64, -12345, 4);
    Put(mod, 72, 0x1FFFFFFF, 4);  // OffsetValue 1
    Put(mod, 84, 2700, 2);        // SupplyVoltage
    Put(mod, 86, 170, 2);         // SupplyCurrent
    Put(mod, 88, 250, 2);         // SensorTemp
    Put(mod, 92, -1500, 2);       // UserInput 1
    PutText(mod, 100, "AC");
    Put(mod, 116, -1, 4);
    PutText(mod, 120, s.gps.substr(0, 72));
    f.b = mod;
    if (s.mde) {
        Bytes mde = Record("MDE", 180);
        PutText(mde, 8, "SN123456");
        for (int i = 0; i < 3; ++i) {
            Put(mde, 16 + 2 * i, 6 + i, 2);
        }
        Put(mde, 22, 0x1FFFFFFF, 4);
        Put(mde, 34, 0x1FFFFFFF, 4);
        for (int i = 0; i < 6; ++i) {
            Put(mde, 46 + 2 * i, 250 + i, 2);
        }
        std::string area = s.reports;
        area.resize(130, ' ');
        PutText(mde, 58, area);
        f.mde = f.b.size();
        f.b.insert(f.b.end(), mde.begin(), mde.end());
    }
    Bytes dat = Record("DAT", size_t(s.channels) * s.width * s.samples);
    size_t at = 8;
    for (int j = 0; j < s.samples; ++j) {
        for (int k = 0; k < s.channels; ++k, at += s.width) {
            Put(dat, at, s.wire(j, k), s.width);
        }
    }
    f.dat = f.b.size();
    f.b.insert(f.b.end(), dat.begin(), dat.end());
    if (s.sum) {
        Bytes sum = Record("SUM", 4);
        Put(sum, 8, 0xA55A, 2);  // not interpreted, but summed
        f.sum = f.b.size();
        f.b.insert(f.b.end(), sum.begin(), sum.end());
        f.Seal();
    }
    return f;
}

struct Parsed {
    std::unique_ptr<TDataBlock, void (*)(TDataBlock*)> block{NewBlock(), FreeBlock};
    bool ok = false;
    TFrameExtent extent;
    const TBlockHeader& h() const { return *block->Header; }
    const TGpsInfo& gps() const { return *block->Gps; }
};
Parsed Parse(const Bytes& b) {
    auto exact = std::make_unique<uint8_t[]>(b.size());
    std::copy(b.begin(), b.end(), exact.get());
    Parsed p;
    p.ok = ParseFrame(p.block.get(), exact.get(), int32_t(b.size()), &p.extent);
    EXPECT_EQ(p.ok, ParseFrame(Parsed().block.get(), exact.get(), int32_t(b.size())));
    return p;
}

// Left-justified value of a wire sample of `width` bytes.
int32_t Held(uint32_t wire, int width) {
    return int32_t(wire << (32 - 8 * width));
}

TEST(FrameParser, HeaderFieldsAndStateOfHealth) {
    Shape shape;
    shape.rate = -10;  // sub-1 Hz rates are negative and pass
    auto p = Parse(Build(shape).b);
    ASSERT_TRUE(p.ok);
    EXPECT_STREQ(p.h().DeviceId, "KESTREL6CH24");
    EXPECT_STREQ(p.h().Version, "V1.1.4");
    EXPECT_STREQ(p.h().SerialNumber, "S123");
    EXPECT_STREQ(p.h().FilterType, "F3");
    EXPECT_STREQ(p.h().GainCode, "HG");
    EXPECT_STREQ(p.h().Coupling, "AC");
    EXPECT_EQ(p.h().HasMde, 0);
    EXPECT_EQ(p.h().ModLength, 184);
    EXPECT_EQ(p.h().BlockCount, 4711u);
    EXPECT_EQ(p.h().TotalRate, -10);
    EXPECT_EQ(p.h().Decimation[1], -4);
    EXPECT_EQ(p.h().PhaseError, -7);
    EXPECT_EQ(p.h().GainValue[0], -1);
    EXPECT_EQ(p.h().GainValue[1], -12345);
    EXPECT_EQ(p.h().OffsetValue[0], 0x1FFFFFFF);
    EXPECT_EQ(p.h().LastValidGpsBlock, -1);
    EXPECT_NEAR(p.h().SupplyVoltage, 15.9, 1e-9);
    EXPECT_NEAR(p.h().SupplyCurrent, 22.0, 1e-9);
    EXPECT_NEAR(p.h().SensorTemp, -25.0, 1e-9);
    EXPECT_NEAR(p.h().RemoteVoltage, 5.0, 1e-9);
    EXPECT_NEAR(p.h().UserInput[0], -1.5, 1e-9);

    shape.mde = true;
    shape.rate = 3000;
    p = Parse(Build(shape).b);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.h().HasMde, 1);
    EXPECT_EQ(p.h().MdeLength, 180);
    EXPECT_STREQ(p.h().SerialNumber, "SN123456");
    const int16_t decimation[5] = {5, -4, 6, 7, 8};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(p.h().Decimation[i], decimation[i]);
    }
    EXPECT_EQ(p.h().GainValue[3], -1);
    EXPECT_EQ(p.h().OffsetValue[3], 0x1FFFFFFF);
    EXPECT_NEAR(p.h().ModuleTemp[0], -25.0, 1e-9);
    EXPECT_NEAR(p.h().ModuleTemp[5], -24.5, 1e-9);
}

TEST(FrameParser, SamplesOfEveryWidthAndChannelCountLeftJustified) {
    for (int width = 1; width <= 4; ++width) {
        const uint32_t mask = width == 4 ? ~0u : (1u << (8 * width)) - 1;
        const uint32_t top = mask >> 1;  // 0x7F.., then 0x80.., all ones, 1
        const uint32_t special[4] = {top, top + 1, mask, 1};
        for (int channels = 1; channels <= 6; ++channels) {
            Shape shape;
            shape.width = width;
            shape.channels = channels;
            shape.samples = 7;
            shape.wire = [&](int j, int k) {
                return j < 4 ? special[(j + k) % 4] : uint32_t(j * 37 + k * 11) & mask;
            };
            auto p = Parse(Build(shape).b);
            ASSERT_TRUE(p.ok) << width << " bytes, " << channels << " channels";
            EXPECT_EQ(SamplesPerChannel(p.h(), *p.block->Samples), 7u);
            for (int k = 0; k < MaxChannels; ++k) {
                const auto& got = p.block->Samples->Channel[k];
                ASSERT_EQ(got.size(), k < channels ? 7u : 0u);
                for (int j = 0; j < int(got.size()); ++j) {
                    EXPECT_EQ(got[j], Held(shape.wire(j, k), width))
                        << width << "/" << j << "/" << k;
                }
            }
        }
    }
    EXPECT_EQ(Held(0x7FFFFF, 3), 0x7FFFFF * 256);
    EXPECT_EQ(Held(0xFFFFFF, 3), -256);
    EXPECT_EQ(Held(0x80, 1), INT32_MIN);
}

TEST(FrameParser, SampleCountLimitAndFrameEnd) {
    Shape shape;
    shape.samples = 1000;  // 9000 bytes, 3 channels of 3 bytes
    auto p = Parse(Build(shape).b);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.block->Samples->DatLength, 9000);
    EXPECT_EQ(p.block->Samples->Channel[2].size(), 1000u);
    EXPECT_EQ(p.block->Sum->SumLength, 4u);

    shape.samples = 3000;
    EXPECT_TRUE(Parse(Build(shape).b).ok);
    shape.samples = 3001;
    EXPECT_FALSE(Parse(Build(shape).b).ok);

    shape.samples = 4;
    Frame f = Build(shape);
    f.b.insert(f.b.end(), {'M', 'O', 'X', 0});  // bytes after SUM are ignored
    EXPECT_TRUE(Parse(f.b).ok);

    shape.sum = false;
    f = Build(shape);
    p = Parse(f.b);
    ASSERT_TRUE(p.ok);  // ends exactly after DAT: Sum zero-filled
    EXPECT_EQ(p.block->Sum->SumLength, 0u);
    EXPECT_EQ(p.block->Sum->Checksum, 0);
    f.b.push_back('S');
    EXPECT_FALSE(Parse(f.b).ok);
    f.b.push_back('U');
    EXPECT_FALSE(Parse(f.b).ok);
}

// Each check of the decoder, in its order. The parts present after a
// failure show how far the decoder got, so a check done too early or too late
// shows up as the wrong stage.
// Where a frame ends: a decoded frame takes its records and no more, and a
// frame cut anywhere before its end is reported as waiting for bytes.
TEST(FrameParser, ExtentOfAFrame) {
    Shape shape;
    shape.mde = true;
    const Frame f = Build(shape);
    Bytes followed = f.b;
    for (const std::string& after : {std::string("MOD"), std::string(20, '\0') + "junk"}) {
        followed.insert(followed.end(), after.begin(), after.end());
        auto p = Parse(followed);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.extent.Used, int32_t(f.b.size()));
    }
    for (size_t cut = 0; cut < f.b.size(); ++cut) {
        auto p = Parse(Bytes(f.b.begin(), f.b.begin() + cut));
        if (cut == f.sum) {
            // Ending right after its samples it is a frame without SUM record.
            EXPECT_TRUE(p.ok);
            EXPECT_EQ(p.extent.Used, int32_t(cut));
        } else {
            EXPECT_FALSE(p.ok) << cut;
            EXPECT_TRUE(p.extent.CutShort) << cut;
        }
    }
    // Bytes at a hostile record position that are not there yet, and a
    // record position no bytes can reach.
    Frame far = Build(shape);
    Put(far.b, 4, 100000, 4);
    EXPECT_TRUE(Parse(far.b).extent.CutShort);
    Put(far.b, 4, -100, 4);
    EXPECT_FALSE(Parse(far.b).extent.CutShort);
}

TEST(FrameParser, RejectionsInTheirOrder) {
    enum Stage { HeaderOnly, WithGps, WithSamples, WithSum };
    struct Case {
        const char* name;
        std::function<void(Frame&)> spoil;
        Stage stage;
        bool reseal = true;
        bool cutShort = false;  // more bytes could still make it decode
    };
    const Case cases[] = {
        {"MOD shorter than 186", [](Frame& f) { f.b.resize(185); }, HeaderOnly, true, true},
        {"MOD byte 3", [](Frame& f) { f.b[3] = 1; }, HeaderOnly},
        {"BytesPerSample 5", [](Frame& f) { Put(f.b, 48, 5, 2); }, HeaderOnly},
        {"BytesPerSample 0", [](Frame& f) { Put(f.b, 48, 0, 2); }, HeaderOnly},
        {"NumComponents 7", [](Frame& f) { Put(f.b, 44, 7, 2); }, HeaderOnly},
        {"NumComponents 0", [](Frame& f) { Put(f.b, 44, 0, 2); }, HeaderOnly},
        {"TotalRate 3001", [](Frame& f) { Put(f.b, 46, 3001, 2); }, HeaderOnly},
        {"TotalRate 0", [](Frame& f) { Put(f.b, 46, 0, 2); }, HeaderOnly},
        {"MOD limit before bad SUM",
         [](Frame& f) {
             Put(f.b, 44, 7, 2);
             f.b[f.sum] = 'X';
         },
         HeaderOnly},
        {"shorter than 195", [](Frame& f) { f.b.resize(194); }, WithGps, true, true},
        {"MDE shorter than 188", [](Frame& f) { f.b.resize(f.mde + 187); }, WithGps, true, true},
        {"MDE byte 3", [](Frame& f) { f.b[f.mde + 3] = 1; }, WithGps},
        {"no DAT tag", [](Frame& f) { f.b[f.dat + 2] = 'X'; }, WithGps},
        {"DAT byte 3", [](Frame& f) { f.b[f.dat + 3] = 1; }, WithSamples},
        {"DAT longer than frame", [](Frame& f) { Put(f.b, f.dat + 4, 36 + 13, 4); }, WithSamples,
         true, true},
        {"DAT negative length", [](Frame& f) { Put(f.b, f.dat + 4, -1, 4); }, WithSamples},
        {"3001 samples",
         [](Frame& f) {
             Shape big;
             big.samples = 3001;
             f = Build(big);
         },
         WithSamples},
        {"1 byte after DAT", [](Frame& f) { f.b.resize(f.sum + 1); }, WithSum, true, true},
        {"2 bytes after DAT", [](Frame& f) { f.b.resize(f.sum + 2); }, WithSum, true, true},
        {"no SUM tag", [](Frame& f) { f.b[f.sum] = 'X'; }, WithSum},
        {"SUM shorter than 12", [](Frame& f) { f.b.resize(f.sum + 11); }, WithSum, true, true},
        {"SUM byte 3", [](Frame& f) { f.b[f.sum + 3] = 1; }, WithSum},
        {"checksum off by one", [](Frame& f) { f.b[f.sum + 10] ^= 1; }, WithSum, false},
    };
    Shape shape;
    shape.mde = true;
    ASSERT_TRUE(Parse(Build(shape).b).ok);
    for (const Case& c : cases) {
        Frame f = Build(shape);
        c.spoil(f);
        if (c.reseal) {
            f.Seal();
        }
        auto p = Parse(f.b);
        EXPECT_FALSE(p.ok) << c.name;
        EXPECT_TRUE(p.block->Header) << c.name;
        EXPECT_EQ(bool(p.block->Gps), c.stage >= WithGps) << c.name;
        EXPECT_EQ(bool(p.block->Samples), c.stage >= WithSamples) << c.name;
        EXPECT_EQ(bool(p.block->Sum), c.stage >= WithSum) << c.name;
        EXPECT_EQ(p.extent.CutShort, c.cutShort) << c.name;
    }
    EXPECT_FALSE(ParseFrame(nullptr, Build(shape).b.data(), 300));
}

TEST(FrameParser, RmcSentenceColumns) {
    auto p = Parse(Build({}).b);
    ASSERT_TRUE(p.ok);
    const TGpsInfo& g = p.gps();
    EXPECT_EQ(std::string(g.Text), Rmc.substr(0, 70));
    EXPECT_EQ(g.Present, 1);
    EXPECT_EQ(g.Source, 1);
    EXPECT_EQ(g.FixValid, 1);
    EXPECT_EQ(g.Hour * 10000 + g.Minute * 100 + g.Second, 123519);
    EXPECT_EQ(g.LatDegrees, 48);
    EXPECT_DOUBLE_EQ(g.LatMinutes, 27.4068);
    EXPECT_EQ(g.LatHemisphere, 'N');
    EXPECT_EQ(g.LonDegrees, 11);
    EXPECT_DOUBLE_EQ(g.LonMinutes, 31.0);
    EXPECT_EQ(g.LonHemisphere, 'E');
    EXPECT_DOUBLE_EQ(g.Speed, 22.4);
    EXPECT_DOUBLE_EQ(g.Course, 84.4);
    EXPECT_EQ(g.Year * 10000 + g.Month * 100 + g.Day, 20240323);
    EXPECT_DOUBLE_EQ(g.MagVariation, 3.1);
    EXPECT_EQ(g.MagVariationDir, 'W');

    TGpsInfo untouched;
    ParseRmc(&untouched, reinterpret_cast<const uint8_t*>(Rmc.data()), 71);
    EXPECT_EQ(untouched.Present, 0);
    EXPECT_EQ(untouched.Text[0], 0);
}

std::string Pad(std::string s, size_t n) {
    return s.resize(n, ' '), s;
}
// Reports padded to the length the scan skips; the fields follow the tag.
// clang-format off
const std::string Al = Pad(">RAL" "43200" "+01234" "-012" "3" "7", 28);
const std::string Pv = Pad(">RPV" "43201" "+37" "45678" "-122" "34567" "012" "270" "5" "6", 41);
const std::string St = Pad(">RST" " ABC" "12" " F", 21);
const std::string Tm = Pad(">RTM" "123456" "   " "23" "03" "2024" "01" "3" "09" "1", 39);
// clang-format on

TEST(FrameParser, ReceiverReports) {
    Shape shape;
    shape.mde = true;
    shape.gps = std::string(72, ' ');  // no sentence: the reports are decoded
    shape.reports = "  " + Al + Pv + St + Tm;
    auto p = Parse(Build(shape).b);
    ASSERT_TRUE(p.ok);
    const TGpsInfo& g = p.gps();
    EXPECT_EQ(std::string(g.Text), shape.reports.substr(0, 129));
    EXPECT_EQ(g.Present * 100 + g.FixValid * 10 + g.Source, 112);
    EXPECT_EQ(g.Altitude, 1234);  // AL
    EXPECT_DOUBLE_EQ(g.VerticalVelocity, -12.0);
    EXPECT_EQ(g.FixAge, '6');  // PV overwrote AL's '7'
    EXPECT_EQ(g.TimeOfDay, 43201);
    EXPECT_EQ(g.LatHemisphere, 'N');
    EXPECT_EQ(g.LatDegrees, 37);
    EXPECT_NEAR(g.LatMinutes, 27.4068, 1e-9);
    EXPECT_EQ(g.LonHemisphere, 'W');
    EXPECT_EQ(g.LonDegrees, 122);
    EXPECT_NEAR(g.LonMinutes, 20.7402, 1e-9);
    EXPECT_DOUBLE_EQ(g.Speed, 12.0);
    EXPECT_DOUBLE_EQ(g.Course, 270.0);
    EXPECT_EQ(std::string({g.Status1, g.Status2, g.Status3, g.StatusFlag}), "ABCF");  // ST
    EXPECT_STREQ(g.StatusCode, "12");
    EXPECT_EQ(g.Hour * 10000 + g.Minute * 100 + g.Second, 123456);  // TM
    EXPECT_EQ(g.Year * 10000 + g.Month * 100 + g.Day, 20240323);
    EXPECT_EQ(g.UtcOffset, 1);
    EXPECT_EQ(g.FixSource, '3');  // TM overwrote PV's '5'
    EXPECT_EQ(g.SvCount, 9);
    EXPECT_EQ(g.TimeValid, 1);

    // A bare "0" status report: ST positions count from the "0"; no fix.
    shape.reports = "  " + Al + "0XYZ34 G";
    p = Parse(Build(shape).b);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(std::string(p.gps().Text).substr(0, 8), "0XYZ34 G");
    EXPECT_EQ(p.gps().Present * 100 + p.gps().FixValid * 10 + p.gps().Source, 102);
    EXPECT_EQ(p.gps().Status1, 'X');
    EXPECT_STREQ(p.gps().StatusCode, "34");
    EXPECT_EQ(p.gps().StatusFlag, 'G');

    // With a sentence in the MOD record the reports are not decoded.
    shape.gps = Rmc;
    p = Parse(Build(shape).b);
    EXPECT_EQ(p.gps().Source, 1);
    EXPECT_EQ(p.gps().TimeOfDay, 0);
    EXPECT_EQ(p.gps().Status1, 0);
}

// Tags and "0" reports at the end of an area of exactly 130 bytes: nothing
// beyond it is read, and decoders without their minimum leave fields alone.
TEST(FrameParser, ReportScanStaysInsideTheArea) {
    for (const char* text : {">RAL43200+01", ">RST A", ">R", "0AB", "0"}) {
        const std::string tail = text;
        std::string area(130, ' ');
        area.replace(130 - tail.size(), tail.size(), tail);
        auto exact = std::make_unique<uint8_t[]>(130);
        std::memcpy(exact.get(), area.data(), 130);
        TGpsInfo g;
        ParseReports(&g, exact.get(), 130);
        EXPECT_EQ(g.Present, int(tail != ">R")) << tail;
        EXPECT_EQ(g.TimeOfDay + g.Status1, 0) << tail;
        if (tail[0] == '0') {
            EXPECT_EQ(std::string(g.Text), tail);
        }
    }
}

// Lengths that point anywhere: rejected without reading outside the frame
// (the checks that matter here are AddressSanitizer's).
TEST(FrameParser, HostileLengthFields) {
    Shape shape;
    shape.mde = true;
    const Frame good = Build(shape);
    const int64_t hostile[] = {INT32_MAX,
                               INT32_MAX - 7,
                               0x7FFFFFF0,
                               -1,
                               -8,
                               -9,
                               -200,
                               INT32_MIN,
                               int64_t(good.b.size()) - 9,
                               int64_t(good.b.size()) - 10};
    for (size_t field : {size_t(4), good.mde + 4, good.dat + 4}) {
        for (int64_t length : hostile) {
            Frame f = good;
            Put(f.b, field, length, 4);
            f.Seal();
            EXPECT_FALSE(Parse(f.b).ok) << field << ": " << length;
            f.b.resize(f.sum);  // and without the SUM record
            EXPECT_FALSE(Parse(f.b).ok) << field << ": " << length;
        }
    }
    // A longer MOD record is followed by its length; the length bookkeeping
    // then counts 16 bytes too many, which must not lead past the frame's end.
    shape.mde = false;
    Frame f = Build(shape);
    f.b.insert(f.b.begin() + 192, 16, 'x');
    Put(f.b, 4, 200, 4);
    f.sum += 16;
    f.Seal();
    EXPECT_TRUE(Parse(f.b).ok);
    f.b.resize(f.sum + 6);  // SUM cut short
    EXPECT_FALSE(Parse(f.b).ok);
    f.b.resize(f.sum);  // no SUM
    EXPECT_FALSE(Parse(f.b).ok);
    Put(f.b, 208 + 4, 36 + 16, 4);  // DAT as long as the bookkeeping allows
    EXPECT_FALSE(Parse(f.b).ok);
}

TEST(FrameParser, ColumnConversionsLikeTheCLibrary) {
    auto i = [](const char* s, int w) {
        return ColumnToInt(reinterpret_cast<const uint8_t*>(s), w);
    };
    auto d = [](const char* s, int w) {
        return ColumnToDouble(reinterpret_cast<const uint8_t*>(s), w);
    };
    EXPECT_EQ(i(" \t-12x5", 7), -12);
    EXPECT_EQ(i("+0734", 3), 7);  // exactly its columns
    EXPECT_EQ(i("--5", 3), 0);
    EXPECT_EQ(i("  ", 2), 0);
    EXPECT_EQ(i("99999999999", 11), INT32_MAX);
    EXPECT_EQ(i("-2147483648", 11), INT32_MIN);
    EXPECT_DOUBLE_EQ(d(" -1.5e2,", 8), -150.0);
    EXPECT_DOUBLE_EQ(d(".25", 3), 0.25);
    EXPECT_DOUBLE_EQ(d("-+1", 3), 0.0);
    EXPECT_DOUBLE_EQ(d("1.239", 3), 1.2);
    EXPECT_EQ(d("1e999", 5), HUGE_VAL);
    EXPECT_EQ(d("1e-999", 6), 0.0);
}

TEST(FrameParser, NumbersIgnoreTheProcessLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8",
                             "nl_NL.UTF-8", "ru_RU.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) && std::localeconv()->decimal_point[0] == ',') {
            comma = true;
            break;
        }
    }
    // None installed: compile one into a private directory.
    std::string built;
    if (!comma) {
        char dir[] = "/tmp/kestrel-locale-XXXXXX";
        if (mkdtemp(dir) != nullptr) {
            built = dir;
            const std::string command =
                "localedef -i de_DE -f UTF-8 " + built + "/de_DE.UTF-8 >/dev/null 2>&1";
            if (std::system(command.c_str()) == 0 && setenv("LOCPATH", dir, 1) == 0 &&
                std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) {
                comma = std::localeconv()->decimal_point[0] == ',';
            }
        }
    }
    if (!comma) {
        std::setlocale(LC_ALL, previous.c_str());
        GTEST_SKIP() << "no locale with a decimal comma is installed or can be built";
    }
    auto p = Parse(Build({}).b);
    std::setlocale(LC_ALL, previous.c_str());
    if (!built.empty()) {
        unsetenv("LOCPATH");
        std::filesystem::remove_all(built);
    }
    ASSERT_TRUE(p.ok);
    EXPECT_DOUBLE_EQ(p.gps().LatMinutes, 27.4068);
    EXPECT_DOUBLE_EQ(p.gps().Speed, 22.4);
}

// Every allocation of a decode in turn fails: a failed decode, never a crash.
TEST(FrameParser, OutOfMemoryIsAFailure) {
    Shape shape;
    shape.channels = 6;
    shape.mde = true;
    const Bytes frame = Build(shape).b;
    for (int allowed = 0;; ++allowed) {
        allocationsRefused = 0;
        allocationsLeft = allowed;
        TDataBlock* block = NewBlock();
        const bool ok = ParseFrame(block, frame.data(), int32_t(frame.size()));
        allocationsLeft = -1;
        FreeBlock(block);
        if (allocationsRefused == 0) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(allowed, 11);  // block, 4 parts, 6 channels
            break;
        }
        EXPECT_FALSE(ok) << allowed;
    }
}

TEST(DataBlock, NewFreeAndSamplesPerChannel) {
    TDataBlock* block = NewBlock();
    ASSERT_NE(block, nullptr);
    EXPECT_FALSE(block->Header || block->Gps || block->Samples || block->Sum);
    FreeBlock(block);
    FreeBlock(nullptr);
    TBlockHeader h;
    TSampleSet s;
    s.DatLength = 9000;
    EXPECT_EQ(SamplesPerChannel(h, s), 0u);  // no channels declared
    h.NumComponents = 3;
    h.BytesPerSample = 3;
    EXPECT_EQ(SamplesPerChannel(h, s), 1000u);
}

}  // namespace
