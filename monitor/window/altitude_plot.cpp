#include "monitor/window/altitude_plot.h"

#include <QCoreApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "monitor/chase/chase_plots.h"
#include "monitor/window/plot_style.h"

namespace monitor {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

AltitudePlot::AltitudePlot(const MonitorCore& core, QWidget* parent)
    : QWidget(parent), core_(core) {
    setMinimumSize(200, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void AltitudePlot::paintEvent(QPaintEvent*) {
    const FlightAnalytics& followed = core_.FollowedAnalytics();
    const AltitudeView v = MakeAltitudeView(followed.Track(), followed.State(), width(), height());
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
        const QString label = QCoreApplication::translate("monitor::AltitudePlot", "Platzer");
        const double x = std::min(b.x() + 8, v.right - fm.horizontalAdvance(label));
        p.drawText(QPointF(x, b.y() + fm.ascent() + 4), label);
    }
}

}  // namespace monitor
