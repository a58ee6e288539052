// The receiver on its own: framing, recovery, echoes and the upload modes,
// fed byte streams directly.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "digitizer/digitizer.h"
#include "support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A link without a device: nothing is sent, Receive is driven by hand and the
// posted blocks are collected by their block counts.
struct Receiver {
    std::vector<uint32_t> counts;
    std::vector<std::vector<int32_t>> firstChannel;
    TDigitizer link;

    Receiver()
        : link(
              1, 19200,
              [this](TDataBlock* block) {
                  counts.push_back(block->Header->BlockCount);
                  firstChannel.push_back(block->Samples->Channel[0]);
                  FreeBlock(block);
                  return true;
              },
              "/dev/kestrel-test-no-device") {}

    void Feed(const Bytes& bytes) { link.Receive(bytes.data(), static_cast<int>(bytes.size())); }
    void Feed(const std::string& text) { Feed(Text(text)); }
};

// Frames 1..n of varied shapes, then a "MOD" so that the last one is complete.
Bytes Stream(int n, std::vector<uint32_t>* counts = nullptr) {
    Bytes stream;
    for (int i = 1; i <= n; ++i) {
        Append(stream, TestFrameBytes(i, 1 + i % 6, 20 + 7 * i, 1 + i % 4, i % 2 == 0));
        if (counts) {
            counts->push_back(i);
        }
    }
    Append(stream, Text("MOD"));
    return stream;
}

std::vector<uint32_t> Range(uint32_t from, uint32_t to) {
    std::vector<uint32_t> out;
    for (uint32_t i = from; i <= to; ++i) {
        out.push_back(i);
    }
    return out;
}

// A valid frame whose sample bytes contain "MOD".
Bytes FrameWithTagInSamples(uint32_t count) {
    TWireFrame frame = MakeTestFrame(count, 1, 30, 3);
    frame.Samples[0][10] = 0x444F4D;  // little-endian: 'M' 'O' 'D'
    return EncodeFrame(frame);
}

}  // namespace

TEST(Receive, AnyCutOfTheStreamYieldsTheSameBlocks) {
    std::vector<uint32_t> expected;
    const Bytes stream = Stream(6, &expected);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Receiver r;
        r.link.Receive(stream.data(), static_cast<int>(cut));
        r.link.Receive(stream.data() + cut, static_cast<int>(stream.size() - cut));
        ASSERT_EQ(r.counts, expected) << "cut at " << cut;
    }
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        Receiver r;
        size_t at = 0;
        while (at < stream.size()) {
            size_t n = std::min(stream.size() - at, size_t(1 + random() % 300));
            r.link.Receive(stream.data() + at, static_cast<int>(n));
            at += n;
        }
        ASSERT_EQ(r.counts, expected) << "trial " << trial;
    }
}

TEST(Receive, AStreamStartingMidFrameLosesOnlyThePartialFrame) {
    Bytes frame1 = TestFrameBytes(1);
    Bytes stream(frame1.begin() + 40, frame1.end());
    Receiver r;
    r.Feed(stream);
    EXPECT_FALSE(r.link.Synced());
    Bytes rest;
    Append(rest, TestFrameBytes(2));
    r.Feed(rest);
    EXPECT_TRUE(r.counts.empty()) << "posted before the next frame began";
    r.Feed("MOD");
    EXPECT_EQ(r.counts, std::vector<uint32_t>{2});
}

TEST(Receive, AFrameWithTheTagInsideItsSamplesIsStillDecodedWhole) {
    Bytes stream;
    Append(stream, TestFrameBytes(1));
    Append(stream, FrameWithTagInSamples(2));
    Append(stream, TestFrameBytes(3));
    Append(stream, Text("MOD"));
    Receiver r;
    r.Feed(stream);
    EXPECT_EQ(r.counts, Range(1, 3));
    EXPECT_EQ(r.firstChannel[1][10], 0x444F4D << 8);
    EXPECT_EQ(r.link.FrameErrors(), 0);
}

