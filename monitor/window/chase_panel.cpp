#include "monitor/window/chase_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <chrono>
#include <cmath>
#include <numbers>

#include "common/numbers.h"
#include "monitor/core/chase_plots.h"
#include "monitor/io/tile_loader.h"
#include "monitor/window/fit_label.h"

namespace monitor {

namespace {

constexpr int kTickMs = 1000;
constexpr int kAutoLandingAlt = -501;  // the landing-altitude box's "auto"
constexpr double kMapMarginPx = 16;
// Closer than this the map does not zoom by itself: a few kilometres stay in view at the start.
constexpr int kMaxAutoZoom = 13;
// How many levels up a loaded tile stands in, scaled, for one still loading.
constexpr int kParentLevels = 4;
// Tiles at night: dim enough that the window stays dark, bright enough to read roads.
constexpr double kNightTileOpacity = 0.35;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A number too long to be a reading (1e300 in a record) shows as "-" and never widens the panel.
QString Fixed(double v, int decimals) {
    return WithinNumberLength(Q(common::FormatFixed(v, 15, decimals)));
}

QString TimeOfDay(double flightS) {
    const int s = static_cast<int>(std::fmod(std::floor(flightS), 86400.0));
    return QTime(0, 0).addSecs(s).toString(QStringLiteral("hh:mm:ss"));
}

QString Coordinate(double deg, char positive, char negative) {
    return Fixed(std::abs(deg), 5) + QLatin1Char(' ') + QLatin1Char(deg < 0 ? negative : positive);
}

bool IsDark(const QWidget& w) {
    return w.palette().color(QPalette::Base).lightness() < 128;
}

// Colours that read on the day palette and, dimmer, on the night one.
struct PlotColours {
    QColor background, frame, grid, text, track, last, landing, burst;
    explicit PlotColours(const QWidget& w) {
        const bool dark = IsDark(w);
        background = w.palette().color(QPalette::Base);
        text = w.palette().color(QPalette::Text);
        frame = w.palette().color(QPalette::Mid);
        grid = dark ? QColor(70, 70, 70) : QColor(200, 200, 200);
        track = dark ? QColor(110, 150, 230) : QColor(0, 80, 200);
        last = dark ? QColor(230, 80, 80) : QColor(220, 0, 0);
        landing = dark ? QColor(230, 160, 60) : QColor(230, 120, 0);
        burst = last;
    }
};

void Cross(QPainter& p, QPointF c, double r) {
    p.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
    p.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
}

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

GroundTrackPlot::GroundTrackPlot(const FlightAnalytics& analytics, QWidget* parent)
    : QWidget(parent), analytics_(analytics) {
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
    if (follow == follow_) return;
    follow_ = follow;
    emit followChanged(follow_);
    Refresh();
}

void GroundTrackPlot::SetCar(const std::optional<LatLonDeg>& car) {
    car_ = car;
    if (follow_ == Follow::Car) Refresh();
}

std::optional<LatLonDeg> GroundTrackPlot::FollowTarget() const {
    if (follow_ == Follow::Probe) return analytics_.State().lastPosition;
    if (follow_ == Follow::Car) return car_;
    return std::nullopt;
}

void GroundTrackPlot::Refresh() {
    if (HasTileSource() && width() > 0 && height() > 0) {
        view_.Resize(width(), height());
        if (!viewPlaced_) view_.SetCentre(analytics_.Home());
        viewPlaced_ = true;
        if (const auto target = FollowTarget()) view_.SetCentre(*target);
        if (autoZoom_) {
            // Home, the track's corners, the landing estimate and the car in view.
            std::vector<LatLonDeg> points = {analytics_.Home()};
            const auto& track = analytics_.Track();
            std::optional<LatLonDeg> lo, hi;
            for (const FlightPoint& f : track) {
                if (!f.position) continue;
                if (!lo) lo = hi = f.position;
                lo = LatLonDeg{std::min(lo->lat, f.position->lat),
                               std::min(lo->lon, f.position->lon)};
                hi = LatLonDeg{std::max(hi->lat, f.position->lat),
                               std::max(hi->lon, f.position->lon)};
            }
            if (lo) points.insert(points.end(), {*lo, *hi});
            if (const auto& l = analytics_.State().landing) points.push_back(l->point);
            if (car_) points.push_back(*car_);
            view_.SetZoom(std::min(
                kMaxAutoZoom, FitZoom(view_.Centre(), points, width(), height(), kMapMarginPx)));
        }
    }
    update();
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
    // The user has taken the map: records no longer pull it back.
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

void GroundTrackPlot::paintEvent(QPaintEvent*) {
    const FlightState& s = analytics_.State();
    std::optional<LatLonDeg> landing;
    if (s.landing) landing = s.landing->point;
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
        v = MakeMapTrackView(view_, analytics_.EffectiveHome(), analytics_.Track(), landing);
        if (car) {
            for (const LatLonDeg& q : car->track) v.carTrack.push_back(view_.ToScreen(q));
            v.car = view_.ToScreen(car->position);
            v.carHeadingDeg = car->headingDeg;
        }
    } else {
        v = MakeGroundTrackView(analytics_.EffectiveHome(), analytics_.Track(), landing, width(),
                                height(), car);
    }

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
        p.drawText(QPointF(home.x() + 4, home.y() + small.pointSizeF() + 4),
                   QStringLiteral("Home"));
        p.setPen(QPen(c.text, map ? 2 : 1));
        Cross(p, home, 3);
    }
    if (v.landing) {
        p.setPen(QPen(c.landing, 2.5));
        Cross(p, QPointF(v.landing->x, v.landing->y), 6);
        if (v.last) {
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
        p.drawText(at + QPointF(8, small.pointSizeF() + 6), QStringLiteral("Auto"));
    }
    if (map) PaintScaleAndAttribution(p, attributions);
    attributions_ = attributions;
    p.setBrush(Qt::NoBrush);
    p.setPen(c.frame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

AltitudePlot::AltitudePlot(const FlightAnalytics& analytics, QWidget* parent)
    : QWidget(parent), analytics_(analytics) {
    setMinimumSize(200, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void AltitudePlot::paintEvent(QPaintEvent*) {
    const AltitudeView v =
        MakeAltitudeView(analytics_.Track(), analytics_.State(), width(), height());
    const PlotColours c(*this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), c.background);
    p.setPen(c.frame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    const QFontMetricsF fm(small);

    for (const AxisTick& t : v.altitudeTicks) {
        p.setPen(QPen(c.grid, 1));
        p.drawLine(QPointF(v.left, t.px), QPointF(v.right, t.px));
        p.setPen(c.text);
        const QString label = Q(t.label);
        p.drawText(QPointF(v.left - 4 - fm.horizontalAdvance(label), t.px + fm.ascent() / 2 - 1),
                   label);
    }
    for (const AxisTick& t : v.timeTicks) {
        p.setPen(QPen(c.grid, 1));
        p.drawLine(QPointF(t.px, v.top), QPointF(t.px, v.bottom));
        p.setPen(c.text);
        const QString label = Q(t.label);
        // The first label would run into the altitude labels: it starts at the axis instead.
        const double x = std::max(v.left, t.px - fm.horizontalAdvance(label) / 2);
        p.drawText(QPointF(x, v.bottom + fm.ascent() + 2), label);
    }
    if (v.profile.size() > 1) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(v.profile.size()));
        for (const PlotPoint& q : v.profile) line << QPointF(q.x, q.y);
        p.setPen(QPen(c.track, 1.5));
        p.drawPolyline(line);
    }
    if (v.landing && !v.profile.empty()) {
        p.setPen(QPen(c.landing, 1.5, Qt::DashLine));
        p.drawLine(QPointF(v.profile.back().x, v.profile.back().y),
                   QPointF(v.landing->x, v.landing->y));
        p.setPen(QPen(c.landing, 2.5));
        Cross(p, QPointF(v.landing->x, v.landing->y), 5);
    }
    if (v.burst) {
        const QPointF b(v.burst->x, v.burst->y);
        p.setPen(Qt::NoPen);
        p.setBrush(c.burst);
        QPolygonF star;
        for (int i = 0; i < 10; ++i) {
            const double a = i * std::numbers::pi / 5 - std::numbers::pi / 2, r = i % 2 ? 3.0 : 7.0;
            star << b + QPointF(r * std::cos(a), r * std::sin(a));
        }
        p.drawPolygon(star);
        p.setPen(c.text);
        const QString label = QStringLiteral("Platzer");
        const double x = std::min(b.x() + 8, v.right - fm.horizontalAdvance(label));
        p.drawText(QPointF(x, b.y() + fm.ascent() + 4), label);
    }
}

ChasePanel::ChasePanel(const ChaseSettings& fileSettings, const ChaseOptions& run,
                       std::string settingsPath, QWidget* parent)
    : QWidget(parent),
      file_(fileSettings),
      effective_(run.AppliedTo(fileSettings)),
      settingsPath_(std::move(settingsPath)),
      analytics_(effective_.analytics),
      alarms_(effective_.alarms),
      clock_(SteadyMs),
      beep_([] { QApplication::beep(); }) {
    setObjectName(QStringLiteral("chasepanel"));
    BuildControls();
    MakeTiles();
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("agetimer"));
    connect(timer_, &QTimer::timeout, this, &ChasePanel::Tick);
    timer_->start(kTickMs);
    UpdateDisplays();
    Tick();
}

void ChasePanel::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);

