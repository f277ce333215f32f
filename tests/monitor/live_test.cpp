// pelmora following a server: the headless live driver in-process against a loopback server of
// the test, the real program against the project's relay, a record stream on a live pipe, a
// navigation device that comes and goes, signals with a stalled one, the monitor stopped and
// resumed, and gpsd as a real client of the GPS sentences.
#include "monitor/headless.h"

#include <fcntl.h>
#include <signal.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/locator.h"
#include "qt_wait.h"
#include "records.h"
#include "serial_test_support.h"
#include "simulated_flight.h"
#include "temp_dir.h"
#include "tools/relay/harness.h"

namespace {

using test_support::WaitFor;

// Fix n going due north, a second a fix; the GPS sentence carries a valid checksum, as a GPS client
// demands.
struct Flight {
    static double LatMinutes(int n) { return 4900.0 + 0.06 * n; }  // 111 m a second
    static double AltM(int n) { return 1000.0 + 20 * n; }
    static std::string Time(int n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "12%02d%02d.00", n / 60 % 60, n % 60);
        return buf;
    }
    static std::string Record(int n, const std::string& call = "DL1ABC") {
        char body[128];
        std::snprintf(body, sizeof body, "GPGGA,%s,%.4f,N,00820.1234,E,1,07,1.0,%.1f,M,47.0,M,,",
                      Time(n).c_str(), LatMinutes(n), AltM(n));
        unsigned sum = 0;
        for (const char* c = body; *c; ++c) sum ^= static_cast<unsigned char>(*c);
        char sentence[160];
        std::snprintf(sentence, sizeof sentence, "$%s*%02X", body, sum);
        const std::string plain = monitor::testing::Record({}, call);
        // Swap the sentence of a plain record for this one: ";"-field 3.
        const std::size_t a = plain.find(';', plain.find(';') + 1) + 1;
        const std::size_t b = plain.find(';', a);
        return plain.substr(0, a) + sentence + plain.substr(b);
    }
    static std::string Utc(int n) {
        const std::string t = Time(n);
        return t.substr(0, 2) + ":" + t.substr(2, 2) + ":" + t.substr(4, 2);
    }
};

// The `record=` lines among `out`, in order.
std::vector<std::string> RecordLines(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("record=", 0) == 0) lines.push_back(line);
    return lines;
}

std::string Field(const std::string& line, const std::string& name) {
    const std::size_t at = line.find("\t" + name + "=");
    if (at == std::string::npos) return {};
    const std::size_t from = at + name.size() + 2;
    return line.substr(from, line.find('\t', from) - from);
}

