#include "monitor/window/plot_style.h"

#include <QPainter>
#include <QWidget>

namespace monitor {

bool IsDark(const QWidget& w) {
    return w.palette().color(QPalette::Base).lightness() < 128;
}

PlotColours::PlotColours(const QWidget& w) {
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

void Cross(QPainter& p, QPointF c, double r) {
    p.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
    p.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
}

}  // namespace monitor