    alarmbt_ = new QPushButton(this);
    alarmbt_->setObjectName(QStringLiteral("alarmbt"));
    alarmbt_->setStyleSheet(QStringLiteral(
        "QPushButton { background: #c00000; color: white; font-weight: bold; padding: 6px; "
        "border: none; }"));
    alarmbt_->setToolTip(QStringLiteral("Klicken zum Quittieren"));
    alarmbt_->hide();
    connect(alarmbt_, &QPushButton::clicked, alarmbt_, &QWidget::hide);
    outer->addWidget(alarmbt_);

    auto* grid = new QGridLayout;
    int row = 0;
    auto value = [&](const QString& caption, const char* name, QLabel** captionOut = nullptr) {
        auto* cap = new QLabel(caption, this);
        auto* v = new QLabel(QStringLiteral("-"), this);
        v->setObjectName(QLatin1String(name));
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont f = v->font();
        f.setBold(true);
        v->setFont(f);
        grid->addWidget(cap, row, 0);
        grid->addWidget(v, row, 1);
        ++row;
        if (captionOut) *captionOut = cap;
        return v;
    };
    phaselb_ = value(QStringLiteral("Flugphase"), "phaselb");
    vavglb_ = value(QString(), "vavglb", &vavgcap_);
    maxaltlb_ = value(QStringLiteral("Höchste Höhe"), "maxaltlb");
    burstlb_ = value(QStringLiteral("Platzer"), "burstlb");
    tlandlb_ = value(QStringLiteral("Landung"), "tlandlb");
    landlb_ = value(QStringLiteral("Landepunkt"), "landlb");
    landdistlb_ = value(QStringLiteral("vom eigenen Standort"), "landdistlb");
    agelb_ = value(QStringLiteral("Datenalter"), "agelb");
    carprobelb_ = value(QStringLiteral("Ballon vom Auto"), "carprobelb");
    carelevlb_ = value(QStringLiteral("Erhebung zum Ballon"), "carelevlb");
    carlandlb_ = value(QStringLiteral("Landepunkt vom Auto"), "carlandlb");
    carlb_ = value(QStringLiteral("Auto"), "carlb");
    grid->setColumnStretch(1, 1);
    outer->addLayout(grid);

