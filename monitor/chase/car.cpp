#include "monitor/chase/car.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string_view>

#include "common/numbers.h"
#include "common/text.h"

namespace monitor {

namespace {

// ddmm.mmmm / dddmm.mmmm of the absolute value, rounded once as a whole so 59.99999' carries.
std::string DegreesMinutes(double degrees, int degreeDigits) {
    const long long units = std::llround(std::fabs(degrees) * 60.0 * 10000.0);
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld%02lld.%04lld", degreeDigits, units / 600000,
                  units % 600000 / 10000, units % 10000);
    return text;
}

std::string Number(const std::optional<double>& v, int decimals) {
    return v ? common::FormatFixed(*v, 15, decimals) : std::string();
}

std::optional<double> Bearing(const std::optional<Geodesic>& g, int decimals) {
    return g ? std::optional(common::ShownBearing(g->bearingDeg, decimals)) : std::nullopt;
}

}  // namespace

long TurnDegrees(double headingDeg, double bearingDeg) {
    const long turn = std::lround(std::remainder(bearingDeg - headingDeg, 360.0));
    return turn == -180 ? 180 : turn;
}

std::string TurnText(double headingDeg, double bearingDeg) {
    const long turn = TurnDegrees(headingDeg, bearingDeg);
    if (turn == 0) return "geradeaus";
    return std::to_string(std::labs(turn)) + (turn > 0 ? "° rechts" : "° links");
}

void CarTracker::OnFix(const CarFix& fix) {
    if (fix.mode == CarFixMode::None) {
        last_.reset();
        return;
    }
    last_ = fix;
    lastPosition_ = fix;
    if (track_.size() >= kMaxTrackPoints) track_.pop_front();
    track_.push_back(fix.position);
}

std::optional<CarFix> CarTracker::Current(std::int64_t nowMs) const {
    if (!last_ || nowMs - last_->arrivalMs > kCarFixMaxAgeMs) return std::nullopt;
    return last_;
}

CarFigures MakeCarFigures(const std::optional<CarFix>& fix, const FlightState& probe) {
    CarFigures f;
    if (!fix || fix->mode == CarFixMode::None) return f;
    f.fix = fix;
    if (fix->speedKmh && fix->trackDeg && *fix->speedKmh > kHeadingMinKmh)
        f.headingDeg = common::NormalisedBearing(*fix->trackDeg);
    if (probe.lastPosition) {
        f.toProbe = GeodesicBetween(fix->position, *probe.lastPosition);
        if (fix->altMslM && probe.last)
            f.probeElevationDeg = ElevationDeg(fix->position, *fix->altMslM, *probe.lastPosition,
                                               probe.last->altitudeM);
    }
    if (probe.landing) {
        f.toLanding = GeodesicBetween(fix->position, probe.landing->point);
        if (f.headingDeg) f.turnToLanding = TurnText(*f.headingDeg, f.toLanding->bearingDeg);
    }
    return f;
}

std::string FormatCarLine(std::size_t n, const CarFigures& f) {
    std::string line = "car=" + std::to_string(n);
    auto add = [&line](std::string_view name, const std::string& value) {
        line += '\t';
        line += name;
        line += '=';
        line += value;
    };
    const auto& fix = f.fix;
    add("fix", !fix ? "none" : fix->mode == CarFixMode::ThreeD ? "3d" : "2d");
    add("car_lat", Number(fix ? std::optional(fix->position.lat) : std::nullopt, 6));
    add("car_lon", Number(fix ? std::optional(fix->position.lon) : std::nullopt, 6));
    add("car_alt", Number(fix ? fix->altMslM : std::nullopt, 0));
    add("car_speed", Number(fix ? fix->speedKmh : std::nullopt, 1));
    add("car_heading",
        Number(f.headingDeg ? std::optional(common::ShownBearing(*f.headingDeg, 0)) : std::nullopt,
               0));
    add("probe_km", Number(f.toProbe ? std::optional(f.toProbe->km) : std::nullopt, 3));
    add("probe_bearing", Number(Bearing(f.toProbe, 1), 1));
    add("probe_elev", Number(f.probeElevationDeg, 1));
    add("land_km", Number(f.toLanding ? std::optional(f.toLanding->km) : std::nullopt, 3));
    add("land_bearing", Number(Bearing(f.toLanding, 1), 1));
    line += '\n';
    return line;
}

std::string LandingWaypointSentence(const LatLonDeg& point) {
    std::string body = "GPWPL," + DegreesMinutes(point.lat, 2) + (point.lat < 0 ? ",S," : ",N,") +
                       DegreesMinutes(point.lon, 3) + (point.lon < 0 ? ",W," : ",E,") + "LANDING";
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char check[4];
    std::snprintf(check, sizeof check, "%02X", sum & 0xFFu);
    return '$' + body + '*' + check + "\r\n";
}

std::string GpsServer::Text() const {
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return shown + ":" + std::to_string(port);
}

std::optional<GpsServer> ParseGpsServer(std::string_view text, std::string& error) {
    common::HostPort hp;
    if (!common::SplitHostPort(text, hp)) {
        error = "gpsd server \"" + std::string(text) +
                "\" is not HOST or HOST:PORT with a port from 1 to 65535";
        return std::nullopt;
    }
    return GpsServer{hp.host, hp.port != 0 ? hp.port : kGpsdDefaultPort};
}

}  // namespace monitor
