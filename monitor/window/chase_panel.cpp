#include "monitor/window/chase_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cmath>
#include <numbers>

#include "common/numbers.h"
#include "monitor/core/chase_plots.h"

namespace monitor {

namespace {

constexpr int kTickMs = 1000;
constexpr int kAutoLandingAlt = -501;  // the landing-altitude box's "auto"

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString Fixed(double v, int decimals) {
    return Q(common::FormatFixed(v, 15, decimals));
}

QString TimeOfDay(double flightS) {
    const int s = static_cast<int>(std::fmod(std::floor(flightS), 86400.0));
    return QTime(0, 0).addSecs(s).toString(QStringLiteral("hh:mm:ss"));
}

QString Coordinate(double deg, char positive, char negative) {
    return Fixed(std::abs(deg), 5) + QLatin1Char(' ') + QLatin1Char(deg < 0 ? negative : positive);
}

bool IsDark(const QWidget& w) {
    return w.palette().color(QPalette::Base).lightness() < 128;
}

// Colours that read on the day palette and, dimmer, on the night one.
struct PlotColours {
    QColor background, frame, grid, text, track, last, landing, burst;
    explicit PlotColours(const QWidget& w) {
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
};

void Cross(QPainter& p, QPointF c, double r) {
    p.drawLine(c + QPointF(-r, -r), c + QPointF(r, r));
    p.drawLine(c + QPointF(-r, r), c + QPointF(r, -r));
}

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

GroundTrackPlot::GroundTrackPlot(const FlightAnalytics& analytics, QWidget* parent)
    : QWidget(parent), analytics_(analytics) {
    setMinimumSize(160, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void GroundTrackPlot::paintEvent(QPaintEvent*) {
    const FlightState& s = analytics_.State();
    std::optional<LatLonDeg> landing;
    if (s.landing) landing = s.landing->point;
    const GroundTrackView v =
        MakeGroundTrackView(analytics_.Home(), analytics_.Track(), landing, width(), height());
    const PlotColours c(*this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), c.background);
    p.setPen(c.frame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));

    const QPointF home(v.home.x, v.home.y);
    p.setPen(QPen(c.grid, 1));
    p.setBrush(Qt::NoBrush);
    for (double r : v.ringRadiiPx) p.drawEllipse(home, r, r);
    p.drawLine(QPointF(home.x(), home.y() - v.ringRadiiPx.back()),
               QPointF(home.x(), home.y() + v.ringRadiiPx.back()));
    p.drawLine(QPointF(home.x() - v.ringRadiiPx.back(), home.y()),
               QPointF(home.x() + v.ringRadiiPx.back(), home.y()));
    p.setPen(c.text);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    for (std::size_t i = 0; i < v.ringRadiiPx.size(); ++i)
        p.drawText(QPointF(home.x() + 3, home.y() - v.ringRadiiPx[i] - 2), Q(v.ringLabels[i]));
    const QFontMetricsF fm(small);
    p.drawText(QPointF(home.x() - fm.horizontalAdvance(QStringLiteral("N")) - 4,
                       home.y() - v.ringRadiiPx.back() + fm.ascent()),
               QStringLiteral("N"));
    p.drawText(QPointF(home.x() + 4, home.y() + small.pointSizeF() + 4), QStringLiteral("Home"));
    Cross(p, home, 3);

    if (v.track.size() > 1) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(v.track.size()));
        for (const PlotPoint& t : v.track) line << QPointF(t.x, t.y);
        p.setPen(QPen(c.track, 1.5));
        p.drawPolyline(line);
    }
    if (v.landing) {
        p.setPen(QPen(c.landing, 2.5));
        Cross(p, QPointF(v.landing->x, v.landing->y), 6);
        if (v.last) {
            p.setPen(QPen(c.landing, 1, Qt::DashLine));
            p.drawLine(QPointF(v.last->x, v.last->y), QPointF(v.landing->x, v.landing->y));
        }
    }
    if (v.last) {
        p.setPen(Qt::NoPen);
        p.setBrush(c.last);
        p.drawEllipse(QPointF(v.last->x, v.last->y), 4, 4);
    }
}

AltitudePlot::AltitudePlot(const FlightAnalytics& analytics, QWidget* parent)
    : QWidget(parent), analytics_(analytics) {
    setMinimumSize(200, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void AltitudePlot::paintEvent(QPaintEvent*) {
    const AltitudeView v =
        MakeAltitudeView(analytics_.Track(), analytics_.State(), width(), height());
    const PlotColours c(*this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), c.background);
    p.setPen(c.frame);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    const QFontMetricsF fm(small);

    for (const AxisTick& t : v.altitudeTicks) {
        p.setPen(QPen(c.grid, 1));
        p.drawLine(QPointF(v.left, t.px), QPointF(v.right, t.px));
        p.setPen(c.text);
        const QString label = Q(t.label);
        p.drawText(QPointF(v.left - 4 - fm.horizontalAdvance(label), t.px + fm.ascent() / 2 - 1),
                   label);
    }
    for (const AxisTick& t : v.timeTicks) {
        p.setPen(QPen(c.grid, 1));
        p.drawLine(QPointF(t.px, v.top), QPointF(t.px, v.bottom));
        p.setPen(c.text);
        const QString label = Q(t.label);
        // The first label would run into the altitude labels: it starts at the axis instead.
        const double x = std::max(v.left, t.px - fm.horizontalAdvance(label) / 2);
        p.drawText(QPointF(x, v.bottom + fm.ascent() + 2), label);
    }
    if (v.profile.size() > 1) {
        QPolygonF line;
        line.reserve(static_cast<qsizetype>(v.profile.size()));
        for (const PlotPoint& q : v.profile) line << QPointF(q.x, q.y);
        p.setPen(QPen(c.track, 1.5));
        p.drawPolyline(line);
    }
    if (v.landing && !v.profile.empty()) {
        p.setPen(QPen(c.landing, 1.5, Qt::DashLine));
        p.drawLine(QPointF(v.profile.back().x, v.profile.back().y),
                   QPointF(v.landing->x, v.landing->y));
        p.setPen(QPen(c.landing, 2.5));
        Cross(p, QPointF(v.landing->x, v.landing->y), 5);
    }
    if (v.burst) {
        const QPointF b(v.burst->x, v.burst->y);
        p.setPen(Qt::NoPen);
        p.setBrush(c.burst);
        QPolygonF star;
        for (int i = 0; i < 10; ++i) {
            const double a = i * std::numbers::pi / 5 - std::numbers::pi / 2, r = i % 2 ? 3.0 : 7.0;
            star << b + QPointF(r * std::cos(a), r * std::sin(a));
        }
        p.drawPolygon(star);
        p.setPen(c.text);
        const QString label = QStringLiteral("Platzer");
        const double x = std::min(b.x() + 8, v.right - fm.horizontalAdvance(label));
        p.drawText(QPointF(x, b.y() + fm.ascent() + 4), label);
    }
}

ChasePanel::ChasePanel(const ChaseSettings& fileSettings, const ChaseOptions& run,
                       std::string settingsPath, QWidget* parent)
    : QWidget(parent),
      file_(fileSettings),
      effective_(run.AppliedTo(fileSettings)),
      settingsPath_(std::move(settingsPath)),
      analytics_(effective_.analytics),
      alarms_(effective_.alarms),
      clock_(SteadyMs),
      beep_([] { QApplication::beep(); }) {
    setObjectName(QStringLiteral("chasepanel"));
    BuildControls();
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

    alarmbt_ = new QPushButton(this);
    alarmbt_->setObjectName(QStringLiteral("alarmbt"));
    alarmbt_->setStyleSheet(QStringLiteral(
        "QPushButton { background: #c00000; color: white; font-weight: bold; padding: 6px; "
        "border: none; }"));
    alarmbt_->setToolTip(QStringLiteral("Klicken zum Quittieren"));
    alarmbt_->hide();
    connect(alarmbt_, &QPushButton::clicked, alarmbt_, &QWidget::hide);
    outer->addWidget(alarmbt_);

    auto* grid = new QGridLayout;
    int row = 0;
    auto value = [&](const QString& caption, const char* name, QLabel** captionOut = nullptr) {
        auto* cap = new QLabel(caption, this);
        auto* v = new QLabel(QStringLiteral("-"), this);
        v->setObjectName(QLatin1String(name));
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont f = v->font();
        f.setBold(true);
        v->setFont(f);
        grid->addWidget(cap, row, 0);
        grid->addWidget(v, row, 1);
        ++row;
        if (captionOut) *captionOut = cap;
        return v;
    };
    phaselb_ = value(QStringLiteral("Flugphase"), "phaselb");
    vavglb_ = value(QString(), "vavglb", &vavgcap_);
    maxaltlb_ = value(QStringLiteral("Höchste Höhe"), "maxaltlb");
    burstlb_ = value(QStringLiteral("Platzer"), "burstlb");
    tlandlb_ = value(QStringLiteral("Landung"), "tlandlb");
    landlb_ = value(QStringLiteral("Landepunkt"), "landlb");
    landdistlb_ = value(QStringLiteral("vom eigenen Standort"), "landdistlb");
    agelb_ = value(QStringLiteral("Datenalter"), "agelb");
    grid->setColumnStretch(1, 1);
    outer->addLayout(grid);

    auto* plots = new QHBoxLayout;
    trackimg_ = new GroundTrackPlot(analytics_, this);
    trackimg_->setObjectName(QStringLiteral("trackimg"));
    altimg_ = new AltitudePlot(analytics_, this);
    altimg_->setObjectName(QStringLiteral("altimg"));
    plots->addWidget(trackimg_, 1);
    plots->addWidget(altimg_, 1);
    outer->addLayout(plots, 1);

    auto* controls = new QGridLayout;
    const AlarmSettings& a = effective_.alarms;
    burstcb_ = new QCheckBox(QStringLiteral("Alarm bei Platzer"), this);
    burstcb_->setObjectName(QStringLiteral("burstcb"));
    burstcb_->setChecked(a.burstOn);
    landingcb_ = new QCheckBox(QStringLiteral("Alarm bei Landung näher als"), this);
    landingcb_->setObjectName(QStringLiteral("landingcb"));
    landingcb_->setChecked(a.landingOn);
    landingkmed_ = new QDoubleSpinBox(this);
    landingkmed_->setObjectName(QStringLiteral("landingkmed"));
    landingkmed_->setRange(0.1, 1000);
    landingkmed_->setDecimals(1);
    landingkmed_->setSuffix(QStringLiteral(" km"));
    landingkmed_->setValue(a.landingKm);
    nodatacb_ = new QCheckBox(QStringLiteral("Alarm ohne Daten seit"), this);
    nodatacb_->setObjectName(QStringLiteral("nodatacb"));
    nodatacb_->setChecked(a.noDataOn);
    nodataed_ = new QSpinBox(this);
    nodataed_->setObjectName(QStringLiteral("nodataed"));
    nodataed_->setRange(1, 86400);
    nodataed_->setSuffix(QStringLiteral(" s"));
    nodataed_->setValue(static_cast<int>(std::lround(a.noDataS)));
    landalted_ = new QSpinBox(this);
    landalted_->setObjectName(QStringLiteral("landalted"));
    landalted_->setRange(kAutoLandingAlt, 9000);
    landalted_->setSpecialValueText(QStringLiteral("auto"));
    landalted_->setSuffix(QStringLiteral(" m"));
    landalted_->setSingleStep(10);
    landalted_->setValue(effective_.analytics.landingAltM
                             ? static_cast<int>(std::lround(*effective_.analytics.landingAltM))
                             : kAutoLandingAlt);
    nightcb_ = new QCheckBox(QStringLiteral("Nachtmodus"), this);
    nightcb_->setObjectName(QStringLiteral("nightcb"));
    nightcb_->setChecked(effective_.nightTheme);

    controls->addWidget(burstcb_, 0, 0);
    controls->addWidget(nightcb_, 0, 1);
    controls->addWidget(landingcb_, 1, 0);
    controls->addWidget(landingkmed_, 1, 1);
    controls->addWidget(nodatacb_, 2, 0);
    controls->addWidget(nodataed_, 2, 1);
    controls->addWidget(new QLabel(QStringLiteral("Landehöhe"), this), 3, 0);
    controls->addWidget(landalted_, 3, 1);
    outer->addLayout(controls);
    chasemsglb_ = new QLabel(this);
    chasemsglb_->setObjectName(QStringLiteral("chasemsglb"));
    chasemsglb_->setWordWrap(true);
    chasemsglb_->hide();
    outer->addWidget(chasemsglb_);

    // Each control changes only its own setting, so a command-line value of another one is
    // never written to the file.
    connect(burstcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.burstOn = effective_.alarms.burstOn = on;
        UserChanged();
    });
    connect(landingcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.landingOn = effective_.alarms.landingOn = on;
        UserChanged();
    });
    connect(landingkmed_, &QDoubleSpinBox::valueChanged, this, [this](double km) {
        file_.alarms.landingKm = effective_.alarms.landingKm = km;
        UserChanged();
    });
    connect(nodatacb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.alarms.noDataOn = effective_.alarms.noDataOn = on;
        UserChanged();
    });
    connect(nodataed_, &QSpinBox::valueChanged, this, [this](int s) {
        file_.alarms.noDataS = effective_.alarms.noDataS = s;
        UserChanged();
    });
    connect(landalted_, &QSpinBox::valueChanged, this, [this](int m) {
        const std::optional<double> alt =
            m == kAutoLandingAlt ? std::nullopt : std::optional<double>(m);
        file_.analytics.landingAltM = effective_.analytics.landingAltM = alt;
        UserChanged();
    });
    connect(nightcb_, &QCheckBox::toggled, this, [this](bool on) {
        file_.nightTheme = effective_.nightTheme = on;
        ApplyNightTheme(window(), on);
        UserChanged();
        emit nightThemeChanged(on);
    });
}

void ChasePanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!themeApplied_ && effective_.nightTheme) ApplyNightTheme(window(), true);
    themeApplied_ = true;
}

void ChasePanel::UserChanged() {
    alarms_.SetSettings(effective_.alarms);
    analytics_.SetSettings(effective_.analytics);
    UpdateDisplays();
    if (settingsPath_.empty()) return;
    std::string error;
    ShowMessage(SaveChaseSettings(settingsPath_, file_, error) ? QString() : Q(error));
}

void ChasePanel::ShowMessage(const QString& text) {
    chasemsglb_->setText(text);
    chasemsglb_->setVisible(!text.isEmpty());
}

void ChasePanel::SetHomeLocator(std::string_view locator) {
    analytics_.SetHomeLocator(locator);
    UpdateDisplays();
}

void ChasePanel::OnRecord(std::string_view record) {
    age_.OnRecord(clock_());
    analytics_.AddRecord(record);
    UpdateDisplays();
    Fire(alarms_.OnRecord(analytics_.State()));
    Tick();
}

void ChasePanel::Tick() {
    const auto age = age_.Seconds(clock_());
    agelb_->setText(Q(DataAge::Text(age)));
    agelb_->setStyleSheet(age && *age > kStaleDataS ? QStringLiteral("color: #e00000;")
                                                    : QString());
    Fire(alarms_.OnTick(age));
}

