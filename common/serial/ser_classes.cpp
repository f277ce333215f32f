#include "common/serial/ser_classes.h"

#include <cstring>

namespace common {

std::string SerSysMessage(const std::string& prefix, int code) {
    char text[256];
    // The GNU variant may return a static string instead of filling `text`.
    const char* described = strerror_r(code, text, sizeof text);
    return prefix + "(" + std::to_string(code) + "), " + described;
}

void TSerPersistent::EndUpdate() {
    if (update_count_ > 0) --update_count_;
    Changed();
}

void TSerPersistent::Changed() {
    if (update_count_ == 0 && on_change_) on_change_(*this);
}

void TSerPersistent::Assign(const TSerPersistent& source) {
    if (&source == this) return;
    BeginUpdate();
    bool same_class = false;
    try {
        same_class = AssignFields(source);
    } catch (...) {
        EndUpdate();
        throw;
    }
    if (!same_class) {
        --update_count_;
        throw std::invalid_argument("cannot assign between different option classes");
    }
    EndUpdate();
}

TSerEvent::TWaitResult TSerWaitEvent::WaitFor(int timeout_ms) {
    std::unique_lock lock(mutex_);
    if (timeout_ms < 0) {
        cv_.wait(lock, [this] { return set_; });
        return TWaitResult::wrSignaled;
    }
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return set_; })
               ? TWaitResult::wrSignaled
               : TWaitResult::wrTimeout;
}

void TSerWaitEvent::SetEvent() {
    {
        std::lock_guard lock(mutex_);
        set_ = true;
    }
    cv_.notify_all();
}

void TSerWaitEvent::ResetEvent() {
    std::lock_guard lock(mutex_);
    set_ = false;
}

bool TSerWaitEvent::IsSet() const {
    std::lock_guard lock(mutex_);
    return set_;
}

bool TSerCommBuffer::Append(const void* bytes, std::size_t count) {
    if (count > Free()) return false;
    if (count > 0) std::memcpy(data_.data() + fill_, bytes, count);
    fill_ += count;
    return true;
}

void TSerCommBuffer::Consume(std::size_t count) {
    if (count > fill_) count = fill_;
    std::memmove(data_.data(), data_.data() + count, fill_ - count);
    fill_ -= count;
}

void TSerCommBuffer::Erase(std::size_t offset, std::size_t count) {
    if (offset >= fill_) return;
    if (count > fill_ - offset) count = fill_ - offset;
    std::memmove(data_.data() + offset, data_.data() + offset + count, fill_ - offset - count);
    fill_ -= count;
}

}  // namespace common
