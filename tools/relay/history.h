// The records of the last minutes, kept so a monitor that connects late gets the flight so far.
// Bounded twice: by age (receive time) and by memory. Pure: no sockets, no clock of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace relay {

// Bookkeeping a kept record costs beyond its text (its slot, receive time and string), counted
// against the memory bound so that short records cannot outgrow it.
inline constexpr std::size_t kHistoryEntryOverheadBytes = 64;

class History {
  public:
    // keepMs 0: nothing is kept.
    History(std::int64_t keepMs, std::size_t maxBytes) : m_keepMs(keepMs), m_maxBytes(maxBytes) {}

    bool Enabled() const { return m_keepMs > 0; }
    // Keeps `record` as received at `nowMs`, then lets go of what is too old or over the bound.
    void Add(std::int64_t nowMs, std::string record);
    // Lets go of the records received before nowMs - keepMs.
    void Expire(std::int64_t nowMs);

    // Records are numbered in arrival order; [Begin(), End()) are kept.
    std::uint64_t Begin() const { return m_firstSeq; }
    std::uint64_t End() const { return m_firstSeq + m_entries.size(); }
    const std::string& At(std::uint64_t seq) const { return m_entries[seq - m_firstSeq].record; }
    std::size_t Bytes() const { return m_bytes; }  // text plus overhead of every kept record

  private:
    struct Entry {
        std::int64_t receivedMs;
        std::string record;
    };
    void PopFront();

    std::int64_t m_keepMs;
    std::size_t m_maxBytes;
    std::deque<Entry> m_entries;
    std::uint64_t m_firstSeq = 0;
    std::size_t m_bytes = 0;
};

}  // namespace relay
