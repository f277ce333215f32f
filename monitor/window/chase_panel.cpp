#include "monitor/window/chase_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>
#include <cstdlib>

#include "common/geo.h"
#include "common/gui/night_theme.h"
#include "common/locator.h"
#include "common/numbers.h"
#include "monitor/chase/chase_plots.h"
#include "monitor/io/desktop_notifier.h"
#include "monitor/io/tile_loader.h"
#include "monitor/window/altitude_plot.h"
#include "monitor/window/fit_label.h"
#include "monitor/window/flights_list.h"
#include "monitor/window/map_pane.h"
#include "monitor/window/prediction_rows.h"
#include "monitor/window/wheel_guard.h"

namespace monitor {

namespace {

constexpr int kTickMs = 1000;
constexpr int kAutoLandingAlt = -501;  // the landing-altitude box's "auto"

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A bearing in whole degrees, 359.6 as 0, never 360.
QString Degrees(double bearingDeg) {
    return QString::number(common::ShownBearing(bearingDeg, 0)) + QStringLiteral("°");
}

// A number too long to be a reading (1e300 in a record) shows as "-" and never widens the panel.
QString Fixed(double v, int decimals) {
    return WithinNumberLength(Q(common::FormatFixed(v, 15, decimals)));
}

QString TimeOfDay(double flightS) {
    const int s = static_cast<int>(std::fmod(std::floor(flightS), 86400.0));
    return QTime(0, 0).addSecs(s).toString(QStringLiteral("hh:mm:ss"));
}

QString Coordinate(double deg, char positive, char negative) {
    return Fixed(std::abs(deg), 5) + QLatin1Char(' ') + QLatin1Char(deg < 0 ? negative : positive);
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The car's turn towards the landing point in the window's language.
QString Turn(double headingDeg, double bearingDeg) {
    const long turn = TurnDegrees(headingDeg, bearingDeg);
    if (turn == 0) return ChasePanel::tr("geradeaus");
    return (turn > 0 ? ChasePanel::tr("%1° rechts") : ChasePanel::tr("%1° links"))
        .arg(std::labs(turn));
}

}  // namespace

ChasePanel::ChasePanel(MonitorCore& core, const ChaseSettings& fileSettings,
                       const ChaseOptions& run, std::string settingsPath, QWidget* parent)
    : QWidget(parent),
      file_(fileSettings),
      effective_(run.AppliedTo(fileSettings)),
      settingsPath_(std::move(settingsPath)),
      core_(core),
      clock_(SteadyMs),
      wallClock_(WallSeconds),
      beep_([] { QApplication::beep(); }) {
    setObjectName(QStringLiteral("chasepanel"));
    ApplySettings();
    BuildControls();
    GuardWheel(this);
    MakeTiles();
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("agetimer"));
    connect(timer_, &QTimer::timeout, this, &ChasePanel::Tick);
    timer_->start(kTickMs);
    UpdateDisplays();
    Tick();
}
void ChasePanel::BuildControls() {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    mappane_ = new MapPane(core_, this);
    alarmbt_ = mappane_->Banner();
    trackimg_ = mappane_->Map();
    outer->addWidget(mappane_, 1);
    AddValues(*outer);
    flightslist_ = new FlightsList(
        core_, [this] { return wallClock_(); }, this);
    flightslist_->setObjectName(QStringLiteral("flights"));
    connect(flightslist_, &FlightsList::followChosen, this, &ChasePanel::UpdateDisplays);
    outer->addWidget(flightslist_);
    altimg_ = new AltitudePlot(core_, this);
    altimg_->setObjectName(QStringLiteral("altimg"));
    outer->addWidget(altimg_);

    auto* controls = new QGridLayout;
    AddBurstAlarmRow(*controls, 0);
    AddLandingAlarmRow(*controls, 1);
    AddNoDataAlarmRow(*controls, 2);
    AddLandingAltitudeRow(*controls, 3);
    AddNightThemeSwitch(*controls, 0, 1);
    AddFollowRow(*controls, 4);
    AddTileServerRow(*controls, 5);
    AddMbtilesRow(*controls, 6);
    AddFlightEndRow(*controls, 7);
    AddNotificationSwitch(*controls, 8);
    predictions_ = new PredictionRows(
        file_, effective_, core_, [this] { return Home(); }, [this] { return wallClock_(); }, this);
    predictions_->AddRows(*controls, 9);
    connect(predictions_, &PredictionRows::settingsChanged, this, &ChasePanel::UserChanged);
    connect(predictions_, &PredictionRows::launchPredicted, this,
            [this] { trackimg_->SetLaunchPrediction(predictions_->LaunchPrediction()); });
    outer->addLayout(controls);
    AddMessageLine(*outer);
}

MapPane* ChasePanel::TakeMapPane() {
    layout()->removeWidget(mappane_);
    return mappane_;
}

void ChasePanel::AddValues(QVBoxLayout& outer) {
    auto* grid = new QGridLayout;
    int row = 0;
    auto value = [&](const QString& caption, const char* name, QLabel** captionOut = nullptr) {
        auto* cap = new QLabel(caption, this);
        auto* v = new QLabel(QStringLiteral("-"), this);
        v->setObjectName(QLatin1String(name));
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // A long value (the assumptions, a predicted landing) takes a second line rather than
        // widening the column over the map or running out of it.
        v->setWordWrap(true);
        QFont f = v->font();
        f.setBold(true);
        v->setFont(f);
        grid->addWidget(cap, row, 0);
        grid->addWidget(v, row, 1);
        ++row;
        if (captionOut) *captionOut = cap;
        return v;
    };
    phaselb_ = value(tr("Flugphase"), "phaselb");
    vavglb_ = value(QString(), "vavglb", &vavgcap_);
    maxaltlb_ = value(tr("Höchste Höhe"), "maxaltlb");
    burstlb_ = value(tr("Platzer"), "burstlb");
    sinklb_ = value(tr("Sinkrate Boden"), "sinklb");
    tlandlb_ = value(tr("Landung"), "tlandlb");
    landlb_ = value(tr("Landepunkt"), "landlb");
    landdistlb_ = value(tr("vom eigenen Standort"), "landdistlb");
    assumelb_ = value(tr("Annahmen"), "assumelb");
    agelb_ = value(tr("Datenalter"), "agelb");
    carprobelb_ = value(tr("Ballon vom Auto"), "carprobelb");
    carelevlb_ = value(tr("Erhebung zum Ballon"), "carelevlb");
    carlandlb_ = value(tr("Landepunkt vom Auto"), "carlandlb");
    carlb_ = value(tr("Auto"), "carlb");
    grid->setColumnStretch(1, 1);
    outer.addLayout(grid);
}

void ChasePanel::AddBurstAlarmRow(QGridLayout& controls, int row) {
    burstcb_ = new QCheckBox(tr("Alarm bei Platzer"), this);
    burstcb_->setObjectName(QStringLiteral("burstcb"));
    burstcb_->setChecked(effective_.alarms.burstOn);
    controls.addWidget(burstcb_, row, 0);
    connect(burstcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.burstOn = effective_.alarms.burstOn = on;
        UserChanged();
    });
}

