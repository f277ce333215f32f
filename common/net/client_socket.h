// Event-driven TCP client for both programs: a thin layer over QTcpSocket that says which step
// of a connection failed and lets the error handler clear the error.
#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class QTcpSocket;
class QTimer;

namespace common {

// All notifications are plain callbacks invoked on the thread that owns the socket, never from
// inside Open(), Close() or SendText() themselves, so a handler may call any member.
//
// Which step an error belongs to:
//   Lookup      the host name could not be resolved (HostNotFoundError)
//   Connect     anything that ends an attempt before the connection is up: refused, no route,
//               network down, the connect timeout, a proxy or address failure
//   Send        a failure while connected with bytes still queued for sending
//   Receive     a failure while connected with nothing queued (reset, read error, timeout)
//   Disconnect  the peer closed the connection (RemoteHostClosedError); OnDisconnect follows
//   Other       everything else (resource shortage, unsupported operation)
// errorCode is ErrorCodeOf(QAbstractSocket::SocketError), never 0. A handler that sets it to 0
// has dealt with the error; otherwise it is written once to standard error.
class ClientSocket : public QObject {
    Q_OBJECT
  public:
    enum class Step { Lookup, Connect, Send, Receive, Disconnect, Other };

    static constexpr int kDefaultConnectTimeoutMs = 15000;
    // Received bytes wait in the socket up to this many; beyond it the socket stops reading and
    // TCP holds the peer back, so a program that never reads does not grow without limit.
    static constexpr qint64 kDefaultReceiveLimitBytes = 1 << 20;
    // SendText refuses a text that would leave more than this unsent (a stalled server).
    static constexpr qint64 kDefaultSendLimitBytes = 1 << 20;
    // A peer whose host died (power, network) answers nothing: TCP's own retries would keep the
    // connection for many minutes. Keepalive probes on an idle connection and a limit on unacked
    // data drop it after about this long, as a Receive or Send error followed by OnDisconnect.
    static constexpr int kDefaultDeadPeerTimeoutMs = 20000;

    explicit ClientSocket(QObject* parent = nullptr);
    ~ClientSocket() override;

    void SetHost(const QString& hostOrDottedIPv4);
    void SetPort(quint16 port);
    QString Host() const;
    quint16 Port() const;
    void SetConnectTimeoutMs(int ms);
    void SetReceiveLimitBytes(qint64 bytes);
    void SetSendLimitBytes(qint64 bytes);
    // For the next connection; 0 leaves the system's defaults.
    void SetDeadPeerTimeoutMs(int ms);

    // Starts looking up and connecting; returns at once. Does nothing while already active.
    void Open();
    // Drops the connection (queued unsent bytes are discarded) or abandons an attempt. OnDisconnect
    // follows only if the connection was up.
    void Close();
    bool Active() const;  // opening or open
    bool Connected() const;

    // Queues the bytes unchanged, no terminator. False (and nothing queued) when not connected or
    // when the unsent queue would pass the send limit.
    bool SendText(const QByteArray& text);
    // Every byte received and not yet handed over.
    QByteArray ReceiveText();
    // Takes in what the system holds for the socket now and runs OnRead before returning when
    // anything is waiting: for what must be judged after the input that has come, such as the
    // age of the data when a program that was stopped (a suspended laptop) resumes.
    void ReadPending();
    qint64 PendingSendBytes() const;
    // Bytes handed to SendText that the peer's TCP has not acknowledged: those still queued here
    // and those in the system's send queue. 0 when not connected.
    qint64 UnacknowledgedBytes() const;
    // The system's words for the error being reported, valid inside OnError.
    QString ErrorText() const { return m_errorText; }

    // Reverse look-up of the peer's address without blocking; done("") if there is no peer or no
    // name. done runs on this socket's thread and never after the socket is destroyed.
    void LookupPeerName(std::function<void(QString)> done);

    static int ErrorCodeOf(QAbstractSocket::SocketError error);
    static QAbstractSocket::SocketError SocketErrorOf(int errorCode);
    static const char* StepName(Step step);

    std::function<void()> OnConnecting, OnConnect, OnDisconnect, OnRead;
    std::function<void(Step step, int& errorCode)> OnError;

  private:
    void HandleStateChanged(QAbstractSocket::SocketState state);
    void HandleConnected();
    void HandleDisconnected();
    void HandleError(QAbstractSocket::SocketError error);
    void HandleConnectTimeout();
    void HandleReadyRead();
    void PullReceived();
    void Post(std::function<void()> notify);
    void PostRead();
    void RaiseError(Step step, QAbstractSocket::SocketError error, const QString& text);

    QTcpSocket* m_socket = nullptr;
    QTimer* m_connectTimer = nullptr;
    QString m_host;
    quint16 m_port = 0;
    qint64 m_sendLimit = kDefaultSendLimitBytes;
    qint64 m_receiveLimit = kDefaultReceiveLimitBytes;
    int m_connectTimeoutMs = kDefaultConnectTimeoutMs;
    int m_deadPeerTimeoutMs = kDefaultDeadPeerTimeoutMs;
    QByteArray m_received;
    QString m_errorText;
    bool m_readPosted = false;
    bool m_closing = false;  // our own abort() is running; its signals are not news
    bool m_opening = false;  // Open() called, connection not yet up or failed
    bool m_wasConnected = false;
    // Bumped by Open() and Close() so a deferred notification of an abandoned attempt is dropped.
    std::uint64_t m_attempt = 0;
};

}  // namespace common
