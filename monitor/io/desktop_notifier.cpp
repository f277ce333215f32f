#include "monitor/io/desktop_notifier.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace monitor {

namespace {

constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr unsigned char kUrgencyCritical = 2;
constexpr int kServerDefaultTimeout = -1;
// A service that takes longer than this to answer is as good as none.
constexpr int kAnswerWithinMs = 5000;

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QString appName, QString icon,
                                 QObject* parent)
    : QObject(parent), bus_(std::move(bus)), appName_(std::move(appName)), icon_(std::move(icon)) {}

void DesktopNotifier::Failed(const QString& why) {
    ++failures_;
    if (told_) return;
    told_ = true;
    if (OnUnavailable)
        OnUnavailable(QStringLiteral("no desktop notifications (%1): %2")
                          .arg(QString::fromLatin1(kNotificationService), why));
}

void DesktopNotifier::Probe() {
    if (!bus_.isConnected()) {
        Failed(QStringLiteral("no session bus: ") + bus_.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kNotificationService), QString::fromLatin1(kNotificationPath),
        QString::fromLatin1(kInterface), QStringLiteral("GetServerInformation"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAnswerWithinMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        if (w->isError()) Failed(w->error().message());
        w->deleteLater();
    });
}

void DesktopNotifier::Notify(const QString& summary, const QString& body) {
    if (!bus_.isConnected()) {
        Failed(QStringLiteral("no session bus: ") + bus_.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kNotificationService), QString::fromLatin1(kNotificationPath),
        QString::fromLatin1(kInterface), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(kUrgencyCritical));
    hints.insert(QStringLiteral("desktop-entry"), appName_);
    hints.insert(QStringLiteral("category"), QStringLiteral("device"));
    call << appName_ << 0u << icon_ << summary << body << QStringList() << hints
         << kServerDefaultTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAnswerWithinMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        if (w->isError())
            Failed(w->error().message());
        else
            ++shown_;
        w->deleteLater();
    });
}

}  // namespace monitor