    auto* plots = new QHBoxLayout;
    trackimg_ = new GroundTrackPlot(analytics_, this);
    trackimg_->setObjectName(QStringLiteral("trackimg"));
    altimg_ = new AltitudePlot(analytics_, this);
    altimg_->setObjectName(QStringLiteral("altimg"));
    plots->addWidget(trackimg_, 1);
    plots->addWidget(altimg_, 1);
    outer->addLayout(plots, 1);

    auto* controls = new QGridLayout;
    const AlarmSettings& a = effective_.alarms;
    burstcb_ = new QCheckBox(QStringLiteral("Alarm bei Platzer"), this);
    burstcb_->setObjectName(QStringLiteral("burstcb"));
    burstcb_->setChecked(a.burstOn);
    landingcb_ = new QCheckBox(QStringLiteral("Alarm bei Landung näher als"), this);
    landingcb_->setObjectName(QStringLiteral("landingcb"));
    landingcb_->setChecked(a.landingOn);
    landingkmed_ = new QDoubleSpinBox(this);
    landingkmed_->setObjectName(QStringLiteral("landingkmed"));
    landingkmed_->setRange(0.1, 1000);
    landingkmed_->setDecimals(1);
    landingkmed_->setSuffix(QStringLiteral(" km"));
    landingkmed_->setValue(a.landingKm);
    nodatacb_ = new QCheckBox(QStringLiteral("Alarm ohne Daten seit"), this);
    nodatacb_->setObjectName(QStringLiteral("nodatacb"));
    nodatacb_->setChecked(a.noDataOn);
    nodataed_ = new QSpinBox(this);
    nodataed_->setObjectName(QStringLiteral("nodataed"));
    nodataed_->setRange(1, 86400);
    nodataed_->setSuffix(QStringLiteral(" s"));
    nodataed_->setValue(static_cast<int>(std::lround(a.noDataS)));
    landalted_ = new QSpinBox(this);
    landalted_->setObjectName(QStringLiteral("landalted"));
    landalted_->setRange(kAutoLandingAlt, 9000);
    landalted_->setSpecialValueText(QStringLiteral("auto"));
    landalted_->setSuffix(QStringLiteral(" m"));
    landalted_->setSingleStep(10);
    landalted_->setValue(effective_.analytics.landingAltM
                             ? static_cast<int>(std::lround(*effective_.analytics.landingAltM))
                             : kAutoLandingAlt);
    nightcb_ = new QCheckBox(QStringLiteral("Nachtmodus"), this);
    nightcb_->setObjectName(QStringLiteral("nightcb"));
    nightcb_->setChecked(effective_.nightTheme);