void ChasePanel::Fire(const std::vector<Alarm>& alarms) {
    constexpr qsizetype kBannerLines = 3;
    for (const Alarm& a : alarms) {
        // Unacknowledged alarms stay on the banner, the newest on top.
        QStringList lines =
            alarmbt_->isHidden() ? QStringList() : alarmbt_->text().split(QLatin1Char('\n'));
        lines.prepend(QTime::currentTime().toString(QStringLiteral("hh:mm:ss  ")) + Q(a.text));
        alarmbt_->setText(lines.mid(0, kBannerLines).join(QLatin1Char('\n')));
        alarmbt_->show();
        beep_();
    }
}

void ChasePanel::UpdateDisplays() {
    const FlightState& s = analytics_.State();
    static const char* const kPhase[] = {"-", "am Boden", "Aufstieg", "Abstieg"};
    phaselb_->setText(QString::fromUtf8(kPhase[static_cast<int>(s.phase)]));
    vavgcap_->setText(QStringLiteral("Vertikal Ø %1 s").arg(effective_.analytics.vrateWindowS));
    vavglb_->setText(s.vrateAvgMps ? Fixed(*s.vrateAvgMps, 1) + QStringLiteral(" m/s")
                                   : QStringLiteral("-"));
    maxaltlb_->setText(s.maxAltM ? Fixed(*s.maxAltM, 0) + QStringLiteral(" m")
                                 : QStringLiteral("-"));
    burstlb_->setText(s.burstAltM ? Fixed(*s.burstAltM, 0) + QStringLiteral(" m um ") +
                                        TimeOfDay(*s.burstTimeS) + QStringLiteral(" UTC")
                                  : QStringLiteral("-"));
    if (const auto& l = s.landing) {
        const int left = static_cast<int>(std::lround(l->secondsToLanding));
        tlandlb_->setText(s.phase == FlightPhase::Ground
                              ? QStringLiteral("gelandet")
                              : QStringLiteral("in %1 min %2 s, %3 UTC")
                                    .arg(left / 60)
                                    .arg(left % 60, 2, 10, QLatin1Char('0'))
                                    .arg(TimeOfDay(l->landingTimeS)));
        landlb_->setText(Q(l->locator) + QStringLiteral("   ") +
                         Coordinate(l->point.lat, 'N', 'S') + QStringLiteral("  ") +
                         Coordinate(l->point.lon, 'E', 'W'));
        long bearing = std::lround(l->bearingDeg);
        if (bearing >= 360) bearing = 0;
        landdistlb_->setText(Fixed(l->homeKm, 1) + QStringLiteral(" km, ") +
                             QString::number(bearing) + QStringLiteral("°"));
    } else {
        tlandlb_->setText(QStringLiteral("-"));
        landlb_->setText(QStringLiteral("-"));
        landdistlb_->setText(QStringLiteral("-"));
    }
    trackimg_->update();
    altimg_->update();
}

void ChasePanel::ApplyNightTheme(QWidget* window, bool on) {
    if (!window) return;
    if (!on) {
        window->setPalette(window->style()->standardPalette());
        return;
    }
    QPalette p;
    const QColor text(205, 200, 190);
    p.setColor(QPalette::Window, QColor(28, 28, 30));
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, QColor(16, 16, 18));
    p.setColor(QPalette::AlternateBase, QColor(36, 36, 38));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(44, 44, 46));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(255, 90, 90));
    p.setColor(QPalette::Highlight, QColor(120, 70, 40));
    p.setColor(QPalette::HighlightedText, QColor(240, 230, 220));
    p.setColor(QPalette::ToolTipBase, QColor(44, 44, 46));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(150, 145, 135));
    p.setColor(QPalette::Mid, QColor(70, 70, 72));
    p.setColor(QPalette::Dark, QColor(20, 20, 20));
    p.setColor(QPalette::Light, QColor(80, 80, 80));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(110, 110, 110));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(110, 110, 110));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(110, 110, 110));
    window->setPalette(p);
}

}  // namespace monitor
