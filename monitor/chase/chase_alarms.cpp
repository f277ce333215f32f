#include "monitor/chase/chase_alarms.h"

#include <cmath>

#include "common/numbers.h"

namespace monitor {

namespace {

std::string Fixed(double v, int decimals) {
    return common::FormatFixed(v, 15, decimals);
}

std::string TwoDigits(long v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

}  // namespace

std::optional<double> DataAge::Seconds(std::int64_t nowMs) const {
    if (!lastMs_) return std::nullopt;
    // A wall clock set back must not give a negative age.
    return std::max<std::int64_t>(0, nowMs - *lastMs_) / 1000.0;
}

std::string DataAge::Text(std::optional<double> seconds) {
    if (!seconds) return "-";
    const long s = static_cast<long>(std::floor(*seconds));
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min " + TwoDigits(s % 60) + " s";
    return std::to_string(s / 3600) + " h " + TwoDigits(s / 60 % 60) + " min";
}

std::vector<Alarm> ChaseAlarms::OnRecord(const FlightState& state) {
    std::vector<Alarm> fired;
    OnData();
    if (state.bursts > burstsSeen_) {
        burstsSeen_ = state.bursts;
        if (settings_.burstOn)
            fired.push_back({AlarmKind::Burst,
                             "PLATZER in " + Fixed(state.burstAltM.value_or(0), 0) + " m",
                             state.burstAltM.value_or(0),
                             {}});
    }
    if (state.landing) {
        const double km = state.landing->homeKm;
        if (landingArmed_ && km <= settings_.landingKm) {
            landingArmed_ = false;
            if (settings_.landingOn)
                fired.push_back({AlarmKind::Landing,
                                 "LANDUNG " + Fixed(km, 1) + " km vom eigenen Standort (" +
                                     state.landing->locator + ")",
                                 km, state.landing->locator});
        } else if (km > settings_.landingKm + kLandingRearmKm) {
            landingArmed_ = true;
        }
    }
    return fired;
}

std::vector<Alarm> ChaseAlarms::OnTick(std::optional<double> dataAgeS) {
    std::vector<Alarm> fired;
    if (dataAgeS && noDataArmed_ && *dataAgeS >= settings_.noDataS) {
        noDataArmed_ = false;
        if (settings_.noDataOn)
            fired.push_back(
                {AlarmKind::NoData, "KEINE DATEN seit " + DataAge::Text(*dataAgeS), *dataAgeS, {}});
    }
    return fired;
}

}  // namespace monitor
