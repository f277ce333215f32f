// probegen: writes a simulated probe flight as 1200-baud FSK audio, to a WAV file or as raw
// signed 16-bit little-endian samples at 12000 samples/s on standard output.
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/numbers.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

constexpr int kExitUsage = 2;

constexpr const char* kUsage = R"(Usage: probegen -o FILE|- [options]
Writes a simulated weather-balloon probe flight as 1200-baud two-tone FSK audio
(12000 samples/s, 16-bit mono; bit 1 on the upper tone, 2400 Hz, bit 0 on 1200 Hz).

Output:
  -o, --output FILE   WAV file to write; "-" writes raw s16le samples to standard output
      --list          print each frame's GPS sentence and data words on standard error
Flight:
  -n, --frames N      frames to send (default 300)
      --step S        flight time between frames, seconds (default 30; 1 = real time)
      --lat DEG       launch latitude, degrees, negative south (default 50.1)
      --lon DEG       launch longitude, degrees, negative west (default 8.7)
      --alt M         launch altitude, metres (default 150)
      --time HHMMSS   UTC of the first frame (default 100000)
      --ascent MPS    ascent rate, m/s (default 5)
      --burst M       burst altitude, metres (default 30000)
      --descent MPS   parachute sink rate near the ground, m/s (default 5)
      --descent-exponent K  the sink rate is MPS x (air density / sea-level density)^K:
                      -0.5 a parachute (default), 0 a constant rate; -2..1
Signal:
      --amplitude A   tone peak in sample units, 1..32767 (default 8000)
      --snr DB        add white noise: tone power over noise power, both over 0..6000 Hz
      --snr-inband DB add white noise: tone power over the noise power in 300..3000 Hz
                      (Eb/N0 = this + 3.52 dB)
      --noise RMS     add white noise of this RMS in sample units (instead of --snr)
      --clock-ppm P   transmitter bit-rate error in ppm, -100000..100000 (default 0)
      --tone-offset PCT  both tones PCT per cent high (negative: low), -10..10; the bit
                      rate stays as it is
      --phase-jumps   two free-running oscillators, one per tone: the phase jumps to a
                      random value at each tone change
      --fm-audio      pass tones and noise through an FM receiver's audio chain: 300..3000 Hz
                      band-pass and 6 dB/octave de-emphasis above 300 Hz (unity gain at 1200 Hz)
      --late BITS     start frames a fraction of a bit late, 0..0.99 (default 0.5 with
                      --late-every); the frames after them keep their times
      --late-every K  make frames K, 2K, 3K, ... late (default 1 with --late: every frame)
      --gap MS        mark tone between frames, ms (default 80)
      --lead MS       mark tone before the first frame and after the last, ms (default 200)
      --seed N        seed for the noise and the flight's sensor jitter (default 1)
      --upper-tone HZ upper tone, 1500..5500 Hz (default 2400; 2200 for the other tables)
      --swap-tones    bit 1 on 1200 Hz and bit 0 on the upper tone
  -h, --help          show this text
      --version       show the version
)";

struct Args {
    std::string output;
    bool list = false;
    probegen::FlightOptions flight;
    probegen::ModulatorOptions modulator;
    std::optional<double> snrDb, inBandSnrDb;
    double gapMs = 80, leadMs = 200;
    std::optional<double> lateBits;
    int lateEvery = 0;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "probegen: %s\nTry 'probegen --help'.\n", message.c_str());
    return kExitUsage;
}

std::optional<double> Number(std::string_view text, double lo, double hi) {
    auto v = common::ParseDouble(text);
    if (!v || *v < lo || *v > hi) return std::nullopt;
    return v;
}

std::optional<int> ParseTime(std::string_view text) {
    auto v = common::ParseInt(text);
    if (!v || text.find_first_not_of(" 0123456789") != std::string_view::npos) return std::nullopt;
    const int hh = static_cast<int>(*v / 10000), mm = static_cast<int>(*v / 100 % 100),
              ss = static_cast<int>(*v % 100);
    if (*v < 0 || hh > 23 || mm > 59 || ss > 59) return std::nullopt;
    return hh * 3600 + mm * 60 + ss;
}

