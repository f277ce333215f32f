// Builds relayed records the way the receiving station writes them: CALL;LOCATOR;GPS
// sentence;data line#, the data line holding 16 words right-aligned in width 5.
#pragma once

#include <array>
#include <cstdio>
#include <string>

namespace monitor::testing {

struct Fix {
    std::string time = "123456.00";
    std::string lat = "4901.2345";
    std::string lon = "00820.1234";
    std::string alt = "12345.6";
    std::string sats = "07";
    std::array<std::string, 16> words = {"1", "2", "1500", "0", "0", "0",   "0",   "0",
                                         "0", "0", "0",    "0", "0", "300", "255", "9875"};
};

inline std::string Record(const Fix& f, const std::string& call = "DL1ABC",
                          const std::string& loc = "JN49EA") {
    std::string data;
    char buf[64];
    for (const auto& w : f.words) {
        std::snprintf(buf, sizeof buf, "%5s, ", w.c_str());
        data += buf;
    }
    data += "12.05.2024 12:34:56";
    return call + ";" + loc + ";$GPGGA," + f.time + "," + f.lat + ",N," + f.lon + ",E,1," + f.sats +
           ",1.0," + f.alt + ",M,47.0,M,,*5C;" + data + "#";
}

}  // namespace monitor::testing
