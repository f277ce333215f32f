// The station window under the offscreen platform: controls named as operators and the next
// developer expect, frames shown, settings read at creation and written at close.
#include "station/window/main_window.h"
#include "station/window/signal_view.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>

#include <gtest/gtest.h>

#include "qt_wait.h"

#include "common/gui/log_memo.h"
#include "serial_test_support.h"

namespace fs = std::filesystem;

namespace {

using test_support::WaitFor;

// Each test runs in a folder of its own, since tavrin.ini and the flight log live in the
// working directory.
class StationWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tavrin-win-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        old_ = fs::current_path();
        fs::current_path(dir_);
        ASSERT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE, {"-o", "flight.wav", "-n", "3"}), 0);
        options_.input = station::StationOptions::Input::File;
        options_.file = "flight.wav";
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    static std::string Read(const char* name) {
        std::ifstream in(name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    template <class T>
    static T* Child(QWidget& w, const char* name) {
        return w.findChild<T*>(QString::fromLatin1(name));
    }
    fs::path dir_, old_;
    station::StationOptions options_;
};

}  // namespace

TEST_F(StationWindowTest, ShowsFramesAndWritesTheFlightLog) {
    std::ofstream("tavrin.ini") << "CALL=DL1ABC\nLOCATOR=JN49EA\n";
    station::StationWindow w(options_);
    w.FormCreate();
    auto* label3 = Child<QLabel>(w, "Label3");
    ASSERT_NE(label3, nullptr);
    ASSERT_TRUE(WaitFor([&] { return w.Core().Frames() == 3; }));
    for (const char* name :
         {"vbatlb", "vitemplb", "vatemplb", "vhumlb", "vpresslb", "timelb", "breitelb", "laengelb",
          "maidenlb", "hoehelb", "satlb", "auslb", "ausimg", "errlb"})
        EXPECT_NE(Child<QLabel>(w, name), nullptr) << name;
    EXPECT_EQ(Child<QLabel>(w, "timelb")->text(), "10:01:00 UTC");
    EXPECT_EQ(Child<QLabel>(w, "maidenlb")->text(), "JO40IC");
    EXPECT_FALSE(Child<QLabel>(w, "laengelb")->isVisibleTo(&w));
    EXPECT_EQ(label3->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    auto* memo = Child<common::LogMemo>(w, "LogMemo1");
    ASSERT_NE(memo, nullptr);
    ASSERT_TRUE(WaitFor([&] { return memo->blockCount() == 7; }));  // 3 frames, 2 lines each
    const QStringList lines = memo->toPlainText().split('\n');
    EXPECT_TRUE(lines[4].startsWith("$GPGGA,100100.00,"));
    EXPECT_TRUE(lines[5].startsWith("    2,   257, "));
    EXPECT_EQ(lines[6], "end of the recording");
    EXPECT_TRUE(memo->isReadOnly());
    bool ok = false;
    Child<QLabel>(w, "auslb")->text().toInt(&ok);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(Child<QLabel>(w, "ausimg")->pixmap().isNull());
    // The frames may straddle midnight: every day's file of the run counts.
    std::string log;
    for (const auto& entry : fs::directory_iterator(dir_)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("tavrin-", 0) == 0 && entry.path().extension() == ".log")
            log += Read(name.c_str());
    }
    EXPECT_NE(log.find("# frame 3 ok"), std::string::npos);
}

// Sound-card overruns: said in the status bar as they happen, counted in the statistics.
TEST_F(StationWindowTest, OverrunsInStatusBarAndStatistics) {
    station::StationWindow w(options_);
    w.Core().AudioOverruns(2);
    EXPECT_EQ(w.statusBar()->currentMessage(), "audio overrun (2)");
    // The statistics are renewed every second: ten times that.
    ASSERT_TRUE(
        WaitFor([&] { return Child<QLabel>(w, "statslb")->text().contains("overruns 2"); }, 10000));
}

