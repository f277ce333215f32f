#include "station/signal/waterfall.h"

#include <kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace station {

namespace {
// A full-scale sine through the Hann window gives |X| = 32768 * kFftSize / 4 at its bin.
constexpr float kFullScale = 32768.0F * Spectrum::kFftSize / 4;
constexpr float kSilenceDb = -140.0F;   // what an all-zero bin shows
constexpr int kFloorPercentile = 20;    // % of bins below the noise floor
constexpr float kFloorFollow = 0.1F;    // share of a new row's floor in the kept one
constexpr float kBelowFloorDb = 10.0F;  // the colour scale starts this far below the floor
}  // namespace

Spectrum::Spectrum()
    : fft_(kiss_fftr_alloc(kFftSize, 0, nullptr, nullptr)),
      history_(kFftSize, 0.0F),
      window_(kFftSize),
      windowed_(kFftSize),
      out_(kFftSize / 2 + 1) {
    for (int i = 0; i < kFftSize; ++i)
        window_[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * i / kFftSize));
    row_.fill(kSilenceDb);
}

Spectrum::~Spectrum() {
    kiss_fftr_free(fft_);
}

int Spectrum::BinOf(double hz) noexcept {
    const long bin = std::lround(hz * kFftSize / kSampleRate);
    return static_cast<int>(std::clamp<long>(bin, 0, kBins - 1));
}

void Spectrum::Process(std::span<const std::int16_t> samples) noexcept {
    if (samples.size() > history_.size()) samples = samples.last(history_.size());
    const std::size_t keep = history_.size() - samples.size();
    std::copy(history_.end() - static_cast<std::ptrdiff_t>(keep), history_.end(), history_.begin());
    std::transform(samples.begin(), samples.end(),
                   history_.begin() + static_cast<std::ptrdiff_t>(keep),
                   [](std::int16_t s) { return static_cast<float>(s); });
    for (std::size_t i = 0; i < history_.size(); ++i) windowed_[i] = history_[i] * window_[i];
    // kiss_fft_cpx is two floats, as out_'s elements are.
    kiss_fftr(fft_, windowed_.data(), reinterpret_cast<kiss_fft_cpx*>(out_.data()));
    for (int k = 0; k < kBins; ++k) {
        const auto& c = out_[static_cast<std::size_t>(k)];
        const float power = (c[0] * c[0] + c[1] * c[1]) / (kFullScale * kFullScale);
        row_[static_cast<std::size_t>(k)] =
            power > 0 ? std::max(kSilenceDb, 10.0F * std::log10(power)) : kSilenceDb;
    }
}

Waterfall::Waterfall() : rows_(kRows) {}

void Waterfall::Add(const Spectrum::Row& row) noexcept {
    newest_ = newest_ + 1 == kRows ? 0 : newest_ + 1;
    rows_[static_cast<std::size_t>(newest_)] = row;
    count_ = std::min(count_ + 1, kRows);
    ++added_;
    sorted_ = row;
    auto nth = sorted_.begin() + Spectrum::kBins * kFloorPercentile / 100;
    std::nth_element(sorted_.begin(), nth, sorted_.end());
    floorDb_ = added_ == 1 ? *nth : floorDb_ + kFloorFollow * (*nth - floorDb_);
}

const Spectrum::Row& Waterfall::Row(int age) const noexcept {
    age = std::clamp(age, 0, std::max(0, count_ - 1));
    const int index = (newest_ - age + kRows) % kRows;
    return rows_[static_cast<std::size_t>(std::max(0, index))];
}

float Waterfall::Scale(float dB) const noexcept {
    return std::clamp((dB - (floorDb_ - kBelowFloorDb)) / kRangeDb, 0.0F, 1.0F);
}

std::uint32_t WaterfallColour(float level) noexcept {
    struct Stop {
        float at;
        int r, g, b;
    };
    static constexpr Stop kStops[] = {{0.0F, 0, 0, 0},
                                      {0.3F, 0, 0, 160},
                                      {0.55F, 0, 190, 220},
                                      {0.8F, 250, 230, 0},
                                      {1.0F, 255, 40, 0}};
    level = std::clamp(level, 0.0F, 1.0F);
    std::size_t i = 1;
    while (i + 1 < std::size(kStops) && level > kStops[i].at) ++i;
    const Stop& a = kStops[i - 1];
    const Stop& b = kStops[i];
    const float t = (level - a.at) / (b.at - a.at);
    auto mix = [t](int x, int y) {
        return static_cast<std::uint32_t>(std::lround(x + t * static_cast<float>(y - x)));
    };
    return mix(a.r, b.r) << 16 | mix(a.g, b.g) << 8 | mix(a.b, b.b);
}

}  // namespace station
