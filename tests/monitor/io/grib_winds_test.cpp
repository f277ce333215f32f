// A weather model's winds from GRIB2 files that ecCodes' own grib_filter writes: each field where
// it belongs, the drift through uniform, turning and changing winds as computed by hand, files
// that lack what is needed refused with a message that says what, a simulated flight predicted
// from its first minute with its winds as a model gives them, and pelmora --predict.
#include "monitor/io/grib_winds.h"

#include <cmath>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/atmosphere.h"
#include "grib_file.h"
#include "monitor/chase/flight_analytics.h"
#include "monitor/predict/trajectory.h"
#include "simulated_flight.h"
#include "simulated_winds.h"
#include "temp_dir.h"

namespace monitor {
namespace {

using testing::GribMessage;
using testing::WriteGrib;

constexpr double kSix = 1796709600;  // 2026-12-08 06:00 UTC

double Gh(double geometricM) {
    return common::GeopotentialHeightM(geometricM);
}

// u, v and gh at each level (hPa, geometric height) and time (hhmm), from `wind`.
std::vector<GribMessage> Fields(const std::vector<std::pair<int, double>>& levels,
                                const std::vector<int>& times,
                                const std::function<std::pair<double, double>(
                                    double lat, double lon, double heightM, int hhmm)>& wind) {
    std::vector<GribMessage> m;
    for (int t : times) {
        for (const auto& [hpa, height] : levels) {
            const double h = height;
            m.push_back({"u", double(hpa), 20261208, t,
                         [=](double lat, double lon) { return wind(lat, lon, h, t).first; }});
            m.push_back({"v", double(hpa), 20261208, t,
                         [=](double lat, double lon) { return wind(lat, lon, h, t).second; }});
            m.push_back({"gh", double(hpa), 20261208, t, [=](double, double) { return Gh(h); }});
        }
    }
    return m;
}

std::shared_ptr<const WindField> Read(const test_support::TempDir& dir, const std::string& name,
                                      const std::vector<GribMessage>& messages,
                                      std::string& error) {
    const auto file = dir.path / name;
    const std::string written = WriteGrib(file, {}, messages);
    EXPECT_EQ(written, "");
    EXPECT_EQ(testing::GribMessages(file), static_cast<int>(messages.size()));
    return ReadGribWinds(file.string(), error);
}

TEST(GribWinds, EachValueWhereItBelongs) {
    test_support::TempDir dir;
    // East wind: the latitude (plus 100 at 500 hPa, plus 10 at 12:00); north wind: the longitude.
    const auto messages = Fields(
        {{850, 1500}, {500, 5600}}, {600, 1200}, [](double lat, double lon, double h, int hhmm) {
            return std::pair{lat + (h > 2000 ? 100 : 0) + (hhmm == 1200 ? 10 : 0), lon};
        });
    std::string error;
    const auto f = Read(dir, "fields.grib2", messages, error);
    ASSERT_TRUE(f) << error;
    EXPECT_EQ(f->Describe(),
              "2 times from 2026-12-08 06:00 to 12:00 UTC, 2 levels 850 to 500 "
              "hPa, 48.00 N to 52.00 N, 6.00 E to 14.00 E");
    auto w = f->At({50.5, 8.25}, 1500, kSix);
    ASSERT_TRUE(w);
    EXPECT_NEAR(w->eastMps, 50.5, 1e-3);
    EXPECT_NEAR(w->northMps, 8.25, 1e-3);
    EXPECT_NEAR(f->At({50.5, 8.25}, 5600, kSix)->eastMps, 150.5, 1e-3);
    EXPECT_NEAR(f->At({50.5, 8.25}, 3550, kSix)->eastMps, 100.5, 1e-3);
    EXPECT_NEAR(f->At({48.25, 13.5}, 1500, kSix + 3 * 3600)->eastMps, 53.25, 1e-3);
    EXPECT_FALSE(f->At({52.5, 8}, 1500, kSix));
}

// Launched at 100 m on 2026-12-08 08:00 at 5 m/s to 5600 m, down at a constant 10 m/s: 1100 s
// up and 550 s down.
Trajectory Fly(const WindField& f) {
    FlightPlan plan;
    plan.ascentMps = 5;
    plan.burstAltM = 5600;
    plan.descent = DescentLaw{10, 0};
    plan.landingAltM = 100;
    const auto t = FlyTrajectory({kSix + 2 * 3600, {50, 8}, 100}, plan, ModelWindLookup(f));
    EXPECT_TRUE(t);
    return t.value_or(Trajectory{});
}

common::EastNorthM Drift(const Trajectory& t) {
    return common::PlaneOffset(t.path.front().position, t.landing.position);
}

TEST(GribWinds, DriftAsComputedByHand) {
    test_support::TempDir dir;
    const std::vector<std::pair<int, double>> levels = {{1000, 100}, {500, 5600}};
    std::string error;

    // 10 m/s from the west and 5 m/s from the north at every level: 1650 s of it.
    auto f = Read(dir, "uniform.grib2",
                  Fields(levels, {600, 1200},
                         [](double, double, double, int) {
                             return std::pair{10.0, -5.0};
                         }),
                  error);
    ASSERT_TRUE(f) << error;
    auto d = Drift(Fly(*f));
    EXPECT_NEAR(d.east, 16500, 2);
    EXPECT_NEAR(d.north, -8250, 2);

    // From the west at 100 m, from the south at 5600 m: on average (5, 5) on the way up and
    // down, linearly between the levels.
    f = Read(dir, "turning.grib2",
             Fields(levels, {600, 1200},
                    [](double, double, double h, int) {
                        return h < 1000 ? std::pair{10.0, 0.0} : std::pair{0.0, 10.0};
                    }),
             error);
    ASSERT_TRUE(f) << error;
    d = Drift(Fly(*f));
    EXPECT_NEAR(d.east, 8250, 2);
    EXPECT_NEAR(d.north, 8250, 2);

    // 10 m/s from the west at 06:00, 20 m/s at 12:00: from 08:00 for 1650 s the wind of its
    // middle, 08:13:45, is 10 + 10 * 8025 / 21600.
    f = Read(dir, "changing.grib2",
             Fields(levels, {600, 1200},
                    [](double, double, double, int hhmm) {
                        return std::pair{hhmm == 600 ? 10.0 : 20.0, 0.0};
                    }),
             error);
    ASSERT_TRUE(f) << error;
    d = Drift(Fly(*f));
    EXPECT_NEAR(d.east, 1650 * (10 + 10 * 8025.0 / 21600), 2);
    EXPECT_NEAR(d.north, 0, 1);
}

TEST(GribWinds, FilesWithoutWhatIsNeededAreRefusedSayingWhat) {
    test_support::TempDir dir;
    const std::vector<std::pair<int, double>> levels = {{850, 1500}, {500, 5600}};
    const auto calm = [](double, double, double, int) { return std::pair{0.0, 0.0}; };
    std::string error;
    std::vector<GribMessage> noHeight;
    for (const auto& m : Fields(levels, {600}, calm))
        if (m.shortName != "gh") noHeight.push_back(m);
    EXPECT_FALSE(Read(dir, "noheight.grib2", noHeight, error));
    EXPECT_NE(error.find("fewer than two pressure levels with wind and height"), std::string::npos)
        << error;
    EXPECT_NE(error.find("500 hPa at 2026-12-08 06:00 UTC lacks gh"), std::string::npos) << error;

    EXPECT_FALSE(Read(dir, "onelevel.grib2", Fields({{850, 1500}}, {600}, calm), error));
    EXPECT_NE(error.find("fewer than two pressure levels"), std::string::npos) << error;

    EXPECT_FALSE(Read(dir, "temperature.grib2",
                      {{"t", 850, 20261208, 600, [](double, double) { return 270.0; }}}, error));
    EXPECT_NE(error.find("holds no wind or height on pressure levels (needed: u and v wind and "
                         "geopotential height gh"),
              std::string::npos)
        << error;

    const auto text = dir.path / "notes.txt";
    std::ofstream(text) << "u and v at 500 hPa\n";
    EXPECT_FALSE(ReadGribWinds(text.string(), error));
    EXPECT_EQ(error, "\"" + text.string() + "\" holds no GRIB messages");
    EXPECT_FALSE(ReadGribWinds((dir.path / "missing.grib2").string(), error));
    EXPECT_EQ(error, "cannot open \"" + (dir.path / "missing.grib2").string() +
                         "\": No such file or directory");

    const auto whole = dir.path / "whole.grib2";
    ASSERT_EQ(WriteGrib(whole, {}, Fields(levels, {600}, calm)), "");
    EXPECT_TRUE(ReadGribWinds(whole.string(), error, 6 * 45));
    EXPECT_FALSE(ReadGribWinds(whole.string(), error, 6 * 45 - 1));
    EXPECT_NE(error.find("cut the region, the levels or the times"), std::string::npos) << error;
}

// The simulated flight's own winds as a model gives them, every 30 s a record: with its true
// burst altitude and descent rate the landing is predicted within 1 km from the first minute of
// the ascent on. Without the model only the measured winds: how far off, printed.
TEST(AscentPrediction, WithinAKilometreFromTheFirstMinuteWithTheModelsWinds) {
    test_support::TempDir dir;
    const auto messages = testing::SimulatedGribMessages();
    std::string error;
    const auto winds = Read(dir, "flight.grib2", messages, error);
    ASSERT_TRUE(winds) << error;

    probegen::FlightOptions o;
    o.frames = 320;
    const testing::FlightTruth truth = testing::Truth(o);
    AnalyticsSettings settings;
    settings.burstAltM = o.burstAltM;
    settings.descentRateMps = o.descentSeaLevelMps;
    auto worst = [&](std::shared_ptr<const WindField> model, int& predictions) {
        FlightAnalytics a(settings);
        a.SetModelWinds(std::move(model));
        double km = 0;
        predictions = 0;
        const auto frames = probegen::SimulateFlight(o);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            std::string r = testing::RelayedRecord(frames[i]);
            r.pop_back();
            a.AddRecord(r);
            const double s = testing::FlightSeconds(o, i);
            if (s < 60 || s >= truth.landingTimeS) continue;
            const auto& p = a.State().prediction;
            EXPECT_TRUE(p) << s;
            if (!p) continue;
            ++predictions;
            km = std::max(km, testing::DistanceKm(p->point.lat, p->point.lon, truth.landingLat,
                                                  truth.landingLon));
        }
        return km;
    };
    int predictions = 0;
    EXPECT_LE(worst(winds, predictions), 1.0);
    EXPECT_GT(predictions, 250);
    std::cout << "without the model the prediction is up to " << worst(nullptr, predictions)
              << " km off\n";
}

}  // namespace
}  // namespace monitor
