// The receiver on its own: framing, recovery, echoes and the upload modes,
// fed byte streams directly.
#include "digitizer/receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "digitizer/digitizer.h"
#include "support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Command bytes as the builders lay them out: letters, then the argument.
Bytes Command(const char* letters, Bytes argument = {}) {
    Bytes bytes(3 + argument.size());
    std::memcpy(bytes.data(), letters, 3);
    std::copy(argument.begin(), argument.end(), bytes.begin() + 3);
    return bytes;
}

// The memory read of the serial number: 4 words at word address 0x0FF8.
const Bytes SerialNumberRead = Command("$UR", {0x00, 0x00, 0x0F, 0xF8, 0x00, 0x04});

// A receiver with its command queue; the posted blocks are collected by their
// block counts.
struct Receiver {
    std::vector<uint32_t> counts;
    std::vector<std::vector<int32_t>> firstChannel;
    TCommandQueue queue;
    TReceiver rx{queue, [this](TDataBlock* block) {
                     counts.push_back(block->Header->BlockCount);
                     firstChannel.push_back(block->Samples->Channel[0]);
                     FreeBlock(block);
                     return true;
                 }};

    void Feed(const Bytes& bytes) { rx.Receive(bytes.data(), static_cast<int>(bytes.size())); }
    void Feed(const std::string& text) { Feed(Text(text)); }
    // The upload's question for the serial number, answered by "$BH".
    void QueueSerialNumberRead() {
        queue.EnqueueMemoryRead(SerialNumberRead, -1);
        queue.Enqueue(Command("$BH"), 1);
    }
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
        r.rx.Receive(stream.data(), static_cast<int>(cut));
        r.rx.Receive(stream.data() + cut, static_cast<int>(stream.size() - cut));
        ASSERT_EQ(r.counts, expected) << "cut at " << cut;
    }
    std::mt19937 random(7);
    for (int trial = 0; trial < 200; ++trial) {
        Receiver r;
        size_t at = 0;
        while (at < stream.size()) {
            size_t n = std::min(stream.size() - at, size_t(1 + random() % 300));
            r.rx.Receive(stream.data() + at, static_cast<int>(n));
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
    EXPECT_FALSE(r.rx.Synced());
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
    EXPECT_EQ(r.rx.FrameErrors(), 0);
}

// Damage of every kind, alone and three in a row, to small frames and to the
// largest (six channels of 500 three-byte samples with MDE, too long for two
// to share the buffer), with tags inside the samples of good frames after it.
TEST(Receive, DamagedFramesCostOnlyThemselves) {
    struct TDamage {
        const char* name;
        std::function<void(Bytes&, size_t dat)> apply;
    };
    const TDamage damages[] = {
        {"sample byte", [](Bytes& f, size_t) { f[f.size() - 100] ^= 0x01; }},
        {"DAT length", [](Bytes& f, size_t dat) { f[dat + 5] ^= 0x40; }},
        {"truncated", [](Bytes& f, size_t) { f.resize(f.size() / 2); }},
        {"tag", [](Bytes& f, size_t) { f[1] = 'X'; }},
        {"deleted byte", [](Bytes& f, size_t dat) { f.erase(f.begin() + dat + 100); }},
    };
    struct TShape {
        int channels, samples, bytes;
        bool mde;
    };
    for (const TShape shape : {TShape{3, 60, 4, false}, TShape{6, 500, 3, true}}) {
        for (const TDamage& damage : damages) {
            for (const std::vector<uint32_t>& damaged :
                 {std::vector<uint32_t>{3}, std::vector<uint32_t>{2, 3, 4}}) {
                Bytes stream;
                std::vector<uint32_t> good;
                for (uint32_t i = 1; i <= 7; ++i) {
                    TWireFrame wire =
                        MakeTestFrame(i, shape.channels, shape.samples, shape.bytes, shape.mde);
                    const bool spoilt =
                        std::find(damaged.begin(), damaged.end(), i) != damaged.end();
                    if (!spoilt && i % 2 == 1) {
                        PlantInSamples(wire, "xMODxxxMODx");
                    }
                    Bytes frame = EncodeFrame(wire);
                    if (spoilt) {
                        damage.apply(frame, ModRecordSize + (shape.mde ? MdeRecordSize : 0));
                    } else {
                        good.push_back(i);
                    }
                    Append(stream, frame);
                }
                Append(stream, Text("MOD"));
                Receiver r;
                r.Feed(stream);
                EXPECT_EQ(r.counts, good) << damage.name << ", " << damaged.size() << " damaged, "
                                          << shape.samples << " samples";
            }
        }
    }
}

TEST(Receive, ThreeFailuresInARowStartAgainAtTheNewestTag) {
    Receiver r;
    r.Feed("MOD");
    EXPECT_TRUE(r.rx.Synced());
    for (int i = 1; i <= 3; ++i) {
        r.Feed(" and then no frame MOD");
        EXPECT_EQ(r.rx.FrameErrors(), i % 3);
        EXPECT_TRUE(r.rx.Synced());
        EXPECT_EQ(r.rx.RxPos(), 3) << "bytes before the newest tag were kept";
    }
    // The frame that begins at the third tag is not lost.
    Bytes frame = TestFrameBytes(7);
    r.Feed(Bytes(frame.begin() + 3, frame.end()));
    r.Feed(TestFrameBytes(8));
    r.Feed("MOD");
    EXPECT_EQ(r.counts, Range(7, 8));
}

TEST(Receive, NoiseLongerThanTheBufferEmptiesItButKeepsATagItCuts) {
    Receiver r;
    r.Feed("MOD");
    r.Feed(Bytes(RxBufferSize + 10, 'x'));
    EXPECT_FALSE(r.rx.Synced());
    EXPECT_LT(r.rx.RxPos(), 20);

    // A tag whose last letter is the first byte without room.
    Receiver cut;
    Bytes stream(RxBufferSize - 2, 'x');
    Append(stream, TestFrameBytes(1));
    Append(stream, TestFrameBytes(2));
    Append(stream, Text("MOD"));
    cut.Feed(stream);
    EXPECT_EQ(cut.counts, Range(1, 2));
}

TEST(Receive, EchoesAreTakenOutOfTheStreamAtAnyPosition) {
    const Bytes frame = TestFrameBytes(1);
    const Bytes next = TestFrameBytes(2);
    for (size_t at = 0; at <= frame.size(); at += 7) {
        Receiver r;
        r.queue.Enqueue(Command("$CA", {0, 1}), 3);
        Bytes stream(frame.begin(), frame.begin() + at);
        Append(stream, Text("$CA"));
        stream.insert(stream.end(), frame.begin() + at, frame.end());
        Append(stream, next);
        Append(stream, Text("MOD"));
        r.Feed(stream);
        EXPECT_EQ(r.queue.Length(), 0) << "echo at " << at;
        EXPECT_EQ(r.counts, Range(1, 2)) << "echo at " << at;
    }
}

TEST(Receive, EchoesSplitAcrossChunksAreNotRecognised) {
    Receiver r;
    r.queue.Enqueue(Command("$CA", {0, 1}), 3);
    r.Feed("xx$C");
    r.Feed("Azz");
    EXPECT_EQ(r.queue.Length(), 1);
    EXPECT_EQ(r.rx.RxPos(), 7);
    r.Feed("$CA");
    EXPECT_EQ(r.queue.Length(), 0);
    EXPECT_EQ(r.rx.RxPos(), 7);
}

TEST(Receive, MemoryWriteEchoesMustCarryTheDataSum) {
    Receiver r;
    // Address and count, then data words 0x1234 and 0x5678; an odd last byte is not summed.
    const Bytes write = Command("$DR", {0, 0, 0, 0x80, 0, 2, 0x12, 0x34, 0x56, 0x78, 0x9A});
    r.queue.EnqueueMemoryWrite(write, -1);
    EXPECT_EQ(r.queue.PendingWrites(), 1);
    r.Feed(Bytes{'$', 'D', 'R', 0x68, 0xAD});
    EXPECT_EQ(r.queue.Length(), 1);
    r.Feed(Bytes{'$', 'D', 'R', 0x68, 0xAC, 'x'});
    EXPECT_EQ(r.queue.Length(), 0);
    EXPECT_EQ(r.queue.PendingWrites(), 0);

    // With fewer than five bytes left in the chunk the letters alone count.
    r.queue.EnqueueMemoryWrite(write, -1);
    r.Feed("$DR");
    EXPECT_EQ(r.queue.Length(), 0);
    EXPECT_EQ(r.queue.PendingWrites(), 0);
}

TEST(Receive, BootWaitEndsAtTheReadyLine) {
    Receiver r;
    r.rx.SetBootWait(true);
    r.Feed("Boot loader 2.1\r\nReady.\r\nabc");
    EXPECT_FALSE(r.rx.BootWait());
    EXPECT_EQ(r.rx.RxPos(), 0) << "bytes after the ready line were kept";

    // Bytes collected before the wait began are no part of the line.
    r.Feed("left over from a memory read");
    r.rx.SetBootWait(true);
    r.Feed("Ready.\r\n");
    EXPECT_FALSE(r.rx.BootWait());

    // The line is judged by its own first bytes, however it was cut.
    r.rx.SetBootWait(true);
    r.Feed("Rea");
    r.Feed("dy.\n");
    EXPECT_FALSE(r.rx.BootWait());

    r.rx.SetBootWait(true);
    r.Feed("Ready\n");
    r.Feed("Ready!\r\n");
    r.Feed(" Ready.\r\n");
    EXPECT_TRUE(r.rx.BootWait());

    // Frames are not framed while waiting, and a line without end wraps.
    Bytes stream;
    Append(stream, TestFrameBytes(1));
    Append(stream, TestFrameBytes(2));
    Append(stream, Text("MOD"));
    r.Feed(stream);
    EXPECT_TRUE(r.counts.empty());
    r.Feed(Bytes(3 * RxBufferSize, 'x'));
    EXPECT_LE(r.rx.RxPos(), RxBufferSize);
    EXPECT_TRUE(r.rx.BootWait());
}

TEST(Receive, MemoryReadCapturesUntilTheNextCommandIsRemoved) {
    Receiver r;
    r.QueueSerialNumberRead();
    EXPECT_EQ(r.queue.ReadBackMode(), 2);
    Bytes answer = {'$', 'U', 'R', 'M', 'O', 'D', 0x00, 0xFF, '$', 'U', 'R'};
    r.Feed(Bytes(answer.begin(), answer.begin() + 6));
    EXPECT_EQ(r.queue.ReadBackMode(), 1);
    r.Feed(Bytes(answer.begin() + 6, answer.end()));
    r.Feed("$BH");
    EXPECT_EQ(r.queue.ReadBackMode(), 0);
    EXPECT_EQ(r.queue.Length(), 0);
    uint8_t capture[8];
    ASSERT_EQ(r.rx.CopyCapture(capture, 8), 8);
    EXPECT_EQ(Bytes(capture, capture + 8), Bytes(answer.begin() + 3, answer.end()));

    // Framing resumes after the capture.
    Bytes stream;
    Append(stream, TestFrameBytes(4));
    Append(stream, TestFrameBytes(5));
    Append(stream, Text("MOD"));
    r.Feed(stream);
    EXPECT_EQ(r.counts, Range(4, 5));
}

namespace {

// Remembered tags far into the buffer: two tags 5000 bytes apart.
void TwoTagsApart(Receiver& r) {
    r.Feed("MOD");
    r.Feed(Bytes(5000 - 3, 'x'));
    r.Feed("MOD");
}

// A tag, then more than a buffer's worth without one, in reads of 2048.
void FillWithoutTag(Receiver& r) {
    r.Feed("MOD");
    for (int i = 0; i < 16; ++i) {
        r.Feed(Bytes(ReadChunkSize, 'x'));
    }
}

struct TReset {
    const char* Name;
    std::function<void(Receiver&)> Apply;
};

class ReceiveReset : public ::testing::TestWithParam<TReset> {};

}  // namespace

// Every reset of the position outside framing forgets the remembered tags: a
// stale tag beyond the new position would make the buffer's compaction read
// before its start.
TEST_P(ReceiveReset, ForgetsTheRememberedTags) {
    Receiver r;
    TwoTagsApart(r);
    GetParam().Apply(r);
    FillWithoutTag(r);
    EXPECT_LE(r.rx.RxPos(), RxBufferSize);
    r.Feed(Stream(2));
    EXPECT_EQ(r.counts, Range(1, 2));
}

INSTANTIATE_TEST_SUITE_P(Receive, ReceiveReset,
                         ::testing::Values(TReset{"CaptureStart",
                                                  [](Receiver& r) {
                                                      r.QueueSerialNumberRead();
                                                      r.Feed("$UR");
                                                      r.Feed(Bytes(8, 'c'));
                                                      r.Feed("$BH");
                                                  }},
                                           TReset{"CaptureWrap",
                                                  [](Receiver& r) {
                                                      r.QueueSerialNumberRead();
                                                      r.Feed("$UR");
                                                      for (int i = 0; i < 10; ++i) {
                                                          r.Feed(Bytes(2000, 'c'));
                                                      }
                                                      EXPECT_LT(r.rx.RxPos(), 5000)
                                                          << "the capture did not wrap";
                                                      r.Feed("$BH");
                                                  }},
                                           TReset{"BootWaitStart",
                                                  [](Receiver& r) {
                                                      r.rx.SetBootWait(true);
                                                      r.Feed("Boot");
                                                      r.rx.SetBootWait(
                                                          false);  // given up without a ready line
                                                  }}),
                         [](const auto& info) { return std::string(info.param.Name); });

// What the firmware upload does while the unit may still be sending frames,
// through the link's own command builders, before and after a restart.
TEST(Receive, TheUploadsSerialNumberReadAmidFrames) {
    std::vector<uint32_t> counts;
    TDigitizer link(
        1, 19200,
        [&counts](TDataBlock* block) {
            counts.push_back(block->Header->BlockCount);
            FreeBlock(block);
            return true;
        },
        "/dev/kestrel-test-no-device");
    auto feed = [&link](const Bytes& bytes) {
        link.Receive(bytes.data(), static_cast<int>(bytes.size()));
    };
    for (int round = 0; round < 2; ++round) {
        feed(Text("MOD"));
        feed(Bytes(5000 - 3, 'x'));
        feed(Text("MOD"));
        link.ReadSerialNumber();
        link.SendBH(1);
        feed(Text("$UR"));
        feed(Text("A1234567"));
        feed(Text("$BH"));
        ASSERT_EQ(link.ReadBackMode(), 0);
        uint8_t capture[8];
        ASSERT_EQ(link.CopyCapture(capture, 8), 8);
        EXPECT_EQ(Bytes(capture, capture + 8), Text("A1234567"));
        feed(Text("MOD"));
        feed(Bytes(2 * RxBufferSize, 'x'));
        counts.clear();
        feed(Stream(2));
        EXPECT_EQ(counts, Range(1, 2));
        link.Stop();
        link.Start(1, 19200);
    }
}

TEST(Receive, ABlockThePostRefusesIsFreedByTheLink) {
    int offered = 0;
    TCommandQueue queue;
    TReceiver rx(queue, [&offered](TDataBlock*) {
        ++offered;
        return false;
    });
    const Bytes stream = Stream(3);
    EXPECT_TRUE(rx.Receive(stream.data(), static_cast<int>(stream.size())));
    EXPECT_EQ(offered, 3);  // LeakSanitizer reports the blocks if they leak
}

TEST(Receive, WhenTheLineEndsAWholeLastFrameGoesOutAndAPartOneDoesNot) {
    // The last frame before a hang-up has no tag after it to end it.
    Receiver r;
    Bytes stream;
    for (uint32_t i = 1; i <= 3; ++i) {
        Append(stream, TestFrameBytes(i, 3, 40, 3, false));
    }
    r.Feed(stream);
    EXPECT_EQ(r.counts, Range(1, 2));
    EXPECT_TRUE(r.rx.LineEnded());
    EXPECT_EQ(r.counts, Range(1, 3));
    EXPECT_FALSE(r.rx.LineEnded()) << "once only";

    // A frame cut off by the hang-up is not made into a block.
    Receiver cut;
    Bytes part = TestFrameBytes(1, 3, 40, 3, false);
    Append(part, TestFrameBytes(2, 3, 40, 3, false));
    part.resize(part.size() - 5);
    cut.Feed(part);
    EXPECT_FALSE(cut.rx.LineEnded());
    EXPECT_EQ(cut.counts, Range(1, 1));

    // While the upload waits for the boot loader, nothing is framed.
    Receiver boot;
    boot.rx.SetBootWait(true);
    boot.Feed(stream);
    EXPECT_FALSE(boot.rx.LineEnded());
    EXPECT_TRUE(boot.counts.empty());
}
