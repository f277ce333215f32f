// Any bytes as one station connection into the relay's record parser, once whole and once in
// pieces of input-derived sizes. Besides what the sanitizers catch: both give the same login,
// records and drops; every record is one clean "#"-ended record within the size limit; and
// once a final "#" has been fed, every byte is accounted for as login, record or drop.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "tools/relay/record_stream.h"

namespace {

struct Outcome {
    relay::StreamEvents events;
    bool loginDone = false;

    void Take(relay::StreamEvents& e) {
        loginDone = loginDone || e.loginDone;
        for (auto& r : e.records) events.records.push_back(std::move(r));
        for (const auto& d : e.drops) events.drops.push_back(d);
        e.Clear();
    }
};

bool SameDrops(const std::vector<relay::Drop>& a, const std::vector<relay::Drop>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].reason != b[i].reason || a[i].bytes != b[i].bytes) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    relay::StationStream whole;
    relay::StreamEvents events;
    Outcome ref;
    whole.Feed(bytes, events);
    ref.Take(events);

    relay::StationStream split;
    Outcome got;
    fuzz::Chunker chunks(bytes, 97);
    for (std::size_t pos = 0; pos < size;) {
        const std::size_t n = chunks.Next();
        split.Feed(bytes.substr(pos, n), events);
        got.Take(events);
        pos += n;
    }
    fuzz::Check(got.events.records == ref.events.records &&
                    SameDrops(got.events.drops, ref.events.drops) &&
                    got.loginDone == ref.loginDone && split.HasLogin() == whole.HasLogin() &&
                    split.Call() == whole.Call() && split.Locator() == whole.Locator() &&
                    split.Pending() == whole.Pending(),
                "the outcome depends on how the bytes were cut");
    fuzz::Check(whole.Pending() < relay::kMaxRecordBytes, "a partial record beyond the limit");

    whole.Feed("#", events);
    ref.Take(events);
    std::size_t accounted = whole.HasLogin() ? whole.Call().size() + whole.Locator().size() + 2 : 0;
    for (const auto& r : ref.events.records) {
        fuzz::Check(!r.empty() && r.size() <= relay::kMaxRecordBytes && r.find('#') == r.size() - 1,
                    "a record is not one \"#\"-ended record within the limit");
        for (char c : r) {
            const auto code = static_cast<unsigned char>(c);
            fuzz::Check(code >= 26 && code <= 126, "a record carries a byte outside 26..126");
        }
        accounted += r.size();
    }
    for (const auto& d : ref.events.drops) accounted += d.bytes;
    fuzz::Check(whole.Pending() == 0, "bytes held after a final \"#\"");
    fuzz::Check(accounted == size + 1, "bytes neither relayed nor counted as dropped");
    return 0;
}
