#include "station/uplink/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace station {

namespace {
bool SameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
}  // namespace

SettingsLines::ReadResult SettingsLines::Read(const std::string& path, std::string& error) {
    lines_.clear();
    byteOrderMark_ = false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": " + std::strerror(errno);
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Unreadable;
    }
    // A folder opens for reading on Linux; only its reads fail.
    struct stat st {};
    if (::fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a file";
        std::fclose(f);
        return ReadResult::Unreadable;
    }
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    const int readErrno = errno;
    std::fclose(f);
    if (failed) {
        error = path + ": " + std::strerror(readErrno);
        return ReadResult::Unreadable;
    }
    static constexpr std::string_view kBom = "\xEF\xBB\xBF";
    byteOrderMark_ = text.starts_with(kBom);
    std::size_t at = byteOrderMark_ ? kBom.size() : 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        // Every CR before the LF goes: one kept would be lost at the next write and read.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(std::move(line));
        at = end + 1;
    }
    return ReadResult::Read;
}

bool SettingsLines::Load(const std::string& path, std::string& error) {
    return Read(path, error) == ReadResult::Read;
}

bool SettingsLines::Save(const std::string& path, std::string& error) const {
    const std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = !byteOrderMark_ || std::fputs("\xEF\xBB\xBF", f) != EOF;
    // Written as bytes: a NUL in a line the station does not know must not cut it short.
    for (const auto& line : lines_)
        ok = ok && std::fwrite(line.data(), 1, line.size(), f) == line.size() &&
             std::fputc('\n', f) != EOF;
    ok = ok && std::fflush(f) == 0 && ::fsync(fileno(f)) == 0;
    const int savedErrno = errno;
    ok = (std::fclose(f) == 0) && ok;
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(ok ? errno : savedErrno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

int SettingsLines::Find(std::string_view key) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto eq = lines_[i].find('=');
        if (eq != std::string::npos && SameKey(std::string_view(lines_[i]).substr(0, eq), key))
            return static_cast<int>(i);
    }
    return -1;
}

std::string SettingsLines::Value(std::string_view key) const {
    const int i = Find(key);
    if (i < 0) return {};
    const std::string& line = lines_[static_cast<std::size_t>(i)];
    return line.substr(line.find('=') + 1);
}

void SettingsLines::SetValue(std::string_view key, std::string_view value) {
    const int i = Find(key);
    if (value.empty()) {
        if (i >= 0) lines_.erase(lines_.begin() + i);
        return;
    }
    std::string line = std::string(key) + "=" + std::string(value);
    if (i >= 0)
        lines_[static_cast<std::size_t>(i)] = std::move(line);
    else
        lines_.push_back(std::move(line));
}

}  // namespace station
