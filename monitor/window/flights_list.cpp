#include "monitor/window/flights_list.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <string>

#include "common/numbers.h"
#include "monitor/chase/chase_alarms.h"

namespace monitor {

namespace {

enum Column { kId, kAltitude, kPhase, kAge, kDistance, kStations, kColumns };

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

QString PhaseText(FlightPhase phase) {
    // As the analytics name them for the headless lines' readers, in the window's language.
    static const char* const kCaptions[] = {"-", QT_TRANSLATE_NOOP("monitor::Phase", "am Boden"),
                                            QT_TRANSLATE_NOOP("monitor::Phase", "Aufstieg"),
                                            QT_TRANSLATE_NOOP("monitor::Phase", "Abstieg")};
    const std::string_view caption = PhaseCaption(phase);
    for (const char* c : kCaptions)
        if (caption == c) return QCoreApplication::translate("monitor::Phase", c);
    return Q(caption);
}

FlightsList::FlightsList(MonitorCore& core, Now now, QWidget* parent)
    : QWidget(parent), core_(core), now_(std::move(now)) {
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Flüge"), this));
    followlb_ = new QLabel(this);
    followlb_->setObjectName(QStringLiteral("followlb"));
    top->addWidget(followlb_, 1);
    autobt_ = new QPushButton(tr("Automatisch"), this);
    autobt_->setObjectName(QStringLiteral("flightautobt"));
    autobt_->setToolTip(tr("Dem Flug folgen, der dem eigenen Standort am nächsten ist"));
    top->addWidget(autobt_);
    rows->addLayout(top);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("flightslist"));
    table_->setHorizontalHeaderLabels(
        {tr("Flug"), tr("Höhe"), tr("Phase"), tr("Datenalter"), tr("Entfernung"), tr("Stationen")});
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    rows->addWidget(table_, 1);

    connect(table_, &QTableWidget::cellClicked, this, [this](int row, int) {
        const QTableWidgetItem* id = table_->item(row, kId);
        if (!id || !(id->flags() & Qt::ItemIsEnabled)) return;
        core_.Follow(id->data(Qt::UserRole).toString().toStdString());
        emit followChosen();
    });
    connect(autobt_, &QPushButton::clicked, this, [this] {
        core_.Follow(kFollowAuto);
        emit followChosen();
    });
}

QSize FlightsList::sizeHint() const {
    return {300, 120};
}

void FlightsList::Refresh(const LatLonDeg& home) {
    const auto& flights = core_.Tracker().Flights();
    const Flight* followed = core_.Followed();
    const bool automatic = core_.FollowChoice() == kFollowAuto;
    followlb_->setText(
        followed
            ? tr("folgt: %1%2").arg(Q(followed->id), automatic ? tr(" (automatisch)") : QString())
            : tr("folgt: -"));
    autobt_->setEnabled(!automatic);
    table_->setRowCount(static_cast<int>(flights.size()));
    int row = 0;
    for (const auto& f : flights) {
        const FlightState& s = f->analytics.State();
        QString stations;
        for (const std::string& call : f->stations)
            stations += (stations.isEmpty() ? QString() : QStringLiteral(", ")) + Q(call);
        const double km = common::GeodesicBetween(home, *f->newest.position).km;
        const QString cells[kColumns] = {
            Q(f->id) + (f->confirmed ? QString() : QStringLiteral("?")),
            Q(common::FormatFixed(f->newest.altitudeM, 15, 0)) + QStringLiteral(" m"),
            f->ended ? tr("beendet") : PhaseText(s.phase),
            Q(DataAge::Text(now_() - f->lastReceivedS)),
            Q(common::FormatFixed(km, 15, 1)) + QStringLiteral(" km"),
            stations};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            // A candidate is shown but cannot be chosen until a second fix confirms it.
            if (!f->confirmed) item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
            item->setData(Qt::UserRole, Q(f->id));
            QFont font = item->font();
            font.setBold(f.get() == followed);
            item->setFont(font);
            table_->setItem(row, c, item);
        }
        ++row;
    }
}

}  // namespace monitor
