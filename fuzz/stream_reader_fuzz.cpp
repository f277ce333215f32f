// Feeds arbitrary bytes to the monitor's stream reader, once whole and once in pieces of
// input-derived sizes, as a socket might deliver them. Besides what the sanitizers catch,
// the two runs must produce the same records: reassembly must not depend on how the
// bytes were split.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "monitor/core/course_image.h"
#include "monitor/core/replay.h"
#include "monitor/core/stream_reader.h"

namespace {

std::uint64_t Fnv1a(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const bool kmh = size % 2 == 0;

    monitor::StreamReader whole;
    whole.SetSpeedKmh(kmh);
    const monitor::FeedResult ref = whole.Feed(bytes);
    for (const auto& r : ref.records) {
        (void)monitor::FormatReplayLine(1, r.displays);
        (void)monitor::CourseLineEnd(monitor::kCourseImageSize, monitor::kCourseImageSize,
                                     r.displays.courseDeg);
    }

    // Longer inputs may legitimately differ: a split can cut an overlong tail that the
    // whole feed sees ended by a "#".
    if (size > monitor::StreamReader::kMaxTailBytes) return 0;
    monitor::StreamReader split;
    split.SetSpeedKmh(kmh);
    std::vector<monitor::RecordResult> got;
    std::uint64_t rng = Fnv1a(bytes) | 1;
    for (std::size_t pos = 0; pos < size;) {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        const std::size_t n = 1 + rng % 64;
        monitor::FeedResult out = split.Feed(bytes.substr(pos, n));
        for (auto& r : out.records) got.push_back(std::move(r));
        pos += n;
    }
    if (got != ref.records || split.PendingBytes() != whole.PendingBytes()) std::abort();
    return 0;
}
