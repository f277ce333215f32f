// The headless driver: it reads a recorded record stream (a file or standard input) through the
// same StreamReader the window uses and prints one line per record with what the window would
// show.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "monitor/core/stream_reader.h"
#include "monitor/core/track.h"

namespace monitor {

// record=N, then name=value for each display, tab-separated, one line with "\n".
std::string FormatReplayLine(std::size_t recordNumber, const Displays& d);

// Prints what the reader made of the bytes fed to it: one line per record to `out` (flushed, so a
// pipe sees each record at once), messages and record errors to `err`. Counts records across
// every feed, so the numbering goes on over reconnects.
class RecordPrinter {
  public:
    RecordPrinter(std::ostream& out, std::ostream& err,
                  std::function<void(const RecordResult&)> onRecord = {});
    void Print(const FeedResult& result);
    std::size_t Count() const { return count_; }

  private:
    std::ostream& out_;
    std::ostream& err_;
    std::function<void(const RecordResult&)> onRecord_;
    std::size_t count_ = 0;
};

// Feeds everything from `in` to `reader` in read-sized pieces, as a socket would deliver
// it; prints the record lines to `out` and errors to `err`, and hands each record to
// `onRecord` when given. Returns the records processed.
std::size_t RunReplay(std::istream& in, StreamReader& reader, std::ostream& out, std::ostream& err,
                      const std::function<void(const RecordResult&)>& onRecord = {});

// At the end of a stream: says how many bytes of an unfinished record were left.
void ReportUnfinished(const StreamReader& reader, std::ostream& err);

}  // namespace monitor
