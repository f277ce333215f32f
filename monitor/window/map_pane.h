// The chase window's main area: the alarm banner above the map and, over the map, the button
// that shows it alone on the full screen and, while it does, the followed flight's altitude,
// distance and data age in large figures.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

namespace monitor {

class GroundTrackPlot;
class MonitorCore;

class MapPane : public QWidget {
    Q_OBJECT
  public:
    explicit MapPane(const MonitorCore& core, QWidget* parent = nullptr);

    QPushButton* Banner() const { return banner_; }
    GroundTrackPlot* Map() const { return map_; }
    QToolButton* FullScreenButton() const { return fullbt_; }

    // The figures over the map; `stale` data shows its age in red.
    void SetFigures(const QString& altitude, const QString& distance, const QString& age,
                    bool stale);
    // The figures show while the map is alone on the screen.
    void ShowFigures(bool on);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void PlaceOverMap();

    QPushButton* banner_ = nullptr;
    GroundTrackPlot* map_ = nullptr;
    QToolButton* fullbt_ = nullptr;
    QWidget* figures_ = nullptr;
    QLabel* altitude_ = nullptr;
    QLabel* distance_ = nullptr;
    QLabel* age_ = nullptr;
};

}  // namespace monitor