// Returns the exit code to end with, or nullopt to go on.
std::optional<int> ParseArgs(int argc, char** argv, Args& a) {
    using Setter = std::function<bool(std::string_view)>;
    auto real = [](double& target, double lo, double hi) {
        return Setter([&target, lo, hi](std::string_view v) {
            auto n = Number(v, lo, hi);
            if (n) target = *n;
            return n.has_value();
        });
    };
    std::map<std::string, Setter, std::less<>> options = {
        {"--output",
         [&](std::string_view v) {
             a.output = v;
             return !v.empty();
         }},
        {"--frames",
         [&](std::string_view v) {
             auto n = common::ParseInt(v);
             if (!n || *n < 1 || *n > 100000) return false;
             a.flight.frames = static_cast<int>(*n);
             return true;
         }},
        {"--step", real(a.flight.stepS, 0.1, 3600)},
        {"--lat", real(a.flight.launchLatDeg, -89.9, 89.9)},
        {"--lon", real(a.flight.launchLonDeg, -180, 180)},
        {"--alt", real(a.flight.launchAltM, -400, 9000)},
        {"--time",
         [&](std::string_view v) {
             auto t = ParseTime(v);
             if (t) a.flight.startSecondsOfDay = *t;
             return t.has_value();
         }},
        {"--ascent", real(a.flight.ascentMps, 0.1, 50)},
        {"--burst", real(a.flight.burstAltM, 0, 50000)},
        {"--descent", real(a.flight.descentSeaLevelMps, 0.1, 100)},
        {"--descent-exponent", real(a.flight.descentExponent, -2, 1)},
        {"--amplitude", real(a.modulator.amplitude, 1, 32767)},
        {"--snr",
         [&](std::string_view v) {
             auto n = Number(v, -40, 120);
             if (n) a.snrDb = n;
             return n.has_value();
         }},
        {"--snr-inband",
         [&](std::string_view v) {
             auto n = Number(v, -40, 120);
             if (n) a.inBandSnrDb = n;
             return n.has_value();
         }},
        {"--late",
         [&](std::string_view v) {
             auto n = Number(v, 0, 0.99);
             if (n) a.lateBits = n;
             return n.has_value();
         }},
        {"--late-every",
         [&](std::string_view v) {
             auto n = common::ParseInt(v);
             if (!n || *n < 1 || *n > 100000) return false;
             a.lateEvery = static_cast<int>(*n);
             return true;
         }},
        {"--noise", real(a.modulator.noiseRms, 0, 100000)},
        {"--upper-tone", real(a.modulator.upperHz, 1500, 5500)},
        {"--clock-ppm", real(a.modulator.clockErrorPpm, -100000, 100000)},
        {"--tone-offset", real(a.modulator.toneOffsetPercent, -10, 10)},
        {"--gap", real(a.gapMs, 0, 600000)},
        {"--lead", real(a.leadMs, 0, 600000)},
        {"--seed",
         [&](std::string_view v) {
             auto n = common::ParseInt(v);
             if (!n || *n < 0 || *n > 0xFFFFFFFFLL) return false;
             a.modulator.seed = a.flight.seed = static_cast<std::uint32_t>(*n);
             return true;
         }},
    };
    const std::map<std::string_view, std::string_view> shortNames = {{"-o", "--output"},
                                                                     {"-n", "--frames"}};

    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("probegen %s\n", PROBEGEN_VERSION);
            return 0;
        }
        if (arg == "--list") {
            a.list = true;
            continue;
        }
        if (arg == "--swap-tones") {
            a.modulator.swapTones = true;
            continue;
        }
        if (arg == "--phase-jumps") {
            a.modulator.phaseJumps = true;
            continue;
        }
        if (arg == "--fm-audio") {
            a.modulator.fmAudio = true;
            continue;
        }
        std::string_view name = arg, value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        if (auto s = shortNames.find(name); s != shortNames.end()) name = s->second;
        auto option = options.find(name);
        if (option == options.end()) return UsageError("unknown option '" + std::string(arg) + "'");
        if (!inlineValue) {
            if (i + 1 >= argc) return UsageError("option '" + std::string(arg) + "' needs a value");
            value = argv[++i];
        }
        if (!option->second(value))
            return UsageError("bad value '" + std::string(value) + "' for " + std::string(name));
    }
    if (a.output.empty())
        return UsageError("no output given (-o FILE, or -o - for standard output)");
    if ((a.snrDb.has_value() + a.inBandSnrDb.has_value() + (a.modulator.noiseRms > 0)) > 1)
        return UsageError("give one of --snr, --snr-inband and --noise");
    if (a.snrDb) a.modulator.noiseRms = probegen::NoiseRmsForSnr(a.modulator.amplitude, *a.snrDb);
    if (a.inBandSnrDb)
        a.modulator.noiseRms =
            probegen::NoiseRmsForInBandSnr(a.modulator.amplitude, *a.inBandSnrDb);
    if (a.lateBits && a.lateEvery == 0) a.lateEvery = 1;
    if (a.lateEvery > 0 && !a.lateBits) a.lateBits = 0.5;
    return std::nullopt;
}

