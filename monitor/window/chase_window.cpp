#include "monitor/window/chase_window.h"

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
    auto* panel = new ChasePanel(file, run, settingsPath, window.centralWidget());
    if (!error.empty()) problems.insert(problems.begin(), error);
    if (!problems.empty())
        panel->ShowMessage(QString::fromStdString(settingsPath + ": " + problems.front()));
    window.PanelArea()->addWidget(panel, 1);

    auto* locator = window.findChild<QLineEdit*>(QStringLiteral("myloced"));
    panel->SetHomeLocator(locator->text().toStdString());
    QObject::connect(locator, &QLineEdit::textChanged, panel,
                     [panel](const QString& text) { panel->SetHomeLocator(text.toStdString()); });

    auto shown = std::move(window.OnRecordShown);
    window.OnRecordShown = [panel, shown = std::move(shown)](const RecordResult& r) {
        if (shown) shown(r);
        panel->OnRecord(r.record);
    };
    const QSize hint = panel->sizeHint();
    window.resize(window.width() + hint.width(), std::max(window.height(), hint.height() + 40));
    return panel;
}

}  // namespace monitor
