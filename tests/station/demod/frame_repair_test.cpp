// Soft repair: frames that miss by one or two weak bits come back; nothing comes back that only
// the CRC vouches for; and over a weak signal every frame it gives back is the one that was sent.
#include "station/demod/frame_repair.h"

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "station/demod/crc16.h"
#include "station/demod/decoder_paths.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

using demod::Frame;
using demod::FrameRepair;

constexpr std::int64_t kSecond = 12000;

probegen::FrameContent Content(int index) {
    probegen::FlightOptions flight;
    flight.frames = index + 1;
    flight.stepS = 1;
    return probegen::SimulateFlight(flight)[static_cast<std::size_t>(index)];
}

std::vector<std::uint8_t> Bytes(const probegen::FrameContent& c) {
    return probegen::BuildFrame(c.sentence, c.words);
}

// Byte and bit counted in the frame's bytes, sync included.
struct Flip {
    std::size_t byte;
    int bit;
};

// The frame as a synchroniser fed with soft bytes completes it: every bit sure (1.0) but those
// listed as weak (0.1), and the bits in `flips` received wrong.
struct Received {
    Frame frame;
    demod::SoftFrame soft;
};
Received Receive(std::vector<std::uint8_t> bytes, const std::vector<Flip>& flips,
                 const std::vector<Flip>& weak) {
    for (const Flip& f : flips) bytes[f.byte] ^= static_cast<std::uint8_t>(1u << f.bit);
    Received r;
    demod::FrameSync sync;
    sync.SetHandler([&](const Frame& f) {
        r.frame = f;
        r.soft = sync.Soft();
    });
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::array<float, 8> reliability;
        reliability.fill(1.0f);
        for (const Flip& w : weak)
            if (w.byte == i) reliability[static_cast<std::size_t>(w.bit)] = 0.1f;
        sync.OnByte(bytes[i], reliability);
    }
    return r;
}

std::size_t SentenceByte(const std::string& sentence, char c) {
    return probegen::kSyncBytes.size() + sentence.find(c);
}

}  // namespace

TEST(FrameRepair, OneOrTwoWeakWrongBitsAreFlippedBack) {
    const auto c = Content(3);
    const auto bytes = Bytes(c);
    const std::size_t data = bytes.size() - 34, check = bytes.size() - 2;
    const std::vector<std::pair<std::vector<Flip>, int>> cases = {
        {{{data + 5, 3}}, 1},                       // a data bit
        {{{SentenceByte(c.sentence, ','), 6}}, 1},  // a sentence bit
        {{{data + 1, 0}, {check + 1, 7}}, 2},       // a data bit and a checksum bit
        {{{SentenceByte(c.sentence, 'N'), 1}, {data + 30, 4}}, 2},
    };
    for (const auto& [flips, bits] : cases) {
        std::vector<Flip> weak = flips;  // the wrong bits among eight weak ones
        for (std::size_t k = 0; weak.size() < 8; ++k) weak.push_back({data + 10 + k, 2});
        const Received r = Receive(bytes, flips, weak);
        ASSERT_FALSE(r.frame.checksumOk);
        const auto fixed = FrameRepair().Repair(r.frame, r.soft, kSecond);
        ASSERT_TRUE(fixed) << bits;
        EXPECT_TRUE(fixed->checksumOk);
        EXPECT_EQ(fixed->repairedBits, bits);
        EXPECT_EQ(fixed->gps, c.sentence);
        EXPECT_TRUE(std::equal(fixed->words.begin(), fixed->words.end(), c.words.begin()));
    }
}

// Single flips reach the sixteen weakest bits, pairs only the twelve weakest.
TEST(FrameRepair, PairsOnlyAmongTheTwelveWeakest) {
    const auto c = Content(3);
    const auto bytes = Bytes(c);
    const std::size_t data = bytes.size() - 34;
    std::vector<Flip> weak;  // weakest first
    for (std::size_t k = 0; k < 16; ++k) weak.push_back({data + 10 + k, 2});
    const std::vector<std::pair<std::vector<std::size_t>, int>> cases = {
        {{0, 11}, 2},  // both among the twelve
        {{14}, 1},     // one, among the sixteen
        {{0, 12}, 0},  // the second is the thirteenth weakest
        {{3, 15}, 0},
    };
    for (const auto& [ranks, bits] : cases) {
        std::vector<Flip> flips;
        for (std::size_t r : ranks) flips.push_back(weak[r]);
        Received r = Receive(bytes, flips, weak);
        for (std::size_t k = 0; k < weak.size(); ++k)
            r.soft.reliability[weak[k].byte - probegen::kSyncBytes.size()]
                              [static_cast<std::size_t>(weak[k].bit)] = 0.01f * (k + 1);
        const auto fixed = FrameRepair().Repair(r.frame, r.soft, kSecond);
        EXPECT_EQ(fixed ? fixed->repairedBits : 0, bits) << ranks.back();
    }
}

