// Desktop notifications through the freedesktop notification service on the session bus, so an
// alarm reaches a crew whose window is behind the navigation program. Calls never wait: the
// service's answer comes back on the event loop. When no service answers, nothing shows and the
// reason is told once.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

namespace monitor {

inline constexpr const char* kNotificationService = "org.freedesktop.Notifications";
inline constexpr const char* kNotificationPath = "/org/freedesktop/Notifications";

class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    // `appName` and `icon` as the desktop entry names them.
    DesktopNotifier(QDBusConnection bus, QString appName, QString icon, QObject* parent = nullptr);

    // An urgent notification (it stays until dismissed on most desktops).
    void Notify(const QString& summary, const QString& body);
    // Asks whether the service is there, so that its absence is told before the first alarm.
    void Probe();

    // Told once, the first time a notification cannot be shown: why.
    std::function<void(const QString&)> OnUnavailable;
    // Notifications the service took; calls (probe included) that came to nothing.
    int Shown() const { return shown_; }
    int Failures() const { return failures_; }

  private:
    void Failed(const QString& why);

    QDBusConnection bus_;
    QString appName_;
    QString icon_;
    bool told_ = false;
    int shown_ = 0;
    int failures_ = 0;
};

}  // namespace monitor
