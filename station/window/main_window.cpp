#include "station/window/main_window.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QValidator>

#include "common/gui/log_memo.h"
#include "common/gui/night_theme.h"
#include "common/serial/qt_dispatcher.h"
#include "common/text.h"
#include "station/capture/audio_capture.h"
#include "station/uplink/station_id.h"
#include "station/window/service_controls.h"
#include "station/window/signal_view.h"

#include <iostream>

namespace station {

namespace {
constexpr int kLevelWidth = 28;                     // pixels
constexpr int kLevelHeight = 180;                   // pixels; the bar spans 0..90 dB
constexpr int kPlotWidth = 500, kPlotHeight = 120;  // dgraph, pixels

// The server list offered in servercombo; the first is the start text, so the local relay
// works out of the box.
constexpr int kStatusClearMs = 2000;

const char* const kDefaultServers[] = {"localhost", "relay.local", "127.0.0.1"};

// Refuses, as it is typed or pasted, what the server's records cannot carry.
class StationIdValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        for (const QChar c : input)
            if (!StationIdCharAllowed(c.unicode())) return Invalid;
        return Acceptable;
    }
};

// "Pfad: sensitive   gut: literal 12 / sensitive 15"
QString DecoderText(demod::Decoder last, int literalGood, int sensitiveGood) {
    return StationWindow::tr("Pfad: %1   gut: literal %2 / sensitive %3")
        .arg(QString::fromLatin1(demod::DecoderName(last)))
        .arg(literalGood)
        .arg(sensitiveGood);
}

// Received bytes may be anything: escaped, a control byte neither cuts the text short nor
// breaks a line.
QString Received(const std::string& bytes) {
    return QString::fromStdString(common::EscapeReceived(bytes));
}

// The telemetry's German words, as the window's language has them.
const char* const kInside = QT_TRANSLATE_NOOP("station::StationWindow", "°C (innen)");
const char* const kOutside = QT_TRANSLATE_NOOP("station::StationWindow", "°C (aussen)");
const char* const kUnknownShown = QT_TRANSLATE_NOOP("station::StationWindow", "unbekannt");

// `text` ending in `suffix`, with the suffix as shown.
QString Suffixed(const std::string& text, std::string_view suffix, const QString& shown) {
    if (!text.ends_with(suffix)) return QString::fromStdString(text);
    return QString::fromStdString(text.substr(0, text.size() - suffix.size())) + shown;
}

// Button4's caption: "RECHTECK" or "HAMMING".
QString TablesText(const std::string& caption) {
    if (caption == "RECHTECK")
        return QCoreApplication::translate("station::StationWindow", "RECHTECK");
    return QString::fromStdString(caption);
}

QColor FromColourValue(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}
}  // namespace

StationWindow::StationWindow(const StationOptions& options, QWidget* parent)
    : QMainWindow(parent),
      startup_(options),
      core_(startup_.CoreOptions()),
      uplink_(*this, static_cast<quint16>(kStationPort)) {
    setWindowTitle(QStringLiteral("tavrin"));
    startup_.SetUpDemodulator(core_.Demodulator());
    BuildControls();
    core_.OnFrame = [this](const FrameReport& r) { ausgabe(r); };
    core_.OnMessage = [this](const std::string& m) {
        LogMemo1->AppendLine(QString::fromStdString(m));
        statusBar()->showMessage(QString::fromStdString(m));
    };
    // The service port: opened on request only; nothing is written to or read from it.
    COMM.SetDispatcher(common::MakeQtDispatcher(this));
    COMM.SetBaudrate(common::br4800);
    COMM.SetPortNum(1);
    COMM.OnError = [this](common::TSerCustomComm&, int) { COMMError(); };
    // The port closes itself when its device goes away; the label must not go on saying ACTIVE.
    COMM.OnClose = [this](common::TSerCustomComm&) {
        Label1->setText(QStringLiteral("COMPORT INACTIVE"));
    };
    Timer1.setInterval(kStatusClearMs);
    connect(&Timer1, &QTimer::timeout, this, &StationWindow::Timer1Timer);
    uplink_.SetBacklog(startup_.Options().backlog);
    StationStartup::ConnectUplink(core_, uplink_);
}

