// The window's alarms as desktop notifications, against a stand-in notification service on a
// private session bus (dbus-run-session): what each says, the switch that stops them, and a bus
// where nobody answers, said once.
#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "common/locator.h"
#include "monitor/io/desktop_notifier.h"
#include "monitor/window/chase_panel.h"
#include "qt_wait.h"
#include "records.h"
#include "simulated_flight.h"

namespace monitor {
namespace {

using test_support::WaitFor;

// The stand-in under dbus-run-session; its calls as it printed them.
class StandIn {
  public:
    explicit StandIn(bool service) {
        QStringList args = {QStringLiteral("--"), QStringLiteral(NOTIFICATION_STANDIN)};
        if (!service) args << QStringLiteral("--no-service");
        process_.start(QStringLiteral("dbus-run-session"), args);
        WaitFor([this] { return Read(), !address_.isEmpty() || !process_.isOpen(); }, 20000);
    }
    ~StandIn() {
        process_.closeWriteChannel();  // the stand-in ends, and its bus with it
        process_.waitForFinished(10000);
    }
    const QString& Address() const { return address_; }
    const QStringList& Calls() {
        Read();
        return calls_;
    }

  private:
    void Read() {
        while (process_.canReadLine()) {
            const QString line = QString::fromUtf8(process_.readLine()).chopped(1);
            if (line.startsWith(QStringLiteral("bus=")))
                address_ = line.mid(4);
            else if (line.startsWith(QStringLiteral("notify\t")))
                calls_ << line;
        }
    }
    QProcess process_;
    QString address_;
    QStringList calls_;
};

class NotificationTest : public ::testing::Test {
  protected:
    void Make(const QString& busAddress) {
        panel_ = std::make_unique<ChasePanel>(core_, ChaseSettings{}, offline_, std::string());
        panel_->SetClock([this] { return nowMs_; });
        panel_->SetWallClock([this] { return nowMs_ / 1000.0; });
        panel_->SetBeep([this] { ++beeps_; });
        QDBusConnection bus = QDBusConnection::connectToBus(busAddress, QStringLiteral("test"));
        notifier_ = new DesktopNotifier(bus, QStringLiteral("pelmora"), QStringLiteral("pelmora"),
                                        panel_.get());
        panel_->SetNotifier(notifier_);
        auto told = std::move(notifier_->OnUnavailable);
        notifier_->OnUnavailable = [this, told](const QString& why) {
            ++told_;
            told(why);
        };
    }
    void TearDown() override { QDBusConnection::disconnectFromBus(QStringLiteral("test")); }
    void Feed(const std::string& record) { panel_->OnRecord(core_.Take(record, nowMs_ / 1000.0)); }
    // The simulated flight up to `untilS`, a record a second, with home close to its landing.
    void Fly(double untilS) {
        const probegen::FlightOptions o;
        const testing::FlightTruth t = testing::Truth(o);
        const std::string home = *common::LatLonToLocator(t.landingLon + 0.05, t.landingLat + 0.03);
        core_.SetHomeLocator(home);
        panel_->SetHomeLocator(home);
        const auto frames = probegen::SimulateFlight(o);
        for (std::size_t i = 0; i < frames.size() && i * o.stepS <= untilS; ++i) {
            std::string r = testing::RelayedRecord(frames[i]);
            r.pop_back();
            nowMs_ += 1000;
            Feed(r);
        }
    }
    QString Text(const char* name) const {
        return panel_->findChild<QLabel*>(QLatin1String(name))->text();
    }

