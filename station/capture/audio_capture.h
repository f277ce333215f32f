#pragma once

#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "station/capture/audio_device.h"

namespace capture {

// Where samples come from.
struct Source {
    enum class Kind { Alsa, File, Stdin } kind = Kind::Alsa;
    std::string name = "default";  // ALSA device name or file path ("-" means Stdin)
    bool realtime =
        false;  // File/Stdin: pace at the recording's rate instead of as fast as consumed
    int fd = STDIN_FILENO;  // Stdin: the descriptor to read, standard input unless a test says else

    // "-" is standard input, anything else a file path.
    static Source FromInput(const std::string& fileOrDash, bool realtime = false);
    static Source FromDevice(const std::string& alsaName);
};

// The station's capture: the sound card, an audio file or standard input, chosen by SetSource.
// Files are mixed to mono and resampled to FrameRate; standard input is raw 16-bit
// little-endian mono at 12000 Hz.
class TAudioCapture : public TAudioDevice {
  public:
    explicit TAudioCapture(QObject* parent = nullptr) : TAudioDevice(parent) {}

    // Takes effect at the next Start.
    void SetSource(const Source& source) { source_ = source; }
    const Source& GetSource() const { return source_; }

    // Raised once a stream has ended by itself (end of file, end of standard input, a device
    // that went away), after its last buffer and after capture stopped. The message is empty
    // for the normal end of a file.
    std::function<void(TAudioCapture* sender, const std::string& message)> OnEnd;

  protected:
    std::unique_ptr<Backend> CreateBackend() override;
    void StreamEnded(const std::string& message) override;

  private:
    Source source_;
};

}  // namespace capture
