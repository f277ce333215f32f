#include "common/net/client_socket.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QMetaObject>
#include <QTcpSocket>
#include <QTimer>

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace common {

namespace {

// SocketError starts at 0 (ConnectionRefusedError) and uses -1 for "unknown", so the codes handed
// to OnError are shifted to keep 0 free for "cleared".
constexpr int kErrorCodeBase = 1000;

}  // namespace

int ClientSocket::ErrorCodeOf(QAbstractSocket::SocketError error) {
    return kErrorCodeBase + static_cast<int>(error);
}

QAbstractSocket::SocketError ClientSocket::SocketErrorOf(int errorCode) {
    return static_cast<QAbstractSocket::SocketError>(errorCode - kErrorCodeBase);
}

const char* ClientSocket::StepName(Step step) {
    switch (step) {
        case Step::Lookup:
            return "lookup";
        case Step::Connect:
            return "connect";
        case Step::Send:
            return "send";
        case Step::Receive:
            return "receive";
        case Step::Disconnect:
            return "disconnect";
        case Step::Other:
            break;
    }
    return "other";
}

ClientSocket::ClientSocket(QObject* parent)
    : QObject(parent), m_socket(new QTcpSocket(this)), m_connectTimer(new QTimer(this)) {
    m_socket->setReadBufferSize(m_receiveLimit);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, &ClientSocket::HandleConnectTimeout);
    connect(m_socket, &QTcpSocket::connected, this, &ClientSocket::HandleConnected);
    connect(m_socket, &QTcpSocket::disconnected, this, &ClientSocket::HandleDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ClientSocket::HandleError);
    connect(m_socket, &QTcpSocket::readyRead, this, &ClientSocket::HandleReadyRead);
}

ClientSocket::~ClientSocket() {
    // The socket's own destructor would abort and signal into a half-destroyed object.
    QObject::disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
}

void ClientSocket::SetHost(const QString& hostOrDottedIPv4) {
    m_host = hostOrDottedIPv4.trimmed();
}
void ClientSocket::SetPort(quint16 port) {
    m_port = port;
}
QString ClientSocket::Host() const {
    return m_host;
}
quint16 ClientSocket::Port() const {
    return m_port;
}
void ClientSocket::SetConnectTimeoutMs(int ms) {
    m_connectTimeoutMs = ms;
}

void ClientSocket::SetReceiveLimitBytes(qint64 bytes) {
    m_receiveLimit = bytes > 0 ? bytes : 1;
    m_socket->setReadBufferSize(m_receiveLimit);
}

void ClientSocket::SetSendLimitBytes(qint64 bytes) {
    m_sendLimit = bytes;
}

void ClientSocket::SetDeadPeerTimeoutMs(int ms) {
    m_deadPeerTimeoutMs = ms;
}

namespace {
// Keepalive after half the timeout idle, then probes a few seconds apart; the user timeout bounds
// both the probes and data left unacknowledged.
void WatchForDeadPeer(qintptr fd, int timeoutMs) {
    if (fd < 0 || timeoutMs <= 0) return;
    const int s = static_cast<int>(fd);
    const int on = 1;
    const int idle = std::max(1, timeoutMs / 2000);
    const int interval = std::max(1, timeoutMs / 8000);
    const int count = 4;
    const auto user = static_cast<unsigned>(timeoutMs);
    ::setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(s, IPPROTO_TCP, TCP_USER_TIMEOUT, &user, sizeof user);
}
}  // namespace

bool ClientSocket::Active() const {
    return m_opening || Connected();
}

