// The uplink against a real TCP server on loopback: the exact bytes on the wire, retries,
// drops and the operator's button.
#include "station/uplink/uplink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include <gtest/gtest.h>

#include "qt_wait.h"
#include "silent_server.h"
#include "temp_dir.h"

#include "station/station_core.h"
#include "tools/probegen/flight.h"
#include "tools/probegen/frame.h"
#include "tools/probegen/modulator.h"
#include "tools/relay/harness.h"

namespace {

using test_support::Pump;
using test_support::WaitFor;

struct FakeView : station::UplinkView {
    QString call = "DL1ABC", locator = "JN49EA", server;
    bool errVisible = false, locked = false;
    QString status, caption = "connect";
    QStringList shown;  // every status text and caption, in order: the link comes back at once
    QString CallText() const override { return call; }
    QString LocatorText() const override { return locator; }
    QString ServerText() const override { return server; }
    void ShowMissingCallOrLocator(bool v) override { errVisible = v; }
    void SetStatus(const QString& t) override { shown << (status = t); }
    void SetButtonCaption(const QString& c) override { shown << (caption = c); }
    void SetFieldsLocked(bool l) override { shown << ((locked = l) ? "locked" : "unlocked"); }
    QStringList log;
    void LogLine(const QString& t) override { log << t; }
};

// A collecting server stand-in that records every byte of every station connection.
struct Server {
    QTcpServer tcp;
    QByteArray got;
    int connections = 0;
    QTcpSocket* peer = nullptr;
    explicit Server(quint16 port = 0) {
        tcp.listen(QHostAddress::LocalHost, port);
        QObject::connect(&tcp, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = tcp.nextPendingConnection()) {
                ++connections;
                peer = s;
                QObject::connect(s, &QTcpSocket::readyRead, [this, s] { got += s->readAll(); });
            }
        });
    }
    QString Address() const { return "127.0.0.1:" + QString::number(tcp.serverPort()); }
};

quint16 FreePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

std::vector<std::int16_t> FlightAudio(int frames, int corrupt = -1) {
    probegen::FlightOptions o;
    o.frames = frames;
    std::vector<std::vector<std::uint8_t>> bytes;
    for (const auto& f : probegen::SimulateFlight(o))
        bytes.push_back(probegen::BuildFrame(f.sentence, f.words));
    if (corrupt >= 0) bytes[static_cast<std::size_t>(corrupt)][30] ^= 0x04;
    return probegen::RenderFrames(bytes, {});
}

void Feed(station::StationCore& core, const std::vector<std::int16_t>& samples) {
    for (std::size_t at = 0; at + 1500 <= samples.size(); at += 1500) {
        int size = 3000;
        core.AudioIn1BufferFilled(reinterpret_cast<const char*>(samples.data() + at), size);
    }
}

}  // namespace

TEST(Uplink, ExactBytesOnTheWire) {
    Server server;
    FakeView view;
    view.call = "DL1ABC portable";
    view.server = server.Address();
    station::Uplink uplink(view);
    station::StationCore::Options o;
    o.flightLog = false;
    station::StationCore core(o);
    core.SetStation(view.call.toStdString(), view.locator.toStdString());
    std::vector<std::string> sent;
    core.UplinkActive = [&] { return uplink.Connected(); };
    core.UplinkSend = [&](int number, const std::string& t) {
        sent.push_back(t);
        return uplink.SendFrame(number, t);
    };

    Feed(core, FlightAudio(2));  // before connecting: dropped, never queued
    EXPECT_TRUE(sent.empty());

    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return uplink.Connected(); }));
    EXPECT_EQ(view.caption, "DISONNECT");
    EXPECT_TRUE(view.locked);
    EXPECT_TRUE(WaitFor([&] { return view.status.startsWith("connected to  "); }));

    Feed(core, FlightAudio(3, 1));  // the middle frame fails its checksum
    ASSERT_EQ(sent.size(), 2u);
    const QByteArray expected = QByteArray("DL1ABC;JN49EA;") + QByteArray::fromStdString(sent[0]) +
                                QByteArray::fromStdString(sent[1]);
    ASSERT_TRUE(WaitFor([&] { return server.got.size() >= expected.size(); }));
    EXPECT_EQ(server.got, expected);
    EXPECT_EQ(sent[0].rfind("DL1ABC;JN49EA;$GPGGA,", 0), 0u);
    EXPECT_EQ(sent[0].back(), '#');
    EXPECT_EQ(
        view.log,
        QStringList{"call sign \"DL1ABC portable\" cut at the blank: \"DL1ABC\" is uploaded"});
}

