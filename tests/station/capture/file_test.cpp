#include <gtest/gtest.h>

#include <sndfile.h>
#include <ostream>

#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>
#include <random>

#include "capture_test_util.h"
#include "station/capture/pcm_backend.h"

namespace capture::test {
namespace {

void WriteAudio(const std::string& path, int format, int rate, int channels,
                const std::vector<std::int16_t>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const auto frames = static_cast<sf_count_t>(interleaved.size()) / channels;
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        // The very samples at full scale 1.0 (written as shorts they would be rescaled).
        std::vector<float> scaled;
        for (std::int16_t v : interleaved) scaled.push_back(static_cast<float>(v) / 32768.0f);
        EXPECT_EQ(sf_writef_float(file, scaled.data(), frames), frames);
    } else {
        EXPECT_EQ(sf_writef_short(file, interleaved.data(), frames), frames);
    }
    sf_close(file);
}

std::int16_t ToSample(double v) {
    return static_cast<std::int16_t>(std::lround(v * 32767.0));
}

// Amplitude of the component at `hz` (Goertzel over whole cycles), in sample units.
double ToneAmplitude(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count,
                     double hz, double rate) {
    const double w = 2.0 * std::numbers::pi * hz / rate;
    double re = 0, im = 0;
    for (std::size_t i = 0; i < count; ++i) {
        re += s[from + i] * std::cos(w * static_cast<double>(i));
        im += s[from + i] * std::sin(w * static_cast<double>(i));
    }
    return 2.0 * std::hypot(re, im) / static_cast<double>(count);
}

void UseProgramSettings(TAudioCapture& capture) {
    capture.SetBufferSize(3000);
    capture.SetNumBuffers(2);
    capture.SetFrameRate(12000);
}

// Plays `path` to its end and returns what was delivered.
Collector PlayFile(const std::string& path, bool realtime = false) {
    TAudioCapture capture;
    UseProgramSettings(capture);
    capture.SetSource(Source::FromInput(path, realtime));
    Collector c;
    c.Attach(capture);
    EXPECT_TRUE(capture.Start()) << capture.ErrorMessage();
    EXPECT_TRUE(SpinUntil([&] { return c.ends == 1; }, 30000));
    EXPECT_FALSE(c.wrongThread);
    EXPECT_FALSE(c.openAtEnd);
    for (int size : c.sizes) EXPECT_EQ(size, 3000);
    return c;
}

std::size_t LastNonZero(const std::vector<std::int16_t>& s) {
    for (std::size_t i = s.size(); i > 0; --i)
        if (s[i - 1] != 0) return i - 1;
    return 0;
}

TEST(FileCapture, StereoAt48kIsMixedToMonoAndResampledTo12k) {
    TempDir dir;
    const std::string path = dir.File("stereo48k.wav");
    const int rate = 48000;
    const std::size_t frames = 100800;  // 2.1 s
    constexpr double kTone = 0.4, kSide = 0.3, kHigh = 0.2;
    std::vector<std::int16_t> pcm;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double tone = kTone * std::sin(2 * std::numbers::pi * 1200 * t);
        // Opposite on the two channels: cancels in a true mix, survives if one channel is taken.
        const double side = kSide * std::sin(2 * std::numbers::pi * 2400 * t);
        // Above the new Nyquist frequency: must be filtered out, not folded down to 3000 Hz.
        const double high = kHigh * std::sin(2 * std::numbers::pi * 9000 * t);
        pcm.push_back(ToSample(tone + side + high));
        pcm.push_back(ToSample(tone - side + high));
    }
    WriteAudio(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, pcm);

