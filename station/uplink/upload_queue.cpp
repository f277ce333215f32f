#include "station/uplink/upload_queue.h"

#include <utility>

namespace station {

void InFlight::Start() {
    frames_.clear();
    written_ = 0;
}

void InFlight::Wrote(UploadFrame frame) {
    written_ += static_cast<std::int64_t>(frame.text.size());
    frames_.push_back({written_, std::move(frame)});
}

std::vector<UploadFrame> InFlight::Acknowledged(std::int64_t unacknowledged) {
    const std::int64_t acknowledged = written_ - unacknowledged;
    std::vector<UploadFrame> taken;
    while (!frames_.empty() && frames_.front().end <= acknowledged) {
        taken.push_back(std::move(frames_.front().frame));
        frames_.pop_front();
    }
    return taken;
}

std::vector<UploadFrame> InFlight::TakeAll() {
    std::vector<UploadFrame> all;
    all.reserve(frames_.size());
    for (auto& e : frames_) all.push_back(std::move(e.frame));
    frames_.clear();
    return all;
}

}  // namespace station