TEST(Uplink, MissingCallOrLocatorShowsWarningAndDoesNotConnect) {
    Server server;
    FakeView view;
    view.server = server.Address();
    view.call = "";
    station::Uplink uplink(view);
    uplink.conbtClick();
    EXPECT_TRUE(view.errVisible);
    EXPECT_FALSE(uplink.Retrying());
    EXPECT_FALSE(uplink.Socket().Active()) << "no attempt started";

    view.call = "   ";  // blanks pass the check, and an empty CALL goes out
    uplink.conbtClick();
    EXPECT_FALSE(view.errVisible);
    ASSERT_TRUE(WaitFor([&] { return server.got.size() >= 8; }));
    EXPECT_EQ(server.got, ";JN49EA;");
}

TEST(Uplink, RefusedConnectionKeepsRetryingUntilServerAppears) {
    const quint16 port = FreePort();
    FakeView view;
    view.server = "127.0.0.1:" + QString::number(port);
    station::Uplink uplink(view);
    uplink.SetReconnectIntervalMs(100);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return view.status == "Server not found: "; }));
    EXPECT_EQ(view.caption, "CONNECT");
    EXPECT_TRUE(uplink.Retrying());
    // The status text stays as it is; the log says what failed.
    ASSERT_FALSE(view.log.isEmpty());
    EXPECT_EQ(
        view.log[0],
        QStringLiteral("server 127.0.0.1 port %1: cannot connect: Connection refused").arg(port));

    Server server(port);
    ASSERT_TRUE(server.tcp.isListening());
    ASSERT_TRUE(WaitFor([&] { return server.got == "DL1ABC;JN49EA;"; }));
    EXPECT_EQ(view.caption, "DISONNECT");
}

TEST(Uplink, DroppedConnectionReconnectsWithFreshLogin) {
    Server server;
    FakeView view;
    view.server = server.Address();
    station::Uplink uplink(view);
    uplink.SetReconnectIntervalMs(100);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return server.got == "DL1ABC;JN49EA;"; }));
    view.shown.clear();
    server.peer->abort();
    ASSERT_TRUE(WaitFor([&] { return view.shown.contains("CONNECT"); }));
    const auto at = view.shown.indexOf("CONNECT");
    EXPECT_TRUE(view.shown.indexOf("unlocked") > at);
    EXPECT_TRUE(view.shown.filter("disconnected from  ").size() == 1 ||
                view.shown.contains("Error in connection "));
    ASSERT_TRUE(WaitFor([&] { return server.connections == 2 && uplink.Connected(); }));
    ASSERT_TRUE(WaitFor([&] { return server.got == "DL1ABC;JN49EA;DL1ABC;JN49EA;"; }));
    EXPECT_EQ(view.caption, "DISONNECT");
}

// At the regular minute's interval: a lost connection and a refused attempt are tried again
// after the first steps' waits (a few seconds), not a minute later.
TEST(Uplink, LostOrRefusedServerTriedAgainSoon) {
    Server server;
    FakeView view;
    view.server = server.Address();
    station::Uplink uplink(view);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return server.got == "DL1ABC;JN49EA;"; }));
    server.peer->abort();
    ASSERT_TRUE(WaitFor([&] { return server.connections == 2 && uplink.Connected(); }, 10000));

    const quint16 port = server.tcp.serverPort();
    server.tcp.close();
    server.peer->abort();
    ASSERT_TRUE(WaitFor([&] { return view.status == "Server not found: "; }, 10000));
    Server back(port);
    ASSERT_TRUE(back.tcp.isListening());
    EXPECT_TRUE(WaitFor([&] { return back.got == "DL1ABC;JN49EA;"; }, 20000));
    uplink.Stop();
}