// Received bytes are shown escaped: a NUL does not cut the value short, nor a line end split it.
TEST_F(StationWindowTest, ReceivedControlBytesAreShownWhole) {
    station::StationWindow w(options_);
    station::FrameReport r;
    r.number = 1;
    r.display.satlb = std::string(
        "0\0"
        "7\r\n\xFF Sats",
        11);
    r.display.gps = std::string(
        "$GPGGA,1\x1B"
        "2*00");
    w.ausgabe(r);
    EXPECT_EQ(Child<QLabel>(w, "satlb")->text(),
              QString("0\\x007\\x0D\\x0A") + QChar(0xFF) + QString(" Sats"));
    auto* memo = Child<common::LogMemo>(w, "LogMemo1");
    EXPECT_TRUE(memo->toPlainText().contains("$GPGGA,1\\x1B2*00"));
}

// Beside Label3: the path that delivered the last frame and the good frames of each path. With
// STATION_SCREENSHOTS set to a folder the window is left there as a PNG.
TEST_F(StationWindowTest, NamesThePathOfTheLastFrameAndCountsPerPath) {
    for (const auto& [decoder, text] :
         {std::pair{demod::Decoder::Both, "Pfad: both   gut: literal 3 / sensitive 3"},
          std::pair{demod::Decoder::Sensitive, "Pfad: sensitive   gut: literal 0 / sensitive 3"}}) {
        options_.decoder = decoder;
        station::StationWindow w(options_);
        w.FormCreate();
        ASSERT_TRUE(WaitFor([&] { return w.Core().Frames() == 3; }));
        EXPECT_EQ(Child<QLabel>(w, "decoderlb")->text().toStdString(), text);
        if (const char* dir = std::getenv("STATION_SCREENSHOTS"))
            w.grab().save(QString::fromUtf8(dir) + "/station_decoder_" +
                          demod::DecoderName(decoder) + ".png");
    }
}

TEST_F(StationWindowTest, SettingsReadAtCreationWrittenAtClose) {
    std::ofstream("tavrin.ini") << "; my station\nCALL=DL1ABC\nLOCATOR=JN49EA\nVOLUME=3\n";
    {
        station::StationWindow w(options_);
        w.FormCreate();
        auto* called = Child<QLineEdit>(w, "called");
        auto* loced = Child<QLineEdit>(w, "loced");
        EXPECT_EQ(called->text(), "DL1ABC");
        EXPECT_EQ(loced->text(), "JN49EA");
        called->setText("dl2xyz");
        emit called->textEdited(called->text());  // as if typed
        EXPECT_EQ(called->text(), "DL2XYZ");
        loced->clear();
        w.close();
    }
    EXPECT_EQ(Read("tavrin.ini"), "; my station\nCALL=DL2XYZ\nVOLUME=3\n");
}

// "Nachtmodus" darkens the whole window, the station fields and the level bar with it (white
// fields with light text would be unreadable), and comes back at the next start from tavrin.ini.
TEST_F(StationWindowTest, NightThemeDarkensEverythingAndIsKept) {
    std::ofstream("tavrin.ini") << "CALL=DL1ABC\n";
    {
        station::StationWindow w(options_);
        w.FormCreate();
        auto* night = w.findChild<QAction*>("nightaction");
        ASSERT_NE(night, nullptr);
        EXPECT_FALSE(night->isChecked());
        EXPECT_EQ(Child<QLineEdit>(w, "called")->palette().color(QPalette::Base),
                  QColor(Qt::white));
        night->trigger();
        EXPECT_LT(w.palette().color(QPalette::Window).lightness(), 64);
        for (const char* field : {"called", "loced"}) {
            const QPalette p = Child<QLineEdit>(w, field)->palette();
            EXPECT_LT(p.color(QPalette::Base).lightness(), 64) << field;
            EXPECT_GT(p.color(QPalette::Text).lightness(), 128) << field;
        }
        EXPECT_LT(Child<QLabel>(w, "ausimg")->pixmap().toImage().pixelColor(2, 2).lightness(), 64);
        w.close();
    }
    EXPECT_EQ(Read("tavrin.ini"), "CALL=DL1ABC\nNIGHT=1\n");
    station::StationWindow next(options_);
    next.FormCreate();
    EXPECT_TRUE(next.findChild<QAction*>("nightaction")->isChecked());
    EXPECT_LT(next.palette().color(QPalette::Window).lightness(), 64);
}

