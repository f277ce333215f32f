// The chase panel inside the monitor window, offscreen: beside the record displays, fed by the
// window's own read handler, following the locator edit, the night theme over the whole window.
// With CHASE_SCREENSHOTS set to a folder it leaves PNGs of the window there.
#include "monitor/window/chase_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>
#include <QWheelEvent>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "common/locator.h"
#include "monitor/window/fit_label.h"
#include "monitor/window/ground_track_plot.h"
#include "qt_wait.h"
#include "records.h"
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
    // The map left of the displays, the panel's values under them in the column.
    auto* map = w.findChild<GroundTrackPlot*>("trackimg");
    ASSERT_TRUE(map);
    EXPECT_LE(map->mapTo(&w, QPoint(map->width(), 0)).x(), hgpslb->mapTo(&w, QPoint(0, 0)).x());
    EXPECT_GE(panel->mapTo(&w, QPoint(0, 0)).y(),
              kursimg->mapTo(&w, QPoint(0, kursimg->height())).y());
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
    if (shots) {
        w.grab().save(QString::fromUtf8(shots) + "/monitor_window_day.png");
        // The column whole, as far as it scrolls.
        w.findChild<QScrollArea*>("valuescolumn")
            ->widget()
            ->grab()
            .save(QString::fromUtf8(shots) + "/monitor_column_day.png");
    }
    panel->findChild<QCheckBox*>("nightcb")->setChecked(true);
    EXPECT_LT(w.palette().color(QPalette::Window).lightness(), 64);
    EXPECT_LT(hgpslb->palette().color(QPalette::Window).lightness(), 64);
    EXPECT_GT(hgpslb->palette().color(QPalette::WindowText).lightness(), 128);
    if (shots) w.grab().save(QString::fromUtf8(shots) + "/monitor_window_night.png");
}

// The map is the window's main area: at 1600 x 1000 at least 40 % of it, more as the window
// grows, still so on a 10-inch tablet's 1280 x 800, where the column's values all show whole.
// The column keeps the width the user drags it to; F11 shows the map alone with the banner and
// the followed flight's figures over it, and back.
TEST(ChaseWindow, TheMapIsTheMainAreaTheColumnKeepsItsWidthAndF11ShowsTheMapAlone) {
    test_support::TempDir dir;
    const std::string ini = (dir.path / "pelmora.ini").string();
    TForm1 w;
    w.FormCreate();
    ChaseOptions offline;
    offline.tilesUrl = kNoTiles;
    AddChasePanel(w, offline, ini);
    w.show();
    auto* map = w.findChild<GroundTrackPlot*>("trackimg");
    auto* column = w.findChild<QWidget*>("valuescolumn");
    auto* splitter = w.findChild<QSplitter*>("mainsplit");
    ASSERT_TRUE(map && column && splitter);
    auto mapShare = [&](int width, int height) {
        w.resize(width, height);
        QApplication::processEvents();
        EXPECT_EQ(w.size(), QSize(width, height));
        return double(map->width()) * map->height() / (double(width) * height);
    };
    const double at1600 = mapShare(1600, 1000);
    EXPECT_GE(at1600, 0.4);
    EXPECT_GT(mapShare(1920, 1200), at1600);
    EXPECT_GE(mapShare(1280, 800), 0.4);

    const probegen::FlightOptions o;
    const auto frames = probegen::SimulateFlight(o);
    const testing::FlightTruth t = testing::Truth(o);
    for (std::size_t i = 0; i < frames.size() && i * o.stepS < t.burstTimeS + 120; ++i) {
        const std::string r = testing::RelayedRecord(frames[i]);
        w.tcpclientRead(QByteArray(r.data(), static_cast<qsizetype>(r.size())));
    }
    QApplication::processEvents();
    for (const FitLabel* label : w.findChildren<FitLabel*>())
        EXPECT_FALSE(label->IsCut())
            << label->objectName().toStdString() << ": " << label->text().toStdString();
    EXPECT_EQ(w.findChild<QLabel*>("kursimg")->size(), QSize(145, 145));

    QAction* mapOnly = w.MapOnlyAction();
    EXPECT_EQ(mapOnly->shortcut(), QKeySequence(Qt::Key_F11));
    EXPECT_TRUE(w.actions().contains(mapOnly));  // F11 works with the menu bar hidden
    auto* banner = w.findChild<QPushButton*>("alarmbt");
    auto* figure = w.findChild<QLabel*>("mapaltlb");
    ASSERT_TRUE(banner && figure);
    EXPECT_TRUE(banner->isVisible());  // the burst
    EXPECT_FALSE(figure->isVisible());
    mapOnly->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(w.isFullScreen());
    EXPECT_FALSE(column->isVisible());
    EXPECT_FALSE(w.findChild<QWidget*>("servercombo")->isVisible());
    EXPECT_TRUE(banner->isVisible());
    EXPECT_TRUE(figure->isVisible());
    EXPECT_EQ(figure->text(), w.findChild<QLabel*>("hgpslb")->text());
    EXPECT_TRUE(w.findChild<QLabel*>("mapdistlb")->text().endsWith(" km"));
    EXPECT_EQ(w.findChild<QLabel*>("mapagelb")->text(), "0 s");
    EXPECT_GT(map->width(), column->width());
    w.findChild<QToolButton*>("fullmapbt")->click();
    QApplication::processEvents();
    EXPECT_FALSE(w.isFullScreen());
    EXPECT_TRUE(column->isVisible());
    EXPECT_FALSE(figure->isVisible());

    // The user narrows the column: kept once the splitter rests, there at the next start.
    splitter->setSizes({1000, 480});
    const int kept = splitter->sizes()[1];
    emit splitter->splitterMoved(splitter->handle(1)->x(), 1);
    ASSERT_TRUE(test_support::WaitFor([&] {
        ChaseSettings saved;
        std::string error;
        std::vector<std::string> problems;
        return LoadChaseSettings(ini, saved, error, problems) && saved.columnWidthPx == kept;
    }));
    TForm1 next;
    next.FormCreate();
    AddChasePanel(next, offline, ini);
    next.resize(1600, 1000);
    next.show();
    QApplication::processEvents();
    EXPECT_EQ(next.findChild<QSplitter*>("mainsplit")->sizes()[1], kept);
}