// An IPv6 literal, with a port in brackets or bare without one, reaches the relay listening on
// ::1 and logs in there.
TEST(Uplink, IPv6ServerTextReachesTheRelay) {
    relay::harness::RelayProcess relay;
    if (!relay.Start({"--bind", "::1"})) GTEST_SKIP() << "no IPv6 loopback on this machine";
    const QString port = QString::number(relay.StationPort());
    for (const QString& text : {"[::1]:" + port, QString("::1")}) {
        FakeView view;
        view.server = text;
        station::Uplink uplink(view, relay.StationPort());
        uplink.conbtClick();
        ASSERT_TRUE(WaitFor([&] { return uplink.Connected(); })) << text.toStdString();
        EXPECT_EQ(uplink.Socket().Host(), "::1");
        uplink.Stop();
    }
    // The second login may reach the relay's log after the first one is seen.
    EXPECT_TRUE(WaitFor([&] { return relay.CountInLog("login DL1ABC JN49EA") >= 2; }))
        << relay.Log();
    EXPECT_EQ(relay.CountInLog("login DL1ABC JN49EA"), 2u) << relay.Log();
}

// A connection that drops before its name look-up answers is named by its own host, never by
// the name an earlier connection looked up.
TEST(Uplink, DisconnectNamesTheConnectionThatDropped) {
    Server first;
    FakeView view;
    view.server = first.Address();
    station::Uplink uplink(view);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return view.status.startsWith("connected to  "); }));
    const QString firstName = view.status.mid(14);
    ASSERT_FALSE(firstName.isEmpty());
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return !uplink.Connected(); }));

    QTcpServer second;  // 127.0.0.2 has no name: its reverse look-up is slow or empty
    ASSERT_TRUE(second.listen(QHostAddress("127.0.0.2"), 0));
    QObject::connect(&second, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = second.nextPendingConnection()) s->abort();
    });
    view.server = "127.0.0.2:" + QString::number(second.serverPort());
    view.status.clear();
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return view.status.startsWith("disconnected from  "); }));
    EXPECT_NE(view.status.mid(19), firstName) << view.status.toStdString();
    EXPECT_FALSE(view.status.mid(19).isEmpty());
    uplink.Stop();
}

// While the socket's queue is full a text is refused, not queued; once it drained, texts go again.
TEST(Uplink, FullQueueRefusesTheText) {
    Server server;
    FakeView view;
    view.server = server.Address();
    station::Uplink uplink(view);
    uplink.Socket().SetSendLimitBytes(100);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return server.got == "DL1ABC;JN49EA;"; }));
    EXPECT_TRUE(uplink.SendText(std::string(100, 'x')));
    EXPECT_FALSE(uplink.SendText("y"));
    ASSERT_TRUE(WaitFor([&] { return uplink.Socket().PendingSendBytes() == 0; }));
    EXPECT_TRUE(uplink.SendText("z"));
    ASSERT_TRUE(WaitFor([&] { return server.got.endsWith("xz"); }));
    uplink.Stop();
    EXPECT_FALSE(uplink.SendText("z"));
}

