// What the ground-track and altitude plots draw alike: their colours on the day and night
// palettes and the cross that marks home and the landing estimate.
#pragma once

#include <QColor>
#include <QPointF>

class QPainter;
class QWidget;

namespace monitor {

// The night theme's palette (or any dark one) is in effect on `w`.
bool IsDark(const QWidget& w);

// Colours that read on the day palette and, dimmer, on the night one.
struct PlotColours {
    QColor background, frame, grid, text, track, last, landing, burst;
    explicit PlotColours(const QWidget& w);
};

// An x of half-width `r` pixels centred on `c`, in the painter's pen.
void Cross(QPainter& p, QPointF c, double r);

}  // namespace monitor
