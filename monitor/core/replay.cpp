#include "monitor/core/replay.h"

#include <array>
#include <istream>
#include <ostream>
#include <utility>

#include "common/numbers.h"
#include "common/text.h"

namespace monitor {

namespace {

constexpr std::size_t kReadChunk = 1024;

}  // namespace

std::string FormatReplayLine(std::size_t n, const Displays& d) {
    std::string line = "record=" + std::to_string(n);
    auto add = [&line](std::string_view name, std::string_view value) {
        line += '\t';
        line += name;
        line += '=';
        line += value;
    };
    // These three carry received bytes, which may be anything; the rest are our own texts.
    add("rxstatlb", common::EscapeReceived(d.rxstatlb));
    add("utclb", common::EscapeReceived(d.utclb));
    add("satlb", common::EscapeReceived(d.satlb));
    add("ubatlb", d.ubatlb);
    add("tbatlb", d.tbatlb);
    add("tauslb", d.tauslb);
    add("plb", d.plb);
    add("hgpslb", d.hgpslb);
    add("gvlb", d.gvlb);
    add("ghlb", d.ghlb);
    add("dvllb", d.dvllb);
    add("tacholb", d.tacholb);
    add("course", d.courseDrawn ? common::FormatFixed(d.courseDeg, 7, 1) : "-");
    line += '\n';
    return line;
}

RecordPrinter::RecordPrinter(std::ostream& out, std::ostream& err,
                             std::function<void(const RecordResult&)> onRecord)
    : out_(out), err_(err), onRecord_(std::move(onRecord)) {}

void RecordPrinter::Print(const FeedResult& r) {
    for (const auto& m : r.messages) err_ << "pelmora: " << m << '\n';
    for (const auto& rec : r.records) {
        ++count_;
        if (!rec.error.empty()) err_ << "pelmora: record " << count_ << ": " << rec.error << '\n';
        out_ << FormatReplayLine(count_, rec.displays);
        if (onRecord_) onRecord_(rec);
    }
    if (!r.records.empty()) out_.flush();
}

std::size_t RunReplay(std::istream& in, StreamReader& reader, std::ostream& out, std::ostream& err,
                      const std::function<void(const RecordResult&)>& onRecord) {
    RecordPrinter printer(out, err, onRecord);
    std::array<char, kReadChunk> buf{};
    while (in.read(buf.data(), buf.size()) || in.gcount() > 0)
        printer.Print(
            reader.Feed(std::string_view(buf.data(), static_cast<std::size_t>(in.gcount()))));
    ReportUnfinished(reader, err);
    out.flush();
    return printer.Count();
}

void ReportUnfinished(const StreamReader& reader, std::ostream& err) {
    const std::size_t left = reader.PendingBytes() + reader.SkippedBytes();
    if (left > 0)
        err << "pelmora: ignored " << left << " bytes at the end without an ending \"#\"\n";
}

}  // namespace monitor