void ChasePanel::AddLandingAlarmRow(QGridLayout& controls, int row) {
    landingcb_ = new QCheckBox(tr("Alarm bei Landung näher als"), this);
    landingcb_->setObjectName(QStringLiteral("landingcb"));
    landingcb_->setChecked(effective_.alarms.landingOn);
    landingkmed_ = new QDoubleSpinBox(this);
    landingkmed_->setObjectName(QStringLiteral("landingkmed"));
    landingkmed_->setRange(0.1, 1000);
    landingkmed_->setDecimals(1);
    landingkmed_->setSuffix(QStringLiteral(" km"));
    landingkmed_->setValue(effective_.alarms.landingKm);
    controls.addWidget(landingcb_, row, 0);
    controls.addWidget(landingkmed_, row, 1);
    connect(landingcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.landingOn = effective_.alarms.landingOn = on;
        UserChanged();
    });
    connect(landingkmed_, &QDoubleSpinBox::valueChanged, this, [this](double km) {
        file_.alarms.landingKm = effective_.alarms.landingKm = km;
        UserChanged();
    });
}

void ChasePanel::AddNoDataAlarmRow(QGridLayout& controls, int row) {
    nodatacb_ = new QCheckBox(tr("Alarm ohne Daten seit"), this);
    nodatacb_->setObjectName(QStringLiteral("nodatacb"));
    nodatacb_->setChecked(effective_.alarms.noDataOn);
    nodataed_ = new QSpinBox(this);
    nodataed_->setObjectName(QStringLiteral("nodataed"));
    nodataed_->setRange(1, 86400);
    nodataed_->setSuffix(QStringLiteral(" s"));
    nodataed_->setValue(static_cast<int>(std::lround(effective_.alarms.noDataS)));
    controls.addWidget(nodatacb_, row, 0);
    controls.addWidget(nodataed_, row, 1);
    connect(nodatacb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.noDataOn = effective_.alarms.noDataOn = on;
        UserChanged();
    });
    connect(nodataed_, &QSpinBox::valueChanged, this, [this](int s) {
        file_.alarms.noDataS = effective_.alarms.noDataS = s;
        UserChanged();
    });
}