// A server that accepts and never reads: its window shuts, the notice comes once the
// acknowledged bytes stand still, and when the dead-peer limit ends the connection the frames
// it held unacknowledged are said. A server that reads takes every frame.
TEST(Uplink, ServerThatStopsReadingIsSaidAndItsFramesCounted) {
    Server reading;
    FakeView view;
    view.server = reading.Address();
    station::Uplink uplink(view);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return uplink.Connected(); }));
    for (int n = 1; n <= 3; ++n) ASSERT_TRUE(uplink.SendFrame(n, std::string(200, 'x') + '#'));
    EXPECT_TRUE(WaitFor([&] { return uplink.FramesInFlight() == 0; }));
    uplink.Stop();
    EXPECT_TRUE(view.log.filter("not").isEmpty()) << view.log.join('\n').toStdString();

    const test_support::SilentServer silent;
    view.server = "127.0.0.1:" + QString::number(silent.port);
    view.log.clear();
    uplink.Socket().SetDeadPeerTimeoutMs(3000);
    uplink.SetStallNoticeMs(1000);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return uplink.Connected(); }));
    const int peer = silent.Accept();
    ASSERT_GE(peer, 0);
    for (int n = 1; n <= 500; ++n) ASSERT_TRUE(uplink.SendFrame(n, std::string(200, 'y') + '#'));

    const std::regex notice("server not reading for 1 s, (\\d+) frames waiting");
    std::smatch m;
    ASSERT_TRUE(WaitFor([&] { return !view.log.isEmpty(); }, 20000));
    const std::string said = view.log[0].toStdString();
    ASSERT_TRUE(std::regex_match(said, m, notice)) << said;
    EXPECT_GT(std::stoi(m[1]), 400) << "4 KB taken of 100 KB";
    ASSERT_TRUE(WaitFor([&] { return !uplink.Connected(); }, 60000))
        << view.log.join('\n').toStdString();
    ASSERT_TRUE(WaitFor([&] { return view.log.size() >= 3; }));
    EXPECT_EQ(view.log.filter("server not reading").size(), 1) << "said once";
    const QStringList ended = view.log.filter("connection ended with ");
    ASSERT_EQ(ended.size(), 1) << view.log.join('\n').toStdString();
    EXPECT_EQ(ended[0], QStringLiteral("connection ended with %1 frames not acknowledged by the "
                                       "server; back in the backlog")
                            .arg(QString::fromStdString(m[1])));
    uplink.Stop();
    ::close(peer);
}

// Frames kept while the server was away follow the next login oldest first, behind the live
// frame heard after it and at most 20 a second; each counts as sent, and as late, once the
// server's TCP has acknowledged it.
TEST(Uplink, KeptFramesFollowTheLoginPacedBehindLiveOnes) {
    Server server;
    FakeView view;
    view.server = server.Address();
    station::Uplink uplink(view);
    uplink.SetReconnectIntervalMs(300);
    EXPECT_EQ(uplink.Keep(1, "early#"), -1) << "before the first connection nothing is kept";
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return server.got == "DL1ABC;JN49EA;"; }));
    const quint16 port = server.tcp.serverPort();
    server.tcp.close();
    server.peer->abort();
    ASSERT_TRUE(WaitFor([&] { return view.caption == "CONNECT"; }));
    constexpr int kKept = 40;
    for (int n = 1; n <= kKept; ++n)
        EXPECT_EQ(uplink.Keep(n, "frame " + std::to_string(n) + "#"), n);
    EXPECT_EQ(uplink.Waiting(), kKept);

    QElapsedTimer since;  // before the server is back, so before the first kept frame goes
    since.start();
    Server back(port);
    ASSERT_TRUE(back.tcp.isListening());
    ASSERT_TRUE(WaitFor([&] { return view.caption == "DISONNECT"; }, 20000));
    ASSERT_TRUE(uplink.SendFrame(kKept + 1, "live#"));
    ASSERT_TRUE(WaitFor([&] { return back.got.count('#') == kKept + 1; }, 30000))
        << back.got.data();
    EXPECT_GE(since.elapsed(), (kKept - 1) * station::Uplink::kPaceMs);
    QByteArray expected = "DL1ABC;JN49EA;";
    for (int n = 1; n <= kKept; ++n) expected += "frame " + QByteArray::number(n) + "#";
    EXPECT_EQ(QByteArray(back.got).replace("live#", ""), expected);
    EXPECT_LT(back.got.indexOf("live#"), back.got.indexOf("frame 2#")) << back.got.data();
    EXPECT_TRUE(WaitFor([&] { return uplink.Sent() == kKept + 1; }));
    EXPECT_EQ(uplink.Late(), kKept);
    EXPECT_EQ(uplink.Waiting(), 0);
    uplink.Stop();
}

