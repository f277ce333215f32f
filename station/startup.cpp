#include "station/startup.h"

#include "common/text.h"
#include "station/capture_setup.h"
#include "station/uplink/station_id.h"
#include "station/uplink/uplink.h"

namespace station {

std::string StationIdBytes(const QString& field) {
    return field.toLatin1().toStdString();
}

QString StationIdUpper(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const QChar upper = c.toUpper();
        if (upper.unicode() <= 0xFF) c = upper;
    }
    return out;
}

QString UseStationLanguage(QCoreApplication& app, const StationOptions& options,
                           const std::string& settingsPath, const QString& translations) {
    SettingsLines file;
    std::string error;  // a file that cannot be read is said when the window reads it
    file.Load(settingsPath, error);
    return common::UseLanguage(app, QStringLiteral("tavrin"),
                               common::ChooseLanguage(options.language, file.Value(kLanguageKey)),
                               translations);
}

StationStartup::StationStartup(StationOptions options, std::string settingsPath)
    : options_(std::move(options)), settingsPath_(std::move(settingsPath)) {}

StationCore::Options StationStartup::CoreOptions() const {
    StationCore::Options o;
    o.flightLog = options_.flightLog;
    o.decoder = options_.decoder;
    o.repair = options_.repair;
    o.coherent = options_.coherent;
    return o;
}

std::vector<std::string> StationStartup::ReadSettings() {
    std::vector<std::string> messages;
    std::string error;
    read_ = settings_.Read(settingsPath_, error);
    linesAsRead_ = settings_.Lines();
    if (read_ == SettingsLines::ReadResult::Unreadable)
        messages.push_back("cannot read " + error + ": it is left as it is and not written");
    ReadKey(call_, options_.call, messages);
    ReadKey(locator_, options_.locator, messages);
    return messages;
}

void StationStartup::ReadKey(Key& key, const std::optional<std::string>& override,
                             std::vector<std::string>& messages) {
    key.overridden = override.has_value();
    std::string latin1, problem;
    if (key.overridden) {
        // The command line was checked when it was parsed.
        CheckStationId(*override, latin1, problem);
    } else if (!CheckStationId(settings_.Value(key.name), latin1, problem)) {
        key.refused = true;
        latin1.clear();
        messages.push_back(settingsPath_ + ": the " + key.what + " (" + key.name + ") holds " +
                           problem + RefusalReason(problem) + "; not used");
    }
    // An existing station goes on uploading its odd locator; it is only told.
    if (&key == &locator_ && !key.overridden && !key.refused && !latin1.empty() &&
        !IsMaidenheadLocator(common::FirstWord(latin1)))
        messages.push_back(settingsPath_ + ": the locator (LOCATOR) \"" + latin1 +
                           "\" is not one the monitors can use (" + kLocatorForm +
                           "); uploaded as it is");
    key.start = StationIdUpper(QString::fromLatin1(latin1));
}

void StationStartup::StoreKey(const Key& key, const Field& field) {
    if (!field.typed && (key.overridden || key.refused)) return;
    settings_.SetValue(key.name, field.text.toStdString());
}

bool StationStartup::SaveSettings(const Field& call, const Field& locator, std::string& error) {
    if (read_ == SettingsLines::ReadResult::Unreadable) {
        error = settingsPath_ + " not written: it could not be read at start";
        return false;
    }
    StoreKey(call_, call);
    StoreKey(locator_, locator);
    if (!language_.empty()) settings_.SetValue(kLanguageKey, language_);
    if (night_) settings_.SetValue(kNightKey, *night_ ? "1" : "0");
    // Unchanged lines are not rewritten, so the file keeps its form (line ends, key case).
    if (read_ == SettingsLines::ReadResult::Read && settings_.Lines() == linesAsRead_) return true;
    return settings_.Save(settingsPath_, error);
}

void StationStartup::SetUpDemodulator(demod::FskDemodulator& demodulator) const {
    demodulator.SetMarkIsHigh(options_.markIsHigh);
    const int presses = options_.tables == StationOptions::Tables::Rect      ? 1
                        : options_.tables == StationOptions::Tables::Hamming ? 2
                                                                             : 0;
    for (int i = 0; i < presses; ++i) demodulator.SwitchWindow();
}

QString StationStartup::ServerText() const {
    if (options_.server.empty()) return {};
    return QString::fromStdString(ServerWithPort(options_));
}

void StationStartup::ConnectUplink(StationCore& core, Uplink& uplink) {
    core.UplinkActive = [&uplink] { return uplink.Connected(); };
    core.UplinkSend = [&uplink](int number, const std::string& text) {
        return uplink.SendFrame(number, text);
    };
    core.UplinkWanted = [&uplink] { return uplink.Retrying(); };
    core.UplinkKeep = [&uplink](int number, const std::string& text) {
        return uplink.Keep(number, text);
    };
    uplink.OnDropped = [&core](int frames) { core.UplinkDropped(frames); };
}

std::string StationStartup::CaptureFailureHint() const {
    if (options_.input != StationOptions::Input::Alsa) return {};
    return "sound card \"" + options_.device +
           "\" not usable: choose another with --device NAME (\"arecord -l\" lists the cards; "
           "card 1, device 0 is --device plughw:1,0), or decode a recording with --input FILE";
}

std::unique_ptr<capture::TAudioCapture> StationStartup::MakeCapture(
    StationCore& core, std::function<void()> afterBuffer) const {
    auto in = MakeAudioIn(options_);
    in->OnBufferFilled = [&core, afterBuffer = std::move(afterBuffer)](const char* buffer,
                                                                       int& size) {
        const bool requeue = core.AudioIn1BufferFilled(buffer, size);
        if (afterBuffer) afterBuffer();
        return requeue;
    };
    in->OnOverrun = [&core](capture::TAudioDevice*, int total) { core.AudioOverruns(total); };
    in->OnNotice = [&core](capture::TAudioDevice*, const std::string& text) {
        if (core.OnMessage) core.OnMessage(text);
    };
    return in;
}

}  // namespace station