    controls->addWidget(burstcb_, 0, 0);
    controls->addWidget(nightcb_, 0, 1);
    controls->addWidget(landingcb_, 1, 0);
    controls->addWidget(landingkmed_, 1, 1);
    controls->addWidget(nodatacb_, 2, 0);
    controls->addWidget(nodataed_, 2, 1);
    controls->addWidget(new QLabel(QStringLiteral("Landehöhe"), this), 3, 0);
    controls->addWidget(landalted_, 3, 1);

    followcb_ = new QComboBox(this);
    followcb_->setObjectName(QStringLiteral("followcb"));
    followcb_->addItems({QStringLiteral("Aus"), QStringLiteral("Ballon"), QStringLiteral("Auto")});
    followcb_->setCurrentIndex(static_cast<int>(Follow::Probe));
    followcb_->setToolTip(QStringLiteral("Was die Karte mit jedem Datensatz in die Mitte rückt"));
    // "Auto" waits for the car's own position.
    if (auto* model = qobject_cast<QStandardItemModel*>(followcb_->model()))
        model->item(static_cast<int>(Follow::Car))->setEnabled(false);
    tilesed_ = new QLineEdit(QString::fromStdString(effective_.tilesUrl), this);
    tilesed_->setObjectName(QStringLiteral("tilesed"));
    tilesed_->setToolTip(QStringLiteral("Kachelserver mit {z}, {x} und {y}, oder none für keinen"));
    mbtilesed_ = new QLineEdit(QString::fromStdString(effective_.mbtilesPath), this);
    mbtilesed_->setObjectName(QStringLiteral("mbtilesed"));
    mbtilesed_->setPlaceholderText(QStringLiteral("keine"));
    mbtilesed_->setToolTip(QStringLiteral("Karte ohne Netz: MBTiles-Datei, vor dem Netz benutzt"));
    mbtilesbt_ = new QPushButton(QStringLiteral("…"), this);
    mbtilesbt_->setObjectName(QStringLiteral("mbtilesbt"));
    mbtilesbt_->setToolTip(QStringLiteral("MBTiles-Datei wählen"));
    auto* mbtilesRow = new QHBoxLayout;
    mbtilesRow->addWidget(mbtilesed_, 1);
    mbtilesRow->addWidget(mbtilesbt_);
    controls->addWidget(new QLabel(QStringLiteral("Folgen"), this), 4, 0);
    controls->addWidget(followcb_, 4, 1);
    controls->addWidget(new QLabel(QStringLiteral("Kachelserver"), this), 5, 0);
    controls->addWidget(tilesed_, 5, 1);
    controls->addWidget(new QLabel(QStringLiteral("MBTiles-Datei"), this), 6, 0);
    controls->addLayout(mbtilesRow, 6, 1);
    outer->addLayout(controls);
    chasemsglb_ = new QLabel(this);
    chasemsglb_->setObjectName(QStringLiteral("chasemsglb"));
    chasemsglb_->setWordWrap(true);
    chasemsglb_->hide();
    outer->addWidget(chasemsglb_);

