// Long seeded streams with damaged frames and tags inside samples, fed in
// random chunks: every good frame must come through, no damaged one.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

#include "digitizer/digitizer.h"
#include "digitizer/receiver.h"
#include "support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum class TDamage { None, SampleByte, Tag, DeletedByte };

struct TStreamShape {
    const char* Name;
    int Frames;
    int Channels;
    int SamplesPerChannel;
    bool Mde;
    uint32_t Seed;
};

struct TStream {
    Bytes Data;
    std::set<uint32_t> Good;
    std::set<uint32_t> Damaged;
    int TagsInSamples = 0;
};

// About one frame in ten damaged (a sample byte changed, the tag changed or a
// byte deleted) and one in ten carrying "MOD" at a random place in its samples.
TStream MakeStream(const TStreamShape& shape) {
    std::mt19937 random(shape.Seed);
    auto chance = [&](int percent) { return int(random() % 100) < percent; };
    TStream stream;
    const int payloadStart = ModRecordSize + (shape.Mde ? MdeRecordSize : 0) + 8;
    for (int i = 1; i <= shape.Frames; ++i) {
        const uint32_t count = static_cast<uint32_t>(i);
        Bytes frame = TestFrameBytes(count, shape.Channels, shape.SamplesPerChannel, 3, shape.Mde);
        const size_t payload = size_t(shape.Channels) * shape.SamplesPerChannel * 3;
        if (chance(10)) {
            const size_t at = payloadStart + random() % (payload - 2);
            std::memcpy(&frame[at], "MOD", 3);
            RefreshChecksum(frame);
            ++stream.TagsInSamples;
        }
        TDamage damage = TDamage::None;
        if (chance(10)) {
            damage = static_cast<TDamage>(1 + random() % 3);
        }
        switch (damage) {
            case TDamage::None:
                break;
            case TDamage::SampleByte:
                frame[payloadStart + random() % payload] ^= uint8_t(1 + random() % 255);
                break;
            case TDamage::Tag:
                frame[random() % 3] ^= uint8_t(1 + random() % 255);
                break;
            case TDamage::DeletedByte:
                frame.erase(frame.begin() + static_cast<std::ptrdiff_t>(random() % frame.size()));
                break;
        }
        (damage == TDamage::None ? stream.Good : stream.Damaged).insert(count);
        Append(stream.Data, frame);
    }
    Append(stream.Data, Bytes{'M', 'O', 'D'});
    return stream;
}

struct TOutcome {
    std::vector<uint32_t> Posted;
    int Lost = 0;
};

TOutcome Feed(const TStream& stream, uint32_t chunkSeed) {
    TOutcome outcome;
    TCommandQueue queue;
    TReceiver rx(queue, [&outcome](TDataBlock* block) {
        outcome.Posted.push_back(block->Header->BlockCount);
        FreeBlock(block);
        return true;
    });
    std::mt19937 random(chunkSeed);
    size_t at = 0;
    while (at < stream.Data.size()) {
        const size_t n = std::min(stream.Data.size() - at, size_t(1 + random() % ReadChunkSize));
        rx.Receive(stream.Data.data() + at, static_cast<int>(n));
        at += n;
    }
    const std::set<uint32_t> posted(outcome.Posted.begin(), outcome.Posted.end());
    for (uint32_t count : stream.Good) {
        outcome.Lost += posted.count(count) == 0;
    }
    return outcome;
}

class DamagedStream : public ::testing::TestWithParam<TStreamShape> {};

}  // namespace

TEST_P(DamagedStream, LosesNoGoodFrameAndDecodesNoDamagedOne) {
    const TStream stream = MakeStream(GetParam());
    ASSERT_GT(stream.Damaged.size(), size_t(GetParam().Frames / 20));
    ASSERT_GT(stream.TagsInSamples, GetParam().Frames / 20);
    for (uint32_t chunkSeed : {1u, 2u, 3u}) {
        const TOutcome outcome = Feed(stream, chunkSeed);
        std::printf("%s, chunks %u: %zu damaged, %d with tags in samples, %d good frames lost\n",
                    GetParam().Name, chunkSeed, stream.Damaged.size(), stream.TagsInSamples,
                    outcome.Lost);
        EXPECT_EQ(outcome.Lost, 0) << "chunk seed " << chunkSeed;
        for (size_t i = 0; i < outcome.Posted.size(); ++i) {
            EXPECT_EQ(stream.Damaged.count(outcome.Posted[i]), 0u)
                << "damaged frame " << outcome.Posted[i] << " decoded";
            if (i > 0) {
                EXPECT_LT(outcome.Posted[i - 1], outcome.Posted[i]) << "out of order or twice";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Receive, DamagedStream,
                         ::testing::Values(TStreamShape{"largest", 300, 6, 500, true, 8},
                                           TStreamShape{"small", 600, 3, 50, false, 9}),
                         [](const auto& info) { return std::string(info.param.Name); });
