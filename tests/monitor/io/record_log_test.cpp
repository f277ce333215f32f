// The monitor's record log: every byte of a record comes back, two monitors keep two files, and
// reading back takes the hours asked for from every file, oldest first.
#include "monitor/io/record_log.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace monitor {
namespace {

constexpr double kNoon = 1765281600;  // 2025-12-09 12:00:00 UTC

TEST(RecordLog, LinesKeepEveryByteAndTheTimeToTheMillisecond) {
    const LoggedRecord r{kNoon + 0.25, std::string("A;B;$GPGGA,1\r\n\\x\xB0\0z;d", 22)};
    const std::string line = RecordLogLine(r);
    EXPECT_EQ(line.substr(0, 25), "2025-12-09T12:00:00.250Z\t");
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    LoggedRecord back;
    ASSERT_TRUE(ParseRecordLogLine(line, back));
    EXPECT_EQ(back, r);
    EXPECT_FALSE(ParseRecordLogLine("no time\tA;B", back));
}

TEST(RecordLog, TwoMonitorsWriteTwoFilesAndAReadBackTakesBothInTimeOrder) {
    test_support::TempDir dir;
    RecordLog first(dir.path.string()), second(dir.path.string());
    std::string problem;
    ASSERT_TRUE(first.Append({kNoon - 7 * 3600, "old"}, problem)) << problem;
    ASSERT_TRUE(first.Append({kNoon + 1, "one"}, problem)) << problem;
    ASSERT_TRUE(second.Append({kNoon + 2, "two"}, problem)) << problem;
    ASSERT_TRUE(first.Append({kNoon + 3, "three"}, problem)) << problem;
    ASSERT_TRUE(first.Append({kNoon + 86400, "tomorrow"}, problem)) << problem;
    EXPECT_NE(first.Path(), second.Path());
    EXPECT_TRUE(second.Path().ends_with("records-2025-12-09.2.log")) << second.Path();

    std::vector<std::string> problems;
    const auto back = RecordLog(dir.path.string()).ReadSince(kNoon - 6 * 3600, problems);
    std::vector<std::string> records;
    for (const auto& r : back) records.push_back(r.record);
    EXPECT_EQ(records, (std::vector<std::string>{"one", "two", "three", "tomorrow"}));
    EXPECT_TRUE(problems.empty());
}

TEST(RecordLog, AFolderThatCannotBeWrittenFailsEachRecordAndCountsIt) {
    test_support::TempDir dir;
    std::ofstream(dir.path / "file") << "";
    RecordLog log((dir.path / "file" / "pelmora").string());
    std::string problem;
    EXPECT_FALSE(log.Append({kNoon, "a"}, problem));
    EXPECT_NE(problem.find("cannot write"), std::string::npos) << problem;
    EXPECT_FALSE(log.Append({kNoon + 1, "b"}, problem));
    EXPECT_EQ(log.Failed(), 2u);
}

}  // namespace
}  // namespace monitor
