// Command line of pelmora and the headless driver: it reads a recorded record stream (a
// file or standard input) through the same StreamReader the window uses and prints one
// line per record with what the window would show.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

#include "monitor/core/car.h"
#include "monitor/core/chase_settings.h"
#include "monitor/core/stream_reader.h"
#include "monitor/core/track.h"

namespace monitor {

struct Options {
    bool headless = false;
    bool help = false;
    bool version = false;
    std::string replayPath;  // "-" is standard input; empty when not given
    std::string server;      // HOST[:PORT] to follow live; empty when not given
    std::string locator = std::string(kDefaultLocator);
    bool speedMs = false;
    std::string serialPort;  // port number or device path for the GPS sentences; empty: none
    std::string gpsd;        // HOST[:PORT] of the car's GPS daemon; empty: no car position
    bool waypoint = false;   // the landing estimate as a waypoint sentence after each GGA
    ChaseOptions chase;
};

struct ParsedOptions {
    Options options;
    std::string error;  // non-empty: the arguments are unusable
};

// `args` without the program name.
ParsedOptions ParseOptions(std::span<const std::string_view> args);
std::string UsageText();

// Upper case, as the window's locator edit forces it.
std::string NormaliseLocator(std::string_view locator);

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
