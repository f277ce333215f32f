// The headless station: its lines stay one clean line per frame whatever was received, its
// summary counts what was lost, and it rides out a collecting server that goes away.
#include "station/headless.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "one_line.h"
#include "qt_wait.h"
#include "silent_server.h"
#include "temp_dir.h"

#include "station/station_core.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"
#include "tools/relay/harness.h"

namespace {

using test_support::WaitFor;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// A frame received in noise may carry any byte in its sentence; the demodulator and synchroniser
// pass them all on, and the line still holds every field, escaped.
TEST(HeadlessLines, FrameWithRawBytesGivesOneCompleteCleanLine) {
    const std::string sentence = std::string("$GPGGA,12") + '\0' +
                                 "456\t00,5133.0000,N,00009.0000,E,1,0\r\n\x80\xFF\\,1.0,12\x1B"
                                 "4.5,M,,*4B";
    probegen::Words words{};
    words[3] = 0x0D0A;
    std::vector<std::vector<std::uint8_t>> frames{probegen::BuildFrame(sentence, words)};
    const auto samples = probegen::RenderFrames(frames, {});

    station::StationCore::Options o;
    o.flightLog = false;
    station::StationCore core(o);
    std::vector<std::string> lines;
    core.OnFrame = [&](const station::FrameReport& r) {
        lines.push_back(station::HeadlessFrameLine(r));
    };
    std::vector<char> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    for (std::size_t at = 0; at + 3000 <= bytes.size(); at += 3000) {
        int size = 3000;
        core.AudioIn1BufferFilled(bytes.data() + at, size);
    }
    ASSERT_EQ(lines.size(), 1u);
    const std::string& line = lines[0];
    const auto fields = test_support::CleanFields(line);
    ASSERT_EQ(fields.size(), 13u) << line;
    EXPECT_EQ(fields[1], "ok=1");
    EXPECT_EQ(fields[3], "timelb=12:\\x004:56 UTC");
    EXPECT_EQ(fields[5], "hoehelb=12\\x1B4.5 m  (GPS)");
    EXPECT_EQ(fields[6], "satlb=0\\x0D\\x0A\\x80\u00FF\\x5C Sats");
    EXPECT_EQ(fields[8], "vitemplb=0°C (innen)") << "our own texts stay as they are";
    EXPECT_EQ(fields[12].substr(0, 5), "data=");
}

struct Server {
    QTcpServer tcp;
    QByteArray got;
    bool dropAfterFirstRecord = false;
    explicit Server() {
        tcp.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&tcp, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = tcp.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] {
                    got += s->readAll();
                    if (dropAfterFirstRecord && got.contains('#')) s->abort();
                });
            }
        });
    }
};

// Output and messages into one file, in the order they were written.
struct Capture {
    std::FILE* file = std::tmpfile();
    ~Capture() { std::fclose(file); }
    std::string Text() const {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) text.append(buf, n);
        return text;
    }
};

station::StationOptions PacedFlight(const test_support::TempDir& dir, int frames,
                                    quint16 serverPort) {
    const std::string wav = (dir.path / "flight.wav").string();
    EXPECT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE,
                                {"-o", QString::fromStdString(wav), "-n", QString::number(frames)}),
              0);
    station::StationOptions o;
    o.input = station::StationOptions::Input::File;
    o.file = wav;
    o.realtime = true;
    o.headless = true;
    o.flightLog = false;
    o.server = "127.0.0.1";
    o.port = serverPort;
    o.call = "DL1ABC";
    o.locator = "JN49EA";
    return o;
}

// Without the backlog, a connection lost mid-flight: the good frames after it are counted and
// said, and the summary line ends with the counts.
TEST(HeadlessSummary, LostConnectionCountsUnsentFrames) {
    test_support::TempDir dir;
    Server server;
    server.dropAfterFirstRecord = true;
    Capture capture;
    station::StationOptions o = PacedFlight(dir, 3, server.tcp.serverPort());
    o.backlog = false;
    station::HeadlessStation h(o, capture.file, capture.file);
    int exitCode = -1;
    QObject::connect(&h, &station::HeadlessStation::Finished, [&](int code) { exitCode = code; });
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(WaitFor([&] { return exitCode >= 0; }, 20000));
    EXPECT_EQ(exitCode, 0);
    const std::string text = capture.Text();
    EXPECT_EQ(server.got.count('#'), 1);
    EXPECT_NE(text.find("no connection to the server: frame 2 not uploaded (1 unsent)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nframes=3 good=3 bad=0 overruns=0 unsent=2"), std::string::npos) << text;
    EXPECT_NE(text.find(" backlog=0 late=0\n"), std::string::npos) << text;
}

