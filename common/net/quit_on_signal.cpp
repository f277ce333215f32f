#include "common/net/quit_on_signal.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <utility>

namespace common {

namespace {

// One pair for the process: a signal handler can only reach a global.
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

}  // namespace

QuitOnSignals::QuitOnSignals(QCoreApplication& app) : QuitOnSignals(app, nullptr) {}

QuitOnSignals::QuitOnSignals(QCoreApplication& app, std::function<void()> first) {
    if (g_signalPipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    notifier_ = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &app,
                     [&app, first = std::move(first)]() mutable {
                         char byte = 0;
                         [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
                         if (first)
                             std::exchange(first, nullptr)();
                         else
                             app.quit();
                     });
}

QuitOnSignals::~QuitOnSignals() = default;

}  // namespace common