TEST(Uplink, ButtonWhileConnectedStopsEveryRetry) {
    Server server;
    FakeView view;
    view.server = server.Address();
    station::Uplink uplink(view);
    uplink.SetReconnectIntervalMs(50);
    uplink.conbtClick();
    ASSERT_TRUE(WaitFor([&] { return uplink.Connected(); }));
    uplink.conbtClick();
    EXPECT_FALSE(uplink.Retrying());
    ASSERT_TRUE(WaitFor([&] { return !uplink.Connected(); }));
    // A retry timer left running would fire before a timer of the same interval started after
    // it, however slow the machine: three of those ticks, and no attempt may have begun.
    int connecting = 0;
    uplink.Socket().OnConnecting = [&] { ++connecting; };
    QTimer ticks;
    int ticked = 0;
    QObject::connect(&ticks, &QTimer::timeout, [&] { ++ticked; });
    ticks.start(50);
    ASSERT_TRUE(WaitFor([&] { return ticked >= 3; }));
    EXPECT_FALSE(uplink.Socket().Active());
    EXPECT_EQ(connecting, 0);
    EXPECT_EQ(server.connections, 1);
}

// A host name nobody knows: the status text stays the fixed one, the log names host and port.
TEST(Uplink, UnknownHostNamedInTheLog) {
    FakeView view;
    view.server = "no-such-host.invalid:3999";
    station::Uplink uplink(view);
    uplink.conbtClick();
    // The resolver's answer may take long on a loaded machine or without a network.
    ASSERT_TRUE(WaitFor([&] { return !view.log.isEmpty(); }, 60000));
    EXPECT_EQ(view.status, "Error in connection ");
    EXPECT_TRUE(
        view.log[0].startsWith("server no-such-host.invalid port 3999: host name not found: "))
        << view.log[0].toStdString();
    uplink.Stop();
}

