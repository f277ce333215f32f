// test_audio: WAV files (12000 samples/s, 16-bit mono) that hold no probe frame, for false-frame
// runs: "noise" is white Gaussian noise; "music" is made of notes with overtones, chords and
// vibrato, interleaved with speech-like syllables (a pulse train through moving formants) and
// pauses. Usage: test_audio noise|music SECONDS FILE [SEED]
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 12000;
constexpr double kTwoPi = 2 * std::numbers::pi;

// A two-pole resonator: one formant.
struct Resonator {
    double a1 = 0, a2 = 0, gain = 0, y1 = 0, y2 = 0;
    void Set(double hz, double bandwidthHz) {
        const double r = std::exp(-std::numbers::pi * bandwidthHz / kRate);
        a1 = 2 * r * std::cos(kTwoPi * hz / kRate);
        a2 = -r * r;
        gain = 1 - r;
    }
    double Step(double x) {
        const double y = gain * x + a1 * y1 + a2 * y2;
        y2 = y1;
        y1 = y;
        return y;
    }
};

class Music {
  public:
    explicit Music(unsigned seed) : rng_(seed) {}
    double Next() {
        if (left_ <= 0) NewSegment();
        --left_;
        ++t_;
        const double env = std::min(1.0, std::min(t_, left_) / 300.0);
        switch (kind_) {
            case 0: {  // a chord of up to three notes with five overtones each, and vibrato
                double v = 0;
                const double vib = 1 + 0.004 * std::sin(kTwoPi * 5.5 * t_ / kRate);
                for (int n = 0; n < notes_; ++n)
                    for (int h = 1; h <= 5; ++h) {
                        phase_[n][h] += kTwoPi * note_[n] * h * vib / kRate;
                        v += std::sin(phase_[n][h]) / (h * notes_);
                    }
                return 9000 * env * v;
            }
            case 1: {  // a syllable: glottal pulses through three formants that glide
                pitchPhase_ += pitch_ / kRate;
                double pulse = 0;
                if (pitchPhase_ >= 1) {
                    pitchPhase_ -= 1;
                    pulse = 1;
                }
                const double glide = static_cast<double>(t_) / (t_ + left_);
                for (int f = 0; f < 3; ++f)
                    formant_[f].Set(formantFrom_[f] + glide * (formantTo_[f] - formantFrom_[f]),
                                    80 + 40 * f);
                double v = 0;
                for (auto& f : formant_) v += f.Step(pulse + 0.05 * noise_(rng_));
                return 30000 * env * v;
            }
            default:
                return 20 * noise_(rng_);  // a pause: a little hiss
        }
    }

  private:
    void NewSegment() {
        std::uniform_real_distribution<double> u(0, 1);
        t_ = 0;
        kind_ = u(rng_) < 0.45 ? 0 : (u(rng_) < 0.75 ? 1 : 2);
        left_ = static_cast<long>(kRate * (0.08 + 0.5 * u(rng_)));
        notes_ = 1 + static_cast<int>(3 * u(rng_));
        for (int n = 0; n < notes_; ++n)
            note_[n] = 110 * std::pow(2.0, std::floor(u(rng_) * 36) / 12);  // 110..880 Hz
        pitch_ = 90 + 160 * u(rng_);
        for (int f = 0; f < 3; ++f) {
            formantFrom_[f] = (f + 0.5) * (600 + 700 * u(rng_));
            formantTo_[f] = (f + 0.5) * (600 + 700 * u(rng_));
        }
    }

    std::mt19937 rng_;
    std::normal_distribution<double> noise_{0, 1};
    int kind_ = 2, notes_ = 1;
    long left_ = 0, t_ = 0;
    double note_[3] = {}, phase_[3][6] = {};
    double pitch_ = 100, pitchPhase_ = 0;
    double formantFrom_[3] = {}, formantTo_[3] = {};
    Resonator formant_[3];
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: test_audio noise|music SECONDS FILE [SEED]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const long seconds = std::strtol(argv[2], nullptr, 10);
    const unsigned seed = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : 1;
    if ((kind != "noise" && kind != "music") || seconds <= 0) {
        std::fprintf(stderr, "test_audio: bad arguments\n");
        return 2;
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(argv[3], SFM_WRITE, &info);
    if (file == nullptr) {
        std::fprintf(stderr, "test_audio: cannot write %s\n", argv[3]);
        return 1;
    }
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 3000);
    Music music(seed);
    std::vector<short> block(kRate);
    for (long s = 0; s < seconds; ++s) {
        for (short& x : block) {
            const double v = kind == "noise" ? noise(rng) : music.Next();
            x = static_cast<short>(std::clamp(std::lround(v), -32768L, 32767L));
        }
        sf_write_short(file, block.data(), static_cast<sf_count_t>(block.size()));
    }
    sf_close(file);
    return 0;
}
