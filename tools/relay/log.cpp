#include "tools/relay/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace relay {

std::string UtcStamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    char text[80];  // room for any int the format could meet
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

void Log(const char* format, ...) {
    std::string line = UtcStamp(std::chrono::system_clock::now()) + " relay: ";
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    line += text;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace relay
