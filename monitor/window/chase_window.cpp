#include "monitor/window/chase_window.h"

#include <QCheckBox>
#include <QLineEdit>

#include <algorithm>
#include <string>
#include <vector>

namespace monitor {

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
    window.PanelArea()->addWidget(panel, 1);

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
    const QSize hint = panel->sizeHint();
    window.resize(window.width() + hint.width(), std::max(window.height(), hint.height() + 40));
    return panel;
}

}  // namespace monitor
