// The monitor's reader of the relayed record stream. It is fed the bytes the server sends,
// cuts them into "#"-ended records, and turns each into the texts of the main window's
// displays, the GPS sentence line for the serial port, and an error message if a field
// does not convert. Both the window and the headless replay drive it; it owns all state
// kept between records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/record.h"
#include "monitor/core/track.h"

namespace monitor {

inline constexpr std::uint32_t kTextDefault = 0x000000;
inline constexpr std::uint32_t kTextGreen = 0x008000;  // climbing
inline constexpr std::uint32_t kTextRed = 0xFF0000;    // level or falling

// What the window shows, named after its labels; the defaults are the start captions.
struct Displays {
    std::string rxstatlb = "-";  // receiving station
    std::string utclb = "--:--:--";
    std::string satlb = "-";
    std::string ubatlb = "--.-V";
    std::string tbatlb = "-";
    std::string tauslb = "-";
    std::string plb = "----,- hPa";
    std::string hgpslb = "-";                 // GPS altitude
    std::string gvlb = "-";                   // vertical speed
    std::uint32_t gvlbColour = kTextDefault;  // 0xRRGGBB
    std::string ghlb = "-";                   // ground speed
    std::string dvllb = "-";                  // distance from home
    std::string tacholb = "-";                // distance travelled
    bool courseDrawn = false;                 // the course image shows a line
    double courseDeg = 0;

    bool operator==(const Displays&) const = default;
};

struct RecordResult {
    common::RelayedRecord record;  // the record without its "#", read
    std::string nmeaLine;          // GPS sentence + CR LF, for the serial port
    Displays displays;             // all displays after this record
    std::string error;             // why processing stopped early; empty when it did not

    bool operator==(const RecordResult&) const = default;
};

struct FeedResult {
    std::vector<RecordResult> records;
    std::vector<std::string> messages;  // stream-level trouble, e.g. a dropped tail
};

// The complete records in the bytes received so far, without their "#".
struct SplitResult {
    std::vector<std::string> records;
    std::vector<std::string> messages;
};

class StreamReader {
  public:
    // An unfinished record longer than this cannot be a real one (call sign and locator of up
    // to 255 characters each, the sentence and the data line stay under about 800 bytes).
    static constexpr std::size_t kMaxTailBytes = 4096;

    explicit StreamReader(std::string_view homeLocator = kDefaultLocator);

    // Home position from the user's locator; an invalid one falls back to JN49EA.
    void SetHomeLocator(std::string_view locator);
    // Asked at each record; a position it gives is home for that record instead of the
    // locator's (the same formula from a better point).
    void SetHomeSource(HomeSource source) { homeSource_ = std::move(source); }
    void SetSpeedKmh(bool kmh) { speedKmh_ = kmh; }
    bool SpeedKmh() const { return speedKmh_; }
    // A new connection starts a new count; the next record is still not a first record.
    void ResetTotalDistance() { totalKm_ = 0; }
    // A new connection is a new stream: the unfinished tail of the old one is dropped, never
    // glued to the first bytes of the new one. Returns the bytes dropped.
    std::size_t StartStream() {
        skipping_ = false;
        return std::exchange(pending_, {}).size() + std::exchange(skipped_, 0);
    }

    // Processes every complete record in the bytes received so far, in order, and keeps
    // the unfinished tail for the next call.
    FeedResult Feed(std::string_view bytes);
    // The same in two steps, for a caller that decides which records move the displays: the
    // complete records, then each one shown, or passed by with the displays as they are.
    SplitResult Split(std::string_view bytes);
    RecordResult Show(const common::RelayedRecord& record);
    RecordResult PassBy(const common::RelayedRecord& record) const;
    // The next record shown primes the displays as the first one did (another probe follows).
    void Reprime();

    const Displays& CurrentDisplays() const { return displays_; }
    const std::string& LastNmeaLine() const { return lastNmeaLine_; }
    std::size_t PendingBytes() const { return pending_.size(); }
    // Bytes of an overlong run dropped so far whose ending "#" has not come yet.
    std::size_t SkippedBytes() const { return skipped_; }
    const LatLonRad& Home() const { return track_.home; }

  private:
    void ProcessRecord(RecordResult& out);
    std::optional<double> ReadAltitude(const common::CountedFields& fix) const;
    bool ShowHousekeeping(const common::DataLine& data, std::string& error);

    std::string pending_;
    // After an overlong run the bytes up to the next "#" go too: that "#" ends the junk, and
    // what stands before it is no record's start.
    bool skipping_ = false;
    std::size_t skipped_ = 0;
    TrackState track_;
    LatLonRad locatorHome_;
    HomeSource homeSource_;
    Displays displays_;
    bool speedKmh_ = true;
    bool hasPrevAltitude_ = false;
    std::int64_t prevAltitudeTime_ = 0;  // 1/10000 h, of the last fully read altitude
    double prevAltitudeM_ = 0;
    std::int64_t prevFixTime_ = 0;  // 1/10000 h, of the last record with a position
    double totalKm_ = 0;
    std::string lastNmeaLine_;
};

}  // namespace monitor
