// Good frames on their way to the server. A frame counts as sent once the server's TCP has
// acknowledged its last byte: a frame merely handed to the socket can still be lost with the
// connection. Plain C++: the uplink tells it what was written and what is still unacknowledged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace station {

struct UploadFrame {
    int number = 0;  // the station's frame count
    std::string text;
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

}  // namespace station