    const Collector c = PlayFile(path);
    EXPECT_EQ(c.endMessage, "");
    EXPECT_TRUE(c.notices.empty()) << "a partly opposite side signal is no cancelled mix";
    const auto got = c.Samples();
    ASSERT_EQ(got.size(), 17u * 1500u);  // 25200 samples, the last block padded
    const std::size_t last = LastNonZero(got);
    EXPECT_NEAR(static_cast<double>(last), 25200.0, 30.0);
    for (std::size_t i = 25230; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "padding " << i;

    const double full = 32767.0;
    EXPECT_NEAR(ToneAmplitude(got, 6000, 12000, 1200, 12000), kTone * full, 0.01 * kTone * full);
    EXPECT_LT(ToneAmplitude(got, 6000, 12000, 2400, 12000), 0.005 * full);
    EXPECT_LT(ToneAmplitude(got, 6000, 12000, 3000, 12000), 0.005 * full);
}

// Channels in antiphase cancel when mixed: said once, naming the file. Silence and a mono file
// say nothing.
TEST(FileCapture, ChannelsThatCancelAreSaidOnce) {
    TempDir dir;
    const int rate = 12000;
    std::vector<std::int16_t> opposite, silent, mono;
    for (int i = 0; i < 3 * rate; ++i) {
        const double v = 0.3 * std::sin(2 * std::numbers::pi * 1200 * i / rate);
        opposite.push_back(ToSample(v));
        opposite.push_back(ToSample(-v * 0.95));  // not quite equal: a real cable's mismatch
        silent.push_back(0);
        silent.push_back(0);
        mono.push_back(ToSample(v));
    }
    const std::string cancelling = dir.File("antiphase.wav");
    WriteAudio(cancelling, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, opposite);
    WriteAudio(dir.File("silent.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, silent);
    WriteAudio(dir.File("mono.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 1, mono);

    const Collector c = PlayFile(cancelling);
    ASSERT_EQ(c.notices.size(), 1u);
    EXPECT_NE(c.notices[0].find("antiphase.wav\": its channels cancel when mixed to mono (the "
                                "mix 32 dB below"),
              std::string::npos)
        << c.notices[0];
    EXPECT_TRUE(PlayFile(dir.File("silent.wav")).notices.empty());
    EXPECT_TRUE(PlayFile(dir.File("mono.wav")).notices.empty());
}

struct PassThroughCase {
    const char* name;
    int format;
};

std::ostream& operator<<(std::ostream& out, const PassThroughCase& c) {
    return out << c.name;
}

class FileFormats : public ::testing::TestWithParam<PassThroughCase> {};

// At 12000 Hz mono nothing is resampled: the samples arrive bit for bit, whether 16-bit ones
// are copied as they are or others pass through float.
TEST_P(FileFormats, TwelveKilohertzMonoArrivesUnchanged) {
    TempDir dir;
    const std::string path = dir.File(GetParam().name);
    std::vector<std::int16_t> pcm = {32767, -32768, 32766, -32767, 1, -1, 0, 255, 256, -256, -257};
    for (int i = 0; i < 3100; ++i)
        pcm.push_back(static_cast<std::int16_t>((i * 7919) % 65536 - 32768));
    WriteAudio(path, GetParam().format, 12000, 1, pcm);
    const Collector c = PlayFile(path);
    EXPECT_EQ(c.endMessage, "");
    const auto got = c.Samples();
    ASSERT_EQ(got.size(), 4500u);
    for (std::size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(got[i], pcm[i]) << "sample " << i;
    for (std::size_t i = pcm.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FileFormats,
    ::testing::Values(PassThroughCase{"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                      PassThroughCase{"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                      PassThroughCase{"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
                      PassThroughCase{"a24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24},
                      PassThroughCase{"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT}));

TEST(FileCapture, TruncatedWavDeliversWhatItHasThenEnds) {
    TempDir dir;
    const std::string path = dir.File("cut.wav");
    std::vector<std::int16_t> pcm;
    for (int i = 0; i < 10000; ++i) pcm.push_back(static_cast<std::int16_t>(i - 5000));
    WriteAudio(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 12000, 1, pcm);
    const auto full = std::filesystem::file_size(path);
    const std::size_t kept = 6001;
    // The header still promises 10000 samples; half a sample dangles at the cut.
    std::filesystem::resize_file(path, full - 2 * (pcm.size() - kept) + 1);

    const Collector c = PlayFile(path);
    EXPECT_EQ(c.stops, 1);
    const auto got = c.Samples();
    ASSERT_EQ(got.size(), 5u * 1500u);
    for (std::size_t i = 0; i < kept; ++i) ASSERT_EQ(got[i], pcm[i]) << "sample " << i;
    for (std::size_t i = kept; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "padding " << i;
}

struct BadFile {
    const char* name;
    const char* contents;  // nullptr: the file does not exist
};

std::ostream& operator<<(std::ostream& out, const BadFile& f) {
    return out << f.name;
}

class UnreadableFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(UnreadableFile, FailsStartNamingTheFileAndTheReason) {
    TempDir dir;
    const std::string path = dir.File(GetParam().name);
    if (GetParam().contents != nullptr) std::ofstream(path) << GetParam().contents;
    SF_INFO info{};
    EXPECT_EQ(sf_open(path.c_str(), SFM_READ, &info), nullptr);
    const std::string reason = sf_strerror(nullptr);

    TAudioCapture capture;
    UseProgramSettings(capture);
    capture.SetSource(Source::FromInput(path));
    Collector c;
    c.Attach(capture);
    EXPECT_FALSE(capture.Start());
    EXPECT_FALSE(capture.IsOpen());
    const std::string& message = capture.ErrorMessage();
    EXPECT_EQ(message.rfind("Error starting wave record: ", 0), 0u) << message;
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find(reason), std::string::npos) << message;
    SpinFor(20);
    EXPECT_EQ(c.starts + c.stops + c.ends, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnreadableFile,
                         ::testing::Values(BadFile{"missing.wav", nullptr},
                                           BadFile{"text.wav", "this is not audio, just a note\n"},
                                           BadFile{"empty.flac", ""}));

TEST(FileCapture, RealtimePlaysAtTheRecordingsPace) {
    TempDir dir;
    const std::string path = dir.File("half_second.wav");
    WriteAudio(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 12000, 1,
               std::vector<std::int16_t>(6000, 1000));
    QElapsedTimer timer;
    timer.start();
    const Collector c = PlayFile(path, true);
    EXPECT_GE(timer.elapsed(), 400);  // 4 blocks of 125 ms, the last due at 500 ms
    EXPECT_EQ(c.buffers.size(), 4u);
}

// Resampled audio arrives as floats: the conversion to 16 bits rounds halves away from zero and
// clamps, exactly as clamping std::lround does, for halves, their neighbours and the range's
// ends. Beyond what lround can hold (where it returns LONG_MIN) a loud sample stays loud.
TEST(FileCapture, SampleConversionMatchesLround) {
    auto reference = [](float v) {
        const long r = std::lround(static_cast<double>(v) * 32768.0);
        return static_cast<std::int16_t>(std::clamp(r, -32768L, 32767L));
    };
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(ToSample16(inf), 32767);
    EXPECT_EQ(ToSample16(1e30f), 32767);
    EXPECT_EQ(ToSample16(-inf), -32768);
    EXPECT_EQ(ToSample16(std::numeric_limits<float>::quiet_NaN()), -32768);
    std::vector<float> cases{0.0f,  -0.0f,  1.0f,
                             -1.0f, 2.0f,   -3.5f,
                             1e10f, -1e10f, std::numeric_limits<float>::denorm_min()};
    for (int k = -32770; k <= 32770; ++k) {
        const float half = static_cast<float>((k + 0.5) / 32768.0);
        cases.insert(cases.end(), {half, std::nextafter(half, 0.0f), std::nextafter(half, 2.0f),
                                   std::nextafter(half, -2.0f)});
    }
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.1f, 1.1f);
    for (int i = 0; i < 200000; ++i) cases.push_back(uniform(random));
    for (float v : cases) ASSERT_EQ(ToSample16(v), reference(v)) << v;
}

}  // namespace
}  // namespace capture::test