TEST(Receive, ADamagedFrameCostsOnlyItself) {
    // Damage in the samples (checksum), in a length field, and a truncated
    // frame; small frames and frames too long for two to share the buffer.
    const std::vector<std::function<void(Bytes&)>> damages = {
        [](Bytes& f) { f[300] ^= 0x01; },
        [](Bytes& f) { f[192 + 5] ^= 0x40; },  // the DAT length
        [](Bytes& f) { f.resize(f.size() / 2); },
    };
    for (int samples : {60, 2900}) {
        for (size_t d = 0; d < damages.size(); ++d) {
            Bytes stream;
            for (uint32_t i = 1; i <= 6; ++i) {
                Bytes frame = TestFrameBytes(i, samples > 1000 ? 1 : 3, samples, 4);
                if (i == 3) {
                    damages[d](frame);
                }
                Append(stream, frame);
            }
            Append(stream, Text("MOD"));
            Receiver r;
            r.Feed(stream);
            EXPECT_EQ(r.counts, (std::vector<uint32_t>{1, 2, 4, 5, 6}))
                << "damage " << d << ", " << samples << " samples";
        }
    }
}

TEST(Receive, ThreeFailuresInARowResynchronise) {
    Receiver r;
    r.Feed("MOD");
    EXPECT_TRUE(r.link.Synced());
    for (int i = 1; i <= 3; ++i) {
        r.Feed(" and then no frame MOD");
        EXPECT_EQ(r.link.FrameErrors(), i % 3);
    }
    EXPECT_FALSE(r.link.Synced());
    EXPECT_EQ(r.link.RxPos(), 0);
    Bytes stream;
    Append(stream, TestFrameBytes(7));
    Append(stream, TestFrameBytes(8));
    r.Feed(stream);
    r.Feed("MOD");
    EXPECT_EQ(r.counts, Range(7, 8));

    // Noise without a tag for longer than the buffer empties it and waits.
    r.Feed(Bytes(RxBufferSize + 10, 'x'));
    EXPECT_FALSE(r.link.Synced());
    EXPECT_LT(r.link.RxPos(), 20);
}

TEST(Receive, EchoesAreTakenOutOfTheStreamAtAnyPosition) {
    const Bytes frame = TestFrameBytes(1);
    const Bytes next = TestFrameBytes(2);
    for (size_t at = 0; at <= frame.size(); at += 7) {
        Receiver r;
        r.link.SetCalibration(1);
        Bytes stream(frame.begin(), frame.begin() + at);
        Append(stream, Text("$CA"));
        stream.insert(stream.end(), frame.begin() + at, frame.end());
        Append(stream, next);
        Append(stream, Text("MOD"));
        r.Feed(stream);
        EXPECT_EQ(r.link.QueueLength(), 0) << "echo at " << at;
        EXPECT_EQ(r.counts, Range(1, 2)) << "echo at " << at;
    }
}

TEST(Receive, EchoesSplitAcrossChunksAreNotRecognised) {
    Receiver r;
    r.link.SetCalibration(1);
    r.Feed("xx$C");
    r.Feed("Azz");
    EXPECT_EQ(r.link.QueueLength(), 1);
    EXPECT_EQ(r.link.RxPos(), 7);
    r.Feed("$CA");
    EXPECT_EQ(r.link.QueueLength(), 0);
    EXPECT_EQ(r.link.RxPos(), 7);
}

