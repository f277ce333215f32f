// Splits one station connection's byte stream into its login line and its "#"-ended records,
// however the bytes arrive. Pure: bytes in, events out; no sockets, no Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace relay {

// A record longer than this ("#" included) is dropped; the stream resumes after its "#".
inline constexpr std::size_t kMaxRecordBytes = 4096;
// Longest login field a station can send (its edit fields keep at most 255 characters), ";"
// included.
inline constexpr std::size_t kMaxLoginFieldBytes = 256;

enum class DropReason : std::uint8_t {
    Overlong,  // over kMaxRecordBytes before its "#"
    Garbage,   // a byte outside 26..126, which no station sends
    Empty,     // "#" with nothing before it
    BadLogin,  // a login field too long or ended by "#": no login for this connection; the
               // stream goes on with records after the next "#"
    NoLogin,   // a record on a connection without a good login (see LoginText)
    NotOwn,    // a record that does not start with its connection's login text
    Fields,    // a record without exactly four ";" fields
};
inline constexpr std::size_t kDropReasons = 7;

const char* DropReasonName(DropReason reason);

struct Drop {
    DropReason reason;
    std::size_t bytes;  // length of what was dropped, "#" or ";" included
    bool operator==(const Drop&) const = default;
};

struct StreamEvents {
    bool loginDone = false;  // the login completed (or failed, see BadLogin) during this Feed
    std::vector<std::string> records;  // complete records as received, "#" included, in order
    std::vector<Drop> drops;
    void Clear() {
        loginDone = false;
        records.clear();
        drops.clear();
    }
};

class StationStream;

// "CALL;LOCATOR;" of a completed login with both fields filled and clean; empty for any other
// (none yet, failed, a field left empty or holding a byte no record may hold), which no record
// is forwarded under.
std::string LoginText(const StationStream& stream);

// Why a complete record is not forwarded to monitors, or nothing when it is: it must start
// with its connection's own login text (a good one) and hold exactly four ";" fields, as a
// station's "CALL;LOCATOR;GPS;DATA#" does.
std::optional<DropReason> Screen(std::string_view loginText, std::string_view record);

class StationStream {
  public:
    // Appends to `out` whatever the bytes complete; keeps at most kMaxRecordBytes of a partial
    // record.
    void Feed(std::string_view bytes, StreamEvents& out);

    bool LoggedIn() const { return m_state == State::Record || m_state == State::Skip; }
    bool HasLogin() const { return m_hasLogin; }
    const std::string& Call() const { return m_call; }
    const std::string& Locator() const { return m_locator; }
    // Bytes held for the record in progress.
    std::size_t Pending() const { return m_partial.size(); }

  private:
    enum class State : std::uint8_t { Call, Locator, Record, Skip };
    void FeedLogin(std::string_view& bytes, StreamEvents& out);
    void FailLogin(StreamEvents& out);
    std::size_t LoginBytes() const;  // login bytes held, separators included

    State m_state = State::Call;
    bool m_hasLogin = false;
    bool m_partialGarbage = false;
    std::size_t m_skipped = 0;  // bytes dropped so far while skipping to the next "#"
    DropReason m_skipReason = DropReason::Overlong;
    std::string m_call, m_locator, m_partial;
};

}  // namespace relay
