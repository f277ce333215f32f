// The navigation device on its serial port as a chase car has it: cables are pulled and plugged
// back, adapters come up after the program. A port that cannot be opened, or was open and went
// away (hang-up, a failed line, its path gone), is tried again every kNavigationRetryMs until it
// opens; each change is said once. Both front ends use it over their own port; the retries and
// the port's notifications run on the event loop of `context`.
#pragma once

#include <QTimer>

#include <sys/types.h>

#include <functional>
#include <string>

#include "common/serial/ser_comm.h"

namespace monitor {

inline constexpr int kNavigationRetryMs = 2000;
// A sentence the device has begun may finish within this at the end of a run.
inline constexpr int kNavigationSettleMs = 300;

class NavigationDevice {
  public:
    enum class State {
        None,     // no port asked for
        Open,     // sentences go out
        Waiting,  // not there or not to be opened: tried again every kNavigationRetryMs
    };

    // Installs the port's OnError and OnClose and its dispatcher; `comm` must outlive this.
    NavigationDevice(common::TSerComm& comm, QObject* context);
    ~NavigationDevice();
    NavigationDevice(const NavigationDevice&) = delete;
    NavigationDevice& operator=(const NavigationDevice&) = delete;

    // Opens `port` (a port number or a device path) now or, when it cannot be, as soon as it
    // can. Throws std::invalid_argument for a text that names no port.
    void Follow(const std::string& port);
    // The operator's open: now, throwing what the port throws and trying nothing again when it
    // fails; once open, a port that goes away is tried again as with Follow.
    void OpenNow(const std::string& port);
    // The end of a run: a sentence the device has begun may finish, then the port closes
    // without a word and nothing is tried again.
    void Close();

    State GetState() const { return state_; }
    // The device's path, once a port was asked for.
    const std::string& Path() const { return path_; }
    // Why it is not open, while waiting: empty when it is not there at all.
    const std::string& Problem() const { return problem_; }

    // A change the user is told about, once: missing, not to be opened (and why), gone, back.
    std::function<void(const std::string&)> OnNotice;
    // Line errors that leave the port open (framing, a failed write tried again).
    std::function<void(int errors)> OnLineError;
    std::function<void()> OnStateChanged;

  private:
    void Configure(const std::string& port);
    // One attempt; false, with problem_ set, when the device cannot be opened now.
    bool TryOpen();
    void Retry();
    void Lost(const std::string& why);
    void SetState(State state);
    void Say(const std::string& text);

    common::TSerComm& comm_;
    QTimer timer_;
    State state_ = State::None;
    std::string path_;
    std::string problem_;
    std::string said_;      // the last waiting reason told, so each is told once
    std::string lostWhy_;   // why the port is closing on its own
    bool closing_ = false;  // our own close: no word, no retry
    bool wasOpen_ = false;  // opened at least once: "back" rather than "open"
    dev_t device_ = 0;      // what the path named when it opened
    ino_t node_ = 0;
};

}  // namespace monitor
