// SIGINT and SIGTERM end the event loop instead of the process, so ports are closed and output
// is flushed on the way out. The handler only writes a byte to a socket pair; the loop reads it.
#pragma once

#include <functional>
#include <memory>

class QCoreApplication;
class QSocketNotifier;

namespace common {

class QuitOnSignals {
  public:
    explicit QuitOnSignals(QCoreApplication& app);
    // The first signal runs `first` instead (a program that winds down on its own); a second
    // one ends the loop at once, should the winding down hang.
    QuitOnSignals(QCoreApplication& app, std::function<void()> first);
    ~QuitOnSignals();
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

    // False when the socket pair could not be made; the signals then keep their defaults.
    bool Ok() const { return notifier_ != nullptr; }

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace common
