#include "common/net/client_socket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include "qt_wait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using common::ClientSocket;
using Step = ClientSocket::Step;

namespace {

using test_support::WaitFor;

// Records every notification in order as one short word each.
struct Recorder {
    std::vector<std::string> events;
    std::vector<Step> errorSteps;
    QByteArray received;
    bool clearErrors = true;

    void Attach(ClientSocket& socket) {
        socket.OnConnecting = [this] { events.push_back("connecting"); };
        socket.OnConnect = [this] { events.push_back("connect"); };
        socket.OnDisconnect = [this] { events.push_back("disconnect"); };
        socket.OnRead = [this, &socket] {
            events.push_back("read");
            received += socket.ReceiveText();
        };
        socket.OnError = [this](Step step, int& code) {
            events.push_back(std::string("error:") + ClientSocket::StepName(step));
            errorSteps.push_back(step);
            EXPECT_NE(code, 0);
            if (clearErrors) code = 0;
        };
    }
    bool Has(const std::string& event) const {
        for (const auto& e : events)
            if (e == event) return true;
        return false;
    }
};

// A loopback server that keeps its accepted sockets and what they received.
class Server {
  public:
    Server() { EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0)); }
    quint16 Port() const { return m_server.serverPort(); }
    QTcpSocket* Accept() {
        if (!WaitFor([this] { return m_server.hasPendingConnections(); })) return nullptr;
        QTcpSocket* peer = m_server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead,
                         [this, peer] { m_received += peer->readAll(); });
        return peer;
    }
    QByteArray& Received() { return m_received; }
    void Stop() { m_server.close(); }

  private:
    QTcpServer m_server;
    QByteArray m_received;
};

quint16 UnusedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A socket aimed at a loopback server, with every notification recorded.
class ClientSocketConnection : public ::testing::Test {
  protected:
    void SetUp() override {
        rec.Attach(socket);
        socket.SetHost("127.0.0.1");
        socket.SetPort(server.Port());
    }
    Server server;
    ClientSocket socket;
    Recorder rec;
};

}  // namespace

TEST(ClientSocketErrorCode, NeverZeroAndRoundTrips) {
    for (auto error :
         {QAbstractSocket::UnknownSocketError, QAbstractSocket::ConnectionRefusedError,
          QAbstractSocket::HostNotFoundError, QAbstractSocket::RemoteHostClosedError}) {
        EXPECT_NE(ClientSocket::ErrorCodeOf(error), 0);
        EXPECT_EQ(ClientSocket::SocketErrorOf(ClientSocket::ErrorCodeOf(error)), error);
    }
}

TEST_F(ClientSocketConnection, ConnectsSendsBytesUnchangedAndReceives) {
    EXPECT_FALSE(socket.Active());
    socket.Open();
    EXPECT_TRUE(socket.Active());
    EXPECT_TRUE(rec.events.empty()) << "nothing is raised from inside Open()";
    QTcpSocket* peer = server.Accept();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    EXPECT_EQ(rec.events.front(), "connecting");
    EXPECT_TRUE(socket.Connected());

    const QByteArray login("DL1ABC;JN49EA;");
    const QByteArray binary("\x00\x01\r\n\xff#", 6);
    EXPECT_TRUE(socket.SendText(login));
    EXPECT_TRUE(socket.SendText(binary));
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() == login.size() + binary.size(); }));
    EXPECT_EQ(server.Received(), login + binary);

    peer->write("first#");
    peer->write("second#");
    ASSERT_TRUE(WaitFor([&] { return rec.received == "first#second#"; }));
    EXPECT_TRUE(socket.ReceiveText().isEmpty()) << "handed over once";
    EXPECT_TRUE(rec.errorSteps.empty());
}

