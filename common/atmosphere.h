// The international standard atmosphere up to 51 km (above it the top layer is extended), at a
// geometric altitude in metres, as GPS gives it: what the probe's sensors read on a standard day
// and how a parachute's fall slows in thinner air.
#pragma once

namespace common {

double StandardTemperatureC(double altitudeM);
double StandardPressureHpa(double altitudeM);
// Air density over sea-level density.
double StandardDensityRatio(double altitudeM);

// Geopotential height (what weather models give their levels in, gpm) and geometric altitude.
double GeopotentialHeightM(double geometricM);
double GeometricAltitudeM(double geopotentialM);

}  // namespace common
