#include "tools/relay/record_stream.h"

#include <algorithm>

namespace relay {

namespace {

bool IsGarbage(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code < 26 || code > 126;
}

}  // namespace

const char* DropReasonName(DropReason reason) {
    switch (reason) {
        case DropReason::Overlong:
            return "overlong";
        case DropReason::Garbage:
            return "garbage";
        case DropReason::Empty:
            return "empty";
        case DropReason::BadLogin:
            return "bad login";
        case DropReason::NoLogin:
            return "no login";
        case DropReason::NotOwn:
            return "not own login";
        case DropReason::Fields:
            return "not four fields";
    }
    return "?";
}

std::string LoginText(const StationStream& stream) {
    const auto good = [](const std::string& field) {
        return !field.empty() && std::none_of(field.begin(), field.end(), IsGarbage);
    };
    if (!stream.HasLogin() || !good(stream.Call()) || !good(stream.Locator())) return {};
    return stream.Call() + ";" + stream.Locator() + ";";
}

std::optional<DropReason> Screen(std::string_view loginText, std::string_view record) {
    if (loginText.empty()) return DropReason::NoLogin;
    if (!record.starts_with(loginText)) return DropReason::NotOwn;
    if (std::count(record.begin(), record.end(), ';') != 3) return DropReason::Fields;
    return std::nullopt;
}

std::size_t StationStream::LoginBytes() const {
    return m_call.size() + (m_state == State::Locator ? 1 + m_locator.size() : 0);
}

void StationStream::FailLogin(StreamEvents& out) {
    out.loginDone = true;
    m_call.clear();
    m_locator.clear();
}

void StationStream::FeedLogin(std::string_view& bytes, StreamEvents& out) {
    while (!bytes.empty() && (m_state == State::Call || m_state == State::Locator)) {
        std::string& field = m_state == State::Call ? m_call : m_locator;
        const std::size_t end = bytes.find_first_of(";#");
        const std::size_t take = std::min(end, bytes.size());
        if (field.size() + take >= kMaxLoginFieldBytes) {
            // Not a login at all: treat what follows as records, starting at the next "#".
            m_skipped = LoginBytes();
            m_skipReason = DropReason::BadLogin;
            m_state = State::Skip;
            FailLogin(out);
            return;
        }
        field.append(bytes.substr(0, take));
        if (end == std::string_view::npos) {
            bytes = {};
            return;
        }
        if (bytes[end] == '#') {
            // The field already holds the bytes before the "#": only the "#" is added.
            out.drops.push_back({DropReason::BadLogin, LoginBytes() + 1});
            FailLogin(out);
            m_state = State::Record;
            bytes.remove_prefix(end + 1);
            return;
        }
        bytes.remove_prefix(end + 1);
        if (m_state == State::Call) {
            m_state = State::Locator;
        } else {
            m_state = State::Record;
            m_hasLogin = true;
            out.loginDone = true;
        }
    }
}

void StationStream::Feed(std::string_view bytes, StreamEvents& out) {
    FeedLogin(bytes, out);
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('#');
        const std::size_t take = std::min(end, bytes.size());
        if (m_state == State::Skip) {
            m_skipped += take;
            if (end == std::string_view::npos) return;
            out.drops.push_back({m_skipReason, m_skipped + 1});
            m_skipped = 0;
            m_state = State::Record;
            bytes.remove_prefix(end + 1);
            continue;
        }
        const std::string_view piece = bytes.substr(0, take);
        if (m_partial.size() + take + 1 > kMaxRecordBytes) {
            // Cannot fit even with its "#": drop what is held and skip to the next "#".
            m_skipped = m_partial.size();
            m_partial.clear();
            m_partialGarbage = false;
            m_skipReason = DropReason::Overlong;
            m_state = State::Skip;
            continue;
        }
        m_partialGarbage = m_partialGarbage || std::any_of(piece.begin(), piece.end(), IsGarbage);
        m_partial.append(piece);
        if (end == std::string_view::npos) return;
        bytes.remove_prefix(end + 1);
        m_partial.push_back('#');
        if (m_partial.size() == 1) {
            out.drops.push_back({DropReason::Empty, 1});
        } else if (m_partialGarbage) {
            out.drops.push_back({DropReason::Garbage, m_partial.size()});
        } else {
            out.records.push_back(std::move(m_partial));
        }
        m_partial.clear();
        m_partialGarbage = false;
    }
}

}  // namespace relay