void ChasePanel::AddLandingAltitudeRow(QGridLayout& controls, int row) {
    landalted_ = new QSpinBox(this);
    landalted_->setObjectName(QStringLiteral("landalted"));
    landalted_->setRange(kAutoLandingAlt, 9000);
    landalted_->setSpecialValueText(QStringLiteral("auto"));
    landalted_->setSuffix(QStringLiteral(" m"));
    landalted_->setSingleStep(10);
    landalted_->setValue(effective_.analytics.landingAltM
                             ? static_cast<int>(std::lround(*effective_.analytics.landingAltM))
                             : kAutoLandingAlt);
    controls.addWidget(new QLabel(tr("Landehöhe"), this), row, 0);
    controls.addWidget(landalted_, row, 1);
    connect(landalted_, &QSpinBox::valueChanged, this, [this](int m) {
        const std::optional<double> alt =
            m == kAutoLandingAlt ? std::nullopt : std::optional<double>(m);
        file_.analytics.landingAltM = effective_.analytics.landingAltM = alt;
        UserChanged();
    });
}

void ChasePanel::AddNightThemeSwitch(QGridLayout& controls, int row, int column) {
    nightcb_ = new QCheckBox(tr("Nachtmodus"), this);
    nightcb_->setObjectName(QStringLiteral("nightcb"));
    nightcb_->setChecked(effective_.nightTheme);
    controls.addWidget(nightcb_, row, column);
    connect(nightcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.nightTheme = effective_.nightTheme = on;
        ApplyNightTheme(window(), on);
        UserChanged();
        emit nightThemeChanged(on);
        trackimg_->update();
    });
}

void ChasePanel::AddFollowRow(QGridLayout& controls, int row) {
    followcb_ = new QComboBox(this);
    followcb_->setObjectName(QStringLiteral("followcb"));
    followcb_->addItems({tr("Aus"), tr("Ballon"), tr("Auto")});
    followcb_->setCurrentIndex(static_cast<int>(Follow::Probe));
    followcb_->setToolTip(tr("Was die Karte mit jedem Datensatz in die Mitte rückt"));
    // "Auto" waits for the car's own position.
    if (auto* model = qobject_cast<QStandardItemModel*>(followcb_->model()))
        model->item(static_cast<int>(Follow::Car))->setEnabled(false);
    controls.addWidget(new QLabel(tr("Folgen"), this), row, 0);
    controls.addWidget(followcb_, row, 1);
    connect(followcb_, &QComboBox::currentIndexChanged, this,
            [this](int i) { trackimg_->SetFollow(static_cast<Follow>(i)); });
    // "Ballon" chosen again, after a zoom of the user's, fits the whole chase again.
    connect(followcb_, &QComboBox::activated, this,
            [this](int i) { trackimg_->SetFollow(static_cast<Follow>(i)); });
    connect(trackimg_, &GroundTrackPlot::followChanged, this,
            [this](Follow f) { followcb_->setCurrentIndex(static_cast<int>(f)); });
}

void ChasePanel::AddTileServerRow(QGridLayout& controls, int row) {
    tilesed_ = new QLineEdit(QString::fromStdString(effective_.tilesUrl), this);
    tilesed_->setObjectName(QStringLiteral("tilesed"));
    tilesed_->setToolTip(tr("Kachelserver mit {z}, {x} und {y}, oder none für keinen"));
    controls.addWidget(new QLabel(tr("Kachelserver"), this), row, 0);
    controls.addWidget(tilesed_, row, 1);
    connect(tilesed_, &QLineEdit::editingFinished, this, [this] {
        std::string url = tilesed_->text().trimmed().toStdString();
        if (url.empty()) url = kNoTiles;
        if (url == effective_.tilesUrl) return;
        if (!IsTileUrl(url)) {
            ShowMessage(tr("Kachelserver: http(s)-Adresse mit {z}, {x} und {y} oder none, nicht "
                           "\"%1\"")
                            .arg(tilesed_->text()));
            return;
        }
        file_.tilesUrl = effective_.tilesUrl = url;
        UserChanged();
        MakeTiles();
    });
}

