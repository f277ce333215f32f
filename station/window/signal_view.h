// Spectrum (0-3000 Hz, newest capture block) above a 30 s waterfall, with the two tones in use
// marked. The data comes from Spectrum and Waterfall; this widget only paints it.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <vector>

#include "station/signal/signal_figures.h"
#include "station/signal/waterfall.h"

namespace station {

class SignalView : public QWidget {
    Q_OBJECT
  public:
    explicit SignalView(QWidget* parent = nullptr);

    // After every capture block: the spectrum of the newest samples, a new waterfall row,
    // a repaint.
    void AddBlock(const SignalMeter& meter);
    void SetTones(double lowHz, double highHz);

    const Spectrum& spectrum() const noexcept { return spectrum_; }
    const Waterfall& waterfall() const noexcept { return waterfall_; }

    QSize sizeHint() const override { return {440, 240}; }
    QSize minimumSizeHint() const override { return {240, 160}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    static constexpr int kSpectrumHeight = 80;  // pixels, above the axis
    static constexpr int kAxisHeight = 16;      // pixels, frequency labels

    double XOf(double hz, int width) const;

    Spectrum spectrum_;
    Waterfall waterfall_;
    std::vector<std::int16_t> newest_;
    // The waterfall's colours, one image row per spectrum; row newestRow_ is the newest, the
    // rows after it (wrapping) older and older.
    QImage rows_;
    int newestRow_ = 0;
    double lowHz_ = 1200, highHz_ = 2400;
};

}  // namespace station
