// The chase panel inside the monitor window, offscreen: beside the record displays, fed by the
// window's own read handler, following the locator edit, the night theme over the whole window.
// With CHASE_SCREENSHOTS set to a folder it leaves PNGs of the window there.
#include "monitor/window/chase_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <cstdlib>

#include <gtest/gtest.h>

#include "simulated_flight.h"
#include "temp_dir.h"

namespace monitor {
namespace {

TEST(ChaseWindow, BesideTheDisplaysFedByTheWindowFollowingItsLocator) {
    test_support::TempDir dir;
    TForm1 w;
    w.FormCreate();
    ChaseOptions offline;
    offline.tilesUrl = kNoTiles;
    ChasePanel* panel = AddChasePanel(w, offline, (dir.path / "pelmora.ini").string());
    w.show();

    const probegen::FlightOptions o;
    const auto frames = probegen::SimulateFlight(o);
    const testing::FlightTruth t = testing::Truth(o);
    for (std::size_t i = 0; i < frames.size() && i * o.stepS < t.landingTimeS - 600; ++i) {
        const std::string r = testing::RelayedRecord(frames[i]);
        w.tcpclientRead(QByteArray(r.data(), static_cast<qsizetype>(r.size())));
    }
    QApplication::processEvents();

    auto* hgpslb = w.findChild<QLabel*>("hgpslb");
    auto* kursimg = w.findChild<QLabel*>("kursimg");
    ASSERT_TRUE(hgpslb && kursimg);
    EXPECT_TRUE(hgpslb->isVisible());
    EXPECT_TRUE(kursimg->isVisible());
    EXPECT_TRUE(hgpslb->text().endsWith(" m"));  // the window's own display, as it was
    const int displaysRight = kursimg->mapTo(&w, QPoint(kursimg->width(), 0)).x();
    EXPECT_GE(panel->mapTo(&w, QPoint(0, 0)).x(), displaysRight);
    EXPECT_EQ(panel->findChild<QLabel*>("phaselb")->text(), "Abstieg");
    EXPECT_NE(panel->findChild<QLabel*>("tlandlb")->text(), "-");
    EXPECT_EQ(panel->findChild<QLabel*>("agelb")->text(), "0 s");

    auto* myloced = w.findChild<QLineEdit*>("myloced");
    myloced->setText("JO40XG");
    EXPECT_NEAR(panel->Analytics().Home().lat, 50.25, 1e-9);
    EXPECT_NEAR(panel->Analytics().Home().lon, 9.9166667, 1e-6);
    myloced->setText("JO4");  // incomplete: JN49EA, as the displays take it
    EXPECT_NEAR(panel->Analytics().Home().lat, 49.0, 1e-9);

    myloced->setText("JO40XG");
    const char* shots = std::getenv("CHASE_SCREENSHOTS");
    if (shots) w.grab().save(QString::fromUtf8(shots) + "/monitor_window_day.png");
    panel->findChild<QCheckBox*>("nightcb")->setChecked(true);
    EXPECT_LT(w.palette().color(QPalette::Window).lightness(), 64);
    EXPECT_LT(hgpslb->palette().color(QPalette::Window).lightness(), 64);
    EXPECT_GT(hgpslb->palette().color(QPalette::WindowText).lightness(), 128);
    if (shots) w.grab().save(QString::fromUtf8(shots) + "/monitor_window_night.png");
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