// A weak flight: repaired frames each say so on a line after their signal= line, the summary
// counts them at its end, and --no-repair leaves them bad.
TEST(HeadlessSummary, RepairedFramesAreNamedAndCounted) {
    test_support::TempDir dir;
    const std::string wav = (dir.path / "weak.wav").string();
    ASSERT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE, {"-o", QString::fromStdString(wav), "-n", "20",
                                                      "--step", "1", "--snr-inband", "6"}),
              0);
    auto run = [&](bool repair) {
        station::StationOptions o;
        o.input = station::StationOptions::Input::File;
        o.file = wav;
        o.headless = true;
        o.flightLog = false;
        o.repair = repair;
        Capture out, err;
        station::HeadlessStation h(o, out.file, err.file);
        int exitCode = -1;
        QObject::connect(&h, &station::HeadlessStation::Finished,
                         [&](int code) { exitCode = code; });
        EXPECT_TRUE(h.Start());
        EXPECT_TRUE(WaitFor([&] { return exitCode >= 0; }, 20000));
        return Lines(out.Text());
    };
    const auto lines = run(true);
    int repaired = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].starts_with("repair=")) continue;
        ++repaired;
        const std::string n = lines[i].substr(7, lines[i].find('\t') - 7);
        ASSERT_GE(i, 3u);
        EXPECT_TRUE(lines[i - 1].starts_with("signal=" + n + "\t")) << lines[i - 1];
        EXPECT_TRUE(lines[i - 3].starts_with("frame=" + n + "\tok=1\t")) << lines[i - 3];
        EXPECT_TRUE(lines[i].ends_with("\tbits=1") || lines[i].ends_with("\tbits=2")) << lines[i];
    }
    EXPECT_GT(repaired, 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(
        lines.back().ends_with(" repaired=" + std::to_string(repaired) + " backlog=0 late=0"))
        << lines.back();
    const auto without = run(false);
    ASSERT_FALSE(without.empty());
    EXPECT_TRUE(without.back().ends_with(" repaired=0 backlog=0 late=0")) << without.back();
}

