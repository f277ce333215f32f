#include "station/capture_setup.h"

namespace station {

std::unique_ptr<capture::TAudioCapture> MakeAudioIn(const StationOptions& options) {
    auto in = std::make_unique<capture::TAudioCapture>();
    in->SetBufferSize(kCaptureBufferBytes);
    in->SetNumBuffers(kCaptureBuffers);
    in->SetFrameRate(kCaptureRate);
    in->SetQuantization(16);
    in->SetStereo(false);
    capture::Source source;
    switch (options.input) {
        case StationOptions::Input::Alsa:
            source.kind = capture::Source::Kind::Alsa;
            source.name = options.device;
            break;
        case StationOptions::Input::File:
            source.kind = capture::Source::Kind::File;
            source.name = options.file;
            break;
        case StationOptions::Input::Stdin:
            source.kind = capture::Source::Kind::Stdin;
            source.name = "-";
            break;
    }
    source.realtime = options.realtime;
    if (options.headless && options.input != StationOptions::Input::Alsa && !options.realtime)
        in->SetBufferSize(kFastInputBufferBytes);
    in->SetSource(source);
    return in;
}

}  // namespace station
