#include "monitor/window/main_window.h"

#include <QAction>
#include <QCheckBox>
#include <QEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QValidator>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "common/gui/log_memo.h"
#include "common/locator.h"
#include "common/numbers.h"
#include "monitor/io/record_log.h"

namespace monitor {

namespace {

// The first is the start text, so the local relay works out of the box.
const char* const kServerPresets[] = {"localhost", "relay.local", "127.0.0.1", "[::1]:3000"};

constexpr int kCourseLetterPt = 8;

// Texts cut from the received bytes, and messages quoting them: every byte is one Latin-1
// character, NUL included.
QString Received(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Texts the reader composed (numbers with units such as "°C", messages quoting received bytes
// escaped) are UTF-8, as the headless lines print them.
QString Composed(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Typed or pasted text becomes upper case before the edit takes it, so every change the
// locator handler sees is already upper case.
class UpperCase : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr int kCarTickMs = 1000;

QColor FromRgb(std::uint32_t rgb) {
    return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>(rgb & 0xFF));
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      core_(kDefaultLocator),
      link_(*this),
      output_(SerComm1),
      navi_(SerComm1, this),
      gps_(
          [this](std::function<void()> job) {
              QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection);
          },
          GpsSource::Handlers{[this](const CarFix& fix) { gpsFix(fix); },
                              [this](const std::string& text) {
                                  ShowMessage(QStringLiteral("GPS: ") +
                                              QString::fromStdString(text));
                              }}) {
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(QStringLiteral("pelmora"));
    BuildControls();
    typedLocator_ = myloced->text();
    carTimer_ = new QTimer(this);
    carTimer_->setObjectName(QStringLiteral("cartimer"));
    connect(carTimer_, &QTimer::timeout, this, &TForm1::ShowCarLocator);
    SerComm1.SetBaudrate(kNmeaBaudrate);
    SerComm1.SetPortNum(1);
    navi_.OnLineError = [this](int) { ShowMessage(QStringLiteral("COM Error")); };
    // The port closes itself when its device goes away and is opened again when it is back;
    // the window must leave neither unsaid.
    navi_.OnNotice = [this](const std::string& text) { ShowMessage(QString::fromStdString(text)); };
    navi_.OnStateChanged = [this] { ShowNavigationState(); };
    output_.OnNotice = [this](const std::string& text) {
        ShowMessage(QString::fromStdString(text));
    };
}

TForm1::~TForm1() {
    FormDestroy();
}

// The caption small above its value, so two values stand side by side in the column.
FitLabel* TForm1::ValueLabel(const char* name, const QString& caption, QWidget* parent,
                             QGridLayout* grid, int row, int col, int chars, int span) {
    auto* cap = new QLabel(caption, parent);
    cap->setForegroundRole(QPalette::PlaceholderText);  // a quieter grey, day or night
    auto* value = new FitLabel(QStringLiteral("-"), chars, parent);
    value->setObjectName(QString::fromLatin1(name));
    QFont f = value->font();
    f.setPointSize(kValuePt);
    f.setBold(true);
    value->setFont(f);
    grid->addWidget(cap, 2 * row, col, 1, span);
    grid->addWidget(value, 2 * row + 1, col, 1, span);
    return value;
}

QWidget* TForm1::BuildConnectionBar(QWidget* parent) {
    auto* bar = new QWidget(parent);
    auto* rows = new QVBoxLayout(bar);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    Label1 = new QLabel(QStringLiteral("VELK_SERVER"), bar);
    Label1->setObjectName(QStringLiteral("Label1"));
    servercombo = new QComboBox(bar);
    servercombo->setObjectName(QStringLiteral("servercombo"));
    servercombo->setEditable(true);
    servercombo->setMinimumWidth(200);
    for (const char* server : kServerPresets) servercombo->addItem(QString::fromLatin1(server));
    servercombo->setCurrentIndex(0);
    conbtn = new QPushButton(QStringLiteral("connect"), bar);
    conbtn->setObjectName(QStringLiteral("conbtn"));
    connect(conbtn, &QPushButton::clicked, this, &TForm1::conbtnClick);
    msglb = new QLabel(QStringLiteral("-"), bar);
    msglb->setObjectName(QStringLiteral("msglb"));
    top->addWidget(Label1);
    top->addWidget(servercombo);
    top->addWidget(conbtn);
    top->addWidget(msglb, 1);
    rows->addLayout(top);

    auto* second = new QHBoxLayout;
    Label13 = new QLabel(QStringLiteral("LOCATOR"), bar);
    Label13->setObjectName(QStringLiteral("Label13"));
    myloced = new QLineEdit(
        QString::fromLatin1(kDefaultLocator.data(), static_cast<qsizetype>(kDefaultLocator.size())),
        bar);
    myloced->setObjectName(QStringLiteral("myloced"));
    myloced->setMaximumWidth(100);
    myloced->setValidator(new UpperCase(myloced));
    connect(myloced, &QLineEdit::textChanged, this, &TForm1::mylocedChange);
    Button1 = new QPushButton(QStringLiteral("OPEN COMPORT"), bar);
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    comped = new QLineEdit(QStringLiteral("1"), bar);
    comped->setObjectName(QStringLiteral("comped"));
    comped->setMaximumWidth(120);
    Label2 = new QLabel(QStringLiteral("com"), bar);
    Label2->setObjectName(QStringLiteral("Label2"));
    for (QWidget* op : std::initializer_list<QWidget*>{Button1, comped, Label2}) op->hide();
    gpscb = new QCheckBox(QStringLiteral("GPS"), bar);
    gpscb->setObjectName(QStringLiteral("gpscb"));
    gpscb->setToolTip(tr("Standort des Autos von gpsd"));
    connect(gpscb, &QCheckBox::toggled, this, &TForm1::gpscbClick);
    gpsed = new QLineEdit(QString::fromLatin1(kGpsdDefaultServer.data(),
                                              static_cast<qsizetype>(kGpsdDefaultServer.size())),
                          bar);
    gpsed->setObjectName(QStringLiteral("gpsed"));
    gpsed->setMaximumWidth(160);
    gpsed->setToolTip(tr("gpsd: HOST oder HOST:PORT"));
    waypointcb = new QCheckBox(tr("Landepunkt an Navi"), bar);
    waypointcb->setObjectName(QStringLiteral("waypointcb"));
    connect(waypointcb, &QCheckBox::toggled, this, [this](bool on) { output_.SetWaypointOn(on); });
    second->addWidget(Label13);
    second->addWidget(myloced);
    second->addWidget(gpscb);
    second->addWidget(gpsed);
    second->addWidget(waypointcb);
    navilb = new QLabel(bar);
    navilb->setObjectName(QStringLiteral("navilb"));
    navilb->hide();
    second->addWidget(navilb);
    second->addStretch(1);
    second->addWidget(Label2);
    second->addWidget(comped);
    second->addWidget(Button1);
    rows->addLayout(second);
    return bar;
}

QWidget* TForm1::BuildDisplays(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* rows = new QVBoxLayout(box);
    rows->setContentsMargins(0, 0, 0, 0);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(0);
    rxstatlb =
        ValueLabel("rxstatlb", tr("aktuelle Empfangsstation"), box, grid, 0, 0, kStationChars, 2);
    utclb = ValueLabel("utclb", tr("UTC letzte Daten"), box, grid, 1, 0);
    satlb = ValueLabel("satlb", tr("Sats"), box, grid, 1, 1);
    ubatlb = ValueLabel("ubatlb", tr("Ubat"), box, grid, 2, 0);
    tbatlb = ValueLabel("tbatlb", tr("Tbat"), box, grid, 2, 1);
    tauslb = ValueLabel("tauslb", tr("Taus"), box, grid, 3, 0);
    plb = ValueLabel("plb", tr("Luftdruck "), box, grid, 3, 1);
    hgpslb = ValueLabel("hgpslb", tr("Höhe GPS"), box, grid, 4, 0);
    gvlb = ValueLabel("gvlb", tr("Vertikalgeschwindigkeit"), box, grid, 4, 1);
    tacholb = ValueLabel("tacholb", tr("gefahrene Strecke"), box, grid, 5, 0);
    dvllb = ValueLabel("dvllb", tr("Distanz zum Ballon"), box, grid, 5, 1);
    utclb->setText(QStringLiteral("--:--:--"));
    ubatlb->setText(QStringLiteral("--.-V"));
    plb->setText(QStringLiteral("----,- hPa"));
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    rows->addLayout(grid);

    // The speed sits on a panel of its own beside the course: a click anywhere on it flips the
    // unit. Its figure stays large; the panel is no taller than the course image beside it.
    auto* speedRow = new QHBoxLayout;
    Panel9 = new QFrame(box);
    Panel9->setObjectName(QStringLiteral("Panel9"));
    Panel9->setFrameShape(QFrame::StyledPanel);
    Panel9->setCursor(Qt::PointingHandCursor);
    auto* panelRows = new QVBoxLayout(Panel9);
    Label6 = new QLabel(tr("Geschwindigkeit (km/h)"), Panel9);
    Label6->setObjectName(QStringLiteral("Label6"));
    ghlb = new FitLabel(QStringLiteral("-"), kSpeedChars, Panel9);
    ghlb->setObjectName(QStringLiteral("ghlb"));
    QFont f = ghlb->font();
    f.setPointSize(kSpeedPt);
    f.setBold(true);
    ghlb->setFont(f);
    panelRows->addWidget(Label6);
    panelRows->addStretch(1);
    panelRows->addWidget(ghlb);
    panelRows->addStretch(1);
    Panel9->installEventFilter(this);
    Panel9->setFixedHeight(kCourseImageSize);
    speedRow->addWidget(Panel9, 1);

    kursimg = new QLabel(box);
    kursimg->setObjectName(QStringLiteral("kursimg"));
    kursimg->setFixedSize(kCourseImageSize, kCourseImageSize);
    speedRow->addWidget(kursimg);
    rows->addLayout(speedRow);
    return box;
}

namespace {

// The column scrolls up and down only: it is never narrower than what it holds asks for.
class ColumnArea : public QScrollArea {
  public:
    using QScrollArea::QScrollArea;
    QSize minimumSizeHint() const override { return Fitting(widget()->minimumSizeHint()); }
    QSize sizeHint() const override { return Fitting(widget()->sizeHint()); }

  private:
    QSize Fitting(QSize content) const {
        const int w = content.width() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth();
        return {w, std::min(content.height(), kColumnMinHeight)};
    }
};

}  // namespace

void TForm1::BuildControls() {
    auto* central = new QWidget(this);
    auto* root = new QVBoxLayout(central);
    connectionBar_ = BuildConnectionBar(central);
    root->addWidget(connectionBar_);

    mainsplit_ = new QSplitter(Qt::Horizontal, central);
    mainsplit_->setObjectName(QStringLiteral("mainsplit"));
    mainsplit_->setChildrenCollapsible(false);
    auto* mapBox = new QWidget(mainsplit_);
    mapBox->setObjectName(QStringLiteral("maparea"));
    mapArea_ = new QVBoxLayout(mapBox);
    mapArea_->setContentsMargins(0, 0, 0, 0);
    mapBox->hide();
    column_ = new ColumnArea(mainsplit_);
    column_->setObjectName(QStringLiteral("valuescolumn"));
    column_->setWidgetResizable(true);
    column_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column_->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(column_);
    auto* rows = new QVBoxLayout(content);
    rows->setContentsMargins(0, 0, 6, 0);
    rows->addWidget(BuildDisplays(content));
    panelArea_ = new QVBoxLayout;
    panelArea_->setObjectName(QStringLiteral("panelArea"));
    rows->addLayout(panelArea_);
    LogMemo1 = new common::LogMemo(content);
    LogMemo1->setObjectName(QStringLiteral("LogMemo1"));
    LogMemo1->hide();
    LogMemo1->setMinimumHeight(120);
    rows->addWidget(LogMemo1, 1);
    column_->setWidget(content);
    mainsplit_->addWidget(mapBox);
    mainsplit_->addWidget(column_);
    mainsplit_->setStretchFactor(0, 1);
    mainsplit_->setStretchFactor(1, 0);
    root->addWidget(mainsplit_, 1);
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));

    viewMenu_ = menuBar()->addMenu(tr("Ansicht"));
    mapOnlyAction_ = new QAction(tr("Karte im Vollbild"), this);
    mapOnlyAction_->setObjectName(QStringLiteral("maponlyaction"));
    mapOnlyAction_->setCheckable(true);
    mapOnlyAction_->setShortcut(QKeySequence(Qt::Key_F11));
    mapOnlyAction_->setEnabled(false);  // until there is a map
    viewMenu_->addAction(mapOnlyAction_);
    // On the window too, so that F11 works while the menu bar is hidden.
    addAction(mapOnlyAction_);
    connect(mapOnlyAction_, &QAction::toggled, this, &TForm1::SetMapOnly);
    resize(760, 420);
}

void TForm1::SetMapOnly(bool on) {
    if (mapOnlyAction_->isChecked() != on) mapOnlyAction_->setChecked(on);  // comes back here
    if (on == connectionBar_->isHidden()) return;
    for (QWidget* w :
         std::initializer_list<QWidget*>{connectionBar_, column_, statusBar(), menuBar()})
        w->setVisible(!on);
    if (on) {
        maximizedBeforeMapOnly_ = isMaximized();
        showFullScreen();
    } else if (maximizedBeforeMapOnly_) {
        showMaximized();
    } else {
        showNormal();
    }
}

void TForm1::FormCreate() {
    core_ = MonitorCore(myloced->text().toStdString());  // fresh: the first record primes
    core_.Reader().SetSpeedKmh(true);
    core_.SetHomeSource(CarHome());
    courseW_ = kursimg->width();
    courseH_ = kursimg->height();
    DrawCourseLetters();
    if (QFile::exists(QString::fromLatin1(kOperatorMarkerFile)))
        for (QWidget* op : std::initializer_list<QWidget*>{LogMemo1, Button1, Label2, comped})
            op->show();
}

void TForm1::conbtnClick() {
    if (link_.Active()) {
        link_.Disconnect();
        msglb->setText(QStringLiteral("disconnected"));
        conbtn->setText(QStringLiteral("connect"));
        core_.UserDisconnected();
        if (OnUserDisconnect) OnUserDisconnect();
        return;
    }
    core_.Reader().ResetTotalDistance();
    QString error;
    if (!link_.Connect(servercombo->currentText(), error)) {
        msglb->setText(tr("Fehler bei der Verbindung"));
        conbtn->setText(QStringLiteral("connect"));
        ShowMessage(error);
    }
}

void TForm1::tcpclientConnecting() {
    conbtn->setText(QStringLiteral("disconnect"));
}

void TForm1::tcpclientConnect(const QString& host) {
    msglb->setText(tr("verbunden mit ") + host);
    statusBar()->clearMessage();
    if (const std::size_t dropped = core_.Reader().StartStream())
        ShowMessage(
            QStringLiteral("dropped %1 bytes of an unfinished record of the last connection")
                .arg(dropped));
}

void TForm1::tcpclientError(const QString& detail, bool retrying) {
    msglb->setText(tr("Fehler bei der Verbindung"));
    if (!retrying) conbtn->setText(QStringLiteral("connect"));
    ShowMessage(retrying
                    ? detail + QStringLiteral("; next attempt in %1 s").arg(kRetryIntervalMs / 1000)
                    : detail);
}

void TForm1::tcpclientRead(const QByteArray& bytes) {
    const SplitResult split = core_.Reader().Split(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    for (const std::string& m : split.messages) ShowMessage(Composed(m));
    for (const std::string& record : split.records) {
        const double now = WallSeconds();
        ShowRecord(core_.Take(record, now));
        std::string problem;
        if (recordLog_ && !recordLog_->Append({now, record}, problem) && recordLog_->Failed() == 1)
            ShowMessage(QStringLiteral("record log: ") + Composed(problem));
    }
}

void TForm1::UseRecordLog(std::unique_ptr<RecordLog> log) {
    recordLog_ = std::move(log);
    std::vector<std::string> problems;
    const double now = WallSeconds();
    const auto records = recordLog_->ReadSince(now - kRecordLogReadBackS, problems);
    for (const std::string& p : problems) ShowMessage(QStringLiteral("record log: ") + Composed(p));
    for (const LoggedRecord& r : records) core_.Take(r.record, r.receivedS, false);
    core_.Tick(now, std::nullopt);
    if (!records.empty())
        ShowMessage(QStringLiteral("%1 records of the last %2 h read back (%3 flights)")
                        .arg(records.size())
                        .arg(kRecordLogReadBackS / 3600)
                        .arg(core_.Tracker().Flights().size()));
}

void TForm1::ShowRecord(const RecordOutcome& outcome) {
    const RecordResult& r = outcome.shown;
    const Displays& d = r.displays;
    // Received texts and numbers of any length: the labels cut them, and a number too long to
    // be a reading shows as "-"; the headless lines keep them whole.
    rxstatlb->SetFullText(Received(d.rxstatlb));
    utclb->SetFullText(Received(d.utclb));
    satlb->SetFullText(Received(d.satlb));
    ubatlb->SetFullText(WithinNumberLength(Composed(d.ubatlb)));
    tbatlb->SetFullText(WithinNumberLength(Composed(d.tbatlb)));
    tauslb->SetFullText(WithinNumberLength(Composed(d.tauslb)));
    plb->SetFullText(WithinNumberLength(Composed(d.plb)));
    hgpslb->SetFullText(WithinNumberLength(Composed(d.hgpslb)));
    gvlb->SetFullText(WithinNumberLength(Composed(d.gvlb)));
    QPalette pal = gvlb->palette();
    pal.setColor(QPalette::WindowText, FromRgb(d.gvlbColour));
    gvlb->setPalette(pal);
    ghlb->SetFullText(WithinNumberLength(Composed(d.ghlb)));
    dvllb->SetFullText(WithinNumberLength(Composed(d.dvllb)));
    tacholb->SetFullText(WithinNumberLength(Composed(d.tacholb)));
    if (d.courseDrawn) DrawCourse(d.courseDeg);
    if (!r.error.empty())
        ShowMessage(QStringLiteral("record not shown in full: ") + Composed(r.error));
    if (!outcome.firstRefusal.empty()) ShowMessage(Composed(outcome.firstRefusal));
    QString line = Received(r.record.text);
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    LogMemo1->AppendLine(line);
    if (OnRecordShown) OnRecordShown(outcome);
    if (!outcome.toDevice) return;
    // After the panels took the record, so the waypoint is this record's landing estimate.
    const auto landing = LandingPoint ? LandingPoint() : std::nullopt;
    try {
        output_.SetLine(r.nmeaLine, landing ? LandingWaypointSentence(*landing) : std::string());
    } catch (const std::exception& e) {
        ShowMessage(QString::fromLocal8Bit(e.what()));
    }
}

void TForm1::mylocedChange(const QString& text) {
    typedLocator_ = text;
    core_.SetHomeLocator(text.toStdString());
}

void TForm1::gpscbClick(bool on) {
    if (on) {
        std::string error;
        const auto server = ParseGpsServer(gpsed->text().trimmed().toStdString(), error);
        if (!server) {
            ShowMessage(QStringLiteral("GPS: ") + QString::fromStdString(error));
            const QSignalBlocker quiet(gpscb);
            gpscb->setChecked(false);
            return;
        }
        const QString port = comped->text().trimmed();
        gps_.Start(*server, port.startsWith(QLatin1Char('/')) ? port.toStdString() : std::string());
        carTimer_->start(kCarTickMs);
    } else {
        gps_.Stop();
        car_.Clear();
        carTimer_->stop();
    }
    gpsed->setReadOnly(on);
    myloced->setReadOnly(on);
    ShowCarLocator();
}

void TForm1::gpsFix(const CarFix& fix) {
    car_.OnFix(fix);
    ShowCarLocator();
}

std::optional<CarFix> TForm1::CurrentCarFix() const {
    if (!gpscb->isChecked()) return std::nullopt;
    return car_.Current(SteadyMs());
}

std::optional<CarFix> TForm1::HomeCarFix() const {
    if (!gpscb->isChecked()) return std::nullopt;
    return CarHomeAt(car_, SteadyMs(), carHoldS_).fix;
}

std::optional<double> TForm1::CarNoFixS() const {
    if (!gpscb->isChecked()) return std::nullopt;
    const CarHomeState home = CarHomeAt(car_, SteadyMs(), carHoldS_);
    const bool lost = home.kind == CarHomeKind::Holding || home.kind == CarHomeKind::Expired;
    return lost ? std::optional(home.noFixS) : std::nullopt;
}

HomeSource TForm1::CarHome() const {
    return [this]() -> std::optional<LatLonDeg> {
        const auto fix = HomeCarFix();
        return fix ? std::optional(fix->position) : std::nullopt;
    };
}

// The car's locator while it is home (a fix, or the last position held), else the typed one;
// set without the change handler, so the typed locator stays what the user typed.
void TForm1::ShowCarLocator() {
    if (gpscb->isChecked()) {
        const std::string said =
            carHoldNotice_.Check(CarHomeAt(car_, SteadyMs(), carHoldS_), carHoldS_);
        if (!said.empty()) ShowMessage(QString::fromStdString(said));
    }
    const auto fix = HomeCarFix();
    const auto carLocator =
        fix ? common::LatLonToLocator(fix->position.lon, fix->position.lat) : std::nullopt;
    const QString text = carLocator ? QString::fromStdString(*carLocator) : typedLocator_;
    if (myloced->text() != text) {
        const QSignalBlocker quiet(myloced);
        myloced->setText(text);
    }
    if (OnCarChanged) OnCarChanged();
}

void TForm1::Panel9Click() {
    core_.Reader().SetSpeedKmh(!core_.Reader().SpeedKmh());
    Label6->setText(core_.Reader().SpeedKmh() ? tr("Geschwindigkeit (km/h)")
                                              : tr("Geschwindigkeit (m/s)"));
}

void TForm1::FormDestroy() {
    gps_.Stop();
    link_.Disconnect();
    navi_.Close();
}

void TForm1::Button1Click() {
    const QString text = comped->text().trimmed();
    if (!text.startsWith(QLatin1Char('/')) && !common::ParseInt(text.toStdString())) {
        ShowMessage(QStringLiteral("'%1' is not a valid integer value").arg(comped->text()));
        return;
    }
    try {
        navi_.OpenNow(text.toStdString());
    } catch (const std::exception& e) {
        ShowMessage(QString::fromLocal8Bit(e.what()));
        return;
    }
    ShowMessage(SerComm1.Active() ? QStringLiteral("COMPORT ACTIVE")
                                  : QStringLiteral("COMPORT INACTIVE"));
}

void TForm1::FollowSerial(const QString& port) {
    comped->setText(port);
    try {
        navi_.Follow(port.trimmed().toStdString());
    } catch (const std::exception& e) {
        ShowMessage(QString::fromLocal8Bit(e.what()));
        return;
    }
    if (SerComm1.Active()) ShowMessage(QStringLiteral("COMPORT ACTIVE"));
}

// Beside "Landepunkt an Navi": whether the sentences reach the device, while one is asked for.
void TForm1::ShowNavigationState() {
    const NavigationDevice::State state = navi_.GetState();
    navilb->setVisible(state != NavigationDevice::State::None);
    const bool open = state == NavigationDevice::State::Open;
    const int every = kNavigationRetryMs / 1000;
    navilb->setText(open ? tr("Navi verbunden")
                    : navi_.Problem().empty()
                        ? tr("Navi fehlt, neuer Versuch alle %1 s").arg(every)
                        : tr("Navi nicht zu öffnen, neuer Versuch alle %1 s").arg(every));
    navilb->setToolTip(QString::fromStdString(navi_.Path()) +
                       (navi_.Problem().empty()
                            ? QString()
                            : QStringLiteral(": ") + QString::fromStdString(navi_.Problem())));
    navilb->setStyleSheet(open ? QString() : QStringLiteral("color: #e00000;"));
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel9 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Panel9Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::ShowMessage(const QString& text) {
    statusBar()->showMessage(text);
    if (!LogMemo1->isHidden()) LogMemo1->AppendLine(text);
}

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::PaletteChange || course_.isNull()) return;
    DrawCourseLetters();
    if (lastCourseDeg_) DrawCourse(*lastCourseDeg_);
}

// White and black on the day palette, as drawn by hand; the night palette's own colours after
// dark, so the image is no white square in a dark window.
void TForm1::DrawCourseLetters() {
    course_ = QPixmap(courseW_, courseH_);
    course_.fill(palette().color(QPalette::Base));
    QPainter p(&course_);
    QFont f = p.font();
    f.setPointSize(kCourseLetterPt);
    p.setFont(f);
    p.setPen(palette().color(QPalette::Text));
    const CourseImageLayout l = CourseLayout(courseW_, courseH_);
    auto letter = [&p](Pixel at, const QString& text) {
        p.drawText(QRect(at.x, at.y, 20, 20), Qt::AlignLeft | Qt::AlignTop, text);
    };
    //: The course image's compass letters: north, south, west, east ("Ost").
    letter(l.north, tr("N"));
    letter(l.south, tr("S"));
    letter(l.west, tr("W"));
    letter(l.east, tr("O"));
    p.end();
    kursimg->setPixmap(course_);
}

// The filled circle paints over the last line; the letters outside it stay.
void TForm1::DrawCourse(double courseDeg) {
    const CourseImageLayout l = CourseLayout(courseW_, courseH_);
    const Pixel end = CourseLineEnd(courseW_, courseH_, courseDeg);
    lastCourseDeg_ = courseDeg;
    QPainter p(&course_);
    p.setPen(QPen(QColor(255, 0, 0)));
    p.setBrush(palette().color(QPalette::Base));
    p.drawEllipse(QRect(QPoint(l.ellipseTopLeft.x, l.ellipseTopLeft.y),
                        QPoint(l.ellipseBottomRight.x - 1, l.ellipseBottomRight.y - 1)));
    p.drawLine(l.centre.x, l.centre.y, end.x, end.y);
    p.end();
    kursimg->setPixmap(course_);
}

}  // namespace monitor