// Without the backlog, the relay killed and started again during a paced flight: the station
// says so, reconnects on its own, logs in again and uploads every good frame decoded from then
// on, each once.
TEST(HeadlessFaults, RelayRestartedMidFlight) {
    test_support::TempDir dir;
    relay::harness::RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    const std::string stationPort = std::to_string(relay.StationPort());
    const std::string monitorPort = std::to_string(relay.MonitorPort());
    int monitor = relay::harness::ConnectLoopback(relay.MonitorPort());
    ASSERT_GE(monitor, 0);

    Capture capture;
    station::StationOptions o = PacedFlight(dir, 10, relay.StationPort());
    o.backlog = false;
    station::HeadlessStation h(o, capture.file, capture.file);
    h.SetReconnectIntervalMs(200);
    int exitCode = -1;
    QObject::connect(&h, &station::HeadlessStation::Finished, [&](int code) { exitCode = code; });
    ASSERT_TRUE(h.Start());

    std::string before;
    ASSERT_TRUE(WaitFor(
        [&] {
            relay::harness::ReadAvailable(monitor, before);
            return std::count(before.begin(), before.end(), '#') >= 2;
        },
        15000));
    ::close(monitor);
    ASSERT_NE(relay.Stop(SIGKILL), -1);
    // Away until a good frame was decoded and not uploaded, however slow the machine.
    ASSERT_TRUE(WaitFor(
        [&] {
            return capture.Text().find("no connection to the server: frame ") != std::string::npos;
        },
        30000))
        << capture.Text();

    relay::harness::RelayProcess again;
    ASSERT_TRUE(again.Start({"--station-port", stationPort, "--monitor-port", monitorPort}));
    monitor = relay::harness::ConnectLoopback(again.MonitorPort());
    ASSERT_GE(monitor, 0);
    std::string after;
    ASSERT_TRUE(WaitFor(
        [&] {
            relay::harness::ReadAvailable(monitor, after);
            return exitCode >= 0;
        },
        30000));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(again.WaitForLog("login DL1ABC JN49EA", std::chrono::seconds(30))) << again.Log();
    // The station closed once all was sent; the relay counts what it took, and the monitor reads
    // until it has that many records, however slow the machine.
    ASSERT_TRUE(again.WaitForLog(" disconnected (", std::chrono::seconds(30))) << again.Log();
    const std::string log = again.Log();
    const auto count = log.find(" disconnected (") + std::string(" disconnected (").size();
    const long records = std::strtol(log.c_str() + count, nullptr, 10);
    EXPECT_TRUE(WaitFor(
        [&] {
            relay::harness::ReadAvailable(monitor, after);
            return std::count(after.begin(), after.end(), '#') >= records;
        },
        30000))
        << after;
    ::close(monitor);

    // The sentences relayed after the restart, each once.
    std::map<std::string, int> relayed;
    for (std::size_t start = 0, end; (end = after.find('#', start)) != std::string::npos;
         start = end + 1) {
        const std::string record = after.substr(start, end - start);
        const auto a = record.find(';', record.find(';') + 1);
        ++relayed[record.substr(a + 1, record.find(';', a + 1) - a - 1)];
    }
    for (const auto& [sentence, times] : relayed) EXPECT_EQ(times, 1) << sentence;

    const std::string text = capture.Text();
    const auto lines = Lines(text);
    std::size_t reconnected = 0;
    bool saidGone = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].find("tavrin: disconnected from  ") == 0) saidGone = true;
        if (saidGone && lines[i].find("tavrin: connected to  ") == 0) reconnected = i;
    }
    EXPECT_TRUE(saidGone) << text;
    ASSERT_GT(reconnected, 0u) << text;
    int uploadedAfter = 0;
    for (std::size_t i = reconnected + 1; i < lines.size(); ++i) {
        const auto gps = lines[i].find("\tgps=");
        if (lines[i].rfind("frame=", 0) != 0 || gps == std::string::npos) continue;
        const std::string sentence =
            lines[i].substr(gps + 5, lines[i].find('\t', gps + 1) - gps - 5);
        EXPECT_EQ(relayed.count(sentence), 1u) << "decoded after the reconnect: " << sentence;
        ++uploadedAfter;
    }
    EXPECT_GE(uploadedAfter, 3) << text;
    EXPECT_NE(text.find("no connection to the server: frame "), std::string::npos) << text;
    EXPECT_EQ(text.find("unsent=0"), std::string::npos) << text;
}

// The summary's counts, by name.
std::map<std::string, int> Summary(const std::string& text) {
    std::map<std::string, int> counts;
    const auto at = text.rfind("\nframes=");
    if (at == std::string::npos) return counts;
    std::istringstream fields(text.substr(at + 1, text.find('\n', at + 1) - at - 1));
    for (std::string f; fields >> f;)
        counts[f.substr(0, f.find('='))] = std::stoi(f.substr(f.find('=') + 1));
    return counts;
}

// The GPS sentences of the records in a monitor's stream, in the order they came.
std::vector<std::string> Sentences(const std::string& records) {
    std::vector<std::string> out;
    for (std::size_t start = 0, end; (end = records.find('#', start)) != std::string::npos;
         start = end + 1) {
        const std::string record = records.substr(start, end - start);
        const auto a = record.find(';', record.find(';') + 1);
        out.push_back(record.substr(a + 1, record.find(';', a + 1) - a - 1));
    }
    return out;
}

