#include "monitor/io/live_link.h"

#include "common/text.h"

namespace monitor {

namespace {

QString Describe(common::ClientSocket::Step step, int errorCode) {
    using E = QAbstractSocket::SocketError;
    QString what;
    switch (common::ClientSocket::SocketErrorOf(errorCode)) {
        case E::ConnectionRefusedError:
            what = QStringLiteral("connection refused");
            break;
        case E::HostNotFoundError:
            what = QStringLiteral("host not found");
            break;
        case E::RemoteHostClosedError:
            what = QStringLiteral("closed by the server");
            break;
        case E::SocketTimeoutError:
            what = QStringLiteral("timed out");
            break;
        case E::NetworkError:
            what = QStringLiteral("network unreachable");
            break;
        default:
            what = QStringLiteral("socket error %1").arg(errorCode);
            break;
    }
    return QString::fromLatin1(common::ClientSocket::StepName(step)) + QStringLiteral(": ") + what;
}

}  // namespace

LiveLink::LiveLink(LiveLinkView& view, QObject* parent) : QObject(parent), view_(view) {
    tcpclient.SetPort(kMonitorPort);
    tcpclient.SetConnectTimeoutMs(kConnectTimeoutMs);
    retrytim.setSingleShot(true);
    retrytim.setInterval(kRetryIntervalMs);
    connect(&retrytim, &QTimer::timeout, this, &LiveLink::retrytimTimer);
    tcpclient.OnConnecting = [this] { view_.tcpclientConnecting(); };
    tcpclient.OnConnect = [this] {
        wasUp_ = true;
        view_.tcpclientConnect(tcpclient.Host());
    };
    tcpclient.OnError = [this](common::ClientSocket::Step step, int& code) {
        tcpclientError(step, code);
    };
    tcpclient.OnDisconnect = [this] { tcpclientDisconnect(); };
    tcpclient.OnRead = [this] {
        const QByteArray bytes = tcpclient.ReceiveText();
        if (!bytes.isEmpty()) view_.tcpclientRead(bytes);
    };
}

bool LiveLink::Connect(const QString& serverText, QString& error) {
    common::HostPort hp;
    if (!common::SplitHostPort(serverText.trimmed().toStdString(), hp)) {
        error = QStringLiteral("\"%1\" is no server address (host, host:port or [IPv6]:port)")
                    .arg(serverText);
        return false;
    }
    Disconnect();
    tcpclient.SetHost(QString::fromStdString(hp.host));
    tcpclient.SetPort(hp.port > 0 ? static_cast<quint16>(hp.port) : kMonitorPort);
    wanted_ = true;
    wasUp_ = false;
    tcpclient.Open();
    return true;
}

void LiveLink::Disconnect() {
    wanted_ = false;
    retrytim.stop();
    tcpclient.Close();
}

void LiveLink::tcpclientError(common::ClientSocket::Step step, int& errorCode) {
    const QString detail = Describe(step, errorCode);
    errorCode = 0;
    if (!wanted_) return;
    if (!wasUp_ && !retryFromStart_) {
        // The user's own attempt failed: nothing runs on, the next press tries again.
        wanted_ = false;
        tcpclient.Close();
        view_.tcpclientError(detail, false);
        return;
    }
    Lost(detail);
}

// A drop without an error of its own (the server closed cleanly) is a loss all the same.
void LiveLink::tcpclientDisconnect() {
    if (wanted_) Lost(QStringLiteral("disconnect: closed by the server"));
}

void LiveLink::Lost(const QString& detail) {
    if (retrytim.isActive()) return;  // the error and the disconnect of one drop: report once
    tcpclient.Close();
    retrytim.start();
    view_.tcpclientError(detail, true);
}

void LiveLink::retrytimTimer() {
    if (wanted_ && !tcpclient.Active()) tcpclient.Open();
}

}  // namespace monitor