TEST(Receive, MemoryWriteEchoesMustCarryTheDataSum) {
    Receiver r;
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A};  // odd last byte not summed
    r.link.WriteMemory(0x0100, 5, data);
    EXPECT_EQ(r.link.PendingWrites(), 1);
    r.Feed(Bytes{'$', 'D', 'R', 0x68, 0xAD});
    EXPECT_EQ(r.link.QueueLength(), 1);
    r.Feed(Bytes{'$', 'D', 'R', 0x68, 0xAC, 'x'});
    EXPECT_EQ(r.link.QueueLength(), 0);
    EXPECT_EQ(r.link.PendingWrites(), 0);

    // With fewer than five bytes left in the chunk the letters alone count.
    r.link.WriteMemory(0x0100, 4, data);
    r.Feed("$DR");
    EXPECT_EQ(r.link.QueueLength(), 0);
    EXPECT_EQ(r.link.PendingWrites(), 0);
}

TEST(Receive, BootWaitEndsAtTheReadyLine) {
    Receiver r;
    r.link.SetBootWait(true);
    r.Feed("Boot loader 2.1\r\nReady.\r\nabc");
    EXPECT_FALSE(r.link.BootWait());
    EXPECT_EQ(r.link.RxPos(), 0) << "bytes after the ready line were kept";

    // Bytes collected before the wait began are no part of the line.
    r.Feed("left over from a memory read");
    r.link.SetBootWait(true);
    r.Feed("Ready.\r\n");
    EXPECT_FALSE(r.link.BootWait());

    // The line is judged by its own first bytes, however it was cut.
    r.link.SetBootWait(true);
    r.Feed("Rea");
    r.Feed("dy.\n");
    EXPECT_FALSE(r.link.BootWait());

    r.link.SetBootWait(true);
    r.Feed("Ready\n");
    r.Feed("Ready!\r\n");
    r.Feed(" Ready.\r\n");
    EXPECT_TRUE(r.link.BootWait());

    // Frames are not framed while waiting, and a line without end wraps.
    Bytes stream;
    Append(stream, TestFrameBytes(1));
    Append(stream, TestFrameBytes(2));
    Append(stream, Text("MOD"));
    r.Feed(stream);
    EXPECT_TRUE(r.counts.empty());
    r.Feed(Bytes(3 * RxBufferSize, 'x'));
    EXPECT_LE(r.link.RxPos(), RxBufferSize);
    EXPECT_TRUE(r.link.BootWait());
}

TEST(Receive, MemoryReadCapturesUntilTheNextCommandIsRemoved) {
    Receiver r;
    r.link.ReadSerialNumber();
    r.link.SendBH(1);
    EXPECT_EQ(r.link.ReadBackMode(), 2);
    Bytes answer = {'$', 'U', 'R', 'M', 'O', 'D', 0x00, 0xFF, '$', 'U', 'R'};
    r.Feed(Bytes(answer.begin(), answer.begin() + 6));
    EXPECT_EQ(r.link.ReadBackMode(), 1);
    r.Feed(Bytes(answer.begin() + 6, answer.end()));
    r.Feed("$BH");
    EXPECT_EQ(r.link.ReadBackMode(), 0);
    EXPECT_EQ(r.link.QueueLength(), 0);
    uint8_t capture[8];
    ASSERT_EQ(r.link.CopyCapture(capture, 8), 8);
    EXPECT_EQ(Bytes(capture, capture + 8), Bytes(answer.begin() + 3, answer.end()));

    // Framing resumes after the capture.
    Bytes stream;
    Append(stream, TestFrameBytes(4));
    Append(stream, TestFrameBytes(5));
    Append(stream, Text("MOD"));
    r.Feed(stream);
    EXPECT_EQ(r.counts, Range(4, 5));
}

TEST(Receive, ABlockThePostRefusesIsFreedByTheLink) {
    int offered = 0;
    TDigitizer link(
        1, 19200,
        [&offered](TDataBlock*) {
            ++offered;
            return false;
        },
        "/dev/kestrel-test-no-device");
    const Bytes stream = Stream(3);
    EXPECT_TRUE(link.Receive(stream.data(), static_cast<int>(stream.size())));
    EXPECT_EQ(offered, 3);  // LeakSanitizer reports the blocks if they leak
}