// The relay stopped for about 30 s mid-flight and started again: the station is back soon after
// it, every good frame reaches a monitor, and those heard while the relay was away come late,
// in time order among themselves; none counts as unsent.
TEST(HeadlessBacklog, RelayAwayHalfAMinuteCostsNoFrame) {
    test_support::TempDir dir;
    relay::harness::RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    const std::string stationPort = std::to_string(relay.StationPort());
    const std::string monitorPort = std::to_string(relay.MonitorPort());
    int monitor = relay::harness::ConnectLoopback(relay.MonitorPort());
    ASSERT_GE(monitor, 0);
    ASSERT_TRUE(relay.WaitForLog("monitor ", std::chrono::seconds(30))) << relay.Log();

    Capture capture;
    station::HeadlessStation h(PacedFlight(dir, 38, relay.StationPort()), capture.file,
                               capture.file);
    constexpr int kRetryCapMs = 2000;  // the retry steps' longest wait, for a short test
    h.SetReconnectIntervalMs(kRetryCapMs);
    int exitCode = -1;
    QObject::connect(&h, &station::HeadlessStation::Finished, [&](int code) { exitCode = code; });
    ASSERT_TRUE(h.Start());
    auto frames = [&] { return h.Core().Frames(); };

    std::string before;
    ASSERT_TRUE(WaitFor(
        [&] {
            relay::harness::ReadAvailable(monitor, before);
            return std::count(before.begin(), before.end(), '#') >= 3;
        },
        30000));
    ::close(monitor);
    ASSERT_NE(relay.Stop(SIGKILL), -1);
    const int atStop = frames();
    ASSERT_TRUE(WaitFor([&] { return frames() >= atStop + 28; }, 120000)) << capture.Text();

    relay::harness::RelayProcess again;
    ASSERT_TRUE(again.Start({"--station-port", stationPort, "--monitor-port", monitorPort}));
    monitor = relay::harness::ConnectLoopback(again.MonitorPort());
    ASSERT_GE(monitor, 0);
    ASSERT_TRUE(again.WaitForLog("monitor ", std::chrono::seconds(30))) << again.Log();
    std::string after;
    EXPECT_TRUE(WaitFor(
        [&] {
            relay::harness::ReadAvailable(monitor, after);
            return again.CountInLog("login DL1ABC JN49EA") > 0;
        },
        10 * kRetryCapMs))
        << "station not back soon after the relay: " << again.Log();
    ASSERT_TRUE(WaitFor(
        [&] {
            relay::harness::ReadAvailable(monitor, after);
            return exitCode >= 0;
        },
        60000));
    EXPECT_EQ(exitCode, 0);

    // The good frames in the order heard, and those heard while the station was not connected.
    const std::string text = capture.Text();
    std::vector<std::string> heard;
    std::set<std::string> away;
    bool connected = true;
    for (const auto& line : Lines(text)) {
        if (line.rfind("tavrin: disconnected from  ", 0) == 0) connected = false;
        if (line.rfind("tavrin: connected to  ", 0) == 0) connected = true;
        const auto gps = line.find("\tgps=");
        if (line.rfind("frame=", 0) != 0 || line.find("\tok=1\t") == std::string::npos) continue;
        heard.push_back(line.substr(gps + 5, line.find('\t', gps + 1) - gps - 5));
        if (!connected) away.insert(heard.back());
    }
    ASSERT_GE(away.size(), 25u) << text;
    std::string missing;
    WaitFor(
        [&] {
            relay::harness::ReadAvailable(monitor, after);
            std::set<std::string> relayed;
            for (const auto& part : {before, after})
                for (const auto& s : Sentences(part)) relayed.insert(s);
            missing.clear();
            for (const auto& s : heard)
                if (!relayed.count(s)) missing += s + "\n";
            return missing.empty();
        },
        30000);
    ::close(monitor);
    EXPECT_EQ(missing, "") << "never relayed";
    std::vector<std::size_t> lateOrder;
    for (const auto& s : Sentences(after))
        if (away.count(s))
            lateOrder.push_back(std::find(heard.begin(), heard.end(), s) - heard.begin());
    EXPECT_EQ(lateOrder.size(), away.size());
    EXPECT_TRUE(std::is_sorted(lateOrder.begin(), lateOrder.end())) << after;

    const auto counts = Summary(text);
    EXPECT_EQ(counts.at("good"), static_cast<int>(heard.size()));
    EXPECT_EQ(counts.at("unsent"), 0) << text;
    EXPECT_EQ(counts.at("backlog"), 0) << text;
    EXPECT_GE(counts.at("late"), static_cast<int>(away.size())) << text;
}

