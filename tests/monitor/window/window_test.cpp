// The monitor window under the offscreen platform, fed by a loopback server of the test.
#include "monitor/window/main_window.h"

#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/gui/log_memo.h"
#include "monitor/window/chase_panel.h"
#include "monitor/window/fit_label.h"
#include "qt_wait.h"
#include "records.h"
#include "serial_test_support.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

using test_support::WaitFor;

// The collecting server as the monitor sees it: one client at a time, bytes sent on request.
struct Server {
    QTcpServer tcp;
    QTcpSocket* peer = nullptr;
    int connections = 0;
    Server() {
        tcp.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&tcp, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = tcp.nextPendingConnection()) {
                ++connections;
                peer = s;
            }
        });
    }
    QString Address() const { return "127.0.0.1:" + QString::number(tcp.serverPort()); }
    bool WaitForClient(int n) {
        return WaitFor([&] { return connections >= n; });
    }
    void Send(const std::string& bytes) {
        peer->write(bytes.data(), static_cast<qint64>(bytes.size()));
        peer->flush();
    }
    void Drop() {
        peer->disconnectFromHost();
        peer = nullptr;
    }
};

// Fix n of a flight going due north, 0.01 degree (about 1.11 km) per fix, 40 s apart.
std::string Fix(int n, const std::string& call = "DL1ABC") {
    monitor::testing::Fix f;
    char buf[32];
    std::snprintf(buf, sizeof buf, "12%02d%02d.00", 40 * n / 60, 40 * n % 60);
    f.time = buf;
    std::snprintf(buf, sizeof buf, "%.4f", 4900.0 + 0.6 * n);
    f.lat = buf;
    f.alt = std::to_string(1000 + 20 * n) + ".0";
    return monitor::testing::Record(f, call);
}

class MonitorWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        old_ = fs::current_path();
        fs::current_path(dir_.path);
    }
    void TearDown() override { fs::current_path(old_); }

    template <class T>
    T* Child(const char* name) {
        T* w = win_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Text(const char* name) { return Child<QLabel>(name)->text(); }
    void Make() {
        win_ = std::make_unique<monitor::TForm1>();
        win_->FormCreate();
        win_->Link().SetRetryIntervalMs(100);
        win_->OnRecordShown = [this](const monitor::RecordOutcome& r) {
            shown_.push_back(r.shown);
        };
    }
    void ConnectTo(const QString& address) {
        Child<QComboBox>("servercombo")->setCurrentText(address);
        Child<QPushButton>("conbtn")->click();
    }
    bool WaitForRecords(std::size_t n) {
        return WaitFor([&] { return shown_.size() >= n; });
    }

    test_support::TempDir dir_;
    fs::path old_;
    std::unique_ptr<monitor::TForm1> win_;
    std::vector<monitor::RecordResult> shown_;
};

TEST_F(MonitorWindowTest, ControlsAndStartCaptions) {
    Make();
    EXPECT_EQ(Text("utclb"), "--:--:--");
    EXPECT_EQ(Text("ubatlb"), "--.-V");
    EXPECT_EQ(Text("plb"), "----,- hPa");
    for (const char* name : {"rxstatlb", "satlb", "tbatlb", "tauslb", "hgpslb", "gvlb", "ghlb",
                             "tacholb", "dvllb", "msglb"})
        EXPECT_EQ(Text(name), "-") << name;
    EXPECT_EQ(Text("Label1"), "VELK_SERVER");
    EXPECT_EQ(Text("Label13"), "LOCATOR");
    EXPECT_EQ(Text("Label6"), "Geschwindigkeit (km/h)");
    EXPECT_EQ(Text("Label2"), "com");
    EXPECT_EQ(Child<QPushButton>("Button1")->text(), "OPEN COMPORT");
    EXPECT_EQ(Child<QLineEdit>("comped")->text(), "1");
    EXPECT_EQ(Child<QLineEdit>("myloced")->text(), "JN49EA");
    auto* combo = Child<QComboBox>("servercombo");
    EXPECT_EQ(combo->count(), 4);
    EXPECT_EQ(combo->currentText(), "localhost");
    EXPECT_EQ(Child<QLabel>("kursimg")->size(), QSize(145, 145));
    EXPECT_NE(Child<QWidget>("Panel9"), nullptr);
}