// pelmora as a user runs it, output collected as it comes.
struct Pelmora {
    QProcess p;
    std::string out, err;
    test_support::TempDir state{"state"};  // its own record log
    explicit Pelmora(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), QString::fromStdString(state.path.string()));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(state.path.string()));
        p.setProcessEnvironment(env);
        QObject::connect(&p, &QProcess::readyReadStandardOutput,
                         [this] { out += p.readAllStandardOutput().toStdString(); });
        QObject::connect(&p, &QProcess::readyReadStandardError,
                         [this] { err += p.readAllStandardError().toStdString(); });
        p.start(QStringLiteral(PELMORA_EXECUTABLE), args);
        p.waitForStarted();
    }
    std::size_t Records() const { return RecordLines(out).size(); }
    // Sends the signal; the exit code, or -1 if it did not end.
    int Stop(int signal) {
        ::kill(static_cast<pid_t>(p.processId()), signal);
        if (!WaitFor([&] { return p.state() == QProcess::NotRunning; }, 10000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    ~Pelmora() {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }
};

quint16 FreePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

TEST(HeadlessLive, RetriesFromTheStartAndAfterADropUntilSignalled) {
    const quint16 port = FreePort();
    QTcpServer server;
    std::vector<QTcpSocket*> peers;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = server.nextPendingConnection()) peers.push_back(s);
    });
    std::ostringstream out, err;
    monitor::StreamReader reader;
    int step = 0;
    // The server comes up late, sends, drops mid-record, sends on the next connection.
    QTimer script;
    script.setInterval(20);
    QObject::connect(&script, &QTimer::timeout, [&] {
        if (step == 0 && err.str().find("no connection") != std::string::npos) {
            server.listen(QHostAddress::LocalHost, port);
            ++step;
        } else if (step == 1 && peers.size() == 1) {
            peers[0]->write(QByteArray::fromStdString(Flight::Record(1) + Flight::Record(2) +
                                                      Flight::Record(3).substr(0, 30)));
            peers[0]->flush();
            ++step;
        } else if (step == 2 && out.str().find("record=2") != std::string::npos) {
            peers[0]->disconnectFromHost();
            ++step;
        } else if (step == 3 && peers.size() == 2) {
            peers[1]->write(QByteArray::fromStdString(Flight::Record(4)));
            ++step;
        } else if (step == 4 && out.str().find("record=3") != std::string::npos) {
            ::raise(SIGTERM);
            ++step;
        }
    });
    script.start();
    const int rc = monitor::RunLive(*QCoreApplication::instance(),
                                    "127.0.0.1:" + std::to_string(port), reader, out, err, {}, 100);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(step, 5);
    const auto lines = RecordLines(out.str());
    ASSERT_EQ(lines.size(), 3u) << out.str() << err.str();
    EXPECT_EQ(Field(lines[2], "utclb"), Flight::Utc(4));  // not glued to the cut record 3
    EXPECT_TRUE(lines[2].rfind("record=3\t", 0) == 0);    // the count goes on
    const std::string messages = err.str();
    EXPECT_NE(messages.find("no connection to 127.0.0.1:" + std::to_string(port)),
              std::string::npos);
    EXPECT_NE(messages.find("dropped 30 bytes"), std::string::npos) << messages;
    EXPECT_NE(messages.find("stopped after 3 records"), std::string::npos);
}

TEST(HeadlessLive, EveryRecordTheStationUploadsAppearsOnceInOrder) {
    relay::harness::RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    Pelmora pelmora({"--headless", "--server",
                     QStringLiteral("localhost:%1").arg(relay.MonitorPort()), "--ms"});
    ASSERT_TRUE(WaitFor([&] { return pelmora.err.find("connected to") != std::string::npos; }))
        << pelmora.err;
    ASSERT_TRUE(relay.WaitForLog("monitor", std::chrono::seconds(5)));
    const int station = relay::harness::ConnectLoopback(relay.StationPort());
    ASSERT_GE(station, 0);
    std::string upload = "DEMO;JN49EA;";
    constexpr int kRecords = 120;
    for (int n = 1; n <= kRecords; ++n) upload += Flight::Record(n, "DEMO");
    // In uneven pieces, as TCP may deliver them.
    for (std::size_t at = 0; at < upload.size(); at += 777)
        ASSERT_TRUE(relay::harness::SendAll(station, upload.substr(at, 777)));
    ASSERT_TRUE(WaitFor([&] { return pelmora.Records() >= kRecords; }, 10000)) << pelmora.err;
    test_support::Pump(200);
    ::close(station);
    EXPECT_EQ(pelmora.Stop(SIGINT), 0);
    const auto lines = RecordLines(pelmora.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kRecords));
    for (int n = 1; n <= kRecords; ++n) {
        const std::string& line = lines[static_cast<std::size_t>(n - 1)];
        EXPECT_TRUE(line.rfind("record=" + std::to_string(n) + "\t", 0) == 0) << line;
        EXPECT_EQ(Field(line, "utclb"), Flight::Utc(n));
        EXPECT_EQ(Field(line, "rxstatlb"), "DEMO  in  JN49EA");
    }
    EXPECT_TRUE(Field(lines.back(), "ghlb").ends_with(" m/s"));
}

