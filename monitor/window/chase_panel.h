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

#include "monitor/core/car.h"
#include "monitor/core/chase_alarms.h"
#include "monitor/core/chase_plots.h"
#include "monitor/core/chase_settings.h"
#include "monitor/core/flight_analytics.h"
#include "monitor/core/map_view.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace monitor {

class TileLoader;

// What the map keeps in the middle as records come; the order of the "Folgen" choice.
enum class Follow { Off, Probe, Car };

// North-up map around home: range rings, the track, the last position, the landing estimate.
// With tiles they lie on a map the user pans by dragging and zooms with the wheel; without
// (no source, or none of its tiles had yet) the plot fits everything around home.
class GroundTrackPlot : public QWidget {
    Q_OBJECT
  public:
    using CarSource = std::function<std::optional<CarOnPlot>()>;
    explicit GroundTrackPlot(const FlightAnalytics& analytics, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {240, 240}; }
    // The car as drawn: its fix, heading and own track; empty without a fix.
    void SetCarSource(CarSource source) { carSource_ = std::move(source); }

    // Null, or a loader without a source: the plain plot.
    void SetTiles(TileLoader* tiles);
    // The map is drawn once a first tile has come. It gives way to the plain plot again when
    // nothing of the view is there or on its way, unless the user has taken the map (dragged,
    // zoomed or stopped following) and must be able to move it back.
    bool MapShown() const;
    const MapView& View() const { return view_; }
    Follow Following() const { return follow_; }
    void SetFollow(Follow follow);
    // The chase car's position, when known; "Auto" follows it.
    void SetCar(const std::optional<LatLonDeg>& car);
    // New data: recentre on what is followed, and fit the zoom until the user has chosen one.
    void Refresh();
    // The sources named under the map at the last paint.
    const QStringList& Attributions() const { return attributions_; }

  signals:
    void followChanged(Follow follow);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    // Draws the tiles in view (or their parents scaled up); returns the attributions of what it
    // drew.
    QStringList PaintTiles(QPainter& p);
    // Asks for the tiles in view not in memory, the middle first; also while the plain plot
    // stands in, so that the map appears when they come.
    void WantTiles();
    bool HasTileSource() const;
    void PaintScaleAndAttribution(QPainter& p, const QStringList& attributions);
    std::optional<LatLonDeg> FollowTarget() const;

    const FlightAnalytics& analytics_;
    TileLoader* tiles_ = nullptr;
    MapView view_;
    bool viewPlaced_ = false;
    bool autoZoom_ = true;
    Follow follow_ = Follow::Probe;
    std::optional<LatLonDeg> car_;
    QStringList attributions_;
    std::optional<QPointF> dragFrom_;
    int wheelEighths_ = 0;
    CarSource carSource_;
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
    // The chase car's own position from its GPS, or none; lets "Folgen" choose "Auto".
    void SetCarPosition(const std::optional<LatLonDeg>& car);
    // The car's fix (empty without one) and where it has been; with a fix the car is home.
    using CarFixSource = std::function<std::optional<CarFix>()>;
    void SetCar(CarFixSource current, const CarTracker* tracker);
    // The car's fix changed: its figures, the landing's distance and the plot follow.
    void CarMoved();
    // What the user set beside LOCATOR, kept in pelmora.ini.
    void SetGpsOn(bool on);
    void SetGpsServer(const std::string& server);
    void SetWaypoint(bool on);

    // Each record as the stream reader read it.
    void OnRecord(const common::RelayedRecord& record);
    // The work of the one-second timer: data age and the no-data alarm.
    void Tick();
    // The user's own disconnect: no no-data alarm until records come again.
    void UserDisconnected() { alarms_.UserDisconnected(); }

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
    // A new loader for the tile settings in effect.
    void MakeTiles();

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
    QLabel* carprobelb_ = nullptr;
    QLabel* carelevlb_ = nullptr;
    QLabel* carlandlb_ = nullptr;
    QLabel* carlb_ = nullptr;
    CarFixSource carFix_;
    const CarTracker* carTracker_ = nullptr;
    GroundTrackPlot* trackimg_ = nullptr;
    AltitudePlot* altimg_ = nullptr;
    QCheckBox* burstcb_ = nullptr;
    QCheckBox* landingcb_ = nullptr;
    QDoubleSpinBox* landingkmed_ = nullptr;
    QCheckBox* nodatacb_ = nullptr;
    QSpinBox* nodataed_ = nullptr;
    QSpinBox* landalted_ = nullptr;
    QCheckBox* nightcb_ = nullptr;
    QComboBox* followcb_ = nullptr;
    QLineEdit* tilesed_ = nullptr;
    QLineEdit* mbtilesed_ = nullptr;
    QPushButton* mbtilesbt_ = nullptr;
    TileLoader* tiles_ = nullptr;
    QLabel* chasemsglb_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace monitor