TEST_F(StationWindowTest, MissingSettingsFileStartsEmptyAndWarnsOnConnect) {
    station::StationWindow w(options_);
    w.FormCreate();
    EXPECT_TRUE(Child<QLineEdit>(w, "called")->text().isEmpty());
    EXPECT_TRUE(w.statusBar()->currentMessage().contains("tavrin.ini"));
    auto* conbt = Child<QPushButton>(w, "conbt");
    EXPECT_EQ(conbt->text(), "connect");
    conbt->click();
    EXPECT_TRUE(Child<QLabel>(w, "errlb")->isVisibleTo(&w));
    EXPECT_EQ(Child<QLabel>(w, "errlb")->text(), "CALL ODER LOCATOR FEHLT");
    EXPECT_FALSE(w.GetUplink().Retrying());
    // Decoding goes on without settings.
    ASSERT_TRUE(WaitFor([&] { return w.Core().Frames() == 3; }));
}

// --call and --locator hold for one run: an unchanged file keeps every byte, and only what the
// operator typed goes back into it.
TEST_F(StationWindowTest, CommandLineStationIsForThisRunOnly) {
    const std::string original = "; mine\r\ncall=dl1abc\r\nLOCATOR=JN49EA\r\nVOLUME=3\r\n";
    std::ofstream("tavrin.ini", std::ios::binary) << original;
    options_.call = "test";
    {
        station::StationWindow w(options_);
        w.FormCreate();
        EXPECT_EQ(Child<QLineEdit>(w, "called")->text(), "TEST");
        EXPECT_EQ(Child<QLineEdit>(w, "loced")->text(), "JN49EA");
        w.close();
    }
    EXPECT_EQ(Read("tavrin.ini"), original);

    options_.locator = "JO01BN";
    {
        station::StationWindow w(options_);
        w.FormCreate();
        auto* called = Child<QLineEdit>(w, "called");
        called->setText("dl2xyz");
        emit called->textEdited(called->text());
        w.close();
    }
    EXPECT_EQ(Read("tavrin.ini"), "; mine\nCALL=DL2XYZ\nLOCATOR=JN49EA\nVOLUME=3\n");
}

// A tavrin.ini that exists but cannot be read (a folder: root reads whatever permissions say)
// is reported and left alone; values the records cannot carry are reported and not used.
TEST_F(StationWindowTest, UnreadableOrRefusedSettingsAreReportedAndKept) {
    fs::create_directory("tavrin.ini");
    {
        station::StationWindow w(options_);
        w.FormCreate();
        EXPECT_TRUE(w.statusBar()->currentMessage().contains("cannot read tavrin.ini"))
            << w.statusBar()->currentMessage().toStdString();
        auto* called = Child<QLineEdit>(w, "called");
        called->setText("DL1ABC");
        emit called->textEdited(called->text());
        w.close();
    }
    EXPECT_TRUE(fs::is_directory("tavrin.ini"));
    EXPECT_TRUE(fs::is_empty("tavrin.ini"));
    EXPECT_FALSE(fs::exists("tavrin.ini.tmp"));
    fs::remove("tavrin.ini");

    const std::string original = "CALL=DL1;X\nLOCATOR=JN49\x01\nVOLUME=3\n";
    std::ofstream("tavrin.ini", std::ios::binary) << original;
    {
        station::StationWindow w(options_);
        w.FormCreate();
        EXPECT_TRUE(Child<QLineEdit>(w, "called")->text().isEmpty());
        EXPECT_TRUE(Child<QLineEdit>(w, "loced")->text().isEmpty());
        const QString memo = Child<common::LogMemo>(w, "LogMemo1")->toPlainText();
        EXPECT_TRUE(memo.contains("(CALL) holds ';'")) << memo.toStdString();
        EXPECT_TRUE(memo.contains("(LOCATOR) holds a control character (0x01)"));
        w.close();
    }
    EXPECT_EQ(Read("tavrin.ini"), original);
}