bool ClientSocket::Connected() const {
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

qint64 ClientSocket::PendingSendBytes() const {
    return m_socket->bytesToWrite();
}

qint64 ClientSocket::UnacknowledgedBytes() const {
    if (!Connected()) return 0;
    int queued = 0;
    const qintptr fd = m_socket->socketDescriptor();
    if (fd < 0 || ::ioctl(static_cast<int>(fd), SIOCOUTQ, &queued) != 0 || queued < 0) queued = 0;
    return m_socket->bytesToWrite() + queued;
}

void ClientSocket::Open() {
    if (Active()) return;
    Close();
    ++m_attempt;
    m_opening = true;
    Post([this] {
        if (OnConnecting) OnConnecting();
    });
    if (m_host.isEmpty()) {
        m_opening = false;
        RaiseError(Step::Lookup, QAbstractSocket::HostNotFoundError,
                   QStringLiteral("no host name"));
        return;
    }
    if (m_connectTimeoutMs > 0) m_connectTimer->start(m_connectTimeoutMs);
    m_socket->connectToHost(m_host, m_port);
}

void ClientSocket::Close() {
    ++m_attempt;
    m_opening = false;
    m_connectTimer->stop();
    m_received.clear();
    m_readPosted = false;
    m_closing = true;
    if (m_socket->state() != QAbstractSocket::UnconnectedState) m_socket->abort();
    // abort() emits disconnected() only for an established connection, so this covers the rest.
    if (m_wasConnected) HandleDisconnected();
    m_closing = false;
}

bool ClientSocket::SendText(const QByteArray& text) {
    if (!Connected()) return false;
    if (m_socket->bytesToWrite() + text.size() > m_sendLimit) return false;
    return m_socket->write(text) == text.size();
}

QByteArray ClientSocket::ReceiveText() {
    PullReceived();
    QByteArray out = std::exchange(m_received, {});
    PullReceived();
    if (!m_received.isEmpty()) PostRead();
    return out;
}

void ClientSocket::LookupPeerName(std::function<void(QString)> done) {
    const QHostAddress peer = m_socket->peerAddress();
    if (peer.isNull()) {
        QMetaObject::invokeMethod(
            this, [done = std::move(done)] { done(QString()); }, Qt::QueuedConnection);
        return;
    }
    const QString address = peer.toString();
    QHostInfo::lookupHost(address, this, [done = std::move(done), address](const QHostInfo& info) {
        const QString name = info.hostName();
        const bool found = info.error() == QHostInfo::NoError && !name.isEmpty() && name != address;
        done(found ? name : QString());
    });
}

void ClientSocket::HandleConnected() {
    WatchForDeadPeer(m_socket->socketDescriptor(), m_deadPeerTimeoutMs);
    m_connectTimer->stop();
    m_opening = false;
    m_wasConnected = true;
    Post([this] {
        if (OnConnect) OnConnect();
    });
}

void ClientSocket::HandleDisconnected() {
    if (!m_wasConnected) return;
    m_wasConnected = false;
    m_opening = false;
    auto tell = [this] {
        if (OnDisconnect) OnDisconnect();
    };
    // The owner's own close: a later attempt of the owner's supersedes it. Ended by the peer or
    // the network: told even when the next attempt begins before it is delivered (a reconnect
    // timer, or a handler reopening from the error that came first), as the owner has not heard
    // of it otherwise; still ahead of the next attempt's notifications, which keep their order.
    if (m_closing)
        Post(tell);
    else
        QMetaObject::invokeMethod(this, tell, Qt::QueuedConnection);
}

void ClientSocket::HandleError(QAbstractSocket::SocketError error) {
    if (m_closing) return;
    Step step = Step::Other;
    if (error == QAbstractSocket::HostNotFoundError) {
        step = Step::Lookup;
    } else if (m_opening && !Connected()) {
        step = Step::Connect;
    } else if (error == QAbstractSocket::RemoteHostClosedError) {
        step = Step::Disconnect;
    } else if (error == QAbstractSocket::SocketResourceError ||
               error == QAbstractSocket::UnsupportedSocketOperationError ||
               error == QAbstractSocket::OperationError) {
        step = Step::Other;
    } else if (m_socket->bytesToWrite() > 0) {
        step = Step::Send;
    } else {
        step = Step::Receive;
    }
    if (step == Step::Lookup || step == Step::Connect) {
        m_connectTimer->stop();
        m_opening = false;
    }
    RaiseError(step, error, m_socket->errorString());
}

void ClientSocket::HandleConnectTimeout() {
    if (!m_opening || Connected()) return;
    m_opening = false;
    m_closing = true;
    m_socket->abort();
    m_closing = false;
    RaiseError(Step::Connect, QAbstractSocket::SocketTimeoutError,
               QStringLiteral("no connection within %1 ms").arg(m_connectTimeoutMs));
}

void ClientSocket::ReadPending() {
    if (!Connected()) return;
    int waiting = 0;
    // Waiting with nothing to read would end in a timeout reported as the socket's error.
    if (ioctl(static_cast<int>(m_socket->socketDescriptor()), FIONREAD, &waiting) == 0 &&
        waiting > 0 && m_received.size() + m_socket->bytesAvailable() < m_receiveLimit)
        m_socket->waitForReadyRead(0);
    PullReceived();
    if (!m_received.isEmpty() && OnRead) OnRead();
}

void ClientSocket::HandleReadyRead() {
    PullReceived();
    if (!m_received.isEmpty()) PostRead();
}

void ClientSocket::PullReceived() {
    const qint64 room = m_receiveLimit - m_received.size();
    if (room > 0 && m_socket->bytesAvailable() > 0) m_received += m_socket->read(room);
}

void ClientSocket::PostRead() {
    if (m_readPosted) return;
    m_readPosted = true;
    Post([this] {
        m_readPosted = false;
        if (OnRead) OnRead();
    });
}

void ClientSocket::Post(std::function<void()> notify) {
    QMetaObject::invokeMethod(
        this,
        [this, attempt = m_attempt, notify = std::move(notify)] {
            if (attempt == m_attempt) notify();
        },
        Qt::QueuedConnection);
}

void ClientSocket::RaiseError(Step step, QAbstractSocket::SocketError error, const QString& text) {
    Post([this, step, error, text] {
        int code = ErrorCodeOf(error);
        m_errorText = text;
        if (OnError) OnError(step, code);
        if (code != 0) {
            std::fprintf(stderr, "socket error (%s, %s:%u, code %d): %s\n", StepName(step),
                         qUtf8Printable(m_host), static_cast<unsigned>(m_port), code,
                         qUtf8Printable(text));
        }
    });
}

}  // namespace common