TEST_F(MonitorWindowTest, ConnectionStatesRecordsAndCourse) {
    Make();
    auto* conbtn = Child<QPushButton>("conbtn");
    EXPECT_EQ(conbtn->text(), "connect");
    Server server;
    ConnectTo(server.Address());
    ASSERT_TRUE(WaitFor([&] { return Text("msglb") == "verbunden mit 127.0.0.1"; }));
    EXPECT_EQ(conbtn->text(), "disconnect");
    ASSERT_TRUE(server.WaitForClient(1));

    // The window shows what the headless replay prints for the same stream.
    std::string stream = Fix(1) + "\r\n" + Fix(2) + Fix(3);
    stream[stream.size() - 5] = '\xE4';  // an 8-bit byte in the data line's date text
    server.Send(stream);
    ASSERT_TRUE(WaitForRecords(3));
    monitor::StreamReader reference;
    const monitor::Displays d = reference.Feed(stream).records.back().displays;
    EXPECT_EQ(Text("utclb"), QString::fromStdString(d.utclb));
    EXPECT_EQ(Text("tacholb"), QString::fromStdString(d.tacholb));
    EXPECT_EQ(Text("dvllb"), QString::fromStdString(d.dvllb));
    EXPECT_EQ(Text("ghlb"), QString::fromStdString(d.ghlb));
    EXPECT_EQ(Text("hgpslb"), QString::fromStdString(d.hgpslb));
    EXPECT_EQ(Text("gvlb"), QString::fromStdString(d.gvlb));
    EXPECT_EQ(Text("tbatlb"), QString::fromUtf8(d.tbatlb.c_str()));
    EXPECT_EQ(Text("rxstatlb"), "DL1ABC  in  JN49EA");
    EXPECT_EQ(Child<QLabel>("gvlb")->palette().color(QPalette::WindowText), QColor(0, 128, 0));

    // Course due north: the line ends at the top of the circle, in red.
    const monitor::Pixel end = monitor::CourseLineEnd(145, 145, d.courseDeg);
    EXPECT_EQ(win_->CourseImage().toImage().pixelColor(end.x, end.y), QColor(255, 0, 0));
    EXPECT_EQ(win_->CourseImage().toImage().pixelColor(end.x + 3, end.y + 20), QColor(Qt::white));
    // After dark the image takes the night palette: no white square, the course kept.
    monitor::ChasePanel::ApplyNightTheme(win_.get(), true);
    const QColor night = win_->palette().color(QPalette::Base);
    EXPECT_EQ(win_->CourseImage().toImage().pixelColor(1, 1), night);
    EXPECT_EQ(win_->CourseImage().toImage().pixelColor(end.x + 3, end.y + 20), night);
    EXPECT_EQ(win_->CourseImage().toImage().pixelColor(end.x, end.y), QColor(255, 0, 0));
    monitor::ChasePanel::ApplyNightTheme(win_.get(), false);
    EXPECT_EQ(win_->CourseImage().toImage().pixelColor(1, 1), QColor(Qt::white));

    conbtn->click();
    EXPECT_EQ(Text("msglb"), "disconnected");
    EXPECT_EQ(conbtn->text(), "connect");
    EXPECT_FALSE(win_->Link().Active());

    // A first connection that fails leaves the button ready for another try.
    const QString gone = server.Address();
    server.tcp.close();
    ConnectTo(gone);
    ASSERT_TRUE(WaitFor([&] { return Text("msglb") == "Fehler bei der Verbindung"; }));
    EXPECT_EQ(conbtn->text(), "connect");
    EXPECT_FALSE(win_->Link().Active());
    ConnectTo("[::1");
    EXPECT_EQ(Text("msglb"), "Fehler bei der Verbindung");
    EXPECT_TRUE(win_->statusBar()->currentMessage().contains("no server address"));
}

// An IPv6 literal with a port is written in brackets; the message names the host alone.
TEST_F(MonitorWindowTest, Ipv6LiteralWithAPort) {
    QTcpServer v6;
    if (!v6.listen(QHostAddress::LocalHostIPv6, 0))
        GTEST_SKIP() << "no IPv6 loopback here (" << v6.errorString().toStdString() << ")";
    Make();
    ConnectTo(QStringLiteral("[::1]:%1").arg(v6.serverPort()));
    ASSERT_TRUE(WaitFor([&] { return Text("msglb") == "verbunden mit ::1"; }));
    EXPECT_EQ(win_->Link().Port(), v6.serverPort());
}

