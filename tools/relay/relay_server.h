// The collecting-server stand-in: stations upload on one port, monitors read on another, and every
// good station record goes to every monitor. One thread, event-driven, bounded memory.
#pragma once

#include "tools/relay/history.h"
#include "tools/relay/record_stream.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace relay {

struct RelayConfig {
    QHostAddress bind = QHostAddress::LocalHost;
    quint16 stationPort = 3001;
    quint16 monitorPort = 3000;
    // A monitor whose unsent bytes pass this is dropped rather than buffered without limit.
    qint64 monitorQueueLimitBytes = 1 << 20;
    int maxStations = 2000;
    int maxMonitors = 500;
    // Stations and monitors together.
    int maxConnections = 2500;
    // Connections from one remote address, stations and monitors together; 0: no limit.
    int maxPerAddress = 50;
    // A station connection without a good login is closed this long after it was accepted.
    int loginTimeoutMs = 10000;
    // Drops, refusals and closes without a login are logged at most this often (per connection
    // for drops), each note with the count since the one before.
    int noteIntervalMs = 60000;
    // Records kept for monitors that connect later; 0: none.
    int historyMinutes = 0;
    std::size_t historyMaxBytes = std::size_t{64} << 20;
    int countsIntervalMs = 60000;
    // Monotonic milliseconds for the login deadline and the history; the steady clock if empty.
    std::function<std::int64_t()> clockMs;
};

struct RelayCounts {
    std::uint64_t stationConnects = 0, monitorConnects = 0;
    std::uint64_t records = 0, deliveries = 0;
    std::uint64_t monitorsDropped = 0, connectionsRefused = 0;
    std::array<std::uint64_t, kDropReasons> drops{};  // by DropReason
    std::uint64_t droppedBytes = 0;
    std::uint64_t loginTimeouts = 0, evicted = 0;
    std::uint64_t replayed = 0;  // deliveries from the history
};

class RelayServer : public QObject {
    Q_OBJECT
  public:
    explicit RelayServer(RelayConfig config, QObject* parent = nullptr);
    ~RelayServer() override;

    // Listens on both ports; false with a message in `error` if either cannot be opened.
    bool Start(QString* error);
    quint16 StationPort() const;
    quint16 MonitorPort() const;
    const RelayCounts& Counts() const { return m_counts; }
    std::size_t Stations() const { return m_stations.size(); }
    std::size_t Monitors() const { return m_monitors.size(); }
    void LogCounts();

  private:
    // Something said at most once an interval: the first at once, later ones counted until due.
    struct Note {
        std::int64_t saidMs = 0;
        bool saidBefore = false;
        std::uint64_t unsaid = 0;
    };
    struct Station {
        QString peer;
        std::string address;
        StationStream stream;
        std::string login;  // LoginText() once the login is good
        std::uint64_t records = 0;
        std::int64_t acceptedMs = 0;
        bool awaitingLogin = true;
        std::list<QTcpSocket*>::iterator awaiting;  // in m_awaiting while awaitingLogin
        Note drops;
        std::uint64_t unsaidDropBytes = 0;
        Drop lastDrop{};
    };
    struct Monitor {
        QString peer;
        std::string address;
        bool replaying = false;
        std::uint64_t next = 0;  // the history record it gets next while replaying
    };
    enum class Role : std::uint8_t { Station, Monitor };
    enum class Refusal : std::uint8_t { PerAddress, Stations, Monitors, Total };
    enum class Close : std::uint8_t { PeerGone, LoginTimeout, Evicted };

    std::int64_t Now() const;
    bool Due(const Note& note, std::int64_t now) const;
    void AcceptStations();
    void AcceptMonitors();
    bool Admit(QTcpSocket* socket, Role role);
    void Refuse(QTcpSocket* socket, Role role, Refusal why);
    bool EvictOldestAwaiting();
    void StationRead(QTcpSocket* socket);
    void CountDrop(Station& station, const Drop& drop);
    void SayDrops(Station& station, std::int64_t now);
    void CloseStation(QTcpSocket* socket, Close why);
    void MonitorGone(QTcpSocket* socket, const char* why);
    void Broadcast(const std::string& record);
    // Sends a replaying monitor what the history holds for it while its queue has room.
    void Replay(QTcpSocket* socket);
    void Housekeeping();
    void SayRefusals(std::int64_t now);
    void SayCloses(std::int64_t now);
    void PeriodicCounts();

    RelayConfig m_config;
    std::function<std::int64_t()> m_clock;
    QTcpServer* m_stationServer;
    QTcpServer* m_monitorServer;
    QTimer* m_countsTimer;
    QTimer* m_housekeepingTimer;
    std::unordered_map<QTcpSocket*, Station> m_stations;
    std::unordered_map<QTcpSocket*, Monitor> m_monitors;
    std::list<QTcpSocket*> m_awaiting;  // stations without a good login, oldest first
    std::unordered_map<std::string, int> m_perAddress;
    History m_history;
    RelayCounts m_counts;
    std::uint64_t m_loggedRecords = ~0ull;

    Note m_refusalNote;
    std::array<std::uint64_t, 4> m_refusalsUnsaid{};  // by Refusal
    std::string m_lastRefused;
    Note m_closeNote;
    std::array<std::uint64_t, 3> m_closesUnsaid{};  // by Close
    std::uint64_t m_closedUnsaidDrops = 0;
    std::string m_lastClosed;

    StreamEvents m_events;                                // reused across reads
    std::vector<QTcpSocket*> m_targets, m_replayTargets;  // reused by Broadcast
};

}  // namespace relay
