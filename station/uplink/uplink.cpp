#include "station/uplink/uplink.h"

#include "common/text.h"
#include "station/telemetry/telemetry.h"
#include "station/uplink/station_id.h"

namespace station {

QString ConnectionProblem(common::ClientSocket::Step step, const QString& host, quint16 port,
                          const QString& reason) {
    using Step = common::ClientSocket::Step;
    const QString where = QStringLiteral("server %1 port %2").arg(host).arg(port);
    switch (step) {
        case Step::Lookup:
            return QStringLiteral("%1: host name not found: %2").arg(where, reason);
        case Step::Connect:
            return QStringLiteral("%1: cannot connect: %2").arg(where, reason);
        case Step::Disconnect:
            return QStringLiteral("%1: connection closed by the server: %2").arg(where, reason);
        default:
            return QStringLiteral("%1: connection failed (%2): %3")
                .arg(where, QString::fromLatin1(common::ClientSocket::StepName(step)), reason);
    }
}

Uplink::Uplink(UplinkView& view, quint16 defaultPort, QObject* parent)
    : QObject(parent), view_(view), defaultPort_(defaultPort) {
    modclient.SetPort(defaultPort_);
    modclient.SetDeadPeerTimeoutMs(kDeadPeerTimeoutMs);
    recontim.setInterval(retry_.IntervalMs());
    connect(&recontim, &QTimer::timeout, this, &Uplink::recontimTimer);
    acknowledgePoll_.setInterval(kAcknowledgePollMs);
    connect(&acknowledgePoll_, &QTimer::timeout, this, &Uplink::CheckAcknowledged);
    pace_.setInterval(kPaceMs);
    pace_.setTimerType(Qt::PreciseTimer);  // never early: at most 20 frames a second
    connect(&pace_, &QTimer::timeout, this, &Uplink::Pace);
    modclient.OnConnect = [this] { modclientConnect(); };
    modclient.OnDisconnect = [this] { modclientDisconnect(); };
    modclient.OnError = [this](common::ClientSocket::Step step, int& code) {
        modclientError(step, code);
    };
}

void Uplink::TakeServerText() {
    // "host", "host:port", "[v6]:port" or a bare IPv6 literal; the port stays the collecting
    // server's unless one is given. A text that does not split is looked up as it stands, so
    // the operator sees it fail.
    const QString text = view_.ServerText().trimmed();
    common::HostPort hp;
    const bool split = common::SplitHostPort(text.toStdString(), hp);
    modclient.SetHost(split ? QString::fromStdString(hp.host) : text);
    modclient.SetPort(split && hp.port != 0 ? static_cast<quint16>(hp.port) : defaultPort_);
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
        CheckAcknowledged();
        ConnectionEnded();
        storing_ = false;
        modclient.Close();
    } else {
        const QString call = view_.CallText();
        if (!AfterFirstWord(call.toStdString()).empty())
            view_.LogLine(QStringLiteral("call sign \"%1\" cut at the blank: \"%2\" is uploaded")
                              .arg(call.trimmed(),
                                   QString::fromStdString(common::FirstWord(call.toStdString()))));
        retry_.Reset();
        recontim.start(retry_.IntervalMs());
        modclient.Open();
    }
}

void Uplink::recontimTimer() {
    // After a step's wait the regular interval holds until the attempt has failed.
    if (recontim.interval() != retry_.IntervalMs()) recontim.setInterval(retry_.IntervalMs());
    TakeServerText();
    if (!modclient.Connected()) modclient.Open();
}

void Uplink::SetReconnectIntervalMs(int ms) {
    retry_.SetIntervalMs(ms);
    recontim.setInterval(retry_.IntervalMs());
}

void Uplink::Stop() {
    recontim.stop();
    CheckAcknowledged();
    ConnectionEnded();
    storing_ = false;
    modclient.Close();
}

bool Uplink::Write(const QByteArray& bytes) {
    if (!modclient.SendText(bytes)) return false;
    if (!acknowledgePoll_.isActive()) acknowledgePoll_.start();
    return true;
}

bool Uplink::SendText(const std::string& text) {
    if (!Write(QByteArray::fromStdString(text))) return false;
    inFlight_.Wrote(static_cast<std::int64_t>(text.size()));
    return true;
}

bool Uplink::SendFrame(int number, const std::string& text) {
    UploadFrame frame{number, text, Backlog::Clock::now()};
    return WriteFrame(frame);
}

// Takes the frame only when it was written.
bool Uplink::WriteFrame(UploadFrame& frame) {
    if (!Write(QByteArray::fromStdString(frame.text))) return false;
    inFlight_.Wrote(std::move(frame));
    return true;
}

int Uplink::Keep(int number, const std::string& text) {
    if (!backlogOn_ || !storing_) return -1;
    const auto now = Backlog::Clock::now();
    Dropped(backlog_.Expire(now) + backlog_.Add(UploadFrame{number, text, now}));
    if (modclient.Connected() && !pace_.isActive()) pace_.start();
    return Waiting();
}

