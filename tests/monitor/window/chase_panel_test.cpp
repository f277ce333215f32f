// The chase panel under the offscreen platform, fed probegen's flight: values, alarms with one
// beep each, the data age going red, the night theme, and what it keeps in pelmora.ini. With
// CHASE_SCREENSHOTS set to a folder it leaves PNGs of itself there to look at.
#include "monitor/window/chase_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/locator.h"
#include "records.h"
#include "simulated_flight.h"
#include "temp_dir.h"

namespace monitor {
namespace {

class ChasePanelTest : public ::testing::Test {
  protected:
    void Make(const ChaseSettings& file = {}, const ChaseOptions& run = {},
              const std::string& path = {}) {
        panel_ = std::make_unique<ChasePanel>(file, run, path);
        panel_->SetClock([this] { return nowMs_; });
        panel_->SetBeep([this] { ++beeps_; });
        panel_->resize(620, 560);
    }
    QString Text(const char* name) const {
        return panel_->findChild<QLabel*>(QLatin1String(name))->text();
    }
    QPushButton* Banner() const { return panel_->findChild<QPushButton*>("alarmbt"); }
    template <class T>
    T* Control(const char* name) const {
        return panel_->findChild<T*>(QLatin1String(name));
    }
    // Feeds the flight, a record a second on the wall clock, up to `until` seconds of flight.
    void Fly(const probegen::FlightOptions& o, double untilS = 1e9) {
        for (std::size_t i = 0; i < frames_.size() && i * o.stepS <= untilS; ++i) {
            if (i < fed_) continue;
            std::string r = testing::RelayedRecord(frames_[i]);
            r.pop_back();
            nowMs_ += 1000;
            panel_->OnRecord(r);
            fed_ = i + 1;
        }
    }
    void Shot(const char* name) {
        const char* dir = std::getenv("CHASE_SCREENSHOTS");
        if (dir) panel_->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
    }

