#include "monitor/io/record_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "common/numbers.h"

namespace monitor {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPrefix = "records-";
constexpr const char* kSuffix = ".log";
constexpr int kMaxFilesADay = 99;  // monitors running at once

std::string Day(double utcS) {
    const std::time_t t = static_cast<std::time_t>(std::floor(utcS));
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

// "records-DAY.log" for the first monitor of a day, "records-DAY.2.log" for a second, ...
std::string FileName(const std::string& day, int n) {
    return kPrefix + day + (n > 1 ? "." + std::to_string(n) : std::string()) + kSuffix;
}

std::string Errno() {
    return std::strerror(errno);
}

}  // namespace

std::string DefaultRecordLogFolder() {
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return (fs::path(xdg) / "pelmora").string();
    if (const char* home = std::getenv("HOME"); home && *home)
        return (fs::path(home) / ".local" / "state" / "pelmora").string();
    return {};
}

std::string RecordLogLine(const LoggedRecord& r) {
    const double whole = std::floor(r.receivedS);
    const std::time_t t = static_cast<std::time_t>(whole);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char stamp[96];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ\t", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  std::min(999, static_cast<int>((r.receivedS - whole) * 1000)));
    std::string line = stamp;
    for (char c : r.record) {
        if (c == '\\')
            line += "\\\\";
        else if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    line += '\n';
    return line;
}

bool ParseRecordLogLine(std::string_view line, LoggedRecord& out) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    std::tm tm{};
    int ms = 0;
    const std::string stamp(line.substr(0, tab));
    if (std::sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    out.receivedS = static_cast<double>(timegm(&tm)) + ms / 1000.0;
    out.record.clear();
    for (std::size_t i = tab + 1; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            out.record += line[i];
            continue;
        }
        const char e = line[++i];
        out.record += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
    }
    return true;
}

RecordLog::RecordLog(std::string folder) : folder_(std::move(folder)) {}

RecordLog::~RecordLog() {
    Close();
}

void RecordLog::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    day_.clear();
}

std::vector<LoggedRecord> RecordLog::ReadSince(double fromS,
                                               std::vector<std::string>& problems) const {
    std::vector<LoggedRecord> out;
    std::error_code ec;
    if (!fs::is_directory(folder_, ec)) return out;
    // Every file of the days from `fromS` on, whoever wrote it.
    const std::string firstDay = Day(fromS);
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) continue;
        if (name.substr(std::strlen(kPrefix), 10) < firstDay) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        if (!in) {
            problems.push_back("cannot read \"" + entry.path().string() + "\"");
            continue;
        }
        LoggedRecord r;
        for (std::string line; std::getline(in, line);)
            if (ParseRecordLogLine(line, r) && r.receivedS >= fromS) out.push_back(r);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.receivedS < b.receivedS; });
    return out;
}

bool RecordLog::OpenFor(const std::string& day, std::string& problem) {
    Close();
    std::error_code ec;
    fs::create_directories(folder_, ec);
    for (int n = 1; n <= kMaxFilesADay; ++n) {
        const std::string path = (fs::path(folder_) / FileName(day, n)).string();
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            problem = "cannot write \"" + path + "\": " + Errno();
            return false;
        }
        // Another monitor writes this one: try the next.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        day_ = day;
        path_ = path;
        return true;
    }
    problem = "every record log of " + day + " in \"" + folder_ + "\" is in use";
    return false;
}

bool RecordLog::Append(const LoggedRecord& r, std::string& problem) {
    const std::string day = Day(r.receivedS);
    if ((day != day_ || fd_ < 0) && !OpenFor(day, problem)) {
        ++failed_;
        return false;
    }
    const std::string line = RecordLogLine(r);
    const off_t start = ::lseek(fd_, 0, SEEK_END);
    const ssize_t n = ::write(fd_, line.data(), line.size());
    if (n == static_cast<ssize_t>(line.size())) return true;
    problem = "cannot write \"" + path_ + "\": " + (n < 0 ? Errno() : "the disk is full");
    // A line cut short would glue the next one onto it.
    if (n > 0 && start >= 0 && ::ftruncate(fd_, start) != 0) Close();
    ++failed_;
    return false;
}

}  // namespace monitor
