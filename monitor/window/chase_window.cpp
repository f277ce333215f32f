#include "monitor/window/chase_window.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QDBusConnection>
#include <QEvent>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <string>
#include <vector>

#include "monitor/io/desktop_notifier.h"
#include "monitor/window/map_pane.h"

namespace monitor {

namespace {

// A window for a car's screen or a tablet, never larger than the screen it opens on.
constexpr QSize kChaseWindowSize(1280, 800);
// A drag of the splitter is kept once it has come to rest.
constexpr int kKeepColumnAfterMs = 500;

// The column's width from pelmora.ini goes to the splitter once it has its own width; each
// width the user drags it to is kept.
class ColumnWidth : public QObject {
  public:
    ColumnWidth(QSplitter* splitter, ChasePanel* panel) : QObject(splitter), splitter_(splitter) {
        keep_.setSingleShot(true);
        keep_.setInterval(kKeepColumnAfterMs);
        connect(&keep_, &QTimer::timeout, panel,
                [this, panel] { panel->SetColumnWidth(splitter_->sizes().value(1)); });
        connect(splitter, &QSplitter::splitterMoved, &keep_, qOverload<>(&QTimer::start));
        wanted_ = panel->Settings().columnWidthPx;
        splitter->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show && !placed_) {
            placed_ = true;
            const int column = wanted_ > 0 ? wanted_ : splitter_->widget(1)->sizeHint().width();
            splitter_->setSizes({std::max(0, splitter_->width() - column), column});
        }
        return false;
    }

  private:
    QSplitter* splitter_;
    QTimer keep_;
    int wanted_ = 0;
    bool placed_ = false;
};

// Each language named in itself; a choice holds from the next start, when the window is made.
void AddLanguageMenu(TForm1& window, ChasePanel* panel) {
    QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Sprache/Language"));
    menu->setObjectName(QStringLiteral("languagemenu"));
    auto* group = new QActionGroup(menu);
    const std::string& now = panel->Settings().language;
    for (const auto& [code, name] : {std::pair{"de", "Deutsch"}, std::pair{"en", "English"}}) {
        QAction* choice = menu->addAction(QString::fromUtf8(name));
        choice->setObjectName(QStringLiteral("language_") + QLatin1String(code));
        choice->setCheckable(true);
        choice->setChecked(common::ChooseLanguage({}, now) == code);
        group->addAction(choice);
        QObject::connect(choice, &QAction::triggered, panel, [&window, panel, code, name] {
            panel->SetLanguage(code);
            window.statusBar()->showMessage(
                ChasePanel::tr("Sprache ab dem nächsten Start: %1").arg(QString::fromUtf8(name)));
        });
    }
}

}  // namespace

QString UseWindowLanguage(QCoreApplication& app, const ChaseOptions& run,
                          const std::string& settingsPath, const QString& translations) {
    ChaseSettings file;
    std::string error;
    std::vector<std::string> problems;  // said once the panel is there
    LoadChaseSettings(settingsPath, file, error, problems);
    return common::UseLanguage(app, QStringLiteral("pelmora"),
                               common::ChooseLanguage(run.language.value_or(""), file.language),
                               translations);
}

ChasePanel* AddChasePanel(TForm1& window, const ChaseOptions& run,
                          const std::string& settingsPath) {
    ChaseSettings file;
    std::string error;
    std::vector<std::string> problems;
    LoadChaseSettings(settingsPath, file, error, problems);
    auto* panel = new ChasePanel(window.Core(), file, run, settingsPath, window.centralWidget());
    if (!error.empty()) problems.insert(problems.begin(), error);
    if (!problems.empty())
        panel->ShowMessage(QString::fromStdString(settingsPath + ": " + problems.front()));
    window.PanelArea()->addWidget(panel);
    // The map is the window's main area, the panel's values beside it in the column.
    MapPane* pane = panel->TakeMapPane();
    window.MapArea()->addWidget(pane);
    window.MapArea()->parentWidget()->show();
    QAction* mapOnly = window.MapOnlyAction();
    mapOnly->setEnabled(true);
    pane->FullScreenButton()->setDefaultAction(mapOnly);
    QObject::connect(mapOnly, &QAction::toggled, pane, &MapPane::ShowFigures);
    new ColumnWidth(window.Splitter(), panel);
    AddLanguageMenu(window, panel);
    // The alarms also as desktop notifications, named as the desktop entry names the program.
    panel->SetNotifier(new DesktopNotifier(QDBusConnection::sessionBus(), QStringLiteral("pelmora"),
                                           QStringLiteral("pelmora"), panel));

    auto* locator = window.findChild<QLineEdit*>(QStringLiteral("myloced"));
    panel->SetHomeLocator(locator->text().toStdString());
    QObject::connect(locator, &QLineEdit::textChanged, panel,
                     [panel](const QString& text) { panel->SetHomeLocator(text.toStdString()); });

    // The car: the controls beside LOCATOR as pelmora.ini (or the command line) has them, then
    // each change of the user's kept.
    const GpsSettings& gps = panel->Settings().gps;
    auto* gpscb = window.findChild<QCheckBox*>(QStringLiteral("gpscb"));
    auto* gpsed = window.findChild<QLineEdit*>(QStringLiteral("gpsed"));
    auto* waypointcb = window.findChild<QCheckBox*>(QStringLiteral("waypointcb"));
    gpsed->setText(QString::fromStdString(gps.server));
    waypointcb->setChecked(gps.waypoint);
    gpscb->setChecked(gps.on);
    QObject::connect(gpscb, &QCheckBox::toggled, panel, [panel](bool on) { panel->SetGpsOn(on); });
    QObject::connect(gpsed, &QLineEdit::editingFinished, panel, [panel, gpsed] {
        panel->SetGpsServer(gpsed->text().trimmed().toStdString());
    });
    QObject::connect(waypointcb, &QCheckBox::toggled, panel,
                     [panel](bool on) { panel->SetWaypoint(on); });
    window.SetCarHoldS(panel->Settings().carHoldS);
    panel->SetCarNoFix([&window] { return window.CarNoFixS(); });
    panel->SetCar([&window] { return window.HomeCarFix(); }, &window.Car());
    auto carChanged = std::move(window.OnCarChanged);
    window.OnCarChanged = [panel, carChanged = std::move(carChanged)] {
        if (carChanged) carChanged();
        panel->CarMoved();
    };
    window.LandingPoint = [panel]() -> std::optional<LatLonDeg> {
        const auto& landing = panel->Analytics().State().landing;
        return landing ? std::optional(landing->point) : std::nullopt;
    };

    panel->SetReadPending([&window] { window.Link().Socket().ReadPending(); });
    auto shown = std::move(window.OnRecordShown);
    window.OnRecordShown = [panel, shown = std::move(shown)](const RecordOutcome& r) {
        if (shown) shown(r);
        panel->OnRecord(r);
    };
    QSize size = kChaseWindowSize;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize());
    window.resize(size);
    return panel;
}

}  // namespace monitor
