// How far off the landing estimate is, minutes before the landing, for probegen's simulated
// flight: seen from the launch, or joined after the burst (then only the drift of the last
// minute is known, and the launch site is not). Prints a table; judges nothing.
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "monitor/chase/flight_analytics.h"
#include "simulated_flight.h"

namespace {

struct Scenario {
    const char* name;
    double stepS;
    double joinS;  // seconds after the launch the monitor starts
    std::optional<double> landingAltM;
};

}  // namespace

int main() {
    const double minutesBefore[] = {60, 45, 30, 20, 15, 10, 5, 2, 1};
    probegen::FlightOptions base;
    const auto truth = monitor::testing::Truth(base);
    const double burst = truth.burstTimeS;
    const Scenario scenarios[] = {
        {"seen from launch, frame every 30 s", 30, 0, std::nullopt},
        {"seen from launch, frame every 1 s", 1, 0, std::nullopt},
        {"joined at 10 km on the way up, every 30 s", 30, 9850 / base.ascentMps, std::nullopt},
        {"joined 5 min after burst, every 30 s", 30, burst + 300, std::nullopt},
        {"joined 5 min after burst, landing alt set", 30, burst + 300, 150.0},
        {"joined 15 min after burst, every 30 s", 30, burst + 900, std::nullopt},
    };
    std::printf("flight: burst %.0f m at %.0f s, landing %.0f s after launch (%.1f min of fall)\n",
                truth.burstAltM, truth.burstTimeS, truth.landingTimeS,
                (truth.landingTimeS - truth.burstTimeS) / 60);
    std::printf("landing estimate error (km / s) that many minutes before the landing\n%-42s", "");
    for (double m : minutesBefore) std::printf(" %9.0f", m);
    std::printf("\n");
    for (const Scenario& sc : scenarios) {
        probegen::FlightOptions o = base;
        o.stepS = sc.stepS;
        o.frames = static_cast<int>(9000 / sc.stepS);
        monitor::AnalyticsSettings settings;
        settings.landingAltM = sc.landingAltM;
        monitor::FlightAnalytics a(settings);
        std::vector<std::string> cells(std::size(minutesBefore), "        -");
        const auto frames = probegen::SimulateFlight(o);
        std::size_t next = 0;
        for (std::size_t i = 0; i < frames.size() && next < std::size(minutesBefore); ++i) {
            const double t = static_cast<double>(i) * o.stepS;
            if (t < sc.joinS) continue;
            std::string r = monitor::testing::RelayedRecord(frames[i]);
            r.pop_back();
            a.AddRecord(r);
            // The first record at or after each moment.
            if (truth.landingTimeS - t > minutesBefore[next] * 60) continue;
            if (minutesBefore[next] * 60 - (truth.landingTimeS - t) >= o.stepS) {
                ++next;
                continue;
            }
            const auto& l = a.State().landing;
            char cell[32];
            if (l) {
                std::snprintf(cell, sizeof cell, " %4.1f/%4.0f",
                              monitor::testing::DistanceKm(l->point.lat, l->point.lon,
                                                           truth.landingLat, truth.landingLon),
                              l->landingTimeS - o.startSecondsOfDay - truth.landingTimeS);
                cells[next] = cell;
            }
            ++next;
        }
        std::printf("%-42s", sc.name);
        for (const auto& c : cells) std::printf("%s", c.c_str());
        std::printf("\n");
    }
    return 0;
}
