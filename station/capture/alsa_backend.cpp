#include "station/capture/alsa_backend.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>

namespace capture {
namespace {

constexpr unsigned kLatencyUs = 500000;  // ALSA's own buffer: half a second before it overruns
constexpr int kWaitMs = 100;             // how long a read waits before looking at the stop flag
constexpr std::size_t kMaxSaid = 400;    // of ALSA's own words kept for one message

// ALSA's library prints its own errors to standard error, several lines for one failed open.
// They are gathered here instead and join our message, as one line.
std::mutex g_saidMutex;
std::string g_said;

void GatherAlsaError(const char* file, int line, const char* function, int err, const char* fmt,
                     ...) {
    (void)file, (void)line, (void)function, (void)err;
    char text[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::lock_guard lock(g_saidMutex);
    if (g_said.size() >= kMaxSaid) return;
    if (!g_said.empty()) g_said += "; ";
    g_said += text;
    if (g_said.size() > kMaxSaid) g_said.resize(kMaxSaid);
}

std::string TakeAlsaSaid() {
    std::lock_guard lock(g_saidMutex);
    return std::exchange(g_said, {});
}

}  // namespace

AlsaBackend::AlsaBackend(std::string device) : device_(std::move(device)) {
    static const bool installed = [] {
        snd_lib_error_set_handler(GatherAlsaError);
        return true;
    }();
    (void)installed;
}

AlsaBackend::~AlsaBackend() {
    Close();
}

bool AlsaBackend::Open(const Format& format, std::string& error) {
    TakeAlsaSaid();  // what it said before is not about this open
    const auto failed = [&](int err) {
        error = std::string(snd_strerror(err)) + " (ALSA device \"" + device_ + "\")";
        const std::string said = TakeAlsaSaid();
        if (!said.empty()) error += " [ALSA: " + said + "]";
    };
    // Non-blocking open: a busy hardware device fails at once instead of hanging the caller.
    int err = snd_pcm_open(&pcm_, device_.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0) {
        pcm_ = nullptr;
        failed(err);
        return false;
    }
    const snd_pcm_format_t sampleFormat =
        format.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    err = snd_pcm_set_params(pcm_, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED,
                             static_cast<unsigned>(format.channels),
                             static_cast<unsigned>(format.frameRate), 1, kLatencyUs);
    if (err >= 0) err = snd_pcm_start(pcm_);
    if (err < 0) {
        failed(err);
        Close();
        return false;
    }
    frameBytes_ = format.BlockAlign();
    return true;
}

void AlsaBackend::Close() {
    if (pcm_ != nullptr) {
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }
}

Fill AlsaBackend::Read(std::span<char> out, ReaderContext& context) {
    Fill fill;
    const auto frames = static_cast<snd_pcm_uframes_t>(out.size()) / frameBytes_;
    snd_pcm_uframes_t done = 0;
    int recoveries = 0;
    while (done < frames && !context.StopRequested()) {
        const snd_pcm_sframes_t got =
            snd_pcm_readi(pcm_, out.data() + done * frameBytes_, frames - done);
        if (got >= 0) {
            done += static_cast<snd_pcm_uframes_t>(got);
            recoveries = 0;
            continue;
        }
        if (got == -EAGAIN) {
            snd_pcm_wait(pcm_, kWaitMs);
            continue;
        }
        if (got == -EPIPE) {
            ++overruns_;
            ++fill.overruns;
        }
        // Overrun (the event loop fell behind) or suspend: restart the stream and go on; the
        // samples lost in between cannot be had back.
        const int err = snd_pcm_recover(pcm_, static_cast<int>(got), 1);
        if (err >= 0 && ++recoveries <= kMaxRecoveries) {
            if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) snd_pcm_start(pcm_);
            continue;
        }
        fill.ended = true;
        fill.message = "Audio capture from \"" + device_ +
                       "\" stopped: " + snd_strerror(static_cast<int>(got)) +
                       (err >= 0 ? " (keeps overrunning: is the machine too busy?)"
                                 : " (was the device unplugged or taken by another program?)");
        break;
    }
    fill.bytes = done * frameBytes_;
    return fill;
}

}  // namespace capture
