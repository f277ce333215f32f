// The chase panel of the monitor window: the analytics' values, the ground-track and altitude
// plots, the alarm banner, the alarm and landing-altitude controls and the night-theme switch.
// It sits beside the record displays and is fed the same records; it owns the analytics, the
// alarms and the data age, and keeps what the user changes here in pelmora.ini.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "monitor/core/chase_alarms.h"
#include "monitor/core/chase_settings.h"
#include "monitor/core/flight_analytics.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace monitor {

// North-up map around home: range rings, the track, the last position, the landing estimate.
class GroundTrackPlot : public QWidget {
  public:
    explicit GroundTrackPlot(const FlightAnalytics& analytics, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {240, 240}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const FlightAnalytics& analytics_;
};

// Altitude over GPS time, the burst marked, the estimated fall to the landing dashed.
class AltitudePlot : public QWidget {
  public:
    explicit AltitudePlot(const FlightAnalytics& analytics, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {300, 200}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const FlightAnalytics& analytics_;
};

class ChasePanel : public QWidget {
    Q_OBJECT
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds, monotonic
    using Beep = std::function<void()>;

    // `fileSettings` as read from `settingsPath` (empty: nothing is saved), `run` the command
    // line's overrides for this run.
    ChasePanel(const ChaseSettings& fileSettings, const ChaseOptions& run, std::string settingsPath,
               QWidget* parent = nullptr);

    void SetClock(Clock clock) { clock_ = std::move(clock); }
    void SetBeep(Beep beep) { beep_ = std::move(beep); }
    void SetHomeLocator(std::string_view locator);

    // Each record as the stream reader got it (without "#").
    void OnRecord(std::string_view record);
    // The work of the one-second timer: data age and the no-data alarm.
    void Tick();

    const FlightAnalytics& Analytics() const { return analytics_; }
    const ChaseSettings& Settings() const { return effective_; }
    // A line under the controls, e.g. trouble with pelmora.ini; empty hides it.
    void ShowMessage(const QString& text);

    // Dark palette on `window` and all it holds, or back to the style's own.
    static void ApplyNightTheme(QWidget* window, bool on);

  signals:
    void nightThemeChanged(bool on);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void BuildControls();
    void UpdateDisplays();
    void Fire(const std::vector<Alarm>& alarms);
    void UserChanged();

    ChaseSettings file_;
    ChaseSettings effective_;
    std::string settingsPath_;
    FlightAnalytics analytics_;
    ChaseAlarms alarms_;
    DataAge age_;
    Clock clock_;
    Beep beep_;
    bool themeApplied_ = false;

    QPushButton* alarmbt_ = nullptr;  // the banner; a click acknowledges it
    QLabel* phaselb_ = nullptr;
    QLabel* vavgcap_ = nullptr;
    QLabel* vavglb_ = nullptr;
    QLabel* maxaltlb_ = nullptr;
    QLabel* burstlb_ = nullptr;
    QLabel* tlandlb_ = nullptr;
    QLabel* landlb_ = nullptr;
    QLabel* landdistlb_ = nullptr;
    QLabel* agelb_ = nullptr;
    GroundTrackPlot* trackimg_ = nullptr;
    AltitudePlot* altimg_ = nullptr;
    QCheckBox* burstcb_ = nullptr;
    QCheckBox* landingcb_ = nullptr;
    QDoubleSpinBox* landingkmed_ = nullptr;
    QCheckBox* nodatacb_ = nullptr;
    QSpinBox* nodataed_ = nullptr;
    QSpinBox* landalted_ = nullptr;
    QCheckBox* nightcb_ = nullptr;
    QLabel* chasemsglb_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace monitor