// A server that accepts and never reads, fed as fast as the recording decodes: each good frame
// is counted once, as sent (the server's TCP took it), unsent or still in the backlog.
TEST(HeadlessBacklog, ServerThatNeverReadsCountsEveryFrameOnce) {
    test_support::TempDir dir;
    const test_support::SilentServer server;
    ASSERT_NE(server.port, 0);
    station::StationOptions o = PacedFlight(dir, 150, server.port);
    o.realtime = false;
    Capture out, err;
    station::HeadlessStation h(o, out.file, err.file);
    h.SetDrainLimitMs(1000);
    int exitCode = -1;
    QObject::connect(&h, &station::HeadlessStation::Finished, [&](int code) { exitCode = code; });
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(WaitFor([&] { return exitCode >= 0; }, 60000)) << err.Text();

    // What the server's TCP took is what waits in its receive queue; nothing more comes in
    // while nobody reads.
    const int peer = server.Accept();
    ASSERT_GE(peer, 0);
    int queued = 0;
    ASSERT_EQ(::ioctl(peer, FIONREAD, &queued), 0);
    std::string got(static_cast<std::size_t>(queued), '\0');
    ASSERT_EQ(::recv(peer, got.data(), got.size(), MSG_WAITALL), queued);
    ::close(peer);
    const int received = static_cast<int>(std::count(got.begin(), got.end(), '#'));

    const auto counts = Summary(out.Text());
    ASSERT_EQ(counts.at("good"), 150) << out.Text();
    EXPECT_GT(counts.at("backlog"), 0) << "the server took everything: " << err.Text();
    EXPECT_EQ(counts.at("good"), received + counts.at("unsent") + counts.at("backlog"))
        << out.Text() << err.Text();
}

// A station on its own: a start line and a status line at every interval, with the counts, the
// last good frame's age and the level; never the level line of an attended run.
TEST(HeadlessUnattended, StatusLinesInsteadOfLevelLines) {
    test_support::TempDir dir;
    Server server;
    station::StationOptions o = PacedFlight(dir, 3, server.tcp.serverPort());
    o.unattended = true;
    Capture capture;
    station::HeadlessStation h(o, capture.file, capture.file);
    h.SetStatusIntervalMs(250);
    int exitCode = -1;
    QObject::connect(&h, &station::HeadlessStation::Finished, [&](int code) { exitCode = code; });
    ASSERT_TRUE(h.Start());
    ASSERT_TRUE(WaitFor([&] { return exitCode >= 0; }, 20000));
    EXPECT_EQ(exitCode, 0);
    const std::string text = capture.Text();
    const auto lines = Lines(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("tavrin " TAVRIN_VERSION " started: audio from \"", 0), 0u) << text;
    EXPECT_NE(lines[0].find(", server 127.0.0.1:"), std::string::npos) << text;
    EXPECT_EQ(text.find("tavrin: level"), std::string::npos) << text;

    std::vector<std::string> status;
    for (const auto& line : lines)
        if (line.rfind("tavrin: status ", 0) == 0) status.push_back(line);
    ASSERT_GE(status.size(), 3u) << text;
    const std::regex form(
        "tavrin: status frames=(\\d+) good=(\\d+) bad=(\\d+) last_good_age=(\\d*) "
        "level=-?\\d+ unsent=0 overruns=0 backlog=0 late=0");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(status.front(), m, form)) << status.front();
    EXPECT_EQ(m[1], "0");
    EXPECT_EQ(m[4], "") << "nothing decoded yet: no age";
    bool sawGood = false;
    for (const auto& line : status) {
        ASSERT_TRUE(std::regex_match(line, m, form)) << line;
        if (m[2] == "0") continue;
        sawGood = true;
        EXPECT_EQ(std::stoi(m[1]), std::stoi(m[2]) + std::stoi(m[3])) << line;
        ASSERT_FALSE(m[4].str().empty()) << line;
        EXPECT_LE(std::stoi(m[4]), 2) << "a frame about every second: " << line;
    }
    EXPECT_TRUE(sawGood) << text;
    EXPECT_NE(text.find("tavrin: connected to  "), std::string::npos) << text;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
