#include "station/station_core.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace fs = std::filesystem;
using station::StationCore;

namespace {

demod::Frame GoodFrame(bool ok = true) {
    demod::Frame f;
    f.gps = "$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M,,*4B\r\n";
    for (int k = 0; k < 16; ++k) f.words[k] = static_cast<std::uint16_t>(100 + k);
    f.received = 0x1234;
    f.computed = ok ? 0x1234 : 0x4321;
    f.checksumOk = ok;
    return f;
}

using test_support::TempDir;

StationCore::Options Opts(const fs::path& dir) {
    StationCore::Options o;
    o.logFolder = dir.string();
    // 2026-12-08 10:00:05 local time, whatever the machine's zone.
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_hour = 10;
    tm.tm_sec = 5;
    tm.tm_isdst = -1;
    const auto t = std::chrono::system_clock::from_time_t(std::mktime(&tm));
    o.clock = [t] { return t; };
    return o;
}

}  // namespace

TEST(StationCore, UploadsOnlyGoodFramesWhileActive) {
    TempDir dir;
    StationCore core(Opts(dir.path));
    core.SetStation("DL1ABC mobile", "JN49EA");
    std::vector<std::string> sent;
    bool active = false;
    core.UplinkActive = [&] { return active; };
    core.UplinkSend = [&](int, const std::string& t) {
        sent.push_back(t);
        return true;
    };

    core.ausgabe(GoodFrame());  // not connected: dropped, not queued
    active = true;
    core.ausgabe(GoodFrame(false));  // bad checksum: shown, not sent
    core.ausgabe(GoodFrame());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].rfind("DL1ABC;JN49EA;$GPGGA,123456,", 0), 0u);
    EXPECT_EQ(sent[0].back(), '#');
    EXPECT_NE(sent[0].find("  100,   101, "), std::string::npos);
    EXPECT_NE(sent[0].find("2026-12-08 10:00:05#"), std::string::npos);
    EXPECT_EQ(core.Frames(), 3);
    EXPECT_EQ(core.GoodFrames(), 2);
}

TEST(StationCore, ReportsAndHistory) {
    TempDir dir;
    StationCore core(Opts(dir.path));
    std::vector<station::FrameReport> reports;
    core.OnFrame = [&](const station::FrameReport& r) { reports.push_back(r); };
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame(false));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].number, 1);
    EXPECT_EQ(reports[0].label3, "1234    1234");
    EXPECT_EQ(reports[0].label3Colour, demod::kLabel3Green);
    EXPECT_EQ(reports[1].label3Colour, demod::kLabel3Red);
    EXPECT_EQ(core.history().Counter(), 3);
    EXPECT_EQ(core.history().Slot(1, 1), 100);
    EXPECT_EQ(core.history().Slot(2, 11), 110);  // word 10 keeps its slot
    EXPECT_EQ(core.history().Slot(2, station::History::kTimeSlot), 10 * 3600 + 5);
    EXPECT_THROW(core.history().Slot(3, 1), std::out_of_range);
    EXPECT_THROW(core.history().Slot(1, 21), std::out_of_range);
}

TEST(StationCore, FlightLogKeepsEveryFrame) {
    TempDir dir;
    {
        StationCore core(Opts(dir.path));
        core.ausgabe(GoodFrame());
        core.ausgabe(GoodFrame(false));
        // Flushed per frame: readable while the station still runs.
        std::ifstream in(dir.path / "tavrin-2026-12-08.log");
        std::stringstream s;
        s << in.rdbuf();
        const std::string text = s.str();
        // No audio went in, so the signal figures are unknown (empty) here.
        EXPECT_NE(
            text.find("# frame 1 ok 1234    1234 snr= low_offset= high_offset=\n$GPGGA,123456,"),
            std::string::npos);
        EXPECT_NE(text.find("# frame 2 BAD 1234    4321 snr= low_offset= high_offset=\n"),
                  std::string::npos);
        EXPECT_EQ(text.find('\r'), std::string::npos);
    }
}

// A repaired frame is a good frame that says so: in its report, the count and the flight log.
TEST(StationCore, RepairedFrameIsGoodAndFlagged) {
    TempDir dir;
    StationCore core(Opts(dir.path));
    std::vector<int> bits;
    core.OnFrame = [&](const station::FrameReport& r) { bits.push_back(r.repairedBits); };
    demod::Frame repaired = GoodFrame();
    repaired.repairedBits = 2;
    core.ausgabe(GoodFrame());
    core.ausgabe(repaired);
    EXPECT_EQ(bits, (std::vector<int>{0, 2}));
    EXPECT_EQ(core.GoodFrames(), 2);
    EXPECT_EQ(core.RepairedFrames(), 1);
    std::ifstream in(dir.path / "tavrin-2026-12-08.log");
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_NE(s.str().find("# frame 1 ok 1234    1234 snr= low_offset= high_offset=\n"),
              std::string::npos);
    EXPECT_NE(s.str().find("# frame 2 ok 1234    1234 snr= low_offset= high_offset= repaired 2\n"),
              std::string::npos)
        << s.str();
}

