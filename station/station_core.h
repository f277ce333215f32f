// The station's core behind one facade: audio buffers in, decoded frames out. The window and
// the headless driver both drive it and only show what it reports.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/demod/decoder_paths.h"
#include "station/demod/frame_sync.h"
#include "station/demod/fsk_demodulator.h"
#include "station/losses.h"
#include "station/signal/signal_figures.h"
#include "station/telemetry/telemetry.h"

namespace station {

// Raw words of every frame, for the stored-value plot. Grows with the flight (80 bytes a
// frame, some 0.3 MB an hour at one frame a second) instead of overflowing a fixed table.
class History {
  public:
    static constexpr int kSlots = 20;
    static constexpr int kTimeSlot =
        17;  // seconds since local midnight; slots 1..16 hold the words
    using Record = std::array<std::int32_t, kSlots>;

    void Add(const std::array<std::uint16_t, 16>& words, int secondsOfDay);
    // The record counter: starts at 1, one more than the records stored.
    int Counter() const noexcept { return static_cast<int>(count_) + 1; }
    // Slot 1..20 of record 1..Counter()-1.
    std::int32_t Slot(int record, int slot) const;

  private:
    // Records live in fixed chunks: growing never copies what is stored, so the peak memory
    // grows by the 80 bytes a frame too, not by a doubled array during a reallocation.
    static constexpr std::size_t kChunkRecords = 4096;
    std::vector<std::unique_ptr<Record[]>> chunks_;
    std::size_t count_ = 0;
};

// "tavrin-YYYY-MM-DD.log" in a folder: every frame, good or bad, written as it comes, so a
// flight outlives a crash or a lost server. A new day starts a new file. A frame's lines go in
// whole or not at all: a full disk leaves no cut frame for the next one to be glued onto.
class FlightLog {
  public:
    explicit FlightLog(std::string folder = ".");
    ~FlightLog();
    FlightLog(const FlightLog&) = delete;
    FlightLog& operator=(const FlightLog&) = delete;

    // False when the file cannot be written; `error` then says why (reported once by the caller).
    bool Append(int frameNumber, const demod::Frame& frame, const TelemetryDisplay& display,
                std::chrono::system_clock::time_point now, std::string& error,
                const SignalFigures& signal = {});
    static std::string FileName(std::chrono::system_clock::time_point now);

  private:
    void Close();

    std::string folder_;
    std::string openName_;
    int fd_ = -1;
    bool cut_ = false;  // the file may end inside a line (written before, or not cut back)
};

// What one frame produced, for the front end to show.
struct FrameReport {
    int number = 0;  // 1, 2, ... counted from start
    bool ok = false;
    std::string label3;
    std::uint32_t label3Colour = 0;
    TelemetryDisplay display;
    SignalFigures signal;                              // measured over the frame's own samples
    demod::Decoder decoder = demod::Decoder::Literal;  // the path that delivered the frame
    int repairedBits = 0;  // bits the sensitive path flipped to make it good; 0: as received
};

class StationCore {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    struct Options {
        bool flightLog = true;
        std::string logFolder = ".";
        Clock clock = [] { return std::chrono::system_clock::now(); };
        demod::Decoder decoder = demod::Decoder::Both;  // the decoding paths that run
        bool repair = true;    // soft repair of the sensitive path's frames
        bool coherent = true;  // the sensitive path's coherent decisions
    };

    StationCore();
    explicit StationCore(Options options);

    // The capture's buffer-filled handler: every sample through the demodulator, frames through
    // ausgabe. Returns true so the buffer goes back to the capture.
    bool AudioIn1BufferFilled(const char* buffer, int& size);

    // Called for every frame of the decoding paths' one stream.
    // `endSample`: the input sample count at the frame's last stop bit; -1 for "just now".
    void ausgabe(const demod::Frame& frame, demod::Decoder from = demod::Decoder::Literal,
                 std::int64_t endSample = -1);
    // End of the input: frames held back for a better copy go out now.
    void EndOfInput() { paths_.Flush(); }

    demod::FskDemodulator& Demodulator() noexcept { return demod_; }
    const History& history() const noexcept { return history_; }
    // The newest samples, for pictures of the signal.
    const SignalMeter& Meter() const noexcept { return meter_; }
    int Frames() const noexcept { return frames_; }
    int GoodFrames() const noexcept { return good_; }
    int RepairedFrames() const noexcept { return repaired_; }  // counted among the good ones
    // Good frames a path found, frames found by both counted for each.
    int PathGoodFrames(demod::Decoder path) const noexcept { return paths_.GoodFrames(path); }
    const demod::DecoderPaths& Paths() const noexcept { return paths_; }
    // Overruns, frames not uploaded, frames not written to the flight log.
    const Losses& losses() const noexcept { return losses_; }
    // The capture's running overrun count, from its overrun handler.
    void AudioOverruns(int total);

    // The station's call sign and locator fields as the operator typed them.
    void SetStation(std::string callField, std::string locatorField);

    // Front-end hooks.
    std::function<void(const FrameReport&)> OnFrame;
    std::function<void(const std::string&)> OnMessage;  // problems worth telling the operator
    // The uplink: whether it is up, and how to send one frame's text (false: the socket's queue
    // is full). Only good frames are offered. While UplinkWanted holds (the operator connected),
    // a good frame that cannot go out is counted as unsent.
    std::function<bool()> UplinkActive;
    std::function<bool(int number, const std::string& text)> UplinkSend;
    std::function<bool()> UplinkWanted;
    // A good frame not sent may be kept for later: the frames now waiting, or -1 if not kept.
    std::function<int(int number, const std::string& text)> UplinkKeep;
    // From the uplink: frames its backlog let go.
    void UplinkDropped(int frames);

  private:
    SignalFigures MeasureFrame(const demod::Frame& frame, std::int64_t end);
    void Say(const std::optional<std::string>& message);

    Options options_;
    demod::FskDemodulator demod_;
    demod::FrameSync sync_;
    demod::DecoderPaths paths_;
    History history_;
    FlightLog log_;
    SignalMeter meter_;
    Losses losses_;
    std::vector<std::int16_t> samples_;  // the last audio buffer, as samples
    int frames_ = 0;
    int good_ = 0;
    int repaired_ = 0;
    std::string callField_, locatorField_;
};

}  // namespace station
