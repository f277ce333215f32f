// Building blocks of the serial component: change-notifying option base, small
// synchronisation helpers, the write thread's byte buffer and the component's exception.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace common {

class ESerCommError : public std::runtime_error {
  public:
    explicit ESerCommError(const std::string& message) : std::runtime_error(message) {}
};

// "<prefix>(<code>), <system text>" as every message naming a failed system call reads.
std::string SerSysMessage(const std::string& prefix, int code);

// Small set over an enumeration with at most 32 members.
template <typename E>
class TSerSet {
  public:
    constexpr TSerSet() = default;
    constexpr TSerSet(std::initializer_list<E> members) {
        for (E m : members) Include(m);
    }
    constexpr bool Contains(E m) const { return (bits_ >> static_cast<unsigned>(m)) & 1u; }
    constexpr void Include(E m) { bits_ |= 1u << static_cast<unsigned>(m); }
    constexpr void Exclude(E m) { bits_ &= ~(1u << static_cast<unsigned>(m)); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TSerSet&) const = default;

  private:
    std::uint32_t bits_ = 0;
};

// Base of the option objects: an update counter and one change callback, so that a batch of
// changes reaches the owner once.
class TSerPersistent {
  public:
    using TChangeCallback = std::function<void(TSerPersistent& sender)>;

    virtual ~TSerPersistent() = default;

    void SetOnChange(TChangeCallback callback) { on_change_ = std::move(callback); }
    void BeginUpdate() { ++update_count_; }
    // The counter is lowered first, so a callback that throws leaves the object usable.
    void EndUpdate();
    int UpdateCount() const { return update_count_; }
    // Copies every field from an object of the same class with one notification; any other
    // class is refused with std::invalid_argument.
    virtual void Assign(const TSerPersistent& source);

  protected:
    void Changed();
    virtual bool AssignFields(const TSerPersistent& source) = 0;

  private:
    int update_count_ = 0;
    TChangeCallback on_change_;
};

// Base of components: remembers whether destruction is under way.
class TSerComponent {
  public:
    virtual ~TSerComponent() = default;
    bool Destroying() const { return destroying_; }

  protected:
    bool destroying_ = false;
};

class TSerHandleObject {
  public:
    TSerHandleObject() = default;
    TSerHandleObject(const TSerHandleObject&) = delete;
    TSerHandleObject& operator=(const TSerHandleObject&) = delete;
    virtual ~TSerHandleObject() = default;
};

class TSerEvent : public TSerHandleObject {
  public:
    enum class TWaitResult { wrSignaled, wrTimeout };
};

// Manual-reset event, initially clear.
class TSerWaitEvent : public TSerEvent {
  public:
    // Waits until set or `timeout_ms` has passed; a negative timeout waits for ever.
    TWaitResult WaitFor(int timeout_ms);
    void SetEvent();
    void ResetEvent();
    bool IsSet() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_ = false;
};

// A mutex usable with std::lock_guard and std::condition_variable_any.
class TSerCriticalSection {
  public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }
    void Enter() { lock(); }
    void Leave() { unlock(); }

  private:
    std::mutex mutex_;
};

// Output buffer of the write thread: fixed capacity, bytes appended behind the fill count and
// consumed from the front. Not locked itself: the owner's write lock guards it.
class TSerCommBuffer {
  public:
    explicit TSerCommBuffer(std::size_t capacity) : data_(capacity) {}
    std::size_t Capacity() const { return data_.size(); }
    std::size_t Fill() const { return fill_; }
    std::size_t Free() const { return data_.size() - fill_; }
    const std::uint8_t* Data() const { return data_.data(); }
    // False, with nothing copied, when the bytes do not fit.
    bool Append(const void* bytes, std::size_t count);
    // Drops the first `count` bytes (at most the fill count).
    void Consume(std::size_t count);
    // Drops `count` bytes from `offset` on, closing the gap (within the fill count).
    void Erase(std::size_t offset, std::size_t count);

  private:
    std::vector<std::uint8_t> data_;
    std::size_t fill_ = 0;
};

}  // namespace common