// A flight day on loopback: two probes, three stations (two hear the second probe, one of them
// later and with gaps), all through the relay, and the monitor with a navigation device on a
// pseudo-terminal. Each record lands in its probe's flight, the near probe's landing alarms and
// the other's does not, and the device gets one probe's fixes, each once, in time order.
TEST(HeadlessLive, TwoProbesThreeStationsOneRelay) {
    probegen::FlightOptions a, b;
    b.launchLonDeg += 0.3;
    b.burstAltM = 24000;
    const auto fa = probegen::SimulateFlight(a), fb = probegen::SimulateFlight(b);
    const auto tb = monitor::testing::Truth(b);
    auto record = [](const probegen::FrameContent& f, const std::string& call) {
        std::string r = monitor::testing::RelayedRecord(f);
        return r.replace(0, r.find(';'), call);
    };
    std::string s1 = "S1;JN49EA;", s2 = "S2;JN49EA;", s3 = "S3;JN49EA;";
    std::size_t aRecords = 0, bRecords = 0;
    for (std::size_t i = 0; i < fa.size(); ++i) {
        s1 += record(fa[i], "S1");
        s2 += record(fb[i], "S2");
        ++aRecords;
        ++bRecords;
        if (i >= 3 && i % 5 != 0) {
            s3 += record(fb[i - 3], "S3");
            ++bRecords;
        }
    }
    relay::harness::RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    serial_test::Pty device;
    char home[8];
    std::snprintf(home, sizeof home, "%s",
                  common::LatLonToLocator(tb.landingLon + 0.01, tb.landingLat)->c_str());
    Pelmora pelmora({"--headless", "--server",
                     QStringLiteral("localhost:%1").arg(relay.MonitorPort()), "--estimates",
                     "--serial", QString::fromStdString(device.slave_path), "--locator",
                     QString::fromLatin1(home)});
    ASSERT_TRUE(WaitFor([&] { return pelmora.err.find("connected to") != std::string::npos; }))
        << pelmora.err;
    ASSERT_TRUE(relay.WaitForLog("monitor", std::chrono::seconds(10)));
    std::vector<int> stations;
    for (int k = 0; k < 3; ++k) {
        stations.push_back(relay::harness::ConnectLoopback(relay.StationPort()));
        ASSERT_GE(stations.back(), 0);
    }
    // A piece of each at a time, so the probes' records come interleaved.
    constexpr std::size_t kPiece = 2000;
    for (std::size_t at = 0; at < s1.size() || at < s2.size(); at += kPiece) {
        std::size_t k = 0;
        for (const std::string* upload : {&s1, &s2, &s3}) {
            if (at < upload->size()) {
                ASSERT_TRUE(relay::harness::SendAll(stations[k], upload->substr(at, kPiece)));
            }
            ++k;
        }
    }
    const std::size_t total = aRecords + bRecords;
    std::string wire;
    ASSERT_TRUE(WaitFor(
        [&] {
            wire += device.Receive(1 << 16, 0);
            return pelmora.Records() >= total;
        },
        60000))
        << pelmora.Records() << " of " << total << "\n"
        << pelmora.err;
    test_support::Pump(300);
    wire += device.Receive(1 << 20, 200);
    for (int fd : stations) ::close(fd);
    EXPECT_EQ(pelmora.Stop(SIGINT), 0);

    // Which flight each record went to, and what kind of fix it was.
    std::map<std::string, std::map<std::string, int>> kinds;
    std::istringstream out(pelmora.out);
    std::vector<std::string> landingAlarms;
    for (std::string line; std::getline(out, line);) {
        if (line.rfind("flight=", 0) == 0) ++kinds[Field(line, "id")][Field(line, "fix")];
        if (line.rfind("alarm=", 0) == 0 && Field(line, "kind") == "landing")
            landingAlarms.push_back(Field(line, "id"));
        if (line.rfind("record=", 0) == 0) {
            EXPECT_FALSE(Field(line, "ghlb").starts_with("-") && Field(line, "ghlb") != "-")
                << line;
        }
    }
    ASSERT_EQ(kinds.size(), 2u) << pelmora.out.substr(0, 2000);
    // The flight the second station's copies went to is the second probe's.
    const std::string near = kinds["A"].count("copy") ? "A" : "B";
    const std::string far = near == "A" ? "B" : "A";
    EXPECT_EQ(kinds[far]["new"], static_cast<int>(aRecords));
    EXPECT_EQ(kinds[far].size(), 1u);
    EXPECT_EQ(kinds[near]["new"] + kinds[near]["late"] + kinds[near]["copy"],
              static_cast<int>(bRecords));
    EXPECT_GT(kinds[near]["copy"], 0);
    EXPECT_EQ(landingAlarms, std::vector<std::string>{near});

    // The device: one probe's sentences, each once, in time order.
    std::vector<std::string> sentences;
    for (std::size_t at = 0, end; (end = wire.find("\r\n", at)) != std::string::npos; at = end + 2)
        sentences.push_back(wire.substr(at, end - at));
    ASSERT_FALSE(sentences.empty());
    const bool ofA = sentences.front() == fa.front().sentence;
    const auto& own = ofA ? fa : fb;
    std::size_t next = 0;
    for (const std::string& s : sentences) {
        while (next < own.size() && own[next].sentence != s) ++next;
        ASSERT_LT(next, own.size()) << "not the followed probe's, or out of order: " << s;
        ++next;
    }
}

