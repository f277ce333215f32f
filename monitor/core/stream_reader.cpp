#include "monitor/core/stream_reader.h"

#include <cstdint>
#include <utility>

#include "common/numbers.h"
#include "common/text.h"

namespace monitor {

namespace {

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
    FeedResult result;
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
        if (record.empty()) continue;
        RecordResult& out = result.records.emplace_back();
        ProcessRecord(record, out);
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

// Empty when the probe sent no altitude (no GPS fix): that is no reading, not 0 m.
// An altitude that does not convert repeats the previous one.
std::optional<double> StreamReader::ReadAltitude(std::string_view record) const {
    const std::string text = common::ExtractField(record, 10, ',');
    if (text.empty()) return std::nullopt;
    return common::ParseDouble(text).value_or(prevAltitudeM_);
}

bool StreamReader::ShowHousekeeping(std::string_view record, std::string& error) {
    const std::string list = common::ExtractField(record, 4, ';');
    const std::string ubat = common::ExtractField(list, 3, ',');
    const auto ubatRaw = common::ParseDouble(ubat);
    if (!ubatRaw) {
        error = common::NotANumberText("Ubat", ubat);
        return false;
    }
    displays_.ubatlb = Fixed(*ubatRaw * 4 / 1000, 1) + " V";

    const std::string tbat = common::ExtractField(list, 14, ',');
    const auto tbatRaw = common::ParseInt(tbat);
    if (!tbatRaw) {
        error = common::NotANumberText("Tbat", tbat);
        return false;
    }
    displays_.tbatlb = Fixed(common::HalfDegreesToCelsius(*tbatRaw), 1) + "°C";

    const std::string taus = common::ExtractField(list, 15, ',');
    const auto tausRaw = common::ParseInt(taus);
    if (!tausRaw) {
        error = common::NotANumberText("Taus", taus);
        return false;
    }
    displays_.tauslb = Fixed(common::HalfDegreesToCelsius(*tausRaw), 1) + "°C";

    const std::string p = common::ExtractField(list, 16, ',');
    const auto pRaw = common::ParseDouble(p);
    if (!pRaw) {
        error = common::NotANumberText("pressure", p);
        return false;
    }
    displays_.plb = Fixed(*pRaw / 10, 1) + " hPa";
    return true;
}

void StreamReader::ProcessRecord(std::string_view record, RecordResult& out) {
    out.record = std::string(record);
    displays_.rxstatlb =
        common::ExtractField(record, 1, ';') + "  in  " + common::ExtractField(record, 2, ';');
    lastNmeaLine_ = common::ExtractField(record, 3, ';') + "\r\n";
    out.nmeaLine = lastNmeaLine_;

    track_.home = locatorHome_;
    if (const auto source = homeSource_ ? homeSource_() : std::nullopt)
        track_.home = {source->lat * kRadPerDeg, source->lon * kRadPerDeg};
    const bool priming = track_.firstRecord;
    const TrackStepResult step = TrackStep(record, track_);
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

    const std::optional<double> altitude = ReadAltitude(record);
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

    const std::string time = common::ExtractField(record, 2, ',');
    displays_.utclb = common::CharSlice(time, 1, 2) + ":" + common::CharSlice(time, 3, 4) + ":" +
                      common::CharSlice(time, 5, 6);
    displays_.satlb = common::ExtractField(record, 8, ',');

    if (ShowHousekeeping(record, out.error) && altitude) {
        hasPrevAltitude_ = true;
        prevAltitudeTime_ = step.timeValue;
        prevAltitudeM_ = *altitude;
    }
    out.displays = displays_;
}

}  // namespace monitor
