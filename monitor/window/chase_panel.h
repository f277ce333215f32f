// The chase panel of the monitor window: the followed flight's analytics and prediction, the
// flights list, the ground-track and altitude plots, the alarm banner, the alarm,
// landing-altitude and prediction controls and the night-theme switch. It sits beside the record
// displays and shows what the window's core made of each record; it keeps the data age, sets the
// core's chase settings, and keeps what the user changes here in pelmora.ini.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "monitor/chase/car.h"
#include "monitor/chase/chase_alarms.h"
#include "monitor/chase/chase_settings.h"
#include "monitor/chase/flight_analytics.h"
#include "monitor/flights/monitor_core.h"
#include "monitor/window/ground_track_plot.h"

class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;
class QVBoxLayout;

namespace monitor {

class AltitudePlot;
class DesktopNotifier;
class FlightsList;
class MapPane;
class PredictionRows;
class TileLoader;

class ChasePanel : public QWidget {
    Q_OBJECT
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds, monotonic
    using Beep = std::function<void()>;

    using WallClock = std::function<double()>;  // seconds, the records' receive clock

    // `core` is the window's; `fileSettings` as read from `settingsPath` (empty: nothing is
    // saved), `run` the command line's overrides for this run. The core takes the settings.
    ChasePanel(MonitorCore& core, const ChaseSettings& fileSettings, const ChaseOptions& run,
               std::string settingsPath, QWidget* parent = nullptr);

    void SetClock(Clock clock) { clock_ = std::move(clock); }
    void SetWallClock(WallClock clock) { wallClock_ = std::move(clock); }
    void SetBeep(Beep beep) { beep_ = std::move(beep); }
    // Reads the input waiting at the server link: before each judgement of the data's age, so a
    // window that was stopped (a suspended laptop) takes the records that came meanwhile first.
    void SetReadPending(std::function<void()> read) { readPending_ = std::move(read); }
    void SetHomeLocator(std::string_view locator);
    // The chase car's own position from its GPS, or none; lets "Folgen" choose "Auto".
    void SetCarPosition(const std::optional<LatLonDeg>& car);
    // The car's fix (empty without one) and where it has been; with a fix the car is home.
    using CarFixSource = std::function<std::optional<CarFix>()>;
    void SetCar(CarFixSource current, const CarTracker* tracker);
    // Seconds since the car's last fix while GPS has none: "GPS: kein Fix seit N s".
    void SetCarNoFix(std::function<std::optional<double>()> noFixS) {
        carNoFix_ = std::move(noFixS);
    }
    // The car's fix changed: its figures, the landing's distance and the plot follow.
    void CarMoved();
    // What the user set beside LOCATOR, kept in pelmora.ini.
    void SetGpsOn(bool on);
    void SetGpsServer(const std::string& server);
    void SetWaypoint(bool on);
    // The window's column beside the map, as the user left it.
    void SetColumnWidth(int px);
    // The window's language from the next start.
    void SetLanguage(const std::string& code);

    // Alarms also as desktop notifications, while the panel's switch is on; what keeps them from
    // showing goes to the message line once.
    void SetNotifier(DesktopNotifier* notifier);
    // An alarm as the window words it (the core's text when untranslated).
    static QString AlarmText(const FlightAlarm& alarm);

    // Each record as the core took it.
    void OnRecord(const RecordOutcome& record);
    // The work of the one-second timer: data age, flights that end, the no-data alarm.
    void Tick();

    // The followed flight's analytics.
    const FlightAnalytics& Analytics() const { return core_.FollowedAnalytics(); }
    const ChaseSettings& Settings() const { return effective_; }
    // A line under the controls, e.g. trouble with pelmora.ini; empty hides it.
    void ShowMessage(const QString& text);

    // The banner over the map, the map and its figures: at the top of the panel as built, for
    // the window to take out and make its main area.
    MapPane* TakeMapPane();

    // Dark palette on `window` and all it holds, or back to the style's own.
    static void ApplyNightTheme(QWidget* window, bool on);

