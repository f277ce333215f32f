// What a chase crew needs beyond the per-record displays: the vertical rate averaged over
// several fixes, the flight phase and the burst, and while the probe falls the time and place
// of its landing. Plain C++, fed the same relayed records as the stream reader; all rates run
// on the records' GPS time, never on the wall clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/record.h"
#include "monitor/core/track.h"
#include "monitor/predict/descent_model.h"
#include "monitor/predict/trajectory.h"
#include "monitor/predict/wind_field.h"

namespace monitor {

enum class FlightPhase { Unknown, Ground, Ascent, Descent };

// "ground", "ascent", "descent"; empty while unknown.
std::string_view PhaseName(FlightPhase phase);
// The phase as the chase panel shows it: "am Boden", "Aufstieg", "Abstieg"; "-" while unknown.
std::string_view PhaseCaption(FlightPhase phase);

struct AnalyticsSettings {
    double vrateWindowS = 30;  // fixes averaged for the vertical rate
    double driftWindowS = 60;  // fixes that give the drift used where no ascent wind is known
    double burstDropM = 300;   // fall below the highest altitude that, when falling, is a burst
    std::optional<double> landingAltM;  // empty: the launch site when seen, else 0 m
    // What a prediction before the burst assumes: the burst altitude, the sink rate at sea level
    // (by the standard law) and, before launch, the ascent rate.
    double burstAltM = 30000;
    double descentRateMps = 5;
    double ascentRateMps = 5;
    DescentFitSettings descentFit = {};

    bool operator==(const AnalyticsSettings&) const = default;
};

struct LandingEstimate {
    double secondsToLanding = 0;  // from the last fix
    double landingTimeS = 0;      // on the flight clock (see FlightPoint::timeS)
    double altitudeM = 0;         // the landing altitude used
    LatLonDeg point;
    std::string locator;    // six characters
    double homeKm = 0;      // great-circle distance from home
    double bearingDeg = 0;  // from home, 0 north, 90 east, [0, 360)
    // Share of the remaining fall whose drift comes from winds measured on the ascent (0..1);
    // the rest uses the model's winds where there are any, else the drift of the last minute.
    double ascentWindShare = 0;
};

enum class PredictionKind { Ascent, Descent };

// "ascent", "descent".
std::string_view PredictionKindName(PredictionKind kind);

// Where the probe will come down. During the ascent a whole flight from the last fix on, with
// the burst altitude and descent rate of the settings; after the burst the landing estimate,
// with the descent law learnt from the fall. Times on the flight clock.
struct Prediction {
    PredictionKind kind = PredictionKind::Ascent;
    std::optional<double> burstAltM;       // assumed during the ascent, seen after the burst
    std::optional<TrajectoryPoint> burst;  // during the ascent: where and when it is expected
    double secondsToLanding = 0;           // from the last fix
    double landingTimeS = 0;
    LatLonDeg point;
    WindsUsed winds = WindsUsed::Measured;
    // From the last position on, a point every few hundred metres of height; the landing last.
    std::vector<TrajectoryPoint> path;
    double ascentMps = 0;  // assumed (the rate measured) during the ascent
    DescentLaw descent;
};

// A fix as the analytics keep it. The flight clock counts seconds from midnight UTC of the
// day of the first fix and runs on across midnight.
struct FlightPoint {
    double timeS = 0;
    double altitudeM = 0;
    std::optional<LatLonDeg> position;
};

struct FlightState {
    FlightPhase phase = FlightPhase::Unknown;
    std::optional<double> vrateAvgMps;
    std::optional<double> maxAltM;
    std::optional<double> burstAltM;
    std::optional<double> burstTimeS;  // flight clock of the highest fix before the burst
    std::optional<LandingEstimate> landing;
    std::optional<FlightPoint> last;  // the last fix taken
    std::optional<LatLonDeg> lastPosition;
    // Counts bursts detected since start-up, so a listener sees each one once.
    int bursts = 0;
    // Landed after a gap in the fixes that hid the top of the climb: no burst altitude is known.
    bool burstNotSeen = false;
    // The law the landing estimate falls by: learnt from the fall, or while too little of it is
    // seen the standard law scaled to the rate now.
    std::optional<DescentLaw> descentLaw;
    bool descentLearnt = false;
    std::optional<Prediction> prediction;
};

class FlightAnalytics {
  public:
    // Points kept for the plots; beyond this every second one of the older half goes.
    static constexpr std::size_t kMaxTrackPoints = 20000;

    explicit FlightAnalytics(const AnalyticsSettings& settings = {},
                             std::string_view homeLocator = kDefaultLocator);

    void SetSettings(const AnalyticsSettings& settings);
    const AnalyticsSettings& Settings() const { return settings_; }
    // Home from the user's locator; an invalid one falls back to JN49EA, as the displays do.
    void SetHomeLocator(std::string_view locator);
    LatLonDeg Home() const { return home_; }
    // With a position from `source`, the landing's distance and bearing are measured from it on
    // the WGS84 ellipsoid, as the car's own figures are; without one from the locator's home.
    void SetHomeSource(HomeSource source);
    // The point the distances are measured from now.
    LatLonDeg EffectiveHome() const;
    // The source's position changed: the landing's distance follows it.
    void HomeMoved();