TEST(StationCore, UnwritableFlightLogSaysSoOnceAndGoesOn) {
    TempDir dir;
    auto o = Opts(dir.path / "missing-folder");
    StationCore core(o);
    std::vector<std::string> messages;
    int frames = 0;
    core.OnMessage = [&](const std::string& m) { messages.push_back(m); };
    core.OnFrame = [&](const station::FrameReport&) { ++frames; };
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame());
    EXPECT_EQ(frames, 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("tavrin-2026-12-08.log"), std::string::npos);
}

TEST(StationCore, NoFlightLogWhenTurnedOff) {
    TempDir dir;
    auto o = Opts(dir.path);
    o.flightLog = false;
    StationCore core(o);
    core.ausgabe(GoodFrame());
    EXPECT_TRUE(fs::is_empty(dir.path));
}

// The flight log after a failure: said once, retried with every frame, and the frames that could
// not be written are counted and said when writing works again.
class FlightLogRecovery : public ::testing::Test {
  protected:
    void SetUp() override {
        auto o = Opts(dir_.path / "log");
        fs::create_directory(dir_.path / "log");
        o.clock = [this] { return now_; };
        now_ = Opts(dir_.path).clock();
        core_ = std::make_unique<StationCore>(o);
        core_->OnMessage = [this](const std::string& m) { messages_.push_back(m); };
    }
    fs::path Day(const char* date) const {
        return dir_.path / "log" / (std::string("tavrin-") + date + ".log");
    }
    std::string Read(const fs::path& file) const {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Two frames fail, a third after the repair is written; exactly two messages say so.
    void ExpectFailureThenRecovery(const std::function<void()>& repair, const char* why) {
        core_->ausgabe(GoodFrame());
        core_->ausgabe(GoodFrame());
        ASSERT_EQ(messages_.size(), 1u) << why;
        EXPECT_NE(messages_[0].find("tavrin-2026-12-08.log"), std::string::npos) << messages_[0];
        repair();
        core_->ausgabe(GoodFrame());
        ASSERT_EQ(messages_.size(), 2u) << why;
        EXPECT_EQ(messages_[1], "flight log written again; 2 frames could not be written");
        EXPECT_EQ(core_->losses().Unwritten(), 2);
        EXPECT_NE(Read(Day("2026-12-08")).find("# frame 3 ok"), std::string::npos) << why;
    }
    TempDir dir_;
    std::chrono::system_clock::time_point now_;
    std::unique_ptr<StationCore> core_;
    std::vector<std::string> messages_;
};

TEST_F(FlightLogRecovery, FolderRemovedWhileTheFileIsOpen) {
    core_->ausgabe(GoodFrame());  // the file is open now
    fs::remove_all(dir_.path / "log");
    messages_.clear();
    core_->ausgabe(GoodFrame());
    core_->ausgabe(GoodFrame());
    ASSERT_EQ(messages_.size(), 1u) << "a removed file is noticed, not written on unseen";
    fs::create_directory(dir_.path / "log");
    core_->ausgabe(GoodFrame());
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1], "flight log written again; 2 frames could not be written");
    EXPECT_NE(Read(Day("2026-12-08")).find("# frame 4 ok"), std::string::npos);
}

TEST_F(FlightLogRecovery, DirectoryInPlaceOfTheDaysFile) {
    fs::create_directory(Day("2026-12-08"));
    ExpectFailureThenRecovery([this] { fs::remove(Day("2026-12-08")); }, "directory");
}

TEST_F(FlightLogRecovery, DiskFull) {
    ASSERT_TRUE(fs::exists("/dev/full"));
    fs::create_symlink("/dev/full", Day("2026-12-08"));
    ExpectFailureThenRecovery([this] { fs::remove(Day("2026-12-08")); }, "/dev/full");
    EXPECT_NE(messages_[0].find("No space left"), std::string::npos) << messages_[0];
}

TEST_F(FlightLogRecovery, NewDayStartsANewFileAndAnUncreatableOneIsRetried) {
    core_->ausgabe(GoodFrame());
    fs::create_directory(Day("2026-12-09"));  // the next day's file cannot be created
    now_ += std::chrono::hours(24);
    core_->ausgabe(GoodFrame());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("tavrin-2026-12-09.log"), std::string::npos) << messages_[0];
    fs::remove(Day("2026-12-09"));
    core_->ausgabe(GoodFrame());
    ASSERT_EQ(messages_.size(), 2u);
    EXPECT_EQ(messages_[1], "flight log written again; 1 frame could not be written");
    EXPECT_NE(Read(Day("2026-12-08")).find("# frame 1 ok"), std::string::npos);
    EXPECT_EQ(Read(Day("2026-12-08")).find("# frame 3"), std::string::npos);
    EXPECT_NE(Read(Day("2026-12-09")).find("# frame 3 ok"), std::string::npos);
}

