#include "station/capture/pcm_backend.h"

#include <samplerate.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace capture {
namespace {

constexpr std::size_t kResampleChunk = 4096;  // input frames per resampler call

}  // namespace

PcmBackend::~PcmBackend() {
    if (resampler_ != nullptr) src_delete(resampler_);
}

bool PcmBackend::Open(const Format& format, std::string& error) {
    format_ = format;
    double rate = 0;
    if (!OpenSource(error, rate)) return false;
    if (rate <= 0) {
        error = "the source has no sample rate";
        CloseSource();
        return false;
    }
    ratio_ = format.frameRate / rate;
    if (rate != format.frameRate) {
        int err = 0;
        resampler_ = src_new(SRC_SINC_MEDIUM_QUALITY, 1, &err);
        if (resampler_ == nullptr || src_is_valid_ratio(ratio_) == 0) {
            error = resampler_ == nullptr
                        ? std::string("resampler: ") + src_strerror(err)
                        : "cannot resample from " + std::to_string(rate) + " Hz to " +
                              std::to_string(format.frameRate) + " Hz";
            Close();
            return false;
        }
        input_.resize(kResampleChunk);
    }
    // 16-bit mono at the source's own rate is copied as it is; anything else goes through float.
    const bool direct =
        resampler_ == nullptr && format.bits == 16 && format.channels == 1 && HasPcm16();
    const auto frames = static_cast<std::size_t>(format.BufferFrames());
    pcm_.assign(direct ? frames : 0, 0);
    output_.assign(direct ? 0 : frames, 0.0f);
    return true;
}

void PcmBackend::Close() {
    if (resampler_ != nullptr) {
        src_delete(resampler_);
        resampler_ = nullptr;
    }
    CloseSource();
}

std::size_t PcmBackend::Produce(float* out, std::size_t count, ReaderContext& context) {
    if (resampler_ == nullptr) {
        if (end_.ended) return 0;
        return ReadMono(out, count, context, end_);
    }
    std::size_t produced = 0;
    while (produced < count && !drained_) {
        if (inputCount_ == 0 && !end_.ended) {
            inputStart_ = 0;
            inputCount_ = ReadMono(input_.data(), input_.size(), context, end_);
            if (inputCount_ == 0 && !end_.ended) break;  // stop requested
        }
        SRC_DATA data{};
        data.data_in = input_.data() + inputStart_;
        data.input_frames = static_cast<long>(inputCount_);
        data.data_out = out + produced;
        data.output_frames = static_cast<long>(count - produced);
        data.end_of_input = end_.ended ? 1 : 0;
        data.src_ratio = ratio_;
        const int err = src_process(resampler_, &data);
        if (err != 0) {
            end_.ended = true;
            end_.message = std::string("resampler: ") + src_strerror(err);
            drained_ = true;
            break;
        }
        inputStart_ += static_cast<std::size_t>(data.input_frames_used);
        inputCount_ -= static_cast<std::size_t>(data.input_frames_used);
        produced += static_cast<std::size_t>(data.output_frames_gen);
        if (end_.ended && inputCount_ == 0 && data.output_frames_gen == 0) drained_ = true;
    }
    return produced;
}

Fill PcmBackend::Read(std::span<char> out, ReaderContext& context) {
    Fill fill;
    const auto frames = out.size() / static_cast<std::size_t>(format_.BlockAlign());
    if (realtime_ && framesOut_ == 0) paceStart_ = std::chrono::steady_clock::now();
    std::size_t produced = 0;
    if (!pcm_.empty()) {
        const std::size_t wanted = std::min(frames, pcm_.size());
        while (produced < wanted && !end_.ended && !context.StopRequested()) {
            const std::size_t got =
                ReadPcm16(pcm_.data() + produced, wanted - produced, context, end_);
            if (got == 0) break;
            produced += got;
        }
        Encode(pcm_.data(), produced, out.data());
    } else {
        const std::size_t wanted = std::min(frames, output_.size());
        while (produced < wanted && !context.StopRequested()) {
            const std::size_t got = Produce(output_.data() + produced, wanted - produced, context);
            if (got == 0) break;
            produced += got;
        }
        Encode(output_.data(), produced, out.data());
    }
    fill.bytes = produced * static_cast<std::size_t>(format_.BlockAlign());
    fill.ended = end_.ended && (resampler_ == nullptr || drained_);
    if (fill.ended) fill.message = end_.message;
    fill.notice = std::move(notice_);
    notice_.clear();
    if (realtime_ && produced > 0) {
        // Hand the block out when it would have been complete on the air.
        framesOut_ += static_cast<long long>(produced);
        const auto due =
            paceStart_ + std::chrono::microseconds(framesOut_ * 1000000LL / format_.frameRate);
        context.SleepUntil(due);
    }
    return fill;
}

std::int16_t ToSample16(float fullScale) noexcept {
    // A float times 2^15 is exact in a double, and so is that plus or minus one half wherever
    // the sum can reach the next integer: truncating it rounds halves away from zero as
    // lround does. NaN becomes -32768, as lround's LONG_MIN clamped.
    double x = static_cast<double>(fullScale) * 32768.0;
    if (!(x >= -32768.0)) x = -32768.0;
    if (x > 32767.0) x = 32767.0;
    return static_cast<std::int16_t>(static_cast<int>(x < 0 ? x - 0.5 : x + 0.5));
}

// 16-bit mono, little-endian.
void PcmBackend::Encode(const std::int16_t* mono, std::size_t frames, char* out) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, mono, frames * sizeof *mono);
    } else {
        for (std::size_t i = 0; i < frames; ++i) {
            const auto bits = static_cast<std::uint16_t>(mono[i]);
            out[2 * i] = static_cast<char>(bits & 0xFF);
            out[2 * i + 1] = static_cast<char>(bits >> 8);
        }
    }
}

void PcmBackend::Encode(const float* mono, std::size_t frames, char* out) const {
    if (format_.bits == 16 && format_.channels == 1) {
        for (std::size_t i = 0; i < frames; ++i) {
            const auto bits = static_cast<std::uint16_t>(ToSample16(mono[i]));
            out[2 * i] = static_cast<char>(bits & 0xFF);
            out[2 * i + 1] = static_cast<char>(bits >> 8);
        }
        return;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int16_t sample = ToSample16(mono[i]);
        for (int c = 0; c < format_.channels; ++c) {
            if (format_.bits == 8) {
                *out++ = static_cast<char>((sample >> 8) + 128);
            } else {
                const auto bits = static_cast<std::uint16_t>(sample);
                *out++ = static_cast<char>(bits & 0xFF);
                *out++ = static_cast<char>(bits >> 8);
            }
        }
    }
}

}  // namespace capture