TEST_F(StationWindowTest, ServicePortOpensByNumberAndReportsErrors) {
    station::StationWindow w(options_);
    auto* edit1 = Child<QLineEdit>(w, "Edit1");
    auto* button2 = Child<QPushButton>(w, "Button2");
    auto* label1 = Child<QLabel>(w, "Label1");
    ASSERT_TRUE(edit1 && button2 && label1);
    EXPECT_FALSE(button2->isVisibleTo(&w));  // a service control: hidden
    EXPECT_EQ(label1->text(), "fff");

    edit1->setText("x1");
    button2->click();
    EXPECT_TRUE(w.statusBar()->currentMessage().contains("not a valid integer"));
    EXPECT_EQ(label1->text(), "fff");

    // "COM2" is the second port; here it leads to a pseudo-terminal.
    serial_test::Pty pty;
    fs::create_symlink(pty.slave_path, dir_ / "tty1");
    w.Comm().SetComDevicePrefix((dir_ / "tty").string());
    edit1->setText("3");
    button2->click();
    EXPECT_EQ(label1->text(), "COMPORT INACTIVE");
    edit1->setText("2");
    button2->click();
    EXPECT_EQ(label1->text(), "COMPORT ACTIVE");

    pty.CloseMaster();  // the line goes away under the open port
    ASSERT_TRUE(WaitFor([&] { return w.statusBar()->currentMessage() == "COM Error"; }));
    EXPECT_TRUE(WaitFor([&] { return label1->text() == "COMPORT INACTIVE"; }));
    EXPECT_FALSE(w.Comm().Active());
    ASSERT_TRUE(WaitFor([&] { return w.statusBar()->currentMessage().isEmpty(); }, 5000));
}

// ---- Service controls -------------------------------------------------------------------------

namespace {
// The colours of an image and how many pixels carry each.
std::map<QRgb, int> Colours(const QImage& image) {
    std::map<QRgb, int> count;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ++count[image.pixel(x, y)];
    return count;
}
const QRgb kWhite = qRgb(255, 255, 255), kRed = qRgb(255, 0, 0), kDarkGreen = qRgb(0, 128, 0),
           kBlack = qRgb(0, 0, 0);
}  // namespace

TEST_F(StationWindowTest, ServiceRowOnlyWithServiceOptionAndCaptionsFromTheStartState) {
    const char* row[] = {"Button1", "Button2", "Button3", "Button4", "Button5"};
    {
        station::StationWindow w(options_);
        for (const char* name : row) EXPECT_FALSE(Child<QWidget>(w, name)->isVisibleTo(&w)) << name;
        for (const char* name : {"dataed", "Label1", "dgraph", "Panel2", "Image1"})
            EXPECT_FALSE(Child<QWidget>(w, name)->isVisibleTo(&w)) << name;
        EXPECT_TRUE(Child<QWidget>(w, "LogMemo1")->isVisibleTo(&w));
    }
    options_.service = true;
    station::StationWindow w(options_);
    for (const char* name : row) EXPECT_TRUE(Child<QWidget>(w, name)->isVisibleTo(&w)) << name;
    for (const char* name : {"Edit1", "dataed", "Label1", "dgraph", "Panel2"})
        EXPECT_TRUE(Child<QWidget>(w, name)->isVisibleTo(&w)) << name;
    EXPECT_FALSE(Child<QWidget>(w, "Image1")->isVisibleTo(&w));
    EXPECT_EQ(Child<QPushButton>(w, "Button1")->text(), "HIGH 2200");
    EXPECT_EQ(Child<QPushButton>(w, "Button3")->text(), "schnappschuss");
    EXPECT_EQ(Child<QPushButton>(w, "Button4")->text(), "RECHTECK");
    EXPECT_EQ(Child<QPushButton>(w, "Button5")->text(), "Messwert");
    EXPECT_EQ(Child<QLineEdit>(w, "dataed")->text(), "1");

    options_.markIsHigh = false;
    options_.tables = station::StationOptions::Tables::Hamming;
    station::StationWindow started(options_);
    EXPECT_EQ(Child<QPushButton>(started, "Button1")->text(), "HIGH 1200");
    EXPECT_EQ(Child<QPushButton>(started, "Button4")->text(), "HAMMING");
    EXPECT_FALSE(started.Core().Demodulator().MarkIsHigh());
}

