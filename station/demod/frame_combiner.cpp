#include "station/demod/frame_combiner.h"

#include <algorithm>
#include <cstdlib>

namespace demod {
namespace {

unsigned Bit(Decoder path) {
    return 1u << static_cast<int>(path);
}

}  // namespace

const char* DecoderName(Decoder decoder) noexcept {
    switch (decoder) {
        case Decoder::Literal:
            return "literal";
        case Decoder::Sensitive:
            return "sensitive";
        case Decoder::Both:
            return "both";
    }
    return "";
}

FrameCombiner::FrameCombiner(Decoder paths, Output output)
    : paths_(paths),
      allPaths_(paths == Decoder::Both ? Bit(Decoder::Literal) | Bit(Decoder::Sensitive)
                                       : Bit(paths)),
      output_(std::move(output)) {}

bool FrameCombiner::SameContent(const Frame& a, const Frame& b) noexcept {
    return a.received == b.received && a.computed == b.computed && a.words == b.words &&
           a.gps == b.gps;
}

void FrameCombiner::Offer(const Frame& frame, Decoder path, std::int64_t endSample) {
    const unsigned bit = Bit(path);
    // The same transmission: ends close together, and not two different good frames (two
    // good checksums over different contents are two frames, however close). A repaired frame
    // is only as good as its repair: near another good frame with other content, one of the
    // two is wrong, and it is the repaired one that goes.
    auto same = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) {
        return std::abs(p.end - endSample) <= kSameFrameSamples &&
               !(p.frame.checksumOk && frame.checksumOk && !SameContent(p.frame, frame) &&
                 p.frame.repairedBits == 0 && frame.repairedBits == 0);
    });
    if (same == pending_.end()) {
        Pending p;
        p.frame = frame;
        p.from = path;
        p.end = endSample;
        if (frame.checksumOk) {
            p.goodPaths = bit;
            ++good_[static_cast<int>(path)];
        }
        auto at = std::find_if(pending_.begin(), pending_.end(),
                               [&](const Pending& q) { return q.end > endSample; });
        pending_.insert(at, std::move(p));
        return;
    }
    if (!frame.checksumOk) return;  // a bad copy never displaces what is there
    if (same->frame.checksumOk && !SameContent(same->frame, frame)) {
        if (frame.repairedBits > 0 || same->sent) return;
        // The repaired frame it displaces was nobody's good frame.
        for (Decoder d : {Decoder::Literal, Decoder::Sensitive})
            if (same->goodPaths & Bit(d)) --good_[static_cast<int>(d)];
        same->goodPaths = 0;
        same->frame.checksumOk = false;
    }
    if ((same->goodPaths & bit) == 0) {
        same->goodPaths |= bit;
        ++good_[static_cast<int>(path)];
    }
    // Good beats bad, and received as it was beats repaired.
    if (!same->sent &&
        (!same->frame.checksumOk || (same->frame.repairedBits > 0 && frame.repairedBits == 0))) {
        same->frame = frame;  // good beats bad
        same->from = path;
        same->end = endSample;
    }
}

bool FrameCombiner::Due(const Pending& p, std::int64_t now) const noexcept {
    if (paths_ == Decoder::Literal) return true;  // one synchroniser: nothing else can come
    if (p.frame.checksumOk) return p.goodPaths == allPaths_ || now >= p.end + kSettleSamples;
    return now >= p.end + kSameFrameSamples;
}

void FrameCombiner::Send(Pending& p) {
    p.sent = true;
    const bool both =
        p.frame.checksumOk && p.goodPaths == (Bit(Decoder::Literal) | Bit(Decoder::Sensitive));
    if (output_) output_(p.frame, both ? Decoder::Both : p.from, p.end);
}

void FrameCombiner::AdvanceTo(std::int64_t nowSample) {
    for (Pending& p : pending_) {
        if (p.sent) continue;
        if (!Due(p, nowSample)) break;  // later frames wait: the stream stays in time order
        Send(p);
    }
    // Sent frames stay while a late copy could still arrive.
    while (!pending_.empty() && pending_.front().sent &&
           pending_.front().end < nowSample - 2 * kSameFrameSamples)
        pending_.pop_front();
}

void FrameCombiner::Flush() {
    for (Pending& p : pending_)
        if (!p.sent) Send(p);
    pending_.clear();
}

}  // namespace demod