TEST_F(ClientSocketConnection, HostNameIsLookedUpWithoutBlocking) {
    socket.SetHost("localhost");
    socket.Open();
    ASSERT_NE(server.Accept(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
}

TEST_F(ClientSocketConnection, SendWhileNotConnectedIsRefusedNotQueued) {
    EXPECT_FALSE(socket.SendText("early#"));
    socket.Open();
    EXPECT_FALSE(socket.SendText("while connecting#"));
    ASSERT_NE(server.Accept(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    EXPECT_TRUE(socket.SendText("late#"));
    ASSERT_TRUE(WaitFor([&] { return server.Received().size() >= 5; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(server.Received(), "late#");
}

TEST_F(ClientSocketConnection, CloseRaisesDisconnectOnceAndAllowsReopen) {
    socket.Open();
    ASSERT_NE(server.Accept(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    socket.Close();
    EXPECT_FALSE(socket.Active());
    EXPECT_FALSE(socket.SendText("after close#"));
    ASSERT_TRUE(WaitFor([&] { return rec.Has("disconnect"); }));
    socket.Close();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(), "disconnect"), 1);
    EXPECT_TRUE(rec.errorSteps.empty());

    rec.events.clear();
    socket.Open();
    ASSERT_NE(server.Accept(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
}

TEST_F(ClientSocketConnection, PeerCloseDeliversLastBytesThenDisconnectStep) {
    socket.Open();
    QTcpSocket* peer = server.Accept();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    peer->write("last words#");
    peer->flush();
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitFor([&] { return rec.Has("disconnect"); }));
    EXPECT_EQ(rec.received, "last words#");
    ASSERT_EQ(rec.errorSteps.size(), 1u);
    EXPECT_EQ(rec.errorSteps[0], Step::Disconnect);
    EXPECT_FALSE(socket.Active());
    EXPECT_FALSE(socket.SendText("dropped#"));
}

// The peer's close is told as an error, then as the disconnect: a handler that reopens from the
// error (or a reconnect timer between the two) begins the next attempt before the disconnect is
// delivered, which must still come, once, ahead of the new attempt's notifications.
TEST_F(ClientSocketConnection, ReopenedBeforeTheDisconnectIsToldStillTellsIt) {
    socket.OnError = [&](Step step, int& code) {
        rec.events.push_back(std::string("error:") + ClientSocket::StepName(step));
        code = 0;
        if (step == Step::Disconnect) socket.Open();
    };
    socket.Open();
    QTcpSocket* peer = server.Accept();
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    peer->disconnectFromHost();
    ASSERT_NE(server.Accept(), nullptr);
    ASSERT_TRUE(
        WaitFor([&] { return std::count(rec.events.begin(), rec.events.end(), "connect") == 2; }));
    const std::vector<std::string> expected = {"connecting", "connect",    "error:disconnect",
                                               "disconnect", "connecting", "connect"};
    EXPECT_EQ(rec.events, expected);
}

struct FailureCase {
    const char* name;
    QString host;
    bool refusedPort;
    Step step;
};

class ClientSocketFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ClientSocketFailure, ReportsStepAndEndsAttempt) {
    const FailureCase& c = GetParam();
    ClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost(c.host);
    socket.SetPort(c.refusedPort ? UnusedPort() : 3001);
    socket.Open();
    // A resolver may take long to say a name is unknown on a loaded machine or offline.
    ASSERT_TRUE(WaitFor([&] { return !rec.errorSteps.empty(); }, 60000));
    EXPECT_EQ(rec.errorSteps[0], c.step);
    EXPECT_FALSE(socket.Active());
    EXPECT_FALSE(rec.Has("connect"));
    EXPECT_FALSE(rec.Has("disconnect")) << "a failed attempt was never a connection";
    QCoreApplication::processEvents();
    EXPECT_EQ(rec.errorSteps.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Steps, ClientSocketFailure,
                         ::testing::Values(FailureCase{"Refused", "127.0.0.1", true, Step::Connect},
                                           FailureCase{"UnknownName", "no-such-host.invalid", false,
                                                       Step::Lookup},
                                           FailureCase{"EmptyHost", "", false, Step::Lookup}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ClientSocketFailureHandling, ConnectTimeoutEndsAHangingAttempt) {
    // A listener that never accepts and whose backlog is full drops further SYNs, so the next
    // connect hangs: on loopback that is the only way to reach the connect timeout.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers.push_back(fd);
    }

    ClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost("127.0.0.1");
    socket.SetPort(ntohs(addr.sin_port));
    socket.SetConnectTimeoutMs(400);
    socket.Open();
    ASSERT_TRUE(WaitFor([&] { return !rec.errorSteps.empty(); }, 5000));
    EXPECT_EQ(rec.errorSteps[0], Step::Connect);
    EXPECT_FALSE(rec.Has("connect"));
    EXPECT_FALSE(socket.Active());
    for (int fd : fillers) ::close(fd);
    ::close(listener);
}

TEST(ClientSocketFailureHandling, HandlerMayReopenFromErrorNotification) {
    const quint16 port = UnusedPort();
    ClientSocket socket;
    int errors = 0;
    socket.SetHost("127.0.0.1");
    socket.SetPort(port);
    socket.OnError = [&](Step, int& code) {
        code = 0;
        if (++errors < 3) socket.Open();
    };
    socket.Open();
    ASSERT_TRUE(WaitFor([&] { return errors == 3; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(errors, 3);
    EXPECT_FALSE(socket.Active());
}

TEST(ClientSocketFailureHandling, CloseDuringAttemptSuppressesItsNotifications) {
    ClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost("127.0.0.1");
    socket.SetPort(UnusedPort());
    socket.Open();
    socket.Close();
    // A second attempt at the same refused port, begun later: once its failure is told, the
    // first one's would have been too.
    ClientSocket later;
    Recorder laterRec;
    laterRec.Attach(later);
    later.SetHost("127.0.0.1");
    later.SetPort(socket.Port());
    later.Open();
    ASSERT_TRUE(WaitFor([&] { return !laterRec.errorSteps.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(rec.events.empty());
}

TEST(ClientSocketFailureHandling, SendRefusedOncePeerStallsPastTheLimit) {
    Server server;
    ClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost("127.0.0.1");
    socket.SetPort(server.Port());
    socket.SetSendLimitBytes(64 * 1024);
    socket.Open();
    QTcpSocket* peer = server.Accept();
    ASSERT_NE(peer, nullptr);
    QObject::disconnect(peer, nullptr, nullptr, nullptr);  // the server stops reading
    peer->setReadBufferSize(1);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    const QByteArray chunk(4096, 'x');
    int accepted = 0;
    for (int i = 0; i < 4096 && socket.SendText(chunk); ++i) {
        ++accepted;
        QCoreApplication::processEvents();
    }
    EXPECT_LT(accepted, 4096) << "the unsent queue must be bounded";
    EXPECT_LE(socket.PendingSendBytes(), 64 * 1024);
}

// A server that takes nothing more, its process stopped: once its window is shut, the data left
// unacknowledged ends the connection after the dead-peer timeout, told as a Send error and a
// disconnect, instead of TCP's retries of many minutes.
TEST(ClientSocketDeadPeer, StoppedServerIsDroppedAfterTheTimeout) {
    int portPipe[2];
    ASSERT_EQ(::pipe(portPipe), 0);
    const pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        // A small receive buffer fills at once; the child only makes system calls.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(fd, 1) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len))
            ::_exit(1);
        const std::uint16_t port = ntohs(addr.sin_port);
        if (::write(portPipe[1], &port, sizeof port) != sizeof port) ::_exit(1);
        const int peer = ::accept(fd, nullptr, nullptr);
        (void)peer;
        for (;;) ::pause();
    }
    std::uint16_t port = 0;
    ASSERT_EQ(::read(portPipe[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    ::close(portPipe[0]);
    ::close(portPipe[1]);
    struct Reap {
        pid_t pid;
        ~Reap() {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    } reap{server};

    ClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost("127.0.0.1");
    socket.SetPort(port);
    socket.SetSendLimitBytes(std::int64_t{1} << 30);
    socket.SetDeadPeerTimeoutMs(1000);
    socket.Open();
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    QElapsedTimer sinceStopped;
    sinceStopped.start();
    const QByteArray chunk(64 * 1024, 'x');
    ASSERT_TRUE(WaitFor(
        [&] {
            if (socket.Connected() && socket.PendingSendBytes() < 8 * chunk.size())
                socket.SendText(chunk);
            return rec.Has("disconnect");
        },
        60000))
        << "still connected " << sinceStopped.elapsed() << " ms after the server stopped";
    EXPECT_GE(sinceStopped.elapsed(), 1000);
    ASSERT_FALSE(rec.errorSteps.empty());
    EXPECT_EQ(rec.errorSteps[0], Step::Send);
    EXPECT_FALSE(socket.Connected());
}

TEST(ClientSocketPeerName, ReverseLookupOfLoopbackAndNoPeer) {
    ClientSocket idle;
    QString idleName = "unset";
    bool idleDone = false;
    idle.LookupPeerName([&](QString name) {
        idleName = name;
        idleDone = true;
    });
    EXPECT_FALSE(idleDone) << "never answered from inside the call";
    ASSERT_TRUE(WaitFor([&] { return idleDone; }));
    EXPECT_EQ(idleName, "");

    Server server;
    ClientSocket socket;
    Recorder rec;
    rec.Attach(socket);
    socket.SetHost("127.0.0.1");
    socket.SetPort(server.Port());
    socket.Open();
    ASSERT_NE(server.Accept(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return rec.Has("connect"); }));
    bool done = false;
    QString name;
    socket.LookupPeerName([&](QString n) {
        name = n;
        done = true;
    });
    ASSERT_TRUE(WaitFor([&] { return done; }));
    EXPECT_FALSE(name.contains("127.0.0.1")) << "an address is not a name";
}

TEST(ClientSocketFailureHandling, UnclearedErrorIsWrittenOnceClearedErrorNever) {
    for (const bool clear : {false, true}) {
        ClientSocket socket;
        Recorder rec;
        rec.Attach(socket);
        rec.clearErrors = clear;
        socket.SetHost("127.0.0.1");
        socket.SetPort(UnusedPort());
        ::testing::internal::CaptureStderr();
        socket.Open();
        const bool raised = WaitFor([&] { return !rec.errorSteps.empty(); });
        QCoreApplication::processEvents();
        const std::string err = ::testing::internal::GetCapturedStderr();
        ASSERT_TRUE(raised);
        size_t lines = 0;
        for (size_t at = err.find("socket error"); at != std::string::npos;
             at = err.find("socket error", at + 1))
            ++lines;
        EXPECT_EQ(lines, clear ? 0u : 1u) << err;
    }
}