  signals:
    void nightThemeChanged(bool on);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // The panel from top to bottom: the map pane (banner and map), values, flights, the altitude
    // plot, the settings' rows, a message line.
    // Each group of controls comes with its connections; controls are made in tab order.
    void BuildControls();
    void AddValues(QVBoxLayout& outer);
    void AddFlightEndRow(QGridLayout& controls, int row);
    // Each settings row changes only its own setting, so a command-line value of another one is
    // never written to the file.
    void AddBurstAlarmRow(QGridLayout& controls, int row);
    void AddLandingAlarmRow(QGridLayout& controls, int row);
    void AddNoDataAlarmRow(QGridLayout& controls, int row);
    void AddLandingAltitudeRow(QGridLayout& controls, int row);
    void AddNightThemeSwitch(QGridLayout& controls, int row, int column);
    void AddFollowRow(QGridLayout& controls, int row);
    void AddTileServerRow(QGridLayout& controls, int row);
    void AddMbtilesRow(QGridLayout& controls, int row);
    void AddNotificationSwitch(QGridLayout& controls, int row);
    void AddMessageLine(QVBoxLayout& outer);
    // The landing point of the alarm's flight (the followed one's for the no-data alarm), its
    // distance and bearing from the car or home.
    QString LandingFromHere(const FlightAlarm& alarm) const;
    void UpdateDisplays();
    // Altitude, distance and data age of the followed flight, over the map.
    void UpdateMapFigures();
    void Fire(const std::vector<FlightAlarm>& alarms);
    LatLonDeg Home() const;
    void UserChanged();
    // The settings in effect to the core.
    void ApplySettings();
    // A new loader for the tile settings in effect.
    void MakeTiles();

    ChaseSettings file_;
    ChaseSettings effective_;
    std::string settingsPath_;
    MonitorCore& core_;
    DataAge age_;
    Clock clock_;
    WallClock wallClock_;
    Beep beep_;
    std::function<void()> readPending_;
    bool themeApplied_ = false;

    MapPane* mappane_ = nullptr;
    QPushButton* alarmbt_ = nullptr;  // the banner; a click acknowledges it
    QLabel* phaselb_ = nullptr;
    QLabel* vavgcap_ = nullptr;
    QLabel* vavglb_ = nullptr;
    QLabel* maxaltlb_ = nullptr;
    QLabel* burstlb_ = nullptr;
    QLabel* sinklb_ = nullptr;
    QLabel* tlandlb_ = nullptr;
    QLabel* landlb_ = nullptr;
    QLabel* landdistlb_ = nullptr;
    QLabel* assumelb_ = nullptr;
    QLabel* agelb_ = nullptr;
    QLabel* carprobelb_ = nullptr;
    QLabel* carelevlb_ = nullptr;
    QLabel* carlandlb_ = nullptr;
    QLabel* carlb_ = nullptr;
    CarFixSource carFix_;
    std::function<std::optional<double>()> carNoFix_;
    const CarTracker* carTracker_ = nullptr;
    FlightsList* flightslist_ = nullptr;
    GroundTrackPlot* trackimg_ = nullptr;
    AltitudePlot* altimg_ = nullptr;
    QCheckBox* burstcb_ = nullptr;
    QCheckBox* landingcb_ = nullptr;
    QDoubleSpinBox* landingkmed_ = nullptr;
    QCheckBox* nodatacb_ = nullptr;
    QSpinBox* nodataed_ = nullptr;
    QSpinBox* landalted_ = nullptr;
    QSpinBox* flightended_ = nullptr;
    QCheckBox* nightcb_ = nullptr;
    QCheckBox* notifycb_ = nullptr;
    DesktopNotifier* notifier_ = nullptr;
    QComboBox* followcb_ = nullptr;
    QLineEdit* tilesed_ = nullptr;
    QLineEdit* mbtilesed_ = nullptr;
    QPushButton* mbtilesbt_ = nullptr;
    TileLoader* tiles_ = nullptr;
    PredictionRows* predictions_ = nullptr;
    QLabel* chasemsglb_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace monitor
