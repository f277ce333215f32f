#include "monitor/window/prediction_rows.h"

#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <cmath>

#include "common/geo.h"
#include "common/numbers.h"
#include "monitor/io/grib_winds.h"
#include "monitor/options.h"

namespace monitor {

namespace {

QString Fixed(double v, int decimals) {
    return QString::fromStdString(common::FormatFixed(v, 15, decimals));
}

QString WindsText(WindsUsed w) {
    switch (w) {
        case WindsUsed::Model:
            return PredictionRows::tr("Modell");
        case WindsUsed::Mixed:
            return PredictionRows::tr("gemessen + Modell");
        case WindsUsed::Measured:
            break;
    }
    return PredictionRows::tr("gemessen");
}

QString Coordinates(const LatLonDeg& p) {
    return Fixed(std::abs(p.lat), 5) +
           (p.lat < 0 ? QStringLiteral(" S  ") : QStringLiteral(" N  ")) +
           Fixed(std::abs(p.lon), 5) + (p.lon < 0 ? QStringLiteral(" W") : QStringLiteral(" E"));
}

}  // namespace

QString DescentLawText(const FlightState& s) {
    if (!s.descentLaw) return QStringLiteral("-");
    const QString rate = Fixed(s.descentLaw->seaLevelMps, 1);
    if (!s.descentLearnt) return PredictionRows::tr("%1 m/s, Standardgesetz").arg(rate);
    return PredictionRows::tr("%1 m/s, gelernt (Exponent %2)")
        .arg(rate, Fixed(s.descentLaw->exponent, 2));
}

QString AssumptionsText(const Prediction& p) {
    QString text;
    if (p.kind == PredictionKind::Ascent)
        text = PredictionRows::tr("steigt %1 m/s bis %2 m, sinkt %3 m/s am Boden")
                   .arg(Fixed(p.ascentMps, 1), Fixed(p.burstAltM.value_or(0), 0),
                        Fixed(p.descent.seaLevelMps, 1));
    else
        text = PredictionRows::tr("sinkt wie gemessen");
    return PredictionRows::tr("%1; Winde %2").arg(text, WindsText(p.winds));
}

PredictionRows::PredictionRows(ChaseSettings& file, ChaseSettings& effective, MonitorCore& core,
                               Home home, Clock clock, QWidget* parent)
    : QObject(parent),
      file_(file),
      effective_(effective),
      core_(core),
      home_(std::move(home)),
      clock_(std::move(clock)),
      parent_(parent) {}

int PredictionRows::AddRows(QGridLayout& grid, int row) {
    burstalted_ = new QSpinBox(parent_);
    burstalted_->setObjectName(QStringLiteral("burstalted"));
    burstalted_->setRange(1000, 50000);
    burstalted_->setSingleStep(500);
    burstalted_->setSuffix(QStringLiteral(" m"));
    burstalted_->setToolTip(tr("Platzhöhe, die die Vorhersage vor dem Platzer annimmt"));
    burstalted_->setValue(static_cast<int>(std::lround(effective_.analytics.burstAltM)));
    grid.addWidget(new QLabel(tr("Platzhöhe"), parent_), row, 0);
    grid.addWidget(burstalted_, row++, 1);
    connect(burstalted_, &QSpinBox::valueChanged, this, [this](int m) {
        file_.analytics.burstAltM = effective_.analytics.burstAltM = m;
        emit settingsChanged();
    });

    descented_ = new QDoubleSpinBox(parent_);
    descented_->setObjectName(QStringLiteral("descented"));
    descented_->setRange(1, 30);
    descented_->setDecimals(1);
    descented_->setSingleStep(0.5);
    descented_->setSuffix(QStringLiteral(" m/s"));
    descented_->setToolTip(
        tr("Sinkrate am Boden, die die Vorhersage vor dem Platzer annimmt; "
           "in dünnerer Luft schneller (Standardgesetz)"));
    descented_->setValue(effective_.analytics.descentRateMps);
    grid.addWidget(new QLabel(tr("Sinkrate"), parent_), row, 0);
    grid.addWidget(descented_, row++, 1);
    connect(descented_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        file_.analytics.descentRateMps = effective_.analytics.descentRateMps = v;
        emit settingsChanged();
    });

    windsed_ = new QLineEdit(QString::fromStdString(effective_.windsPath), parent_);
    windsed_->setObjectName(QStringLiteral("windsed"));
    windsed_->setPlaceholderText(tr("keine"));
    windsed_->setToolTip(
        tr("GRIB-Datei eines Wettermodells: u, v und geopotentielle Höhe auf Druckflächen; "
           "vor der Jagd holen, das Programm lädt nichts herunter"));
    windsbt_ = new QPushButton(QStringLiteral("…"), parent_);
    windsbt_->setObjectName(QStringLiteral("windsbt"));
    windsbt_->setToolTip(tr("GRIB-Datei wählen"));
    auto* windsRow = new QHBoxLayout;
    windsRow->addWidget(windsed_, 1);
    windsRow->addWidget(windsbt_);
    grid.addWidget(new QLabel(tr("Modellwinde"), parent_), row, 0);
    grid.addLayout(windsRow, row++, 1);
    windslb_ = new QLabel(parent_);
    windslb_->setObjectName(QStringLiteral("windslb"));
    windslb_->setWordWrap(true);
    grid.addWidget(windslb_, row++, 0, 1, 2);
    auto setFile = [this](const QString& path) {
        const std::string file = path.trimmed().toStdString();
        if (file == effective_.windsPath && (winds_ || file.empty())) return;
        file_.windsPath = effective_.windsPath = file;
        LoadWinds();
        emit settingsChanged();
    };
    connect(windsed_, &QLineEdit::editingFinished, this,
            [this, setFile] { setFile(windsed_->text()); });
    connect(windsbt_, &QPushButton::clicked, this, [this, setFile] {
        const QString path = QFileDialog::getOpenFileName(
            parent_, tr("Modellwinde"), windsed_->text(),
            tr("GRIB (*.grib2 *.grb2 *.grib *.grb);;Alle Dateien (*)"));
        if (path.isEmpty()) return;
        windsed_->setText(path);
        setFile(path);
    });

