#include "tools/relay/relay_server.h"

#include "common/text.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdio>
#include <vector>

namespace relay {

namespace {

// Detects peers that vanished without closing (half-open connections) within about two minutes.
constexpr int kKeepIdleS = 60, kKeepIntervalS = 10, kKeepCount = 6;
// A station's unread bytes in the socket; reading empties it on every notification.
constexpr qint64 kStationReadBufferBytes = 64 * 1024;
// Monitors send nothing the relay needs; what they send is read and discarded in small bites.
constexpr qint64 kMonitorReadBufferBytes = 4096;
constexpr int kAcceptPauseMs = 500;
constexpr std::size_t kLoggedFieldChars = 40;

void Log(const char* format, auto... args) {
    std::fprintf(stderr, "relay: ");
    std::fprintf(stderr, format, args...);
    std::fputc('\n', stderr);
}

void EnableKeepAlive(QTcpSocket* socket) {
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const int fd = static_cast<int>(socket->socketDescriptor());
    if (fd < 0) return;
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleS, sizeof kKeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalS, sizeof kKeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepCount, sizeof kKeepCount);
}

QString PeerOf(const QTcpSocket* socket) {
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

// Station-supplied text is shown cleaned and cut short so a log line stays one readable line.
std::string Printable(const std::string& text) {
    std::string clean = common::CleanText(text);
    if (clean.size() > kLoggedFieldChars) clean = clean.substr(0, kLoggedFieldChars) + "...";
    return clean;
}

}  // namespace

RelayServer::RelayServer(RelayConfig config, QObject* parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_stationServer(new QTcpServer(this)),
      m_monitorServer(new QTcpServer(this)),
      m_countsTimer(new QTimer(this)) {
    connect(m_stationServer, &QTcpServer::newConnection, this, &RelayServer::AcceptStations);
    connect(m_monitorServer, &QTcpServer::newConnection, this, &RelayServer::AcceptMonitors);
    for (QTcpServer* server : {m_stationServer, m_monitorServer}) {
        // Out of file descriptors: the listener would report the same error in a busy loop.
        connect(server, &QTcpServer::acceptError, this, [server](QAbstractSocket::SocketError) {
            Log("cannot accept: %s; pausing %d ms", qUtf8Printable(server->errorString()),
                kAcceptPauseMs);
            server->pauseAccepting();
            QTimer::singleShot(kAcceptPauseMs, server, [server] { server->resumeAccepting(); });
        });
    }
    connect(m_countsTimer, &QTimer::timeout, this, &RelayServer::PeriodicCounts);
}

RelayServer::~RelayServer() {
    for (auto& [socket, station] : m_stations) QObject::disconnect(socket, nullptr, this, nullptr);
    for (auto& [socket, monitor] : m_monitors) QObject::disconnect(socket, nullptr, this, nullptr);
}

bool RelayServer::Start(QString* error) {
    m_stationServer->setMaxPendingConnections(m_config.maxConnections);
    m_monitorServer->setMaxPendingConnections(m_config.maxConnections);
    if (!m_stationServer->listen(m_config.bind, m_config.stationPort)) {
        *error = QStringLiteral("cannot listen for stations on %1:%2: %3")
                     .arg(m_config.bind.toString())
                     .arg(m_config.stationPort)
                     .arg(m_stationServer->errorString());
        return false;
    }
    if (!m_monitorServer->listen(m_config.bind, m_config.monitorPort)) {
        *error = QStringLiteral("cannot listen for monitors on %1:%2: %3")
                     .arg(m_config.bind.toString())
                     .arg(m_config.monitorPort)
                     .arg(m_monitorServer->errorString());
        m_stationServer->close();
        return false;
    }
    if (m_config.countsIntervalMs > 0) m_countsTimer->start(m_config.countsIntervalMs);
    return true;
}

quint16 RelayServer::StationPort() const {
    return m_stationServer->serverPort();
}
quint16 RelayServer::MonitorPort() const {
    return m_monitorServer->serverPort();
}

bool RelayServer::Admit(QTcpSocket* socket, const char* role) {
    const std::size_t open = m_stations.size() + m_monitors.size();
    if (open >= static_cast<std::size_t>(m_config.maxConnections)) {
        ++m_counts.connectionsRefused;
        Log("%s %s refused: %zu connections open", role, qUtf8Printable(PeerOf(socket)), open);
        socket->abort();
        socket->deleteLater();
        return false;
    }
    EnableKeepAlive(socket);
    return true;
}

void RelayServer::AcceptStations() {
    while (QTcpSocket* socket = m_stationServer->nextPendingConnection()) {
        if (!Admit(socket, "station")) continue;
        socket->setReadBufferSize(kStationReadBufferBytes);
        Station& station = m_stations[socket];
        station.peer = PeerOf(socket);
        ++m_counts.stationConnects;
        Log("station %s connected", qUtf8Printable(station.peer));
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { StationRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { StationGone(socket); });
        if (socket->bytesAvailable() > 0) StationRead(socket);
    }
}

void RelayServer::AcceptMonitors() {
    while (QTcpSocket* socket = m_monitorServer->nextPendingConnection()) {
        if (!Admit(socket, "monitor")) continue;
        socket->setReadBufferSize(kMonitorReadBufferBytes);
        Monitor& monitor = m_monitors[socket];
        monitor.peer = PeerOf(socket);
        ++m_counts.monitorConnects;
        Log("monitor %s connected", qUtf8Printable(monitor.peer));
        connect(socket, &QTcpSocket::readyRead, this,
                [socket] { socket->skip(socket->bytesAvailable()); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { MonitorGone(socket, "disconnected"); });
    }
}

void RelayServer::StationRead(QTcpSocket* socket) {
    const auto it = m_stations.find(socket);
    if (it == m_stations.end()) return;
    Station& station = it->second;
    while (socket->bytesAvailable() > 0) {
        const QByteArray bytes = socket->read(kStationReadBufferBytes);
        if (bytes.isEmpty()) break;
        m_events.Clear();
        station.stream.Feed(std::string_view(bytes.constData(), bytes.size()), m_events);
        if (m_events.loginDone) {
            if (station.stream.HasLogin()) {
                Log("station %s login %s %s", qUtf8Printable(station.peer),
                    Printable(station.stream.Call()).c_str(),
                    Printable(station.stream.Locator()).c_str());
            } else {
                Log("station %s sent no login line", qUtf8Printable(station.peer));
            }
        }
        for (const Drop& drop : m_events.drops) {
            ++m_counts.drops[static_cast<std::size_t>(drop.reason)];
            if (drop.reason == DropReason::Empty) continue;
            Log("station %s: %s record of %zu bytes dropped", qUtf8Printable(station.peer),
                DropReasonName(drop.reason), drop.bytes);
        }
        for (const std::string& record : m_events.records) {
            ++station.records;
            Broadcast(record);
        }
    }
}

void RelayServer::Broadcast(const std::string& record) {
    ++m_counts.records;
    const QByteArray bytes =
        QByteArray::fromRawData(record.data(), static_cast<qsizetype>(record.size()));
    // flush() below may end a connection and so erase it from m_monitors: walk a snapshot.
    m_targets.clear();
    for (const auto& entry : m_monitors) m_targets.push_back(entry.first);
    for (QTcpSocket* socket : m_targets) {
        if (socket->bytesToWrite() + bytes.size() > m_config.monitorQueueLimitBytes) {
            // The queue only empties on the next event-loop pass; a burst from one station read
            // can outrun that, so hand what the kernel takes now before calling the monitor
            // stalled.
            socket->flush();
            const auto it = m_monitors.find(socket);
            if (it == m_monitors.end()) continue;
            if (socket->bytesToWrite() + bytes.size() > m_config.monitorQueueLimitBytes) {
                ++m_counts.monitorsDropped;
                Log("monitor %s not reading: %lld bytes unsent", qUtf8Printable(it->second.peer),
                    static_cast<long long>(socket->bytesToWrite()));
                MonitorGone(socket, "dropped");
                continue;
            }
        }
        socket->write(bytes);
        ++m_counts.deliveries;
    }
}

void RelayServer::StationGone(QTcpSocket* socket) {
    const auto it = m_stations.find(socket);
    if (it == m_stations.end()) return;
    const Station& station = it->second;
    const std::size_t unfinished = station.stream.Pending();
    if (unfinished > 0) {
        Log("station %s disconnected (%llu records; %zu bytes of an unfinished record dropped)",
            qUtf8Printable(station.peer), static_cast<unsigned long long>(station.records),
            unfinished);
    } else {
        Log("station %s disconnected (%llu records)", qUtf8Printable(station.peer),
            static_cast<unsigned long long>(station.records));
    }
    m_stations.erase(it);
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
}

void RelayServer::MonitorGone(QTcpSocket* socket, const char* why) {
    const auto it = m_monitors.find(socket);
    if (it == m_monitors.end()) return;
    Log("monitor %s %s", qUtf8Printable(it->second.peer), why);
    m_monitors.erase(it);
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
}

void RelayServer::LogCounts() {
    m_loggedRecords = m_counts.records;
    const auto& d = m_counts.drops;
    Log("counts: %zu stations, %zu monitors open; %llu records, %llu deliveries; dropped: %llu "
        "overlong, %llu garbage, %llu empty, %llu bad logins, %llu stalled monitors, %llu refused "
        "connections",
        m_stations.size(), m_monitors.size(), static_cast<unsigned long long>(m_counts.records),
        static_cast<unsigned long long>(m_counts.deliveries),
        static_cast<unsigned long long>(d[static_cast<std::size_t>(DropReason::Overlong)]),
        static_cast<unsigned long long>(d[static_cast<std::size_t>(DropReason::Garbage)]),
        static_cast<unsigned long long>(d[static_cast<std::size_t>(DropReason::Empty)]),
        static_cast<unsigned long long>(d[static_cast<std::size_t>(DropReason::BadLogin)]),
        static_cast<unsigned long long>(m_counts.monitorsDropped),
        static_cast<unsigned long long>(m_counts.connectionsRefused));
}

void RelayServer::PeriodicCounts() {
    if (m_counts.records != m_loggedRecords) LogCounts();
}

}  // namespace relay
