// The probegen program as a user runs it.
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct ProgramRun {
    int exitCode = -1;
    std::string out;
};

ProgramRun Probegen(const std::string& args) {
    const std::string command = std::string(PROBEGEN_EXECUTABLE) + " " + args + " 2>/dev/null";
    ProgramRun r;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    const int status = pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace

TEST(ProbegenCli, HelpExitsZero) {
    const ProgramRun r = Probegen("--help");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Usage: probegen"), std::string::npos);
}

class BadArguments : public ::testing::TestWithParam<const char*> {};

TEST_P(BadArguments, ExitTwoAndWriteNothing) {
    const ProgramRun r = Probegen(GetParam());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, BadArguments,
                         ::testing::Values("", "-n 3", "-o - --frames", "-o - --frames 0",
                                           "-o - --frames 2x", "-o - --snr 10 --noise 5",
                                           "-o - --amplitude 40000", "-o - --time 250000",
                                           "-o - --lat 1,5", "-o - --bogus 1",
                                           "-o - --upper-tone 1000", "-o - --upper-tone x",
                                           "-o - --descent-exponent 1.5"));

TEST(ProbegenCli, RawOutputMatchesTheWavFile) {
    const std::string wav = (std::filesystem::temp_directory_path() /
                             ("probegen_cli_" + std::to_string(getpid()) + ".wav"))
                                .string();
    const std::string common = " -n 3 --step 1 --snr 20 --seed 5 --clock-ppm 100";
    ASSERT_EQ(Probegen("-o '" + wav + "'" + common).exitCode, 0);
    const ProgramRun raw = Probegen("-o -" + common);
    ASSERT_EQ(raw.exitCode, 0);

    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.samplerate, 12000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    std::vector<short> samples(static_cast<std::size_t>(info.frames));
    sf_read_short(f, samples.data(), info.frames);
    sf_close(f);
    std::filesystem::remove(wav);

    ASSERT_EQ(raw.out.size(), samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto lo = static_cast<unsigned char>(raw.out[2 * i]);
        const auto hi = static_cast<unsigned char>(raw.out[2 * i + 1]);
        ASSERT_EQ(static_cast<short>(lo | hi << 8), samples[i]) << "sample " << i;
    }
    // Three frames of about 120 bytes, 0.2 s lead and tail, two 80 ms gaps.
    EXPECT_GT(samples.size(), 3u * 100 * 10 * 10);
    EXPECT_LT(samples.size(), 3u * 140 * 10 * 10);
}

TEST(ProbegenCli, UnwritableFileFailsWithoutCrash) {
    EXPECT_EQ(Probegen("-o /nonexistent-dir/x.wav -n 1").exitCode, 1);
}
