// gpsd as the real server of the car's position: gpsfake plays a route this test writes into a
// private gpsd on a free loopback port, and headless pelmora, fed one record per fix of the
// route, prints car= lines that match it; gpsd stopped and started again mid-run is said once,
// retried and followed again; a lost fix bridged by the last position for a while. The landing
// waypoint through a pseudo-terminal, read back by gpsbabel.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/numbers.h"
#include "monitor/chase/car.h"
#include "monitor/headless.h"
#include "monitor/headless_car.h"
#include "qt_wait.h"
#include "records.h"
#include "serial_test_support.h"
#include "simulated_flight.h"
#include "temp_dir.h"

namespace monitor {
namespace {

// Due east along 49 N at 36 km/h, one fix a second, 212 m above sea level.
struct Route {
    static constexpr int kFixes = 600;
    static constexpr double kLat = 49.0, kLon0 = 8.0;
    static double Lon(int i) {
        // 10 m of the parallel at 49 N on the ellipsoid.
        return kLon0 + i * 10.0 / 73171.0;
    }
    static std::string Sentence(const std::string& body) {
        unsigned sum = 0;
        for (char c : body) sum ^= static_cast<unsigned char>(c);
        char check[8];
        std::snprintf(check, sizeof check, "*%02X\r\n", sum);
        return "$" + body + check;
    }
    static std::string Nmea() {
        std::string out;
        for (int i = 0; i < kFixes; ++i) {
            char time[16], lon[32], body[160];
            std::snprintf(time, sizeof time, "12%02d%02d.00", i / 60 % 60, i % 60);
            const double l = Lon(i);
            std::snprintf(lon, sizeof lon, "%03d%07.4f", static_cast<int>(l),
                          (l - std::floor(l)) * 60);
            std::snprintf(body, sizeof body, "GPRMC,%s,A,4900.0000,N,%s,E,19.438,90.0,091226,,,A",
                          time, lon);
            out += Sentence(body);
            std::snprintf(body, sizeof body, "GPGGA,%s,4900.0000,N,%s,E,1,08,1.0,212.0,M,47.0,M,,",
                          time, lon);
            out += Sentence(body);
        }
        return out;
    }
};

// The probe stays 30 km up over one point north-east of the route.
constexpr LatLonDeg kProbe{49.2, 8.1};

std::string ProbeRecord(int n) {
    testing::Fix f;
    char time[16];
    std::snprintf(time, sizeof time, "13%02d%02d.00", n / 60 % 60, n % 60);
    f.time = time;
    f.lat = "4912.0000";
    f.lon = "00806.0000";
    f.alt = "30000.0";
    return testing::Record(f);
}

std::string Field(const std::string& line, const std::string& name) {
    const std::size_t at = line.find("\t" + name + "=");
    if (at == std::string::npos) return "<missing>";
    const std::size_t from = at + name.size() + 2;
    return line.substr(from, line.find_first_of("\t\n", from) - from);
}

std::vector<std::string> Lines(const std::string& out, const std::string& type) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(type + "=", 0) == 0) lines.push_back(line);
    return lines;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

quint16 FreePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// gpsfake and its gpsd, on loopback only (gpsd listens on nothing else unless told), ended by
// gpsfake's own timeout should the test not end them.
struct FakeGps {
    QProcess p;
    FakeGps(const std::string& log, quint16 port) {
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("gpsfake"), {"-q", "-c", "0.05", "-W", "60", "-P",
                                            QString::number(port), QString::fromStdString(log)});
        p.waitForStarted();
    }
    void Stop() {
        p.terminate();  // gpsfake ends its gpsd with it
        if (!p.waitForFinished(5000)) p.kill();
        p.waitForFinished();
    }
    ~FakeGps() {
        if (p.state() != QProcess::NotRunning) Stop();
    }
};