    ascented_ = new QDoubleSpinBox(parent_);
    ascented_->setObjectName(QStringLiteral("ascented"));
    ascented_->setRange(0.5, 20);
    ascented_->setDecimals(1);
    ascented_->setSingleStep(0.5);
    ascented_->setSuffix(QStringLiteral(" m/s"));
    ascented_->setToolTip(tr("Steigrate der Vorhersage vor dem Start"));
    ascented_->setValue(effective_.analytics.ascentRateMps);
    grid.addWidget(new QLabel(tr("Steigrate"), parent_), row, 0);
    grid.addWidget(ascented_, row++, 1);
    connect(ascented_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        file_.analytics.ascentRateMps = effective_.analytics.ascentRateMps = v;
        emit settingsChanged();
    });

    launched_ = new QLineEdit(DefaultLaunch(), parent_);
    launched_->setObjectName(QStringLiteral("launched"));
    launched_->setToolTip(tr("Startort und Startzeit: Breite,Länge,JJJJ-MM-TTTHH:MMZ (UTC)"));
    predictbt_ = new QPushButton(tr("Vorhersage"), parent_);
    predictbt_->setObjectName(QStringLiteral("predictbt"));
    auto* launchRow = new QHBoxLayout;
    launchRow->addWidget(launched_, 1);
    launchRow->addWidget(predictbt_);
    grid.addWidget(new QLabel(tr("Start"), parent_), row, 0);
    grid.addLayout(launchRow, row++, 1);
    predictlb_ = new QLabel(parent_);
    predictlb_->setObjectName(QStringLiteral("predictlb"));
    predictlb_->setWordWrap(true);
    predictlb_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid.addWidget(predictlb_, row++, 0, 1, 2);
    connect(predictbt_, &QPushButton::clicked, this, &PredictionRows::Predict);
    connect(launched_, &QLineEdit::returnPressed, this, &PredictionRows::Predict);

    LoadWinds();
    return row;
}

QString PredictionRows::DefaultLaunch() const {
    const LatLonDeg home = home_();
    // The next full hour.
    const double next = (std::floor(clock_() / 3600) + 1) * 3600;
    const std::string utc = UtcText(next);
    return Fixed(home.lat, 5) + QLatin1Char(',') + Fixed(home.lon, 5) + QLatin1Char(',') +
           QString::fromStdString(utc.substr(0, 10) + "T" + utc.substr(11, 5) + "Z");
}

void PredictionRows::LoadWinds() {
    winds_.reset();
    if (!effective_.windsPath.empty()) {
        std::string error;
        winds_ = ReadGribWinds(effective_.windsPath, error);
        windslb_->setText(winds_ ? QString::fromStdString(winds_->Describe())
                                 : QString::fromStdString(error));
        windslb_->setStyleSheet(winds_ ? QString() : QStringLiteral("color: #e00000;"));
    } else {
        windslb_->setText(QString());
    }
    windslb_->setVisible(!windslb_->text().isEmpty());
    core_.SetModelWinds(winds_);
}

void PredictionRows::Predict() {
    launch_.reset();
    const auto launch = ParseLaunch(launched_->text().trimmed().toStdString());
    QString text;
    if (!launch) {
        text = tr("Start: Breite,Länge,JJJJ-MM-TTTHH:MMZ, nicht \"%1\"").arg(launched_->text());
    } else if (!winds_) {
        text = tr("Die Vorhersage braucht Modellwinde (GRIB-Datei)");
    } else {
        TrajectoryPoint stopped;
        const auto t =
            PredictLaunch(*winds_, launch->point, launch->unixS, effective_.analytics, &stopped);
        if (!t) {
            text = tr("Keine Modellwinde bei %1, %2 m, %3 UTC")
                       .arg(Coordinates(stopped.position), Fixed(stopped.altitudeM, 0),
                            QString::fromStdString(UtcText(stopped.timeS).substr(11, 5)));
        } else {
            launch_ = MakePrediction(*t, LaunchPlan(effective_.analytics), launch->unixS);
            const int minutes = static_cast<int>(std::lround(launch_->secondsToLanding / 60));
            const common::Geodesic g = common::GeodesicBetween(home_(), launch_->point);
            text = tr("Landung %1 UTC nach %2 h %3 min: %4, %5 km, %6° vom eigenen "
                      "Standort")
                       .arg(QString::fromStdString(UtcText(launch_->landingTimeS).substr(11, 8)))
                       .arg(minutes / 60)
                       .arg(minutes % 60, 2, 10, QLatin1Char('0'))
                       .arg(Coordinates(launch_->point), Fixed(g.km, 1),
                            QString::number(common::ShownBearing(g.bearingDeg, 0)));
        }
    }
    predictlb_->setText(text);
    emit launchPredicted();
}

}  // namespace monitor
