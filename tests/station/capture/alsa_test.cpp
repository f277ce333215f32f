#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>
#include <fstream>
#include <random>

#include "capture_test_util.h"

namespace capture::test {
namespace {

// libasound reads a recording through a PCM of type "file" over the "null" PCM: the whole ALSA
// path (open, hw params, start, readi) runs without a sound card.
class AlsaFilePcm {
  public:
    static constexpr const char* kDevice = "tavrin_test_capture";

    explicit AlsaFilePcm(const std::vector<char>& recording) {
        const std::string raw = dir_.File("recording.raw");
        std::ofstream(raw, std::ios::binary)
            .write(recording.data(), static_cast<std::streamsize>(recording.size()));
        const std::string conf = dir_.File("asound.conf");
        std::ofstream(conf) << "pcm.nullpcm { type null }\n"
                            << "pcm." << kDevice << " {\n"
                            << "  type file\n  slave.pcm \"nullpcm\"\n  file \"/dev/null\"\n"
                            << "  infile \"" << raw << "\"\n  format \"raw\"\n}\n";
        // libasound rereads its configuration when the path changes.
        setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    }
    ~AlsaFilePcm() { unsetenv("ALSA_CONFIG_PATH"); }

  private:
    TempDir dir_;
};

struct AlsaFormat {
    int bits;
    bool stereo;
};

std::ostream& operator<<(std::ostream& out, const AlsaFormat& f) {
    return out << f.bits << (f.stereo ? " bit stereo" : " bit mono");
}

class AlsaCapture : public ::testing::TestWithParam<AlsaFormat> {};

TEST_P(AlsaCapture, RecordingArrivesInRingOrder) {
    const AlsaFormat f = GetParam();
    std::mt19937 rng(11);
    std::vector<char> recording(4 * 3000);
    for (char& b : recording) b = static_cast<char>(rng());
    AlsaFilePcm pcm(recording);

    TAudioCapture capture;
    capture.SetBufferSize(3000);
    capture.SetNumBuffers(2);
    capture.SetFrameRate(12000);
    capture.SetQuantization(f.bits);
    capture.SetStereo(f.stereo);
    capture.SetSource(Source::FromDevice(AlsaFilePcm::kDevice));
    Collector c;
    c.Attach(capture);
    ASSERT_TRUE(capture.Start()) << capture.ErrorMessage();
    ASSERT_TRUE(SpinUntil([&] { return c.buffers.size() >= 3; }));
    capture.Stop();
    EXPECT_EQ(c.starts, 1);
    EXPECT_EQ(c.stops, 1);
    EXPECT_FALSE(c.wrongThread);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(c.sizes[i], 3000);
        EXPECT_EQ(c.pointers[i], c.pointers[i % 2]);
        const std::vector<char> expected(
            recording.begin() + static_cast<std::ptrdiff_t>(i * 3000),
            recording.begin() + static_cast<std::ptrdiff_t>((i + 1) * 3000));
        EXPECT_EQ(c.buffers[i], expected) << "buffer " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AlsaCapture,
                         ::testing::Values(AlsaFormat{16, false}, AlsaFormat{16, true},
                                           AlsaFormat{8, false}));

TEST(AlsaCaptureFailure, MissingDeviceGivesTheMessageAndNoCrash) {
    TAudioCapture capture;
    capture.SetSource(Source::FromDevice("tavrin_no_such_device"));
    Collector c;
    c.Attach(capture);
    EXPECT_FALSE(capture.Start());
    EXPECT_FALSE(capture.IsOpen());
    const std::string& message = capture.ErrorMessage();
    EXPECT_EQ(message.rfind("Error starting wave record: ", 0), 0u) << message;
    EXPECT_NE(message.find("tavrin_no_such_device"), std::string::npos) << message;
    EXPECT_GT(message.size(), std::string(kStartError).size() + 10);
    capture.Stop();
    EXPECT_EQ(c.starts + c.stops, 0);
    // A later Start is not mistaken for "already open".
    EXPECT_FALSE(capture.Start());
    EXPECT_NE(capture.ErrorMessage(), kAlreadyOpen);
}

TEST(AlsaCaptureFailure, MissingCardNumberGivesTheMessage) {
    TAudioDevice device;
    device.SetWaveDevice(31);  // ALSA allows at most 32 cards; none on a test machine
    EXPECT_FALSE(device.Start());
    EXPECT_EQ(device.ErrorMessage().rfind("Error starting wave record: ", 0), 0u)
        << device.ErrorMessage();
    EXPECT_NE(device.ErrorMessage().find("plughw:31"), std::string::npos);
}

}  // namespace
}  // namespace capture::test