    std::unique_ptr<ChasePanel> panel_;
    std::int64_t nowMs_ = 1'000'000;
    int beeps_ = 0;
    std::vector<probegen::FrameContent> frames_;
    std::size_t fed_ = 0;
};

TEST_F(ChasePanelTest, FollowsTheSimulatedFlightAndSoundsEachAlarmOnce) {
    const probegen::FlightOptions o;  // scripts/run's flight
    frames_ = probegen::SimulateFlight(o);
    const testing::FlightTruth t = testing::Truth(o);
    Make();
    panel_->SetHomeLocator(*common::LatLonToLocator(t.landingLon + 0.05, t.landingLat + 0.03));
    panel_->show();
    EXPECT_EQ(Text("phaselb"), "-");
    EXPECT_EQ(Text("agelb"), "-");

    Fly(o, 3000);
    EXPECT_EQ(Text("phaselb"), "Aufstieg");
    EXPECT_EQ(Text("vavglb"), "5.0 m/s");
    EXPECT_EQ(Text("burstlb"), "-");
    EXPECT_EQ(Text("tlandlb"), "-");
    EXPECT_EQ(beeps_, 0);

    // With the burst comes the first landing estimate, already within 10 km of home.
    Fly(o, t.burstTimeS + 60);
    EXPECT_EQ(Text("phaselb"), "Abstieg");
    EXPECT_EQ(Text("burstlb"), "30000 m um 11:39:30 UTC");
    EXPECT_EQ(beeps_, 2);
    EXPECT_TRUE(Banner()->isVisible());
    const QStringList lines = Banner()->text().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(
        lines[0].contains(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d  LANDUNG \\d+\\.\\d km "
                                             "vom eigenen Standort \\([A-Z]{2}\\d\\d[A-Z]{2}\\)$")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("  PLATZER in 30000 m")) << lines[1].toStdString();
    Banner()->click();
    EXPECT_FALSE(Banner()->isVisible());

    Fly(o, t.landingTimeS - 600);
    EXPECT_TRUE(Text("tlandlb").startsWith("in 10 min")) << Text("tlandlb").toStdString();
    EXPECT_TRUE(Text("landdistlb").endsWith("°"));
    EXPECT_EQ(beeps_, 2);
    EXPECT_EQ(Text("agelb"), "0 s");
    Shot("chase_panel_day");
    panel_->findChild<QCheckBox*>("nightcb")->setChecked(true);
    Shot("chase_panel_night");

    Fly(o);
    EXPECT_EQ(Text("phaselb"), "am Boden");
    EXPECT_EQ(Text("tlandlb"), "gelandet");
    EXPECT_EQ(beeps_, 2);
}

TEST_F(ChasePanelTest, DataAgeRunsOnTheWallClockTurnsRedAndWarnsOnce) {
    Make();
    testing::Fix fix;
    std::string r = testing::Record(fix);
    r.pop_back();
    panel_->OnRecord(r);
    nowMs_ += 30'000;
    panel_->Tick();
    EXPECT_EQ(Text("agelb"), "30 s");
    EXPECT_TRUE(panel_->findChild<QLabel*>("agelb")->styleSheet().isEmpty());
    nowMs_ += 1'000;
    panel_->Tick();
    EXPECT_TRUE(panel_->findChild<QLabel*>("agelb")->styleSheet().contains("color"));
    EXPECT_EQ(beeps_, 0);
    nowMs_ += 29'000;
    panel_->Tick();
    panel_->Tick();
    nowMs_ += 100'000;
    panel_->Tick();
    EXPECT_EQ(beeps_, 1);
    EXPECT_TRUE(Banner()->text().endsWith("KEINE DATEN seit 1 min 00 s"));

    // The same record again (a repeat the analytics leave out) is still data.
    panel_->OnRecord(r);
    EXPECT_EQ(Text("agelb"), "0 s");
    EXPECT_TRUE(panel_->findChild<QLabel*>("agelb")->styleSheet().isEmpty());
    nowMs_ += 60'000;
    panel_->Tick();
    EXPECT_EQ(beeps_, 2);
}

TEST_F(ChasePanelTest, KeepsWhatTheUserChangesButNotTheCommandLine) {
    test_support::TempDir dir;
    const std::string path = (dir.path / "pelmora.ini").string();
    ChaseOptions run;
    run.alarmKm = 3;
    Make({}, run, path);
    panel_->show();
    EXPECT_EQ(Control<QDoubleSpinBox>("landingkmed")->value(), 3);
    EXPECT_EQ(Control<QSpinBox>("landalted")->text(), "auto");

    Control<QCheckBox>("burstcb")->setChecked(false);
    Control<QSpinBox>("nodataed")->setValue(90);
    Control<QSpinBox>("landalted")->setValue(250);
    Control<QCheckBox>("nightcb")->setChecked(true);
    EXPECT_LT(panel_->palette().color(QPalette::Window).lightness(), 64);
    EXPECT_EQ(panel_->Analytics().LandingAltitudeM(), 250);

    ChaseSettings saved;
    std::string error;
    std::vector<std::string> problems;
    ASSERT_TRUE(LoadChaseSettings(path, saved, error, problems));
    EXPECT_FALSE(saved.alarms.burstOn);
    EXPECT_EQ(saved.alarms.noDataS, 90);
    EXPECT_EQ(saved.analytics.landingAltM, 250);
    EXPECT_TRUE(saved.nightTheme);
    EXPECT_EQ(saved.alarms.landingKm, 10);  // the command line's 3 km was for this run

    // The next start comes up as left, night theme included.
    Make(saved, {}, path);
    panel_->show();
    EXPECT_FALSE(Control<QCheckBox>("burstcb")->isChecked());
    EXPECT_EQ(Control<QSpinBox>("landalted")->value(), 250);
    EXPECT_LT(panel_->palette().color(QPalette::Window).lightness(), 64);
    Control<QCheckBox>("nightcb")->setChecked(false);
    EXPECT_GT(panel_->palette().color(QPalette::Window).lightness(), 128);
}

TEST_F(ChasePanelTest, AnAlarmSwitchedOffStaysSilent) {
    const probegen::FlightOptions o;
    frames_ = probegen::SimulateFlight(o);
    Make();
    Control<QCheckBox>("burstcb")->setChecked(false);
    Control<QCheckBox>("landingcb")->setChecked(false);
    Fly(o);
    EXPECT_EQ(beeps_, 0);
    EXPECT_FALSE(Banner()->isVisibleTo(panel_.get()));
    EXPECT_NE(Text("burstlb"), "-");
}

}  // namespace
}  // namespace monitor

int main(int argc, char** argv) {
    // Test discovery runs this binary at build time too, where there may be no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
