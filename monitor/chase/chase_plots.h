// Geometry of the chase pictures, computed from the analytics for a given size in pixels: the
// ground track around home (north up, range rings) and the altitude over time. The window only
// paints what these return.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "monitor/chase/flight_analytics.h"

namespace monitor {

struct PlotPoint {
    double x = 0;  // pixels from the left
    double y = 0;  // pixels from the top
};

struct GroundTrackView {
    PlotPoint home;  // the centre
    double pxPerKm = 0;
    double ringStepKm = 0;
    std::vector<double> ringRadiiPx;      // innermost first
    std::vector<std::string> ringLabels;  // "5 km", one per ring
    std::vector<PlotPoint> track;
    std::optional<PlotPoint> last;
    std::optional<PlotPoint> landing;
    // The chase car, drawn on top of everything: where it has been, where it is and, when it
    // moves fast enough for its track to mean something, where it heads (0 north, 90 east).
    std::vector<PlotPoint> carTrack;
    std::optional<PlotPoint> car;
    std::optional<double> carHeadingDeg;
};

struct CarOnPlot {
    LatLonDeg position;
    std::optional<double> headingDeg;
    std::vector<LatLonDeg> track;
};

// The smallest of 1, 2, 5 x 10^n with value / step <= parts.
double NiceStep(double value, int parts);
// `v` with at most 3 decimals and no trailing zeros.
std::string PlainNumber(double v);

// Home in the middle; the rings (1, 2 or 5 times a power of ten km apart, at most four) reach
// just beyond the farthest of track and landing point.
// With a car its position counts towards the rings too (it is home while it has a fix); its
// older track does not, so the rings keep to what the crew steers by.
GroundTrackView MakeGroundTrackView(const LatLonDeg& home, const std::vector<FlightPoint>& track,
                                    const std::optional<LatLonDeg>& landing, double widthPx,
                                    double heightPx, const std::optional<CarOnPlot>& car = {});

// Where `p` lies on a plot made by MakeGroundTrackView around `home`.
PlotPoint GroundTrackPixel(const GroundTrackView& v, const LatLonDeg& home, const LatLonDeg& p);

struct AxisTick {
    double px = 0;  // x for time ticks, y for altitude ticks
    std::string label;
};

struct AltitudeView {
    double left = 0, top = 0, right = 0, bottom = 0;  // the plot area inside the axes
    std::vector<PlotPoint> profile;
    std::optional<PlotPoint> burst;
    std::optional<PlotPoint> landing;     // estimated landing: time and landing altitude
    std::vector<AxisTick> altitudeTicks;  // "10 km"
    std::vector<AxisTick> timeTicks;      // "10:30", UTC
};

// Time from the first fix to the last or the estimated landing, whichever is later; altitude
// from 0 to a round figure above the highest.
AltitudeView MakeAltitudeView(const std::vector<FlightPoint>& track, const FlightState& state,
                              double widthPx, double heightPx);

}  // namespace monitor
