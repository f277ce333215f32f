// Headless drivers that live on an event loop: the live connection to a server, and a record
// stream on a pipe (standard input) shown record by record as it arrives.
#pragma once

#include <QCoreApplication>

#include <functional>
#include <iosfwd>
#include <string>

#include "monitor/core/replay.h"
#include "monitor/core/stream_reader.h"

namespace monitor {

using RecordHook = std::function<void(const RecordResult&)>;

// Follows the server at `serverText` (HOST[:PORT]), printing one line per record as it arrives,
// connection messages to `err`; retries every `retryMs` both when the server cannot be reached
// and after a drop. Returns 0 when SIGINT or SIGTERM ended it, 2 for an unusable server text.
int RunLive(QCoreApplication& app, const std::string& serverText, StreamReader& reader,
            std::ostream& out, std::ostream& err, const RecordHook& onRecord = {},
            int retryMs = 10000);

// Reads the stream from descriptor `fd` on the event loop, so each record is printed as soon as
// its "#" arrives and the event loop (a serial port's answers) keeps running while it waits.
// Returns the records processed; ends at end of input.
std::size_t RunPipeReplay(QCoreApplication& app, int fd, StreamReader& reader, std::ostream& out,
                          std::ostream& err, const RecordHook& onRecord = {});

}  // namespace monitor
