#include "tools/relay/relay_server.h"

#include "common/text.h"
#include "tools/relay/log.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <vector>

namespace relay {

namespace {

// Detects peers that vanished without closing (half-open connections) within about two minutes.
constexpr int kKeepIdleS = 60, kKeepIntervalS = 10, kKeepCount = 6;
// A station's unread bytes in the socket; reading empties it on every notification.
constexpr qint64 kStationReadBufferBytes = 64 * 1024;
// Monitors send nothing the relay needs; what they send is read and discarded in small bites.
constexpr qint64 kMonitorReadBufferBytes = 4096;
// A replaying monitor is handed more history only while less than this waits for it.
constexpr qint64 kReplayQueueBytes = 64 * 1024;
// Connections the kernel completes before the relay takes them; a burst of idle ones must not
// leave a station's handshake unanswered.
constexpr int kListenBacklog = 1024;
constexpr int kAcceptPauseMs = 500;
constexpr int kHousekeepingMs = 500;
constexpr std::size_t kLoggedFieldChars = 40;

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

// The remote host, an IPv4 client of an IPv6 listener under its IPv4 address.
std::string AddressOf(const QTcpSocket* socket) {
    const QHostAddress address = socket->peerAddress();
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return (isV4 ? QHostAddress(v4) : address).toString().toStdString();
}

// Station-supplied text is shown cleaned and cut short so a log line stays one readable line.
std::string Printable(const std::string& text) {
    std::string clean = common::CleanText(text);
    if (clean.size() > kLoggedFieldChars) clean = clean.substr(0, kLoggedFieldChars) + "...";
    return clean;
}

const char* RoleName(bool station) {
    return station ? "station" : "monitor";
}

unsigned long long Ull(std::uint64_t n) {
    return static_cast<unsigned long long>(n);
}

std::string Counted(std::uint64_t n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

}  // namespace

RelayServer::RelayServer(RelayConfig config, QObject* parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_clock(m_config.clockMs),
      m_stationServer(new QTcpServer(this)),
      m_monitorServer(new QTcpServer(this)),
      m_countsTimer(new QTimer(this)),
      m_housekeepingTimer(new QTimer(this)),
      m_history(std::int64_t{m_config.historyMinutes} * 60000, m_config.historyMaxBytes) {
    if (!m_clock) {
        m_clock = [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
    }
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
    connect(m_housekeepingTimer, &QTimer::timeout, this, &RelayServer::Housekeeping);
}

RelayServer::~RelayServer() {
    for (auto& [socket, station] : m_stations) QObject::disconnect(socket, nullptr, this, nullptr);
    for (auto& [socket, monitor] : m_monitors) QObject::disconnect(socket, nullptr, this, nullptr);
}

bool RelayServer::Start(QString* error) {
    for (QTcpServer* server : {m_stationServer, m_monitorServer}) {
        server->setMaxPendingConnections(m_config.maxConnections);
        server->setListenBacklogSize(kListenBacklog);
    }
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
    m_housekeepingTimer->start(kHousekeepingMs);
    return true;
}

quint16 RelayServer::StationPort() const {
    return m_stationServer->serverPort();
}
quint16 RelayServer::MonitorPort() const {
    return m_monitorServer->serverPort();
}

std::int64_t RelayServer::Now() const {
    return m_clock();
}

bool RelayServer::Due(const Note& note, std::int64_t now) const {
    return note.unsaid > 0 && (!note.saidBefore || now - note.saidMs >= m_config.noteIntervalMs);
}

bool RelayServer::Admit(QTcpSocket* socket, Role role) {
    const std::string address = AddressOf(socket);
    if (m_config.maxPerAddress > 0) {
        const auto it = m_perAddress.find(address);
        if (it != m_perAddress.end() && it->second >= m_config.maxPerAddress) {
            Refuse(socket, role, Refusal::PerAddress);
            return false;
        }
    }
    const bool station = role == Role::Station;
    if (!station && m_monitors.size() >= static_cast<std::size_t>(m_config.maxMonitors)) {
        Refuse(socket, role, Refusal::Monitors);
        return false;
    }
    // Room taken by a station that has not logged in is given to the newcomer: idle
    // connections cannot keep stations or monitors out for the whole login deadline.
    const bool stationsFull =
        station && m_stations.size() >= static_cast<std::size_t>(m_config.maxStations);
    const bool totalFull =
        m_stations.size() + m_monitors.size() >= static_cast<std::size_t>(m_config.maxConnections);
    if ((stationsFull || totalFull) && !EvictOldestAwaiting()) {
        Refuse(socket, role, stationsFull ? Refusal::Stations : Refusal::Total);
        return false;
    }
    ++m_perAddress[address];
    EnableKeepAlive(socket);
    return true;
}

void RelayServer::Refuse(QTcpSocket* socket, Role role, Refusal why) {
    ++m_counts.connectionsRefused;
    ++m_refusalsUnsaid[static_cast<std::size_t>(why)];
    ++m_refusalNote.unsaid;
    m_lastRefused =
        std::string(RoleName(role == Role::Station)) + " " + PeerOf(socket).toStdString();
    socket->abort();
    socket->deleteLater();
    const std::int64_t now = Now();
    if (Due(m_refusalNote, now)) SayRefusals(now);
}

bool RelayServer::EvictOldestAwaiting() {
    while (!m_awaiting.empty()) {
        QTcpSocket* const oldest = m_awaiting.front();
        const std::size_t open = m_stations.size();
        // Its login may be waiting unread behind this burst of connections: read it first.
        oldest->waitForReadyRead(0);
        if (m_stations.size() < open) return true;  // it had gone
        if (!m_awaiting.empty() && m_awaiting.front() == oldest) {
            CloseStation(oldest, Close::Evicted);
            return true;
        }
    }
    return false;
}

void RelayServer::AcceptStations() {
    while (QTcpSocket* socket = m_stationServer->nextPendingConnection()) {
        if (!Admit(socket, Role::Station)) continue;
        socket->setReadBufferSize(kStationReadBufferBytes);
        Station& station = m_stations[socket];
        station.peer = PeerOf(socket);
        station.address = AddressOf(socket);
        station.acceptedMs = Now();
        station.awaiting = m_awaiting.insert(m_awaiting.end(), socket);
        ++m_counts.stationConnects;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { StationRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { CloseStation(socket, Close::PeerGone); });
        if (socket->bytesAvailable() > 0) StationRead(socket);
    }
}

void RelayServer::AcceptMonitors() {
    while (QTcpSocket* socket = m_monitorServer->nextPendingConnection()) {
        if (!Admit(socket, Role::Monitor)) continue;
        socket->setReadBufferSize(kMonitorReadBufferBytes);
        Monitor& monitor = m_monitors[socket];
        monitor.peer = PeerOf(socket);
        monitor.address = AddressOf(socket);
        ++m_counts.monitorConnects;
        Log("monitor %s connected", qUtf8Printable(monitor.peer));
        connect(socket, &QTcpSocket::readyRead, this,
                [socket] { socket->skip(socket->bytesAvailable()); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { MonitorGone(socket, "disconnected"); });
        if (m_history.Enabled()) {
            m_history.Expire(Now());
            monitor.next = m_history.Begin();
            monitor.replaying = true;
            connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { Replay(socket); });
            Replay(socket);
        }
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
            station.login = LoginText(station.stream);
            // Only stations that log in are named in the log one by one; the others are
            // counted and said together (see SayCloses), so floods cannot fill the log.
            if (!station.login.empty()) {
                station.awaitingLogin = false;
                m_awaiting.erase(station.awaiting);
                Log("station %s connected", qUtf8Printable(station.peer));
                Log("station %s login %s %s", qUtf8Printable(station.peer),
                    Printable(station.stream.Call()).c_str(),
                    Printable(station.stream.Locator()).c_str());
            }
        }
        for (const Drop& drop : m_events.drops) CountDrop(station, drop);
        for (const std::string& record : m_events.records) {
            if (const auto why = Screen(station.login, record)) {
                CountDrop(station, {*why, record.size()});
                continue;
            }
            ++station.records;
            Broadcast(record);
        }
    }
}

void RelayServer::CountDrop(Station& station, const Drop& drop) {
    ++m_counts.drops[static_cast<std::size_t>(drop.reason)];
    m_counts.droppedBytes += drop.bytes;
    if (drop.reason == DropReason::Empty) return;
    ++station.drops.unsaid;
    station.unsaidDropBytes += drop.bytes;
    station.lastDrop = drop;
    const std::int64_t now = Now();
    if (Due(station.drops, now)) SayDrops(station, now);
}

void RelayServer::SayDrops(Station& station, std::int64_t now) {
    if (station.drops.unsaid == 1) {
        Log("station %s: %s record of %zu bytes dropped", qUtf8Printable(station.peer),
            DropReasonName(station.lastDrop.reason), station.lastDrop.bytes);
    } else {
        Log("station %s: %s dropped (%llu bytes) since %s; the last: %s, %zu bytes",
            qUtf8Printable(station.peer), Counted(station.drops.unsaid, "record").c_str(),
            Ull(station.unsaidDropBytes),
            station.drops.saidBefore ? "the last note" : "it connected",
            DropReasonName(station.lastDrop.reason), station.lastDrop.bytes);
    }
    station.drops = {now, true, 0};
    station.unsaidDropBytes = 0;
}

void RelayServer::Broadcast(const std::string& record) {
    ++m_counts.records;
    if (m_history.Enabled()) m_history.Add(Now(), record);
    const QByteArray bytes =
        QByteArray::fromRawData(record.data(), static_cast<qsizetype>(record.size()));
    // flush() and Replay() below may end a connection and so erase it from m_monitors: walk a
    // snapshot.
    m_targets.clear();
    m_replayTargets.clear();
    for (const auto& [socket, monitor] : m_monitors)
        (monitor.replaying ? m_replayTargets : m_targets).push_back(socket);
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
    // The record is in the history, after everything these monitors still get from it.
    for (QTcpSocket* socket : m_replayTargets) Replay(socket);
}

void RelayServer::Replay(QTcpSocket* socket) {
    const auto it = m_monitors.find(socket);
    if (it == m_monitors.end()) return;
    Monitor& monitor = it->second;
    while (monitor.replaying) {
        if (monitor.next < m_history.Begin()) {
            // What it has not been sent yet has aged out or been pushed out of the history.
            ++m_counts.monitorsDropped;
            Log("monitor %s not reading: %llu records of the history unsent",
                qUtf8Printable(monitor.peer), Ull(m_history.End() - monitor.next));
            MonitorGone(socket, "dropped");
            return;
        }
        if (monitor.next == m_history.End()) {
            monitor.replaying = false;
            QObject::disconnect(socket, &QTcpSocket::bytesWritten, this, nullptr);
            return;
        }
        if (socket->bytesToWrite() >= kReplayQueueBytes) return;
        const std::string& record = m_history.At(monitor.next++);
        socket->write(record.data(), static_cast<qint64>(record.size()));
        ++m_counts.deliveries;
        ++m_counts.replayed;
    }
}

void RelayServer::CloseStation(QTcpSocket* socket, Close why) {
    const auto it = m_stations.find(socket);
    if (it == m_stations.end()) return;
    Station& station = it->second;
    if (station.awaitingLogin) {
        m_awaiting.erase(station.awaiting);
        ++m_closesUnsaid[static_cast<std::size_t>(why)];
        ++m_closeNote.unsaid;
        m_closedUnsaidDrops += station.drops.unsaid;
        m_lastClosed = station.peer.toStdString();
        if (why == Close::LoginTimeout) ++m_counts.loginTimeouts;
        if (why == Close::Evicted) ++m_counts.evicted;
    } else {
        const std::size_t unfinished = station.stream.Pending();
        std::string dropped;
        if (station.drops.unsaid > 0)
            dropped =
                "; " + std::to_string(station.drops.unsaid) + " dropped records not logged before";
        if (unfinished > 0)
            dropped += "; " + std::to_string(unfinished) + " bytes of an unfinished record dropped";
        Log("station %s disconnected (%llu records%s)", qUtf8Printable(station.peer),
            Ull(station.records), dropped.c_str());
    }
    if (--m_perAddress[station.address] <= 0) m_perAddress.erase(station.address);
    m_stations.erase(it);
    QObject::disconnect(socket, nullptr, this, nullptr);
    if (why != Close::PeerGone) socket->abort();
    socket->deleteLater();
    const std::int64_t now = Now();
    if (Due(m_closeNote, now)) SayCloses(now);
}

void RelayServer::MonitorGone(QTcpSocket* socket, const char* why) {
    const auto it = m_monitors.find(socket);
    if (it == m_monitors.end()) return;
    Log("monitor %s %s", qUtf8Printable(it->second.peer), why);
    if (--m_perAddress[it->second.address] <= 0) m_perAddress.erase(it->second.address);
    m_monitors.erase(it);
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
}

void RelayServer::SayRefusals(std::int64_t now) {
    const auto& r = m_refusalsUnsaid;
    Log("refused %s since %s (%llu over %d from one address, %llu over %d stations, %llu over "
        "%d monitors, %llu over %d in all); the last: %s",
        Counted(m_refusalNote.unsaid, "connection").c_str(),
        m_refusalNote.saidBefore ? "the last note" : "the start", Ull(r[0]), m_config.maxPerAddress,
        Ull(r[1]), m_config.maxStations, Ull(r[2]), m_config.maxMonitors, Ull(r[3]),
        m_config.maxConnections, m_lastRefused.c_str());
    m_refusalNote = {now, true, 0};
    m_refusalsUnsaid = {};
}

void RelayServer::SayCloses(std::int64_t now) {
    const auto& c = m_closesUnsaid;
    Log("closed %s without a good login since %s (%llu gone by themselves, %llu after %d s, "
        "%llu to make room; %llu dropped records not logged before); the last: %s",
        Counted(m_closeNote.unsaid, "station connection").c_str(),
        m_closeNote.saidBefore ? "the last note" : "the start", Ull(c[0]), Ull(c[1]),
        m_config.loginTimeoutMs / 1000, Ull(c[2]), Ull(m_closedUnsaidDrops), m_lastClosed.c_str());
    m_closeNote = {now, true, 0};
    m_closesUnsaid = {};
    m_closedUnsaidDrops = 0;
}

void RelayServer::Housekeeping() {
    const std::int64_t now = Now();
    while (!m_awaiting.empty()) {
        QTcpSocket* const socket = m_awaiting.front();
        const auto it = m_stations.find(socket);
        if (it == m_stations.end()) {
            m_awaiting.pop_front();
            continue;
        }
        if (now - it->second.acceptedMs < m_config.loginTimeoutMs) break;
        CloseStation(socket, Close::LoginTimeout);
    }
    for (auto& [socket, station] : m_stations)
        if (Due(station.drops, now)) SayDrops(station, now);
    if (Due(m_refusalNote, now)) SayRefusals(now);
    if (Due(m_closeNote, now)) SayCloses(now);
    if (m_history.Enabled()) {
        m_history.Expire(now);
        // A replaying monitor that reads nothing is dropped here once its records age out.
        m_replayTargets.clear();
        for (const auto& [socket, monitor] : m_monitors)
            if (monitor.replaying) m_replayTargets.push_back(socket);
        for (QTcpSocket* socket : m_replayTargets) Replay(socket);
    }
}

void RelayServer::LogCounts() {
    m_loggedRecords = m_counts.records;
    const auto& d = m_counts.drops;
    const auto drops = [&d](DropReason reason) { return Ull(d[static_cast<std::size_t>(reason)]); };
    Log("counts: %zu stations, %zu monitors open; %llu records, %llu deliveries; dropped: %llu "
        "overlong, %llu garbage, %llu empty, %llu bad logins, %llu stalled monitors, %llu refused "
        "connections, %llu no login, %llu not own login, %llu not four fields, %llu bytes; "
        "%llu login timeouts, %llu evicted, %llu replayed",
        m_stations.size(), m_monitors.size(), Ull(m_counts.records), Ull(m_counts.deliveries),
        drops(DropReason::Overlong), drops(DropReason::Garbage), drops(DropReason::Empty),
        drops(DropReason::BadLogin), Ull(m_counts.monitorsDropped),
        Ull(m_counts.connectionsRefused), drops(DropReason::NoLogin), drops(DropReason::NotOwn),
        drops(DropReason::Fields), Ull(m_counts.droppedBytes), Ull(m_counts.loginTimeouts),
        Ull(m_counts.evicted), Ull(m_counts.replayed));
}

void RelayServer::PeriodicCounts() {
    if (m_counts.records != m_loggedRecords) LogCounts();
}

}  // namespace relay
