// The sensitive path from probe audio to frames: round trips where the literal path gives up
// (clock error, late starts, weak signals), the operator's polarity and tone pair, and no
// false frames from noise.
#include "station/demod/sensitive_demodulator.h"

#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

struct Signal {
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::int16_t> samples;
};

Signal Render(int frames, const probegen::SignalOptions& options, std::uint32_t seed) {
    probegen::FlightOptions flight;
    flight.frames = frames;
    flight.stepS = 1;
    flight.seed = seed;
    Signal s;
    for (const auto& f : probegen::SimulateFlight(flight))
        s.frames.push_back(probegen::BuildFrame(f.sentence, f.words));
    s.samples = probegen::RenderFrames(s.frames, options);
    return s;
}

// Distinct good frames (the slicers find most frames more than once), and all frames seen.
struct Result {
    std::set<std::string> good;
    int frames = 0;
};

Result Decode(const std::vector<std::int16_t>& samples, bool markIsHigh = true,
              double highHz = 2400) {
    demod::SensitiveDemodulator d;
    d.SetMarkIsHigh(markIsHigh);
    d.SetTones(1200, highHz);
    Result r;
    d.SetFrameHandler([&r](const demod::Frame& f, int, std::int64_t) {
        ++r.frames;
        if (!f.checksumOk) return;
        std::string key = f.gps;
        for (auto w : f.words) key += "," + std::to_string(w);
        r.good.insert(key);
    });
    for (std::size_t at = 0; at < samples.size(); at += 1500)
        d.Process(samples.data() + at,
                  static_cast<int>(std::min<std::size_t>(1500, samples.size() - at)));
    return r;
}

struct Case {
    const char* name;
    double inBandSnrDb;  // 0: no noise
    double clockErrorPpm;
    int lateEvery;
    double lateBits;
    double amplitude;
    bool fmAudio;
};

class SensitiveRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(SensitiveRoundTrip, EveryFrameComesBack) {
    const Case& c = GetParam();
    probegen::SignalOptions o;
    o.modulator.amplitude = c.amplitude;
    o.modulator.clockErrorPpm = c.clockErrorPpm;
    o.modulator.fmAudio = c.fmAudio;
    o.modulator.seed = 11;
    if (c.inBandSnrDb != 0)
        o.modulator.noiseRms = probegen::NoiseRmsForInBandSnr(c.amplitude, c.inBandSnrDb);
    o.lateEvery = c.lateEvery;
    o.lateBits = c.lateBits;
    const Signal s = Render(30, o, 5);
    EXPECT_EQ(Decode(s.samples).good.size(), s.frames.size());
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SensitiveRoundTrip,
    ::testing::Values(Case{"Clean", 0, 0, 0, 0, 8000, false},
                      Case{"Snr12Slow2Percent", 12, -20000, 0, 0, 8000, false},
                      Case{"Snr12Fast2Percent", 12, 20000, 0, 0, 8000, false},
                      Case{"Snr12EveryFrameHalfABitLate", 12, 0, 1, 0.5, 8000, false},
                      Case{"Snr12EveryThirdFrame04BitLate", 12, 0, 3, 0.4, 8000, false},
                      Case{"Snr12LateAndFast", 12, 10000, 2, 0.7, 8000, false},
                      Case{"Amplitude100", 0, 0, 0, 0, 100, false},
                      Case{"FmAudioSnr14", 14, 0, 0, 0, 8000, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Transmitters off the ideal: both tones 2 % off, or two free-running oscillators. Every frame
// comes back, and the coherent synchronisers, whose phase references such signals break, fall
// back to energy decisions and find each frame too instead of losing it.
TEST(SensitiveDemodulator, NonIdealTransmittersRoundTrip) {
    struct Transmitter {
        const char* name;
        double toneOffsetPercent;
        bool phaseJumps;
    };
    for (const Transmitter t :
         {Transmitter{"2 % high", 2, false}, Transmitter{"2 % low", -2, false},
          Transmitter{"phase jumps", 0, true}}) {
        probegen::SignalOptions o;
        o.modulator.toneOffsetPercent = t.toneOffsetPercent;
        o.modulator.phaseJumps = t.phaseJumps;
        o.modulator.seed = 12;
        o.modulator.noiseRms = probegen::NoiseRmsForInBandSnr(o.modulator.amplitude, 14);
        const Signal s = Render(30, o, 12);
        EXPECT_EQ(Decode(s.samples).good.size(), s.frames.size()) << t.name;

        demod::SensitiveDemodulator d;
        std::set<std::string> coherentGood;
        d.SetFrameHandler([&](const demod::Frame& f, int slicer, std::int64_t) {
            if (f.checksumOk && slicer >= demod::SensitiveDemodulator::kSlicers)
                coherentGood.insert(f.gps);
        });
        d.Process(s.samples.data(), static_cast<int>(s.samples.size()));
        EXPECT_EQ(coherentGood.size(), s.frames.size()) << t.name;
    }
}

// Near the threshold, a band as a receiver check would set it: the floor catches a less
// sensitive demodulator (minimodem finds about a third of these frames, the literal path none),
// the ceiling a noise generator that stopped adding noise.
TEST(SensitiveDemodulator, HalfTheFramesAtEbN0Of11dB) {
    probegen::SignalOptions o;
    o.modulator.noiseRms = probegen::NoiseRmsForInBandSnr(o.modulator.amplitude, 7.5);
    o.modulator.seed = 21;
    const Signal s = Render(40, o, 21);
    const auto r = Decode(s.samples);
    EXPECT_GE(r.good.size(), 20u);
    EXPECT_LE(r.good.size(), 36u);
    EXPECT_GT(r.frames, static_cast<int>(r.good.size()));  // the bad ones are reported too
}

// The audio is worked through in blocks, the slicers then walk each block sample by sample,
// and per-sample figures live in a ring: neither how the capture cuts the audio nor where in
// the ring a frame falls (silence before it, in whole tone periods) may change anything handed
// over, bad frames, their order, sample numbers and soft bits included.
TEST(SensitiveDemodulator, HowTheAudioIsCutChangesNothing) {
    probegen::SignalOptions o;
    o.modulator.noiseRms = probegen::NoiseRmsForInBandSnr(o.modulator.amplitude, 6.5);
    o.modulator.seed = 5;
    const Signal s = Render(12, o, 5);
    auto decode = [&s](std::size_t piece, std::size_t silence) {
        std::vector<std::int16_t> audio(silence, 0);
        audio.insert(audio.end(), s.samples.begin(), s.samples.end());
        demod::SensitiveDemodulator d;
        std::vector<std::string> out;
        d.SetFrameHandler([&](const demod::Frame& f, int slicer, std::int64_t sample) {
            std::string line = std::to_string(slicer) + " " +
                               std::to_string(sample - static_cast<std::int64_t>(silence)) + " " +
                               std::to_string(f.checksumOk) + " " + f.gps;
            const demod::SoftFrame& soft = d.Soft(slicer);
            for (std::size_t i = 0; i < soft.size; ++i)
                for (float r : soft.reliability[i]) line += " " + std::to_string(r);
            out.push_back(line);
        });
        for (std::size_t at = 0; at < audio.size(); at += piece)
            d.Process(audio.data() + at, static_cast<int>(std::min(piece, audio.size() - at)));
        return out;
    };
    const auto whole = decode(s.samples.size(), 0);
    ASSERT_GT(whole.size(), 12u);
    EXPECT_EQ(decode(1, 0), whole);
    EXPECT_EQ(decode(37, 0), whole);
    EXPECT_EQ(decode(1500, 0), whole);
    for (std::size_t silence : {10, 130, 250, 370, 490}) EXPECT_EQ(decode(1500, silence), whole);
}

// Inside a frame each byte is placed by the timing of the bytes before it: placing every byte
// by its own fit alone finds about a third of these frames.
TEST(SensitiveDemodulator, BytesOfAFrameFollowItsTiming) {
    probegen::SignalOptions o;
    o.modulator.noiseRms = probegen::NoiseRmsForInBandSnr(o.modulator.amplitude, 6.5);
    o.modulator.seed = 21;
    const Signal s = Render(100, o, 21);
    EXPECT_GE(Decode(s.samples).good.size(), 39u);
}

// A start bit lost inside a frame (sent here as mark) does not cost the frame: the byte is
// due and is taken where it should start.
TEST(SensitiveDemodulator, ByteWithALostStartBitInsideAFrame) {
    const Signal clean = Render(2, {}, 3);
    for (std::size_t lost : {std::size_t{20}, clean.frames[0].size() - 10}) {
        probegen::Modulator m;
        std::vector<std::int16_t> samples;
        m.AppendIdle(240, samples);
        for (const auto& frame : clean.frames) {
            std::vector<std::uint8_t> bits;
            for (std::size_t i = 0; i < frame.size(); ++i) {
                bits.push_back(&frame == &clean.frames[0] && i == lost ? 1 : 0);
                for (int k = 0; k < 8; ++k) bits.push_back((frame[i] >> k) & 1);
                bits.push_back(1);
            }
            m.AppendBits(bits, samples);
            m.AppendIdle(96, samples);
        }
        EXPECT_EQ(Decode(samples).good.size(), 2u) << lost;
    }
}

TEST(SensitiveDemodulator, FollowsPolarityAndTonePair) {
    // The same frames with the tones swapped: mark on the low tone.
    probegen::SignalOptions o;
    const Signal s = Render(4, o, 2);
    std::vector<std::int16_t> swapped;
    {
        probegen::Modulator m;
        std::vector<std::uint8_t> bits;
        for (const auto& f : s.frames) {
            for (int i = 0; i < 50; ++i) bits.push_back(1);
            for (auto b : probegen::BytesToBits(f)) bits.push_back(b);
        }
        for (int i = 0; i < 50; ++i) bits.push_back(1);
        for (auto& b : bits) b ^= 1;
        m.AppendBits(bits, swapped);
    }
    EXPECT_EQ(Decode(swapped, false).good.size(), s.frames.size());
    EXPECT_TRUE(Decode(swapped, true).good.empty());
    // 1200/2200 Hz tones, as after the operator's tone switch.
    std::vector<std::int16_t> bell;
    double phase = 0;
    const double step[2] = {2 * 3.14159265358979 * 1200 / 12000,
                            2 * 3.14159265358979 * 2200 / 12000};
    auto tone = [&](int bit, int samples) {
        for (int i = 0; i < samples; ++i) {
            bell.push_back(static_cast<std::int16_t>(8000 * std::sin(phase)));
            phase += step[bit];
        }
    };
    tone(1, 600);
    for (const auto& f : s.frames) {
        for (auto b : probegen::BytesToBits(f)) tone(b, 10);
        tone(1, 960);
    }
    EXPECT_EQ(Decode(bell, true, 2200).good.size(), s.frames.size());
}

TEST(SensitiveDemodulator, NoFalseFramesFromNoiseOrSilence) {
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 3000);
    std::vector<std::int16_t> samples(3 * 60 * 12000);  // three minutes
    for (auto& x : samples) x = static_cast<std::int16_t>(std::lround(noise(rng)));
    EXPECT_TRUE(Decode(samples).good.empty());
    // Bursts of random tones and silence, speech-like on/off.
    std::uniform_real_distribution<double> hz(300, 3000);
    double phase = 0, f = 1000;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (i % 700 == 0) f = hz(rng);
        phase += 2 * 3.14159265358979 * f / 12000;
        samples[i] = (i / 6000) % 3 == 0 ? 0 : static_cast<std::int16_t>(6000 * std::sin(phase));
    }
    EXPECT_TRUE(Decode(samples).good.empty());
}

}  // namespace