    // Each control changes only its own setting, so a command-line value of another one is
    // never written to the file.
    connect(burstcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.burstOn = effective_.alarms.burstOn = on;
        UserChanged();
    });
    connect(landingcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.landingOn = effective_.alarms.landingOn = on;
        UserChanged();
    });
    connect(landingkmed_, &QDoubleSpinBox::valueChanged, this, [this](double km) {
        file_.alarms.landingKm = effective_.alarms.landingKm = km;
        UserChanged();
    });
    connect(nodatacb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.noDataOn = effective_.alarms.noDataOn = on;
        UserChanged();
    });
    connect(nodataed_, &QSpinBox::valueChanged, this, [this](int s) {
        file_.alarms.noDataS = effective_.alarms.noDataS = s;
        UserChanged();
    });
    connect(landalted_, &QSpinBox::valueChanged, this, [this](int m) {
        const std::optional<double> alt =
            m == kAutoLandingAlt ? std::nullopt : std::optional<double>(m);
        file_.analytics.landingAltM = effective_.analytics.landingAltM = alt;
        UserChanged();
    });
    connect(nightcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.nightTheme = effective_.nightTheme = on;
        ApplyNightTheme(window(), on);
        UserChanged();
        emit nightThemeChanged(on);
        trackimg_->update();
    });
    connect(followcb_, &QComboBox::currentIndexChanged, this,
            [this](int i) { trackimg_->SetFollow(static_cast<Follow>(i)); });
    connect(trackimg_, &GroundTrackPlot::followChanged, this,
            [this](Follow f) { followcb_->setCurrentIndex(static_cast<int>(f)); });
    connect(tilesed_, &QLineEdit::editingFinished, this, [this] {
        std::string url = tilesed_->text().trimmed().toStdString();
        if (url.empty()) url = kNoTiles;
        if (url == effective_.tilesUrl) return;
        if (!IsTileUrl(url)) {
            ShowMessage(QStringLiteral("Kachelserver: http(s)-Adresse mit {z}, {x} und {y} "
                                       "oder none, nicht \"%1\"")
                            .arg(tilesed_->text()));
            return;
        }
        file_.tilesUrl = effective_.tilesUrl = url;
        UserChanged();
        MakeTiles();
    });
    auto setFile = [this](const QString& path) {
        const std::string file = path.trimmed().toStdString();
        if (file == effective_.mbtilesPath) return;
        file_.mbtilesPath = effective_.mbtilesPath = file;
        UserChanged();
        MakeTiles();
    };
    connect(mbtilesed_, &QLineEdit::editingFinished, this,
            [this, setFile] { setFile(mbtilesed_->text()); });
    connect(mbtilesbt_, &QPushButton::clicked, this, [this, setFile] {
        const QString path =
            QFileDialog::getOpenFileName(this, QStringLiteral("MBTiles-Datei"), mbtilesed_->text(),
                                         QStringLiteral("MBTiles (*.mbtiles);;Alle Dateien (*)"));
        if (path.isEmpty()) return;
        mbtilesed_->setText(path);
        setFile(path);
    });
}

void ChasePanel::MakeTiles() {
    TileSources sources;
    if (effective_.tilesUrl != kNoTiles) sources.urlTemplate = Q(effective_.tilesUrl);
    sources.mbtilesPath = Q(effective_.mbtilesPath);
    sources.cacheDir = DefaultTileCacheDir();
    sources.userAgent = TileUserAgent();
    auto* old = tiles_;
    tiles_ = new TileLoader(sources, this);
    tiles_->setObjectName(QStringLiteral("tiles"));
    trackimg_->SetTiles(tiles_);
    delete old;
    // Without tiles the plot fits everything around home: nothing to follow.
    followcb_->setEnabled(tiles_->HasSource());
    if (!tiles_->FileProblem().isEmpty()) ShowMessage(tiles_->FileProblem());
    // What is wrong inside the file is known once it has been opened.
    connect(tiles_, &TileLoader::fileChecked, this, [this] {
        followcb_->setEnabled(tiles_->HasSource());
        if (!tiles_->FileProblem().isEmpty()) ShowMessage(tiles_->FileProblem());
    });
}