StationWindow::~StationWindow() {
    if (AudioIn1) AudioIn1->Stop();
    COMM.Close();
}

QLabel* StationWindow::ValueLabel(const char* name, const QString& caption, QWidget* parent,
                                  QGridLayout* grid, int row, int col) {
    auto* cap = new QLabel(caption, parent);
    cap->setForegroundRole(QPalette::PlaceholderText);  // a quieter grey, day or night
    auto* value = new QLabel(QStringLiteral("-"), parent);
    value->setObjectName(QString::fromLatin1(name));
    QFont f = value->font();
    f.setPointSize(20);
    f.setBold(true);
    value->setFont(f);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(cap, row, col);
    grid->addWidget(value, row, col + 1);
    return value;
}

QWidget* StationWindow::BuildUplinkBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    auto upperCase = [](QLineEdit* edit) {
        QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
            const QString upper = StationIdUpper(text);
            if (upper == text) return;
            const int cursor = edit->cursorPosition();
            edit->setText(upper);
            edit->setCursorPosition(cursor);
        });
    };
    called = new QLineEdit(bar);
    called->setObjectName(QStringLiteral("called"));
    called->setMaximumWidth(140);
    upperCase(called);
    called->setValidator(new StationIdValidator(called));
    loced = new QLineEdit(bar);
    loced->setObjectName(QStringLiteral("loced"));
    loced->setMaximumWidth(100);
    upperCase(loced);
    loced->setValidator(new StationIdValidator(loced));
    servercombo = new QComboBox(bar);
    servercombo->setObjectName(QStringLiteral("servercombo"));
    servercombo->setEditable(true);
    servercombo->setMinimumWidth(180);
    for (const char* server : kDefaultServers) servercombo->addItem(QString::fromLatin1(server));
    conbt = new QPushButton(QStringLiteral("connect"), bar);
    conbt->setObjectName(QStringLiteral("conbt"));
    connect(conbt, &QPushButton::clicked, this, &StationWindow::conbtClick);
    errlb = new QLabel(tr("CALL ODER LOCATOR FEHLT"), bar);
    errlb->setObjectName(QStringLiteral("errlb"));
    errlb->setStyleSheet(QStringLiteral("color: red; font-weight: bold;"));
    errlb->hide();
    row->addWidget(new QLabel(QStringLiteral("CALL"), bar));
    row->addWidget(called);
    row->addWidget(new QLabel(QStringLiteral("LOCATOR"), bar));
    row->addWidget(loced);
    row->addWidget(new QLabel(QStringLiteral("Server"), bar));
    row->addWidget(servercombo);
    row->addWidget(conbt);
    row->addWidget(errlb);
    row->addStretch();
    auto sync = [this] {
        core_.SetStation(StationIdBytes(called->text()), StationIdBytes(loced->text()));
    };
    connect(called, &QLineEdit::textChanged, this, sync);
    connect(loced, &QLineEdit::textChanged, this, sync);
    connect(called, &QLineEdit::textEdited, this, [this] { callTyped_ = true; });
    connect(loced, &QLineEdit::textEdited, this, [this] { locatorTyped_ = true; });
    SetFieldsLocked(false);
    return bar;
}

// Service controls: hidden as they come, shown in a row of their own with --service.
QWidget* StationWindow::BuildServiceBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    auto button = [&](const char* name, const QString& caption, void (StationWindow::*click)()) {
        auto* b = new QPushButton(caption, bar);
        b->setObjectName(QString::fromLatin1(name));
        connect(b, &QPushButton::clicked, this, click);
        return b;
    };
    const auto& d = core_.Demodulator();
    Button1 = button("Button1", QString::fromStdString(PolarityCaption(d.MarkIsHigh())),
                     &StationWindow::Button1Click);
    Button2 = button("Button2", QStringLiteral("OPEN COMPORT"), &StationWindow::Button2Click);
    Edit1 = new QLineEdit(QStringLiteral("1"), bar);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMaximumWidth(60);
    Label1 = new QLabel(QStringLiteral("fff"), bar);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setVisible(startup_.Options().service);
    Button3 = button("Button3", tr("schnappschuss"), &StationWindow::Button3Click);
    Button4 = button("Button4", TablesText(TablesCaption(d)), &StationWindow::Button4Click);
    Button5 = button("Button5", tr("Messwert"), &StationWindow::Button5Click);
    dataed = new QLineEdit(QStringLiteral("1"), bar);
    dataed->setObjectName(QStringLiteral("dataed"));
    dataed->setMaximumWidth(60);
    for (QWidget* w : std::initializer_list<QWidget*>{Button1, Button2, Edit1, Label1, Button3,
                                                      Button4, Button5, dataed})
        row->addWidget(w);
    row->addStretch();
    bar->setVisible(startup_.Options().service);
    return bar;
}