// A navigation device that stopped reading (its queue in the kernel full): records keep their
// pace, the user is told once, nothing it gets later is cut, and SIGINT ends the run at once.
TEST(HeadlessLive, StalledNavigationDeviceHoldsUpNoRecordAndSigintEndsAtOnce) {
    serial_test::Pty pty;
    pty.FillUntilFull();
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* peer = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection,
                     [&] { peer = server.nextPendingConnection(); });
    Pelmora pelmora({"--headless", "--server",
                     QStringLiteral("127.0.0.1:%1").arg(server.serverPort()), "--serial",
                     QString::fromStdString(pty.slave_path)});
    ASSERT_TRUE(WaitFor([&] { return peer != nullptr; })) << pelmora.err;
    // One record every 100 ms, as a busy server sends them. The device reads nothing until all
    // are shown: a writer that waited for it would never show them, one that waited a second for
    // it per record (the port's write timeout) would be 27 s behind. How soon each record shows
    // is bench/monitor/live_latency's to say; ten seconds here is far more than it promises.
    constexpr int kRecords = 30;
    for (int n = 1; n <= kRecords; ++n) {
        peer->write(QByteArray::fromStdString(Flight::Record(n)));
        test_support::Pump(100);
    }
    ASSERT_TRUE(WaitFor([&] { return pelmora.Records() == kRecords; }, 10000))
        << pelmora.Records() << " records; " << pelmora.err;
    const std::string notice = "pelmora: navigation device not reading: ";
    EXPECT_NE(pelmora.err.find(notice), std::string::npos) << pelmora.err;
    EXPECT_EQ(pelmora.err.find(notice), pelmora.err.rfind(notice)) << "told more than once";

    std::string device = pty.Receive(1 << 20, 300);  // it reads again
    peer->write(QByteArray::fromStdString(Flight::Record(kRecords + 1)));
    ASSERT_TRUE(WaitFor([&] {
        return pelmora.err.find("navigation device reading again: ") != std::string::npos;
    })) << pelmora.err;
    device += pty.Receive(1 << 20, 300);
    const std::size_t first = device.find('$');
    ASSERT_NE(first, std::string::npos);
    std::istringstream lines(device.substr(first));
    int whole = 0;
    for (std::string line; std::getline(lines, line); ++whole) {
        EXPECT_TRUE(line.starts_with("$GPGGA,12") && line.ends_with("\r") &&
                    line.find('$', 1) == std::string::npos)
            << "cut or glued: " << line;
    }
    EXPECT_GE(whole, 1);

    // Within a second (bench/monitor/live_latency measures it): ten times that here.
    EXPECT_EQ(pelmora.Stop(SIGINT), 0);
}

