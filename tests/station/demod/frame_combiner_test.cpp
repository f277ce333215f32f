// The combiner's promises: each transmission once, good before bad, time order, counts per
// path; and the paths it combines.
#include "station/demod/frame_combiner.h"

#include <algorithm>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "station/demod/decoder_paths.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

using demod::Decoder;
using demod::Frame;
using demod::FrameCombiner;

namespace {

constexpr std::int64_t kSecond = 12000;  // samples

Frame MakeFrame(int id, bool ok) {
    Frame f;
    f.gps = "$GPGGA," + std::to_string(id) + "*00";
    f.words[0] = static_cast<std::uint16_t>(id);
    f.received = 0x1000;
    f.computed = ok ? 0x1000 : static_cast<std::uint16_t>(0x2000 + id);
    f.checksumOk = ok;
    return f;
}

struct Sent {
    int id;
    bool ok;
    Decoder from;
};

struct Combined {
    FrameCombiner combiner;
    std::vector<Sent> sent;
    explicit Combined(Decoder paths = Decoder::Both)
        : combiner(paths, [this](const Frame& f, Decoder from, std::int64_t) {
              sent.push_back({f.words[0], f.checksumOk, from});
          }) {}
};

}  // namespace

TEST(FrameCombiner, SameGoodFrameFromBothPathsGoesOutOnceAsBoth) {
    Combined c;
    c.combiner.Offer(MakeFrame(1, true), Decoder::Literal, 10 * kSecond);
    c.combiner.Offer(MakeFrame(1, true), Decoder::Sensitive, 10 * kSecond + 130);
    c.combiner.AdvanceTo(10 * kSecond + 200);
    c.combiner.Offer(MakeFrame(1, true), Decoder::Sensitive, 10 * kSecond + 140);  // late copy
    c.combiner.AdvanceTo(12 * kSecond);
    c.combiner.Flush();
    ASSERT_EQ(c.sent.size(), 1u);
    EXPECT_EQ(c.sent[0].from, Decoder::Both);
    EXPECT_EQ(c.combiner.GoodFrames(Decoder::Literal), 1);
    EXPECT_EQ(c.combiner.GoodFrames(Decoder::Sensitive), 1);
}

TEST(FrameCombiner, GoodFrameWaitsOnlyBrieflyForTheOtherPath) {
    Combined c;
    c.combiner.Offer(MakeFrame(1, true), Decoder::Sensitive, kSecond);
    c.combiner.AdvanceTo(kSecond + FrameCombiner::kSettleSamples - 1);
    EXPECT_TRUE(c.sent.empty());
    c.combiner.AdvanceTo(kSecond + FrameCombiner::kSettleSamples);
    ASSERT_EQ(c.sent.size(), 1u);
    EXPECT_EQ(c.sent[0].from, Decoder::Sensitive);
    // The literal copy after it is dropped but counted.
    c.combiner.Offer(MakeFrame(1, true), Decoder::Literal, kSecond + 300);
    c.combiner.AdvanceTo(3 * kSecond);
    EXPECT_EQ(c.sent.size(), 1u);
    EXPECT_EQ(c.combiner.GoodFrames(Decoder::Literal), 1);
}

TEST(FrameCombiner, GoodCopyBeatsHeldBadFrameEitherWayRound) {
    for (Decoder badPath : {Decoder::Literal, Decoder::Sensitive}) {
        const Decoder goodPath =
            badPath == Decoder::Literal ? Decoder::Sensitive : Decoder::Literal;
        Combined c;
        c.combiner.Offer(MakeFrame(1, false), badPath, kSecond);
        c.combiner.AdvanceTo(kSecond + FrameCombiner::kSameFrameSamples - 1);
        EXPECT_TRUE(c.sent.empty());  // held for a good copy
        c.combiner.Offer(MakeFrame(1, true), goodPath, kSecond + 400);
        c.combiner.Offer(MakeFrame(1, false), badPath, kSecond + 500);  // another bad copy
        c.combiner.AdvanceTo(3 * kSecond);
        ASSERT_EQ(c.sent.size(), 1u);
        EXPECT_TRUE(c.sent[0].ok);
        EXPECT_EQ(c.sent[0].from, goodPath);
    }
}