void Uplink::Pace() {
    Dropped(backlog_.Expire(Backlog::Clock::now()));
    if (!modclient.Connected() || backlog_.Empty()) {
        pace_.stop();
        return;
    }
    CheckAcknowledged();
    if (inFlight_.Frames() >= kPaceAheadFrames) return;
    UploadFrame oldest = backlog_.TakeOldest();
    if (!WriteFrame(oldest)) backlog_.PutBackOldest(std::move(oldest));
}

void Uplink::Dropped(int frames) {
    if (frames > 0 && OnDropped) OnDropped(frames);
}

void Uplink::CheckAcknowledged() {
    if (!modclient.Connected()) return;
    const qint64 unacknowledged = modclient.UnacknowledgedBytes();
    const qint64 acknowledged = inFlight_.Written() - unacknowledged;
    for (const UploadFrame& f : inFlight_.Acknowledged(unacknowledged)) {
        ++sent_;
        if (f.waited) ++late_;
    }
    if (unacknowledged == 0) {
        acknowledgePoll_.stop();
        stall_.invalidate();
        stallSaid_ = false;
    } else if (!stall_.isValid() || acknowledged > acknowledged_) {
        stall_.start();
        stallSaid_ = false;
    } else if (!stallSaid_ && stall_.elapsed() >= stallNoticeMs_) {
        stallSaid_ = true;
        view_.LogLine(QStringLiteral("server not reading for %1 s, %2 frames waiting")
                          .arg(stallNoticeMs_ / 1000)
                          .arg(backlog_.Size() + inFlight_.Frames()));
    }
    acknowledged_ = acknowledged;
}

// What the connection held unacknowledged may never have reached the server. The last look
// can be up to a poll old: the socket is gone by the time its end is told.
void Uplink::ConnectionEnded() {
    acknowledgePoll_.stop();
    stall_.invalidate();
    stallSaid_ = false;
    acknowledged_ = 0;
    pace_.stop();
    auto lost = inFlight_.TakeAll();
    if (lost.empty()) return;
    const bool keep = backlogOn_ && storing_;
    view_.LogLine(QStringLiteral("connection ended with %1 not acknowledged by the server%2")
                      .arg(lost.size() == 1 ? QStringLiteral("1 frame")
                                            : QStringLiteral("%1 frames").arg(lost.size()),
                           keep ? QStringLiteral("; back in the backlog") : QString()));
    if (keep) Dropped(backlog_.Return(std::move(lost)));
}

void Uplink::modclientConnect() {
    inFlight_.Start();
    SendText(LoginLine(view_.CallText().toLatin1().toStdString(),
                       view_.LocatorText().toLatin1().toStdString()));
    view_.SetFieldsLocked(true);
    view_.SetButtonCaption(QStringLiteral("DISONNECT"));
    up_.start();
    storing_ = true;
    if (!backlog_.Empty()) pace_.start();
    if (recontim.isActive() && recontim.interval() != retry_.IntervalMs())
        recontim.setInterval(retry_.IntervalMs());
    // Until the look-up answers, this connection is named by the host as given, never by the
    // name of an earlier one; an answer that comes after the connection is gone is dropped.
    peerName_ = modclient.Host();
    const std::uint64_t link = ++links_;
    modclient.LookupPeerName([this, link](const QString& name) {
        if (link != links_ || !modclient.Connected()) return;
        if (!name.isEmpty()) peerName_ = name;
        view_.SetStatus(QStringLiteral("connected to  ") + peerName_);
    });
    emit LinkUp();
}

void Uplink::modclientDisconnect() {
    ConnectionEnded();
    view_.SetStatus(QStringLiteral("disconnected from  ") + peerName_);
    view_.SetButtonCaption(QStringLiteral("CONNECT"));
    view_.SetFieldsLocked(false);
    emit LinkDown();
    // Lost while the operator wants the link: a server that blinked costs nothing.
    if (!recontim.isActive()) return;
    const int wait = retry_.AfterLossMs(up_.isValid() ? up_.elapsed() : 0);
    if (wait == 0)
        recontimTimer();
    else
        recontim.start(wait);
}

void Uplink::modclientError(common::ClientSocket::Step step, int& errorCode) {
    using Step = common::ClientSocket::Step;
    view_.SetStatus(step == Step::Connect ? QStringLiteral("Server not found: ")
                                          : QStringLiteral("Error in connection "));
    view_.LogLine(
        ConnectionProblem(step, modclient.Host(), modclient.Port(), modclient.ErrorText()));
    if (!modclient.Connected()) view_.SetButtonCaption(QStringLiteral("CONNECT"));
    errorCode = 0;
    // An attempt that failed: the next after the schedule's wait. A failure of a connection
    // that was up is followed by its disconnect, which tries again itself.
    if ((step == Step::Lookup || step == Step::Connect) && recontim.isActive())
        recontim.start(retry_.NextWaitMs());
}

}  // namespace station
