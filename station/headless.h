// The station without a window: frames as tab-separated lines on standard output,
// level and messages on standard error.
#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <cstdio>
#include <memory>
#include <string>

#include "station/options.h"
#include "station/startup.h"
#include "station/station_core.h"
#include "station/uplink/uplink.h"

namespace capture {
class TAudioCapture;
}

namespace station {

// One line per frame: frame, ok, Label3, then the label texts, the sentence and the data line.
std::string HeadlessFrameLine(const FrameReport& report);

class HeadlessStation : public QObject, private UplinkView {
    Q_OBJECT
  public:
    HeadlessStation(const StationOptions& options, std::FILE* out = stdout,
                    std::FILE* err = stderr);
    ~HeadlessStation() override;

    // Starts the uplink (with --server) and capture; false (message on err) when capture
    // cannot start. A recording waits for the connection, at most kWaitForServerMs.
    bool Start();
    static constexpr int kWaitForServerMs = 10000;
    static constexpr int kDrainLimitMs = 10000;

    // SIGINT or SIGTERM: the buffer at hand is finished (the event loop runs one handler at a
    // time), capture stops, the summary is printed and the connection closed as at the end of
    // a recording; Finished(0) follows.
    void Interrupt();

    // Tests shorten the 60 s retry; before or after Start.
    void SetReconnectIntervalMs(int ms);
    // With --unattended, the status line's interval (a minute); before Start.
    void SetStatusIntervalMs(int ms) { statusIntervalMs_ = ms; }
    // How long the end of the input waits for the server to take what is sent and kept.
    void SetDrainLimitMs(int ms) { drainLimitMs_ = ms; }
    StationCore& Core() { return core_; }

  signals:
    void Finished(int exitCode);

  private:
    QString CallText() const override { return call_; }
    QString LocatorText() const override { return locator_; }
    QString ServerText() const override { return server_; }
    void ShowMissingCallOrLocator(bool visible) override;
    void SetStatus(const QString& text) override;
    void SetButtonCaption(const QString&) override {}
    void SetFieldsLocked(bool) override {}
    void LogLine(const QString& text) override { Message(text.toStdString()); }

    void Message(const std::string& text);
    bool StartCapture();
    void EndOfInput(const std::string& message);
    void FinishWhenSent();
    void StartLine();
    void StatusLine();
    int Backlog() const { return uplink_ ? uplink_->Waiting() : 0; }
    int Late() const { return uplink_ ? uplink_->Late() : 0; }

    StationStartup startup_;
    const StationOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    StationCore core_;
    std::unique_ptr<capture::TAudioCapture> AudioIn1;
    std::unique_ptr<Uplink> uplink_;
    QString call_, locator_, server_;
    bool captureStarted_ = false;
    bool ended_ = false;
    bool missingId_ = false;       // a server was given without call sign or locator
    int reconnectIntervalMs_ = 0;  // 0: the uplink's own
    QElapsedTimer levelClock_;
    QElapsedTimer drainClock_;
    QElapsedTimer lastGoodClock_;  // since the last good frame; invalid before the first
    int statusIntervalMs_ = 60000;
    int drainLimitMs_ = kDrainLimitMs;
    int exitCode_ = 0;
};

}  // namespace station
