#include "station/station_core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <stdexcept>

namespace station {

void History::Add(const std::array<std::uint16_t, 16>& words, int secondsOfDay) {
    Record r{};
    for (int k = 0; k < 16; ++k) r[k] = words[k];
    r[kTimeSlot - 1] = secondsOfDay;
    if (count_ % kChunkRecords == 0)  // pages are touched as records arrive, not all at once
        chunks_.push_back(std::make_unique_for_overwrite<Record[]>(kChunkRecords));
    chunks_.back()[count_ % kChunkRecords] = r;
    ++count_;
}

std::int32_t History::Slot(int record, int slot) const {
    if (record < 1 || record >= Counter() || slot < 1 || slot > kSlots)
        throw std::out_of_range("history slot out of range");
    const auto i = static_cast<std::size_t>(record - 1);
    return chunks_[i / kChunkRecords][i % kChunkRecords][static_cast<std::size_t>(slot - 1)];
}

namespace {
// Whether `name` still leads to the open file.
bool StillNamed(int fd, const std::string& name) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::stat(name.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// Whether a file's last byte is other than a line end: a frame cut by an earlier run.
bool EndsInsideALine(int fd) {
    struct stat st {};
    char last = '\n';
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
           ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n';
}
}  // namespace

namespace {
// A folder removed and made again is a new folder: the path from start-up finds it, a relative
// one would still lead into the removed one the process sits in.
std::string AbsoluteFolder(const std::string& folder) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(folder, ec);
    return ec ? folder : absolute.lexically_normal().string();
}
}  // namespace

FlightLog::FlightLog(std::string folder) : folder_(AbsoluteFolder(folder)) {}

FlightLog::~FlightLog() {
    Close();
}

void FlightLog::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::string FlightLog::FileName(std::chrono::system_clock::time_point now) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[80];  // room for any int the format could meet
    std::snprintf(buf, sizeof buf, "tavrin-%04d-%02d-%02d.log", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday);
    return buf;
}

bool FlightLog::Append(int frameNumber, const demod::Frame& frame, const TelemetryDisplay& display,
                       std::chrono::system_clock::time_point now, std::string& error,
                       const SignalFigures& signal) {
    const std::string name = folder_ + "/" + FileName(now);
    // Removed or replaced under us: lines written on would reach no file anyone can read.
    if (fd_ >= 0 && name == openName_ && !StillNamed(fd_, name)) Close();
    if (name != openName_ || fd_ < 0) {
        Close();
        openName_ = name;
        constexpr int kFlags = O_APPEND | O_CREAT | O_CLOEXEC;
        fd_ = ::open(name.c_str(), O_RDWR | kFlags, 0666);
        if (fd_ < 0 && errno == EACCES) fd_ = ::open(name.c_str(), O_WRONLY | kFlags, 0666);
        if (fd_ < 0) {
            error = "cannot write the flight log " + name + ": " + std::strerror(errno);
            return false;
        }
        cut_ = EndsInsideALine(fd_);
    }
    std::string text = cut_ ? "\n" : "";
    text += "# frame " + std::to_string(frameNumber) + (frame.checksumOk ? " ok " : " BAD ") +
            demod::Label3Text(frame.received, frame.computed) + ' ' + SignalFieldsText(signal, ' ');
    if (frame.repairedBits > 0) text += " repaired " + std::to_string(frame.repairedBits);
    text += '\n' + display.gps + '\n' + display.dataLine + '\n';

    struct stat st {};
    const bool sized = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n == static_cast<ssize_t>(text.size())) {
        cut_ = false;
        return true;
    }
    if (n < 0) {
        error = "cannot write the flight log " + name + ": " + std::strerror(errno);
    } else {
        error = "cannot write the flight log " + name + ": the file system took " +
                std::to_string(n) + " of the frame's " + std::to_string(text.size()) + " bytes";
        // Cut back to where the frame began; failing that, the next frame starts a new line.
        if (!sized || ::ftruncate(fd_, st.st_size) != 0) cut_ = true;
    }
    Close();
    return false;
}

StationCore::StationCore() : StationCore(Options{}) {}

