#include "station/uplink/upload_queue.h"

#include <algorithm>
#include <iterator>
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

int Backlog::Add(UploadFrame frame) {
    frame.waited = true;
    bytes_ += frame.text.size();
    frames_.push_back(std::move(frame));
    return Bound();
}

int Backlog::Return(std::vector<UploadFrame> frames) {
    if (frames.empty()) return 0;
    std::deque<UploadFrame> merged;
    auto byNumber = [](const UploadFrame& a, const UploadFrame& b) { return a.number < b.number; };
    for (auto& f : frames) {
        f.waited = true;
        bytes_ += f.text.size();
    }
    std::merge(std::make_move_iterator(frames_.begin()), std::make_move_iterator(frames_.end()),
               std::make_move_iterator(frames.begin()), std::make_move_iterator(frames.end()),
               std::back_inserter(merged), byNumber);
    frames_ = std::move(merged);
    return Bound();
}

int Backlog::Expire(Clock::time_point now) {
    int dropped = 0;
    while (!frames_.empty() && now - frames_.front().heard > kKeep) {
        TakeOldest();
        ++dropped;
    }
    return dropped;
}

UploadFrame Backlog::TakeOldest() {
    UploadFrame f = std::move(frames_.front());
    frames_.pop_front();
    bytes_ -= f.text.size();
    return f;
}

void Backlog::PutBackOldest(UploadFrame frame) {
    bytes_ += frame.text.size();
    frames_.push_front(std::move(frame));
}

int Backlog::Bound() {
    int dropped = 0;
    while (bytes_ > kMaxBytes && !frames_.empty()) {
        TakeOldest();
        ++dropped;
    }
    return dropped;
}

}  // namespace station