TEST(HeadlessReplay, LivePipeShowsEachRecordAndAnswersTheSerialPortAtOnce) {
    serial_test::Pty pty;
    Pelmora pelmora(
        {"--headless", "--replay", "-", "--serial", QString::fromStdString(pty.slave_path)});
    const std::string first = Flight::Record(1);
    pelmora.p.write(QByteArray::fromStdString(first));
    // About 200 bytes: far less than any read block, and the pipe stays open.
    ASSERT_TRUE(WaitFor([&] { return pelmora.Records() == 1; })) << pelmora.err;
    const std::string sentence = first.substr(14, first.find(';', 14) - 14) + "\r\n";
    EXPECT_EQ(pty.Receive(sentence.size()), sentence);
    pty.Send("?");
    EXPECT_EQ(pty.Receive(sentence.size()), sentence);  // answered while waiting for input
    pelmora.p.write(QByteArray::fromStdString(Flight::Record(2)));
    ASSERT_TRUE(WaitFor([&] { return pelmora.Records() == 2; }));
    pelmora.p.closeWriteChannel();
    ASSERT_TRUE(WaitFor([&] { return pelmora.p.state() == QProcess::NotRunning; }));
    EXPECT_EQ(pelmora.p.exitCode(), 0);
}

// The GPS sentence of Flight::Record(n) as the device gets it.
std::string Sentence(int n) {
    const std::string r = Flight::Record(n);
    return r.substr(14, r.find(';', 14) - 14) + "\r\n";
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The navigation device missing at start is opened when it appears; unplugged (socat gone, its
// link with it) and plugged back at the same path, it is opened again: sentences from the next
// fix on, whole, each change said once.
TEST(NavigationDevice, OpenedWhenItAppearsAndAgainWhenItIsBack) {
    if (!serial_test::HaveSocat()) GTEST_SKIP() << "socat is not installed";
    test_support::TempDir dir;
    const std::string a = (dir.path / "end_a").string(), b = (dir.path / "end_b").string();
    Pelmora pelmora({"--headless", "--replay", "-", "--serial", QString::fromStdString(a)});
    auto said = [&](const std::string& what) {  // tried every 2 s: far longer here
        return WaitFor([&] { return pelmora.err.find(what) != std::string::npos; }, 30000);
    };
    // Record n in, and what the far end of the pair reads of it.
    auto deviceGets = [&](int n) {
        const int fd = ::open(b.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        pelmora.p.write(QByteArray::fromStdString(Flight::Record(n)));
        std::string got;
        WaitFor([&] {
            got += serial_test::Pty::ReadFd(fd, 1 << 16, 0);
            return got.size() >= Sentence(n).size();
        });
        ::close(fd);
        return got;
    };
    ASSERT_TRUE(said("navigation device " + a + " is not there")) << pelmora.err;
    pelmora.p.write(QByteArray::fromStdString(Flight::Record(1)));
    auto pair = std::make_unique<serial_test::SocatPair>(dir.path.string());
    ASSERT_TRUE(said("navigation device " + a + " open: ")) << pelmora.err;
    EXPECT_EQ(deviceGets(2), Sentence(2));  // from the next fix on
    pair.reset();
    ASSERT_TRUE(said("navigation device " + a + " gone (")) << pelmora.err;
    pelmora.p.write(QByteArray::fromStdString(Flight::Record(3)));  // followed on without it
    ASSERT_TRUE(WaitFor([&] { return pelmora.Records() == 3; }));
    pair = std::make_unique<serial_test::SocatPair>(dir.path.string());
    ASSERT_TRUE(said("navigation device " + a + " back: ")) << pelmora.err;
    EXPECT_EQ(deviceGets(4), Sentence(4));
    pelmora.p.closeWriteChannel();
    ASSERT_TRUE(WaitFor([&] { return pelmora.p.state() == QProcess::NotRunning; }));
    EXPECT_EQ(pelmora.p.exitCode(), 0);
    for (const char* once : {"is not there", " open: ", " gone (", " back: "})
        EXPECT_EQ(Count(pelmora.err, once), 1u) << once << "\n" << pelmora.err;
}

// A device that reads in fits and stops: SIGINT ends a replay of standard input at once with its
// last lines and exit 0, and the device is left no sentence cut short (when the system held the
// start of one; the serial port's own test makes sure it does). A file replay ends at SIGTERM as
// soon.
TEST(Signals, EndTheReplaysWhateverTheDeviceDoes) {
    serial_test::Pty pty;
    pty.FillUntilFull();
    Pelmora pipe(
        {"--headless", "--replay", "-", "--serial", QString::fromStdString(pty.slave_path)});
    // Each time more sentences wait than the device makes room for: one is begun and waits.
    constexpr int kRecords = 200;
    for (int n = 1; n <= kRecords; ++n) {
        pipe.p.write(QByteArray::fromStdString(Flight::Record(n)));
        if (n % 20 != 0) continue;
        ASSERT_TRUE(WaitFor([&] { return pipe.Records() == static_cast<std::size_t>(n); }));
        char room[1000];
        for (ssize_t got = 0, r; got < 1000; got += r)
            ASSERT_GT(r = ::read(pty.master, room, 1000 - got), 0);
    }
    EXPECT_EQ(pipe.Stop(SIGINT), 0) << pipe.err;
    EXPECT_NE(pipe.err.find("stopped after 200 records"), std::string::npos) << pipe.err;
    ::close(pty.keep_slave);
    pty.keep_slave = -1;
    const std::string device = pty.Receive(1 << 20, 300);
    std::istringstream lines(device.substr(std::min(device.find('$'), device.size())));
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.starts_with("$GPGGA,12") && line.ends_with("\r")) << "cut: " << line;

    test_support::TempDir dir;
    const std::string file = (dir.path / "records.txt").string();
    {
        std::ofstream records(file, std::ios::binary);
        for (int n = 1; n <= 600; ++n) records << Flight::Record(n);
    }
    serial_test::Pty reading;
    Pelmora replay({"--headless", "--replay", QString::fromStdString(file), "--serial",
                    QString::fromStdString(reading.slave_path)});
    ASSERT_TRUE(WaitFor([&] { return replay.Records() >= 3; })) << replay.err;  // paced by the line
    EXPECT_EQ(replay.Stop(SIGTERM), 0) << replay.err;
    EXPECT_NE(replay.err.find("stopped after "), std::string::npos) << replay.err;
    EXPECT_LT(replay.Records(), 600u);
}

// The monitor stopped (a suspended laptop) longer than the no-data alarm's time while the server
// went on sending: on resuming it reads what waits before it judges the data's age.
TEST(HeadlessLive, NoNoDataAlarmFromAPauseOfTheMonitorItself) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* peer = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection,
                     [&] { peer = server.nextPendingConnection(); });
    Pelmora pelmora({"--headless", "--server",
                     QStringLiteral("127.0.0.1:%1").arg(server.serverPort()), "--estimates",
                     "--no-data", "3"});
    ASSERT_TRUE(WaitFor([&] { return peer != nullptr; })) << pelmora.err;
    int n = 0;
    auto send = [&] {
        peer->write(QByteArray::fromStdString(Flight::Record(++n)));
        peer->flush();
    };
    send();
    ASSERT_TRUE(WaitFor([&] { return pelmora.Records() == 1; }));
    const auto pid = static_cast<pid_t>(pelmora.p.processId());
    ::kill(pid, SIGSTOP);
    for (int i = 0; i < 14; ++i) {  // stopped twice the alarm's time, records coming all along
        send();
        test_support::Pump(500);
    }
    ::kill(pid, SIGCONT);
    for (int i = 0; i < 6; ++i) {  // and on, for a tick or two after the resume
        send();
        test_support::Pump(300);
    }
    ASSERT_TRUE(WaitFor([&] { return pelmora.Records() == static_cast<std::size_t>(n); }));
    EXPECT_EQ(pelmora.out.find("\tkind=nodata"), std::string::npos) << pelmora.out;
    EXPECT_EQ(pelmora.Stop(SIGINT), 0);
}