TEST(FrameCombiner, BadFrameWithoutGoodCopyGoesOutAfterHalfASecond) {
    Combined c;
    c.combiner.Offer(MakeFrame(1, false), Decoder::Literal, kSecond);
    c.combiner.Offer(MakeFrame(1, false), Decoder::Sensitive, kSecond + 60);
    c.combiner.AdvanceTo(kSecond + FrameCombiner::kSameFrameSamples);
    ASSERT_EQ(c.sent.size(), 1u);
    EXPECT_FALSE(c.sent[0].ok);
    EXPECT_EQ(c.sent[0].from, Decoder::Literal);
    EXPECT_EQ(c.combiner.GoodFrames(Decoder::Literal), 0);
}

TEST(FrameCombiner, FramesLeaveInTimeOrderBehindAHeldBadOne) {
    Combined c;
    c.combiner.Offer(MakeFrame(1, false), Decoder::Literal, kSecond);
    c.combiner.Offer(MakeFrame(2, true), Decoder::Sensitive, 2 * kSecond);
    // A buffer later the sensitive path reports the first frame's end it decided late.
    c.combiner.Offer(MakeFrame(0, true), Decoder::Sensitive, kSecond - 1500);
    c.combiner.AdvanceTo(kSecond + FrameCombiner::kSameFrameSamples - 1);
    ASSERT_EQ(c.sent.size(), 1u);
    c.combiner.AdvanceTo(3 * kSecond);
    ASSERT_EQ(c.sent.size(), 2u);
    EXPECT_EQ(c.sent[0].id, 0);  // the good copy replaced the bad one near it
    EXPECT_EQ(c.sent[1].id, 2);
}

// Two different good frames close together, reported out of order: the one that ended first
// is held for the other path's copy, and the later one, already complete, waits behind it.
TEST(FrameCombiner, CompleteFrameWaitsBehindAnEarlierOneStillSettling) {
    Combined c;
    c.combiner.Offer(MakeFrame(2, true), Decoder::Literal, kSecond + 100);
    c.combiner.Offer(MakeFrame(1, true), Decoder::Sensitive, kSecond);  // decided later
    c.combiner.Offer(MakeFrame(2, true), Decoder::Sensitive, kSecond + 100);
    c.combiner.AdvanceTo(kSecond + 200);
    EXPECT_TRUE(c.sent.empty());
    c.combiner.AdvanceTo(kSecond + FrameCombiner::kSettleSamples);
    ASSERT_EQ(c.sent.size(), 2u);
    EXPECT_EQ(c.sent[0].id, 1);
    EXPECT_EQ(c.sent[1].id, 2);
    EXPECT_EQ(c.sent[1].from, Decoder::Both);
}

// A repaired frame vouches for less than one received good: where the two disagree about one
// transmission the received one goes out, and the repaired one never as a second frame.
TEST(FrameCombiner, RepairedFrameGivesWayToAReceivedOne) {
    auto repaired = [](int id) {
        Frame f = MakeFrame(id, true);
        f.repairedBits = 2;
        return f;
    };
    for (bool repairedFirst : {true, false}) {
        Combined c;
        if (repairedFirst) c.combiner.Offer(repaired(9), Decoder::Sensitive, kSecond);
        c.combiner.Offer(MakeFrame(1, true), Decoder::Literal, kSecond + 100);
        if (!repairedFirst) c.combiner.Offer(repaired(9), Decoder::Sensitive, kSecond + 130);
        c.combiner.Flush();
        ASSERT_EQ(c.sent.size(), 1u) << repairedFirst;
        EXPECT_EQ(c.sent[0].id, 1);
        EXPECT_EQ(c.combiner.GoodFrames(Decoder::Sensitive), 0);
        EXPECT_EQ(c.combiner.GoodFrames(Decoder::Literal), 1);
    }
    // The same content received: it goes out unflagged, found by both.
    Combined c;
    std::vector<int> bits;
    c.combiner.SetOutput(
        [&](const Frame& f, Decoder, std::int64_t) { bits.push_back(f.repairedBits); });
    Frame same = MakeFrame(1, true);
    same.repairedBits = 1;
    c.combiner.Offer(same, Decoder::Sensitive, kSecond);
    c.combiner.Offer(MakeFrame(1, true), Decoder::Literal, kSecond + 100);
    c.combiner.Flush();
    EXPECT_EQ(bits, std::vector<int>{0});
}