void ChasePanel::AddMbtilesRow(QGridLayout& controls, int row) {
    mbtilesed_ = new QLineEdit(QString::fromStdString(effective_.mbtilesPath), this);
    mbtilesed_->setObjectName(QStringLiteral("mbtilesed"));
    mbtilesed_->setPlaceholderText(tr("keine"));
    mbtilesed_->setToolTip(tr("Karte ohne Netz: MBTiles-Datei, vor dem Netz benutzt"));
    mbtilesbt_ = new QPushButton(QStringLiteral("…"), this);
    mbtilesbt_->setObjectName(QStringLiteral("mbtilesbt"));
    mbtilesbt_->setToolTip(tr("MBTiles-Datei wählen"));
    auto* mbtilesRow = new QHBoxLayout;
    mbtilesRow->addWidget(mbtilesed_, 1);
    mbtilesRow->addWidget(mbtilesbt_);
    controls.addWidget(new QLabel(tr("MBTiles-Datei"), this), row, 0);
    controls.addLayout(mbtilesRow, row, 1);
    auto setFile = [this](const QString& path) {
        const std::string file = path.trimmed().toStdString();
        if (file == effective_.mbtilesPath) return;
        file_.mbtilesPath = effective_.mbtilesPath = file;
        UserChanged();
        MakeTiles();
    };
    connect(mbtilesed_, &QLineEdit::editingFinished, this,
            [this, setFile] { setFile(mbtilesed_->text()); });
    connect(mbtilesbt_, &QPushButton::clicked, this, [this, setFile] {
        const QString path =
            QFileDialog::getOpenFileName(this, tr("MBTiles-Datei"), mbtilesed_->text(),
                                         tr("MBTiles (*.mbtiles);;Alle Dateien (*)"));
        if (path.isEmpty()) return;
        mbtilesed_->setText(path);
        setFile(path);
    });
}

void ChasePanel::AddFlightEndRow(QGridLayout& controls, int row) {
    flightended_ = new QSpinBox(this);
    flightended_->setObjectName(QStringLiteral("flightended"));
    flightended_->setRange(1, 1440);
    flightended_->setSuffix(QStringLiteral(" min"));
    flightended_->setToolTip(tr("So lange nach dem letzten Fix endet ein Flug"));
    flightended_->setValue(static_cast<int>(std::lround(effective_.flightEndMin)));
    controls.addWidget(new QLabel(tr("Flugende nach"), this), row, 0);
    controls.addWidget(flightended_, row, 1);
    connect(flightended_, &QSpinBox::valueChanged, this, [this](int min) {
        file_.flightEndMin = effective_.flightEndMin = min;
        UserChanged();
    });
}

void ChasePanel::AddNotificationSwitch(QGridLayout& controls, int row) {
    notifycb_ = new QCheckBox(tr("Alarme als Desktop-Meldung"), this);
    notifycb_->setObjectName(QStringLiteral("notifycb"));
    notifycb_->setToolTip(tr("Auch wenn das Fenster hinter dem Navi liegt"));
    notifycb_->setChecked(effective_.notifications);
    controls.addWidget(notifycb_, row, 0, 1, 2);
    connect(notifycb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.notifications = effective_.notifications = on;
        UserChanged();
    });
}

void ChasePanel::SetNotifier(DesktopNotifier* notifier) {
    notifier_ = notifier;
    notifier_->OnUnavailable = [this](const QString& why) { ShowMessage(why); };
    if (effective_.notifications) notifier_->Probe();
}

void ChasePanel::AddMessageLine(QVBoxLayout& outer) {
    chasemsglb_ = new QLabel(this);
    chasemsglb_->setObjectName(QStringLiteral("chasemsglb"));
    chasemsglb_->setWordWrap(true);
    chasemsglb_->hide();
    outer.addWidget(chasemsglb_);
}