TEST_F(StationWindowTest, PolarityAndWindowButtonsActOnTheDemodulator) {
    options_.service = true;
    station::StationWindow w(options_);
    auto* button1 = Child<QPushButton>(w, "Button1");
    auto* button4 = Child<QPushButton>(w, "Button4");
    const auto& d = w.Core().Demodulator();
    button1->click();
    EXPECT_FALSE(d.MarkIsHigh());
    EXPECT_EQ(button1->text(), "HIGH 1200");
    button1->click();
    EXPECT_TRUE(d.MarkIsHigh());
    EXPECT_EQ(button1->text(), "HIGH 2200");

    button4->click();
    EXPECT_EQ(button4->text(), "RECHTECK");
    for (int n = -5; n <= 4; ++n) {
        const auto k = static_cast<std::size_t>(n + 5);
        EXPECT_DOUBLE_EQ(d.HighSin()[k], std::sin(n * 2200 * 6.28 / 12000)) << n;
        EXPECT_DOUBLE_EQ(d.HighCos()[k], std::cos(n * 2200 * 6.28 / 12000)) << n;
        EXPECT_DOUBLE_EQ(d.LowSin()[k], std::sin(n * 1200 * 6.28 / 12000)) << n;
    }
    button4->click();
    EXPECT_EQ(button4->text(), "HAMMING");
    EXPECT_NEAR(d.LowCos()[0], -0.08, 1e-6);  // n = -5: Hamming weight 0.08
}

TEST_F(StationWindowTest, PolarityButtonDecodesSwappedTones) {
    ASSERT_EQ(
        QProcess::execute(PROBEGEN_EXECUTABLE, {"-o", "swapped.wav", "-n", "3", "--swap-tones"}),
        0);
    options_.file = "swapped.wav";
    options_.service = true;
    for (const bool press : {false, true}) {
        station::StationWindow w(options_);
        if (press) Child<QPushButton>(w, "Button1")->click();
        w.FormCreate();
        ASSERT_TRUE(
            WaitFor([&] { return w.statusBar()->currentMessage() == "end of the recording"; }));
        EXPECT_EQ(w.Core().GoodFrames(), press ? 3 : 0);
    }
}

// The snapshot takes the log's place with the scope's two traces; a second press gives the log
// back. The panel it hides stays hidden.
TEST_F(StationWindowTest, SnapshotTogglesTheLogAgainstTheScope) {
    options_.service = true;
    station::StationWindow w(options_);
    w.show();
    w.FormCreate();
    ASSERT_TRUE(WaitFor([&] { return w.Core().Frames() == 3; }));
    auto* memo = Child<QWidget>(w, "LogMemo1");
    auto* image = Child<QLabel>(w, "Image1");
    auto* panel = Child<QWidget>(w, "Panel2");
    const QSize memoSize = memo->size();
    Child<QPushButton>(w, "Button3")->click();
    EXPECT_FALSE(memo->isVisible());
    EXPECT_TRUE(image->isVisible());
    EXPECT_FALSE(panel->isVisible());
    const QImage picture = image->pixmap().toImage();
    EXPECT_EQ(picture.size(), memoSize);
    const auto colours = Colours(picture);
    EXPECT_GT(colours.count(kRed) ? colours.at(kRed) : 0, memoSize.width() / 2);
    EXPECT_GT(colours.count(kDarkGreen) ? colours.at(kDarkGreen) : 0, memoSize.width() / 2);
    EXPECT_EQ(colours.size(), 3u);  // white, red and dark green only

    Child<QPushButton>(w, "Button3")->click();
    EXPECT_TRUE(memo->isVisible());
    EXPECT_FALSE(image->isVisible());
    EXPECT_FALSE(panel->isVisible());
}

// Slot 2 holds word 1, 257 in every simulated frame: 120 - trunc(257 / 4096 * 120) = 113.
TEST_F(StationWindowTest, StoredValuePlotAndItsSlotField) {
    options_.service = true;
    station::StationWindow w(options_);
    auto* dgraph = Child<QLabel>(w, "dgraph");
    auto* dataed = Child<QLineEdit>(w, "dataed");
    auto* button5 = Child<QPushButton>(w, "Button5");
    dataed->setText("2");
    button5->click();  // no record yet
    EXPECT_EQ(Colours(dgraph->pixmap().toImage()), (std::map<QRgb, int>{{kWhite, 500 * 120}}));

    w.FormCreate();
    ASSERT_TRUE(WaitFor([&] { return w.Core().Frames() == 3; }));
    button5->click();
    const QImage plot = dgraph->pixmap().toImage();
    ASSERT_EQ(plot.size(), QSize(500, 120));
    for (const int x : {125, 250, 375}) EXPECT_EQ(plot.pixel(x, 113), kBlack) << x;
    EXPECT_EQ(plot.pixel(250, 100), kWhite);
    EXPECT_EQ(plot.pixel(499, 113), kWhite);  // the line ends at the last record

    for (const char* bad : {"0", "21", "x"}) {
        dataed->setText(bad);
        button5->click();
        EXPECT_TRUE(w.statusBar()->currentMessage().contains(bad)) << bad;
        EXPECT_EQ(dgraph->pixmap().toImage(), plot) << bad;
    }
    EXPECT_EQ(w.statusBar()->currentMessage(), "'x' is not a valid integer value");
}

