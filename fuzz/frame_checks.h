// What every frame the synchroniser completes must satisfy, and its path through telemetry
// decoding to the upload text. Shared by the byte-fed and the bit-fed target.
#pragma once

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "station/demod/crc16.h"
#include "station/demod/frame_sync.h"
#include "station/telemetry/telemetry.h"

namespace fuzz {

inline void CheckFrame(const demod::Frame& f) {
    const std::size_t n = f.gps.size();
    Check(n >= 3 && n <= demod::FrameSync::kMaxSentence + 3, "sentence length out of bounds");
    Check(f.gps.find('*') == n - 3, "the sentence does not end at its first \"*\" plus two");
    std::string covered = f.gps;
    for (std::uint16_t w : f.words) {
        covered += static_cast<char>(w >> 8);
        covered += static_cast<char>(w & 0xFF);
    }
    Check(f.computed == demod::Crc16Arc(covered), "checksum not over sentence and data");
    Check(f.checksumOk == (f.received == f.computed), "checksum flag disagrees");
}

inline void DecodeAndCheck(const demod::Frame& f) {
    CheckFrame(f);
    const station::TelemetryDisplay d = station::DecodeTelemetry(f, "2026-12-08 23:59:59");
    for (const std::string* text : {&d.gps, &d.dataLine}) {
        for (char c : *text) {
            const auto code = static_cast<unsigned char>(c);
            Check(code >= 26 && code <= 126, "cleaned text keeps a byte outside 26..126");
        }
    }
    Check(d.dataLine.size() >= 16 * 7, "data line lost words");
    const std::string login = station::LoginLine("DL1ABC", "JN49EA");
    const std::string upload = station::UploadText("DL1ABC", "JN49EA", d);
    Check(upload.compare(0, login.size(), login) == 0 && upload.back() == '#',
          "upload text not login fields, sentence, data line and \"#\"");
}

using Frames = std::vector<demod::Frame>;

inline bool SameFrames(const Frames& a, const Frames& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].gps != b[i].gps || a[i].words != b[i].words || a[i].received != b[i].received ||
            a[i].computed != b[i].computed || a[i].checksumOk != b[i].checksumOk)
            return false;
    }
    return true;
}

}  // namespace fuzz