// gpsd reads what pelmora writes to the other end of a serial line pair and reports the fixes.
TEST(GpsClient, GpsdSeesTheRecordsPositionsAndAltitudes) {
    if (QStandardPaths::findExecutable("gpsd").isEmpty() &&
        !QFile::exists(QStringLiteral("/usr/sbin/gpsd")))
        GTEST_SKIP() << "gpsd is not installed";
    if (QStandardPaths::findExecutable("gpspipe").isEmpty() || !serial_test::HaveSocat())
        GTEST_SKIP() << "gpspipe or socat is not installed";
    test_support::TempDir dir;
    serial_test::SocatPair line(dir.path.string());
    ASSERT_TRUE(line.Ready());
    const QString port = QString::number(FreePort());
    const QString gpsdPath = QStandardPaths::findExecutable("gpsd").isEmpty()
                                 ? QStringLiteral("/usr/sbin/gpsd")
                                 : QStandardPaths::findExecutable("gpsd");
    QProcess gpsd;
    gpsd.start(gpsdPath,
               {"-N", "-n", "-b", "-s", "4800", "-S", port, QString::fromStdString(line.b)});
    ASSERT_TRUE(gpsd.waitForStarted());
    QProcess gpspipe;
    std::string reports;
    QObject::connect(&gpspipe, &QProcess::readyReadStandardOutput,
                     [&] { reports += gpspipe.readAllStandardOutput().toStdString(); });
    ASSERT_TRUE(WaitFor(
        [&] {
            if (reports.find("\"DEVICES\"") != std::string::npos) return true;
            if (gpspipe.state() == QProcess::NotRunning)
                gpspipe.start(QStringLiteral("gpspipe"), {"-w", "localhost:" + port});
            return false;
        },
        10000));

    constexpr int kFixes = 5;
    const std::string file = (dir.path / "records.txt").string();
    {
        std::ofstream records(file, std::ios::binary);
        for (int n = 1; n <= kFixes; ++n) records << Flight::Record(n);
    }
    Pelmora pelmora({"--headless", "--replay", QString::fromStdString(file), "--serial",
                     QString::fromStdString(line.a)});
    std::vector<QJsonObject> fixes;
    ASSERT_TRUE(WaitFor(
        [&] {
            std::size_t end;
            while ((end = reports.find('\n')) != std::string::npos) {
                const auto doc =
                    QJsonDocument::fromJson(QByteArray::fromStdString(reports.substr(0, end)));
                reports.erase(0, end + 1);
                if (doc.object().value("class") == "TPV") fixes.push_back(doc.object());
            }
            return fixes.size() >= kFixes;
        },
        10000))
        << fixes.size() << " fixes; " << pelmora.err;
    for (int n = 1; n <= kFixes; ++n) {
        const QJsonObject& tpv = fixes[static_cast<std::size_t>(n - 1)];
        EXPECT_EQ(tpv.value("mode").toInt(), 3);
        EXPECT_NEAR(tpv.value("lat").toDouble(), 49 + (Flight::LatMinutes(n) - 4900) / 60, 1e-6);
        EXPECT_NEAR(tpv.value("lon").toDouble(), 8 + 20.1234 / 60, 1e-6);
        EXPECT_NEAR(tpv.value("altMSL").toDouble(), Flight::AltM(n), 1e-3);
    }
    gpspipe.kill();
    gpspipe.waitForFinished();
    gpsd.terminate();
    gpsd.waitForFinished();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
