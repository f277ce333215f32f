// The chase panel's map: the probe's ground track around home, on map tiles when there are any.
#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

#include "monitor/chase/chase_plots.h"
#include "monitor/chase/flight_analytics.h"
#include "monitor/chase/map_view.h"
#include "monitor/flights/monitor_core.h"

namespace monitor {

class TileLoader;

// What the map keeps in the middle as records come; the order of the "Folgen" choice.
enum class Follow { Off, Probe, Car };

// North-up map around home: range rings, the track, the last position, the landing estimate,
// and the predicted path (dashed, with its burst point and landing) of the followed flight and
// of a prediction before launch.
// With tiles they lie on a map the user pans by dragging and zooms with the wheel; without
// (no source, or none of its tiles had yet) the plot fits everything around home.
class GroundTrackPlot : public QWidget {
    Q_OBJECT
  public:
    using CarSource = std::function<std::optional<CarOnPlot>()>;
    // What the map fits in view stays this far inside its edges.
    static constexpr double kMarginPx = 32;
    explicit GroundTrackPlot(const MonitorCore& core, QWidget* parent = nullptr);
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
    // New data: following the probe, the view holds the whole chase until the user zooms, then
    // keeps the probe in the middle; following the car, the car in the middle.
    void Refresh();
    // The sources named under the map at the last paint.
    const QStringList& Attributions() const { return attributions_; }
    // A prediction before launch to draw beside the flights, or none.
    void SetLaunchPrediction(const std::optional<Prediction>& p);
    // The landing the plot centres its view on: the estimate, else the followed flight's
    // prediction, else the one before launch.
    std::optional<LatLonDeg> ShownLanding() const;

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
    // The followed flight's track and landing estimate, home (or the car) and the car.
    std::vector<LatLonDeg> WhatMatters() const;

    // The followed flight's analytics, empty ones while none is followed.
    const FlightAnalytics& Followed() const { return core_.FollowedAnalytics(); }
    // The other flights' tracks, dimmed, each with its id at its newest fix.
    void PaintOtherFlights(QPainter& p, const std::function<PlotPoint(const LatLonDeg&)>& px);
    // A predicted path dashed, its burst point as a ring and its landing as a cross.
    void PaintPrediction(QPainter& p, const Prediction& prediction, const QColor& colour,
                         bool landingCross,
                         const std::function<PlotPoint(const LatLonDeg&)>& px) const;

    const MonitorCore& core_;
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
    std::optional<Prediction> launchPrediction_;
};

}  // namespace monitor