TEST(FrameRepair, ThreeStrongErrorsAreLeftAlone) {
    const auto c = Content(3);
    const auto bytes = Bytes(c);
    const std::size_t data = bytes.size() - 34;
    std::vector<Flip> weak;
    for (std::size_t k = 0; k < 12; ++k) weak.push_back({data + k, 5});
    // Every pattern of three sure errors at these places, against twelve weak right bits.
    for (std::size_t a = 0; a < 6; ++a) {
        const Received r =
            Receive(bytes, {{data + 20 + a, 1}, {data + 26, 3}, {data + 28, 6}}, weak);
        EXPECT_FALSE(FrameRepair().Repair(r.frame, r.soft, kSecond));
    }
}

// Two sets of flips that both make the checksum match are two frames the CRC cannot choose
// between. CRC-16/ARC catches every odd number of wrong bits, so such sets are two pairs: the
// wrong data bits a and b, and right ones c and d whose flips change the checksum as a's and b's
// do. Either repair would pass every other check (the data words carry none).
TEST(FrameRepair, TwoMatchingCandidatesAreNoRepair) {
    const auto c = Content(3);
    const auto bytes = Bytes(c);
    const std::size_t first = probegen::kSyncBytes.size(), data = bytes.size() - 34,
                      check = bytes.size() - 2;
    const std::string covered(bytes.begin() + static_cast<std::ptrdiff_t>(first),
                              bytes.begin() + static_cast<std::ptrdiff_t>(check));
    std::vector<std::uint16_t> change;  // per data bit, 8 * byte + bit
    for (std::size_t i = 0; i < 32 * 8; ++i) {
        std::string flipped = covered;
        flipped[data - first + i / 8] ^= static_cast<char>(1u << (i % 8));
        change.push_back(demod::Crc16Arc(flipped) ^ demod::Crc16Arc(covered));
    }
    std::vector<std::pair<std::size_t, std::size_t>> pairBy(1 << 16);  // by its change
    std::vector<std::size_t> abcd;
    for (std::size_t j = 0; j < change.size() && abcd.empty(); ++j)
        for (std::size_t k = j + 1; k < change.size() && abcd.empty(); ++k) {
            auto& seen = pairBy[change[j] ^ change[k]];
            if (seen.second > 0)
                abcd = {seen.first, seen.second, j, k};
            else
                seen = {j, k};
        }
    ASSERT_EQ(abcd.size(), 4u);
    std::vector<Flip> weak;
    for (std::size_t i : abcd) weak.push_back({data + i / 8, static_cast<int>(i % 8)});
    const std::vector<Flip> wrong(weak.begin(), weak.begin() + 2);

    const Received alone = Receive(bytes, wrong, wrong);
    ASSERT_TRUE(FrameRepair().Repair(alone.frame, alone.soft, kSecond));
    const Received both = Receive(bytes, wrong, weak);
    ASSERT_FALSE(both.frame.checksumOk);
    EXPECT_FALSE(FrameRepair().Repair(both.frame, both.soft, kSecond));
}

// The checksum matches once a weak bit is flipped, but the frame was sent with a sentence
// other than its "*hh" says (here one digit off, a wrong bit the CRC cannot see because it
// was computed over the wrong text): the sentence's own checksum refuses the repair.
TEST(FrameRepair, CrcAloneIsNotEnough) {
    const auto c = Content(3);
    std::string wrong = c.sentence;
    const std::size_t digit = wrong.find(",M,") - 1;  // last digit of the altitude
    wrong[digit] = static_cast<char>(wrong[digit] ^ 0x01);
    ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(wrong[digit])));
    const auto bytes = probegen::BuildFrame(wrong, c.words);
    const std::size_t data = bytes.size() - 34;
    std::vector<Flip> weak{{data + 4, 2}};
    for (std::size_t k = 0; k < 7; ++k) weak.push_back({data + 10 + k, 2});
    const Received r = Receive(bytes, {{data + 4, 2}}, weak);
    ASSERT_FALSE(r.frame.checksumOk);
    EXPECT_FALSE(FrameRepair().Repair(r.frame, r.soft, kSecond));
    // The same with the sentence as sent: repaired.
    const Received right = Receive(Bytes(c), {{data + 4, 2}}, weak);
    EXPECT_TRUE(FrameRepair().Repair(right.frame, right.soft, kSecond));
}