// The plot and the panel the snapshot hides, under the service row.
QWidget* StationWindow::BuildServiceArea(QWidget* parent) {
    auto* area = new QWidget(parent);
    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 0, 0, 0);
    dgraph = new QLabel(area);
    dgraph->setObjectName(QStringLiteral("dgraph"));
    dgraph->setFixedSize(kPlotWidth, kPlotHeight);
    ClearPicture(dgraph, dgraph->size());
    Panel2 = new QFrame(area);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameShape(QFrame::StyledPanel);
    Panel2->setFrameShadow(QFrame::Sunken);
    Panel2->setFixedHeight(kPlotHeight);
    row->addWidget(dgraph, 0, Qt::AlignLeft);  // stays in place once the panel is hidden
    row->addWidget(Panel2, 1);
    area->setVisible(startup_.Options().service);
    return area;
}

void StationWindow::ClearPicture(QLabel* picture, QSize size) {
    QPixmap pm(size);
    pm.fill(Qt::white);
    picture->setPixmap(pm);
}

void StationWindow::Button1Click() {
    auto& d = core_.Demodulator();
    d.SetMarkIsHigh(!d.MarkIsHigh());
    Button1->setText(QString::fromStdString(PolarityCaption(d.MarkIsHigh())));
}

// The snapshot takes the log's place; a second press gives the log back.
void StationWindow::Button3Click() {
    Panel2->hide();
    const QSize size = LogMemo1->size();
    LogMemo1->setVisible(!LogMemo1->isVisibleTo(this));
    Image1->setVisible(!LogMemo1->isVisibleTo(this));
    if (LogMemo1->isVisibleTo(this)) return;
    QPixmap pm(size);
    pm.fill(Qt::white);
    QPainter p(&pm);
    const auto& d = core_.Demodulator();
    for (const bool marker : {false, true}) {
        const Polyline line = ScopeTrace(d, pm.width(), pm.height(), marker);
        p.setPen(marker ? QColor(0, 128, 0) : QColor(Qt::red));
        for (std::size_t i = 1; i < line.size(); ++i)
            p.drawLine(line[i - 1].x, line[i - 1].y, line[i].x, line[i].y);
    }
    p.end();
    Image1->setPixmap(pm);
}

void StationWindow::Button4Click() {
    Button4->setText(TablesText(core_.Demodulator().SwitchWindow()));
}

void StationWindow::Button5Click() {
    std::string error;
    const auto slot = ParseSlot(dataed->text().toStdString(), error);
    if (!slot) {
        SetStatus(QString::fromStdString(error));
        return;
    }
    QPixmap pm(dgraph->size());
    pm.fill(Qt::white);
    QPainter p(&pm);
    p.setPen(Qt::black);
    const Polyline line = SlotPlot(core_.history(), *slot, pm.width(), pm.height());
    for (std::size_t i = 1; i < line.size(); ++i)
        p.drawLine(line[i - 1].x, line[i - 1].y, line[i].x, line[i].y);
    p.end();
    dgraph->setPixmap(pm);
}

void StationWindow::Button2Click() {
    std::string error;
    const auto port = ParseFieldInt(Edit1->text().toStdString(), error);
    if (!port) {
        SetStatus(QString::fromStdString(error));
        return;
    }
    try {
        COMM.SetPortNum(*port);
        COMM.Open();
    } catch (const std::exception& e) {
        LogMemo1->AppendLine(QString::fromStdString(e.what()));
    }
    Label1->setText(COMM.Active() ? QStringLiteral("COMPORT ACTIVE")
                                  : QStringLiteral("COMPORT INACTIVE"));
}