void ChasePanel::SetCarPosition(const std::optional<LatLonDeg>& car) {
    if (auto* model = qobject_cast<QStandardItemModel*>(followcb_->model()))
        model->item(static_cast<int>(Follow::Car))->setEnabled(car.has_value());
    trackimg_->SetCar(car);
}

void ChasePanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!themeApplied_ && effective_.nightTheme) ApplyNightTheme(window(), true);
    themeApplied_ = true;
}

void ChasePanel::UserChanged() {
    alarms_.SetSettings(effective_.alarms);
    analytics_.SetSettings(effective_.analytics);
    UpdateDisplays();
    if (settingsPath_.empty()) return;
    std::string error;
    ShowMessage(SaveChaseSettings(settingsPath_, file_, error) ? QString() : Q(error));
}

void ChasePanel::ShowMessage(const QString& text) {
    chasemsglb_->setText(text);
    chasemsglb_->setVisible(!text.isEmpty());
}

void ChasePanel::SetHomeLocator(std::string_view locator) {
    analytics_.SetHomeLocator(locator);
    UpdateDisplays();
}

void ChasePanel::SetCar(CarFixSource current, const CarTracker* tracker) {
    carFix_ = std::move(current);
    carTracker_ = tracker;
    analytics_.SetHomeSource([this]() -> std::optional<LatLonDeg> {
        const auto fix = carFix_ ? carFix_() : std::nullopt;
        return fix ? std::optional(fix->position) : std::nullopt;
    });
    trackimg_->SetCarSource([this]() -> std::optional<CarOnPlot> {
        const auto fix = carFix_ ? carFix_() : std::nullopt;
        if (!fix) return std::nullopt;
        CarOnPlot car;
        car.position = fix->position;
        car.headingDeg = MakeCarFigures(fix, FlightState{}).headingDeg;
        if (carTracker_) car.track.assign(carTracker_->Track().begin(), carTracker_->Track().end());
        return car;
    });
    CarMoved();
}

void ChasePanel::CarMoved() {
    const auto fix = carFix_ ? carFix_() : std::nullopt;
    SetCarPosition(fix ? std::optional(fix->position) : std::nullopt);
    analytics_.HomeMoved();
    UpdateDisplays();
}

void ChasePanel::SetGpsOn(bool on) {
    file_.gps.on = effective_.gps.on = on;
    UserChanged();
}

void ChasePanel::SetGpsServer(const std::string& server) {
    file_.gps.server = effective_.gps.server = server;
    UserChanged();
}

void ChasePanel::SetWaypoint(bool on) {
    file_.gps.waypoint = effective_.gps.waypoint = on;
    UserChanged();
}

void ChasePanel::OnRecord(const common::RelayedRecord& record) {
    age_.OnRecord(clock_());
    analytics_.AddRecord(record);
    UpdateDisplays();
    Fire(alarms_.OnRecord(analytics_.State()));
    Tick();
}

void ChasePanel::Tick() {
    const auto age = age_.Seconds(clock_());
    agelb_->setText(Q(DataAge::Text(age)));
    agelb_->setStyleSheet(age && *age > kStaleDataS ? QStringLiteral("color: #e00000;")
                                                    : QString());
    Fire(alarms_.OnTick(age));
}

void ChasePanel::Fire(const std::vector<Alarm>& alarms) {
    constexpr qsizetype kBannerLines = 3;
    for (const Alarm& a : alarms) {
        // Unacknowledged alarms stay on the banner, the newest on top.
        QStringList lines =
            alarmbt_->isHidden() ? QStringList() : alarmbt_->text().split(QLatin1Char('\n'));
        lines.prepend(QDateTime::currentDateTimeUtc().toString(QStringLiteral("hh:mm:ss 'UTC'  ")) +
                      Q(a.text));
        alarmbt_->setText(lines.mid(0, kBannerLines).join(QLatin1Char('\n')));
        alarmbt_->show();
        beep_();
    }
}