    // One relayed record. Records without a time or an altitude, older than the last fix, or
    // implausibly far from it leave everything as it was; false then.
    bool AddRecord(const common::RelayedRecord& record);
    // The same from the record's text (without its "#").
    bool AddRecord(std::string_view record);
    // A fix that something else has already placed in this flight, on a clock that runs on
    // across midnight: newer than every fix so far.
    void AddFix(const FlightPoint& p);
    // An older fix that came late (another station's, one held back by an outage): it goes into
    // the track in time order and every figure is worked out again as if it had come in time.
    void AddLateFix(const FlightPoint& p);

    const FlightState& State() const { return state_; }
    // Every fix taken in this flight, thinned when long.
    const std::vector<FlightPoint>& Track() const { return track_; }
    // The landing altitude the estimates use now.
    double LandingAltitudeM() const;
    // A weather model's winds for the predictions, or none.
    void SetModelWinds(std::shared_ptr<const WindField> winds);
    const std::shared_ptr<const WindField>& Winds() const { return winds_; }
    // The receive clock (seconds since 1970) when the flight's first fix came: it tells the
    // model winds the flight's day. Ignored when it is no such time (a replay's GPS clock).
    void SetReceiveClockHint(double unixS);

  private:
    struct Band {
        double eastM = 0;  // drift, metres, summed over the ascent through this band
        double northM = 0;
        double seconds = 0;
    };
    struct Velocity {
        double eastMps = 0;
        double northMps = 0;
    };

    bool Plausible(const FlightPoint& p) const;
    void StartFlight();
    void Keep(const FlightPoint& p);
    void Take(const FlightPoint& p, bool estimate = true);
    void UpdatePhase();
    bool TopSeenWhole() const;
    void RefineBurst();
    void RecordAscentWind(const FlightPoint& from, const FlightPoint& to);
    std::optional<double> AverageRate(double& meanAltM) const;
    std::optional<Velocity> RecentDrift() const;
    std::optional<Velocity> BandWind(double altitudeM) const;
    // The measured band nearest below `altitudeM`, else the nearest above.
    std::optional<Velocity> NearestBandWind(double altitudeM) const;
    std::optional<ModelWind> ModelWindAt(const LatLonDeg& p, double altitudeM,
                                         double flightS) const;
    std::optional<double> AscentRate() const;
    void FitDescent();
    void EstimateLanding();
    void PredictAscent();
    void AddToTrack(const FlightPoint& p);

    AnalyticsSettings settings_;
    std::shared_ptr<const WindField> winds_;
    LatLonDeg home_;
    HomeSource homeSource_;
    FlightState state_;
    std::vector<FlightPoint> track_;
    // Every fix taken, in time order: what a late fix is worked in with.
    std::vector<FlightPoint> fixes_;
    // Fixes of the longer of the two windows (at least two), all and those with a position.
    std::deque<FlightPoint> recent_;
    std::deque<FlightPoint> recentPositions_;
    std::vector<Band> bands_;
    std::optional<double> lastSecondOfDay_;
    double dayOffsetS_ = 0;
    int rejectedInRow_ = 0;
    std::optional<double> firstAltM_;  // first fix of this flight
    bool launchSeen_ = false;          // the first fix was the probe on the ground
    bool ascentSeen_ = false;
    bool landed_ = false;
    bool gapSinceAscent_ = false;  // a gap after the climb was seen: the burst may be hidden
    std::optional<double> vrateSeaLevelMps_;  // the averaged rate at sea-level density
    std::optional<double> ascentSinceS_;      // the fix that made the phase ascent
    std::optional<double> receiveClockHintS_;
    // The highest fix, the one before it and the first two after it, for the burst.
    std::optional<FlightPoint> beforeMax_, maxPoint_;
    std::vector<FlightPoint> afterMax_;
};

// A flight from launch as the settings have it: up at their ascent rate to their burst
// altitude, down by the standard law at their descent rate to their landing altitude (0 m when
// automatic), which is the launch site's too.
FlightPlan LaunchPlan(const AnalyticsSettings& settings);
// That flight from a launch point at a time (seconds since 1970) with the model's winds alone.
// Empty when the model has no wind somewhere on the way; `stoppedAt` (when given) says where.
std::optional<Trajectory> PredictLaunch(const WindField& winds, const LatLonDeg& launch,
                                        double unixS, const AnalyticsSettings& settings,
                                        TrajectoryPoint* stoppedAt = nullptr);
// The prediction a trajectory makes, its times on the trajectory's clock, `nowS` the time it
// counts the landing from.
Prediction MakePrediction(const Trajectory& t, const FlightPlan& plan, double nowS);

// prediction=N, kind, burst_alt, t_land_s, land_lat, land_lon and winds, tab-separated; one
// line with "\n".
std::string FormatPredictionLine(std::size_t number, const Prediction& p);

// estimate=N, then the analytics' name=value fields, tab-separated, every field present and
// empty when unknown; one line with "\n".
std::string FormatEstimateLine(std::size_t recordNumber, const FlightState& s);

}  // namespace monitor
