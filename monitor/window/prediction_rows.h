// The chase panel's part in the predictions: its rows for the burst altitude ("Platzhöhe") and
// sink rate assumed before the burst, the weather model's file ("Modellwinde", whose winds it
// loads and hands to the core), and a prediction before launch ("Vorhersage": a launch point
// and time, the ascent rate); and the texts that say what a prediction assumes.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "monitor/chase/chase_settings.h"
#include "monitor/flights/monitor_core.h"

class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QWidget;

namespace monitor {

// "7.4 m/s, gelernt (Exponent -0.31)", "5.1 m/s, Standardgesetz"; "-" while not falling.
QString DescentLawText(const FlightState& s);
// What a prediction assumes: the ascent rate, burst altitude and sink rate, where the winds
// come from.
QString AssumptionsText(const Prediction& p);

class PredictionRows : public QObject {
    Q_OBJECT
  public:
    using Clock = std::function<double()>;  // seconds since 1970
    using Home = std::function<LatLonDeg()>;

    // `file` and `effective` are the panel's settings, which the rows change; the core gets the
    // model's winds. Loads the file the settings name.
    PredictionRows(ChaseSettings& file, ChaseSettings& effective, MonitorCore& core, Home home,
                   Clock clock, QWidget* parent);

    // Adds the rows to `grid` from `row` on; returns the next free row.
    int AddRows(QGridLayout& grid, int row);

    const std::optional<Prediction>& LaunchPrediction() const { return launch_; }
    // The model's winds in use, or none.
    const std::shared_ptr<const WindField>& Winds() const { return winds_; }

  signals:
    // A setting changed: the panel keeps it and applies it.
    void settingsChanged();
    void launchPredicted();

  public slots:
    // "Vorhersage".
    void Predict();

  private:
    void LoadWinds();
    QString DefaultLaunch() const;

    ChaseSettings& file_;
    ChaseSettings& effective_;
    MonitorCore& core_;
    Home home_;
    Clock clock_;
    std::shared_ptr<const WindField> winds_;
    std::optional<Prediction> launch_;
    QWidget* parent_;
    QSpinBox* burstalted_ = nullptr;
    QDoubleSpinBox* descented_ = nullptr;
    QDoubleSpinBox* ascented_ = nullptr;
    QLineEdit* windsed_ = nullptr;
    QPushButton* windsbt_ = nullptr;
    QLabel* windslb_ = nullptr;
    QLineEdit* launched_ = nullptr;
    QPushButton* predictbt_ = nullptr;
    QLabel* predictlb_ = nullptr;
};

}  // namespace monitor
