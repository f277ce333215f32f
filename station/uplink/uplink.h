// The station's connection to the collecting server: login on every connect, one upload text
// per good frame, and retries until the operator disconnects: at once after a loss, then after
// growing waits, then every minute.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/net/client_socket.h"
#include "station/uplink/retry_schedule.h"
#include "station/uplink/upload_queue.h"

namespace station {

// What the uplink reads from and shows on its front end (the window's controls, or standard
// error when headless).
class UplinkView {
  public:
    virtual ~UplinkView() = default;
    virtual QString CallText() const = 0;                       // called
    virtual QString LocatorText() const = 0;                    // loced
    virtual QString ServerText() const = 0;                     // servercombo: HOST or HOST:PORT
    virtual void ShowMissingCallOrLocator(bool visible) = 0;    // errlb
    virtual void SetStatus(const QString& text) = 0;            // StatusBar1
    virtual void SetButtonCaption(const QString& caption) = 0;  // conbt
    virtual void SetFieldsLocked(bool locked) = 0;  // called and loced read-only while connected
    // A line of its own in the log (the window's memo, standard error headless): the detail
    // that the fixed status texts leave out.
    virtual void LogLine(const QString& text) = 0;
};

// The log line for a socket error: host, port, the failed step and the system's reason.
QString ConnectionProblem(common::ClientSocket::Step step, const QString& host, quint16 port,
                          const QString& reason);

class Uplink : public QObject {
    Q_OBJECT
  public:
    // A server that takes nothing more is given up after this long (the monitor's link keeps the
    // socket's shorter default): a congested server is waited for, a dead one still dropped.
    static constexpr int kDeadPeerTimeoutMs = 60000;
    // Unacknowledged bytes that have not shrunk for this long are said once.
    static constexpr int kStallNoticeMs = 20000;
    // How often the socket's unacknowledged bytes are looked at while there are any.
    static constexpr int kAcknowledgePollMs = 200;
    // The backlog follows live frames at most one frame a tick (20 a second), and only while
    // fewer than kPaceAheadFrames are unacknowledged, so a live frame never queues behind much.
    static constexpr int kPaceMs = 50;
    static constexpr std::size_t kPaceAheadFrames = 10;

    explicit Uplink(UplinkView& view, quint16 defaultPort = 3001, QObject* parent = nullptr);

    // Handlers, named after the control and its event.
    void conbtClick();
    void recontimTimer();

    bool Connected() const { return modclient.Connected(); }
    // No more retries, connection closed: the end of a replayed recording.
    void Stop();
    // Sends a text unchanged if connected and the socket's queue has room; false otherwise
    // (the text is dropped, never queued for later).
    bool SendText(const std::string& text);
    // The same for a good frame's upload text, which then counts as in flight until the server's
    // TCP has acknowledged it.
    bool SendFrame(int number, const std::string& text);
    std::size_t FramesInFlight() const { return inFlight_.Frames(); }
    // Looks at the socket's unacknowledged bytes now (the uplink also does so on its own).
    void CheckAcknowledged();
    // For tests: the stall notice's delay, in whole seconds as the notice says them.
    void SetStallNoticeMs(int ms) { stallNoticeMs_ = ms; }

    // Store and forward (on unless turned off): from the first connection after the operator's
    // press until the press that stops, a good frame the socket does not take waits in the
    // backlog and follows after the next login, oldest first; so do the frames a failed
    // connection left unacknowledged.
    void SetBacklog(bool on) { backlogOn_ = on; }
    // Keeps a frame that SendFrame did not send: the frames now waiting, or -1 when it is not
    // kept (no backlog, or no connection made since the operator's press).
    int Keep(int number, const std::string& text);
    // Frames waiting in the backlog; once a connection has ended, or after Stop(), this includes
    // those it had sent and not seen acknowledged.
    int Waiting() const { return static_cast<int>(backlog_.Size()); }
    // Frames the server's TCP acknowledged, and those of them that had waited.
    int Sent() const { return sent_; }
    int Late() const { return late_; }
    // Frames the backlog let go (heard too long ago, or beyond its memory).
    std::function<void(int frames)> OnDropped;

    // The regular retry interval; the quicker steps after a loss never wait longer.
    void SetReconnectIntervalMs(int ms);
    bool Retrying() const { return recontim.isActive(); }
    common::ClientSocket& Socket() { return modclient; }

  signals:
    void LinkUp();
    void LinkDown();

  private:
    void modclientConnect();
    void modclientDisconnect();
    void modclientError(common::ClientSocket::Step step, int& errorCode);
    void TakeServerText();
    bool Write(const QByteArray& bytes);
    bool WriteFrame(UploadFrame& frame);
    void ConnectionEnded();
    void Pace();
    void Dropped(int frames);

    UplinkView& view_;
    quint16 defaultPort_;
    common::ClientSocket modclient;
    QTimer recontim;  // the regular retry; runs while retrying, its next wait set by retry_
    RetrySchedule retry_;
    QElapsedTimer up_;  // since the connection was made
    InFlight inFlight_;
    QTimer acknowledgePoll_;
    qint64 acknowledged_ = 0;  // bytes of this connection acknowledged at the last look
    QElapsedTimer stall_;      // since they last grew, while some are unacknowledged
    bool stallSaid_ = false;
    int stallNoticeMs_ = kStallNoticeMs;
    bool backlogOn_ = true;
    bool storing_ = false;  // connected once since the operator's press
    Backlog backlog_;
    QTimer pace_;
    int sent_ = 0;
    int late_ = 0;
    QString peerName_;
    std::uint64_t links_ = 0;  // connections made, to match a late name look-up to its own
};

}  // namespace station
