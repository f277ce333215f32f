#include "station/demod/decoder_paths.h"

#include <algorithm>

namespace demod {

DecoderPaths::DecoderPaths(Decoder mode, FskDemodulator& literal, FrameSync& literalSync,
                           Output output)
    : mode_(mode), literal_(literal), combiner_(mode, output), output_(std::move(output)) {
    switch (mode_) {
        case Decoder::Literal:
            // Exactly the station as it was: bits straight to the synchroniser, frames out at once.
            literal_.SetBitSink(&literalSync);
            literalSync.SetHandler([this](const Frame& f) {
                if (f.checksumOk) ++literalGood_;
                if (output_) output_(f, Decoder::Literal, literal_.SamplesIn());
            });
            break;
        case Decoder::Sensitive:
            literal_.SetBitSink(nullptr);
            break;
        case Decoder::Both:
            literal_.SetBitSink(&literalSync);
            literalSync.SetHandler([this](const Frame& f) {
                if (f.checksumOk) NoteGood(f, literal_.SamplesIn());
                combiner_.Offer(f, Decoder::Literal, literal_.SamplesIn());
            });
            break;
    }
    sensitive_.SetFrameHandler([this](const Frame& f, int slicer, std::int64_t sample) {
        if (f.checksumOk) {
            NoteGood(f, sample);
        } else if (repair_ && sample - lastGoodEnd_ > FrameCombiner::kSameFrameSamples) {
            // Not when a good copy of this transmission is already in.
            if (auto fixed = repairer_.Repair(f, sensitive_.Soft(slicer), sample)) {
                NoteGood(*fixed, sample);
                combiner_.Offer(*fixed, Decoder::Sensitive, sample);
                return;
            }
        }
        combiner_.Offer(f, Decoder::Sensitive, sample);
    });
}

void DecoderPaths::NoteGood(const Frame& f, std::int64_t end) noexcept {
    repairer_.NoteGood(f, end);
    lastGoodEnd_ = std::max(lastGoodEnd_, end);
}

bool DecoderPaths::ProcessBuffer(const std::int16_t* samples, int& sizeBytes) noexcept {
    const int count = samples != nullptr && sizeBytes > 0 ? sizeBytes / 2 : 0;
    const bool requeue = literal_.ProcessBuffer(samples, sizeBytes);
    if (mode_ != Decoder::Literal) {
        // The operator's polarity and tone-pair controls act on the literal demodulator; the
        // sensitive one follows them buffer by buffer.
        sensitive_.SetMarkIsHigh(literal_.MarkIsHigh());
        sensitive_.SetTones(literal_.LowToneHz(), literal_.HighToneHz());
        sensitive_.Process(samples, count);
    }
    samples_ += count;
    if (mode_ != Decoder::Literal) combiner_.AdvanceTo(samples_);
    return requeue;
}

void DecoderPaths::Flush() {
    if (mode_ != Decoder::Literal) combiner_.Flush();
}

int DecoderPaths::GoodFrames(Decoder path) const noexcept {
    if (mode_ == Decoder::Literal) return path == Decoder::Literal ? literalGood_ : 0;
    return combiner_.GoodFrames(path);
}

}  // namespace demod