TEST(CarGps, CarLinesFollowTheRouteAndSurviveGpsdGoingAway) {
    if (QStandardPaths::findExecutable("gpsfake").isEmpty())
        GTEST_SKIP() << "gpsfake is not installed (Debian gpsd-clients)";
    test_support::TempDir dir;
    const std::string log = (dir.path / "route.nmea").string();
    std::ofstream(log, std::ios::binary) << Route::Nmea();
    const quint16 port = FreePort();
    auto gps = std::make_unique<FakeGps>(log, port);

    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);  // gpsfake must not hold the write end
    std::ostringstream out, err;
    QCoreApplication& app = *QCoreApplication::instance();
    StreamReader reader;
    HeadlessCar car(app, err);
    reader.SetHomeSource(car.Home());
    FlightAnalytics analytics;
    analytics.SetHomeSource(car.Home());
    std::size_t carCount = 0;
    auto carLine = [&](const RecordResult& r) {
        analytics.AddRecord(r.record);
        out << car.Line(++carCount, analytics.State()) << std::flush;
    };
    const GpsServer server{"127.0.0.1", port};
    car.Start(server, "", 200);

    // A second follower told that the route's receiver is its own serial port (by a link to
    // it, as a socat pair names it) must never take a fix from it. Counted until gpsd stops:
    // the restarted gpsfake plays into a new pseudo-terminal, which the link does not name.
    int ignoredFixes = 0;
    int step = 0;
    GpsSource ignoring(
        [&app](std::function<void()> job) {
            QMetaObject::invokeMethod(&app, std::move(job), Qt::QueuedConnection);
        },
        {[&](const CarFix& f) { ignoredFixes += step == 0 && f.mode != CarFixMode::None; }, {}});

    // One record per new fix; gpsd stopped after five, started again, three more with a fix.
    int records = 0;
    std::int64_t lastArrival = -1;
    auto send = [&] {
        const std::string r = ProbeRecord(++records);
        ASSERT_EQ(::write(fds[1], r.data(), r.size()), static_cast<ssize_t>(r.size()));
    };
    auto newFix = [&] {  // a complete fix that no record has seen yet
        const auto f =
            car.Tracker().Current(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count());
        // A cycle's first report may come from its RMC alone, 2D and without the altitude.
        if (!f || f->arrivalMs == lastArrival || f->mode != CarFixMode::ThreeD || !f->speedKmh)
            return false;
        lastArrival = f->arrivalMs;
        return true;
    };
    auto printed = [&] { return static_cast<int>(Lines(out.str(), "car").size()) == records; };
    QTimer script;
    script.setInterval(10);
    QObject::connect(&script, &QTimer::timeout, [&] {
        if (!printed()) return;
        if (step == 0 && records == 5) {
            gps->Stop();
            step = 1;
        } else if (step == 0 && newFix()) {
            if (!ignoring.Running()) {
                const std::string link = (dir.path / "navi").string();
                std::filesystem::create_symlink(car.Tracker().Current(lastArrival)->device, link);
                ignoring.Start(server, link, 200);
            }
            send();
        } else if (step == 1 && err.str().find("went away") != std::string::npos) {
            send();  // without gpsd: no fix
            gps = std::make_unique<FakeGps>(log, port);
            step = 2;
        } else if (step == 2 && Count(err.str(), "connected to gpsd") >= 2 && newFix()) {
            send();
            if (records == 9) {
                ::close(fds[1]);
                step = 3;
            }
        }
    });
    script.start();
    QTimer::singleShot(60000, &app, [&] { ::close(fds[1]); });  // a hang fails, never blocks
    RunPipeReplay(app, fds[0], reader, out, err, carLine);
    ::close(fds[0]);
    ignoring.Stop();
    gps->Stop();

    ASSERT_EQ(step, 3) << out.str() << err.str();
    const auto carLines = Lines(out.str(), "car");
    const auto recordLines = Lines(out.str(), "record");
    ASSERT_EQ(carLines.size(), 9u);
    for (std::size_t i = 0; i < carLines.size(); ++i) {
        const std::string& c = carLines[i];
        EXPECT_TRUE(c.rfind("car=" + std::to_string(i + 1) + "\t", 0) == 0) << c;
        if (i == 5) {
            EXPECT_EQ(Field(c, "fix"), "none") << c;
            EXPECT_EQ(Field(c, "probe_km"), "") << c;
            continue;
        }
        EXPECT_EQ(Field(c, "fix"), "3d") << c;
        EXPECT_EQ(Field(c, "car_lat"), "49.000000");
        const double lon = std::stod(Field(c, "car_lon"));
        const double along = (lon - Route::kLon0) * 73171.0 / 10.0;
        EXPECT_NEAR(along, std::round(along), 0.1) << "not a point of the route: " << c;
        EXPECT_EQ(Field(c, "car_alt"), "212");
        EXPECT_EQ(Field(c, "car_speed"), "36.0");
        EXPECT_EQ(Field(c, "car_heading"), "90");
        const Geodesic toProbe = GeodesicBetween({Route::kLat, lon}, kProbe);
        EXPECT_NEAR(std::stod(Field(c, "probe_km")), toProbe.km, 0.001);
        EXPECT_NEAR(std::stod(Field(c, "probe_bearing")), toProbe.bearingDeg, 0.1);
        EXPECT_NEAR(std::stod(Field(c, "probe_elev")),
                    ElevationDeg({Route::kLat, lon}, 212, kProbe, 30000), 0.1);
        // The record line's distance is the same car's, on the record displays' sphere.
        if (i > 0) {
            EXPECT_NEAR(std::stod(Field(recordLines[i], "dvllb")), toProbe.km, 0.1)
                << recordLines[i];
        }
    }
    // Said once each way, however often it was retried meanwhile. A loaded machine may see
    // gpsfake's daemon drop a client while it starts or ends: each such drop is said once too.
    const std::string messages = err.str();
    const std::size_t away = Count(messages, "went away");
    EXPECT_GE(away, 1u) << messages;
    EXPECT_EQ(Count(messages, "pelmora: connected to gpsd at 127.0.0.1:" + std::to_string(port)),
              away + 1)
        << messages;
    // gpsd may not be up at the first attempt (said then); the failed retries while it was
    // away are not said again.
    EXPECT_EQ(Count(messages.substr(messages.find("went away")), "no gpsd"), 0u) << messages;
    EXPECT_LE(Count(messages, "no gpsd"), 1u) << messages;
    EXPECT_EQ(ignoredFixes, 0);
}

