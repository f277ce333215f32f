// repair_errors: how often soft repair passes a wrong frame. Weak probegen signals go through
// the sensitive demodulator; every frame a synchroniser completes with a bad checksum is offered
// to repair, with the last good frame as the time reference, as the station does; a repaired
// frame is wrong when its content is not that of a frame that was sent.
// Usage: repair_errors MIN_FAILED [SNR_DB...]   (default SNRs 4 5 6 7)
// Prints per SNR and in total: failed frames, repairs, wrong repairs, and the wrong repairs
// per 10,000 repairs against the target of at most one over at least 100,000 failed frames;
// exits 1 when the target is missed.
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "station/demod/frame_repair.h"
#include "station/demod/sensitive_demodulator.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

struct Counts {
    long failed = 0, repaired = 0, wrong = 0;
    long sent = 0, good = 0, goodWithRepair = 0;  // distinct frames
};

std::string Key(const std::string& gps, const probegen::Words& words) {
    std::string k = gps;
    for (auto w : words) k += "," + std::to_string(w);
    return k;
}

// One chunk of frames at one SNR.
void RunChunk(double snrDb, std::uint32_t seed, int frames, Counts& counts) {
    probegen::FlightOptions flight;
    flight.frames = frames;
    flight.stepS = 1;
    flight.seed = seed;
    flight.startSecondsOfDay = static_cast<int>(seed * 7919 % 86400);
    std::set<std::string> sent;
    std::vector<std::vector<std::uint8_t>> bytes;
    for (const auto& f : probegen::SimulateFlight(flight)) {
        bytes.push_back(probegen::BuildFrame(f.sentence, f.words));
        sent.insert(Key(f.sentence, f.words));
    }
    probegen::SignalOptions o;
    o.modulator.seed = seed;
    o.modulator.noiseRms = probegen::NoiseRmsForInBandSnr(o.modulator.amplitude, snrDb);
    const auto samples = probegen::RenderFrames(bytes, o);

    demod::SensitiveDemodulator d;
    demod::FrameRepair repair;
    std::set<std::string> good, goodWithRepair;
    auto key = [](const demod::Frame& f) {
        probegen::Words words;
        for (std::size_t k = 0; k < words.size(); ++k) words[k] = f.words[k];
        return Key(f.gps, words);
    };
    d.SetFrameHandler([&](const demod::Frame& f, int slicer, std::int64_t end) {
        if (f.checksumOk) {
            repair.NoteGood(f, end);
            good.insert(key(f));
            goodWithRepair.insert(key(f));
            return;
        }
        ++counts.failed;
        const auto fixed = repair.Repair(f, d.Soft(slicer), end);
        if (!fixed) return;
        ++counts.repaired;
        probegen::Words words;
        for (std::size_t k = 0; k < words.size(); ++k) words[k] = fixed->words[k];
        goodWithRepair.insert(key(*fixed));
        if (!sent.count(Key(fixed->gps, words))) {
            ++counts.wrong;
            std::fprintf(stderr, "wrong repair at %.1f dB, seed %u: %s\n", snrDb, seed,
                         fixed->gps.c_str());
        }
    });
    for (std::size_t at = 0; at < samples.size(); at += 1500)
        d.Process(samples.data() + at,
                  static_cast<int>(std::min<std::size_t>(1500, samples.size() - at)));
    counts.sent += frames;
    counts.good += static_cast<long>(good.size());
    counts.goodWithRepair += static_cast<long>(goodWithRepair.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: repair_errors MIN_FAILED [SNR_DB...]\n");
        return 2;
    }
    const long minFailed = std::atol(argv[1]);
    std::vector<double> snrs;
    for (int i = 2; i < argc; ++i) snrs.push_back(std::atof(argv[i]));
    if (snrs.empty()) snrs = {4, 5, 6, 7};
    constexpr int kChunkFrames = 500;
    Counts total;
    std::uint32_t seed = 1;
    const long perSnr =
        (minFailed + static_cast<long>(snrs.size()) - 1) / static_cast<long>(snrs.size());
    for (double snr : snrs) {
        Counts c;
        while (c.failed < perSnr) RunChunk(snr, seed++, kChunkFrames, c);
        std::printf(
            "snr=%.1f failed=%ld repaired=%ld wrong=%ld sent=%ld good=%ld "
            "good_with_repair=%ld\n",
            snr, c.failed, c.repaired, c.wrong, c.sent, c.good, c.goodWithRepair);
        std::fflush(stdout);
        total.failed += c.failed;
        total.repaired += c.repaired;
        total.wrong += c.wrong;
    }
    constexpr long kTargetFailed = 100000;
    constexpr double kTargetPer10000 = 1.0;
    const double per10000 =
        total.repaired > 0 ? 10000.0 * static_cast<double>(total.wrong) / total.repaired : 0.0;
    std::printf("total failed=%ld repaired=%ld wrong=%ld wrong_per_10000_repairs=%.2f\n",
                total.failed, total.repaired, total.wrong, per10000);
    const bool enough = total.failed >= kTargetFailed;
    const bool met = enough && per10000 <= kTargetPer10000;
    std::printf(
        "target: at most %.0f wrong per 10,000 repairs over at least %ld failed frames: %s\n",
        kTargetPer10000, kTargetFailed,
        met      ? "met"
        : enough ? "MISSED"
                 : "not judged (too few failed frames)");
    return met || !enough ? 0 : 1;
}
