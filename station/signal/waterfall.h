// What the sound card hears, as data for the window to paint: the spectrum of the newest
// samples after every capture block and the last 30 s of them as waterfall rows. Plain C++
// over KissFFT (real transform, float).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

struct kiss_fftr_state;

namespace station {

class Spectrum {
  public:
    static constexpr int kSampleRate = 12000;
    static constexpr int kFftSize = 2048;  // samples (171 ms): 5.9 Hz a bin
    static constexpr double kTopHz = 3000.0;
    static constexpr int kBins = 512;      // bins shown: 0 .. kBins - 1, 0 to 2994 Hz
    using Row = std::array<float, kBins>;  // dB relative to a full-scale sine

    Spectrum();
    ~Spectrum();
    Spectrum(const Spectrum&) = delete;
    Spectrum& operator=(const Spectrum&) = delete;

    // Takes one capture block and computes the spectrum of the newest kFftSize samples
    // (Hann window). Never allocates.
    void Process(std::span<const std::int16_t> samples) noexcept;
    const Row& Current() const noexcept { return row_; }

    static double BinHz(int bin) noexcept { return bin * double(kSampleRate) / kFftSize; }
    static int BinOf(double hz) noexcept;  // nearest bin, clamped to 0 .. kBins - 1

  private:
    kiss_fftr_state* fft_ = nullptr;
    std::vector<float> history_;  // newest kFftSize samples, oldest first
    std::vector<float> window_;
    std::vector<float> windowed_;
    std::vector<std::array<float, 2>> out_;  // kFftSize / 2 + 1 complex bins
    Row row_{};
};

// The last kRows spectra, newest first, and a slowly following noise floor for the colour
// scale (so the picture needs no level control whatever the receiver's audio level).
class Waterfall {
  public:
    static constexpr int kRowsPerSecond = 8;  // one per capture block of 1500 samples
    static constexpr int kRows = 30 * kRowsPerSecond;
    static constexpr float kRangeDb = 60.0F;  // colour scale: floor - 10 dB .. floor + 50 dB

    Waterfall();
    void Add(const Spectrum::Row& row) noexcept;
    int Count() const noexcept { return count_; }
    // age 0 is the newest row, Count() - 1 the oldest.
    const Spectrum::Row& Row(int age) const noexcept;
    // Rows added since start: tells a painter how many rows are new since it last looked.
    std::int64_t Added() const noexcept { return added_; }
    float FloorDb() const noexcept { return floorDb_; }
    // 0..1 on the colour scale for a level in dB.
    float Scale(float dB) const noexcept;

  private:
    std::vector<Spectrum::Row> rows_;
    int newest_ = -1;
    int count_ = 0;
    std::int64_t added_ = 0;
    float floorDb_ = -90.0F;
    Spectrum::Row sorted_{};
};

// Waterfall colour for a 0..1 level: black, blue, cyan, yellow, red, as 0xRRGGBB.
std::uint32_t WaterfallColour(float level) noexcept;

}  // namespace station
