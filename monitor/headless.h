// Headless drivers that live on an event loop: the live connection to a server, and a record
// stream on a pipe (standard input) taken record by record as it arrives.
#pragma once

#include <QCoreApplication>

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "monitor/core/replay.h"
#include "monitor/core/stream_reader.h"

namespace monitor {

using RecordHook = std::function<void(const RecordResult&)>;

// What a driver does with a stream: a new connection starts a new stream, bytes come as they
// arrive, and a live run ticks once a second.
struct StreamHandler {
    std::function<void()> started;
    std::function<void(std::string_view bytes)> bytes;
    std::function<void()> tick;
};

// Follows the server at `serverText` (HOST[:PORT]), connection messages to `err`; retries every
// `retryMs` both when the server cannot be reached and after a drop. Returns 0 when SIGINT or
// SIGTERM ended it, 2 for an unusable server text.
int RunLive(QCoreApplication& app, const std::string& serverText, const StreamHandler& handler,
            std::ostream& err, int retryMs = 10000);
// Reads the stream from descriptor `fd` on the event loop, so each record is taken as soon as
// its "#" arrives and the event loop (a serial port's answers) keeps running while it waits.
// Ends at end of input, or at SIGINT or SIGTERM: true then.
bool RunPipe(QCoreApplication& app, int fd, const StreamHandler& handler, std::ostream& err);

// The same for a plain StreamReader, one line per record and `onRecord` after it; the live run
// ends with the count of records.
int RunLive(QCoreApplication& app, const std::string& serverText, StreamReader& reader,
            std::ostream& out, std::ostream& err, const RecordHook& onRecord = {},
            int retryMs = 10000);
std::size_t RunPipeReplay(QCoreApplication& app, int fd, StreamReader& reader, std::ostream& out,
                          std::ostream& err, const RecordHook& onRecord = {});

}  // namespace monitor
