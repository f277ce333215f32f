#include "station/losses.h"

#include <utility>

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
    const bool keptBefore = lastKept_;
    lastUpload_ = outcome;
    lastKept_ = false;
    if (outcome == Upload::Sent) {
        if (before == Upload::Sent) return std::nullopt;
        const int stretch = unsentInStretch_;
        const int kept = keptInStretch_;
        unsentInStretch_ = keptInStretch_ = 0;
        droppedSaid_ = false;
        std::string text = "uploading again; ";
        if (stretch > 0 || kept == 0)
            text += Frames(stretch) + " not sent (" + std::to_string(unsent_) + " unsent in all)";
        if (stretch > 0 && kept > 0) text += ", ";
        if (kept > 0) text += Frames(kept) + " kept meanwhile follow from the backlog";
        return text;
    }
    ++unsent_;
    ++unsentInStretch_;
    if (outcome == before && !keptBefore) return std::nullopt;
    const std::string number = std::to_string(frameNumber);
    return outcome == Upload::QueueFull
               ? "upload queue full: frame " + number +
                     " not sent, the server does not take data (" + std::to_string(unsent_) +
                     " unsent)"
               : "no connection to the server: frame " + number + " not uploaded (" +
                     std::to_string(unsent_) + " unsent)";
}

std::optional<std::string> Losses::Kept(int frameNumber, Upload why, int waiting) {
    const bool same = lastUpload_ == why && lastKept_;
    lastUpload_ = why;
    lastKept_ = true;
    ++keptInStretch_;
    if (same) return std::nullopt;
    const std::string waits = "frame " + std::to_string(frameNumber) + " waits in the backlog (" +
                              std::to_string(waiting) + " waiting)";
    return why == Upload::QueueFull ? "upload queue full, the server does not take data: " + waits
                                    : "no connection to the server: " + waits;
}

std::optional<std::string> Losses::Dropped(int frames) {
    unsent_ += frames;
    if (std::exchange(droppedSaid_, true)) return std::nullopt;
    return "backlog full: its oldest frames (heard over 6 h ago, or beyond its memory) are let "
           "go and count as unsent (" +
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
