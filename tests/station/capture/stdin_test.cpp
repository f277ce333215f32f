#include <gtest/gtest.h>

#include <unistd.h>
#include <ostream>

#include <random>

#include "capture_test_util.h"

namespace capture::test {
namespace {

std::vector<std::int16_t> Noise(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    std::vector<std::int16_t> out(count);
    for (auto& s : out) s = static_cast<std::int16_t>(dist(rng));
    return out;
}

std::vector<char> LittleEndian(const std::vector<std::int16_t>& samples) {
    std::vector<char> bytes;
    for (std::int16_t s : samples) {
        bytes.push_back(static_cast<char>(static_cast<std::uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<char>(static_cast<std::uint16_t>(s) >> 8));
    }
    return bytes;
}

// A pipe standing in for standard input, fed from its own thread in odd-sized pieces so that
// samples arrive split across reads.
class Pipe {
  public:
    Pipe() { EXPECT_EQ(pipe(fds_), 0); }
    ~Pipe() {
        if (writer_.joinable()) writer_.join();
        CloseWrite();
        close(fds_[0]);
    }
    int ReadFd() const { return fds_[0]; }
    // With a pause between pieces each piece reaches the reader on its own.
    void Feed(std::vector<char> bytes, std::size_t piece, bool closeAfter, int pauseMs = 0) {
        writer_ = std::thread([this, bytes = std::move(bytes), piece, closeAfter, pauseMs] {
            for (std::size_t at = 0; at < bytes.size(); at += piece) {
                const std::size_t n = std::min(piece, bytes.size() - at);
                if (write(fds_[1], bytes.data() + at, n) != static_cast<ssize_t>(n)) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
            if (closeAfter) CloseWrite();
        });
    }
    void CloseWrite() {
        if (fds_[1] >= 0) close(fds_[1]);
        fds_[1] = -1;
    }

  private:
    int fds_[2] = {-1, -1};
    std::thread writer_;
};

TAudioCapture& ProgramSettings(TAudioCapture& capture) {
    capture.SetBufferSize(3000);
    capture.SetNumBuffers(2);
    capture.SetFrameRate(12000);
    return capture;
}

TEST(StdinCapture, DeliversThePipedSamplesThenEndsWithAMessage) {
    const auto sent = Noise(4000, 7);
    auto bytes = LittleEndian(sent);
    bytes.push_back(0x55);  // half a sample at the end: dropped
    Pipe pipe;
    TAudioCapture capture;
    ProgramSettings(capture);
    Source source = Source::FromInput("-");
    source.fd = pipe.ReadFd();
    EXPECT_EQ(source.kind, Source::Kind::Stdin);
    capture.SetSource(source);
    Collector c;
    c.Attach(capture);
    ASSERT_TRUE(capture.Start()) << capture.ErrorMessage();
    pipe.Feed(bytes, 777, true, 2);
    ASSERT_TRUE(SpinUntil([&] { return c.ends == 1; }));
    EXPECT_FALSE(c.wrongThread);
    EXPECT_FALSE(c.openAtEnd);
    EXPECT_FALSE(c.endMessage.empty());
    EXPECT_EQ(c.stops, 1);
    ASSERT_EQ(c.buffers.size(), 3u);
    for (int size : c.sizes) EXPECT_EQ(size, 3000);
    const auto got = c.Samples();
    ASSERT_EQ(got.size(), 4500u);
    for (std::size_t i = 0; i < sent.size(); ++i) ASSERT_EQ(got[i], sent[i]) << "sample " << i;
    for (std::size_t i = sent.size(); i < got.size(); ++i) ASSERT_EQ(got[i], 0) << "padding " << i;
}

TEST(StdinCapture, EmptyInputEndsWithoutABuffer) {
    Pipe pipe;
    pipe.CloseWrite();
    TAudioCapture capture;
    ProgramSettings(capture);
    Source source = Source::FromInput("-");
    source.fd = pipe.ReadFd();
    capture.SetSource(source);
    Collector c;
    c.Attach(capture);
    ASSERT_TRUE(capture.Start());
    ASSERT_TRUE(SpinUntil([&] { return c.ends == 1; }));
    EXPECT_TRUE(c.buffers.empty());
    EXPECT_FALSE(capture.IsOpen());
}

TEST(StdinCapture, StopWhileWaitingForInputReturns) {
    Pipe pipe;  // nothing written, never closed
    TAudioCapture capture;
    ProgramSettings(capture);
    Source source = Source::FromInput("-");
    source.fd = pipe.ReadFd();
    capture.SetSource(source);
    Collector c;
    c.Attach(capture);
    ASSERT_TRUE(capture.Start());
    SpinFor(30);
    capture.Stop();
    EXPECT_FALSE(capture.IsOpen());
    EXPECT_EQ(c.ends, 0);
    EXPECT_EQ(c.stops, 1);
}

struct FormatCase {
    int bits;
    bool stereo;
};

std::ostream& operator<<(std::ostream& out, const FormatCase& f) {
    return out << f.bits << (f.stereo ? " bit stereo" : " bit mono");
}

class StdinFormat : public ::testing::TestWithParam<FormatCase> {};

// Samples come in as 16-bit mono and leave in the device's own format.
TEST_P(StdinFormat, WrittenInTheDeviceFormat) {
    const FormatCase f = GetParam();
    const std::vector<std::int16_t> sent = {0, 1, 255, 256, -1, -256, -257, 32767, -32768, 12345};
    Pipe pipe;
    TAudioCapture capture;
    capture.SetFrameRate(12000);
    capture.SetBufferSize(512);
    capture.SetQuantization(f.bits);
    capture.SetStereo(f.stereo);
    Source source = Source::FromInput("-");
    source.fd = pipe.ReadFd();
    capture.SetSource(source);
    Collector c;
    c.Attach(capture);
    ASSERT_TRUE(capture.Start());
    pipe.Feed(LittleEndian(sent), 3, true);
    ASSERT_TRUE(SpinUntil([&] { return c.ends == 1; }));
    ASSERT_EQ(c.buffers.size(), 1u);
    const std::vector<char>& b = c.buffers[0];
    ASSERT_EQ(b.size(), 512u);
    const int channels = f.stereo ? 2 : 1;
    const std::size_t align = static_cast<std::size_t>(f.bits / 8 * channels);
    for (std::size_t i = 0; i < b.size() / align; ++i) {
        const std::int16_t s = i < sent.size() ? sent[i] : 0;
        for (int ch = 0; ch < channels; ++ch) {
            const char* at = b.data() + i * align + static_cast<std::size_t>(ch * f.bits / 8);
            if (f.bits == 8) {
                EXPECT_EQ(static_cast<unsigned char>(*at), (s >> 8) + 128) << i << "/" << ch;
            } else {
                const auto v = static_cast<std::int16_t>(static_cast<unsigned char>(at[0]) |
                                                         (static_cast<unsigned char>(at[1]) << 8));
                EXPECT_EQ(v, s) << i << "/" << ch;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, StdinFormat,
                         ::testing::Values(FormatCase{16, false}, FormatCase{16, true},
                                           FormatCase{8, false}, FormatCase{8, true}));

}  // namespace
}  // namespace capture::test
