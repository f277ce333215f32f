#pragma once

#include <chrono>
#include <cstddef>
#include <span>
#include <string>

namespace capture {

// The sample format a device hands to its OnBufferFilled handler.
struct Format {
    int frameRate = 22050;   // frames per second
    int bits = 16;           // 8 (unsigned) or 16 (signed little-endian)
    int channels = 1;        // 1 or 2, interleaved
    int bufferBytes = 8192;  // whole frames

    int BlockAlign() const { return bits / 8 * channels; }
    int BufferFrames() const { return bufferBytes / BlockAlign(); }
};

// What the reader thread may ask of the device while it waits.
class ReaderContext {
  public:
    virtual ~ReaderContext() = default;
    virtual bool StopRequested() const = 0;
    // Waits until `when` or until a stop is requested; false when stopped.
    virtual bool SleepUntil(std::chrono::steady_clock::time_point when) = 0;
};

// Result of filling one buffer.
struct Fill {
    std::size_t bytes = 0;  // bytes written; less than asked only when the stream ended
    bool ended = false;     // no more data will come
    std::string message;    // why it ended; empty for the normal end of a file
    int overruns = 0;       // times samples were lost while filling (the source ran over)
    std::string notice;     // something the operator should know about the samples, once
};

// One source of samples. Open and Close run on the owner's thread, Read on the reader thread.
class Backend {
  public:
    virtual ~Backend() = default;
    virtual bool Open(const Format& format, std::string& error) = 0;
    // Fills `out` (a whole number of frames) unless the stream ends or a stop is requested.
    virtual Fill Read(std::span<char> out, ReaderContext& context) = 0;
    virtual void Close() {}
};

}  // namespace capture