void ChasePanel::MakeTiles() {
    TileSources sources;
    if (effective_.tilesUrl != kNoTiles) sources.urlTemplate = Q(effective_.tilesUrl);
    sources.mbtilesPath = Q(effective_.mbtilesPath);
    sources.cacheDir = DefaultTileCacheDir();
    sources.userAgent = TileUserAgent();
    auto* old = tiles_;
    tiles_ = new TileLoader(sources, this);
    tiles_->setObjectName(QStringLiteral("tiles"));
    trackimg_->SetTiles(tiles_);
    delete old;
    // Without tiles the plot fits everything around home: nothing to follow.
    followcb_->setEnabled(tiles_->HasSource());
    if (!tiles_->FileProblem().isEmpty()) ShowMessage(tiles_->FileProblem());
    // Said once per stretch of trouble, where the window says what goes wrong with its links.
    connect(tiles_, &TileLoader::serverTrouble, this, [this](const QString& text) {
        if (auto* main = qobject_cast<QMainWindow*>(window()))
            main->statusBar()->showMessage(text);
        else
            ShowMessage(text);
    });
    // What is wrong inside the file is known once it has been opened.
    connect(tiles_, &TileLoader::fileChecked, this, [this] {
        followcb_->setEnabled(tiles_->HasSource());
        if (!tiles_->FileProblem().isEmpty()) ShowMessage(tiles_->FileProblem());
    });
}

void ChasePanel::SetCarPosition(const std::optional<LatLonDeg>& car) {
    if (auto* model = qobject_cast<QStandardItemModel*>(followcb_->model()))
        model->item(static_cast<int>(Follow::Car))->setEnabled(car.has_value());
    trackimg_->SetCar(car);
}

void ChasePanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!themeApplied_ && effective_.nightTheme) ApplyNightTheme(window(), true);
    themeApplied_ = true;
}

void ChasePanel::ApplySettings() {
    core_.SetAlarmSettings(effective_.alarms);
    core_.SetAnalyticsSettings(effective_.analytics);
    core_.SetTrackerSettings(TrackerSettings{effective_.flightEndMin * 60});
}

void ChasePanel::UserChanged() {
    ApplySettings();
    UpdateDisplays();
    if (settingsPath_.empty()) return;
    std::string error;
    ShowMessage(SaveChaseSettings(settingsPath_, file_, error) ? QString() : Q(error));
}

void ChasePanel::ShowMessage(const QString& text) {
    chasemsglb_->setText(text);
    chasemsglb_->setVisible(!text.isEmpty());
}

void ChasePanel::SetHomeLocator(std::string_view) {
    UpdateDisplays();
}

void ChasePanel::SetCar(CarFixSource current, const CarTracker* tracker) {
    carFix_ = std::move(current);
    carTracker_ = tracker;
    trackimg_->SetCarSource([this]() -> std::optional<CarOnPlot> {
        const auto fix = carFix_ ? carFix_() : std::nullopt;
        if (!fix) return std::nullopt;
        CarOnPlot car;
        car.position = fix->position;
        car.headingDeg = MakeCarFigures(fix, FlightState{}).headingDeg;
        if (carTracker_) car.track.assign(carTracker_->Track().begin(), carTracker_->Track().end());
        return car;
    });
    CarMoved();
}

void ChasePanel::CarMoved() {
    const auto fix = carFix_ ? carFix_() : std::nullopt;
    SetCarPosition(fix ? std::optional(fix->position) : std::nullopt);
    core_.HomeMoved();
    UpdateDisplays();
}

void ChasePanel::SetGpsOn(bool on) {
    file_.gps.on = effective_.gps.on = on;
    UserChanged();
}

void ChasePanel::SetGpsServer(const std::string& server) {
    file_.gps.server = effective_.gps.server = server;
    UserChanged();
}

void ChasePanel::SetWaypoint(bool on) {
    file_.gps.waypoint = effective_.gps.waypoint = on;
    UserChanged();
}

void ChasePanel::SetColumnWidth(int px) {
    if (px <= 0 || px == file_.columnWidthPx) return;
    file_.columnWidthPx = effective_.columnWidthPx = px;
    UserChanged();
}

void ChasePanel::SetLanguage(const std::string& code) {
    file_.language = effective_.language = code;
    UserChanged();
}

void ChasePanel::OnRecord(const RecordOutcome& record) {
    age_.OnRecord(clock_());
    UpdateDisplays();
    Fire(record.alarms);
    Tick();
}

