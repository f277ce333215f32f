// serial_write: how long handing a record's GPS sentence to the serial port takes
// (NmeaOutput::SetLine on the port owner's thread, as the monitor calls it), with the device
// reading and with a device that stopped reading (its queue in the kernel full).
// Usage: serial_write [CALLS]   (default 2000 per device)
// Target: the slowest call under kMinSentenceWaitMs (20 ms), the least time a sentence may wait
// for the device, so a call that waited for it would take at least that; exits 1 when missed.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "monitor/io/nmea_output.h"
#include "serial_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

const std::string kLine =
    "$GPGGA,100000.00,5006.0000,N,00842.0000,E,1,09,1.0,150.0,M,47.0,M,,*6F\r\n";

struct Calls {
    std::vector<double> us;  // each SetLine timed on the loop thread itself
    std::uint64_t sent = 0, dropped = 0;
};

Calls TimeCalls(bool stalled, int calls) {
    serial_test::Pty pty;
    serial_test::TestLoop loop;
    common::TSerComm comm;
    comm.SetDispatcher(loop.Dispatcher());
    Calls result;
    auto onLoop = [&loop](auto job) {
        std::packaged_task<void()> task(job);
        auto done = task.get_future();
        loop.Post([&task] { task(); });
        done.get();
    };
    std::unique_ptr<monitor::NmeaOutput> out;
    onLoop([&] {
        out = std::make_unique<monitor::NmeaOutput>(comm);
        monitor::ConfigureNmeaPort(comm, pty.slave_path);
        comm.Open();
    });
    std::atomic<bool> reading = !stalled;
    std::thread reader([&] {
        while (reading) pty.Receive(1 << 16, 20);
    });
    if (stalled) pty.FillUntilFull();
    for (int i = 0; i < calls; ++i)
        onLoop([&] {
            const auto start = Clock::now();
            out->SetLine(kLine);
            result.us.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        });
    onLoop([&] { comm.WaitWritten(5000); });
    reading = false;
    reader.join();
    result.sent = comm.PiecesSent();
    result.dropped = comm.PiecesDropped();
    onLoop([&] {
        comm.Close();
        out.reset();
    });
    return result;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const double target = monitor::kMinSentenceWaitMs;
    bool met = true;
    std::printf("serial_write: %d calls of SetLine per device, one sentence of %zu bytes each\n",
                calls, kLine.size());
    for (const bool stalled : {false, true}) {
        const Calls c = TimeCalls(stalled, calls);
        const double slowest = *std::max_element(c.us.begin(), c.us.end());
        const bool ok = slowest < target * 1000;
        met = met && ok;
        std::printf(
            "  device %s: sent %llu, dropped %llu; median %.1f us, 99th percentile %.1f us, "
            "slowest %.1f us (target < %.0f ms): %s\n",
            stalled ? "not reading" : "reading", static_cast<unsigned long long>(c.sent),
            static_cast<unsigned long long>(c.dropped), Percentile(c.us, 0.5),
            Percentile(c.us, 0.99), slowest, target, ok ? "met" : "MISSED");
    }
    std::printf("%s\n", met ? "every serial write target met" : "SOME SERIAL WRITE TARGETS MISSED");
    return met ? 0 : 1;
}
