// The monitor window in English by choice, and as built otherwise, in a German locale: a label
// of the record displays, one of the chase panel, an alarm on the banner and numbers, as the
// program sets the language up before it makes the window (--language over pelmora.ini).
#include <QAction>
#include <QApplication>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdlib>
#include <fstream>

#include <gtest/gtest.h>

#include "monitor/options.h"
#include "monitor/window/chase_window.h"
#include "records.h"
#include "simulated_flight.h"
#include "temp_dir.h"

namespace monitor {
namespace {

class WindowLanguage : public ::testing::Test {
  protected:
    // The window as `pelmora ARGS` makes it with `setting` in pelmora.ini, fed the flight up
    // to just after the burst.
    void Run(std::vector<std::string_view> args, const std::string& setting) {
        std::ofstream(ini_) << "language=" << setting << "\n";
        args.insert(args.begin(), {"--tiles", "none", "--no-notifications"});
        const ParsedOptions p = ParseOptions(args);
        ASSERT_TRUE(p.error.empty()) << p.error;
        EXPECT_EQ(UseWindowLanguage(*qApp, p.options.chase, ini_, TRANSLATIONS), QString());
        window_ = std::make_unique<TForm1>();
        window_->FormCreate();
        window_->OnRecordShown = [this](const RecordOutcome& r) {
            for (const FlightAlarm& a : r.alarms) coreAlarms_ << QString::fromStdString(a.text);
        };
        AddChasePanel(*window_, p.options.chase, ini_);  // after OnRecordShown: it chains it
        const probegen::FlightOptions o;
        const auto frames = probegen::SimulateFlight(o);
        const testing::FlightTruth t = testing::Truth(o);
        for (std::size_t i = 0; i < frames.size() && i * o.stepS < t.burstTimeS + 60; ++i) {
            const std::string r = testing::RelayedRecord(frames[i]);
            window_->tcpclientRead(QByteArray(r.data(), static_cast<qsizetype>(r.size())));
        }
    }
    QString Text(const char* name) const {
        return window_->findChild<QWidget*>(name)->property("text").toString();
    }
    // Some label of the window reads `caption`.
    bool Shows(const QString& caption) const {
        for (const QLabel* l : window_->findChildren<QLabel*>())
            if (l->text() == caption) return true;
        return false;
    }
    // The banner's lines without their times, oldest first.
    QStringList Banner() const {
        QStringList lines;
        for (const QString& line : Text("alarmbt").split('\n')) lines.prepend(line.mid(14));
        return lines;
    }

    test_support::TempDir dir_;
    std::string ini_ = (dir_.path / "pelmora.ini").string();
    std::unique_ptr<TForm1> window_;
    QStringList coreAlarms_;
};

TEST_F(WindowLanguage, EnglishByChoiceAsBuiltOtherwiseNumbersWithADotInAGermanLocale) {
    ASSERT_EQ(QLocale::system().decimalPoint(), QStringLiteral(","));  // the locale would say 10,0

    for (const auto& [args, setting] :
         {std::pair{std::vector<std::string_view>{}, ""},
          std::pair{std::vector<std::string_view>{"--language", "de"}, "en"}}) {
        Run(args, setting);
        EXPECT_EQ(Text("Label6"), "Geschwindigkeit (km/h)");
        EXPECT_TRUE(Shows("Distanz zum Ballon"));
        EXPECT_TRUE(Shows("Flugphase"));
        EXPECT_EQ(Text("phaselb"), "Abstieg");
        EXPECT_EQ(Text("assumelb"), "sinkt wie gemessen; Winde gemessen");
        EXPECT_EQ(Banner(), QStringList{"Flug A: PLATZER in 30000 m"});
        EXPECT_EQ(Text("landingkmed"), "10.0 km");
        EXPECT_EQ(Text("fullmapbt"), "Karte im Vollbild");
    }

    for (const auto& [args, setting] :
         {std::pair{std::vector<std::string_view>{"--language", "en"}, ""},
          std::pair{std::vector<std::string_view>{}, "en"}}) {
        coreAlarms_.clear();
        Run(args, setting);
        EXPECT_EQ(Text("Label6"), "Speed (km/h)");
        EXPECT_TRUE(Shows("Distance to the balloon"));
        EXPECT_TRUE(Shows("Flight phase"));
        EXPECT_EQ(Text("phaselb"), "descent");
        EXPECT_EQ(Text("assumelb"), "sinks as measured; winds measured");
        EXPECT_EQ(Banner(), QStringList{"Flight A: BURST at 30000 m"});
        EXPECT_EQ(Text("landingkmed"), "10.0 km");
        EXPECT_TRUE(Text("landdistlb").contains(QRegularExpression("^\\d+\\.\\d km, \\d+°$")));
        EXPECT_EQ(Text("fullmapbt"), "Full-screen map");
        // What the headless lines print stays as it is.
        EXPECT_EQ(coreAlarms_.value(0), "Flug A: PLATZER in 30000 m");
    }

    // The menu's choice is kept for the next start.
    Run({}, "");
    window_->findChild<QAction*>("language_en")->trigger();
    std::ifstream in(ini_);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(kept.find("\nlanguage=en\n"), std::string::npos) << kept;
}

}  // namespace
}  // namespace monitor

int main(int argc, char** argv) {
    // Test discovery runs this binary at build time too, where there may be no display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A locale whose numbers take a comma, whatever the machine's.
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_NUMERIC");
    ::setenv("LANG", "de_DE.UTF-8", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