void ChasePanel::Tick() {
    if (readPending_) readPending_();
    const auto age = age_.Seconds(clock_());
    agelb_->setText(Q(DataAge::Text(age)));
    agelb_->setStyleSheet(age && *age > kStaleDataS ? QStringLiteral("color: #e00000;")
                                                    : QString());
    std::vector<std::string> dropped;
    const auto alarms = core_.Tick(wallClock_(), age, &dropped);
    for (const std::string& id : dropped)
        ShowMessage(tr("Flug %1 verworfen: kein weiterer Fix und keine zweite Station").arg(Q(id)));
    flightslist_->Refresh(Home());
    UpdateMapFigures();
    Fire(alarms);
}

void ChasePanel::UpdateMapFigures() {
    const FlightState& s = Analytics().State();
    const auto age = age_.Seconds(clock_());
    mappane_->SetFigures(
        s.last ? Fixed(s.last->altitudeM, 0) + QStringLiteral(" m") : QStringLiteral("-"),
        s.lastPosition
            ? Fixed(common::GeodesicBetween(Home(), *s.lastPosition).km, 1) + QStringLiteral(" km")
            : QStringLiteral("-"),
        Q(DataAge::Text(age)), age && *age > kStaleDataS);
}

LatLonDeg ChasePanel::Home() const {
    const auto fix = carFix_ ? carFix_() : std::nullopt;
    return fix ? fix->position : Analytics().Home();
}

QString ChasePanel::AlarmText(const FlightAlarm& a) {
    QString what;
    switch (a.kind) {
        case AlarmKind::Burst:
            what = tr("PLATZER in %1 m").arg(Fixed(a.figure, 0));
            break;
        case AlarmKind::Landing:
            what =
                tr("LANDUNG %1 km vom eigenen Standort (%2)").arg(Fixed(a.figure, 1), Q(a.locator));
            break;
        case AlarmKind::NoData:
            what = tr("KEINE DATEN seit %1").arg(Q(DataAge::Text(a.figure)));
            break;
    }
    return a.flightId.empty() ? what : tr("Flug %1: %2").arg(Q(a.flightId), what);
}

QString ChasePanel::LandingFromHere(const FlightAlarm& a) const {
    const FlightAnalytics* analytics = &Analytics();
    for (const auto& f : core_.Tracker().Flights())
        if (f->id == a.flightId) analytics = &f->analytics;
    const auto& landing = analytics->State().landing;
    if (!landing) return tr("noch keine Landeschätzung");
    // The estimate measures from the car while it has a fix, else from home.
    const bool car = carFix_ && carFix_();
    return (car ? tr("Landepunkt %1: %2 km, %3 vom Auto")
                : tr("Landepunkt %1: %2 km, %3 vom eigenen Standort"))
        .arg(Q(landing->locator), Fixed(landing->homeKm, 1), Degrees(landing->bearingDeg));
}

void ChasePanel::Fire(const std::vector<FlightAlarm>& alarms) {
    constexpr qsizetype kBannerLines = 3;
    for (const FlightAlarm& a : alarms) {
        const QString text = AlarmText(a);
        // Unacknowledged alarms stay on the banner, the newest on top.
        QStringList lines =
            alarmbt_->isHidden() ? QStringList() : alarmbt_->text().split(QLatin1Char('\n'));
        lines.prepend(QDateTime::currentDateTimeUtc().toString(QStringLiteral("hh:mm:ss 'UTC'  ")) +
                      text);
        alarmbt_->setText(lines.mid(0, kBannerLines).join(QLatin1Char('\n')));
        alarmbt_->show();
        beep_();
        if (notifier_ && effective_.notifications) notifier_->Notify(text, LandingFromHere(a));
    }
}

