#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "station/capture/pcm_backend.h"

typedef struct sf_private_tag SNDFILE;

namespace capture {

// Plays an audio file in any format libsndfile reads, mixed to mono.
class FileBackend : public PcmBackend {
  public:
    FileBackend(std::string path, bool realtime) : PcmBackend(realtime), path_(std::move(path)) {}
    ~FileBackend() override;

  protected:
    bool OpenSource(std::string& error, double& rate) override;
    std::size_t ReadMono(float* out, std::size_t count, ReaderContext& context, End& end) override;
    void CloseSource() override;
    bool HasPcm16() const override { return pcm16_; }
    std::size_t ReadPcm16(std::int16_t* out, std::size_t count, ReaderContext& context,
                          End& end) override;

  private:
    std::string path_;
    SNDFILE* file_ = nullptr;
    int channels_ = 1;
    bool pcm16_ = false;               // 16-bit mono: read as it is
    std::int64_t framesExpected_ = 0;  // from the header; 0 when unknown
    std::int64_t framesRead_ = 0;
    std::vector<float> interleaved_;
    // Channel and mix power over the current second, to notice channels that cancel.
    double channelPower_ = 0, mixPower_ = 0;
    std::int64_t powerFrames_ = 0;
    int rate_ = 0;
    bool cancelSaid_ = false;
    void WatchMix(const float* frames, std::int64_t count);
    std::size_t Got(std::int64_t got, End& end);
};

}  // namespace capture
