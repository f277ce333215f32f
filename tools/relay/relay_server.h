// The collecting-server stand-in: stations upload on one port, monitors read on another, and every
// complete station record goes to every monitor. One thread, event-driven, bounded memory.
#pragma once

#include "tools/relay/record_stream.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
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
    // Stations and monitors together; further connections are closed at once.
    int maxConnections = 1000;
    int countsIntervalMs = 60000;
};

struct RelayCounts {
    std::uint64_t stationConnects = 0, monitorConnects = 0;
    std::uint64_t records = 0, deliveries = 0;
    std::uint64_t monitorsDropped = 0, connectionsRefused = 0;
    std::array<std::uint64_t, 4> drops{};  // by DropReason
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
    struct Station {
        QString peer;
        StationStream stream;
        std::uint64_t records = 0;
    };
    struct Monitor {
        QString peer;
    };

    void AcceptStations();
    void AcceptMonitors();
    bool Admit(QTcpSocket* socket, const char* role);
    void StationRead(QTcpSocket* socket);
    void StationGone(QTcpSocket* socket);
    void MonitorGone(QTcpSocket* socket, const char* why);
    void Broadcast(const std::string& record);
    void PeriodicCounts();

    RelayConfig m_config;
    QTcpServer* m_stationServer;
    QTcpServer* m_monitorServer;
    QTimer* m_countsTimer;
    std::unordered_map<QTcpSocket*, Station> m_stations;
    std::unordered_map<QTcpSocket*, Monitor> m_monitors;
    RelayCounts m_counts;
    std::uint64_t m_loggedRecords = ~0ull;
    StreamEvents m_events;               // reused across reads
    std::vector<QTcpSocket*> m_targets;  // reused by Broadcast
};

}  // namespace relay
