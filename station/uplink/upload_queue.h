// Good frames on their way to the server. A frame counts as sent once the server's TCP has
// acknowledged its last byte: a frame merely handed to the socket can still be lost with the
// connection. A frame that cannot go out waits in the backlog. Plain C++: the uplink tells them
// what was written, what is still unacknowledged and what time it is.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace station {

struct UploadFrame {
    int number = 0;  // the station's frame count
    std::string text;
    std::chrono::steady_clock::time_point heard{};
    bool waited = false;  // went through the backlog: sent late
};

// The frames written to one connection, by where each ends in the connection's byte stream.
class InFlight {
  public:
    // A new connection, nothing written to it yet.
    void Start();
    // Bytes written that belong to no frame (the login line).
    void Wrote(std::int64_t bytes) { written_ += bytes; }
    void Wrote(UploadFrame frame);
    // Given the connection's unacknowledged bytes now: the frames it no longer holds, oldest first.
    std::vector<UploadFrame> Acknowledged(std::int64_t unacknowledged);
    // The connection is gone: the frames it still held, oldest first.
    std::vector<UploadFrame> TakeAll();
    std::size_t Frames() const noexcept { return frames_.size(); }
    std::int64_t Written() const noexcept { return written_; }

  private:
    struct Entry {
        std::int64_t end;  // bytes written up to and including the frame's last
        UploadFrame frame;
    };
    std::deque<Entry> frames_;
    std::int64_t written_ = 0;
};

// Good frames that could not go out when they were heard, in the order heard. Bounded: a frame
// heard longer than kKeep ago goes, and the oldest go while the texts pass kMaxBytes.
class Backlog {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::hours kKeep{6};
    // Six hours at three frames a second of 250 bytes: more than one probe ever sends.
    static constexpr std::size_t kMaxBytes = std::size_t{16} << 20;

    // Each returns how many of the oldest frames were let go to stay within bounds.
    int Add(UploadFrame frame);
    // Frames a failed connection held go back among the others, by their numbers.
    int Return(std::vector<UploadFrame> frames);
    int Expire(Clock::time_point now);

    bool Empty() const noexcept { return frames_.empty(); }
    std::size_t Size() const noexcept { return frames_.size(); }
    UploadFrame TakeOldest();
    void PutBackOldest(UploadFrame frame);

  private:
    int Bound();

    std::deque<UploadFrame> frames_;
    std::size_t bytes_ = 0;
};

}  // namespace station
