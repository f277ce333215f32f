#include "station/capture/audio_capture.h"

#include "station/capture/alsa_backend.h"
#include "station/capture/file_backend.h"
#include "station/capture/stdin_backend.h"

namespace capture {

Source Source::FromInput(const std::string& fileOrDash, bool realtime) {
    Source source;
    source.kind = fileOrDash == "-" ? Kind::Stdin : Kind::File;
    source.name = fileOrDash;
    source.realtime = realtime;
    return source;
}

Source Source::FromDevice(const std::string& alsaName) {
    Source source;
    source.name = alsaName;
    return source;
}

std::unique_ptr<Backend> TAudioCapture::CreateBackend() {
    switch (source_.kind) {
        case Source::Kind::File:
            if (source_.name != "-")
                return std::make_unique<FileBackend>(source_.name, source_.realtime);
            [[fallthrough]];
        case Source::Kind::Stdin:
            return std::make_unique<StdinBackend>(source_.fd, source_.realtime);
        case Source::Kind::Alsa:
            break;
    }
    // The default name follows WaveDevice, so a card chosen by number still works.
    if (source_.name.empty() || source_.name == "default") return TAudioDevice::CreateBackend();
    return std::make_unique<AlsaBackend>(source_.name);
}

void TAudioCapture::StreamEnded(const std::string& message) {
    if (OnEnd) OnEnd(this, message);
}

}  // namespace capture
