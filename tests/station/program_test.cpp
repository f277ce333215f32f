// tavrin as started from a terminal: what it says and how it ends.
#include <signal.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "qt_wait.h"
#include "temp_dir.h"

namespace {

using test_support::WaitFor;

// Raw samples of `frames` probe frames, as `tavrin --input -` reads them.
QByteArray ProbeSamples(int frames) {
    QProcess probegen;
    probegen.start(PROBEGEN_EXECUTABLE, {"-o", "-", "-n", QString::number(frames)});
    EXPECT_TRUE(probegen.waitForFinished(20000));
    return probegen.readAllStandardOutput();
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// SIGINT or SIGTERM while standard input is still open: the frames decoded so far are printed,
// the summary line follows, the flight log holds them, and the exit code is 0.
TEST(StationProgram, SignalEndsAHeadlessRunWithItsSummary) {
    for (const int sig : {SIGTERM, SIGINT}) {
        test_support::TempDir dir;
        QProcess tavrin;
        tavrin.setWorkingDirectory(QString::fromStdString(dir.path.string()));
        tavrin.start(TAVRIN_EXECUTABLE, {"--headless", "--input", "-"});
        ASSERT_TRUE(tavrin.waitForStarted(10000));
        tavrin.write(ProbeSamples(3));
        QByteArray out;
        ASSERT_TRUE(WaitFor(
            [&] {
                out += tavrin.readAllStandardOutput();
                return out.contains("\npath=");
            },
            60000))
            << out.toStdString();
        ASSERT_EQ(::kill(static_cast<pid_t>(tavrin.processId()), sig), 0);
        ASSERT_TRUE(tavrin.waitForFinished(20000));
        out += tavrin.readAllStandardOutput();
        const std::string err = tavrin.readAllStandardError().toStdString();
        EXPECT_EQ(tavrin.exitStatus(), QProcess::NormalExit) << sig;
        EXPECT_EQ(tavrin.exitCode(), 0) << sig << "\n" << err;
        // Every frame printed is counted, and the flight log holds it.
        const qsizetype frames = out.count("\npath=");
        EXPECT_TRUE(out.endsWith(" unlogged=0 repaired=0 backlog=0 late=0\n")) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral("\nframes=%1 good=%1 bad=0 ").arg(frames).toUtf8()))
            << out.toStdString();
        std::string log;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path))
            if (entry.path().filename().string().rfind("tavrin-", 0) == 0)
                log = ReadFile(entry.path());
        EXPECT_NE(log.find("# frame " + std::to_string(frames) + " ok"), std::string::npos) << log;
    }
}

// Qt's own options are taken as pelmora takes them; without a display the station says why and
// runs headless, also when DISPLAY names an X display nobody answers on.
TEST(StationProgram, QtOptionsAndNoDisplay) {
    test_support::TempDir dir;
    const QString wav = QString::fromStdString((dir.path / "flight.wav").string());
    ASSERT_EQ(QProcess::execute(PROBEGEN_EXECUTABLE, {"-o", wav, "-n", "1"}), 0);
    struct Case {
        const char* display;  // nullptr: unset
        const char* reason;
    };
    for (const Case c : {Case{nullptr, "DISPLAY and WAYLAND_DISPLAY are not set"},
                         Case{":4711", "nothing answers on DISPLAY :4711"}}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"}) env.remove(name);
        if (c.display) env.insert("DISPLAY", c.display);
        QProcess tavrin;
        tavrin.setProcessEnvironment(env);
        tavrin.setWorkingDirectory(QString::fromStdString(dir.path.string()));
        tavrin.start(TAVRIN_EXECUTABLE,
                     {"-qwindowgeometry", "640x480+0+0", "--no-log", "--input", wav});
        ASSERT_TRUE(tavrin.waitForFinished(30000));
        const QByteArray err = tavrin.readAllStandardError();
        EXPECT_EQ(tavrin.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(tavrin.exitCode(), 0) << err.toStdString();
        EXPECT_TRUE(err.startsWith(QByteArray("tavrin: no display (") + c.reason +
                                   "): running without a window, as with --headless"))
            << err.toStdString();
        EXPECT_TRUE(tavrin.readAllStandardOutput().contains("\nframes=1 good=1 "));
    }
}

// No such sound card: the fixed text with the reason and the device on one line, how to choose
// another on the next, and none of ALSA's own lines.
TEST(StationProgram, NoSoundCardSaysWhichAndHowToChooseAnother) {
    QProcess tavrin;
    tavrin.start(TAVRIN_EXECUTABLE, {"--headless", "--no-log", "--device", "no-such-card"});
    ASSERT_TRUE(tavrin.waitForFinished(30000));
    EXPECT_EQ(tavrin.exitCode(), 1);
    const QStringList lines =
        QString::fromUtf8(tavrin.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("tavrin: Error starting wave record: "))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("\"no-such-card\"")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains("[ALSA: "))
        << "ALSA's own words, gathered: " << lines[0].toStdString();
    EXPECT_TRUE(
        lines[1].startsWith("tavrin: sound card \"no-such-card\" not usable: choose "
                            "another with --device NAME (\"arecord -l\" lists the cards"))
        << lines[1].toStdString();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