// The station started in its log folder (the default "."); the folder is removed and made again
// under it. Writing resumes in the new folder, the day's file is made again, the folder never is,
// and while it is gone the failure is said again once a minute.
TEST_F(FlightLogRecovery, StartFolderRemovedAndMadeAgain) {
    const fs::path before = fs::current_path();
    fs::current_path(dir_.path / "log");
    auto o = Opts(dir_.path);
    o.logFolder = ".";
    o.clock = [this] { return now_; };
    StationCore core(o);
    std::vector<std::string> messages;
    core.OnMessage = [&](const std::string& m) { messages.push_back(m); };
    core.ausgabe(GoodFrame());
    fs::remove_all(dir_.path / "log");
    core.ausgabe(GoodFrame());
    now_ += std::chrono::seconds(30);
    core.ausgabe(GoodFrame());
    EXPECT_FALSE(fs::exists(dir_.path / "log")) << "the folder is the operator's to make";
    ASSERT_EQ(messages.size(), 1u);
    now_ += std::chrono::seconds(31);
    core.ausgabe(GoodFrame());
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[1].find("tavrin-2026-12-08.log"), std::string::npos) << messages[1];
    EXPECT_NE(messages[1].find("3 frames not written so far"), std::string::npos) << messages[1];
    fs::create_directory(dir_.path / "log");
    core.ausgabe(GoodFrame());
    fs::current_path(before);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2], "flight log written again; 3 frames could not be written");
    EXPECT_EQ(core.losses().Unwritten(), 3);
    EXPECT_NE(Read(Day("2026-12-08")).find("# frame 5 ok"), std::string::npos);
}

namespace {
// A tmpfs of its own for this process, mounted over `at`; false where that is not allowed.
bool PrivateTmpfs(const fs::path& at, const char* options) {
    if (::geteuid() != 0) {
        const std::string uid = std::to_string(::geteuid()), gid = std::to_string(::getegid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    } else if (::unshare(CLONE_NEWNS) != 0) {
        return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tavrin-test", at.c_str(), "tmpfs", 0, options) == 0;
}

constexpr int kNoTmpfs = 77;

// In a child process: the flight log on a file system that fills while frames come, and is
// freed after five frames failed. The day's file is copied beside the folder, with the counts.
[[noreturn]] void FillAndFree(const fs::path& dir, bool tmpfs) {
    std::function<void()> free;
    if (tmpfs) {
        if (!PrivateTmpfs(dir / "log", "size=64k")) ::_exit(kNoTmpfs);
        std::ofstream(dir / "log" / "filler") << std::string(32 * 1024, 'f');
        free = [&] { fs::remove(dir / "log" / "filler"); };
    } else {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit small{20000, limit.rlim_max};
        ::setrlimit(RLIMIT_FSIZE, &small);
        free = [limit] { ::setrlimit(RLIMIT_FSIZE, &limit); };
    }
    auto o = Opts(dir / "log");
    StationCore core(o);
    int frames = 0;
    for (; frames < 3000 && core.losses().Unwritten() < 5; ++frames) core.ausgabe(GoodFrame());
    free();
    for (int i = 0; i < 20; ++i, ++frames) core.ausgabe(GoodFrame());
    fs::copy_file(dir / "log" / "tavrin-2026-12-08.log", dir / "copy.log");
    std::ofstream(dir / "counts") << frames << ' ' << core.losses().Unwritten();
    ::_exit(0);
}
}  // namespace

// A full disk loses whole frames, each counted; no frame is left cut, none glued onto another.
TEST(StationCore, FlightLogOnAFullFileSystemHoldsOnlyWholeFrames) {
    TempDir dir;
    fs::create_directory(dir.path / "log");
    int status = 0;
    for (const bool tmpfs : {true, false}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) FillAndFree(dir.path, tmpfs);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) != kNoTmpfs) break;
    }
    ASSERT_EQ(WEXITSTATUS(status), 0);
    int frames = 0, unwritten = 0;
    std::ifstream(dir.path / "counts") >> frames >> unwritten;
    EXPECT_GE(unwritten, 5);
    EXPECT_LT(unwritten, frames - 20) << "it filled, and took frames again once freed";

    std::ifstream in(dir.path / "copy.log");
    std::stringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::istringstream lines(text);
    int whole = 0, last = 0;
    std::string first;  // every frame is the same, at the same time
    for (std::string header, gps, data; std::getline(lines, header);) {
        ASSERT_TRUE(std::getline(lines, gps) && std::getline(lines, data)) << header;
        ASSERT_EQ(header.rfind("# frame ", 0), 0u) << header;
        const int number = std::stoi(header.substr(8));
        EXPECT_GT(number, last);
        last = number;
        EXPECT_EQ(gps, "$GPGGA,123456,5133.0000,N,00009.0000,E,1,07,1.0,1234.5,M,,*4B");
        EXPECT_EQ(data.find("  100,   101,"), 0u) << data;
        if (first.empty()) first = data;
        EXPECT_EQ(data, first);
        ++whole;
    }
    EXPECT_EQ(whole, frames - unwritten);
}

