// A stand-in for the desktop's notification service, for tests: run it under dbus-run-session.
// It prints "bus=ADDRESS" once it serves org.freedesktop.Notifications (with --no-service it
// takes no name, so nothing answers there), then one tab-separated line per Notify call:
// "notify", app name, icon, summary, body, urgency, timeout. It ends when its standard input
// closes.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QVariantMap>

#include <unistd.h>

#include <cstdio>

namespace {

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public slots:
    uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int timeout) {
        std::printf("notify\t%s\t%s\t%s\t%s\t%d\t%d\n", qPrintable(app), qPrintable(icon),
                    qPrintable(summary), qPrintable(body),
                    hints.value(QStringLiteral("urgency")).toInt(), timeout);
        std::fflush(stdout);
        return ++id_;
    }
    QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("notification stand-in");
    }
    void CloseNotification(uint) {}

  private:
    uint id_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool service = !app.arguments().contains(QStringLiteral("--no-service"));
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "notification stand-in: no session bus\n");
        return 1;
    }
    Notifications notifications;
    if (service && (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                        &notifications, QDBusConnection::ExportAllSlots) ||
                    !bus.registerService(QStringLiteral("org.freedesktop.Notifications")))) {
        std::fprintf(stderr, "notification stand-in: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("bus=%s\n", qgetenv("DBUS_SESSION_BUS_ADDRESS").constData());
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&app] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0) app.quit();
    });
    return app.exec();
}

#include "notification_standin.moc"