// The car's fix lost (gpsfake stopped, as a dead antenna): the last position stays home, said
// once, a carhold= line after each car= line; after the hold (15 s here) the locator is home
// again, said; so is the fix coming back.
TEST(CarGps, ALostFixIsBridgedByTheLastPositionThenTheLocatorIsHomeAgain) {
    if (QStandardPaths::findExecutable("gpsfake").isEmpty())
        GTEST_SKIP() << "gpsfake is not installed (Debian gpsd-clients)";
    test_support::TempDir dir;
    const std::string log = (dir.path / "route.nmea").string();
    std::ofstream(log, std::ios::binary) << Route::Nmea();
    const quint16 port = FreePort();
    FakeGps gps(log, port);
    QProcess pelmora;
    std::string out, err;
    QObject::connect(&pelmora, &QProcess::readyReadStandardOutput,
                     [&] { out += pelmora.readAllStandardOutput().toStdString(); });
    QObject::connect(&pelmora, &QProcess::readyReadStandardError,
                     [&] { err += pelmora.readAllStandardError().toStdString(); });
    // Home far away (JO62) unless the car is.
    pelmora.start(QStringLiteral(PELMORA_EXECUTABLE), {"--headless", "--replay", "-", "--gpsd",
                                                       QStringLiteral("127.0.0.1:%1").arg(port),
                                                       "--car-hold", "15", "--locator", "JO62AA"});
    auto said = [&](const std::string& text) {
        return test_support::WaitFor([&] { return err.find(text) != std::string::npos; }, 60000);
    };
    std::size_t n = 0;
    std::string car, dvllb;  // the last record's
    auto record = [&] {
        const std::string r = ProbeRecord(static_cast<int>(++n));
        pelmora.write(r.data(), static_cast<qint64>(r.size()));
        ASSERT_TRUE(test_support::WaitFor([&] { return Lines(out, "car").size() == n; }, 10000));
        car = Lines(out, "car").back();
        dvllb = Field(Lines(out, "record").back(), "dvllb");
    };
    ASSERT_TRUE(said("connected to gpsd")) << err;
    for (int tries = 0; tries < 100 && Field(car, "fix") != "3d"; ++tries) {
        test_support::Pump(200);
        record();
    }
    const double carKm = std::stod(Field(car, "probe_km")), carDvllb = std::stod(dvllb);
    ASSERT_LT(carDvllb, 40) << car;

    ::kill(static_cast<pid_t>(gps.p.processId()), SIGSTOP);
    ASSERT_TRUE(said("car GPS: no fix, holding the last position")) << err;
    record();
    EXPECT_EQ(Field(car, "fix"), "none");
    const auto held = Lines(out, "carhold");
    ASSERT_FALSE(held.empty());
    EXPECT_TRUE(held.back().starts_with("carhold=" + std::to_string(n) + "\t")) << held.back();
    EXPECT_EQ(Field(held.back(), "hold_lat"), "49.000000");
    EXPECT_NEAR(std::stod(Field(held.back(), "probe_km")), carKm, 0.5);
    EXPECT_NEAR(std::stod(dvllb), carDvllb, 0.5);  // from the held position, no jump

    ASSERT_TRUE(said("car GPS: no fix for 15 s, home is the locator again")) << err;
    record();
    EXPECT_EQ(Lines(out, "carhold").size(), held.size());
    EXPECT_GT(std::stod(dvllb), 200);  // from JO62
    ::kill(static_cast<pid_t>(gps.p.processId()), SIGCONT);
    ASSERT_TRUE(said("car GPS: fix again")) << err;
    pelmora.closeWriteChannel();
    ASSERT_TRUE(pelmora.waitForFinished(10000));
    for (const char* once : {"holding the last position", "home is the locator again"})
        EXPECT_EQ(Count(err, once), 1u) << err;
}