StationCore::StationCore(Options options)
    : options_(std::move(options)),
      // Frames come out of the demodulators' noexcept sample loops: a failure while showing
      // one frame is reported, not allowed to end the station.
      paths_(options_.decoder, demod_, sync_,
             [this](const demod::Frame& f, demod::Decoder from, std::int64_t end) {
                 try {
                     ausgabe(f, from, end);
                 } catch (const std::exception& e) {
                     if (OnMessage) OnMessage(std::string("frame not shown: ") + e.what());
                 }
             }),
      log_(options_.logFolder) {
    paths_.SetRepair(options_.repair);
    paths_.SetCoherent(options_.coherent);
}

bool StationCore::AudioIn1BufferFilled(const char* buffer, int& size) {
    // The capture's bytes are not int16 objects: copied rather than read through a cast.
    const auto count = buffer != nullptr && size > 0 ? static_cast<std::size_t>(size) / 2 : 0;
    if (samples_.size() < count) samples_.resize(count);  // once, at the first buffer
    if (count > 0) std::memcpy(samples_.data(), buffer, count * sizeof(std::int16_t));
    meter_.Push(std::span<const std::int16_t>(samples_.data(), count));
    return paths_.ProcessBuffer(samples_.data(), size);
}

void StationCore::SetStation(std::string callField, std::string locatorField) {
    callField_ = std::move(callField);
    locatorField_ = std::move(locatorField);
}

// The frame ends with the sample that took its last stop bit; it began (sync, sentence, data,
// checksum) ten bits a byte earlier. The first two bits are left out, so that a transmitter
// whose clock runs a little fast does not bring the line before the frame into the span.
SignalFigures StationCore::MeasureFrame(const demod::Frame& frame, std::int64_t end) {
    constexpr std::int64_t kSamplesPerByte = 10 * demod::ToneSlicer::kSamplesPerBit;
    constexpr std::int64_t kLeadSkip = 2 * demod::ToneSlicer::kSamplesPerBit;
    constexpr std::size_t kDataAndChecksumBytes = 32 + 2;
    const auto bytes = static_cast<std::int64_t>(std::size(demod::FrameSync::kSync) +
                                                 frame.gps.size() + kDataAndChecksumBytes);
    return meter_.Measure(end - bytes * kSamplesPerByte + kLeadSkip, end, demod_.LowToneHz(),
                          demod_.HighToneHz());
}

void StationCore::ausgabe(const demod::Frame& frame, demod::Decoder from, std::int64_t endSample) {
    const auto now = options_.clock();
    FrameReport report;
    report.number = ++frames_;
    report.decoder = from;
    report.ok = frame.checksumOk;
    if (frame.checksumOk) ++good_;
    report.repairedBits = frame.repairedBits;
    if (frame.repairedBits > 0) ++repaired_;
    report.label3 = demod::Label3Text(frame.received, frame.computed);
    report.label3Colour = frame.checksumOk ? demod::kLabel3Green : demod::kLabel3Red;
    report.display = DecodeTelemetry(frame, LocalDateTimeText(now));
    history_.Add(frame.words, SecondsSinceLocalMidnight(now));
    // A frame may come out of the combiner a while after it ended.
    report.signal = MeasureFrame(frame, endSample >= 0 ? endSample : demod_.SamplesIn());

    if (options_.flightLog) {
        std::string error;
        const bool written =
            log_.Append(report.number, frame, report.display, now, error, report.signal);
        Say(losses_.Logged(written, error, now));
    }
    if (OnFrame) OnFrame(report);

    // The one place a frame leaves the station. What the uplink neither sends nor keeps is
    // counted as unsent: the flight log keeps those frames.
    if (frame.checksumOk && UplinkActive && UplinkSend) {
        const std::string text = UploadText(callField_, locatorField_, report.display);
        Losses::Upload outcome = Losses::Upload::NotConnected;
        if (UplinkActive())
            outcome =
                UplinkSend(report.number, text) ? Losses::Upload::Sent : Losses::Upload::QueueFull;
        const int waiting =
            outcome == Losses::Upload::Sent || !UplinkKeep ? -1 : UplinkKeep(report.number, text);
        if (waiting >= 0)
            Say(losses_.Kept(report.number, outcome, waiting));
        else if (outcome != Losses::Upload::NotConnected || (UplinkWanted && UplinkWanted()))
            Say(losses_.Uploaded(report.number, outcome));
    }
}

void StationCore::UplinkDropped(int frames) {
    Say(losses_.Dropped(frames));
}

void StationCore::AudioOverruns(int total) {
    Say(losses_.Overruns(total));
}

void StationCore::Say(const std::optional<std::string>& message) {
    if (message && OnMessage) OnMessage(*message);
}

}  // namespace station
