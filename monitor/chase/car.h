// The chase car: its fixes as the GPS daemon reports them, the figures a crew steers by (on the
// WGS84 ellipsoid, unlike the sphere of the record displays), its headless car= line and the
// landing point as a waypoint sentence for the navigation device. Plain C++.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "common/geo.h"
#include "monitor/chase/flight_analytics.h"

namespace monitor {

// A fix that arrived longer ago than this is no fix: the car may have driven on.
inline constexpr std::int64_t kCarFixMaxAgeMs = 10000;
// Below this a standing car's track is noise.
inline constexpr double kHeadingMinKmh = 10;

inline constexpr int kGpsdDefaultPort = 2947;
inline constexpr std::string_view kGpsdDefaultServer = "localhost:2947";

struct GpsServer {
    std::string host;
    int port = kGpsdDefaultPort;
    // "host:port", an IPv6 address in brackets.
    std::string Text() const;
};

// HOST or HOST:PORT, an IPv6 address with a port in brackets ([::1]:2947). Empty with `error`
// set when it is no such text.
std::optional<GpsServer> ParseGpsServer(std::string_view text, std::string& error);

enum class CarFixMode { None, TwoD, ThreeD };

struct CarFix {
    CarFixMode mode = CarFixMode::None;
    LatLonDeg position;
    std::optional<double> altMslM;   // 3D fixes only
    std::optional<double> speedKmh;  // over ground
    std::optional<double> trackDeg;  // true course over ground
    std::int64_t arrivalMs = 0;      // monotonic clock of the receiving side
    std::string device;              // the receiver as gpsd names it
};

using common::ElevationDeg;
using common::Geodesic;
using common::GeodesicBetween;

// The turn from `headingDeg` to `bearingDeg` in whole degrees, right positive, -180 to 180
// taken as 180; and as "30° rechts", "12° links", "geradeaus".
long TurnDegrees(double headingDeg, double bearingDeg);
std::string TurnText(double headingDeg, double bearingDeg);

// The last fix and the car's own track. Fixes without a position clear the current one.
class CarTracker {
  public:
    static constexpr std::size_t kMaxTrackPoints = 5000;

    void OnFix(const CarFix& fix);
    // GPS switched off: no fix, nor a last position, until the next one.
    void Clear() {
        last_.reset();
        lastPosition_.reset();
    }
    // The last fix with a position, unless it is older than kCarFixMaxAgeMs at `nowMs`.
    std::optional<CarFix> Current(std::int64_t nowMs) const;
    // The last fix with a position however old, also after a report without one: what a lost
    // fix leaves (see CarHold).
    const std::optional<CarFix>& LastPosition() const { return lastPosition_; }
    const std::deque<LatLonDeg>& Track() const { return track_; }

  private:
    std::optional<CarFix> last_;
    std::optional<CarFix> lastPosition_;
    std::deque<LatLonDeg> track_;
};

struct CarFigures {
    std::optional<CarFix> fix;         // empty: no fix, all else empty too
    std::optional<double> headingDeg;  // only above kHeadingMinKmh
    std::optional<Geodesic> toProbe;
    std::optional<double> probeElevationDeg;  // needs a 3D fix and the probe's altitude
    std::optional<Geodesic> toLanding;
    std::optional<std::string> turnToLanding;  // needs a heading
};

CarFigures MakeCarFigures(const std::optional<CarFix>& fix, const FlightState& probe);

// car=N, then fix, car_lat, car_lon, car_alt, car_speed, car_heading, probe_km, probe_bearing,
// probe_elev, land_km, land_bearing; tab-separated, each present and empty when unknown.
std::string FormatCarLine(std::size_t recordNumber, const CarFigures& f);

// $GPWPL for `point` named LANDING, with its checksum and CR LF.
std::string LandingWaypointSentence(const LatLonDeg& point);

}  // namespace monitor