// From the first port error on, the status bar is cleared every 2 s.
void StationWindow::COMMError() {
    SetStatus(QStringLiteral("COM Error"));
    Timer1.start();
}

void StationWindow::Timer1Timer() {
    statusBar()->clearMessage();
}

void StationWindow::SetStatus(const QString& text) {
    statusBar()->showMessage(text);
}

void StationWindow::LogLine(const QString& text) {
    LogMemo1->AppendLine(text);
}

void StationWindow::conbtClick() {
    const std::string locator = common::FirstWord(loced->text().toStdString());
    if (locatorTyped_ && !locator.empty() && !uplink_.Connected() &&
        !IsMaidenheadLocator(locator)) {
        Report(QStringLiteral("locator \"%1\" refused: %2")
                   .arg(QString::fromStdString(locator), QString::fromLatin1(kLocatorForm)));
        return;
    }
    uplink_.conbtClick();
}

// Silver while connected, white otherwise; at night the dark palette's own shades.
void StationWindow::SetFieldsLocked(bool locked) {
    fieldsLocked_ = locked;
    const bool night = common::IsNight(*this);
    const QColor lockedColour = night ? palette().color(QPalette::Mid) : QColor(192, 192, 192);
    const QColor openColour = night ? palette().color(QPalette::Base) : QColor(Qt::white);
    for (QLineEdit* edit : {called, loced}) {
        edit->setReadOnly(locked);
        QPalette pal = edit->palette();
        pal.setColor(QPalette::Base, locked ? lockedColour : openColour);
        edit->setPalette(pal);
    }
}

void StationWindow::BuildControls() {
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->addWidget(BuildUplinkBar(central));
    outer->addWidget(BuildServiceBar(central));
    outer->addWidget(BuildServiceArea(central));

    auto* top = new QHBoxLayout;
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    timelb = ValueLabel("timelb", tr("Zeit"), central, grid, 0, 0);
    maidenlb = ValueLabel("maidenlb", tr("Locator"), central, grid, 0, 2);
    hoehelb = ValueLabel("hoehelb", tr("Höhe"), central, grid, 1, 0);
    satlb = ValueLabel("satlb", tr("Satelliten"), central, grid, 1, 2);
    vbatlb = ValueLabel("vbatlb", tr("Batterie"), central, grid, 2, 0);
    vpresslb = ValueLabel("vpresslb", tr("Luftdruck"), central, grid, 2, 2);
    vitemplb = ValueLabel("vitemplb", tr("Temperatur"), central, grid, 3, 0);
    vatemplb = ValueLabel("vatemplb", tr("Temperatur"), central, grid, 3, 2);
    breitelb = ValueLabel("breitelb", tr("Breite"), central, grid, 4, 0);
    laengelb = ValueLabel("laengelb", tr("Länge"), central, grid, 4, 2);
    vhumlb = ValueLabel("vhumlb", QString(), central, grid, 5, 0);
    vhumlb->clear();
    // The raw position stays in the window for the next developer but is not shown:
    // the locator is what operators pass on.
    for (QLabel* hidden : {breitelb, laengelb}) {
        hidden->hide();
        grid->itemAtPosition(4, hidden == breitelb ? 0 : 2)->widget()->hide();
    }
    Label3 = new QLabel(QStringLiteral("----    ----"), central);
    Label3->setObjectName(QStringLiteral("Label3"));
    QFont mono(QStringLiteral("Monospace"));
    mono.setPointSize(14);
    mono.setBold(true);
    Label3->setFont(mono);
    grid->addWidget(new QLabel(tr("Prüfsumme"), central), 6, 0);
    grid->addWidget(Label3, 6, 1);
    decoderlb = new QLabel(central);
    decoderlb->setObjectName(QStringLiteral("decoderlb"));
    grid->addWidget(decoderlb, 6, 2, 1, 2);
    signallb = new QLabel(QStringLiteral("-"), central);
    signallb->setObjectName(QStringLiteral("signallb"));
    grid->addWidget(new QLabel(QStringLiteral("Signal"), central), 7, 0);
    grid->addWidget(signallb, 7, 1, 1, 3);
    statslb = new QLabel(central);
    statslb->setObjectName(QStringLiteral("statslb"));
    grid->addWidget(new QLabel(tr("Statistik"), central), 8, 0);
    grid->addWidget(statslb, 8, 1, 1, 3);
    top->addLayout(grid, 1);

    auto* level = new QVBoxLayout;
    ausimg = new QLabel(central);
    ausimg->setObjectName(QStringLiteral("ausimg"));
    ausimg->setFixedSize(kLevelWidth, kLevelHeight);
    ausimg->setFrameShape(QFrame::Box);
    auslb = new QLabel(QStringLiteral("0"), central);
    auslb->setObjectName(QStringLiteral("auslb"));
    auslb->setAlignment(Qt::AlignHCenter);
    level->addWidget(new QLabel(QStringLiteral("dB"), central), 0, Qt::AlignHCenter);
    level->addWidget(ausimg, 0, Qt::AlignHCenter);
    level->addWidget(auslb, 0, Qt::AlignHCenter);
    level->addStretch();
    top->addLayout(level);
    if (startup_.Options().waterfall) {
        signalView = new SignalView(central);
        top->addWidget(signalView, 1);
    }
    outer->addLayout(top);

    LogMemo1 = new common::LogMemo(central);
    LogMemo1->setObjectName(QStringLiteral("LogMemo1"));
    outer->addWidget(LogMemo1, 1);
    Image1 = new QLabel(central);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setMinimumSize(1, 1);
    Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    Image1->hide();
    outer->addWidget(Image1, 1);

    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    BuildLanguageMenu();
    resize(startup_.Options().waterfall ? 1200 : 900, 700);
    DrawLevel();
    ShowStats();
    // Time since the last good frame goes on even when no frame comes.
    statsTimer_.setInterval(1000);
    connect(&statsTimer_, &QTimer::timeout, this, &StationWindow::ShowStats);
    statsTimer_.start();
}

