#include "tools/relay/history.h"

namespace relay {

void History::PopFront() {
    m_bytes -= m_entries.front().record.size() + kHistoryEntryOverheadBytes;
    m_entries.pop_front();
    ++m_firstSeq;
}

void History::Add(std::int64_t nowMs, std::string record) {
    if (!Enabled()) return;
    m_bytes += record.size() + kHistoryEntryOverheadBytes;
    m_entries.push_back({nowMs, std::move(record)});
    while (m_bytes > m_maxBytes && !m_entries.empty()) PopFront();
    Expire(nowMs);
}

void History::Expire(std::int64_t nowMs) {
    while (!m_entries.empty() && m_entries.front().receivedMs < nowMs - m_keepMs) PopFront();
}

}  // namespace relay
