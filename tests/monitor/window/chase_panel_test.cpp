// The chase panel under the offscreen platform, fed probegen's flight: values, alarms with one
// beep each, the data age going red, the night theme, and what it keeps in pelmora.ini. With
// CHASE_SCREENSHOTS set to a folder it leaves PNGs of itself there to look at.
#include "monitor/window/chase_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/locator.h"
#include "grib_file.h"
#include "mbtiles_file.h"
#include "monitor/chase/chase_plots.h"
#include "monitor/io/tile_loader.h"
#include "qt_wait.h"
#include "records.h"
#include "simulated_flight.h"
#include "temp_dir.h"
#include "tile_server.h"

namespace monitor {
namespace {

class ChasePanelTest : public ::testing::Test {
  protected:
    void Make(const ChaseSettings& file = {}, const ChaseOptions& run = {},
              const std::string& path = {}) {
        // Tests never reach out to a tile server.
        ChaseOptions offline = run;
        if (!offline.tilesUrl) offline.tilesUrl = kNoTiles;
        panel_ = std::make_unique<ChasePanel>(core_, file, offline, path);
        panel_->SetClock([this] { return nowMs_; });
        panel_->SetWallClock([this] { return nowMs_ / 1000.0; });
        panel_->SetBeep([this] { ++beeps_; });
        panel_->resize(620, 560);
    }
    void SetHome(const std::string& locator) {
        core_.SetHomeLocator(locator);
        panel_->SetHomeLocator(locator);
    }
    void Feed(const std::string& record) { panel_->OnRecord(core_.Take(record, nowMs_ / 1000.0)); }
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
            Feed(r);
            fed_ = i + 1;
        }
    }
    void Shot(const char* name) {
        const char* dir = std::getenv("CHASE_SCREENSHOTS");
        if (dir) panel_->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
    }

    MonitorCore core_{kDefaultLocator};
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
    SetHome(*common::LatLonToLocator(t.landingLon + 0.05, t.landingLat + 0.03));
    panel_->show();
    EXPECT_EQ(Text("phaselb"), "-");
    EXPECT_EQ(Text("agelb"), "-");

    Fly(o, 3000);
    EXPECT_EQ(Text("phaselb"), "Aufstieg");
    EXPECT_EQ(Text("vavglb"), "5.0 m/s");
    EXPECT_EQ(Text("burstlb"), "-");
    // During the ascent the landing is the prediction's.
    EXPECT_TRUE(Text("tlandlb").endsWith("UTC (Vorhersage)")) << Text("tlandlb").toStdString();
    EXPECT_EQ(beeps_, 0);

