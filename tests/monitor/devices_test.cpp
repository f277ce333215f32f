// Devices that come and go, as a chase car has them, with the real program: the navigation
// device missing at start, unplugged and plugged back (a socat pseudo-terminal made again at the
// same path); signals ending every headless mode with a stalled device; the monitor itself
// stopped and resumed with records waiting; the car's fix lost and bridged (gpsfake stopped).
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qt_wait.h"
#include "records.h"
#include "serial_test_support.h"
#include "temp_dir.h"

namespace {

using test_support::WaitFor;

// Fix n, a second after fix n - 1, and its GPS sentence as the device gets it.
std::string Record(int n) {
    monitor::testing::Fix f;
    char time[16];
    std::snprintf(time, sizeof time, "12%02d%02d.00", n / 60 % 60, n % 60);
    f.time = time;
    return monitor::testing::Record(f);
}
std::string Sentence(int n) {
    const std::string r = Record(n);
    const std::size_t from = r.find('$');
    return r.substr(from, r.find(';', from) - from) + "\r\n";
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct Pelmora {
    QProcess p;
    std::string out, err;
    test_support::TempDir state{"state"};
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
    void Send(int n) { p.write(QByteArray::fromStdString(Record(n))); }
    bool Shown(int n) {
        return WaitFor(
            [&] { return out.find("record=" + std::to_string(n) + "\t") != std::string::npos; });
    }
    bool Said(const std::string& text, int ms = 30000) {
        return WaitFor([&] { return err.find(text) != std::string::npos; }, ms);
    }
    // The exit code once it ended, -1 if it did not end or died of a signal.
    int Ended(int ms = 10000) {
        if (!WaitFor([&] { return p.state() == QProcess::NotRunning; }, ms)) return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    ~Pelmora() {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }
};

// What the navigation device reads, at the far end of a socat pair.
struct DeviceEnd {
    int fd = -1;
    std::string got;
    explicit DeviceEnd(const std::string& path) {
        fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~DeviceEnd() {
        if (fd >= 0) ::close(fd);
    }
    bool Has(const std::string& text) {
        return WaitFor([&] {
            got += serial_test::Pty::ReadFd(fd, 1 << 16, 0);
            return got.find(text) != std::string::npos;
        });
    }
};

// Missing at start, opened when it appears; unplugged (socat gone, its link with it) and
// plugged back at the same path: sentences flow from the next fix on, each change said once.
TEST(NavigationDevice, OpenedWhenItAppearsAndAgainWhenItIsBack) {
    if (!serial_test::HaveSocat()) GTEST_SKIP() << "socat is not installed";
    test_support::TempDir dir;
    const std::string a = (dir.path / "end_a").string(), b = (dir.path / "end_b").string();
    Pelmora pelmora({"--headless", "--replay", "-", "--serial", QString::fromStdString(a)});
    ASSERT_TRUE(pelmora.Said("navigation device " + a + " is not there")) << pelmora.err;
    pelmora.Send(1);
    ASSERT_TRUE(pelmora.Shown(1));

    auto pair = std::make_unique<serial_test::SocatPair>(dir.path.string());
    ASSERT_TRUE(pair->Ready());
    ASSERT_TRUE(pelmora.Said("navigation device " + a + " open")) << pelmora.err;
    {
        DeviceEnd device(b);
        pelmora.Send(2);
        ASSERT_TRUE(device.Has(Sentence(2))) << device.got;
        EXPECT_EQ(device.got, Sentence(2));  // from the next fix on, whole
    }
    pair.reset();
    ASSERT_TRUE(pelmora.Said("navigation device " + a + " gone")) << pelmora.err;
    pelmora.Send(3);  // followed on without the device
    ASSERT_TRUE(pelmora.Shown(3));

    pair = std::make_unique<serial_test::SocatPair>(dir.path.string());
    ASSERT_TRUE(pair->Ready());
    ASSERT_TRUE(pelmora.Said("navigation device " + a + " back")) << pelmora.err;
    DeviceEnd device(b);
    pelmora.Send(4);
    ASSERT_TRUE(device.Has(Sentence(4))) << device.got;
    EXPECT_EQ(device.got, Sentence(4));
    pelmora.p.closeWriteChannel();
    EXPECT_EQ(pelmora.Ended(), 0) << pelmora.err;
    for (const char* once : {"is not there", " open:", " gone (", " back:"})
        EXPECT_EQ(Count(pelmora.err, once), 1u) << once << "\n" << pelmora.err;
    EXPECT_EQ(Count(pelmora.err, "cannot be opened"), 0u) << pelmora.err;
}

// A path that is there but is no device is said once, with the reason, and tried again.
TEST(NavigationDevice, APathThatCannotBeOpenedIsSaidOnceWithTheReason) {
    test_support::TempDir dir;
    const std::string path = (dir.path / "navi").string();
    std::ofstream(path) << "a file";
    Pelmora pelmora({"--headless", "--replay", "-", "--serial", QString::fromStdString(path)});
    ASSERT_TRUE(pelmora.Said("navigation device " + path +
                             " cannot be opened (not a character device): tried again every 2 s"))
        << pelmora.err;
    pelmora.Send(1);
    ASSERT_TRUE(pelmora.Shown(1));
    std::filesystem::remove(path);
    ASSERT_TRUE(pelmora.Said("navigation device " + path + " is not there")) << pelmora.err;
    pelmora.p.closeWriteChannel();
    EXPECT_EQ(pelmora.Ended(), 0) << pelmora.err;
    EXPECT_EQ(Count(pelmora.err, "cannot be opened"), 1u) << pelmora.err;
}

// A device that stopped reading after taking part of the stream: SIGINT still ends a replay of
// standard input at once, with its last lines and exit 0, and the device is left no sentence
// cut short although the system held the start of one.
TEST(Signals, EndAReplayOfStandardInputWhateverTheDeviceDoes) {
    serial_test::Pty pty;
    pty.FillUntilFull();
    Pelmora pelmora(
        {"--headless", "--replay", "-", "--serial", QString::fromStdString(pty.slave_path)});
    // Room for some sentences; the records go on past it, so one is begun and never finished.
    const std::string filler = pty.Receive(8000, 200);
    ASSERT_EQ(filler.find_first_not_of('x'), std::string::npos);
    constexpr int kRecords = 200;
    for (int n = 1; n <= kRecords; ++n) pelmora.Send(n);
    ASSERT_TRUE(pelmora.Shown(kRecords)) << pelmora.err;
    ASSERT_TRUE(pelmora.Said("navigation device not reading")) << pelmora.err;
    // Within a second (bench/monitor/live_latency measures it): ten times that here.
    ::kill(static_cast<pid_t>(pelmora.p.processId()), SIGINT);
    EXPECT_EQ(pelmora.Ended(), 0) << pelmora.err;
    EXPECT_NE(pelmora.err.find("stopped after " + std::to_string(kRecords) + " records"),
              std::string::npos)
        << pelmora.err;

    ::close(pty.keep_slave);
    pty.keep_slave = -1;
    const std::string device = pty.Receive(1 << 20, 300);
    const std::string sentences = device.substr(std::min(device.find('$'), device.size()));
    std::istringstream lines(sentences);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.starts_with("$GPGGA,12") && line.ends_with("*5C\r")) << "cut: " << line;
}

// A file replay paced by the line, and a live run, end at SIGTERM as soon.
TEST(Signals, EndAFileReplayAndALiveRun) {
    test_support::TempDir dir;
    const std::string file = (dir.path / "records.txt").string();
    {
        std::ofstream records(file, std::ios::binary);
        for (int n = 1; n <= 600; ++n) records << Record(n);
    }
    serial_test::Pty pty;
    Pelmora replay({"--headless", "--replay", QString::fromStdString(file), "--serial",
                    QString::fromStdString(pty.slave_path)});
    ASSERT_TRUE(replay.Shown(3)) << replay.err;  // a record in 170 ms at 4800 baud
    ::kill(static_cast<pid_t>(replay.p.processId()), SIGTERM);
    EXPECT_EQ(replay.Ended(), 0) << replay.err;
    EXPECT_NE(replay.err.find("stopped after "), std::string::npos) << replay.err;
    EXPECT_EQ(replay.out.find("record=600\t"), std::string::npos);

    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    Pelmora live({"--headless", "--server", QStringLiteral("127.0.0.1:%1").arg(server.serverPort()),
                  "--serial", QString::fromStdString(pty.slave_path)});
    ASSERT_TRUE(live.Said("connected to")) << live.err;
    ::kill(static_cast<pid_t>(live.p.processId()), SIGTERM);
    EXPECT_EQ(live.Ended(), 0) << live.err;
    EXPECT_NE(live.err.find("stopped after 0 records"), std::string::npos) << live.err;
}

// The monitor stopped (as a suspended laptop) longer than the no-data alarm's time while the
// server went on sending: on resuming it reads what waits before it judges the data's age.
TEST(NoDataAlarm, NotRaisedByAPauseOfTheMonitorItself) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket* peer = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection,
                     [&] { peer = server.nextPendingConnection(); });
    Pelmora pelmora({"--headless", "--server",
                     QStringLiteral("127.0.0.1:%1").arg(server.serverPort()), "--estimates",
                     "--no-data", "2", "--no-record-log"});
    ASSERT_TRUE(WaitFor([&] { return peer != nullptr; })) << pelmora.err;
    int n = 0;
    auto send = [&] {
        peer->write(QByteArray::fromStdString(Record(++n)));
        peer->flush();
    };
    send();
    ASSERT_TRUE(pelmora.Shown(1));
    const auto pid = static_cast<pid_t>(pelmora.p.processId());
    ::kill(pid, SIGSTOP);
    // Stopped twice the alarm's time, records coming all along.
    for (int i = 0; i < 8; ++i) {
        send();
        test_support::Pump(500);
    }
    ::kill(pid, SIGCONT);
    ASSERT_TRUE(pelmora.Shown(n)) << pelmora.err;
    send();
    ASSERT_TRUE(pelmora.Shown(n));
    test_support::Pump(1500);  // a tick or two after the resume
    EXPECT_EQ(pelmora.out.find("\tkind=nodata"), std::string::npos) << pelmora.out;
    ::kill(pid, SIGINT);
    EXPECT_EQ(pelmora.Ended(), 0);
}

// Due east along 49 N at 36 km/h, one fix a second, as gpsfake plays it.
std::string Route() {
    auto sentence = [](const std::string& body) {
        unsigned sum = 0;
        for (char c : body) sum ^= static_cast<unsigned char>(c);
        char check[8];
        std::snprintf(check, sizeof check, "*%02X\r\n", sum);
        return "$" + body + check;
    };
    std::string out;
    for (int i = 0; i < 600; ++i) {
        char time[16], lon[32], body[160];
        std::snprintf(time, sizeof time, "11%02d%02d.00", i / 60 % 60, i % 60);
        const double l = 8.0 + i * 10.0 / 73171.0;
        std::snprintf(lon, sizeof lon, "%03d%07.4f", static_cast<int>(l), (l - 8.0) * 60);
        std::snprintf(body, sizeof body, "GPRMC,%s,A,4900.0000,N,%s,E,19.438,90.0,091226,,,A", time,
                      lon);
        out += sentence(body);
        std::snprintf(body, sizeof body, "GPGGA,%s,4900.0000,N,%s,E,1,08,1.0,212.0,M,47.0,M,,",
                      time, lon);
        out += sentence(body);
    }
    return out;
}

// The probe stands 30 km up north-east of the route.
std::string ProbeRecord(int n) {
    monitor::testing::Fix f;
    char time[16];
    std::snprintf(time, sizeof time, "13%02d%02d.00", n / 60 % 60, n % 60);
    f.time = time;
    f.lat = "4912.0000";
    f.lon = "00806.0000";
    f.alt = "30000.0";
    return monitor::testing::Record(f);
}

// The line of `type` (car, carhold, record) for record `n`; empty while there is none.
std::string LineOf(const std::string& out, const std::string& type, int n) {
    const std::string head = type + "=" + std::to_string(n) + "\t";
    const std::size_t at = out.rfind(head);
    if (at == std::string::npos || (at > 0 && out[at - 1] != '\n')) return {};
    const std::size_t end = out.find('\n', at);
    return end == std::string::npos ? std::string() : out.substr(at, end - at);
}

double Km(const std::string& line, const std::string& name) {
    const std::size_t at = line.find("\t" + name + "=");
    return at == std::string::npos ? -1 : std::stod(line.substr(at + name.size() + 2));
}

// The car's gpsd stopped delivering (gpsfake stopped, as a dead antenna): the last position
// stays home, said once, the carhold= line after each car= line; after the hold the locator is
// home again, said; with the fix back the car is home again.
TEST(CarHold, TheLastPositionBridgesALostFixThenTheLocatorIsHomeAgain) {
    if (QStandardPaths::findExecutable(QStringLiteral("gpsfake")).isEmpty())
        GTEST_SKIP() << "gpsfake is not installed (Debian gpsd-clients)";
    test_support::TempDir dir;
    const std::string log = (dir.path / "route.nmea").string();
    std::ofstream(log, std::ios::binary) << Route();
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QProcess gpsfake;
    gpsfake.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gpsfake.start(QStringLiteral("gpsfake"), {"-q", "-c", "0.05", "-W", "120", "-P",
                                              QString::number(port), QString::fromStdString(log)});
    ASSERT_TRUE(gpsfake.waitForStarted());
    const auto fake = static_cast<pid_t>(gpsfake.processId());

    // Home far away (JO62, Berlin) unless the car is.
    Pelmora pelmora({"--headless", "--replay", "-", "--estimates", "--gpsd",
                     QStringLiteral("127.0.0.1:%1").arg(port), "--car-hold", "15", "--locator",
                     "JO62AA"});
    int n = 0;
    auto record = [&] {
        pelmora.p.write(QByteArray::fromStdString(ProbeRecord(++n)));
        return WaitFor([&] { return !LineOf(pelmora.out, "car", n).empty(); }, 10000);
    };
    ASSERT_TRUE(pelmora.Said("connected to gpsd")) << pelmora.err;
    for (int tries = 0; tries < 100; ++tries) {  // a record every 0.2 s until the car has a fix
        ASSERT_TRUE(record());
        if (LineOf(pelmora.out, "car", n).find("\tfix=3d\t") != std::string::npos) break;
        test_support::Pump(200);
    }
    const double carKm = Km(LineOf(pelmora.out, "car", n), "probe_km");
    const double carDvl = Km("\t" + LineOf(pelmora.out, "record", n), "dvllb");
    ASSERT_GT(carKm, 10) << LineOf(pelmora.out, "car", n);
    ASSERT_LT(carKm, 40);
    ASSERT_LT(carDvl, 40);

    ::kill(fake, SIGSTOP);
    ASSERT_TRUE(pelmora.Said("car GPS: no fix, holding the last position", 60000)) << pelmora.err;
    ASSERT_TRUE(record());
    EXPECT_NE(LineOf(pelmora.out, "car", n).find("\tfix=none\t"), std::string::npos);
    const std::string hold = LineOf(pelmora.out, "carhold", n);
    ASSERT_FALSE(hold.empty()) << pelmora.out.substr(pelmora.out.size() - 600);
    EXPECT_NE(hold.find("\thold_lat=49.000000\t"), std::string::npos) << hold;
    EXPECT_NEAR(Km(hold, "probe_km"), carKm, 0.5) << hold;
    EXPECT_GE(Km(hold, "age_s"), 10) << hold;
    EXPECT_NEAR(Km("\t" + LineOf(pelmora.out, "record", n), "dvllb"), carDvl, 0.5);

    ASSERT_TRUE(pelmora.Said("car GPS: no fix for 15 s, home is the locator again", 60000))
        << pelmora.err;
    ASSERT_TRUE(record());
    EXPECT_TRUE(LineOf(pelmora.out, "carhold", n).empty());
    EXPECT_GT(Km("\t" + LineOf(pelmora.out, "record", n), "dvllb"), 200);  // from JO62

    ::kill(fake, SIGCONT);
    ASSERT_TRUE(pelmora.Said("car GPS: fix again", 60000)) << pelmora.err;
    pelmora.p.closeWriteChannel();
    EXPECT_EQ(pelmora.Ended(), 0) << pelmora.err;
    for (const char* once : {"holding the last position", "home is the locator again"})
        EXPECT_EQ(Count(pelmora.err, once), 1u) << pelmora.err;
    gpsfake.terminate();
    if (!gpsfake.waitForFinished(5000)) gpsfake.kill();
    gpsfake.waitForFinished();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
