// What the station could not do with a frame or a sample: counted, and said once per stretch
// so the operator learns of it without a flood of messages.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace station {

class Losses {
  public:
    // The capture's running overrun count; the text to show when it grew.
    std::optional<std::string> Overruns(int total);
    int Overruns() const noexcept { return overruns_; }

    // Outcome of offering one good frame to the uplink.
    enum class Upload { Sent, NotConnected, QueueFull };
    // The text to show: at the first frame of a stretch not sent, and when one goes out again.
    std::optional<std::string> Uploaded(int frameNumber, Upload outcome);
    // A frame not sent (NotConnected or QueueFull) that waits in the uplink's backlog with
    // `waiting` others: not lost, said at the first frame of a stretch.
    std::optional<std::string> Kept(int frameNumber, Upload why, int waiting);
    // Frames the backlog let go: counted as unsent, said once until uploading goes on.
    std::optional<std::string> Dropped(int frames);
    int Unsent() const noexcept { return unsent_; }

    // Outcome of appending one frame to the flight log; `error` says why it failed. The text to
    // show: the first failure of a stretch, again once a minute while it lasts, and the count
    // once writing works again.
    std::optional<std::string> Logged(bool written, const std::string& error,
                                      std::chrono::system_clock::time_point now = {});
    static constexpr std::chrono::seconds kLogReminder{60};
    int Unwritten() const noexcept { return unwritten_; }

  private:
    int overruns_ = 0;
    int unsent_ = 0;
    Upload lastUpload_ = Upload::Sent;
    bool lastKept_ = false;
    int unsentInStretch_ = 0;
    int keptInStretch_ = 0;
    bool droppedSaid_ = false;
    int unwritten_ = 0;
    int unwrittenInStretch_ = 0;
    std::chrono::system_clock::time_point logSaid_;
};

}  // namespace station
