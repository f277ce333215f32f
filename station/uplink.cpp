#include "station/uplink.h"

#include "station/telemetry.h"

namespace station {

Uplink::Uplink(UplinkView& view, quint16 defaultPort, QObject* parent)
    : QObject(parent), view_(view), defaultPort_(defaultPort) {
    modclient.SetPort(defaultPort_);
    recontim.setInterval(kReconnectIntervalMs);
    connect(&recontim, &QTimer::timeout, this, &Uplink::recontimTimer);
    modclient.OnConnect = [this] { modclientConnect(); };
    modclient.OnDisconnect = [this] { modclientDisconnect(); };
    modclient.OnError = [this](common::ClientSocket::Step step, int& code) {
        modclientError(step, code);
    };
}

void Uplink::TakeServerText() {
    // "host" or "host:port"; the port stays the collecting server's unless one is given.
    QString text = view_.ServerText().trimmed();
    quint16 port = defaultPort_;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon > 0) {
        bool ok = false;
        const uint p = text.mid(colon + 1).toUInt(&ok);
        if (ok && p > 0 && p <= 65535) {
            port = static_cast<quint16>(p);
            text.truncate(colon);
        }
    }
    modclient.SetHost(text);
    modclient.SetPort(port);
}

void Uplink::conbtClick() {
    if (view_.CallText().isEmpty() || view_.LocatorText().isEmpty()) {
        view_.ShowMissingCallOrLocator(true);
        return;
    }
    view_.ShowMissingCallOrLocator(false);
    TakeServerText();
    if (modclient.Connected()) {
        recontim.stop();
        modclient.Close();
    } else {
        recontim.start();
        modclient.Open();
    }
}

void Uplink::recontimTimer() {
    TakeServerText();
    if (!modclient.Connected()) modclient.Open();
}

void Uplink::Stop() {
    recontim.stop();
    modclient.Close();
}

void Uplink::SendText(const std::string& text) {
    if (modclient.Connected()) modclient.SendText(QByteArray::fromStdString(text));
}

void Uplink::modclientConnect() {
    modclient.SendText(QByteArray::fromStdString(LoginLine(
        view_.CallText().toLatin1().toStdString(), view_.LocatorText().toLatin1().toStdString())));
    view_.SetFieldsLocked(true);
    view_.SetButtonCaption(QStringLiteral("DISONNECT"));
    modclient.LookupPeerName([this](const QString& name) {
        peerName_ = name;
        if (modclient.Connected()) view_.SetStatus(QStringLiteral("connected to  ") + name);
    });
    emit LinkUp();
}

void Uplink::modclientDisconnect() {
    view_.SetStatus(QStringLiteral("disconnected from  ") + peerName_);
    view_.SetButtonCaption(QStringLiteral("CONNECT"));
    view_.SetFieldsLocked(false);
    emit LinkDown();
}

void Uplink::modclientError(common::ClientSocket::Step step, int& errorCode) {
    view_.SetStatus(step == common::ClientSocket::Step::Connect
                        ? QStringLiteral("Server not found: ")
                        : QStringLiteral("Error in connection "));
    if (!modclient.Connected()) view_.SetButtonCaption(QStringLiteral("CONNECT"));
    errorCode = 0;
}

}  // namespace station