// The whole program: a recording replayed to a server waits for the connection, sends every
// good frame, then finishes sending, closes and exits 0.
TEST(HeadlessStation, ReplaysRecordingToServer) {
    test_support::TempDir dir;
    const QString wav = QString::fromStdString((dir.path / "flight.wav").string());
    ASSERT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE, {"-o", wav, "-n", "12"}), 0);

    Server server;
    QProcess tavrin;
    tavrin.setWorkingDirectory(QString::fromStdString(dir.path.string()));
    tavrin.start(TAVRIN_EXECUTABLE, {"--headless", "--no-log", "--input", wav, "--server",
                                     server.Address(), "--call", "dl1abc", "--locator", "JN49EA"});
    ASSERT_TRUE(WaitFor([&] { return tavrin.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(tavrin.exitCode(), 0) << tavrin.readAllStandardError().toStdString();
    const QByteArray out = tavrin.readAllStandardOutput();
    EXPECT_TRUE(out.contains("frames=12 good=12 bad=0"));
    ASSERT_TRUE(WaitFor([&] { return server.got.count('#') == 12; }));
    EXPECT_TRUE(server.got.startsWith("DL1ABC;JN49EA;DL1ABC;JN49EA;$GPGGA,"));
}

TEST(HeadlessStation, MissingCallSignIsReportedAndDecodingGoesOn) {
    test_support::TempDir dir;
    const QString wav = QString::fromStdString((dir.path / "flight.wav").string());
    ASSERT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE, {"-o", wav, "-n", "2"}), 0);
    Server server;
    QProcess tavrin;
    tavrin.setWorkingDirectory(QString::fromStdString(dir.path.string()));  // no tavrin.ini there
    tavrin.start(TAVRIN_EXECUTABLE,
                 {"--headless", "--no-log", "--input", wav, "--server", server.Address()});
    ASSERT_TRUE(WaitFor([&] { return tavrin.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(tavrin.exitCode(), 0);
    const QByteArray err = tavrin.readAllStandardError();
    EXPECT_TRUE(
        err.contains("tavrin: CALL ODER LOCATOR FEHLT\ntavrin: no call sign and no "
                     "locator: nothing is uploaded to " +
                     server.Address().toUtf8()))
        << err.toStdString();
    // The operator asked for an upload: the good frames count as unsent.
    EXPECT_TRUE(
        tavrin.readAllStandardOutput().contains("frames=2 good=2 bad=0 overruns=0 unsent=2"));
    EXPECT_EQ(server.connections, 0);
}

TEST(HeadlessStation, UnreadableRecordingEndsOnceConnected) {
    Server server;
    QProcess tavrin;
    tavrin.start(TAVRIN_EXECUTABLE,
                 {"--headless", "--no-log", "--input", "/nonexistent/x.wav", "--server",
                  server.Address(), "--call", "DL1ABC", "--locator", "JN49EA"});
    ASSERT_TRUE(WaitFor([&] { return tavrin.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(tavrin.exitCode(), 1);
    EXPECT_TRUE(tavrin.readAllStandardError().contains("/nonexistent/x.wav"));
}

TEST(HeadlessStation, BadArgumentsAndMissingFile) {
    QProcess p;
    p.start(TAVRIN_EXECUTABLE, {"--frobnicate"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_TRUE(p.readAllStandardError().contains("--frobnicate"));
    p.start(TAVRIN_EXECUTABLE, {"--headless", "--no-log", "--input", "/nonexistent/x.wav"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().contains("/nonexistent/x.wav"));
}

namespace {
struct TavrinRun {
    int exitCode = -1;
    QByteArray out, err;
};
TavrinRun Tavrin(const test_support::TempDir& dir, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(QString::fromStdString(dir.path.string()));
    p.start(TAVRIN_EXECUTABLE, QStringList{"--headless", "--no-log"} + args);
    if (!p.waitForFinished(20000)) p.kill();
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}
QString Probegen(const test_support::TempDir& dir, const char* name, const QStringList& args) {
    const QString wav = QString::fromStdString((dir.path / name).string());
    EXPECT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE, QStringList{"-o", wav, "-n", "3"} + args), 0);
    return wav;
}
}  // namespace

// The demodulator starts as the service buttons would leave it.
TEST(HeadlessStation, PolarityAndTablesFromTheCommandLine) {
    test_support::TempDir dir;
    const QString swapped = Probegen(dir, "swapped.wav", {"--swap-tones"});
    const QString lower = Probegen(dir, "lower.wav", {"--upper-tone", "2200"});
    EXPECT_TRUE(Tavrin(dir, {"--input", swapped}).out.contains(" good=0"));
    EXPECT_TRUE(Tavrin(dir, {"--input", swapped, "--polarity", "1200"}).out.contains("good=3"));
    EXPECT_TRUE(Tavrin(dir, {"--input", lower, "--tables", "rect"}).out.contains("good=3"));
    const TavrinRun bad = Tavrin(dir, {"--input", lower, "--tables", "hann"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains("--tables needs rect or hamming"));
}

// Call sign and locator are checked where they enter; a tavrin.ini that cannot be read is
// reported and left alone.
TEST(HeadlessStation, StationSettingsCheckedWhereTheyEnter) {
    test_support::TempDir dir;
    const QString wav = Probegen(dir, "flight.wav", {});
    const TavrinRun refused =
        Tavrin(dir, {"--input", wav, "--call", "DL1;ABC", "--locator", "JN49EA"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains("--call: a call sign cannot hold ';'")) << refused.err.data();
    EXPECT_TRUE(refused.out.isEmpty());

    std::filesystem::create_directory(dir.path / "tavrin.ini");
    const TavrinRun unreadable = Tavrin(dir, {"--input", wav});
    EXPECT_EQ(unreadable.exitCode, 0);
    EXPECT_TRUE(unreadable.err.contains("cannot read tavrin.ini")) << unreadable.err.data();
    EXPECT_TRUE(unreadable.out.contains("good=3"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path / "tavrin.ini"));
    std::filesystem::remove(dir.path / "tavrin.ini");

    std::ofstream(dir.path / "tavrin.ini") << "CALL=DL1#\nLOCATOR=JN49EA\n";
    Server server;
    const TavrinRun fromFile = Tavrin(dir, {"--input", wav, "--server", server.Address()});
    EXPECT_TRUE(fromFile.err.contains("(CALL) holds '#'")) << fromFile.err.data();
    EXPECT_TRUE(fromFile.err.contains("CALL ODER LOCATOR FEHLT"));
    EXPECT_EQ(server.connections, 0);

    // Locators: the command line refuses what no monitor can use, lower case is taken.
    for (const char* bad : {"ZZ99", "JN49E", "JN4", "JN49EA1", "JN49YA"}) {
        const TavrinRun r = Tavrin(dir, {"--input", wav, "--locator", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_TRUE(r.err.contains(QByteArray("--locator: \"") + bad + "\" is not a locator"))
            << r.err.data();
    }
    for (const char* good : {"jn49", "JN49ea", "JN49EA12", "RR99XX99XX", "AA00AA00AA"})
        EXPECT_EQ(Tavrin(dir, {"--input", wav, "--locator", good, "--call", "DL1ABC"}).exitCode, 0)
            << good;
    // One in tavrin.ini is warned about and still uploaded, so an existing station goes on.
    std::ofstream(dir.path / "tavrin.ini") << "CALL=DL1ABC\nLOCATOR=jn49e\n";
    const TavrinRun oddLocator = Tavrin(dir, {"--input", wav, "--server", server.Address()});
    EXPECT_TRUE(
        oddLocator.err.contains("tavrin.ini: the locator (LOCATOR) \"jn49e\" is not one "
                                "the monitors can use"))
        << oddLocator.err.data();
    ASSERT_TRUE(WaitFor([&] { return server.got.startsWith("DL1ABC;JN49E;"); }));
}

// The whole chain, station, relay and monitor: a call sign beyond ASCII, which the relay would drop
// every record of, is refused at the station, whose good frames then count as unsent; an ASCII
// one with its '/' reaches the monitor unchanged.
TEST(HeadlessStation, CallSignBeyondAsciiRefusedEndToEnd) {
    test_support::TempDir dir;
    const QString wav = Probegen(dir, "flight.wav", {});
    relay::harness::RelayProcess relay;
    ASSERT_TRUE(relay.Start());
    QProcess monitor;
    monitor.start(PELMORA_EXECUTABLE,
                  {"--headless", "--server", "127.0.0.1:" + QString::number(relay.MonitorPort()),
                   "--no-record-log"});
    ASSERT_TRUE(relay.WaitForLog("monitor ", std::chrono::seconds(30))) << relay.Log();
    const QString server = "127.0.0.1:" + QString::number(relay.StationPort());

    std::ofstream(dir.path / "tavrin.ini") << "CALL=DL\xC3\x84"
                                              "BC\nLOCATOR=JN49EA\n";
    const TavrinRun refused = Tavrin(dir, {"--input", wav, "--server", server});
    EXPECT_EQ(refused.exitCode, 0);
    EXPECT_TRUE(refused.err.contains("(CALL) holds U+00C4 (not ASCII)")) << refused.err.data();
    EXPECT_TRUE(refused.err.contains("CALL ODER LOCATOR FEHLT"));
    EXPECT_TRUE(refused.out.contains("frames=3 good=3 bad=0 overruns=0 unsent=3"))
        << refused.out.data();

    const TavrinRun ascii = Tavrin(dir, {"--input", wav, "--server", server, "--call", "DL1ABC/P"});
    EXPECT_TRUE(ascii.out.contains("frames=3 good=3 bad=0 overruns=0 unsent=0"))
        << ascii.out.data();
    QByteArray lines;
    ASSERT_TRUE(WaitFor(
        [&] {
            lines += monitor.readAllStandardOutput();
            return lines.count("\trxstatlb=") >= 3;
        },
        30000))
        << lines.data() << relay.Log();
    EXPECT_EQ(lines.count("\trxstatlb=DL1ABC/P  in  JN49EA\t"), 3) << lines.data();
    EXPECT_EQ(relay.CountInLog(" connected"), 2u) << "one monitor, one station: " << relay.Log();
    EXPECT_EQ(relay.CountInLog("dropped"), 0u) << relay.Log();
    monitor.terminate();
    EXPECT_TRUE(monitor.waitForFinished(10000));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
