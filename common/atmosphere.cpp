#include "common/atmosphere.h"

#include <cmath>
#include <iterator>

namespace common {

namespace {

// Layers by geopotential altitude: base (m), base temperature (K), lapse rate (K/m).
struct Layer {
    double baseM, baseK, lapse;
};
constexpr Layer kLayers[] = {{0, 288.15, -0.0065},
                             {11000, 216.65, 0},
                             {20000, 216.65, 0.001},
                             {32000, 228.65, 0.0028},
                             {47000, 270.65, 0}};
constexpr double kEarthRadiusForGeopotentialM = 6356766;
constexpr double kGasConstant = 287.053;  // J/(kg K), dry air
constexpr double kGravity = 9.80665;
constexpr double kSeaLevelHpa = 1013.25;

double Geopotential(double geometricM) {
    return kEarthRadiusForGeopotentialM * geometricM / (kEarthRadiusForGeopotentialM + geometricM);
}

const Layer& LayerAt(double h) {
    const Layer* layer = &kLayers[0];
    for (std::size_t i = 1; i < std::size(kLayers) && h >= kLayers[i].baseM; ++i)
        layer = &kLayers[i];
    return *layer;
}

// Pressure over the layer's base pressure at geopotential height h inside it.
double PressureFactor(const Layer& l, double h) {
    const double dh = h - l.baseM;
    if (l.lapse == 0) return std::exp(-kGravity * dh / (kGasConstant * l.baseK));
    return std::pow((l.baseK + l.lapse * dh) / l.baseK, -kGravity / (kGasConstant * l.lapse));
}

// Density over the layer's base density at geopotential height h inside it.
double DensityFactor(const Layer& l, double h) {
    const double dh = h - l.baseM;
    if (l.lapse == 0) return std::exp(-kGravity * dh / (kGasConstant * l.baseK));
    const double t = (l.baseK + l.lapse * dh) / l.baseK;
    return std::pow(t, -kGravity / (kGasConstant * l.lapse) - 1);
}

template <typename Factor>
double FromSeaLevel(double altitudeM, Factor factor) {
    const double h = Geopotential(altitudeM);
    double ratio = 1;
    const Layer* layer = &kLayers[0];
    for (std::size_t i = 1; i < std::size(kLayers) && h >= kLayers[i].baseM; ++i) {
        ratio *= factor(*layer, kLayers[i].baseM);
        layer = &kLayers[i];
    }
    return ratio * factor(*layer, h);
}

}  // namespace

double StandardTemperatureC(double altitudeM) {
    const double h = Geopotential(altitudeM);
    const Layer& l = LayerAt(h);
    return l.baseK + l.lapse * (h - l.baseM) - 273.15;
}

double StandardPressureHpa(double altitudeM) {
    return kSeaLevelHpa * FromSeaLevel(altitudeM, PressureFactor);
}

double StandardDensityRatio(double altitudeM) {
    return FromSeaLevel(altitudeM, DensityFactor);
}

double GeopotentialHeightM(double geometricM) {
    return Geopotential(geometricM);
}

double GeometricAltitudeM(double geopotentialM) {
    return kEarthRadiusForGeopotentialM * geopotentialM /
           (kEarthRadiusForGeopotentialM - geopotentialM);
}

}  // namespace common
