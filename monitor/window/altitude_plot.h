// The chase panel's altitude plot.
#pragma once

#include <QWidget>

#include "monitor/chase/flight_analytics.h"

namespace monitor {

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

}  // namespace monitor
