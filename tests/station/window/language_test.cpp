// The station window in English by choice, and as built otherwise, in a German locale: a label
// of the window's own, one of its additions, a decoded value with its number, as the program
// sets the language up before it makes the window (--language over tavrin.ini's LANGUAGE line).
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "qt_wait.h"
#include "station/window/main_window.h"

namespace fs = std::filesystem;

namespace {

class StationLanguage : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tavrin-lang-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        old_ = fs::current_path();
        fs::current_path(dir_);
        ASSERT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE, {"-o", "flight.wav", "-n", "2"}), 0);
    }
    void TearDown() override {
        window_.reset();
        fs::current_path(old_);
        fs::remove_all(dir_);
    }
    // The window as `tavrin ARGS --input flight.wav` makes it with `language` in tavrin.ini,
    // once it has shown the recording's frames.
    void Run(std::vector<std::string> args, const std::string& language) {
        std::ofstream("tavrin.ini") << "CALL=DL1ABC\nLANGUAGE=" << language << "\n";
        args.insert(args.end(), {"--input", "flight.wav"});
        const auto parsed = station::ParseStationArgs(args);
        ASSERT_TRUE(std::holds_alternative<station::StationOptions>(parsed));
        const auto& options = std::get<station::StationOptions>(parsed);
        EXPECT_EQ(station::UseStationLanguage(*qApp, options, "tavrin.ini", TRANSLATIONS),
                  QString());
        window_ = std::make_unique<station::StationWindow>(options);
        window_->FormCreate();
        ASSERT_TRUE(test_support::WaitFor([&] { return window_->Core().Frames() == 2; }));
    }
    QString Text(const char* name) const {
        return window_->findChild<QWidget*>(name)->property("text").toString();
    }
    bool Shows(const QString& caption) const {
        for (const QLabel* l : window_->findChildren<QLabel*>())
            if (l->text() == caption) return true;
        return false;
    }

    fs::path dir_, old_;
    std::unique_ptr<station::StationWindow> window_;
};

TEST_F(StationLanguage, EnglishByChoiceAsBuiltOtherwiseNumbersWithADotInAGermanLocale) {
    ASSERT_EQ(QLocale::system().decimalPoint(), QStringLiteral(","));
    const QRegularExpression volts("^\\d+\\.\\d\\d V$");

    for (const auto& [args, setting] :
         {std::pair{std::vector<std::string>{}, ""},
          std::pair{std::vector<std::string>{"--language", "de"}, "en"}}) {
        Run(args, setting);
        EXPECT_EQ(Text("errlb"), "CALL ODER LOCATOR FEHLT");
        EXPECT_EQ(Text("Button3"), "schnappschuss");
        EXPECT_TRUE(Shows("Statistik"));
        EXPECT_TRUE(Text("vitemplb").endsWith("°C (innen)"));
        EXPECT_TRUE(Text("vbatlb").contains(volts)) << Text("vbatlb").toStdString();
    }
    for (const auto& [args, setting] : {std::pair{std::vector<std::string>{"--language", "en"}, ""},
                                        std::pair{std::vector<std::string>{}, "en"}}) {
        Run(args, setting);
        EXPECT_EQ(Text("errlb"), "CALL OR LOCATOR MISSING");
        EXPECT_EQ(Text("Button3"), "snapshot");
        EXPECT_TRUE(Shows("Statistics"));
        EXPECT_TRUE(Text("vitemplb").endsWith("°C (inside)")) << Text("vitemplb").toStdString();
        EXPECT_TRUE(Text("vbatlb").contains(volts)) << Text("vbatlb").toStdString();
    }

    // The menu's choice goes into tavrin.ini at close, the other lines as they were.
    Run({}, "");
    window_->findChild<QAction*>("language_en")->trigger();
    window_->close();
    std::ifstream in("tavrin.ini");
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), "CALL=DL1ABC\nLANGUAGE=en\n");
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A locale whose numbers take a comma, whatever the machine's.
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_NUMERIC");
    ::setenv("LANG", "de_DE.UTF-8", 1);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
