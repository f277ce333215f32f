#include "monitor/core/stream_reader.h"

#include <cstdint>
#include <utility>

#include "common/numbers.h"
#include "common/text.h"

namespace monitor {

namespace {

using common::sphere::kTimeUnitsPerDay;
using common::sphere::kTimeUnitsPerHour;
constexpr std::int64_t kHalfDay = kTimeUnitsPerDay / 2;

// Records saved to a file are often one per line; the line ends are not part of them.
std::string_view TrimLineEnds(std::string_view s) {
    while (!s.empty() && (s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

// A step back of more than half a day is a pass through 00:00 UTC, not a clock going back.
std::int64_t TimeStep(std::int64_t now, std::int64_t before) {
    std::int64_t dt = now - before;
    if (dt < -kHalfDay) dt += kTimeUnitsPerDay;
    return dt;
}

std::string Fixed(double v, int decimals) {
    return common::FormatFixed(v, 7, decimals);
}

}  // namespace

StreamReader::StreamReader(std::string_view homeLocator) {
    SetHomeLocator(homeLocator);
}

void StreamReader::SetHomeLocator(std::string_view locator) {
    locatorHome_ = track_.home = HomeFromLocator(locator);
}

FeedResult StreamReader::Feed(std::string_view bytes) {
    SplitResult split = Split(bytes);
    FeedResult result;
    result.messages = std::move(split.messages);
    for (const std::string& record : split.records)
        result.records.push_back(Show(common::ReadRelayedRecord(record)));
    return result;
}

SplitResult StreamReader::Split(std::string_view bytes) {
    SplitResult result;
    if (skipping_) {
        const std::size_t hash = bytes.find('#');
        if (hash == std::string_view::npos) {
            skipped_ += bytes.size();
            return result;
        }
        skipped_ += hash + 1;
        bytes.remove_prefix(hash + 1);
        skipping_ = false;
        result.messages.push_back("dropped " + std::to_string(std::exchange(skipped_, 0)) +
                                  " received bytes without an ending \"#\"");
    }
    pending_.append(bytes);
    std::size_t start = 0;
    for (std::size_t end; (end = pending_.find('#', start)) != std::string::npos; start = end + 1) {
        const std::string_view record =
            TrimLineEnds(std::string_view(pending_).substr(start, end - start));
        if (!record.empty()) result.records.emplace_back(record);
    }
    pending_.erase(0, start);
    // Line ends after a record belong to no record; dropping them now keeps PendingBytes honest.
    const std::size_t text = pending_.find_first_not_of("\r\n");
    pending_.erase(0, text == std::string::npos ? pending_.size() : text);
    if (pending_.size() > kMaxTailBytes) {
        skipped_ = pending_.size();
        pending_.clear();
        skipping_ = true;
    }
    return result;
}

RecordResult StreamReader::Show(const common::RelayedRecord& record) {
    RecordResult out;
    out.record = record;
    ProcessRecord(out);
    return out;
}

RecordResult StreamReader::PassBy(const common::RelayedRecord& record) const {
    RecordResult out;
    out.record = record;
    out.nmeaLine = record.sentence + "\r\n";
    out.displays = displays_;
    return out;
}

void StreamReader::Reprime() {
    track_.firstRecord = true;
    hasPrevAltitude_ = false;
}

// Empty when the probe sent no altitude (no GPS fix): that is no reading, not 0 m.
// An altitude that does not convert repeats the previous one.
std::optional<double> StreamReader::ReadAltitude(const common::CountedFields& fix) const {
    if (fix.altitude.empty()) return std::nullopt;
    return common::ParseDouble(fix.altitude).value_or(prevAltitudeM_);
}

bool StreamReader::ShowHousekeeping(const common::DataLine& data, std::string& error) {
    // Each value stops the record where it does not convert, its field quoted.
    auto converts = [&](const auto& reading, const char* what, int field) {
        if (reading.Valid()) return true;
        error = common::NotANumberText(what, data.Field(field));
        return false;
    };
    if (!converts(data.batteryRaw, "Ubat", 3)) return false;
    displays_.ubatlb = Fixed(*data.batteryRaw.value * 4 / 1000, 1) + " V";
    if (!converts(data.insideRaw, "Tbat", 14)) return false;
    displays_.tbatlb = Fixed(common::HalfDegreesToCelsius(*data.insideRaw.value), 1) + "°C";
    if (!converts(data.outsideRaw, "Taus", 15)) return false;
    displays_.tauslb = Fixed(common::HalfDegreesToCelsius(*data.outsideRaw.value), 1) + "°C";
    if (!converts(data.pressureRaw, "pressure", 16)) return false;
    displays_.plb = Fixed(*data.pressureRaw.value / 10, 1) + " hPa";
    return true;
}

void StreamReader::ProcessRecord(RecordResult& out) {
    const common::RelayedRecord& record = out.record;
    displays_.rxstatlb = record.station + "  in  " + record.locator;
    lastNmeaLine_ = record.sentence + "\r\n";
    out.nmeaLine = lastNmeaLine_;

    track_.home = locatorHome_;
    if (const auto source = homeSource_ ? homeSource_() : std::nullopt)
        track_.home = {source->lat * common::kRadPerDeg, source->lon * common::kRadPerDeg};
    const bool priming = track_.firstRecord;
    const TrackStepResult step = TrackStep(record.counted, track_);
    if (!step.error.empty()) {
        out.error = step.error;
        out.displays = displays_;
        return;
    }

    // A record without a position leaves the position displays as they were: showing
    // 0 km to the balloon or a course due north would be wrong, not merely old.
    if (!priming && step.hasPosition) {
        displays_.dvllb = Fixed(step.homeKm, 1) + " km ";
        totalKm_ += step.stepKm;
        // Measured from the last fix, so a record without one does not inflate the speed.
        const std::int64_t dt = TimeStep(step.timeValue, prevFixTime_);
        const double kmh = dt != 0 ? step.stepKm / static_cast<double>(dt) * kTimeUnitsPerHour : 0;
        displays_.ghlb = speedKmh_ ? Fixed(kmh, 1) + " km/h" : Fixed(kmh / 3.6, 1) + " m/s";
        displays_.tacholb = Fixed(totalKm_, 1) + " km ";
        displays_.courseDrawn = true;
        displays_.courseDeg = step.courseDeg;
    }
    if (step.hasPosition) prevFixTime_ = step.timeValue;

    const std::optional<double> altitude = ReadAltitude(record.counted);
    if (!priming && altitude) {
        const std::int64_t dt = TimeStep(step.timeValue, prevAltitudeTime_);
        const double ms = hasPrevAltitude_ && dt != 0
                              ? (*altitude - prevAltitudeM_) / static_cast<double>(dt) *
                                    kTimeUnitsPerHour / 3600.0
                              : 0;
        displays_.gvlbColour = ms > 0 ? kTextGreen : kTextRed;
        displays_.gvlb = Fixed(ms, 1) + " m/s";
        displays_.hgpslb = Fixed(*altitude, 0) + " m";
    }

    const std::string& time = record.counted.time;
    displays_.utclb = common::CharSlice(time, 1, 2) + ":" + common::CharSlice(time, 3, 4) + ":" +
                      common::CharSlice(time, 5, 6);
    displays_.satlb = record.counted.satellites;

    if (ShowHousekeeping(record.data, out.error) && altitude) {
        hasPrevAltitude_ = true;
        prevAltitudeTime_ = step.timeValue;
        prevAltitudeM_ = *altitude;
    }
    out.displays = displays_;
}

}  // namespace monitor
