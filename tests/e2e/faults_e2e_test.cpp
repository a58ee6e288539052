// The window, built as the program builds it, on the digitizer-sim program with every fault
// it knows switched on but the reopened device: damaged frames, dropped bytes, "MOD" inside
// the samples, silences and split echoes. The unit's journal says which frames left whole;
// each of them must reach the window, while commands from the Control page still reach the
// unit and change its stream.
#include <QCheckBox>
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "main/link_session.h"
#include "support/e2e_fixture.h"

using namespace std::chrono_literals;

namespace {

using FaultsEndToEnd = TEndToEndTest;

std::map<std::string, int> Damages(const std::vector<TSimJournalRead::TFrame>& frames) {
    std::map<std::string, int> damages;
    for (const auto& frame : frames) {
        damages[frame.Intact ? (frame.TagInSamples ? "tag-in-samples" : "intact") : frame.Damage]++;
    }
    return damages;
}

// The journal's lines from the frame before each of `frames` to the frame after it.
std::string JournalAround(const TSimJournalRead& journal, const std::vector<uint32_t>& frames) {
    std::string text;
    const auto& lines = journal.Lines();
    for (const uint32_t block : frames) {
        for (size_t i = 0; i < lines.size(); ++i) {
            const auto& words = lines[i].Words;
            if (words[0] != "frame" || std::stoul(words[1]) + 1 != block) {
                continue;
            }
            for (size_t j = i; j < lines.size(); ++j) {
                text += std::to_string(lines[j].Seconds);
                for (const std::string& word : lines[j].Words) {
                    text += " " + word;
                }
                text += "\n";
                if (j > i && lines[j].Words[0] == "frame" &&
                    std::stoul(lines[j].Words[1]) > block) {
                    break;
                }
            }
            text += "--\n";
        }
    }
    return text;
}

TEST_F(FaultsEndToEnd, EveryWholeFrameIsDecodedAndCommandsStillReachTheUnit) {
    WriteSettings("[Comms]\nPort=1\nBaud=19200\n");
    StartSim({"--channels", "3", "--rate", "100", "--mde", "--speed", "5", "--seed", "11",
              "--fault", "corrupt=0.08", "--fault", "drop=0.08", "--fault", "mod-in-samples=0.2",
              "--fault", "silence=0.04", "--fault", "split-echo=0.5"});
    OpenWindow();
    int searches = 0;
    QObject::connect(&Window().Session(), &TLinkSession::Searching, [&] { ++searches; });
    const TStreamFormat& format = Window().Model().Format();

    // Every kind of damage has happened at least once.
    ASSERT_TRUE(WaitUntil(
        [&] {
            auto d = Damages(Journal().Frames());
            return d["corrupt"] > 0 && d["drop"] > 0 && d["silence"] > 0 &&
                   d["tag-in-samples"] > 0 && Received().size() >= 20;
        },
        90s))
        << ::testing::PrintToString(Damages(Journal().Frames()));

    // Commands that change the stream, each echoed (some of the echoes split), each
    // followed by the blocks.
    Select("SetRateRadioGroup", "50");
    Click("SRButton");
    ASSERT_TRUE(WaitUntil([&] { return format.SampleRate == 50; }, 20s));
    Find<QCheckBox>("OnCheck3")->click();
    Click("SCButton");
    ASSERT_TRUE(WaitUntil([&] { return format.ChannelCount == 2; }, 20s));
    ASSERT_FALSE(Value("ADC8").isEmpty()) << "the enhanced header is on";
    Click("EnhancedOffButton");
    ASSERT_TRUE(WaitUntil([&] { return Value("ADC8").isEmpty(); }, 20s));
    EXPECT_TRUE(WaitUntil([&] { return Window().Link()->QueueLength() == 0; }, 5s));
    const TSimJournalRead commanded = Journal();
    for (const char* letters : {"SF", "SC", "EM"}) {
        EXPECT_GE(commanded.CommandCount(letters), 1) << letters;
        EXPECT_GE(commanded.EchoCount(letters), 1) << letters;
    }
    EXPECT_GE(commanded.SplitEchoCount(), 1);

    // Faults go on in the new format.
    const size_t before = Received().size();
    ASSERT_TRUE(WaitUntil([&] { return Received().size() >= before + 20; }, 60s));

    const std::vector<uint32_t> decoded = Received();
    const TSimJournalRead journal = Journal();
    ASSERT_FALSE(decoded.empty());
    EXPECT_TRUE(std::is_sorted(decoded.begin(), decoded.end()) &&
                std::adjacent_find(decoded.begin(), decoded.end()) == decoded.end())
        << "each block once, in order";
    // The frames the link must decode, from the first block the window saw to the last (the
    // port was never opened afresh in between). The link tries a frame from every "MOD" tag
    // since the last good frame and starts afresh after three tags in a row at which nothing
    // decoded; a whole frame is then certain to arrive when
    //  - the frame before it arrived (at this frame's own tag; its "MOD" in the samples is
    //    one failed tag), or
    //  - it holds no "MOD" in its samples, and the damaged frame before it held none either,
    //    and the frame before that arrived (two failed tags at most).
    // A frame with an echo inside it arrives only when the link took the echo out; those are
    // left out, as are whole frames after longer runs of trouble, which the three-tag rule
    // may give up.
    const std::set<uint32_t> got(decoded.begin(), decoded.end());
    std::map<uint32_t, TSimJournalRead::TFrame> frames;
    for (const auto& frame : journal.Frames()) {
        frames[frame.BlockCount] = frame;
    }
    auto arrived = [&](uint32_t block) { return got.count(block) != 0; };
    auto whole = [&](uint32_t block) {
        return frames.count(block) && frames[block].Intact && !frames[block].EchoInside;
    };
    std::vector<uint32_t> missing;
    int certain = 0, afterDamage = 0, tagged = 0, damaged = 0, givenUp = 0;
    for (uint32_t block = decoded.front() + 2; block <= decoded.back(); ++block) {
        if (!frames.count(block) || !frames.count(block - 1)) {
            continue;
        }
        const auto& frame = frames[block];
        const auto& before = frames[block - 1];
        damaged += frame.Intact ? 0 : 1;
        if (!whole(block)) {
            continue;
        }
        const bool afterGood = arrived(block - 1);
        const bool afterOneDamaged = !afterGood && !frame.TagInSamples && !before.TagInSamples &&
                                     !whole(block - 1) && arrived(block - 2);
        if (!afterGood && !afterOneDamaged) {
            givenUp += arrived(block) ? 0 : 1;
            continue;
        }
        ++certain;
        afterDamage += afterOneDamaged ? 1 : 0;
        tagged += frame.TagInSamples ? 1 : 0;
        if (!arrived(block)) {
            missing.push_back(block);
        }
    }
    EXPECT_EQ(missing, std::vector<uint32_t>{})
        << "whole frames that never arrived; the unit's journal around them:\n"
        << JournalAround(journal, missing);
    EXPECT_GE(certain, 30);
    EXPECT_GE(tagged, 1) << "among them frames with \"MOD\" in their samples";
    EXPECT_GE(afterDamage, 1) << "and frames right after a damaged one";
    EXPECT_GE(damaged, 3) << "among damaged ones";
    std::printf(
        "%d whole frames certain to arrive, %d of them after a damaged frame; %d whole "
        "frames given up after a run of trouble\n",
        certain, afterDamage, givenUp);
    EXPECT_EQ(searches, 0) << "the watchdog never gave up on the unit";
    EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
}

}  // namespace
