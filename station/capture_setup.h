// The program's capture settings, one home for both front ends.
#pragma once

#include <memory>

#include "station/capture/audio_capture.h"
#include "station/options.h"

namespace station {

inline constexpr int kCaptureBufferBytes = 3000;  // 1500 samples, 125 ms
inline constexpr int kCaptureBuffers = 2;
// Headless, a recording or standard input read as fast as it decodes: a second a buffer, so
// the hand-off between the reader thread and the event loop costs next to nothing. (The window
// keeps short buffers: its scope and waterfall follow each one.)
inline constexpr int kFastInputBufferBytes = 24000;
inline constexpr int kCaptureRate = 12000;  // samples/s

std::unique_ptr<capture::TAudioCapture> MakeAudioIn(const StationOptions& options);

}  // namespace station
