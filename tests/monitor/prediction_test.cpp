// pelmora's predictions as a user sees them: --predict before launch against a flight computed
// by hand, and the prediction= lines of a headless replay of a simulated flight with its winds
// as a weather model gives them.
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/atmosphere.h"
#include "common/geo.h"
#include "common/numbers.h"
#include "grib_file.h"
#include "simulated_flight.h"
#include "temp_dir.h"

namespace monitor {
namespace {

using testing::CommandOutput;
using testing::GribMessage;

struct ProgramRun {
    int exitCode = -1;
    std::vector<std::string> lines;
    std::string err;
};

ProgramRun Pelmora(const test_support::TempDir& dir, const std::string& args) {
    const auto errFile = dir.path / "stderr.txt";
    ProgramRun r;
    const std::string out = CommandOutput(
        "XDG_CONFIG_HOME='" + dir.path.string() + "' XDG_STATE_HOME='" + dir.path.string() + "' " +
            PELMORA_EXECUTABLE + " " + args + " 2>'" + errFile.string() + "'",
        &r.exitCode);
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    std::ifstream e(errFile);
    r.err.assign(std::istreambuf_iterator<char>(e), {});
    return r;
}

std::map<std::string, std::string> Fields(const std::string& line) {
    std::map<std::string, std::string> f;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) {
        const auto eq = field.find('=');
        f[field.substr(0, eq)] = field.substr(eq + 1);
    }
    return f;
}

double Number(const std::string& text) {
    return std::stod(text);
}

std::string Kind(const std::string& line) {
    return line.substr(0, line.find('='));
}

// 10 m/s from the west and 5 m/s from the north at every level and time.
std::string UniformWinds(const test_support::TempDir& dir) {
    std::vector<GribMessage> m;
    for (int hhmm : {600, 1200})
        for (const auto& [hpa, heightM] : {std::pair{1000, 100.0}, {10, 31000.0}}) {
            m.push_back({"u", double(hpa), 20261208, hhmm, [](double, double) { return 10.0; }});
            m.push_back({"v", double(hpa), 20261208, hhmm, [](double, double) { return -5.0; }});
            m.push_back({"gh", double(hpa), 20261208, hhmm,
                         [h = heightM](double, double) { return common::GeopotentialHeightM(h); }});
        }
    const auto file = dir.path / "uniform.grib2";
    EXPECT_EQ(testing::WriteGrib(file, {}, m), "");
    return file.string();
}

// From 50 N 8 E at 08:00 UTC, 0 m: up at 5 m/s to 10 km (2000 s), down by the standard law at
// 5 m/s (at sea level) in the time its rate gives, drifting 10 m/s east and 5 m/s south.
TEST(PelmoraPredict, PathAndLandingAsComputedByHand) {
    test_support::TempDir dir;
    const std::string winds = UniformWinds(dir);
    double fallS = 0;
    for (double h = 0; h < 10000; h += 1)
        fallS += std::sqrt(common::StandardDensityRatio(h + 0.5)) / 5;
    const double flightS = 2000 + fallS;

    const ProgramRun r = Pelmora(dir, "--predict 50,8,2026-12-08T08:00Z --winds " + winds +
                                          " --burst-alt 10000 --ascent-rate 5 --descent-rate 5");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("model winds from \"" + winds +
                         "\": 2 times from 2026-12-08 06:00 to "
                         "12:00 UTC, 2 levels 1000 to 10 hPa"),
              std::string::npos)
        << r.err;
    ASSERT_EQ(r.lines.size(), static_cast<std::size_t>(flightS / 60) + 2);
    const common::LatLonDeg launch{50, 8};
    for (std::size_t k = 0; k + 1 < r.lines.size(); ++k) {
        const auto f = Fields(r.lines[k]);
        const double t = 60.0 * static_cast<double>(k);
        ASSERT_EQ(f.at("trajectory"), std::to_string(k + 1));
        char utc[16];
        std::snprintf(utc, sizeof utc, "%02d:%02d:%02d", 8 + int(t) / 3600, int(t) / 60 % 60, 0);
        EXPECT_EQ(f.at("utc"), utc);
        if (t <= 2000) {
            EXPECT_EQ(f.at("alt"), common::FormatFixed(5 * t, 15, 0)) << r.lines[k];
        }
        const common::EastNorthM d =
            common::PlaneOffset(launch, {Number(f.at("lat")), Number(f.at("lon"))});
        EXPECT_NEAR(d.east, 10 * t, 2) << r.lines[k];
        EXPECT_NEAR(d.north, -5 * t, 2) << r.lines[k];
    }
    const auto p = Fields(r.lines.back());
    EXPECT_EQ(p.at("prediction"), "0");
    EXPECT_EQ(p.at("kind"), "ascent");
    EXPECT_EQ(p.at("burst_alt"), "10000");
    EXPECT_EQ(p.at("winds"), "model");
    EXPECT_NEAR(Number(p.at("t_land_s")), flightS, 1);
    const common::EastNorthM d =
        common::PlaneOffset(launch, {Number(p.at("land_lat")), Number(p.at("land_lon"))});
    EXPECT_NEAR(d.east, 10 * flightS, 10);
    EXPECT_NEAR(d.north, -5 * flightS, 10);
}