// What the server's records cannot carry is refused as it is typed.
TEST_F(StationWindowTest, StationFieldsRefuseWhatBreaksRecords) {
    station::StationWindow w(options_);
    for (const char* name : {"called", "loced"}) {
        auto* edit = Child<QLineEdit>(w, name);
        edit->insert(QStringLiteral("DL1"));
        for (const QString& bad : {QStringLiteral(";"), QStringLiteral("#"), QStringLiteral("\t"),
                                   QStringLiteral("\u0085"), QStringLiteral("\u20AC")}) {
            edit->insert(bad);
            EXPECT_EQ(edit->text(), "DL1") << name;
        }
        // The server drops records with a byte beyond ASCII.
        edit->insert(QStringLiteral("\u00C4"));
        EXPECT_EQ(edit->text(), "DL1") << name;
        edit->insert(QStringLiteral("/P~"));
        EXPECT_EQ(edit->text(), QStringLiteral("DL1/P~"));
    }
}

// A locator typed into the field must be one the monitors can use: refused at connect, with a
// message; lower case is taken.
TEST_F(StationWindowTest, TypedLocatorRefusedWhenNotMaidenhead) {
    station::StationWindow w(options_);
    w.FormCreate();
    auto* loced = Child<QLineEdit>(w, "loced");
    Child<QLineEdit>(w, "called")->setText(QStringLiteral("DL1ABC"));
    Child<QComboBox>(w, "servercombo")->setCurrentText(QStringLiteral("127.0.0.1:1"));
    loced->selectAll();
    loced->insert(QStringLiteral("zz99"));
    EXPECT_EQ(loced->text(), "ZZ99");
    w.conbtClick();
    EXPECT_FALSE(w.GetUplink().Retrying());
    EXPECT_TRUE(w.statusBar()->currentMessage().startsWith("locator \"ZZ99\" refused: "))
        << w.statusBar()->currentMessage().toStdString();
    loced->selectAll();
    loced->insert(QStringLiteral("jn49ea"));
    w.conbtClick();
    EXPECT_TRUE(w.GetUplink().Retrying());
    w.GetUplink().Stop();
}

int main(int argc, char** argv) {
    // Test discovery runs this binary at build time too, where there may be no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

TEST_F(StationWindowTest, ShowsSignalFiguresStatisticsAndTheSignalView) {
    station::StationWindow w(options_);
    w.FormCreate();
    auto* view = w.findChild<station::SignalView*>(QStringLiteral("signalView"));
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(WaitFor([&] { return w.Core().Frames() == 3; }));
    // A clean signal: both tones on their nominal frequency, SNR far above anything on the air.
    const QString signal = Child<QLabel>(w, "signallb")->text();
    EXPECT_TRUE(signal.startsWith("SNR ")) << signal.toStdString();
    EXPECT_TRUE(signal.contains("1200 Hz +0.0") || signal.contains("1200 Hz 0.0"))
        << signal.toStdString();
    EXPECT_TRUE(Child<QLabel>(w, "statslb")->text().startsWith("good 3   bad 0   last good "));
    EXPECT_GT(view->waterfall().Count(), 8);
    const auto& row = view->waterfall().Row(view->waterfall().Count() / 2);
    EXPECT_GT(row[station::Spectrum::BinOf(2400)], view->waterfall().FloorDb() + 20);

    options_.waterfall = false;
    station::StationWindow plain(options_);
    EXPECT_EQ(plain.findChild<station::SignalView*>(), nullptr);
}
