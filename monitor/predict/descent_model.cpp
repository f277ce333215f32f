#include "monitor/predict/descent_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "common/atmosphere.h"

namespace monitor {

namespace {

constexpr double kSliceM = 50;  // steps of the fall integration

// ln(rho / rho0) every kTableStepM up to kTableTopM; above it the top value stands.
constexpr double kTableStepM = 100;
constexpr int kTableSteps = 600;  // 60 km
using DensityTable = std::array<double, kTableSteps + 1>;

const DensityTable& LogDensityRatios() {
    static const DensityTable table = [] {
        DensityTable t{};
        for (int j = 0; j <= kTableSteps; ++j)
            t[j] = std::log(common::StandardDensityRatio(j * kTableStepM));
        return t;
    }();
    return table;
}

// The time a law with sea-level rate 1 m/s needs to fall from `h` to sea level,
// integral of (rho / rho0)^-k over [0, h], tabled per kTableStepM.
class FallIntegral {
  public:
    FallIntegral(double exponent, double topM) : k_(exponent) {
        const DensityTable& lnr = LogDensityRatios();
        const int top =
            std::clamp(static_cast<int>(std::ceil(topM / kTableStepM)) + 1, 1, kTableSteps);
        cum_.resize(static_cast<std::size_t>(top) + 1);
        cum_[0] = 0;
        double prev = 1;  // ln r(0) = 0
        for (int j = 1; j <= top; ++j) {
            const double next = std::exp(-k_ * lnr[j]);
            cum_[j] = cum_[j - 1] + (prev + next) / 2 * kTableStepM;
            prev = next;
        }
    }

    double operator()(double h) const {
        if (h <= 0) return h;  // density ratio 1 below sea level is close enough
        const double x = h / kTableStepM;
        const std::size_t last = cum_.size() - 1;
        const std::size_t j = std::min(static_cast<std::size_t>(x), last - 1);
        const double frac = x - static_cast<double>(j);
        return cum_[j] + frac * (cum_[j + 1] - cum_[j]);
    }

  private:
    double k_;
    std::vector<double> cum_;
};

// A stretch of the fall between two fixes at least kMinSegmentM apart in height.
struct Segment {
    double upperM, lowerM, seconds, weight;
};
constexpr double kMinSegmentM = 200;

struct SpreadFit {
    double logSeaLevelMps = 0;
    double spread = std::numeric_limits<double>::infinity();  // weighted variance of the logs
};

// Each stretch's rate brought to sea level by the law with `exponent`: the right exponent makes
// them all one rate. The spread of their logarithms says how far they are from that.
SpreadFit FitFor(double exponent, std::span<const Segment> segments, double topM) {
    const FallIntegral f(exponent, topM);
    double sw = 0, sum = 0, sumSq = 0;
    for (const Segment& s : segments) {
        const double fallen = f(s.upperM) - f(s.lowerM);
        if (fallen <= 0) return {};
        const double l = std::log(fallen / s.seconds);
        sw += s.weight;
        sum += s.weight * l;
        sumSq += s.weight * l * l;
    }
    SpreadFit r;
    r.logSeaLevelMps = sum / sw;
    r.spread = std::max(0.0, sumSq / sw - r.logSeaLevelMps * r.logSeaLevelMps);
    return r;
}

}  // namespace

double DescentLaw::SinkMps(double altitudeM) const {
    return seaLevelMps * std::pow(common::StandardDensityRatio(altitudeM), exponent);
}

double DescentLaw::FallSeconds(double fromM, double toM) const {
    double seconds = 0;
    for (double h = fromM; h > toM;) {
        const double next = std::max(toM, h - kSliceM);
        seconds += (h - next) / SinkMps((h + next) / 2);
        h = next;
    }
    return seconds;
}

std::optional<DescentLaw> FitDescentLaw(std::span<const DescentSample> fall,
                                        const DescentFitSettings& settings) {
    if (fall.empty()) return std::nullopt;
    std::vector<DescentSample> kept;
    kept.push_back(fall.back());
    for (std::size_t i = fall.size() - 1; i-- > 0;)
        if (fall[i].timeS <= kept.back().timeS - settings.minSpacingS) kept.push_back(fall[i]);
    std::reverse(kept.begin(), kept.end());
    if (static_cast<int>(kept.size()) < settings.minFixes) return std::nullopt;
    double lo = kept.front().altitudeM, hi = lo;
    for (const DescentSample& s : kept) {
        lo = std::min(lo, s.altitudeM);
        hi = std::max(hi, s.altitudeM);
    }
    if (hi - lo < settings.minRangeM || kept.front().altitudeM <= kept.back().altitudeM)
        return std::nullopt;

    // The fall cut into stretches of at least kMinSegmentM, each weighing by its middle's age.
    std::vector<Segment> segments;
    const double newest = kept.back().timeS;
    for (std::size_t a = 0, b = 1; b < kept.size(); ++b) {
        if (kept[a].altitudeM - kept[b].altitudeM < kMinSegmentM) continue;
        const double age = newest - (kept[a].timeS + kept[b].timeS) / 2;
        segments.push_back({kept[a].altitudeM, kept[b].altitudeM, kept[b].timeS - kept[a].timeS,
                            std::exp2(-age / settings.halfLifeS)});
        a = b;
    }
    if (segments.size() < 3) return std::nullopt;

    // A coarse look over the whole range, then a golden-section search around the best: the
    // spread has more than one hollow when the fall is short.
    constexpr double kGridStep = 0.05;
    double bestK = kStandardDescentExponent;
    SpreadFit best;
    for (double k = kMinDescentExponent; k <= kMaxDescentExponent + 1e-9; k += kGridStep) {
        const SpreadFit f = FitFor(k, segments, hi);
        if (f.spread < best.spread) {
            best = f;
            bestK = k;
        }
    }
    if (!std::isfinite(best.spread)) return std::nullopt;
    double a = std::max(kMinDescentExponent, bestK - kGridStep);
    double b = std::min(kMaxDescentExponent, bestK + kGridStep);
    const double g = (std::sqrt(5.0) - 1) / 2;
    double c = b - g * (b - a), d = a + g * (b - a);
    SpreadFit fc = FitFor(c, segments, hi), fd = FitFor(d, segments, hi);
    while (b - a > 1e-3) {
        if (fc.spread <= fd.spread) {
            b = d;
            d = c;
            fd = fc;
            c = b - g * (b - a);
            fc = FitFor(c, segments, hi);
        } else {
            a = c;
            c = d;
            fc = fd;
            d = a + g * (b - a);
            fd = FitFor(d, segments, hi);
        }
    }
    for (const auto& [k, f] : {std::pair{c, fc}, std::pair{d, fd}}) {
        if (f.spread < best.spread) {
            best = f;
            bestK = k;
        }
    }
    return DescentLaw{std::exp(best.logSeaLevelMps),
                      std::clamp(bestK, kMinDescentExponent, kMaxDescentExponent)};
}

}  // namespace monitor