    MonitorCore core_{kDefaultLocator};
    ChaseOptions offline_ = [] {
        ChaseOptions o;
        o.tilesUrl = kNoTiles;
        return o;
    }();
    std::unique_ptr<ChasePanel> panel_;
    DesktopNotifier* notifier_ = nullptr;
    std::int64_t nowMs_ = 1'000'000;
    int beeps_ = 0, told_ = 0;
};

TEST_F(NotificationTest, EachAlarmReachesTheDesktopWithItsFlightAndTheLandingFromHome) {
    StandIn service(true);
    ASSERT_FALSE(service.Address().isEmpty());
    Make(service.Address());
    const testing::FlightTruth t = testing::Truth(probegen::FlightOptions{});
    Fly(t.burstTimeS + 60);  // the burst, and with it a landing estimate close to home
    ASSERT_TRUE(WaitFor([&] { return service.Calls().size() >= 2; }));
    const QStringList burst = service.Calls()[0].split('\t');
    const QStringList landing = service.Calls()[1].split('\t');
    ASSERT_EQ(burst.size(), 7);
    ASSERT_EQ(landing.size(), 7);
    EXPECT_EQ(burst[1], "pelmora");
    EXPECT_EQ(burst[2], "pelmora");
    EXPECT_EQ(burst[3], "Flug A: PLATZER in 30000 m");
    EXPECT_EQ(burst[5], "2");  // critical: it stays until the crew dismisses it
    // Where it comes down, seen from home: the landing alarm's figures, and a bearing.
    const auto alarm = QRegularExpression(
                           "^Flug A: LANDUNG (\\d+\\.\\d) km vom eigenen "
                           "Standort \\(([A-Z]{2}\\d\\d[A-Z]{2})\\)$")
                           .match(landing[3]);
    ASSERT_TRUE(alarm.hasMatch()) << landing[3].toStdString();
    EXPECT_TRUE(landing[4].contains(QRegularExpression(
        "^Landepunkt " + alarm.captured(2) + ": " + QRegularExpression::escape(alarm.captured(1)) +
        " km, \\d{1,3}° vom eigenen Standort$")))
        << landing[4].toStdString();
    EXPECT_EQ(burst[4], landing[4]);
    EXPECT_EQ(beeps_, 2);
    EXPECT_EQ(told_, 0);

    // Switched off, an alarm beeps and shows on the banner only; on again, the next one reaches
    // the desktop (calls arrive in order, so one sent while off would stand before it).
    panel_->findChild<QCheckBox*>("notifycb")->setChecked(false);
    nowMs_ += 100'000;
    panel_->Tick();
    EXPECT_EQ(beeps_, 3);
    panel_->findChild<QCheckBox*>("notifycb")->setChecked(true);
    Fly(t.burstTimeS + 61);
    nowMs_ += 70'000;
    panel_->Tick();
    ASSERT_TRUE(WaitFor([&] { return service.Calls().size() >= 3; }));
    EXPECT_EQ(service.Calls()[2].split('\t')[3], "KEINE DATEN seit 1 min 10 s");
    EXPECT_EQ(service.Calls().size(), 3);
    EXPECT_EQ(beeps_, 4);
}

TEST_F(NotificationTest, WithNobodyAnsweringTheAlarmsGoOnAndItIsSaidOnce) {
    StandIn bus(false);
    ASSERT_FALSE(bus.Address().isEmpty());
    Make(bus.Address());
    const testing::FlightTruth t = testing::Truth(probegen::FlightOptions{});
    Fly(t.burstTimeS + 60);
    EXPECT_EQ(beeps_, 2);
    ASSERT_TRUE(WaitFor([&] { return notifier_->Failures() == 3; }));  // asked, and two alarms
    EXPECT_EQ(told_, 1);
    EXPECT_TRUE(Text("chasemsglb").startsWith("no desktop notifications"))
        << Text("chasemsglb").toStdString();
    EXPECT_EQ(notifier_->Shown(), 0);

    // No bus at all: said at once, and once.
    DesktopNotifier none(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                       QStringLiteral("none")),
                         QStringLiteral("pelmora"), QStringLiteral("pelmora"));
    int said = 0;
    none.OnUnavailable = [&](const QString&) { ++said; };
    none.Probe();
    none.Notify("a", "b");
    EXPECT_EQ(said, 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

}  // namespace
}  // namespace monitor

int main(int argc, char** argv) {
    // Test discovery runs this binary at build time too, where there may be no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
