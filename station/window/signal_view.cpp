#include "station/window/signal_view.h"

#include <QPainter>
#include <QPainterPath>

namespace station {

namespace {
const QColor kBackground(12, 12, 20);
const QColor kTrace(120, 230, 120);
const QColor kGrid(70, 70, 90);
const QColor kToneMark(255, 80, 200);
constexpr double kGridHz = 500.0;
}  // namespace

SignalView::SignalView(QWidget* parent)
    : QWidget(parent),
      newest_(Spectrum::kFftSize),
      rows_(Spectrum::kBins, Waterfall::kRows, QImage::Format_RGB32) {
    rows_.fill(Qt::black);
    setObjectName(QStringLiteral("signalView"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SignalView::SetTones(double lowHz, double highHz) {
    if (lowHz == lowHz_ && highHz == highHz_) return;
    lowHz_ = lowHz;
    highHz_ = highHz;
    update();
}

void SignalView::AddBlock(const SignalMeter& meter) {
    spectrum_.Process(meter.CopyNewest(newest_));
    waterfall_.Add(spectrum_.Current());
    newestRow_ = newestRow_ == 0 ? Waterfall::kRows - 1 : newestRow_ - 1;
    auto* line = reinterpret_cast<QRgb*>(rows_.scanLine(newestRow_));
    const Spectrum::Row& row = spectrum_.Current();
    for (int k = 0; k < Spectrum::kBins; ++k)
        line[k] = 0xFF000000U | WaterfallColour(waterfall_.Scale(row[static_cast<std::size_t>(k)]));
    update();
}

double SignalView::XOf(double hz, int width) const {
    return hz / Spectrum::kTopHz * width;
}

void SignalView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const int w = width();
    p.fillRect(rect(), kBackground);
    const QRect curve(0, 0, w, kSpectrumHeight);
    const QRect axis(0, kSpectrumHeight, w, kAxisHeight);
    const QRect fall(0, kSpectrumHeight + kAxisHeight, w,
                     std::max(0, height() - kSpectrumHeight - kAxisHeight));

    // Waterfall: newest row at the top, the ring drawn in two pieces.
    const double rowHeight = double(fall.height()) / Waterfall::kRows;
    const int upper = Waterfall::kRows - newestRow_;
    p.drawImage(QRectF(0, fall.top(), w, upper * rowHeight), rows_,
                QRectF(0, newestRow_, Spectrum::kBins, upper));
    if (newestRow_ > 0)
        p.drawImage(QRectF(0, fall.top() + upper * rowHeight, w, newestRow_ * rowHeight), rows_,
                    QRectF(0, 0, Spectrum::kBins, newestRow_));

    // Grid and frequency labels.
    QFont small = font();
    small.setPointSize(7);
    p.setFont(small);
    for (double hz = 0; hz <= Spectrum::kTopHz; hz += kGridHz) {
        const double x = XOf(hz, w);
        p.setPen(kGrid);
        p.drawLine(QPointF(x, curve.top()), QPointF(x, curve.bottom()));
        p.setPen(Qt::lightGray);
        const QString label = QString::number(hz, 'f', 0);
        const int tw = p.fontMetrics().horizontalAdvance(label);
        const double left = std::clamp(x - tw / 2.0, 0.0, double(w - tw));
        p.drawText(QPointF(left, axis.bottom() - 3), label);
    }

    // The current spectrum on the waterfall's colour scale.
    if (waterfall_.Count() > 0) {
        QPainterPath trace;
        const Spectrum::Row& row = spectrum_.Current();
        for (int k = 0; k < Spectrum::kBins; ++k) {
            const double x = XOf(Spectrum::BinHz(k), w);
            const double y = curve.bottom() - waterfall_.Scale(row[static_cast<std::size_t>(k)]) *
                                                  (curve.height() - 2);
            if (k == 0)
                trace.moveTo(x, y);
            else
                trace.lineTo(x, y);
        }
        p.setPen(QPen(kTrace, 1));
        p.drawPath(trace);
    }

    // The tones the demodulator listens for.
    QPen mark(kToneMark, 1, Qt::DashLine);
    for (double hz : {lowHz_, highHz_}) {
        const double x = XOf(hz, w);
        p.setPen(mark);
        p.drawLine(QPointF(x, curve.top()), QPointF(x, fall.bottom()));
        p.setPen(kToneMark);
        p.drawText(QPointF(x + 3, curve.top() + 10), QString::number(hz, 'f', 0));
    }
}

}  // namespace station
