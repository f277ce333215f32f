#include "monitor/io/navigation_device.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "common/serial/qt_dispatcher.h"
#include "monitor/io/nmea_output.h"

namespace monitor {

namespace {

std::string Every() {
    return std::to_string(kNavigationRetryMs / 1000) + " s";
}

}  // namespace

NavigationDevice::NavigationDevice(common::TSerComm& comm, QObject* context) : comm_(comm) {
    comm_.SetDispatcher(common::MakeQtDispatcher(context));
    timer_.setInterval(kNavigationRetryMs);
    QObject::connect(&timer_, &QTimer::timeout, context, [this] { Retry(); });
    comm_.OnError = [this](common::TSerCustomComm&, int errors) {
        const auto bits = static_cast<std::uint32_t>(errors);
        if (bits & common::kSerErrHangup)
            lostWhy_ = "hang-up";
        else if (bits & common::kSerErrWait)
            lostWhy_ = "line events failed";
        else if (OnLineError)
            OnLineError(errors);
    };
    comm_.OnClose = [this](common::TSerCustomComm&) {
        if (closing_) return;
        Lost(lostWhy_.empty() ? "closed" : lostWhy_);
    };
}

NavigationDevice::~NavigationDevice() {
    Close();
    comm_.OnError = nullptr;
    comm_.OnClose = nullptr;
}

void NavigationDevice::Configure(const std::string& port) {
    ConfigureNmeaPort(comm_, port);  // refused while open, as the port refuses a second open
    timer_.stop();
    path_ = comm_.DevicePathName();
    problem_.clear();
    said_.clear();
    wasOpen_ = false;
}

void NavigationDevice::Follow(const std::string& port) {
    Configure(port);
    if (TryOpen()) {
        SetState(State::Open);
        return;
    }
    SetState(State::Waiting);
    said_ = problem_;
    Say(problem_.empty()
            ? "navigation device " + path_ +
                  " is not there: it is opened when it appears (tried every " + Every() + ")"
            : "navigation device " + path_ + " cannot be opened (" + problem_ +
                  "): tried again every " + Every());
    timer_.start();
}

void NavigationDevice::OpenNow(const std::string& port) {
    Configure(port);
    SetState(State::None);
    comm_.Open();
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0) {
        device_ = st.st_rdev;
        node_ = st.st_ino;
    }
    wasOpen_ = true;
    SetState(State::Open);
    timer_.start();
}

void NavigationDevice::Close() {
    timer_.stop();
    closing_ = true;
    if (comm_.Active()) {
        comm_.SettleOutput(kNavigationSettleMs);
        comm_.Close();
    }
    closing_ = false;
    if (state_ != State::None) SetState(State::None);
}

bool NavigationDevice::TryOpen() {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
        problem_ = errno == ENOENT ? std::string() : std::string(std::strerror(errno));
        return false;
    }
    if (!S_ISCHR(st.st_mode)) {
        problem_ = "not a character device";
        return false;
    }
    try {
        comm_.Open();
    } catch (const std::exception& e) {
        problem_ = e.what();
        return false;
    }
    problem_.clear();
    lostWhy_.clear();
    device_ = st.st_rdev;
    node_ = st.st_ino;
    wasOpen_ = true;
    // Watches the path while open: a device node replaced without a hang-up is gone all the same.
    timer_.start();
    return true;
}

void NavigationDevice::Retry() {
    if (state_ == State::Open) {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0)
            lostWhy_ = "its path is gone";
        else if (st.st_rdev != device_ || st.st_ino != node_)
            lostWhy_ = "its path names another device now";
        else
            return;
        comm_.Close();  // OnClose says it and starts the retries
        return;
    }
    if (state_ != State::Waiting) return;
    const bool back = wasOpen_;
    if (TryOpen()) {
        said_.clear();
        SetState(State::Open);
        Say("navigation device " + path_ + (back ? " back" : " open") +
            ": GPS sentences go out from the next fix");
        return;
    }
    if (problem_ == said_) return;
    said_ = problem_;
    Say(problem_.empty() ? "navigation device " + path_ + " is not there"
                         : "navigation device " + path_ + " cannot be opened (" + problem_ + ")");
}

void NavigationDevice::Lost(const std::string& why) {
    lostWhy_.clear();
    said_.clear();  // "not there" goes without saying after "gone"
    SetState(State::Waiting);
    Say("navigation device " + path_ + " gone (" + why +
        "): it is opened again when it is back (tried every " + Every() + ")");
    timer_.start();
}

void NavigationDevice::SetState(State state) {
    state_ = state;
    if (OnStateChanged) OnStateChanged();
}

void NavigationDevice::Say(const std::string& text) {
    if (OnNotice) OnNotice(text);
}

}  // namespace monitor
