#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "station/capture/backend.h"

typedef struct SRC_STATE_tag SRC_STATE;

namespace capture {

// A sample at full scale +-1.0 as a 16-bit one: times 32768, rounded half away from zero,
// clamped. The same as clamping std::lround's result, without a library call per sample.
std::int16_t ToSample16(float fullScale) noexcept;

// A source of mono samples at its own rate, resampled to the device's frame rate when the rates
// differ and written in the device's sample format. Files and standard input build on it.
class PcmBackend : public Backend {
  public:
    explicit PcmBackend(bool realtime) : realtime_(realtime) {}
    ~PcmBackend() override;

    bool Open(const Format& format, std::string& error) final;
    Fill Read(std::span<char> out, ReaderContext& context) final;
    void Close() final;

  protected:
    struct End {
        bool ended = false;
        std::string message;
    };
    // Opens the source and tells its rate in frames per second.
    virtual bool OpenSource(std::string& error, double& rate) = 0;
    // Reads up to `count` mono samples (full scale +-1.0) on the reader thread; returns 0 only
    // at the end of the stream (with `end` filled in) or when a stop is requested.
    virtual std::size_t ReadMono(float* out, std::size_t count, ReaderContext& context,
                                 End& end) = 0;
    virtual void CloseSource() {}
    // A source whose samples are signed 16-bit mono may hand them over as they are: a device
    // wanting 16-bit mono at the source's rate then gets them without a round trip through
    // float. Asked after OpenSource. ReadPcm16 must give what ReadMono would, times 32768.
    virtual bool HasPcm16() const = 0;
    virtual std::size_t ReadPcm16(std::int16_t* out, std::size_t count, ReaderContext& context,
                                  End& end) = 0;
    // From ReadMono: handed out with the block being filled.
    void Notice(std::string text) { notice_ = std::move(text); }

  private:
    std::size_t Produce(float* out, std::size_t count, ReaderContext& context);
    void Encode(const float* mono, std::size_t frames, char* out) const;
    static void Encode(const std::int16_t* mono, std::size_t frames, char* out);

    bool realtime_;
    Format format_;
    SRC_STATE* resampler_ = nullptr;
    double ratio_ = 1.0;  // output frames per input frame
    std::vector<float> input_;
    std::size_t inputStart_ = 0;
    std::size_t inputCount_ = 0;
    std::vector<float> output_;
    std::vector<std::int16_t> pcm_;  // ReadPcm16's samples, when the source hands them over
    End end_;
    std::string notice_;
    bool drained_ = false;
    std::chrono::steady_clock::time_point paceStart_;
    long long framesOut_ = 0;
};

}  // namespace capture
