#include "station/options.h"

#include <gtest/gtest.h>

using station::ParseStationArgs;
using station::StationOptions;

namespace {
StationOptions Ok(std::vector<std::string> args) {
    auto r = ParseStationArgs(args);
    EXPECT_TRUE(std::holds_alternative<StationOptions>(r))
        << (std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "");
    return std::holds_alternative<StationOptions>(r) ? std::get<StationOptions>(r)
                                                     : StationOptions{};
}
std::string Err(std::vector<std::string> args) {
    auto r = ParseStationArgs(args);
    return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : "";
}
}  // namespace

TEST(StationOptions, Defaults) {
    const auto o = Ok({});
    EXPECT_EQ(o.input, StationOptions::Input::Alsa);
    EXPECT_EQ(o.device, "default");
    EXPECT_EQ(o.port, 3001);
    EXPECT_TRUE(o.flightLog);
    EXPECT_TRUE(o.backlog);
    EXPECT_FALSE(o.headless);
}

TEST(StationOptions, InputsServerAndStation) {
    auto o = Ok({"--input", "flight.wav", "--realtime", "--headless", "--server",
                 "example.org:4001", "--call", "DL1ABC", "--locator", "JN49EA", "--no-log"});
    EXPECT_EQ(o.input, StationOptions::Input::File);
    EXPECT_EQ(o.file, "flight.wav");
    EXPECT_TRUE(o.realtime);
    EXPECT_EQ(o.server, "example.org");
    EXPECT_EQ(o.port, 4001);
    EXPECT_EQ(*o.call, "DL1ABC");
    EXPECT_FALSE(o.flightLog);
    EXPECT_EQ(Ok({"--input", "-"}).input, StationOptions::Input::Stdin);
    EXPECT_EQ(Ok({"--server", "localhost"}).port, 3001);
    EXPECT_EQ(Ok({"--device", "hw:1"}).device, "hw:1");
    EXPECT_FALSE(Ok({"--no-backlog"}).backlog);
    // The service unit gives --unattended alone: it must not open a window.
    const auto u = Ok({"--unattended", "--device", "plughw:1,0"});
    EXPECT_TRUE(u.unattended);
    EXPECT_TRUE(u.headless);
    EXPECT_FALSE(Ok({"--headless"}).unattended) << "a redirected run keeps its level lines";
}

// An IPv6 address is split at the right colon, and given back so the uplink splits it alike.
TEST(StationOptions, IPv6ServerRoundTrip) {
    struct Case {
        const char* given;
        const char* host;
        int port;
        const char* text;
    };
    for (const Case& c :
         {Case{"[::1]:4001", "::1", 4001, "[::1]:4001"}, Case{"::1", "::1", 3001, "[::1]:3001"},
          Case{"[fe80::1%eth0]", "fe80::1%eth0", 3001, "[fe80::1%eth0]:3001"},
          Case{"10.0.0.1:4001", "10.0.0.1", 4001, "10.0.0.1:4001"}}) {
        const auto o = Ok({"--server", c.given});
        EXPECT_EQ(o.server, c.host) << c.given;
        EXPECT_EQ(o.port, c.port) << c.given;
        EXPECT_EQ(station::ServerWithPort(o), c.text) << c.given;
    }
}

TEST(StationOptions, ClearErrors) {
    EXPECT_NE(Err({"--bogus"}).find("--bogus"), std::string::npos);
    EXPECT_FALSE(Err({"--input"}).empty());
    EXPECT_FALSE(Err({"--server", "host:99999"}).empty());
    EXPECT_FALSE(Err({"--server", "host:abc"}).empty());
    EXPECT_FALSE(Err({"--server", ":3001"}).empty());
    EXPECT_FALSE(Err({"--server", "[::1]:0"}).empty());
    EXPECT_FALSE(Err({"--server", "[::1"}).empty());
    EXPECT_FALSE(Err({"--device", "hw:0", "--input", "x.wav"}).empty());
    EXPECT_FALSE(Err({"--realtime"}).empty());
}

TEST(StationOptions, DemodulatorStartStateAndServiceRow) {
    const auto o = Ok({});
    EXPECT_TRUE(o.markIsHigh);
    EXPECT_EQ(o.tables, StationOptions::Tables::Start);
    EXPECT_FALSE(o.service);
    const auto p = Ok({"--polarity", "1200", "--tables", "hamming", "--service"});
    EXPECT_FALSE(p.markIsHigh);
    EXPECT_EQ(p.tables, StationOptions::Tables::Hamming);
    EXPECT_TRUE(p.service);
    EXPECT_TRUE(Ok({"--polarity", "2200"}).markIsHigh);
    EXPECT_EQ(Ok({"--tables", "rect"}).tables, StationOptions::Tables::Rect);
    for (auto bad : {std::vector<std::string>{"--polarity", "2400"},
                     {"--polarity"},
                     {"--tables", "hann"},
                     {"--tables"}})
        EXPECT_FALSE(Err(bad).empty()) << bad[0];
}

TEST(StationOptions, DecoderPathsDefaultToBoth) {
    EXPECT_EQ(Ok({}).decoder, demod::Decoder::Both);
    EXPECT_EQ(Ok({"--decoder", "literal"}).decoder, demod::Decoder::Literal);
    EXPECT_EQ(Ok({"--decoder", "sensitive"}).decoder, demod::Decoder::Sensitive);
    EXPECT_EQ(Ok({"--decoder", "both"}).decoder, demod::Decoder::Both);
    EXPECT_NE(Err({"--decoder", "Literal"}).find("none of literal, sensitive, both"),
              std::string::npos);
    EXPECT_FALSE(Err({"--decoder"}).empty());
    EXPECT_TRUE(Ok({}).repair);
    EXPECT_TRUE(Ok({}).coherent);
    EXPECT_FALSE(Ok({"--no-repair"}).repair);
    EXPECT_FALSE(Ok({"--no-coherent"}).coherent);
}

// Qt's own options go to Qt with their values, wherever they stand; ours are still ours.
TEST(StationOptions, QtOptionsPassedOn) {
    const auto o = Ok({"-qwindowgeometry", "640x480+0+0", "--headless", "-reverse", "-style",
                       "fusion", "-style=windows", "--no-log"});
    EXPECT_EQ(o.qtArgs, (std::vector<std::string>{"-qwindowgeometry", "640x480+0+0", "-reverse",
                                                  "-style", "fusion", "-style=windows"}));
    EXPECT_TRUE(o.headless);
    EXPECT_FALSE(o.flightLog);
    EXPECT_NE(Err({"-qwindowgeometry"}).find("needs a value"), std::string::npos);
    EXPECT_NE(Err({"-qwindowgeometr", "1x1"}).find("unknown argument"), std::string::npos);
}