// One record of a probe standing at `lat`, `lon` (degrees north and east), `n` seconds on.
std::string ProbeAt(int n, double lat, double lon) {
    testing::Fix f;
    char text[32];
    std::snprintf(text, sizeof text, "1200%02d.00", n);
    f.time = text;
    std::snprintf(text, sizeof text, "%02d%07.4f", static_cast<int>(lat),
                  (lat - static_cast<int>(lat)) * 60);
    f.lat = text;
    std::snprintf(text, sizeof text, "%03d%07.4f", static_cast<int>(lon),
                  (lon - static_cast<int>(lon)) * 60);
    f.lon = text;
    return testing::Record(f);
}

// Scrolling the column over a spin box scrolls the column; the limit changes only once clicked.
TEST(ChaseWindow, TheWheelOverTheColumnNeverChangesALimitUnseen) {
    test_support::TempDir dir;
    TForm1 w;
    w.FormCreate();
    ChaseOptions offline;
    offline.tilesUrl = kNoTiles;
    AddChasePanel(w, offline, (dir.path / "pelmora.ini").string());
    w.resize(1280, 800);
    w.show();
    auto* km = w.findChild<QDoubleSpinBox*>("landingkmed");
    auto* column = w.findChild<QScrollArea*>("valuescolumn");
    ASSERT_TRUE(km && column);
    QApplication::processEvents();
    const double before = km->value();
    const int scrolled = column->verticalScrollBar()->value();
    auto wheel = [&] {
        const QPointF at(km->width() / 2.0, km->height() / 2.0);
        QWheelEvent e(at, km->mapToGlobal(at), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(km, &e);
    };
    wheel();
    EXPECT_EQ(km->value(), before);
    EXPECT_GT(column->verticalScrollBar()->value(), scrolled);
    km->setFocus();
    wheel();
    EXPECT_LT(km->value(), before);
}

TEST(ChaseWindow, GpsMakesTheCarHomeAndLocatorShowsItsSquareReadOnly) {
    test_support::TempDir dir;
    const std::string ini = (dir.path / "pelmora.ini").string();
    TForm1 w;
    w.FormCreate();
    ChasePanel* panel = AddChasePanel(w, {}, ini);
    auto* myloced = w.findChild<QLineEdit*>("myloced");
    auto* gpscb = w.findChild<QCheckBox*>("gpscb");
    auto* gpsed = w.findChild<QLineEdit*>("gpsed");
    auto* dvllb = w.findChild<QLabel*>("dvllb");
    ASSERT_TRUE(myloced && gpscb && gpsed && dvllb);
    EXPECT_EQ(gpsed->text(), "localhost:2947");
    myloced->setText("JO31AA");
    auto feed = [&](const std::string& r) {
        w.tcpclientRead(QByteArray(r.data(), static_cast<qsizetype>(r.size())));
    };
    const double lat = 49.51, lon = 8.47;
    feed(ProbeAt(0, lat, lon));

    gpsed->setText("127.0.0.1:1");  // nothing listens there: gpsd is absent
    emit gpsed->editingFinished();
    gpscb->setChecked(true);
    EXPECT_TRUE(myloced->isReadOnly());
    EXPECT_EQ(myloced->text(), "JO31AA");  // no fix yet: the typed locator is home
    EXPECT_TRUE(test_support::WaitFor(
        [&] { return w.statusBar()->currentMessage().startsWith("GPS: no gpsd at 127.0.0.1:1"); }));

    CarFix fix;
    fix.mode = CarFixMode::ThreeD;
    fix.position = {lat, lon};
    fix.altMslM = 100;
    fix.speedKmh = 50;
    fix.trackDeg = 45;
    fix.arrivalMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    w.gpsFix(fix);
    EXPECT_EQ(myloced->text().toStdString(), common::LatLonToLocator(lon, lat).value());
    EXPECT_EQ(w.TypedLocator(), "JO31AA");
    feed(ProbeAt(4, lat, lon));  // right over the car
    EXPECT_EQ(dvllb->text(), "0.0 km ");
    EXPECT_TRUE(panel->findChild<QLabel*>("carprobelb")->text().startsWith("0.00 km"));
    EXPECT_EQ(panel->findChild<QLabel*>("carelevlb")->text(), "90.0°");  // straight overhead
    EXPECT_EQ(panel->findChild<QLabel*>("carlb")->text(), "50 km/h, Kurs 45°");
    EXPECT_NEAR(panel->Analytics().EffectiveHome().lat, lat, 1e-12);

    gpscb->setChecked(false);
    EXPECT_FALSE(myloced->isReadOnly());
    EXPECT_EQ(myloced->text(), "JO31AA");
    feed(ProbeAt(8, lat, lon));
    EXPECT_NE(dvllb->text(), "0.0 km ");  // from JO31AA's corner again, far away
    EXPECT_EQ(panel->findChild<QLabel*>("carprobelb")->text(), "-");

    // What the user set beside LOCATOR is kept for the next start.
    std::string error;
    std::vector<std::string> problems;
    ChaseSettings kept;
    ASSERT_TRUE(LoadChaseSettings(ini, kept, error, problems));
    EXPECT_FALSE(kept.gps.on);
    EXPECT_EQ(kept.gps.server, "127.0.0.1:1");
    gpscb->setChecked(true);
    ASSERT_TRUE(LoadChaseSettings(ini, kept, error, problems));
    EXPECT_TRUE(kept.gps.on);
    TForm1 next;
    next.FormCreate();
    AddChasePanel(next, {}, ini);
    EXPECT_EQ(next.findChild<QLineEdit*>("gpsed")->text(), "127.0.0.1:1");
    EXPECT_TRUE(next.findChild<QCheckBox*>("gpscb")->isChecked());
    EXPECT_TRUE(next.findChild<QLineEdit*>("myloced")->isReadOnly());
}

// The car's fix lost: its last position stays home, counted in the panel and said on the status
// bar, until the hold is over; then the typed locator is home again, said too.
TEST(ChaseWindow, ALostFixIsHeldAndCountedThenTheLocatorIsHomeAgain) {
    test_support::TempDir dir;
    TForm1 w;
    w.FormCreate();
    ChasePanel* panel = AddChasePanel(w, {}, (dir.path / "pelmora.ini").string());
    auto* dvllb = w.findChild<QLabel*>("dvllb");
    auto* carlb = panel->findChild<QLabel*>("carlb");
    w.findChild<QLineEdit*>("myloced")->setText("JO31AA");
    w.findChild<QLineEdit*>("gpsed")->setText("127.0.0.1:1");  // no gpsd: fixes come from here
    w.findChild<QCheckBox*>("gpscb")->setChecked(true);
    auto feed = [&](const std::string& r) {
        w.tcpclientRead(QByteArray(r.data(), static_cast<qsizetype>(r.size())));
    };
    const double lat = 49.51, lon = 8.47;
    feed(ProbeAt(0, lat, lon));  // the first record primes the displays
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    CarFix fix;
    fix.mode = CarFixMode::ThreeD;
    fix.position = {lat, lon};
    fix.speedKmh = 50;
    fix.trackDeg = 45;
    fix.arrivalMs = now - kCarFixMaxAgeMs - 2000;  // older than a fix may be
    w.gpsFix(fix);
    EXPECT_EQ(w.statusBar()->currentMessage(), "car GPS: no fix, holding the last position");
    EXPECT_TRUE(carlb->text().startsWith("GPS: kein Fix seit 1")) << carlb->text().toStdString();
    feed(ProbeAt(2, lat, lon));
    EXPECT_EQ(dvllb->text(), "0.0 km ");  // from the held position, right under the probe
    EXPECT_TRUE(panel->findChild<QLabel*>("carprobelb")->text().startsWith("0.00 km"));

    fix.arrivalMs = now - 301000;  // past the hold of 300 s
    w.gpsFix(fix);
    EXPECT_EQ(w.statusBar()->currentMessage(),
              "car GPS: no fix for 300 s, home is the locator again");
    feed(ProbeAt(4, lat, lon));
    EXPECT_NE(dvllb->text(), "0.0 km ");  // from JO31AA's corner
    EXPECT_TRUE(carlb->text().startsWith("GPS: kein Fix seit 30")) << carlb->text().toStdString();
}

// The window stopped longer than the no-data alarm's time while the server went on sending: the
// panel's next look at the data's age takes what waits at the link first, so no alarm rises.
TEST(ChaseWindow, RecordsWaitingAtTheLinkCountBeforeTheDataAge) {
    test_support::TempDir dir;
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* peer = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection,
                     [&] { peer = server.nextPendingConnection(); });
    TForm1 w;
    w.FormCreate();
    ChaseOptions offline;
    offline.tilesUrl = kNoTiles;
    ChasePanel* panel = AddChasePanel(w, offline, (dir.path / "pelmora.ini").string());
    std::int64_t nowMs = 0;
    panel->SetClock([&] { return nowMs; });
    int beeps = 0;
    panel->SetBeep([&] { ++beeps; });
    w.findChild<QComboBox*>("servercombo")
        ->setCurrentText(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
    w.conbtnClick();
    ASSERT_TRUE(test_support::WaitFor([&] { return peer && w.Link().Connected(); }));
    auto send = [&](int n) {
        const std::string r = ProbeAt(n, 49.5, 8.5);
        peer->write(r.data(), static_cast<qint64>(r.size()));
        peer->flush();
    };
    send(0);
    ASSERT_TRUE(test_support::WaitFor([&] { return w.Core().Records() == 1; }));

    send(4);  // on its way while the window's loop does not run
    nowMs += 120000;
    panel->Tick();
    EXPECT_EQ(w.Core().Records(), 2u);
    EXPECT_EQ(beeps, 0);
    EXPECT_TRUE(w.findChild<QPushButton*>("alarmbt")->isHidden());
    nowMs += 120000;  // nothing waits now: a silence of the server sounds
    panel->Tick();
    EXPECT_EQ(beeps, 1);
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
