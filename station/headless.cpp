#include "station/headless.h"

#include <QTimer>

#include "common/text.h"
#include "station/capture/audio_capture.h"

namespace station {

namespace {
constexpr qint64 kLevelIntervalMs = 1000;
constexpr int kDrainPollMs = 20;
}  // namespace

std::string HeadlessFrameLine(const FrameReport& r) {
    const TelemetryDisplay& d = r.display;
    std::string line;
    auto add = [&line](const char* name, const std::string& value) {
        if (!line.empty()) line += '\t';
        line += name;
        line += '=';
        line += value;
    };
    add("frame", std::to_string(r.number));
    add("ok", r.ok ? "1" : "0");
    add("Label3", r.label3);
    // Received bytes may be anything; these fields carry them, the others are our own texts.
    using common::EscapeReceived;
    add("timelb", EscapeReceived(d.timelb));
    add("maidenlb", d.maidenlb);
    add("hoehelb", EscapeReceived(d.hoehelb));
    add("satlb", EscapeReceived(d.satlb));
    add("vbatlb", d.vbatlb);
    add("vitemplb", d.vitemplb);
    add("vatemplb", d.vatemplb);
    add("vpresslb", d.vpresslb);
    add("gps", EscapeReceived(d.gps));
    add("data", EscapeReceived(d.dataLine));
    return line;
}

HeadlessStation::HeadlessStation(const StationOptions& options, std::FILE* out, std::FILE* err)
    : startup_(options),
      options_(startup_.Options()),
      out_(out),
      err_(err),
      core_(startup_.CoreOptions()) {
    startup_.SetUpDemodulator(core_.Demodulator());
    core_.OnFrame = [this](const FrameReport& r) {
        if (r.ok) lastGoodClock_.start();
        const std::string line = HeadlessFrameLine(r) + '\n';
        std::fwrite(line.data(), 1, line.size(), out_);
        std::fprintf(out_, "path=%d\tdecoder=%s\n", r.number, demod::DecoderName(r.decoder));
        std::fprintf(out_, "%s\n", HeadlessSignalLine(r.number, r.signal).c_str());
        if (r.repairedBits > 0)
            std::fprintf(out_, "repair=%d\tbits=%d\n", r.number, r.repairedBits);
        std::fflush(out_);
    };
    core_.OnMessage = [this](const std::string& m) { Message(m); };
}

HeadlessStation::~HeadlessStation() {
    if (AudioIn1) AudioIn1->Stop();
}

void HeadlessStation::Message(const std::string& text) {
    std::fprintf(err_, "tavrin: %s\n", text.c_str());
    std::fflush(err_);
}

void HeadlessStation::SetReconnectIntervalMs(int ms) {
    reconnectIntervalMs_ = ms;
    if (uplink_) uplink_->SetReconnectIntervalMs(ms);
}

void HeadlessStation::ShowMissingCallOrLocator(bool visible) {
    if (!visible) return;
    Message("CALL ODER LOCATOR FEHLT");
    const char* what = call_.isEmpty() && locator_.isEmpty() ? "no call sign and no locator"
                       : call_.isEmpty()                     ? "no call sign"
                                                             : "no locator";
    Message(std::string(what) + ": nothing is uploaded to " + server_.toStdString() +
            " (set CALL and LOCATOR in tavrin.ini, or give --call and --locator)");
    missingId_ = true;
}

void HeadlessStation::SetStatus(const QString& text) {
    Message(text.toStdString());
}

bool HeadlessStation::Start() {
    for (const auto& problem : startup_.ReadSettings()) Message(problem);
    if (options_.unattended) {
        StartLine();
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] { StatusLine(); });
        timer->start(statusIntervalMs_);
    }
    if (!options_.server.empty()) {
        call_ = startup_.CallField();
        locator_ = startup_.LocatorField();
        server_ = startup_.ServerText();
        core_.SetStation(StationIdBytes(call_), StationIdBytes(locator_));
        uplink_ = std::make_unique<Uplink>(static_cast<UplinkView&>(*this),
                                           static_cast<quint16>(options_.port), this);
        uplink_->SetBacklog(options_.backlog);
        StationStartup::ConnectUplink(core_, *uplink_);
        // Without call sign or locator the operator still asked for an upload: good frames
        // count as unsent.
        core_.UplinkWanted = [this] { return missingId_ || uplink_->Retrying(); };
        if (reconnectIntervalMs_ > 0) uplink_->SetReconnectIntervalMs(reconnectIntervalMs_);
        uplink_->conbtClick();
        // A recording is replayed to the server, so it waits for the connection; a sound card
        // is live and starts at once.
        if (uplink_->Retrying() && options_.input != StationOptions::Input::Alsa) {
            connect(uplink_.get(), &Uplink::LinkUp, this, [this] {
                if (!StartCapture()) emit Finished(1);
            });
            QTimer::singleShot(kWaitForServerMs, this, [this] {
                if (captureStarted_) return;
                Message(
                    "no connection to the server after 10 s: decoding without upload "
                    "until it connects");
                if (!StartCapture()) emit Finished(1);
            });
            return true;
        }
    }
    return StartCapture();
}

