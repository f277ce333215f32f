// Demodulator throughput on one thread: a simulated flight's audio fed in capture-sized blocks
// (1500 samples). Reports samples per second and the multiple of real time (12000 samples/s).
#include <benchmark/benchmark.h>

#include <vector>

#include "station/demod/fsk_demodulator.h"
#include "station/demod/sensitive_demodulator.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/modulator.h"

namespace {

struct CountingSink : demod::BitSink {
    long ones = 0;
    void OnBit(int bit) noexcept override { ones += bit; }
};

const std::vector<std::int16_t>& FlightAudio() {
    static const std::vector<std::int16_t> audio = [] {
        probegen::FlightOptions flight;
        flight.frames = 20;
        std::vector<std::vector<std::uint8_t>> frames;
        for (const auto& f : probegen::SimulateFlight(flight))
            frames.push_back(probegen::BuildFrame(f.sentence, f.words));
        probegen::SignalOptions signal;
        signal.modulator.noiseRms = probegen::NoiseRmsForSnr(signal.modulator.amplitude, 20);
        return probegen::RenderFrames(frames, signal);
    }();
    return audio;
}

void BM_Demodulate(benchmark::State& state) {
    const auto& audio = FlightAudio();
    const std::size_t blocks = audio.size() / demod::FskDemodulator::kLevelSize;
    demod::FskDemodulator d;
    CountingSink sink;
    d.SetBitSink(&sink);
    std::size_t block = 0;
    for (auto _ : state) {
        int bytes = 2 * demod::FskDemodulator::kLevelSize;
        d.ProcessBuffer(audio.data() + block * demod::FskDemodulator::kLevelSize, bytes);
        block = block + 1 == blocks ? 0 : block + 1;
    }
    benchmark::DoNotOptimize(sink.ones);
    const double samples =
        static_cast<double>(state.iterations()) * demod::FskDemodulator::kLevelSize;
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(samples / demod::FskDemodulator::kSampleRate,
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Demodulate)->Repetitions(7)->ReportAggregatesOnly(true)->UseRealTime();

// The sensitive demodulator with its synchronisers, the same audio in the same blocks.
void BM_SensitiveDemodulate(benchmark::State& state) {
    const auto& audio = FlightAudio();
    constexpr int kBlock = demod::FskDemodulator::kLevelSize;
    const std::size_t blocks = audio.size() / kBlock;
    demod::SensitiveDemodulator d;
    long frames = 0;
    d.SetFrameHandler([&frames](const demod::Frame&, int, std::int64_t) { ++frames; });
    std::size_t block = 0;
    for (auto _ : state) {
        d.Process(audio.data() + block * kBlock, kBlock);
        block = block + 1 == blocks ? 0 : block + 1;
    }
    benchmark::DoNotOptimize(frames);
    const double samples = static_cast<double>(state.iterations()) * kBlock;
    state.SetItemsProcessed(static_cast<std::int64_t>(samples));
    state.counters["samples/s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(samples / demod::FskDemodulator::kSampleRate,
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SensitiveDemodulate)->Repetitions(7)->ReportAggregatesOnly(true)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
