#pragma once

#include <atomic>
#include <string>

#include "station/capture/backend.h"

typedef struct _snd_pcm snd_pcm_t;

namespace capture {

// Records from an ALSA capture PCM ("default", "plughw:1", a name from asound.conf ...).
class AlsaBackend : public Backend {
  public:
    // Overruns recovered in a row without a successful read before capture gives up.
    static constexpr int kMaxRecoveries = 10;

    explicit AlsaBackend(std::string device);
    ~AlsaBackend() override;

    bool Open(const Format& format, std::string& error) override;
    Fill Read(std::span<char> out, ReaderContext& context) override;
    void Close() override;

    int Overruns() const { return overruns_.load(); }

  private:
    std::string device_;
    snd_pcm_t* pcm_ = nullptr;
    int frameBytes_ = 2;
    std::atomic<int> overruns_{0};
};

}  // namespace capture