    // With the burst comes the first landing estimate, already within 10 km of home.
    Fly(o, t.burstTimeS + 60);
    EXPECT_EQ(Text("phaselb"), "Abstieg");
    EXPECT_EQ(Text("burstlb"), "30000 m um 11:39:30 UTC");
    EXPECT_EQ(beeps_, 2);
    EXPECT_TRUE(Banner()->isVisible());
    const QStringList lines = Banner()->text().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains(
        QRegularExpression("^\\d\\d:\\d\\d:\\d\\d UTC  Flug A: LANDUNG \\d+\\.\\d km "
                           "vom eigenen Standort \\([A-Z]{2}\\d\\d[A-Z]{2}\\)$")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("  Flug A: PLATZER in 30000 m")) << lines[1].toStdString();
    // Beside UTC values, the banner's own time is UTC too, and says so.
    const QDateTime utc = QDateTime::currentDateTimeUtc();
    EXPECT_TRUE(lines[0].startsWith(utc.toString("hh:mm")) ||
                lines[0].startsWith(utc.addSecs(-60).toString("hh:mm")))
        << lines[0].toStdString();
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
    Feed(r);
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
    Feed(r);
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

// During the ascent the predicted landing with what it assumes, kept settings for it; after the
// burst the sink rate learnt and the car's turn towards the landing; before launch "Vorhersage"
// with a model's winds from a GRIB2 file ecCodes' own grib_filter writes.
TEST_F(ChasePanelTest, PredictsFromTheAscentOnAndBeforeLaunch) {
    const probegen::FlightOptions o;
    frames_ = probegen::SimulateFlight(o);
    const testing::FlightTruth t = testing::Truth(o);
    test_support::TempDir dir;
    const std::string path = (dir.path / "pelmora.ini").string();
    Make({}, {}, path);
    panel_->show();
    auto* plot = Control<GroundTrackPlot>("trackimg");
    EXPECT_FALSE(plot->ShownLanding());
    auto narrowest = [this] {
        panel_->layout()->activate();  // as the event loop would before asking
        return panel_->minimumSizeHint().width();
    };
    const int before = narrowest();

    Fly(o, 1200);
    EXPECT_TRUE(Text("landlb").endsWith("(Vorhersage)")) << Text("landlb").toStdString();
    EXPECT_EQ(Text("assumelb"),
              "steigt 5.0 m/s bis 30000 m, sinkt 5.0 m/s am Boden; Winde gemessen");
    // The long values take a second line, never the map's width.
    EXPECT_EQ(narrowest(), before);
    EXPECT_EQ(Text("sinklb"), "-");
    ASSERT_TRUE(panel_->Analytics().State().prediction);
    EXPECT_EQ(plot->ShownLanding(), panel_->Analytics().State().prediction->point);
    Control<QSpinBox>("burstalted")->setValue(20000);
    Control<QDoubleSpinBox>("descented")->setValue(6.5);
    EXPECT_EQ(Text("assumelb"),
              "steigt 5.0 m/s bis 20000 m, sinkt 6.5 m/s am Boden; Winde gemessen");
    Control<QSpinBox>("burstalted")->setValue(30000);

    Fly(o, t.burstTimeS + 1200);
    EXPECT_TRUE(Text("sinklb").startsWith("5.0 m/s, gelernt (Exponent -0.5"))
        << Text("sinklb").toStdString();
    EXPECT_EQ(Text("assumelb"), "sinkt wie gemessen; Winde gemessen");
    EXPECT_FALSE(Text("landlb").endsWith("(Vorhersage)"));

    // The car's turn towards the landing point, as the window words it.
    CarFix car;
    car.mode = CarFixMode::TwoD;
    car.position = {t.landingLat - 0.1, t.landingLon + 0.1};
    car.speedKmh = 60;
    panel_->SetCar([&car] { return std::optional(car); }, nullptr);
    ASSERT_TRUE(panel_->Analytics().State().landing);
    const double toLanding =
        common::GeodesicBetween(car.position, panel_->Analytics().State().landing->point)
            .bearingDeg;
    for (const auto& [turn, said] : {std::pair{30, "30° rechts"}, std::pair{-30, "30° links"}}) {
        car.trackDeg = toLanding - turn;
        panel_->CarMoved();
        EXPECT_TRUE(Text("carlandlb").endsWith(said)) << Text("carlandlb").toStdString();
    }
    panel_->SetCar({}, nullptr);

    // Before launch: nothing without a model, then with one blowing 10 m/s from the west.
    Control<QLineEdit>("launched")->setText("50.1,8.7,2026-12-08T08:00Z");
    Control<QPushButton>("predictbt")->click();
    EXPECT_EQ(Text("predictlb"), "Die Vorhersage braucht Modellwinde (GRIB-Datei)");
    std::vector<testing::GribMessage> messages;
    for (int hpa : {1000, 10}) {
        messages.push_back({"u", double(hpa), 20261208, 600, [](double, double) { return 10.0; }});
        messages.push_back({"v", double(hpa), 20261208, 600, [](double, double) { return 0.0; }});
        messages.push_back({"gh", double(hpa), 20261208, 600,
                            [hpa](double, double) { return hpa == 1000 ? 100.0 : 31000.0; }});
    }
    const auto winds = dir.path / "winds.grib2";
    ASSERT_EQ(testing::WriteGrib(winds, {}, messages), "");
    Control<QLineEdit>("windsed")->setText(QString::fromStdString(winds.string()));
    emit Control<QLineEdit>("windsed")->editingFinished();
    EXPECT_TRUE(Text("windslb").startsWith("1 time 2026-12-08 06:00 UTC, 2 levels 1000 to 10 hPa"))
        << Text("windslb").toStdString();
    EXPECT_TRUE(panel_->Analytics().Winds()) << "the flights predict with the model's winds";
    Control<QLineEdit>("launched")->setText("north,8.7,2026-12-08T08:00Z");
    Control<QPushButton>("predictbt")->click();
    EXPECT_TRUE(Text("predictlb").startsWith("Start: Breite,Länge"))
        << Text("predictlb").toStdString();
    Control<QLineEdit>("launched")->setText("50.1,8.7,2026-12-08T08:00Z");
    Control<QPushButton>("predictbt")->click();
    EXPECT_TRUE(Text("predictlb").startsWith("Landung 10:")) << Text("predictlb").toStdString();
    ASSERT_TRUE(plot->ShownLanding());
    // The followed flight's estimate comes first on the map; the prediction is drawn beside it.
    EXPECT_EQ(plot->ShownLanding(), panel_->Analytics().State().landing->point);
    Shot("chase_panel_predictions");

    ChaseSettings saved;
    std::string error;
    std::vector<std::string> problems;
    ASSERT_TRUE(LoadChaseSettings(path, saved, error, problems));
    EXPECT_EQ(saved.windsPath, winds.string());
    EXPECT_EQ(saved.analytics.descentRateMps, 6.5);
    EXPECT_EQ(saved.analytics.burstAltM, 30000);
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

constexpr QRgb kTileColour = qRgb(90, 170, 120);

// Every tile around `points`, with room to spare, at the zooms the map picks by itself.
std::vector<TileId> TilesAround(const std::vector<LatLonDeg>& points) {
    std::vector<TileId> tiles;
    for (int z = 0; z <= 14; ++z) {
        int x0 = 1 << z, y0 = 1 << z, x1 = 0, y1 = 0;
        for (const LatLonDeg& p : points) {
            const TileId t = TileAt(p, z);
            x0 = std::min(x0, t.x), y0 = std::min(y0, t.y);
            x1 = std::max(x1, t.x), y1 = std::max(y1, t.y);
        }
        const int last = (1 << z) - 1;
        for (int y = std::max(0, y0 - 2); y <= std::min(last, y1 + 2); ++y)
            for (int x = std::max(0, x0 - 2); x <= std::min(last, x1 + 2); ++x)
                tiles.push_back({z, x, y});
    }
    return tiles;
}

int CountColour(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour;
    return n;
}

// Whether `colour` shows within `r` pixels of (x, y).
bool Near(const QImage& image, double x, double y, int r, QRgb colour) {
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx) {
            const QPoint q(static_cast<int>(x) + dx, static_cast<int>(y) + dy);
            if (image.rect().contains(q) && image.pixel(q) == colour) return true;
        }
    return false;
}

void Send(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button,
          Qt::MouseButtons held) {
    QMouseEvent e(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

TEST_F(ChasePanelTest, TheTrackLiesOnAMapFromAnMbtilesFileThatPansZoomsFollowsAndDimsAtNight) {
    const probegen::FlightOptions o;
    frames_ = probegen::SimulateFlight(o);
    const testing::FlightTruth t = testing::Truth(o);
    test_support::TempDir dir;
    Make({}, {}, (dir.path / "pelmora.ini").string());
    SetHome(*common::LatLonToLocator(t.landingLon + 0.05, t.landingLat + 0.03));
    panel_->show();
    Fly(o, t.landingTimeS - 900);
    auto* plot = Control<GroundTrackPlot>("trackimg");
    auto* follow = Control<QComboBox>("followcb");
    ASSERT_TRUE(plot && follow);

    // No tile source: the plain plot.
    EXPECT_FALSE(plot->MapShown());
    EXPECT_FALSE(follow->isEnabled());
    EXPECT_EQ(CountColour(plot->grab().toImage(), kTileColour), 0);

    const FlightAnalytics& a = panel_->Analytics();
    std::vector<LatLonDeg> points = {a.Home(), a.State().landing->point};
    for (const FlightPoint& f : a.Track())
        if (f.position) points.push_back(*f.position);
    const QString file = QString::fromStdString((dir.path / "region.mbtiles").string());
    ASSERT_TRUE(
        test_support::WriteMbtiles(file, TilesAround(points), kTileColour, "<b>© Test Maps</b>"));
    auto* mbtilesed = Control<QLineEdit>("mbtilesed");
    mbtilesed->setText(file);
    emit mbtilesed->editingFinished();
    EXPECT_TRUE(follow->isEnabled());
    // The tiles arrive after the first paint, which draws without them.
    QImage day;
    ASSERT_TRUE(test_support::WaitFor([&] {
        day = plot->grab().toImage();
        return CountColour(day, kTileColour) > day.width() * day.height() / 2;
    }));
    ASSERT_TRUE(plot->MapShown());
    EXPECT_EQ(plot->Attributions(), QStringList{"© Test Maps"});
    std::optional<LatLonDeg> landing = a.State().landing->point;
    const GroundTrackView v = MakeMapTrackView(plot->View(), a.Home(), a.Track(), landing);
    int onMap = 0, inView = 0;
    for (std::size_t i = 0; i < v.track.size(); i += 10) {
        const PlotPoint& p = v.track[i];
        if (p.x < 8 || p.y < 8 || p.x > day.width() - 8 || p.y > day.height() - 8) continue;
        ++inView;
        onMap += Near(day, p.x, p.y, 5, kTileColour);
        // The track is drawn over the tiles.
        EXPECT_NE(day.pixel(static_cast<int>(p.x), static_cast<int>(p.y)), kTileColour);
    }
    EXPECT_GT(inView, 10);
    EXPECT_GE(onMap, inView * 9 / 10);
    Shot("map_day");

    Control<QCheckBox>("nightcb")->setChecked(true);
    const QImage night = plot->grab().toImage();
    EXPECT_EQ(CountColour(night, kTileColour), 0);
    const QPoint tilePixel(day.width() / 2 + 30, day.height() / 2 + 30);
    ASSERT_EQ(day.pixel(tilePixel), kTileColour);
    EXPECT_LT(QColor(night.pixel(tilePixel)).lightness(), QColor(kTileColour).lightness() / 2);
    Shot("map_night");
    Control<QCheckBox>("nightcb")->setChecked(false);

    // Following the probe, the map holds the whole chase (home, the track and the landing
    // estimate, clear of the edges) as close as it fits.
    // Centred on what it spans, so that no side of the map lies empty.
    auto holdsTheChase = [&](const MapView& m) {
        std::vector<LatLonDeg> chase = {a.EffectiveHome(), a.State().landing->point};
        for (const FlightPoint& f : a.Track())
            if (f.position) chase.push_back(*f.position);
        const double edge = GroundTrackPlot::kMarginPx;
        double left = m.Width(), right = 0, top = m.Height(), bottom = 0;
        for (const LatLonDeg& p : chase) {
            const PlotPoint q = m.ToScreen(p);
            left = std::min(left, q.x), right = std::max(right, q.x);
            top = std::min(top, q.y), bottom = std::max(bottom, q.y);
        }
        return left >= edge && right <= m.Width() - edge && top >= edge &&
               bottom <= m.Height() - edge && std::abs(left + right - m.Width()) < 2 &&
               std::abs(top + bottom - m.Height()) < 2;
    };
    EXPECT_EQ(follow->currentText(), "Ballon");
    Fly(o, t.landingTimeS - 600);
    EXPECT_TRUE(holdsTheChase(plot->View()));
    EXPECT_FALSE(holdsTheChase(
        MapView(plot->View().Centre(), plot->View().Zoom() + 1, plot->width(), plot->height())));

    // The wheel zooms about the pointer.
    const int zoom = plot->View().Zoom();
    const QPointF pointer(40, 50);
    const LatLonDeg under = plot->View().FromScreen({pointer.x(), pointer.y()});
    QWheelEvent wheel(pointer, plot->mapToGlobal(pointer), {}, {0, 120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
    EXPECT_EQ(plot->View().Zoom(), zoom + 1);
    PlotPoint s = plot->View().ToScreen(under);
    EXPECT_NEAR(s.x, pointer.x(), 1e-6);
    EXPECT_NEAR(s.y, pointer.y(), 1e-6);
    // At the user's zoom the records keep the probe in the middle; "Ballon" chosen again
    // fits the whole chase again.
    Fly(o, t.landingTimeS - 500);
    PlotPoint probe = plot->View().ToScreen(*a.State().lastPosition);
    EXPECT_NEAR(probe.x, plot->width() / 2.0, 1);
    EXPECT_NEAR(probe.y, plot->height() / 2.0, 1);
    EXPECT_EQ(plot->View().Zoom(), zoom + 1);
    emit follow->activated(follow->currentIndex());
    EXPECT_TRUE(holdsTheChase(plot->View()));

    // Dragging moves the map with the mouse and stops following; records no longer move it.
    const LatLonDeg grabbed = plot->View().FromScreen({100, 100});
    Send(plot, QEvent::MouseButtonPress, {100, 100}, Qt::LeftButton, Qt::LeftButton);
    Send(plot, QEvent::MouseMove, {120, 95}, Qt::NoButton, Qt::LeftButton);
    Send(plot, QEvent::MouseMove, {130, 90}, Qt::NoButton, Qt::LeftButton);
    Send(plot, QEvent::MouseButtonRelease, {130, 90}, Qt::LeftButton, Qt::NoButton);
    s = plot->View().ToScreen(grabbed);
    EXPECT_NEAR(s.x, 130, 1e-6);
    EXPECT_NEAR(s.y, 90, 1e-6);
    EXPECT_EQ(follow->currentText(), "Aus");
    const LatLonDeg centre = plot->View().Centre();
    Fly(o, t.landingTimeS - 300);
    EXPECT_EQ(plot->View().Centre().lat, centre.lat);
    EXPECT_EQ(plot->View().Centre().lon, centre.lon);

    // "Auto" follows the car, once there is one.
    auto* items = qobject_cast<QStandardItemModel*>(follow->model());
    EXPECT_FALSE(items->item(static_cast<int>(Follow::Car))->isEnabled());
    const LatLonDeg car{t.landingLat + 0.02, t.landingLon - 0.04};
    panel_->SetCarPosition(car);
    EXPECT_TRUE(items->item(static_cast<int>(Follow::Car))->isEnabled());
    follow->setCurrentText("Auto");
    probe = plot->View().ToScreen(car);
    EXPECT_NEAR(probe.x, plot->width() / 2.0, 1);
    EXPECT_NEAR(probe.y, plot->height() / 2.0, 1);

    // The file is kept for the next start.
    std::ifstream ini(dir.path / "pelmora.ini");
    std::stringstream text;
    text << ini.rdbuf();
    EXPECT_NE(text.str().find("mbtiles=" + file.toStdString() + "\n"), std::string::npos);
}

TEST_F(ChasePanelTest, WithNoTileToBeHadThePlotIsThePlainOneAndWaitsForNothing) {
    const probegen::FlightOptions o;
    frames_ = probegen::SimulateFlight(o);
    const testing::FlightTruth t = testing::Truth(o);
    Make();
    SetHome(*common::LatLonToLocator(t.landingLon + 0.05, t.landingLat + 0.03));
    Fly(o, t.landingTimeS - 900);

    test_support::TempDir dir;
    test_support::TileServer server;
    TileSources sources;
    sources.urlTemplate = server.UrlTemplate();
    sources.cacheDir = QString::fromStdString((dir.path / "cache").string());
    sources.userAgent = TileUserAgent();
    server.Close();  // nobody listens on its port now, and the cache is empty
    TileLoader none({}), gone(sources);
    GroundTrackPlot plain(core_), offline(core_);
    plain.SetTiles(&none);
    offline.SetTiles(&gone);
    for (GroundTrackPlot* p : {&plain, &offline}) {
        p->resize(320, 300);
        p->show();
    }
    const QImage expected = plain.grab().toImage();
    // At once, with the tiles asked for and not there,
    EXPECT_EQ(offline.grab().toImage(), expected);
    EXPECT_FALSE(offline.MapShown());
    // and once they have turned out not to be had.
    ASSERT_TRUE(test_support::WaitFor([&] {
        const auto tiles = offline.View().VisibleTiles();
        return !tiles.empty() && std::all_of(tiles.begin(), tiles.end(),
                                             [&](const PlacedTile& t) { return gone.Lacks(t.id); });
    }));
    EXPECT_EQ(offline.grab().toImage(), expected);

    // A server that answers: the map, once its first tile has come.
    test_support::TileServer up;
    sources.urlTemplate = up.UrlTemplate();
    TileLoader serving(sources);
    offline.SetTiles(&serving);
    ASSERT_TRUE(test_support::WaitFor([&] { return offline.MapShown(); }));
    EXPECT_NE(offline.grab().toImage(), expected);
    // It goes away, and the map is taken where it never was (to the car, far off): nothing
    // to draw there, so the plain plot again.
    up.Close();
    offline.SetCar(LatLonDeg{t.landingLat - 30, t.landingLon + 60});
    offline.SetFollow(Follow::Car);
    ASSERT_TRUE(test_support::WaitFor([&] { return !offline.MapShown(); }));
    EXPECT_EQ(offline.grab().toImage(), plain.grab().toImage());
    // Unless the user has taken the map: then it stays one, to be dragged back.
    offline.SetFollow(Follow::Off);
    EXPECT_TRUE(offline.MapShown());
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
