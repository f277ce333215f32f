#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "station/capture/backend.h"

namespace capture {

inline constexpr int kDefaultBufferSize = 8192;  // bytes
inline constexpr int kMinBufferSize = 512;       // bytes
inline constexpr int kDefaultNumBuffers = 4;
inline constexpr int kMinNumBuffers = 2;
inline constexpr int kMaxNumBuffers = 4;
inline constexpr int kDefaultFrameRate = 22050;  // frames per second
inline constexpr int kDefaultQuantization = 16;  // bits
inline constexpr int kWaveMapper = -1;           // the system's default capture device

inline constexpr const char* kAlreadyOpen = "Wave Input device is already open";
inline constexpr const char* kStartError = "Error starting wave record: ";

// Records into a ring of NumBuffers buffers on a reader thread and hands each filled buffer to
// OnBufferFilled on the thread that owns the object. A buffer the handler accepts (returns true)
// goes back into the ring; once no buffer is left in the ring, capture stops.
// Property changes take effect at the next Start, never under a running capture.
class TAudioDevice : public QObject {
    Q_OBJECT

  public:
    explicit TAudioDevice(QObject* parent = nullptr);
    ~TAudioDevice() override;
    TAudioDevice(const TAudioDevice&) = delete;
    TAudioDevice& operator=(const TAudioDevice&) = delete;

    int BufferSize() const { return bufferSize_; }  // bytes as set (at least 512)
    void SetBufferSize(int bytes);
    // Bytes handed to OnBufferFilled: BufferSize rounded down to whole sample frames.
    int UsedBufferSize() const;
    int NumBuffers() const { return numBuffers_; }
    void SetNumBuffers(int count);
    int FrameRate() const { return frameRate_; }
    void SetFrameRate(int framesPerSecond) { frameRate_ = framesPerSecond; }
    int Quantization() const { return quantization_; }
    void SetQuantization(int bits);
    bool Stereo() const { return stereo_; }
    void SetStereo(bool stereo) { stereo_ = stereo; }
    int WaveDevice() const { return waveDevice_; }
    void SetWaveDevice(int device) { waveDevice_ = device; }
    int Channels() const { return stereo_ ? 2 : 1; }
    int BlockAlign() const { return quantization_ / 8 * Channels(); }
    int BytesPerSecond() const { return BlockAlign() * frameRate_; }

    // Called with the filled buffer and its size in bytes; return true to give the buffer back.
    std::function<bool(const char* buffer, int& size)> OnBufferFilled;
    std::function<void(TAudioDevice*sender)> OnStart, OnStop;
    // Raised on the owner's thread when the source lost samples; `total` counts every overrun
    // since Start.
    std::function<void(TAudioDevice* sender, int total)> OnOverrun;
    int Overruns() const { return overruns_; }
    // Raised on the owner's thread when the source has something to say about its samples.
    std::function<void(TAudioDevice* sender, const std::string& text)> OnNotice;

    // Opens the source and starts recording; false with ErrorMessage() set on failure.
    bool Start();
    // Stops recording and joins the reader thread. Buffers not yet delivered are dropped.
    void Stop();
    bool IsOpen() const { return open_; }
    const std::string& ErrorMessage() const { return errorMessage_; }

  protected:
    // The source for the next Start; the base records from the ALSA device given by WaveDevice.
    virtual std::unique_ptr<Backend> CreateBackend();
    // Raised on the owner's thread after the last buffer of a stream that ended by itself,
    // once capture has stopped.
    virtual void StreamEnded(const std::string& message);
    // The ALSA name for WaveDevice: "default" for the wave mapper, else the card's number.
    std::string AlsaDeviceName() const;

  private:
    class Context;
    // A filled buffer or the end of the stream, passed from the reader to the owner's thread.
    struct Done {
        std::uint64_t session = 0;
        int index = -1;  // -1 for the end of the stream, -2 for overruns alone, -3 a notice
        std::string message;
        int overruns = 0;
    };
    void ReaderLoop(std::uint64_t session);
    void Post(Done done);
    // Runs on the owner's thread for each Post: hands out what the reader finished.
    Q_INVOKABLE void DrainReader();
    void Deliver(std::uint64_t session, int index);
    void Overran(std::uint64_t session, int count);
    void Ended(std::uint64_t session, const std::string& message);
    void StopReader();

    int bufferSize_ = kDefaultBufferSize;
    int numBuffers_ = kDefaultNumBuffers;
    int frameRate_ = kDefaultFrameRate;
    int quantization_ = kDefaultQuantization;
    bool stereo_ = false;
    int waveDevice_ = kWaveMapper;

    bool open_ = false;
    std::string errorMessage_;
    Format format_;
    std::unique_ptr<Backend> backend_;
    std::vector<std::vector<char>> buffers_;
    int queuedCount_ = 0;  // buffers in the ring, owner's thread only
    int overruns_ = 0;     // owner's thread only
    std::uint64_t session_ = 0;

    // Shared with the reader thread.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<int> ring_;   // buffer indices waiting to be filled, in ring order
    std::deque<Done> done_;  // finished by the reader, not yet handed out
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

}  // namespace capture
