// The monitor's own log of every record it received, one file a day, so that a monitor started
// again mid-chase (the laptop crashed) comes back with its flights. A line holds the time the
// record came (UTC) and the record, its line ends and backslashes escaped. Two monitors never
// write one file: each holds a lock on its own. Plain C++ over POSIX files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace monitor {

// What a monitor started again reads back: the records received in the last 6 hours.
inline constexpr double kRecordLogReadBackS = 6 * 3600;

struct LoggedRecord {
    double receivedS = 0;  // UTC seconds since 1970
    std::string record;    // without "#"

    bool operator==(const LoggedRecord&) const = default;
};

// $XDG_STATE_HOME/pelmora, else $HOME/.local/state/pelmora; empty when neither is set.
std::string DefaultRecordLogFolder();

// One line of the log, with its "\n"; and back (false for a line that is none).
std::string RecordLogLine(const LoggedRecord& r);
bool ParseRecordLogLine(std::string_view line, LoggedRecord& out);

class RecordLog {
  public:
    explicit RecordLog(std::string folder);
    ~RecordLog();
    RecordLog(const RecordLog&) = delete;
    RecordLog& operator=(const RecordLog&) = delete;

    // The records of every monitor's files received at or after `fromS`, oldest first. Files
    // that cannot be read are said in `problems`.
    std::vector<LoggedRecord> ReadSince(double fromS, std::vector<std::string>& problems) const;
    // Appends to the file of the record's UTC day; false with the reason when it could not. A
    // failed record is counted and the next one tried afresh.
    bool Append(const LoggedRecord& r, std::string& problem);

    const std::string& Folder() const { return folder_; }
    // The file written now; empty before the first record.
    const std::string& Path() const { return path_; }
    std::size_t Failed() const { return failed_; }

  private:
    bool OpenFor(const std::string& day, std::string& problem);
    void Close();

    std::string folder_;
    std::string day_;
    std::string path_;
    int fd_ = -1;
    std::size_t failed_ = 0;
};

}  // namespace monitor