// A repair is also refused when its GPS time does not follow the last good frame's.
TEST(FrameRepair, TimeMustFollowTheLastGoodFrame) {
    const auto c = Content(5);  // 10:00:05
    const auto bytes = Bytes(c);
    const std::size_t data = bytes.size() - 34;
    const Received r = Receive(bytes, {{data + 7, 0}}, {{data + 7, 0}});
    auto goodAt = [](int index) {
        Frame f;
        f.gps = Content(index).sentence;
        f.checksumOk = true;
        return f;
    };
    const std::vector<std::tuple<int, std::int64_t, bool>> cases = {
        {4, 1, true},    // a second before, a second ago
        {2, 3, true},    // three seconds before, three seconds ago
        {5, 1, false},   // the same time
        {7, 1, false},   // time went back
        {0, 2, false},   // five seconds on in two
        {0, 100, true},  // the last good frame too old to judge
    };
    for (const auto& [index, secondsAgo, repaired] : cases) {
        FrameRepair repair;
        repair.NoteGood(goodAt(index), 100 * kSecond);
        EXPECT_EQ(repair.Repair(r.frame, r.soft, (100 + secondsAgo) * kSecond).has_value(),
                  repaired)
            << index << " " << secondsAgo;
    }
}

TEST(FrameRepair, GpsSentenceForm) {
    for (int i : {0, 50, 500}) EXPECT_TRUE(demod::GpsSentenceSound(Content(i).sentence)) << i;
    auto sealed = [](std::string body) { return "$" + body + "*" + probegen::NmeaChecksum(body); };
    EXPECT_TRUE(demod::GpsSentenceSound(sealed("GPGGA,,,,,,0,00,,,M,,M,,")));  // no fix yet
    EXPECT_TRUE(demod::GpsSentenceSound(
        sealed("GPGGA,100000.00,5006.0000,N,00842.0000,E,1,09,1.0,-15.0,M,47.0,M,,")));
    for (const char* body : {
             "GPGGA,100000.00,5006.0000,N,00842.0000,E,1,09,1.0",  // too few fields
             "GPGGA,10000:.00,5006.0000,N,00842.0000,E,1,09,1.0,150.0,M,47.0,M,,",  // time
             "GPGGA,250000.00,5006.0000,N,00842.0000,E,1,09,1.0,150.0,M,47.0,M,,",  // hour
             "GPGGA,100000.00,5006.0000,Q,00842.0000,E,1,09,1.0,150.0,M,47.0,M,,",  // N/S
             "GPGGA,100000.00,5006.00.0,N,00842.0000,E,1,09,1.0,150.0,M,47.0,M,,",  // number
             "GPGGA,100000.00,5006.0000,N,00842.0000,E,1,0i,1.0,150.0,M,47.0,M,,",  // digits
             "GPGGA,100000.00,5006.0000,N,00842.0000,E,1,09,1.0,150.0,M,47.0,M,\x7f,",
         })
        EXPECT_FALSE(demod::GpsSentenceSound(sealed(body))) << body;
    std::string badSum = Content(0).sentence;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    EXPECT_FALSE(demod::GpsSentenceSound(badSum));
    EXPECT_FALSE(demod::GpsSentenceSound("$GPGGA,100000.00*0"));
}

// Near the sensitivity limit repair brings back frames, and every good frame that comes out
// is one that was sent: the paths as the station runs them, with and without repair.
TEST(FrameRepair, WeakSignalGivesMoreFramesAndNoWrongOne) {
    probegen::FlightOptions flight;
    flight.frames = 60;
    flight.stepS = 1;
    std::set<std::string> sent;
    std::vector<std::vector<std::uint8_t>> frames;
    auto key = [](const std::string& gps, const auto& words) {
        std::string k = gps;
        for (auto w : words) k += "," + std::to_string(w);
        return k;
    };
    for (const auto& f : probegen::SimulateFlight(flight)) {
        frames.push_back(probegen::BuildFrame(f.sentence, f.words));
        sent.insert(key(f.sentence, f.words));
    }
    probegen::SignalOptions o;
    o.modulator.seed = 5;
    o.modulator.noiseRms = probegen::NoiseRmsForInBandSnr(o.modulator.amplitude, 6.0);
    const auto samples = probegen::RenderFrames(frames, o);

    auto run = [&](bool repair) {
        demod::FskDemodulator literal;
        demod::FrameSync sync;
        int good = 0, repaired = 0;
        demod::DecoderPaths paths(demod::Decoder::Both, literal, sync,
                                  [&](const Frame& f, demod::Decoder, auto) {
                                      if (!f.checksumOk) return;
                                      ++good;
                                      repaired += f.repairedBits > 0;
                                      EXPECT_TRUE(sent.count(key(f.gps, f.words))) << f.gps;
                                  });
        paths.SetRepair(repair);
        for (std::size_t at = 0; at < samples.size(); at += 1500) {
            int bytes = static_cast<int>(std::min<std::size_t>(1500, samples.size() - at) * 2);
            paths.ProcessBuffer(samples.data() + at, bytes);
        }
        paths.Flush();
        return std::pair{good, repaired};
    };
    const auto [without, none] = run(false);
    const auto [with, repaired] = run(true);
    EXPECT_EQ(none, 0);
    EXPECT_GT(repaired, 0);
    EXPECT_EQ(with, without + repaired) << "a repaired frame was one already good";
}
