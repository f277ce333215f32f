// The chase panel's altitude plot.
#pragma once

#include <QWidget>

#include "monitor/flights/monitor_core.h"

namespace monitor {

// Altitude over GPS time, the burst marked, the estimated fall to the landing dashed.
class AltitudePlot : public QWidget {
  public:
    explicit AltitudePlot(const MonitorCore& core, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {300, 200}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const MonitorCore& core_;
};

}  // namespace monitor