TEST(PelmoraPredict, SaysWhereTheFlightLeavesTheModel) {
    test_support::TempDir dir;
    const std::string winds = UniformWinds(dir);
    // The file covers 48 to 52 N; the flight drifts south out of it from 48.1 N.
    const ProgramRun r = Pelmora(dir, "--predict 48.1,8,2026-12-08T08:00Z --winds " + winds);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_NE(r.err.find("the model has no wind at 47.99"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the flight leaves its region or its times"), std::string::npos) << r.err;
}

// probegen's flight every 30 s with its own winds in the file: a prediction= line for each
// record from the first of the ascent on, after the flight= line and before any alarm= line;
// during the ascent with the burst altitude set, after the burst the estimate's landing.
TEST(HeadlessPredictions, EachRecordsPredictionInItsPlace) {
    test_support::TempDir dir;
    const auto winds = dir.path / "flight.grib2";
    ASSERT_EQ(testing::WriteGrib(winds, {}, testing::SimulatedGribMessages()), "");
    probegen::FlightOptions o;
    o.frames = 320;
    const auto records = dir.path / "flight.txt";
    {
        std::ofstream out(records);
        for (const auto& f : probegen::SimulateFlight(o)) out << testing::RelayedRecord(f);
    }
    const ProgramRun r = Pelmora(
        dir, "--headless --replay " + records.string() +
                 " --estimates --no-record-log --burst-alt 30000 --winds " + winds.string());
    ASSERT_EQ(r.exitCode, 0) << r.err;

    int ascent = 0, descent = 0, alarms = 0, record = 0;
    std::map<std::string, std::string> estimate;
    std::string previous;
    for (const std::string& line : r.lines) {
        const std::string kind = Kind(line);
        const auto f = Fields(line);
        if (kind == "record") ++record;
        if (kind == "estimate") estimate = f;
        if (kind == "prediction") {
            EXPECT_EQ(previous, "flight") << line;
            EXPECT_EQ(f.at("prediction"), std::to_string(record));
            if (f.at("kind") == "ascent") {
                ++ascent;
                EXPECT_EQ(estimate.at("phase"), "ascent");
                EXPECT_EQ(f.at("burst_alt"), "30000");
                // The model's above the probe; below it the winds measured once there are any.
                EXPECT_TRUE(f.at("winds") == "mixed" || (ascent < 3 && f.at("winds") == "model"))
                    << line;
            } else {
                ++descent;
                EXPECT_EQ(f.at("kind"), "descent");
                EXPECT_EQ(estimate.at("phase"), "descent");
                for (const char* name : {"burst_alt", "t_land_s", "land_lat", "land_lon"})
                    EXPECT_EQ(f.at(name), estimate.at(name)) << name;
                // Measured on the ascent, the model's below the first fix of the climb (and in
                // the last minutes only there).
                if (Number(f.at("t_land_s")) > 120) {
                    EXPECT_EQ(f.at("winds"), "mixed") << line;
                }
            }
        }
        if (kind == "alarm") {
            ++alarms;
            EXPECT_TRUE(previous == "prediction" || previous == "alarm") << line;
        }
        previous = kind;
    }
    // Every record of the climb but the first two (the rate needs two fixes), every record of
    // the fall but the last ones on the ground.
    EXPECT_GE(ascent, 5970 / 30 - 2);
    EXPECT_GT(descent, 60);
    EXPECT_GE(alarms, 1);  // the burst's
}

}  // namespace
}  // namespace monitor
