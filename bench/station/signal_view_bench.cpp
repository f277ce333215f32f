// Cost of seeing the signal, on the event thread: per capture block (1500 samples, 8 a second)
// the spectrum and waterfall row, and the widget's repaint at its usual size; per frame (about
// one a second) the signal figures. Prints the share of one core each takes at 12000 samples/s.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>

#include <cstdlib>
#include <ctime>
#include <vector>

#include "station/signal/signal_figures.h"
#include "station/signal/waterfall.h"
#include "station/window/signal_view.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"

namespace {

constexpr int kBlock = 1500;  // samples per capture block
constexpr double kSampleRate = 12000;

const std::vector<std::int16_t>& FlightAudio() {
    static const std::vector<std::int16_t> audio = [] {
        probegen::FlightOptions flight;
        flight.frames = 20;
        std::vector<std::vector<std::uint8_t>> frames;
        for (const auto& f : probegen::SimulateFlight(flight))
            frames.push_back(probegen::BuildFrame(f.sentence, f.words));
        probegen::SignalOptions signal;
        signal.modulator.noiseRms = probegen::NoiseRmsForSnr(signal.modulator.amplitude, 15);
        return probegen::RenderFrames(frames, signal);
    }();
    return audio;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// "core_%": the share of one core the step takes when it runs as often as real time asks
// (thread CPU time, so other load on the machine does not count).
class Share {
  public:
    Share() : start_(ThreadCpuSeconds()) {}
    void Report(benchmark::State& state, double audioSecondsPerIteration) const {
        const double audio = static_cast<double>(state.iterations()) * audioSecondsPerIteration;
        state.counters["core_%"] = 100 * (ThreadCpuSeconds() - start_) / audio;
    }

  private:
    double start_;
};

void BM_SpectrumAndWaterfallRow(benchmark::State& state) {
    const auto& audio = FlightAudio();
    const std::size_t blocks = audio.size() / kBlock;
    station::Spectrum spectrum;
    station::Waterfall waterfall;
    std::size_t block = 0;
    const Share share;
    for (auto _ : state) {
        spectrum.Process(std::span(audio).subspan(block * kBlock, kBlock));
        waterfall.Add(spectrum.Current());
        block = block + 1 == blocks ? 0 : block + 1;
    }
    benchmark::DoNotOptimize(waterfall.FloorDb());
    share.Report(state, kBlock / kSampleRate);
}
BENCHMARK(BM_SpectrumAndWaterfallRow);

// What the window does per block: the view's new row from the core's newest samples, then the
// repaint the update() asks for, here into an image of the size the view has in the window.
void BM_SignalViewBlockAndRepaint(benchmark::State& state) {
    const auto& audio = FlightAudio();
    const std::size_t blocks = audio.size() / kBlock;
    station::SignalMeter meter;
    station::SignalView view;
    view.resize(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QImage target(view.size(), QImage::Format_RGB32);
    std::size_t block = 0;
    const Share share;
    for (auto _ : state) {
        meter.Push(std::span(audio).subspan(block * kBlock, kBlock));
        view.AddBlock(meter);
        view.render(&target);
        block = block + 1 == blocks ? 0 : block + 1;
    }
    share.Report(state, kBlock / kSampleRate);
}
BENCHMARK(BM_SignalViewBlockAndRepaint)->Args({440, 300})->Args({800, 500});

// One frame's figures (a frame of about 11000 samples, one a second at most), for the upper
// tone in hundredths of a hertz: the station's two tables (2400, 2200 Hz) and a tone without
// a table (2400.25 Hz), which turns its reference per sample.
void BM_FrameSignalFigures(benchmark::State& state) {
    const double upperHz = static_cast<double>(state.range(0)) / 100;
    probegen::FlightOptions flight;
    flight.frames = 1;
    const auto content = probegen::SimulateFlight(flight).front();
    const auto frame = probegen::BuildFrame(content.sentence, content.words);
    probegen::ModulatorOptions m;
    m.noiseRms = probegen::NoiseRmsForSnr(m.amplitude, 15);
    m.upperHz = upperHz;
    probegen::Modulator modulator(m);
    std::vector<std::int16_t> samples;
    modulator.AppendBytes(frame, samples);
    station::SignalAnalyser analyser;
    const Share share;
    for (auto _ : state) benchmark::DoNotOptimize(analyser.Measure(samples, 1200, upperHz));
    share.Report(state, 1.0);  // one frame a second
    state.counters["frame_samples"] = static_cast<double>(samples.size());
}
BENCHMARK(BM_FrameSignalFigures)->Arg(240000)->Arg(220000)->Arg(240025);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