// Each language named in itself; a choice holds from the next start and goes into tavrin.ini
// with the call sign and locator when the window closes.
void StationWindow::BuildLanguageMenu() {
    QMenu* view = menuBar()->addMenu(tr("Ansicht"));
    nightAction_ = view->addAction(tr("Nachtmodus"));
    nightAction_->setObjectName(QStringLiteral("nightaction"));
    nightAction_->setCheckable(true);
    connect(nightAction_, &QAction::toggled, this, &StationWindow::ApplyNight);
    connect(nightAction_, &QAction::triggered, this, [this](bool on) { startup_.SetNight(on); });

    QMenu* menu = menuBar()->addMenu(QStringLiteral("Sprache/Language"));
    menu->setObjectName(QStringLiteral("languagemenu"));
    auto* group = new QActionGroup(menu);
    for (const auto& [code, name] : {std::pair{"de", "Deutsch"}, std::pair{"en", "English"}}) {
        QAction* choice = menu->addAction(QString::fromUtf8(name));
        choice->setObjectName(QStringLiteral("language_") + QLatin1String(code));
        choice->setCheckable(true);
        group->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, code, name] {
            startup_.SetLanguage(code);
            SetStatus(tr("Sprache ab dem nächsten Start: %1").arg(QString::fromUtf8(name)));
        });
    }
}

void StationWindow::ApplyNight(bool on) {
    common::ApplyNightTheme(this, on);
    SetFieldsLocked(fieldsLocked_);
    DrawLevel();
}

void StationWindow::ShowStats() {
    stats_.SetOverruns(core_.losses().Overruns());
    statslb->setText(QString::fromStdString(stats_.Text(DecodeStats::Clock::now())));
}

void StationWindow::Report(const QString& text) {
    statusBar()->showMessage(text);
    LogMemo1->AppendLine(text);
}

