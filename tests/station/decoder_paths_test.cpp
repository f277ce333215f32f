// The decoding paths seen from the command line: the literal path alone prints what the station
// printed before there was a second path, and by default each frame is printed once with the
// path that delivered it.
#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

const QString kRecording = QStringLiteral(TEST_DATA_DIR "/noisy_flight.flac");

QStringList RunStation(const QStringList& extra) {
    QProcess tavrin;
    tavrin.start(TAVRIN_EXECUTABLE,
                 QStringList{"--headless", "--no-log", "--input", kRecording} + extra);
    EXPECT_TRUE(tavrin.waitForFinished(20000));
    EXPECT_EQ(tavrin.exitCode(), 0) << tavrin.readAllStandardError().toStdString();
    return QString::fromUtf8(tavrin.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// The date-time at the end of data= is the time of decoding.
QString Masked(QString frameLine) {
    return frameLine.replace(QRegularExpression(QStringLiteral(", [^,]*$")),
                             QStringLiteral(", DATETIME"));
}

}  // namespace

TEST(DecoderOption, LiteralAloneGivesTheFrameLinesOfBefore) {
    std::ifstream stored(TEST_DATA_DIR "/noisy_flight_literal.txt");
    ASSERT_TRUE(stored);
    std::stringstream expected;
    expected << stored.rdbuf();
    QString got;
    for (const QString& line : RunStation({"--decoder", "literal"}))
        if (line.startsWith(QStringLiteral("frame="))) got += Masked(line) + '\n';
    EXPECT_EQ(got.toStdString(), expected.str());
}

TEST(DecoderOption, BothPathsPrintEachFrameOnceWithItsPath) {
    const QStringList lines = RunStation({});
    ASSERT_FALSE(lines.isEmpty());
    int frames = 0;
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith(QStringLiteral("frame="))) continue;
        ++frames;
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral("frame=%1\t").arg(frames)));
        EXPECT_TRUE(lines[i + 1].contains(QRegularExpression(
            QStringLiteral("^path=%1\tdecoder=(literal|sensitive|both)$").arg(frames))))
            << lines[i + 1].toStdString();
    }
    // The recording holds ten frames; the literal path finds six good ones, the sensitive path
    // all of them.
    EXPECT_EQ(frames, 10);
    EXPECT_EQ(lines.last().toStdString(),
              "frames=10 good=10 bad=0 overruns=0 unsent=0 literal=6 sensitive=10 unlogged=0 "
              "repaired=0 backlog=0 late=0");
}

TEST(DecoderOption, UnknownDecoderIsRefused) {
    QProcess tavrin;
    tavrin.start(TAVRIN_EXECUTABLE, {"--headless", "--decoder", "fast"});
    ASSERT_TRUE(tavrin.waitForFinished(10000));
    EXPECT_EQ(tavrin.exitCode(), 2);
    EXPECT_TRUE(tavrin.readAllStandardError().contains("literal, sensitive, both"));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