// The landing point to the navigation device: after each GPS sentence, unchanged and first, a
// waypoint sentence that gpsbabel reads back as the estimate's point.
TEST(LandingWaypoint, GoesOutAfterEachGpsSentenceAndGpsbabelReadsIt) {
    if (QStandardPaths::findExecutable("gpsbabel").isEmpty())
        GTEST_SKIP() << "gpsbabel is not installed";
    test_support::TempDir dir;
    probegen::FlightOptions o;
    o.stepS = 30;
    o.frames = 300;
    const std::string records = (dir.path / "records.txt").string();
    std::vector<std::string> sentences;
    {
        std::ofstream out(records, std::ios::binary);
        for (const auto& frame : probegen::SimulateFlight(o)) {
            out << testing::RelayedRecord(frame);
            sentences.push_back(frame.sentence);
        }
    }
    serial_test::Pty pty;
    QProcess pelmora;
    // Its lines go to a file: a pipe read only at the end would fill and stall the program.
    const QString outFile = QString::fromStdString((dir.path / "out.txt").string());
    pelmora.setStandardOutputFile(outFile);
    pelmora.start(QStringLiteral(PELMORA_EXECUTABLE),
                  {"--headless", "--replay", QString::fromStdString(records), "--serial",
                   QString::fromStdString(pty.slave_path), "--waypoint", "--estimates"});
    ASSERT_TRUE(pelmora.waitForStarted());
    std::string wire;
    while (pelmora.state() != QProcess::NotRunning || !wire.ends_with("\r\n")) {
        const std::string more = pty.Receive(1 << 20, 2000);
        if (more.empty() && !pelmora.waitForFinished(10)) continue;
        wire += more;
        if (more.empty()) break;
    }
    pelmora.waitForFinished();
    std::ifstream outStream(outFile.toStdString(), std::ios::binary);
    const std::string out{std::istreambuf_iterator<char>(outStream), {}};

    // Sentence by sentence: every GGA as received, then a waypoint once an estimate exists.
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = wire.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(wire.substr(at, end - at));
    std::size_t gga = 0, wpl = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("$GPWPL,", 0) == 0) {
            ++wpl;
            ASSERT_GT(i, 0u);
            EXPECT_EQ(lines[i - 1].rfind("$GPGGA,", 0), 0u) << "a waypoint not after a GGA";
            EXPECT_TRUE(lines[i].find(",LANDING*") != std::string::npos) << lines[i];
        } else {
            ASSERT_LT(gga, sentences.size());
            EXPECT_EQ(lines[i], sentences[gga++]);
        }
    }
    EXPECT_EQ(gga, sentences.size());
    const auto estimates = Lines(out, "estimate");
    std::size_t withLanding = 0;
    for (const auto& e : estimates) withLanding += !Field(e, "land_lat").empty();
    EXPECT_GT(wpl, 0u);
    EXPECT_EQ(wpl, withLanding);

    // gpsbabel lists the last waypoint where the last estimate put the landing.
    const std::string file = (dir.path / "wire.nmea").string();
    std::ofstream(file, std::ios::binary) << wire;
    QProcess babel;
    babel.start(QStringLiteral("gpsbabel"),
                {"-i", "nmea", "-f", QString::fromStdString(file), "-o", "gpx", "-F", "-"});
    ASSERT_TRUE(babel.waitForFinished(20000));
    const std::string gpx = babel.readAllStandardOutput().toStdString();
    const std::size_t last = gpx.rfind("<wpt ");
    ASSERT_NE(last, std::string::npos) << gpx;
    EXPECT_NE(gpx.find("<name>LANDING</name>", last), std::string::npos) << gpx;
    auto attribute = [&](const std::string& name) {
        const std::size_t at = gpx.find(name + "=\"", last) + name.size() + 2;
        return std::stod(gpx.substr(at, gpx.find('"', at) - at));
    };
    std::string lastLanding;
    for (const auto& e : estimates)
        if (!Field(e, "land_lat").empty()) lastLanding = e;
    EXPECT_NEAR(attribute("lat"), std::stod(Field(lastLanding, "land_lat")), 2e-5);
    EXPECT_NEAR(attribute("lon"), std::stod(Field(lastLanding, "land_lon")), 2e-5);
}

}  // namespace
}  // namespace monitor

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
