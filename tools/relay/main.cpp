// relay: a private collecting server. Stations upload on one port, monitors receive on another.
#include "tools/relay/log.h"
#include "tools/relay/relay_server.h"

#include "common/net/quit_on_signal.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr int kExitUsage = 2;
constexpr long long kMaxConnections = 100000;
constexpr long long kMaxHistoryMinutes = 1440;

void PrintHelp() {
    std::printf(
        "usage: relay [--bind ADDR] [--station-port PORT] [--monitor-port PORT]\n"
        "             [--max-stations N] [--max-monitors N] [--max-connections N]\n"
        "             [--max-per-address N] [--monitor-queue BYTES] [--history MINUTES]\n"
        "Relays every \"#\"-ended record that stations upload to every connected monitor.\n"
        "  --bind ADDR           address to listen on (default 127.0.0.1; 0.0.0.0 for all)\n"
        "  --station-port PORT   port for stations (default 3001; 0 picks a free one)\n"
        "  --monitor-port PORT   port for monitors (default 3000; 0 picks a free one)\n"
        "  --max-stations N      station connections (default 2000)\n"
        "  --max-monitors N      monitor connections (default 500)\n"
        "  --max-connections N   stations and monitors together (default 2500)\n"
        "  --max-per-address N   connections from one address (default 50; 0 for no limit)\n"
        "  --monitor-queue BYTES a monitor with more unsent bytes is dropped (default 1048576)\n"
        "  --history MINUTES     a monitor that connects first gets the records of the last\n"
        "                        MINUTES (default 0: none; up to 1440; at most 64 MiB kept)\n"
        "  --help, --version\n"
        "A station must send its login line \"CALL;LOCATOR;\" within 10 s; only its records\n"
        "that start with it and hold four \";\" fields are relayed. There is no\n"
        "authentication: listen on loopback or behind a firewall.\n"
        "Log lines go to standard error; SIGINT or SIGTERM end the relay with its counts.\n");
}

[[noreturn]] void Usage(const std::string& message) {
    std::fprintf(stderr, "relay: %s (try --help)\n", message.c_str());
    std::exit(kExitUsage);
}

std::optional<long long> ParseNumber(std::string_view text, long long lo, long long hi) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < lo || value > hi) return std::nullopt;
    return value;
}

relay::RelayConfig ParseArguments(int argc, char** argv) {
    relay::RelayConfig config;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            std::exit(0);
        }
        if (arg == "--version") {
            std::printf("relay %s\n", RELAY_VERSION);
            std::exit(0);
        }
        const bool takesValue =
            arg == "--bind" || arg == "--station-port" || arg == "--monitor-port" ||
            arg == "--max-connections" || arg == "--max-stations" || arg == "--max-monitors" ||
            arg == "--max-per-address" || arg == "--monitor-queue" || arg == "--history";
        if (!takesValue) Usage("unknown argument \"" + std::string(arg) + "\"");
        if (i + 1 >= argc) Usage(std::string(arg) + " needs a value");
        const std::string_view value = argv[++i];
        if (arg == "--bind") {
            const QString text =
                QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
            if (text == "localhost") {
                config.bind = QHostAddress::LocalHost;
            } else if (!config.bind.setAddress(text)) {
                Usage("--bind wants a numeric address, not \"" + std::string(value) + "\"");
            }
        } else if (arg == "--max-connections" || arg == "--max-stations" ||
                   arg == "--max-monitors") {
            const auto n = ParseNumber(value, 1, kMaxConnections);
            if (!n) Usage(std::string(arg) + " wants a number from 1 to 100000");
            (arg == "--max-connections" ? config.maxConnections
             : arg == "--max-stations"  ? config.maxStations
                                        : config.maxMonitors) = static_cast<int>(*n);
        } else if (arg == "--max-per-address") {
            const auto n = ParseNumber(value, 0, kMaxConnections);
            if (!n) Usage("--max-per-address wants a number from 0 to 100000");
            config.maxPerAddress = static_cast<int>(*n);
        } else if (arg == "--history") {
            const auto n = ParseNumber(value, 0, kMaxHistoryMinutes);
            if (!n) Usage("--history wants minutes from 0 to 1440");
            config.historyMinutes = static_cast<int>(*n);
        } else if (arg == "--monitor-queue") {
            const auto n = ParseNumber(value, 4096, 1LL << 32);
            if (!n) Usage("--monitor-queue wants a byte count from 4096 to 4294967296");
            config.monitorQueueLimitBytes = *n;
        } else {
            const auto port = ParseNumber(value, 0, 65535);
            if (!port) Usage(std::string(arg) + " wants a port from 0 to 65535");
            (arg == "--station-port" ? config.stationPort : config.monitorPort) =
                static_cast<quint16>(*port);
        }
    }
    return config;
}

// Hundreds of connections need more descriptors than a login shell's usual soft limit of 1024.
void RaiseDescriptorLimit(int wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    const rlim_t target = std::min<rlim_t>(limit.rlim_max, static_cast<rlim_t>(wanted) + 64);
    if (limit.rlim_cur < target) {
        limit.rlim_cur = target;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const relay::RelayConfig config = ParseArguments(argc, argv);
    RaiseDescriptorLimit(std::min(config.maxConnections, config.maxStations + config.maxMonitors));
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);

    const common::QuitOnSignals quitOnSignals(app);
    if (!quitOnSignals.Ok()) {
        std::perror("relay: socketpair");
        return 1;
    }

    relay::RelayServer server(config);
    QString error;
    if (!server.Start(&error)) {
        relay::Log("%s", qUtf8Printable(error));
        return 1;
    }
    const QString bind = config.bind.toString();
    relay::Log("stations on %s:%u, monitors on %s:%u", qUtf8Printable(bind), server.StationPort(),
               qUtf8Printable(bind), server.MonitorPort());
    const int rc = app.exec();
    server.LogCounts();
    relay::Log("stopped");
    return rc;
}
