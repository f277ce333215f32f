#include "station/losses.h"

namespace station {

namespace {
std::string Frames(int n) {
    return std::to_string(n) + (n == 1 ? " frame" : " frames");
}
}  // namespace

std::optional<std::string> Losses::Overruns(int total) {
    if (total <= overruns_) return std::nullopt;
    overruns_ = total;
    return "audio overrun (" + std::to_string(total) + ")";
}

std::optional<std::string> Losses::Uploaded(int frameNumber, Upload outcome) {
    const Upload before = lastUpload_;
    lastUpload_ = outcome;
    if (outcome == Upload::Sent) {
        if (before == Upload::Sent) return std::nullopt;
        const int stretch = unsentInStretch_;
        unsentInStretch_ = 0;
        return "uploading again; " + Frames(stretch) + " not sent (" + std::to_string(unsent_) +
               " unsent in all)";
    }
    ++unsent_;
    ++unsentInStretch_;
    if (outcome == before) return std::nullopt;
    const std::string number = std::to_string(frameNumber);
    return outcome == Upload::QueueFull
               ? "upload queue full: frame " + number +
                     " not sent, the server does not take data (" + std::to_string(unsent_) +
                     " unsent)"
               : "no connection to the server: frame " + number + " not uploaded (" +
                     std::to_string(unsent_) + " unsent)";
}

std::optional<std::string> Losses::Logged(bool written, const std::string& error,
                                          std::chrono::system_clock::time_point now) {
    if (written) {
        if (unwrittenInStretch_ == 0) return std::nullopt;
        const int stretch = unwrittenInStretch_;
        unwrittenInStretch_ = 0;
        return "flight log written again; " + Frames(stretch) + " could not be written";
    }
    ++unwritten_;
    if (unwrittenInStretch_++ == 0) {
        logSaid_ = now;
        return error + " (each frame tries again)";
    }
    // A clock set back counts as time passed, so the reminder never stops.
    if (now >= logSaid_ && now - logSaid_ < kLogReminder) return std::nullopt;
    logSaid_ = now;
    return error + " (" + Frames(unwrittenInStretch_) + " not written so far)";
}

}  // namespace station
