#include "station/capture/file_backend.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace capture {
namespace {

constexpr std::size_t kChunkFrames = 4096;

}  // namespace

FileBackend::~FileBackend() {
    CloseSource();
}

bool FileBackend::OpenSource(std::string& error, double& rate) {
    SF_INFO info{};
    file_ = sf_open(path_.c_str(), SFM_READ, &info);
    if (file_ == nullptr) {
        error = "cannot read audio file \"" + path_ + "\": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        error = "audio file \"" + path_ + "\" has no usable channels or sample rate";
        CloseSource();
        return false;
    }
    channels_ = info.channels;
    pcm16_ = info.channels == 1 && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    rate = info.samplerate;
    rate_ = info.samplerate;
    channelPower_ = mixPower_ = 0;
    powerFrames_ = 0;
    cancelSaid_ = false;
    framesExpected_ = info.frames > 0 && info.frames < SF_COUNT_MAX ? info.frames : 0;
    framesRead_ = 0;
    interleaved_.resize(kChunkFrames * static_cast<std::size_t>(channels_));
    return true;
}

void FileBackend::CloseSource() {
    if (file_ != nullptr) {
        sf_close(file_);
        file_ = nullptr;
    }
}

std::size_t FileBackend::ReadMono(float* out, std::size_t count, ReaderContext&, End& end) {
    const auto want = static_cast<sf_count_t>(std::min(count, kChunkFrames));
    const sf_count_t got = sf_readf_float(file_, interleaved_.data(), want);
    if (Got(got, end) == 0) return 0;
    if (channels_ > 1) WatchMix(interleaved_.data(), got);
    const float scale = 1.0f / static_cast<float>(channels_);
    for (sf_count_t i = 0; i < got; ++i) {
        const float* frame = interleaved_.data() + i * channels_;
        float sum = 0.0f;
        for (int c = 0; c < channels_; ++c) sum += frame[c];
        out[i] = channels_ == 1 ? sum : sum * scale;
    }
    return static_cast<std::size_t>(got);
}

// As ReadMono gives them, times 32768: libsndfile scales 16-bit samples by exactly 1/32768.
std::size_t FileBackend::ReadPcm16(std::int16_t* out, std::size_t count, ReaderContext&, End& end) {
    return Got(sf_readf_short(file_, out, static_cast<sf_count_t>(count)), end);
}

// Counts the frames a read got; none is the end of the file, said when it came early.
std::size_t FileBackend::Got(std::int64_t got, End& end) {
    if (got <= 0) {
        end.ended = true;
        if (sf_error(file_) != SF_ERR_NO_ERROR) {
            end.message = "error reading audio file \"" + path_ + "\": " + sf_strerror(file_);
        } else if (framesRead_ < framesExpected_) {
            end.message = "audio file \"" + path_ +
                          "\" ends early: " + std::to_string(framesRead_) + " of " +
                          std::to_string(framesExpected_) + " frames";
        }
        return 0;
    }
    framesRead_ += got;
    return static_cast<std::size_t>(got);
}

// Channels in antiphase (one wired or recorded inverted) cancel in the mix to mono: the signal is
// there in each channel and nothing decodes. Judged a second at a time, said once.
void FileBackend::WatchMix(const float* frames, std::int64_t count) {
    constexpr double kSilence = 1e-6;    // -60 dBFS: nothing to judge
    constexpr double kCancelled = 0.01;  // the mix 20 dB below the channels
    const double scale = 1.0 / channels_;
    for (std::int64_t i = 0; i < count; ++i) {
        const float* frame = frames + i * channels_;
        double sum = 0, squares = 0;
        for (int c = 0; c < channels_; ++c) {
            sum += frame[c];
            squares += static_cast<double>(frame[c]) * frame[c];
        }
        channelPower_ += squares * scale;
        mixPower_ += sum * scale * sum * scale;
        if (++powerFrames_ < rate_) continue;
        const double channel = channelPower_ / static_cast<double>(powerFrames_);
        const double mix = mixPower_ / static_cast<double>(powerFrames_);
        if (!cancelSaid_ && channel > kSilence && mix < channel * kCancelled) {
            cancelSaid_ = true;
            const double db = mix > 0 ? 10.0 * std::log10(channel / mix) : 99.0;
            char text[64];
            std::snprintf(text, sizeof text, "%.0f dB", db);
            Notice("audio file \"" + path_ +
                   "\": its channels cancel when mixed to mono (the mix " + text +
                   " below the channels' own level), as if one were inverted: decode one "
                   "channel alone (e.g. sox IN OUT remix 1)");
        }
        channelPower_ = mixPower_ = 0;
        powerFrames_ = 0;
    }
}

}  // namespace capture