TEST_F(MonitorWindowTest, ReconnectKeepsTotalDropsTailUserConnectResets) {
    Make();
    auto* conbtn = Child<QPushButton>("conbtn");
    Server server;
    ConnectTo(server.Address());
    ASSERT_TRUE(server.WaitForClient(1));
    ASSERT_TRUE(WaitFor([&] { return conbtn->text() == "disconnect"; }));
    server.Send(Fix(1) + Fix(2) + Fix(3));
    ASSERT_TRUE(WaitForRecords(3));
    EXPECT_EQ(Text("tacholb"), "2.2 km ");

    // A record cut off by the drop; its rest arrives first on the new connection.
    const std::string cut = Fix(4, "CUT");
    server.Send(cut.substr(0, 40));
    test_support::Pump(100);
    server.Drop();
    ASSERT_TRUE(WaitFor([&] { return Text("msglb") == "Fehler bei der Verbindung"; }));
    EXPECT_EQ(conbtn->text(), "disconnect");  // one press stops the retrying
    ASSERT_TRUE(server.WaitForClient(2));     // retried by itself
    ASSERT_TRUE(WaitFor([&] { return Text("msglb") == "verbunden mit 127.0.0.1"; }));
    EXPECT_TRUE(win_->statusBar()->currentMessage().contains("dropped 40 bytes"));
    server.Send(cut.substr(40) + Fix(5));
    ASSERT_TRUE(WaitForRecords(5));
    for (const auto& r : shown_) EXPECT_NE(r.record.text + "#", cut) << "glued across connections";
    EXPECT_EQ(shown_.back().record.text + "#", Fix(5));
    EXPECT_EQ(Text("tacholb"), "4.4 km ");  // the automatic reconnect kept the total
    EXPECT_EQ(Text("utclb"), "12:03:20");

    // The user's own connect starts the total afresh; the next record is no first record.
    conbtn->click();
    EXPECT_EQ(conbtn->text(), "connect");
    ConnectTo(server.Address());
    ASSERT_TRUE(server.WaitForClient(3));
    ASSERT_TRUE(WaitFor([&] { return Text("msglb") == "verbunden mit 127.0.0.1"; }));
    server.Send(Fix(6));
    ASSERT_TRUE(WaitForRecords(6));
    EXPECT_EQ(Text("tacholb"), "1.1 km ");

    // While retrying, one press ends it.
    server.tcp.close();
    server.Drop();
    ASSERT_TRUE(WaitFor([&] { return win_->Link().Retrying(); }));
    conbtn->click();
    EXPECT_EQ(Text("msglb"), "disconnected");
    EXPECT_EQ(conbtn->text(), "connect");
    EXPECT_FALSE(win_->Link().Active());
    test_support::Pump(300);
    EXPECT_EQ(conbtn->text(), "connect");
}

TEST_F(MonitorWindowTest, BadInputFromTheServer) {
    std::ofstream(monitor::kOperatorMarkerFile) << "";
    Make();
    auto memoLines = [&](const QString& text) {
        return Child<common::LogMemo>("LogMemo1")->toPlainText().count(text);
    };
    Server server;
    ConnectTo(server.Address());
    ASSERT_TRUE(server.WaitForClient(1));
    ASSERT_TRUE(WaitFor([&] { return win_->Link().Connected(); }));
    std::mt19937 rng(7);
    std::string garbage(20000, '\0');
    for (char& c : garbage) {
        c = static_cast<char>(rng());
        if (c == '#') c = '!';
    }
    server.Send(garbage);
    server.Send(std::string(1 << 20, 'x'));
    std::size_t peak = 0;
    ASSERT_TRUE(WaitFor([&] {
        peak = std::max(peak, win_->Reader().PendingBytes());
        return win_->Reader().SkippedBytes() == garbage.size() + (1 << 20);
    }));
    server.Send("#;;;#");  // ends the junk; then a record with every field empty
    ASSERT_TRUE(WaitFor([&] { return !shown_.empty() && shown_.back().record.text == ";;;"; }));
    EXPECT_EQ(memoLines("without an ending"), 1);  // one message for the whole run
    EXPECT_TRUE(win_->statusBar()->currentMessage().contains("record not shown in full"));
    shown_.clear();
    server.Send(Fix(1));
    ASSERT_TRUE(WaitForRecords(1));
    EXPECT_EQ(Text("utclb"), "12:00:40");
    EXPECT_LE(peak, monitor::StreamReader::kMaxTailBytes);
    EXPECT_LE(win_->Reader().PendingBytes(), monitor::StreamReader::kMaxTailBytes);
    auto* memo = Child<common::LogMemo>("LogMemo1");
    EXPECT_LE(memo->blockCount(), common::LogMemo::kMaxLines);
    EXPECT_TRUE(memo->toPlainText().contains("without an ending"));

    // A server that closes mid-record: the next connection shows the next good record.
    server.Send(Fix(2).substr(0, 50));
    server.Drop();
    ASSERT_TRUE(server.WaitForClient(2));
    ASSERT_TRUE(WaitFor([&] { return win_->Link().Connected(); }));
    // Station texts are received bytes: Latin-1, a NUL does not end them.
    server.Send(Fix(3, std::string("D\0L\xE4", 4)));
    ASSERT_TRUE(WaitForRecords(2));
    EXPECT_EQ(Text("utclb"), "12:02:00");
    EXPECT_EQ(Text("rxstatlb"), QString::fromLatin1("D\0L\xE4  in  JN49EA", 16));
}