bool HeadlessStation::StartCapture() {
    if (captureStarted_) return true;
    captureStarted_ = true;
    AudioIn1 = startup_.MakeCapture(core_, [this] {
        if (options_.unattended) return;  // the status line says the level
        if (!levelClock_.isValid() || levelClock_.elapsed() >= kLevelIntervalMs) {
            levelClock_.start();
            const auto& d = core_.Demodulator();
            std::fprintf(err_, "tavrin: level %d dB (peak %d)%s\n", d.LevelLabel(), d.LevelPeak(),
                         d.LevelIsRed() ? " too loud" : "");
            std::fflush(err_);
        }
    });
    AudioIn1->OnEnd = [this](capture::TAudioCapture*, const std::string& message) {
        // A sound card never ends on its own: it was unplugged or failed, and a service
        // restarts the station on a failure only.
        if (options_.input == StationOptions::Input::Alsa) exitCode_ = 1;
        EndOfInput(message);
    };
    if (!AudioIn1->Start()) {
        Message(AudioIn1->ErrorMessage());
        if (const std::string hint = startup_.CaptureFailureHint(); !hint.empty()) Message(hint);
        return false;
    }
    return true;
}

void HeadlessStation::Interrupt() {
    if (ended_) return;
    captureStarted_ = true;  // a recording still waiting for the server never starts now
    if (AudioIn1) AudioIn1->Stop();
    EndOfInput({});
}

void HeadlessStation::StartLine() {
    std::string from;
    switch (options_.input) {
        case StationOptions::Input::Alsa:
            from = "ALSA device \"" + options_.device + "\"";
            break;
        case StationOptions::Input::File:
            from = "\"" + options_.file + "\"";
            break;
        case StationOptions::Input::Stdin:
            from = "standard input";
            break;
    }
    const std::string line =
        std::string("tavrin ") + TAVRIN_VERSION + " started: audio from " + from +
        (options_.server.empty() ? ", no server" : ", server " + ServerWithPort(options_)) +
        (options_.flightLog ? "" : ", no flight log") + "\n";
    std::fwrite(line.data(), 1, line.size(), err_);
    std::fflush(err_);
}

void HeadlessStation::StatusLine() {
    const int frames = core_.Frames();
    const int good = core_.GoodFrames();
    const std::string age =
        lastGoodClock_.isValid() ? std::to_string(lastGoodClock_.elapsed() / 1000) : "";
    const auto& d = core_.Demodulator();
    std::fprintf(err_,
                 "tavrin: status frames=%d good=%d bad=%d last_good_age=%s level=%d unsent=%d "
                 "overruns=%d backlog=%d late=%d\n",
                 frames, good, frames - good, age.c_str(), d.LevelLabel(), core_.losses().Unsent(),
                 core_.losses().Overruns(), Backlog(), Late());
    std::fflush(err_);
}

void HeadlessStation::EndOfInput(const std::string& message) {
    if (ended_) return;
    ended_ = true;
    if (!message.empty()) Message(message);
    core_.EndOfInput();
    drainClock_.start();
    FinishWhenSent();
}

// Whatever was handed to the socket or kept is given time to reach the server before the
// connection is closed; the summary comes once the counts are final.
void HeadlessStation::FinishWhenSent() {
    if (uplink_) uplink_->CheckAcknowledged();
    if (uplink_ && uplink_->Connected() &&
        (uplink_->Socket().UnacknowledgedBytes() > 0 || uplink_->Waiting() > 0) &&
        drainClock_.elapsed() < drainLimitMs_) {
        QTimer::singleShot(kDrainPollMs, this, [this] { FinishWhenSent(); });
        return;
    }
    if (uplink_) uplink_->Stop();
    const int frames = core_.Frames();
    const int good = core_.GoodFrames();
    std::fprintf(out_,
                 "frames=%d good=%d bad=%d overruns=%d unsent=%d literal=%d sensitive=%d "
                 "unlogged=%d repaired=%d backlog=%d late=%d\n",
                 frames, good, frames - good, core_.losses().Overruns(), core_.losses().Unsent(),
                 core_.PathGoodFrames(demod::Decoder::Literal),
                 core_.PathGoodFrames(demod::Decoder::Sensitive), core_.losses().Unwritten(),
                 core_.RepairedFrames(), Backlog(), Late());
    std::fflush(out_);
    emit Finished(exitCode_);
}

}  // namespace station
