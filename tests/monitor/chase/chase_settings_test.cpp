// The chase settings: the file round trip, what a hand-edited file may hold, where it lives,
// and command-line options that hold for one run only.
#include "monitor/chase/chase_settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "monitor/options.h"
#include "temp_dir.h"

namespace monitor {
namespace {

ChaseSettings Changed() {
    ChaseSettings s;
    s.analytics = {.vrateWindowS = 20, .driftWindowS = 90, .burstDropM = 500, .landingAltM = 312.5};
    s.alarms = {
        .burstOn = false, .landingOn = true, .landingKm = 7.5, .noDataOn = false, .noDataS = 120};
    s.nightTheme = true;
    s.tilesUrl = "https://tiles.example.org/osm/{z}/{x}/{y}.png?key=a&b=1";
    s.mbtilesPath = "/home/op/maps/region one.mbtiles";
    s.notifications = false;
    s.columnWidthPx = 512;
    s.language = "en";
    s.analytics.burstAltM = 24500;
    s.analytics.descentRateMps = 7.5;
    s.analytics.ascentRateMps = 4.2;
    s.windsPath = "/home/op/forecast 0p25.grib2";
    s.carHoldS = 45;
    return s;
}

TEST(ChaseSettingsFile, RoundTripsThroughTheFile) {
    test_support::TempDir dir;
    const std::string path = (dir.path / "sub" / "pelmora.ini").string();
    std::string error;
    ASSERT_TRUE(SaveChaseSettings(path, Changed(), error)) << error;
    ChaseSettings back;
    std::vector<std::string> problems;
    ASSERT_TRUE(LoadChaseSettings(path, back, error, problems)) << error;
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(back, Changed());
    EXPECT_FALSE(std::filesystem::exists(path + ".new"));

    ChaseSettings untouched = Changed();
    EXPECT_TRUE(LoadChaseSettings((dir.path / "none.ini").string(), untouched, error, problems));
    EXPECT_EQ(untouched, Changed());
    std::ofstream(dir.path / "file") << "x";
    EXPECT_FALSE(SaveChaseSettings((dir.path / "file" / "pelmora.ini").string(), Changed(), error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
}

TEST(ChaseSettingsFile, HandEditedLinesThatDoNotFitAreSkippedWithAMessage) {
    std::vector<std::string> problems;
    const ChaseSettings s = ParseChaseSettings(
        "# mine\n[General]\n vrate_window_s = 45 \r\nburst_drop_m=lots\nalarm_burst=yes\n"
        "landing_alt_m=auto\nalarm_landing_km=0\nfrobnicate=1\nnight_theme=1\nnonsense\n"
        "tiles_url=ftp://x/{z}/{x}/{y}\nmbtiles=\nlanguage=fr\n",
        Changed(), problems);
    EXPECT_EQ(s.analytics.vrateWindowS, 45);
    EXPECT_EQ(s.analytics.burstDropM, 500);  // kept from the base
    EXPECT_FALSE(s.alarms.burstOn);
    EXPECT_FALSE(s.analytics.landingAltM);
    EXPECT_EQ(s.alarms.landingKm, 7.5);
    EXPECT_TRUE(s.nightTheme);
    EXPECT_EQ(s.tilesUrl, Changed().tilesUrl);
    EXPECT_EQ(s.mbtilesPath, "");
    EXPECT_EQ(s.language, "en");  // no translation into French: kept from the base
    ASSERT_EQ(problems.size(), 7u);
    EXPECT_EQ(problems[0], "line 4 \"burst_drop_m=lots\" ignored");
}

TEST(ChaseSettingsFile, LivesInTheUsersConfigurationFolder) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string keepXdg = oldXdg ? oldXdg : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/cfg", 1);
    EXPECT_EQ(ChaseSettingsPath(), "/tmp/cfg/pelmora.ini");
    ::setenv("XDG_CONFIG_HOME", "", 1);
    ::setenv("HOME", "/home/op", 1);
    EXPECT_EQ(ChaseSettingsPath(), "/home/op/.config/pelmora.ini");
    if (oldXdg)
        ::setenv("XDG_CONFIG_HOME", keepXdg.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST(ChaseOptions, OverrideForThisRunOnly) {
    const std::vector<std::string_view> args = {"--headless",
                                                "--replay",
                                                "f",
                                                "--estimates",
                                                "--vrate-window=15",
                                                "--drift-window",
                                                "120",
                                                "--burst-drop",
                                                "250",
                                                "--landing-alt=auto",
                                                "--alarm-km=4.5",
                                                "--no-data",
                                                "30",
                                                "--tiles",
                                                "none",
                                                "--mbtiles=/maps/a.mbtiles",
                                                "--no-notifications",
                                                "--burst-alt",
                                                "18300",
                                                "--descent-rate=9",
                                                "--ascent-rate",
                                                "5.5",
                                                "--winds",
                                                "today.grib2",
                                                "--car-hold",
                                                "20"};
    const ParsedOptions p = ParseOptions(args);
    ASSERT_TRUE(p.error.empty()) << p.error;
    EXPECT_TRUE(p.options.chase.estimates);
    const ChaseSettings fromFile = Changed();
    const ChaseSettings s = p.options.chase.AppliedTo(fromFile);
    EXPECT_EQ(s.analytics, (AnalyticsSettings{15, 120, 250, std::nullopt, 18300, 9, 5.5}));
    EXPECT_EQ(s.windsPath, "today.grib2");
    EXPECT_EQ(s.alarms.landingKm, 4.5);
    EXPECT_EQ(s.alarms.noDataS, 30);
    EXPECT_FALSE(s.alarms.burstOn);  // switches stay as the file has them
    EXPECT_TRUE(s.nightTheme);
    EXPECT_EQ(s.tilesUrl, "none");
    EXPECT_EQ(s.mbtilesPath, "/maps/a.mbtiles");
    EXPECT_FALSE(p.options.chase.AppliedTo({}).notifications);
    EXPECT_EQ(s.carHoldS, 20);
    EXPECT_EQ(ChaseSettings().tilesUrl, kDefaultTileUrl);
    EXPECT_EQ(ChaseSettings().carHoldS, 300);

    const ParsedOptions none =
        ParseOptions(std::vector<std::string_view>{"--headless", "--replay", "f"});
    EXPECT_EQ(none.options.chase.AppliedTo(fromFile), fromFile);
    EXPECT_EQ(ParseOptions(std::vector<std::string_view>{"--headless", "--replay", "f",
                                                         "--landing-alt", "420"})
                  .options.chase.AppliedTo({})
                  .analytics.landingAltM,
              420);
}

TEST(ChaseOptions, UnusableValuesAreRefused) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--estimates"},  // a window has no estimate lines
        {"--headless", "--replay", "f", "--vrate-window"},
        {"--headless", "--replay", "f", "--vrate-window=0"},
        {"--headless", "--replay", "f", "--drift-window", "x"},
        {"--headless", "--replay", "f", "--burst-drop=-5"},
        {"--headless", "--replay", "f", "--landing-alt", "sea"},
        {"--headless", "--replay", "f", "--alarm-km="},
        {"--headless", "--replay", "f", "--no-data", "1e9"},
        {"--headless", "--replay", "f", "--car-hold", "-1"},
        {"--headless", "--replay", "f", "--car-hold=3601"},
        {"--serial", "zwei"},
        {"--serial", "0"},
        {"--tiles", "ftp://tiles.example.org/{z}/{x}/{y}.png"},
        {"--tiles", "https://tiles.example.org/{z}/{x}.png"},
        {"--tiles", "https://tiles.example.org/{z}/{x}/{y}.png trailing"},
        {"--tiles"},
        {"--mbtiles"},
        {"--burst-alt", "60000"},
        {"--descent-rate=0.5"},
        {"--ascent-rate", "fast"},
        {"--winds"},
    };
    for (const auto& args : bad) EXPECT_FALSE(ParseOptions(args).error.empty()) << args.back();
    EXPECT_NE(UsageText().find("--estimates"), std::string::npos);
}

}  // namespace
}  // namespace monitor