class SampleWriter {
  public:
    virtual ~SampleWriter() = default;
    virtual bool Write(const std::vector<std::int16_t>& samples) = 0;
};

class RawWriter : public SampleWriter {
  public:
    bool Write(const std::vector<std::int16_t>& samples) override {
        bytes_.clear();
        for (std::int16_t s : samples) {
            const auto u = static_cast<std::uint16_t>(s);
            bytes_.push_back(static_cast<unsigned char>(u & 0xFF));
            bytes_.push_back(static_cast<unsigned char>(u >> 8));
        }
        return std::fwrite(bytes_.data(), 1, bytes_.size(), stdout) == bytes_.size() &&
               std::fflush(stdout) == 0;
    }

  private:
    std::vector<unsigned char> bytes_;
};

class WavWriter : public SampleWriter {
  public:
    explicit WavWriter(const std::string& path) {
        SF_INFO info{};
        info.samplerate = probegen::kSampleRate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        file_ = sf_open(path.c_str(), SFM_WRITE, &info);
    }
    ~WavWriter() override {
        if (file_ != nullptr) sf_close(file_);
    }
    bool Ok() const { return file_ != nullptr; }
    bool Write(const std::vector<std::int16_t>& samples) override {
        const auto n = static_cast<sf_count_t>(samples.size());
        return sf_write_short(file_, samples.data(), n) == n;
    }

  private:
    SNDFILE* file_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    Args args;
    if (auto exit = ParseArgs(argc, argv, args)) return *exit;

    std::unique_ptr<SampleWriter> writer;
    if (args.output == "-") {
        writer = std::make_unique<RawWriter>();
    } else {
        auto wav = std::make_unique<WavWriter>(args.output);
        if (!wav->Ok()) {
            std::fprintf(stderr, "probegen: cannot write '%s': %s\n", args.output.c_str(),
                         sf_strerror(nullptr));
            return 1;
        }
        writer = std::move(wav);
    }

    const auto flight = probegen::SimulateFlight(args.flight);
    probegen::Modulator modulator(args.modulator);
    std::vector<std::int16_t> samples;
    const int gapBits = probegen::IdleBitsForMs(args.gapMs);
    const int leadBits = probegen::IdleBitsForMs(args.leadMs);
    modulator.AppendIdle(leadBits, samples);
    for (std::size_t i = 0; i < flight.size(); ++i) {
        const auto& frame = flight[i];
        if (args.list) {
            std::fprintf(stderr, "%s", frame.sentence.c_str());
            for (std::uint16_t w : frame.words) std::fprintf(stderr, " %u", w);
            std::fprintf(stderr, "\n");
        }
        if (i > 0) modulator.AppendIdle(gapBits, samples);
        const bool late = probegen::IsLateFrame(static_cast<int>(i), args.lateEvery);
        if (late) modulator.ShiftTiming(*args.lateBits, samples);
        modulator.AppendBytes(probegen::BuildFrame(frame.sentence, frame.words), samples);
        if (late) modulator.ShiftTiming(-*args.lateBits, samples);
        if (i + 1 == flight.size()) modulator.AppendIdle(leadBits, samples);
        if (!writer->Write(samples)) {
            std::fprintf(stderr, "probegen: writing '%s' failed\n", args.output.c_str());
            return 1;
        }
        samples.clear();
    }
    return 0;
}
