// Received bytes through both programs' headless line writers: a frame (any sentence, any
// words) through the station's decoding into its frame line, and a record stream through the
// monitor's reader into its replay lines. Every line must be one line of valid UTF-8 holding
// all its fields in order, with no control character but the tabs between the fields and the
// final LF.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "fuzz/fuzz_support.h"
#include "monitor/core/replay.h"
#include "monitor/core/stream_reader.h"
#include "station/headless.h"
#include "station/station_core.h"
#include "station/telemetry/telemetry.h"

namespace {

constexpr const char* kFrameFields[] = {"frame",    "ok",    "Label3", "timelb",   "maidenlb",
                                        "hoehelb",  "satlb", "vbatlb", "vitemplb", "vatemplb",
                                        "vpresslb", "gps",   "data"};
constexpr const char* kRecordFields[] = {"record", "rxstatlb", "utclb",   "satlb",  "ubatlb",
                                         "tbatlb", "tauslb",   "plb",     "hgpslb", "gvlb",
                                         "ghlb",   "dvllb",    "tacholb", "course"};

void CheckLine(const std::string& line, const char* const* names, std::size_t fields) {
    if (const char* fault = fuzz::LineFault(line, names, fields, true)) fuzz::Fail(fault);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);

    // The report as the station core makes it from a frame.
    demod::Frame frame;
    frame.gps = in.ConsumeRandomLengthString(demod::FrameSync::kMaxSentence + 3);
    for (auto& w : frame.words) w = in.ConsumeIntegral<std::uint16_t>();
    frame.received = in.ConsumeIntegral<std::uint16_t>();
    frame.computed = in.ConsumeIntegral<std::uint16_t>();
    frame.checksumOk = frame.received == frame.computed;
    station::FrameReport report;
    report.number = in.ConsumeIntegralInRange(1, std::numeric_limits<int>::max());
    report.ok = frame.checksumOk;
    report.label3 = demod::Label3Text(frame.received, frame.computed);
    report.display = station::DecodeTelemetry(frame, "2026-12-09 00:59:59");
    CheckLine(station::HeadlessFrameLine(report) + "\n", kFrameFields, std::size(kFrameFields));

    monitor::StreamReader reader;
    const monitor::FeedResult fed = reader.Feed(in.ConsumeRemainingBytesAsString());
    std::size_t n = 0;
    for (const auto& record : fed.records)
        CheckLine(monitor::FormatReplayLine(++n, record.displays), kRecordFields,
                  std::size(kRecordFields));
    return 0;
}
