// The station without a window: frames as tab-separated lines on standard output,
// level and messages on standard error.
#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <cstdio>
#include <memory>
#include <string>

#include "station/options.h"
#include "station/station_core.h"

namespace capture {
class TAudioCapture;
}

namespace station {

// One line per frame: frame, ok, Label3, then the label texts, the sentence and the data line.
std::string HeadlessFrameLine(const FrameReport& report);

class HeadlessStation : public QObject {
    Q_OBJECT
public:
    HeadlessStation(const StationOptions& options, std::FILE* out = stdout,
                    std::FILE* err = stderr);
    ~HeadlessStation() override;

    // Starts capture; false (message on err) when it cannot start.
    bool Start();
    StationCore& Core() { return core_; }

signals:
    void Finished(int exitCode);

private:
    void Message(const std::string& text);
    void EndOfInput(const std::string& message);

    StationOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    StationCore core_;
    std::unique_ptr<capture::TAudioCapture> AudioIn1;
    QElapsedTimer levelClock_;
};

}  // namespace station