void ChasePanel::UpdateDisplays() {
    const FlightState& s = analytics_.State();
    static const char* const kPhase[] = {"-", "am Boden", "Aufstieg", "Abstieg"};
    phaselb_->setText(QString::fromUtf8(kPhase[static_cast<int>(s.phase)]));
    vavgcap_->setText(QStringLiteral("Vertikal Ø %1 s").arg(effective_.analytics.vrateWindowS));
    vavglb_->setText(s.vrateAvgMps ? Fixed(*s.vrateAvgMps, 1) + QStringLiteral(" m/s")
                                   : QStringLiteral("-"));
    maxaltlb_->setText(s.maxAltM ? Fixed(*s.maxAltM, 0) + QStringLiteral(" m")
                                 : QStringLiteral("-"));
    burstlb_->setText(s.burstAltM ? Fixed(*s.burstAltM, 0) + QStringLiteral(" m um ") +
                                        TimeOfDay(*s.burstTimeS) + QStringLiteral(" UTC")
                                  : QStringLiteral("-"));
    if (const auto& l = s.landing) {
        const int left = static_cast<int>(std::lround(l->secondsToLanding));
        tlandlb_->setText(s.phase == FlightPhase::Ground
                              ? QStringLiteral("gelandet")
                              : QStringLiteral("in %1 min %2 s, %3 UTC")
                                    .arg(left / 60)
                                    .arg(left % 60, 2, 10, QLatin1Char('0'))
                                    .arg(TimeOfDay(l->landingTimeS)));
        landlb_->setText(Q(l->locator) + QStringLiteral("   ") +
                         Coordinate(l->point.lat, 'N', 'S') + QStringLiteral("  ") +
                         Coordinate(l->point.lon, 'E', 'W'));
        long bearing = std::lround(l->bearingDeg);
        if (bearing >= 360) bearing = 0;
        landdistlb_->setText(Fixed(l->homeKm, 1) + QStringLiteral(" km, ") +
                             QString::number(bearing) + QStringLiteral("°"));
    } else {
        tlandlb_->setText(QStringLiteral("-"));
        landlb_->setText(QStringLiteral("-"));
        landdistlb_->setText(QStringLiteral("-"));
    }
    const CarFigures car = MakeCarFigures(carFix_ ? carFix_() : std::nullopt, s);
    auto distance = [](const std::optional<Geodesic>& g) {
        return g ? Fixed(g->km, 2) + QStringLiteral(" km, ") + Fixed(g->bearingDeg, 0) +
                       QStringLiteral("°")
                 : QStringLiteral("-");
    };
    carprobelb_->setText(distance(car.toProbe));
    carelevlb_->setText(car.probeElevationDeg
                            ? Fixed(*car.probeElevationDeg, 1) + QStringLiteral("°")
                            : QStringLiteral("-"));
    carlandlb_->setText(
        distance(car.toLanding) +
        (car.turnToLanding ? QStringLiteral(", ") + Q(*car.turnToLanding) : QString()));
    QString moving = QStringLiteral("-");
    if (car.fix && car.fix->speedKmh) {
        moving = Fixed(*car.fix->speedKmh, 0) + QStringLiteral(" km/h");
        if (car.headingDeg)
            moving += QStringLiteral(", Kurs ") + Fixed(*car.headingDeg, 0) + QStringLiteral("°");
    } else if (car.fix) {
        moving = QStringLiteral("Fix");
    }
    carlb_->setText(moving);
    trackimg_->Refresh();
    altimg_->update();
}

void ChasePanel::ApplyNightTheme(QWidget* window, bool on) {
    if (!window) return;
    if (!on) {
        window->setPalette(window->style()->standardPalette());
        return;
    }
    QPalette p;
    const QColor text(205, 200, 190);
    p.setColor(QPalette::Window, QColor(28, 28, 30));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(16, 16, 18));
    p.setColor(QPalette::AlternateBase, QColor(36, 36, 38));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(44, 44, 46));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 90, 90));
    p.setColor(QPalette::Highlight, QColor(120, 70, 40));
    p.setColor(QPalette::HighlightedText, QColor(240, 230, 220));
    p.setColor(QPalette::ToolTipBase, QColor(44, 44, 46));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(150, 145, 135));
    p.setColor(QPalette::Mid, QColor(70, 70, 72));
    p.setColor(QPalette::Dark, QColor(20, 20, 20));
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(110, 110, 110));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(110, 110, 110));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(110, 110, 110));
    window->setPalette(p);
}

}  // namespace monitor