TEST(FrameCombiner, DifferentGoodFramesCloseTogetherBothGoOut) {
    Combined c;
    c.combiner.Offer(MakeFrame(1, true), Decoder::Literal, kSecond);
    c.combiner.Offer(MakeFrame(2, true), Decoder::Sensitive, kSecond + 100);
    c.combiner.Flush();
    ASSERT_EQ(c.sent.size(), 2u);
    EXPECT_EQ(c.sent[0].id, 1);
    EXPECT_EQ(c.sent[1].id, 2);
}

TEST(FrameCombiner, OnePathAloneStillMergesItsOwnSlicers) {
    Combined c(Decoder::Sensitive);
    c.combiner.Offer(MakeFrame(1, true), Decoder::Sensitive, kSecond);
    c.combiner.Offer(MakeFrame(1, true), Decoder::Sensitive, kSecond + 3);
    c.combiner.AdvanceTo(kSecond);  // every path in use has it: no wait
    c.combiner.Offer(MakeFrame(2, false), Decoder::Sensitive, 2 * kSecond);
    c.combiner.Offer(MakeFrame(2, true), Decoder::Sensitive, 2 * kSecond + 5);
    c.combiner.Flush();
    ASSERT_EQ(c.sent.size(), 2u);
    EXPECT_EQ(c.sent[0].from, Decoder::Sensitive);
    EXPECT_TRUE(c.sent[1].ok);
    EXPECT_EQ(c.combiner.GoodFrames(Decoder::Sensitive), 2);
}

TEST(FrameCombiner, FlushSendsWhatIsHeld) {
    Combined c;
    c.combiner.Offer(MakeFrame(1, false), Decoder::Sensitive, kSecond);
    c.combiner.Flush();
    ASSERT_EQ(c.sent.size(), 1u);
    EXPECT_STREQ(demod::DecoderName(c.sent[0].from), "sensitive");
}

// The paths over one stream: the sensitive path follows the operator's polarity and tone pair,
// and with both paths each frame of a clean signal goes out once, found by both.
TEST(DecoderPaths, SensitivePathFollowsTheLiteralControlsAndFramesGoOutOnce) {
    demod::FskDemodulator literal;
    demod::FrameSync sync;
    std::vector<Decoder> from;
    demod::DecoderPaths paths(Decoder::Both, literal, sync,
                              [&](const Frame&, Decoder d, std::int64_t) { from.push_back(d); });
    probegen::FlightOptions flight;
    flight.frames = 5;
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& f : probegen::SimulateFlight(flight))
        frames.push_back(probegen::BuildFrame(f.sentence, f.words));
    const auto samples = probegen::RenderFrames(frames, {});
    for (std::size_t at = 0; at < samples.size(); at += 1500) {
        int bytes = static_cast<int>(std::min<std::size_t>(1500, samples.size() - at) * 2);
        paths.ProcessBuffer(samples.data() + at, bytes);
    }
    paths.Flush();
    EXPECT_EQ(from, std::vector<Decoder>(5, Decoder::Both));
    EXPECT_EQ(paths.GoodFrames(Decoder::Literal), 5);
    EXPECT_EQ(paths.GoodFrames(Decoder::Sensitive), 5);

    literal.SetMarkIsHigh(false);
    literal.SwitchWindow();
    int bytes = 0;
    paths.ProcessBuffer(samples.data(), bytes);
    EXPECT_FALSE(paths.Sensitive().MarkIsHigh());
    EXPECT_EQ(paths.Sensitive().HighToneHz(), 2200);
}