void StationWindow::FormCreate() {
    for (const auto& problem : startup_.ReadSettings()) Report(QString::fromStdString(problem));
    const std::string language =
        common::ChooseLanguage(startup_.Options().language, startup_.LanguageSetting());
    for (QAction* choice :
         findChildren<QAction*>(QStringLiteral("language_") + QString::fromStdString(language)))
        choice->setChecked(true);
    nightAction_->setChecked(startup_.NightSetting());
    if (startup_.SettingsMissing())
        statusBar()->showMessage(QStringLiteral("No tavrin.ini yet: enter call sign and locator"));
    called->setText(startup_.CallField());
    loced->setText(startup_.LocatorField());
    if (!startup_.ServerText().isEmpty()) {
        servercombo->setCurrentText(startup_.ServerText());
        conbtClick();
    }

    AudioIn1 = startup_.MakeCapture(core_, [this] {
        DrawLevel();
        if (signalView) {
            const auto& d = core_.Demodulator();
            signalView->SetTones(d.LowToneHz(), d.HighToneHz());
            signalView->AddBlock(core_.Meter());
        }
    });
    AudioIn1->OnEnd = [this](capture::TAudioCapture*, const std::string& message) {
        Report(message.empty() ? QStringLiteral("end of the recording")
                               : QString::fromStdString(message));
        core_.EndOfInput();
    };
    if (!AudioIn1->Start()) {
        Report(QString::fromStdString(AudioIn1->ErrorMessage()));
        if (const std::string hint = startup_.CaptureFailureHint(); !hint.empty())
            LogLine(QString::fromStdString(hint));
    }
}

// What the operator typed is kept; a call sign or locator from the command line is not.
void StationWindow::FormClose() {
    std::string error;
    if (!startup_.SaveSettings({called->text(), callTyped_}, {loced->text(), locatorTyped_}, error))
        std::cerr << "tavrin: " << error << "\n";
}

void StationWindow::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void StationWindow::DrawLevel() {
    const auto& d = core_.Demodulator();
    QPixmap pm(ausimg->size());
    pm.fill(common::IsNight(*this) ? palette().color(QPalette::Base) : QColor(Qt::white));
    QPainter p(&pm);
    const int top = demod::FskDemodulator::LevelBarTop(d.LevelDb(), pm.height());
    p.fillRect(0, top, pm.width(), pm.height() - top, d.LevelIsRed() ? Qt::red : Qt::blue);
    p.end();
    ausimg->setPixmap(pm);
    auslb->setText(QString::number(d.LevelLabel()));
}

void StationWindow::ausgabe(const FrameReport& r) {
    const TelemetryDisplay& d = r.display;
    vbatlb->setText(QString::fromStdString(d.vbatlb));
    vitemplb->setText(Suffixed(d.vitemplb, kInside, tr(kInside)));
    vatemplb->setText(Suffixed(d.vatemplb, kOutside, tr(kOutside)));
    vhumlb->setText(QString::fromStdString(d.vhumlb));
    vpresslb->setText(QString::fromStdString(d.vpresslb));
    timelb->setText(Received(d.timelb));
    breitelb->setText(QString::fromStdString(d.breitelb));  // hidden; holds our own "°"
    laengelb->setText(QString::fromStdString(d.laengelb));
    maidenlb->setText(d.maidenlb == kUnknownLocator ? tr(kUnknownShown)
                                                    : QString::fromStdString(d.maidenlb));
    hoehelb->setText(Received(d.hoehelb));
    satlb->setText(Received(d.satlb));
    QPalette pal = Label3->palette();
    pal.setColor(QPalette::WindowText, FromColourValue(r.label3Colour));
    Label3->setPalette(pal);
    Label3->setText(QString::fromStdString(r.label3));
    const auto& demod = core_.Demodulator();
    signallb->setText(QString::fromStdString(
        SignalFiguresCaption(r.signal, demod.LowToneHz(), demod.HighToneHz())));
    stats_.Count(r.ok, DecodeStats::Clock::now());
    ShowStats();
    decoderlb->setText(DecoderText(r.decoder, core_.PathGoodFrames(demod::Decoder::Literal),
                                   core_.PathGoodFrames(demod::Decoder::Sensitive)));
    if (r.repairedBits > 0)
        LogMemo1->AppendLine(
            QStringLiteral("Rahmen %1 repariert (%2 Bit)").arg(r.number).arg(r.repairedBits));
    LogMemo1->AppendLine(Received(d.gps));
    LogMemo1->AppendLine(Received(d.dataLine));
}

}  // namespace station
