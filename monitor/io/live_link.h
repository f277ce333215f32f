// The monitor's connection to the collecting server. It owns the client socket `tcpclient` and
// the retry timer; what the connection means for the user is left to a front end (the window or
// the headless driver) through LiveLinkView. A connection that was up and drops is retried every
// 10 s until the user disconnects, since a chase car loses mobile coverage all the time.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include "common/net/client_socket.h"

namespace monitor {

inline constexpr quint16 kMonitorPort = 3000;
inline constexpr int kRetryIntervalMs = 10000;
// A connect that hangs (no coverage, no answer) gives up before the next retry is due.
inline constexpr int kConnectTimeoutMs = 10000;

class LiveLinkView {
  public:
    virtual ~LiveLinkView() = default;
    virtual void tcpclientConnecting() = 0;
    // A new connection is up: a new stream starts. `host` is without the port.
    virtual void tcpclientConnect(const QString& host) = 0;
    // An attempt failed or the connection dropped. `retrying`: another attempt follows by
    // itself; otherwise the link has given up and is idle.
    virtual void tcpclientError(const QString& detail, bool retrying) = 0;
    virtual void tcpclientRead(const QByteArray& bytes) = 0;
};

class LiveLink : public QObject {
    Q_OBJECT
  public:
    explicit LiveLink(LiveLinkView& view, QObject* parent = nullptr);

    // Starts connecting to "host", "host:port", "[v6]:port" or a bare IPv6 literal (port 3000
    // unless given). False, with `error` set and nothing started, for a text that names no
    // server.
    bool Connect(const QString& serverText, QString& error);
    // The user's disconnect: closes the connection and stops retrying.
    void Disconnect();
    // On: an attempt is running, the connection is up, or a retry is due.
    bool Active() const { return wanted_; }
    bool Connected() const { return tcpclient.Connected(); }
    bool Retrying() const { return retrytim.isActive(); }
    QString Host() const { return tcpclient.Host(); }
    quint16 Port() const { return tcpclient.Port(); }

    // Headless: a server that cannot be reached at start is retried too. The window gives up
    // after a first failure, so the user sees at once that the address is wrong.
    void SetRetryFromStart(bool on) { retryFromStart_ = on; }
    void SetRetryIntervalMs(int ms) { retrytim.setInterval(ms); }
    common::ClientSocket& Socket() { return tcpclient; }

  private:
    void tcpclientError(common::ClientSocket::Step step, int& errorCode);
    void tcpclientDisconnect();
    void retrytimTimer();
    void Lost(const QString& detail);

    LiveLinkView& view_;
    common::ClientSocket tcpclient;
    QTimer retrytim;
    bool wanted_ = false;
    bool wasUp_ = false;  // this session's connection was up at least once
    bool retryFromStart_ = false;
};

}  // namespace monitor