// A 96-character call sign and an altitude of 1e300 through the server: the labels cut or
// replace them, the window keeps its width; a message quoting a Latin-1 byte reads as headless.
TEST_F(MonitorWindowTest, LongTextsNeverWidenTheWindowAndMessagesReadAsHeadless) {
    Make();
    win_->show();
    QApplication::processEvents();
    const int width = win_->width();
    Server server;
    ConnectTo(server.Address());
    ASSERT_TRUE(server.WaitForClient(1));
    ASSERT_TRUE(WaitFor([&] { return win_->Link().Connected(); }));
    const std::string call(96, 'W');
    std::string huge = Fix(2, call);
    const std::string alt = ",1040.0,";
    huge.replace(huge.find(alt), alt.size(), ",1e300,");
    server.Send(Fix(1, call) + huge);
    ASSERT_TRUE(WaitForRecords(2));
    QApplication::processEvents();
    EXPECT_EQ(win_->width(), width);
    EXPECT_LE(win_->minimumSizeHint().width(), width);
    auto* station = Child<monitor::FitLabel>("rxstatlb");
    EXPECT_EQ(station->text(), QString::fromStdString(call + "  in  JN49EA"));
    EXPECT_TRUE(station->IsCut());
    EXPECT_EQ(station->toolTip(), station->text());
    EXPECT_EQ(Text("hgpslb"), "-");
    EXPECT_TRUE(Child<monitor::FitLabel>("utclb")->toolTip().isEmpty());

    std::string degree = Fix(3);
    const std::string lat = "4901.8000";
    degree.replace(degree.find(lat), lat.size(),
                   "1000\xB0"
                   "00.00");
    server.Send(degree);
    ASSERT_TRUE(WaitForRecords(3));
    const QString message = win_->statusBar()->currentMessage();
    EXPECT_TRUE(message.contains(QString::fromUtf8("\"1000\u00B000.00\"")))
        << message.toStdString();
    EXPECT_FALSE(message.contains(QChar(0xC2))) << message.toStdString();
}

// Cutting is for texts out of the ordinary: at the narrowest the window gets, a usual record's
// values all show whole, the station across its three columns.
TEST_F(MonitorWindowTest, UsualValuesShowWholeAtTheNarrowestWindow) {
    Make();
    win_->show();
    win_->resize(win_->minimumSizeHint());
    Server server;
    ConnectTo(server.Address());
    ASSERT_TRUE(server.WaitForClient(1));
    ASSERT_TRUE(WaitFor([&] { return win_->Link().Connected(); }));
    server.Send(Fix(1, "DL1ABC/P"));
    ASSERT_TRUE(WaitForRecords(1));
    QApplication::processEvents();
    const auto labels = win_->findChildren<monitor::FitLabel*>();
    ASSERT_GT(labels.size(), 10);
    for (const monitor::FitLabel* label : labels)
        EXPECT_FALSE(label->IsCut())
            << label->objectName().toStdString() << ": " << label->text().toStdString();
}

TEST_F(MonitorWindowTest, LocatorTypedCharacterByCharacter) {
    Make();
    auto* myloced = Child<QLineEdit>("myloced");
    const monitor::LatLonRad fallback = monitor::HomeFromLocator("JN49EA");
    const monitor::LatLonRad wanted = monitor::HomeFromLocator("JO31AA");
    myloced->clear();
    const std::string typed = "jo31aa";
    for (std::size_t i = 0; i < typed.size(); ++i) {
        QTest::keyClicks(myloced, QString(QChar(typed[i])));
        const monitor::LatLonRad home = win_->Reader().Home();
        if (i + 1 < typed.size()) {
            EXPECT_EQ(home.lat, fallback.lat) << i;
            EXPECT_EQ(home.lon, fallback.lon) << i;
        } else {
            EXPECT_EQ(home.lat, wanted.lat);
            EXPECT_EQ(home.lon, wanted.lon);
        }
    }
    EXPECT_EQ(myloced->text(), "JO31AA");  // forced to upper case
}