TEST(StationCoreLosses, UnsentGoodFramesAreCountedAndSaidOncePerStretch) {
    TempDir dir;
    auto o = Opts(dir.path);
    o.flightLog = false;
    StationCore core(o);
    std::vector<std::string> messages;
    core.OnMessage = [&](const std::string& m) { messages.push_back(m); };
    bool connected = false, wanted = false, room = true;
    int sent = 0;
    core.UplinkActive = [&] { return connected; };
    core.UplinkWanted = [&] { return wanted; };
    core.UplinkSend = [&](int, const std::string&) { return room && ++sent > 0; };

    core.ausgabe(GoodFrame());  // no connection asked for: nothing lost
    EXPECT_EQ(core.losses().Unsent(), 0);
    wanted = true;
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame(false));  // a bad frame is never offered
    core.ausgabe(GoodFrame());
    connected = true;
    room = false;
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame());
    room = true;
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame());
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(core.losses().Unsent(), 4);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "no connection to the server: frame 2 not uploaded (1 unsent)");
    EXPECT_EQ(messages[1],
              "upload queue full: frame 5 not sent, the server does not take data (3 unsent)");
    EXPECT_EQ(messages[2], "uploading again; 4 frames not sent (4 unsent in all)");
}

// With a backlog, a good frame not sent waits instead of counting as unsent; what the backlog
// lets go counts as unsent, said once.
TEST(StationCoreLosses, KeptFramesWaitAndOnlyDroppedOnesCountAsUnsent) {
    StationCore core;
    std::vector<std::string> messages;
    core.OnMessage = [&](const std::string& m) { messages.push_back(m); };
    bool connected = false, room = true;
    std::vector<int> kept;
    core.UplinkActive = [&] { return connected; };
    core.UplinkSend = [&](int, const std::string&) { return room; };
    core.UplinkKeep = [&](int number, const std::string& text) {
        EXPECT_EQ(text.rfind(";;$GPGGA,", 0), 0u);
        kept.push_back(number);
        return static_cast<int>(kept.size());
    };
    core.ausgabe(GoodFrame());
    core.ausgabe(GoodFrame(false));
    core.ausgabe(GoodFrame());
    connected = true;
    room = false;
    core.ausgabe(GoodFrame());
    room = true;
    core.ausgabe(GoodFrame());
    core.UplinkDropped(2);
    core.UplinkDropped(1);
    EXPECT_EQ(kept, (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(core.losses().Unsent(), 3);
    EXPECT_EQ(messages,
              (std::vector<std::string>{
                  "no connection to the server: frame 1 waits in the backlog (1 waiting)",
                  "upload queue full, the server does not take data: frame 4 waits in the "
                  "backlog (3 waiting)",
                  "uploading again; 3 frames kept meanwhile follow from the backlog",
                  "backlog full: its oldest frames (heard over 6 h ago, or beyond its memory) "
                  "are let go and count as unsent (2 unsent)"}));
}

TEST(StationCoreLosses, OverrunsCountedFromTheCapturesTotal) {
    StationCore core;
    std::vector<std::string> messages;
    core.OnMessage = [&](const std::string& m) { messages.push_back(m); };
    core.AudioOverruns(1);
    core.AudioOverruns(1);  // no news
    core.AudioOverruns(3);
    EXPECT_EQ(core.losses().Overruns(), 3);
    EXPECT_EQ(messages, (std::vector<std::string>{"audio overrun (1)", "audio overrun (3)"}));
}

// A day of frames fills several storage chunks; records on both sides of a chunk's edge keep
// their own words.
TEST(History, RecordsAcrossChunkEdges) {
    station::History h;
    std::array<std::uint16_t, 16> words{};
    for (int n = 1; n <= 9000; ++n) {
        words[0] = static_cast<std::uint16_t>(n);
        h.Add(words, n);
    }
    EXPECT_EQ(h.Counter(), 9001);
    for (int n : {1, 4096, 4097, 8192, 8193, 9000}) {
        EXPECT_EQ(h.Slot(n, 1), n);
        EXPECT_EQ(h.Slot(n, station::History::kTimeSlot), n);
    }
    EXPECT_THROW(h.Slot(9001, 1), std::out_of_range);
}
