#include "monitor/window/map_pane.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "monitor/window/ground_track_plot.h"

namespace monitor {

namespace {

constexpr int kOverMapPx = 10;  // room between the map's edge and what lies over it
constexpr int kBannerPt = 14;   // the banner reads from the driver's seat
constexpr int kFigurePt = 22;   // the figures over the map, likewise
constexpr int kCaptionPt = 10;

}  // namespace

MapPane::MapPane(const MonitorCore& core, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("mappane"));
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(2);

    banner_ = new QPushButton(this);
    banner_->setObjectName(QStringLiteral("alarmbt"));
    banner_->setStyleSheet(
        QStringLiteral(
            "QPushButton { background: #c00000; color: white; font-weight: bold; padding: 6px; "
            "border: none; font-size: %1pt; }")
            .arg(kBannerPt));
    banner_->setToolTip(tr("Klicken zum Quittieren"));
    banner_->hide();
    // A long alarm text never widens the window: the banner is as wide as the map.
    banner_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connect(banner_, &QPushButton::clicked, banner_, &QWidget::hide);
    rows->addWidget(banner_);

    map_ = new GroundTrackPlot(core, this);
    map_->setObjectName(QStringLiteral("trackimg"));
    map_->installEventFilter(this);
    rows->addWidget(map_, 1);

    fullbt_ = new QToolButton(this);
    fullbt_->setObjectName(QStringLiteral("fullmapbt"));
    fullbt_->setToolButtonStyle(Qt::ToolButtonTextOnly);

    figures_ = new QWidget(this);
    figures_->setObjectName(QStringLiteral("mapfigures"));
    figures_->setAttribute(Qt::WA_StyledBackground);
    figures_->setStyleSheet(
        QStringLiteral("#mapfigures { background: rgba(0, 0, 0, 160); border-radius: 6px; } "
                       "QLabel { color: white; background: transparent; }"));
    auto* grid = new QGridLayout(figures_);
    grid->setHorizontalSpacing(18);
    auto figure = [&](int column, const QString& caption, const char* name) {
        auto* cap = new QLabel(caption, figures_);
        QFont small = cap->font();
        small.setPointSize(kCaptionPt);
        cap->setFont(small);
        auto* value = new QLabel(QStringLiteral("-"), figures_);
        value->setObjectName(QLatin1String(name));
        QFont big = value->font();
        big.setPointSize(kFigurePt);
        big.setBold(true);
        value->setFont(big);
        grid->addWidget(cap, 0, column);
        grid->addWidget(value, 1, column);
        return value;
    };
    altitude_ = figure(0, tr("Höhe"), "mapaltlb");
    distance_ = figure(1, tr("Entfernung"), "mapdistlb");
    age_ = figure(2, tr("Datenalter"), "mapagelb");
    figures_->hide();
}

void MapPane::SetFigures(const QString& altitude, const QString& distance, const QString& age,
                         bool stale) {
    altitude_->setText(altitude);
    distance_->setText(distance);
    age_->setText(age);
    age_->setStyleSheet(stale ? QStringLiteral("color: #ff5050;") : QString());
    figures_->adjustSize();
    PlaceOverMap();
}

void MapPane::ShowFigures(bool on) {
    figures_->setVisible(on);
    PlaceOverMap();
}

bool MapPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == map_ && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        PlaceOverMap();
    return QWidget::eventFilter(watched, event);
}

void MapPane::PlaceOverMap() {
    const QRect m = map_->geometry();
    fullbt_->adjustSize();
    fullbt_->move(m.right() - fullbt_->width() - kOverMapPx, m.top() + kOverMapPx);
    fullbt_->raise();
    figures_->adjustSize();
    figures_->move(m.left() + kOverMapPx, m.top() + kOverMapPx);
    figures_->raise();
}

}  // namespace monitor