TEST_F(MonitorWindowTest, Panel9FlipsTheSpeedUnit) {
    Make();
    Server server;
    ConnectTo(server.Address());
    ASSERT_TRUE(server.WaitForClient(1));
    ASSERT_TRUE(WaitFor([&] { return win_->Link().Connected(); }));
    auto* panel = Child<QWidget>("Panel9");
    QTest::mouseClick(panel, Qt::LeftButton);
    EXPECT_EQ(Text("Label6"), "Geschwindigkeit (m/s)");
    server.Send(Fix(1) + Fix(2));
    ASSERT_TRUE(WaitForRecords(2));
    EXPECT_TRUE(Text("ghlb").endsWith(" m/s"));
    QTest::mouseClick(Child<QLabel>("Label6"), Qt::LeftButton);  // the caption is on the panel
    EXPECT_EQ(Text("Label6"), "Geschwindigkeit (km/h)");
    server.Send(Fix(3));
    ASSERT_TRUE(WaitForRecords(3));
    EXPECT_TRUE(Text("ghlb").endsWith(" km/h"));
}

TEST_F(MonitorWindowTest, OperatorModeFollowsTheMarkerFile) {
    const char* controls[] = {"LogMemo1", "Button1", "Label2", "comped"};
    Make();
    for (const char* name : controls) EXPECT_FALSE(Child<QWidget>(name)->isVisibleTo(win_.get()));
    std::ofstream(monitor::kOperatorMarkerFile) << "";
    Make();
    for (const char* name : controls) EXPECT_TRUE(Child<QWidget>(name)->isVisibleTo(win_.get()));
}

TEST_F(MonitorWindowTest, GpsSentencesToTheSerialPort) {
    std::ofstream(monitor::kOperatorMarkerFile) << "";
    Make();
    serial_test::Pty pty;
    auto* comped = Child<QLineEdit>("comped");
    comped->setText(QString::fromStdString(pty.slave_path));
    Child<QPushButton>("Button1")->click();
    ASSERT_TRUE(win_->SerComm().Active());
    int answered = 0;
    win_->SerComm().OnRxChar = [&, answer = win_->SerComm().OnRxChar](auto& comm, int count) {
        answer(comm, count);
        ++answered;
    };
    pty.Send("?");  // nothing to answer before the first record: the first line comes alone
    ASSERT_TRUE(WaitFor([&] { return answered == 1; }));

    Server server;
    ConnectTo(server.Address());
    ASSERT_TRUE(server.WaitForClient(1));
    ASSERT_TRUE(WaitFor([&] { return win_->Link().Connected(); }));
    server.Send(Fix(1));
    ASSERT_TRUE(WaitForRecords(1));
    const std::string line =
        "$GPGGA,120040.00,4900.6000,N,00820.1234,E,1,07,1.0,1020.0,M,47.0,M,,*5C\r\n";
    std::string got;
    ASSERT_TRUE(WaitFor([&] {
        got += pty.Receive(line.size() - got.size(), 10);
        return got.size() >= line.size();
    }));
    EXPECT_EQ(got, line);
    pty.Send("x");  // a device asking: it gets the last line again
    got.clear();
    ASSERT_TRUE(WaitFor([&] {
        got += pty.Receive(line.size() - got.size(), 10);
        return got.size() >= line.size();
    }));
    EXPECT_EQ(got, line);

    comped->setText("zwei");
    Child<QPushButton>("Button1")->click();
    EXPECT_TRUE(win_->statusBar()->currentMessage().contains("not a valid integer"));
    EXPECT_TRUE(win_->SerComm().Active());

    auto* navilb = Child<QLabel>("navilb");
    EXPECT_EQ(navilb->text(), "Navi verbunden");
    pty.CloseMaster();  // the device goes away: the port closes itself and the window says so
    EXPECT_TRUE(WaitFor([&] {
        return win_->statusBar()->currentMessage().startsWith(
            QString::fromStdString("navigation device " + pty.slave_path + " gone"));
    }));
    EXPECT_FALSE(win_->SerComm().Active());
    EXPECT_TRUE(navilb->text().startsWith("Navi fehlt")) << navilb->text().toStdString();

    // The operator's open of a port that is not there is said as it always was, and not tried
    // again.
    comped->setText("/nonexistent/navi");
    Child<QPushButton>("Button1")->click();
    EXPECT_EQ(win_->statusBar()->currentMessage(),
              "Unable to open specified device /nonexistent/navi (2), No such file or directory");
    EXPECT_FALSE(navilb->isVisibleTo(win_.get()));
}

}  // namespace

int main(int argc, char** argv) {
    // Test discovery runs this binary at build time too, where there may be no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
