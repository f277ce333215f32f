#include "monitor/window/ground_track_plot.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "monitor/io/tile_loader.h"
#include "monitor/window/plot_style.h"

namespace monitor {

namespace {

// Closer than this the map does not zoom by itself: a few kilometres stay in view at the start.
constexpr int kMaxAutoZoom = 13;
// How many levels up a loaded tile stands in, scaled, for one still loading.
constexpr int kParentLevels = 4;
// Tiles at night: dim enough that the window stays dark, bright enough to read roads.
constexpr double kNightTileOpacity = 0.35;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

GroundTrackPlot::GroundTrackPlot(const MonitorCore& core, QWidget* parent)
    : QWidget(parent), core_(core) {
    setMinimumSize(160, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void GroundTrackPlot::SetTiles(TileLoader* tiles) {
    if (tiles_) disconnect(tiles_, nullptr, this, nullptr);
    tiles_ = tiles;
    if (tiles_) {
        connect(tiles_, &TileLoader::tileLoaded, this, qOverload<>(&QWidget::update));
        connect(tiles_, &TileLoader::tileLacking, this, qOverload<>(&QWidget::update));
        connect(tiles_, &TileLoader::fileChecked, this, qOverload<>(&QWidget::update));
    }
    Refresh();
}

bool GroundTrackPlot::HasTileSource() const {
    return tiles_ && tiles_->HasSource();
}

bool GroundTrackPlot::MapShown() const {
    if (!HasTileSource() || !tiles_->AnyLoaded()) return false;
    if (follow_ == Follow::Off || !autoZoom_) return true;
    for (const PlacedTile& t : view_.VisibleTiles()) {
        if (!tiles_->Lacks(t.id)) return true;  // there, or coming
        TileId up = t.id;
        for (int level = 1; level <= kParentLevels && up.z > 0; ++level) {
            up = ParentTile(up);
            if (tiles_->Holds(up)) return true;
        }
    }
    return false;
}

void GroundTrackPlot::SetFollow(Follow follow) {
    // Choosing the probe again gives the zoom back to the map: it fits the chase again.
    if (follow == Follow::Probe) autoZoom_ = true;
    const bool changed = follow != follow_;
    follow_ = follow;
    if (changed) emit followChanged(follow_);
    Refresh();
}

void GroundTrackPlot::SetCar(const std::optional<LatLonDeg>& car) {
    car_ = car;
    if (follow_ == Follow::Car) Refresh();
}

std::optional<LatLonDeg> GroundTrackPlot::FollowTarget() const {
    if (follow_ == Follow::Probe) return Followed().State().lastPosition;
    if (follow_ == Follow::Car) return car_;
    return std::nullopt;
}

std::vector<LatLonDeg> GroundTrackPlot::WhatMatters() const {
    std::vector<LatLonDeg> points = {Followed().EffectiveHome()};
    for (const FlightPoint& f : Followed().Track())
        if (f.position) points.push_back(*f.position);
    if (const auto l = ShownLanding()) points.push_back(*l);
    if (car_) points.push_back(*car_);
    return points;
}

void GroundTrackPlot::Refresh() {
    if (HasTileSource() && width() > 0 && height() > 0) {
        view_.Resize(width(), height());
        if (follow_ == Follow::Probe && autoZoom_) {
            // The whole chase: the track, where it comes down and home or the car.
            view_ = FitView(WhatMatters(), width(), height(), kMarginPx, kMaxAutoZoom);
        } else {
            if (!viewPlaced_) view_.SetCentre(Followed().Home());
            if (const auto target = FollowTarget()) view_.SetCentre(*target);
            if (autoZoom_)
                view_.SetZoom(std::min(kMaxAutoZoom, FitZoom(view_.Centre(), WhatMatters(), width(),
                                                             height(), kMarginPx)));
        }
        viewPlaced_ = true;
    }
    update();
}

void GroundTrackPlot::SetLaunchPrediction(const std::optional<Prediction>& p) {
    launchPrediction_ = p;
    Refresh();
}

std::optional<LatLonDeg> GroundTrackPlot::ShownLanding() const {
    const FlightState& s = Followed().State();
    if (s.landing) return s.landing->point;
    if (s.prediction) return s.prediction->point;
    if (launchPrediction_) return launchPrediction_->point;
    return std::nullopt;
}

void GroundTrackPlot::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!HasTileSource()) return;
    view_.Resize(width(), height());
    if (autoZoom_ || !viewPlaced_) Refresh();
}

void GroundTrackPlot::mousePressEvent(QMouseEvent* event) {
    if (MapShown() && event->button() == Qt::LeftButton) {
        dragFrom_ = event->position();
        setCursor(Qt::ClosedHandCursor);
    }
}

void GroundTrackPlot::mouseMoveEvent(QMouseEvent* event) {
    if (!dragFrom_) return;
    const QPointF d = event->position() - *dragFrom_;
    dragFrom_ = event->position();
    view_.Pan(d.x(), d.y());
    // The user has taken the map: records no longer pull it back or zoom it.
    autoZoom_ = false;
    SetFollow(Follow::Off);
    update();
}

void GroundTrackPlot::mouseReleaseEvent(QMouseEvent*) {
    dragFrom_.reset();
    unsetCursor();
}

void GroundTrackPlot::wheelEvent(QWheelEvent* event) {
    if (!MapShown()) return;
    // One level per notch (120 eighths of a degree); touchpads send smaller steps.
    wheelEighths_ += event->angleDelta().y();
    const int steps = wheelEighths_ / 120;
    wheelEighths_ -= steps * 120;
    if (steps != 0) {
        view_.ZoomAbout({event->position().x(), event->position().y()}, steps);
        autoZoom_ = false;
        update();
    }
    event->accept();
}

QStringList GroundTrackPlot::PaintTiles(QPainter& p) {
    bool fromFile = false, fromServer = false;
    auto drawn = [&](const TileLoader::Tile& t) {
        (t.origin == TileLoader::Origin::File ? fromFile : fromServer) = true;
    };
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (IsDark(*this)) p.setOpacity(kNightTileOpacity);
    for (const PlacedTile& t : view_.VisibleTiles()) {
        const QRectF target(t.x, t.y, kTileSizePx, kTileSizePx);
        if (const TileLoader::Tile* tile = tiles_->Find(t.id)) {
            p.drawImage(target, tile->image);
            drawn(*tile);
            continue;
        }
        TileId up = t.id;
        for (int level = 1; level <= kParentLevels && up.z > 0; ++level) {
            up = ParentTile(up);
            if (const TileLoader::Tile* parent = tiles_->Find(up)) {
                const int n = 1 << level;
                const double part = double(kTileSizePx) / n;
                p.drawImage(target, parent->image,
                            QRectF((t.id.x % n) * part, (t.id.y % n) * part, part, part));
                drawn(*parent);
                break;
            }
        }
    }
    p.restore();

    QStringList attributions;
    if (fromFile && !tiles_->FileAttribution().isEmpty()) attributions << tiles_->FileAttribution();
    if (fromServer && !tiles_->ServerAttribution().isEmpty())
        attributions << tiles_->ServerAttribution();
    return attributions;
}

void GroundTrackPlot::WantTiles() {
    const QPointF middle(width() / 2.0, height() / 2.0);
    std::vector<std::pair<double, TileId>> missing;
    for (const PlacedTile& t : view_.VisibleTiles()) {
        if (tiles_->Holds(t.id)) continue;
        const QPointF offset = QPointF(t.x, t.y) + QPointF(kTileSizePx, kTileSizePx) / 2 - middle;
        missing.emplace_back(QPointF::dotProduct(offset, offset), t.id);
    }
    // Loading is queued: painting never waits for it.
    std::sort(missing.begin(), missing.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<TileId> wanted;
    for (const auto& m : missing) wanted.push_back(m.second);
    tiles_->Want(wanted);
}

void GroundTrackPlot::PaintScaleAndAttribution(QPainter& p, const QStringList& attributions) {
    const PlotColours c(*this);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    p.setFont(small);
    const QFontMetricsF fm(small);
    QColor box = c.background;
    box.setAlpha(190);

    const ScaleBar bar = view_.MakeScaleBar(std::min(120.0, width() / 3.0));
    const double x0 = 8, y0 = height() - 8;
    const QString label = Q(bar.label);
    p.fillRect(QRectF(x0 - 3, y0 - fm.height() - 6,
                      std::max(bar.lengthPx, fm.horizontalAdvance(label)) + 6, fm.height() + 9),
               box);
    p.setPen(QPen(c.text, 1.5));
    p.drawLine(QPointF(x0, y0), QPointF(x0 + bar.lengthPx, y0));
    p.drawLine(QPointF(x0, y0 - 4), QPointF(x0, y0));
    p.drawLine(QPointF(x0 + bar.lengthPx, y0 - 4), QPointF(x0 + bar.lengthPx, y0));
    p.drawText(QPointF(x0, y0 - 5), label);

    if (attributions.isEmpty()) return;
    const QString text = attributions.join(QStringLiteral(" | "));
    const QString shown = fm.elidedText(text, Qt::ElideRight, width() * 0.6);
    const double w = fm.horizontalAdvance(shown) + 6;
    const QRectF r(width() - w - 1, height() - fm.height() - 3, w, fm.height() + 2);
    p.fillRect(r, box);
    p.setPen(c.text);
    p.drawText(r, Qt::AlignCenter, shown);
}

void GroundTrackPlot::PaintOtherFlights(QPainter& p,
                                        const std::function<PlotPoint(const LatLonDeg&)>& px) {
    const PlotColours c(*this);
    const Flight* followed = core_.Followed();
    QColor dim = c.text;
    dim.setAlpha(110);
    p.save();
    for (const auto& f : core_.Tracker().Flights()) {
        if (f.get() == followed) continue;
        QPolygonF line;
        for (const FlightPoint& t : f->analytics.Track())
            if (t.position) {
                const PlotPoint q = px(*t.position);
                line << QPointF(q.x, q.y);
            }
        p.setPen(QPen(dim, 1.5, f->ended ? Qt::DotLine : Qt::SolidLine));
        p.setBrush(Qt::NoBrush);
        if (line.size() > 1) p.drawPolyline(line);
        const PlotPoint at = px(*f->newest.position);
        p.setPen(Qt::NoPen);
        p.setBrush(dim);
        p.drawEllipse(QPointF(at.x, at.y), 3, 3);
        p.setPen(dim);
        p.drawText(QPointF(at.x + 5, at.y - 4), QString::fromStdString(f->id));
    }
    p.restore();
}

void GroundTrackPlot::PaintPrediction(QPainter& p, const Prediction& prediction,
                                      const QColor& colour, bool landingCross,
                                      const std::function<PlotPoint(const LatLonDeg&)>& px) const {
    p.save();
    QPolygonF line;
    for (const TrajectoryPoint& t : prediction.path) {
        const PlotPoint q = px(t.position);
        line << QPointF(q.x, q.y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 1.5, Qt::DashLine));
    if (line.size() > 1) p.drawPolyline(line);
    if (prediction.kind == PredictionKind::Ascent && prediction.burst) {
        const PlotPoint b = px(prediction.burst->position);
        p.setPen(QPen(colour, 2));
        p.drawEllipse(QPointF(b.x, b.y), 5, 5);
    }
    if (landingCross) {
        const PlotPoint l = px(prediction.point);
        p.setPen(QPen(colour, 2.5));
        Cross(p, QPointF(l.x, l.y), 6);
    }
    p.restore();
}

void GroundTrackPlot::paintEvent(QPaintEvent*) {
    const FlightState& s = Followed().State();
    const std::optional<LatLonDeg> landing = ShownLanding();
    const auto car = carSource_ ? carSource_() : std::nullopt;
    const PlotColours c(*this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), c.background);
    // The agreed order: tiles, rings, track, home, landing estimate, the car on top.
    QStringList attributions;
    GroundTrackView v;
    if (HasTileSource()) {
        if (!viewPlaced_) Refresh();
        view_.Resize(width(), height());
        WantTiles();
    }
    const bool map = MapShown();
    if (map) {
        attributions = PaintTiles(p);
        v = MakeMapTrackView(view_, Followed().EffectiveHome(), Followed().Track(), landing);
        if (car) {
            for (const LatLonDeg& q : car->track) v.carTrack.push_back(view_.ToScreen(q));
            v.car = view_.ToScreen(car->position);
            v.carHeadingDeg = car->headingDeg;
        }
    } else {
        v = MakeGroundTrackView(Followed().EffectiveHome(), Followed().Track(), landing, width(),
                                height(), car);
    }

    const LatLonDeg homePoint = Followed().EffectiveHome();
    PaintOtherFlights(p, [&](const LatLonDeg& q) {
        return map ? view_.ToScreen(q) : GroundTrackPixel(v, homePoint, q);
    });
    const QPointF home(v.home.x, v.home.y);
    p.setPen(QPen(c.grid, 1));
    p.setBrush(Qt::NoBrush);
    for (double r : v.ringRadiiPx) p.drawEllipse(home, r, r);
    p.drawLine(QPointF(home.x(), home.y() - v.ringRadiiPx.back()),
               QPointF(home.x(), home.y() + v.ringRadiiPx.back()));
    p.drawLine(QPointF(home.x() - v.ringRadiiPx.back(), home.y()),
               QPointF(home.x() + v.ringRadiiPx.back(), home.y()));
    p.setPen(c.text);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    for (std::size_t i = 0; i < v.ringRadiiPx.size(); ++i)
        p.drawText(QPointF(home.x() + 3, home.y() - v.ringRadiiPx[i] - 2), Q(v.ringLabels[i]));
    const QFontMetricsF fm(small);
    if (!map)
        p.drawText(QPointF(home.x() - fm.horizontalAdvance(QStringLiteral("N")) - 4,
                           home.y() - v.ringRadiiPx.back() + fm.ascent()),
                   QStringLiteral("N"));

    if (v.track.size() > 1) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(v.track.size()));
        for (const PlotPoint& t : v.track) line << QPointF(t.x, t.y);
        p.setPen(QPen(c.track, map ? 2.5 : 1.5));
        p.drawPolyline(line);
    }
    // With a fix the car is home: it is drawn on top instead.
    if (!v.car) {
        p.setPen(c.text);
        p.drawText(QPointF(home.x() + 4, home.y() + small.pointSizeF() + 4), tr("Home"));
        p.setPen(QPen(c.text, map ? 2 : 1));
        Cross(p, home, 3);
    }
    const auto pixel = [&](const LatLonDeg& q) {
        return map ? view_.ToScreen(q) : GroundTrackPixel(v, homePoint, q);
    };
    // Before launch a prediction of its own; in flight the followed one's, which after the burst
    // is the landing estimate's path.
    if (launchPrediction_) {
        const QColor before = IsDark(*this) ? QColor(170, 140, 230) : QColor(110, 60, 190);
        PaintPrediction(p, *launchPrediction_, before, true, pixel);
    }
    if (s.prediction) PaintPrediction(p, *s.prediction, c.landing, false, pixel);
    if (v.landing && (s.landing || s.prediction)) {
        p.setPen(QPen(c.landing, 2.5));
        Cross(p, QPointF(v.landing->x, v.landing->y), 6);
        if (v.last && !s.prediction) {
            p.setPen(QPen(c.landing, 1, Qt::DashLine));
            p.drawLine(QPointF(v.last->x, v.last->y), QPointF(v.landing->x, v.landing->y));
        }
    }
    if (v.last) {
        p.setPen(Qt::NoPen);
        p.setBrush(c.last);
        p.drawEllipse(QPointF(v.last->x, v.last->y), 4, 4);
    }
    // The car on top: its own track, then itself, an arrow along its heading when it has one.
    if (v.car) {
        const QColor carColour = IsDark(*this) ? QColor(90, 200, 120) : QColor(0, 140, 60);
        if (v.carTrack.size() > 1) {
            QPolygonF line;
            for (const PlotPoint& t : v.carTrack) line << QPointF(t.x, t.y);
            p.setPen(QPen(carColour, 1.5, Qt::DotLine));
            p.setBrush(Qt::NoBrush);
            p.drawPolyline(line);
        }
        const QPointF at(v.car->x, v.car->y);
        p.setPen(QPen(c.background, 1));
        p.setBrush(carColour);
        if (v.carHeadingDeg) {
            const double a = *v.carHeadingDeg * std::numbers::pi / 180;
            auto rotated = [&](double x, double y) {  // x right, y ahead
                return at + QPointF(x * std::cos(a) + y * std::sin(a),
                                    x * std::sin(a) - y * std::cos(a));
            };
            p.drawPolygon(
                QPolygonF{rotated(0, 9), rotated(6, -6), rotated(0, -3), rotated(-6, -6)});
        } else {
            p.drawRect(QRectF(at - QPointF(4, 4), QSizeF(8, 8)));
        }
        p.setPen(c.text);
        p.drawText(at + QPointF(8, small.pointSizeF() + 6), tr("Auto"));
    }
    if (map) PaintScaleAndAttribution(p, attributions);
    attributions_ = attributions;
    p.setBrush(Qt::NoBrush);
    p.setPen(c.frame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace monitor