void ChasePanel::UpdateDisplays() {
    const FlightState& s = Analytics().State();
    phaselb_->setText(PhaseText(s.phase));
    vavgcap_->setText(tr("Vertikal Ø %1 s").arg(effective_.analytics.vrateWindowS));
    vavglb_->setText(s.vrateAvgMps ? Fixed(*s.vrateAvgMps, 1) + QStringLiteral(" m/s")
                                   : QStringLiteral("-"));
    maxaltlb_->setText(s.maxAltM ? Fixed(*s.maxAltM, 0) + QStringLiteral(" m")
                                 : QStringLiteral("-"));
    burstlb_->setText(
        s.burstAltM ? tr("%1 m um %2 UTC").arg(Fixed(*s.burstAltM, 0), TimeOfDay(*s.burstTimeS))
        : s.burstNotSeen ? tr("burst not seen")
                         : QStringLiteral("-"));
    sinklb_->setText(DescentLawText(s));
    assumelb_->setText(s.prediction ? AssumptionsText(*s.prediction) : QStringLiteral("-"));
    if (const auto& l = s.landing) {
        const int left = static_cast<int>(std::lround(l->secondsToLanding));
        tlandlb_->setText(s.phase == FlightPhase::Ground
                              ? tr("gelandet")
                              : tr("in %1 min %2 s, %3 UTC")
                                    .arg(left / 60)
                                    .arg(left % 60, 2, 10, QLatin1Char('0'))
                                    .arg(TimeOfDay(l->landingTimeS)));
        landlb_->setText(Q(l->locator) + QStringLiteral("   ") +
                         Coordinate(l->point.lat, 'N', 'S') + QStringLiteral("  ") +
                         Coordinate(l->point.lon, 'E', 'W'));
        landdistlb_->setText(Fixed(l->homeKm, 1) + QStringLiteral(" km, ") +
                             Degrees(l->bearingDeg));
    } else if (const auto& p = s.prediction) {
        // During the ascent: the whole flight predicted.
        const int left = static_cast<int>(std::lround(p->secondsToLanding));
        tlandlb_->setText(tr("in %1 min %2 s, %3 UTC (Vorhersage)")
                              .arg(left / 60)
                              .arg(left % 60, 2, 10, QLatin1Char('0'))
                              .arg(TimeOfDay(p->landingTimeS)));
        landlb_->setText(Q(common::LatLonToLocator(p->point.lon, p->point.lat).value_or("")) +
                         QStringLiteral("   ") + Coordinate(p->point.lat, 'N', 'S') +
                         QStringLiteral("  ") + Coordinate(p->point.lon, 'E', 'W') +
                         tr(" (Vorhersage)"));
        const Geodesic g = common::GeodesicBetween(Analytics().EffectiveHome(), p->point);
        landdistlb_->setText(Fixed(g.km, 1) + QStringLiteral(" km, ") + Degrees(g.bearingDeg));
    } else {
        tlandlb_->setText(QStringLiteral("-"));
        landlb_->setText(QStringLiteral("-"));
        landdistlb_->setText(QStringLiteral("-"));
    }
    const CarFigures car = MakeCarFigures(carFix_ ? carFix_() : std::nullopt, s);
    auto distance = [](const std::optional<Geodesic>& g) {
        return g ? Fixed(g->km, 2) + QStringLiteral(" km, ") + Degrees(g->bearingDeg)
                 : QStringLiteral("-");
    };
    carprobelb_->setText(distance(car.toProbe));
    carelevlb_->setText(car.probeElevationDeg
                            ? Fixed(*car.probeElevationDeg, 1) + QStringLiteral("°")
                            : QStringLiteral("-"));
    carlandlb_->setText(
        distance(car.toLanding) +
        (car.turnToLanding ? QStringLiteral(", ") + Turn(*car.headingDeg, car.toLanding->bearingDeg)
                           : QString()));
    QString moving = QStringLiteral("-");
    if (car.fix && car.fix->speedKmh) {
        moving = Fixed(*car.fix->speedKmh, 0) + QStringLiteral(" km/h");
        if (car.headingDeg) moving += tr(", Kurs ") + Degrees(*car.headingDeg);
    } else if (car.fix) {
        moving = tr("Fix");
    }
    // The figures above are then from the last position, held for a while.
    const auto noFixS = carNoFix_ ? carNoFix_() : std::nullopt;
    if (noFixS) moving = tr("GPS: kein Fix seit %1 s").arg(static_cast<long long>(*noFixS));
    carlb_->setText(moving);
    carlb_->setStyleSheet(noFixS ? QStringLiteral("color: #e00000;") : QString());
    flightslist_->Refresh(Home());
    UpdateMapFigures();
    trackimg_->Refresh();
    altimg_->update();
}

void ChasePanel::ApplyNightTheme(QWidget* window, bool on) {
    common::ApplyNightTheme(window, on);
}

}  // namespace monitor
