// One start-up for both faces of the station (window and headless): tavrin.ini with the command
// line's overrides, the demodulator's start state, the uplink's hooks and the capture. The faces
// only show what it reports.
#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/gui/language.h"
#include "station/options.h"
#include "station/station_core.h"
#include "station/uplink/settings.h"

namespace capture {
class TAudioCapture;
}

namespace station {

class Uplink;

class StationStartup {
  public:
    explicit StationStartup(StationOptions options, std::string settingsPath = kSettingsFile);

    const StationOptions& Options() const { return options_; }
    StationCore::Options CoreOptions() const;

    // Reads tavrin.ini, refuses values the records could not carry and applies --call and
    // --locator for this run only. Returns the problems to report, one message each (a file
    // that exists but cannot be read, a refused value); a missing file is no problem.
    std::vector<std::string> ReadSettings();
    bool SettingsMissing() const { return read_ == SettingsLines::ReadResult::Missing; }
    // The fields' start texts, in upper case.
    const QString& CallField() const { return call_.start; }
    const QString& LocatorField() const { return locator_.start; }

    // The fields go back into tavrin.ini at close. A field still holding a command-line value,
    // or standing in for a refused one, leaves its line as read unless the operator typed into
    // it; a file that could not be read is never written, an unchanged one is not touched.
    // False with `error` set when it should have been written and was not.
    struct Field {
        QString text;
        bool typed = false;  // the operator edited it since start
    };
    bool SaveSettings(const Field& call, const Field& locator, std::string& error);

    // The LANGUAGE line as read; the window's choice from the next start, written at close.
    std::string LanguageSetting() const { return settings_.Value(kLanguageKey); }
    void SetLanguage(std::string code) { language_ = std::move(code); }
    // The NIGHT line as read; the window's night theme as the operator left it, written at close.
    bool NightSetting() const { return settings_.Value(kNightKey) == "1"; }
    void SetNight(bool on) { night_ = on; }

    // --polarity and --tables: the state the service buttons would leave.
    void SetUpDemodulator(demod::FskDemodulator& demodulator) const;

    // "host:port" or "[v6]:port" from --server, empty without it.
    QString ServerText() const;
    // The core offers good frames to the uplink.
    static void ConnectUplink(StationCore& core, Uplink& uplink);

    // After a capture that would not start: how to choose another sound card; empty for a
    // recording or standard input.
    std::string CaptureFailureHint() const;

    // Capture from the chosen source (not started), each buffer into the core, then afterBuffer.
    std::unique_ptr<capture::TAudioCapture> MakeCapture(StationCore& core,
                                                        std::function<void()> afterBuffer) const;

  private:
    struct Key {
        const char* name;
        const char* what;  // for messages
        QString start;
        bool overridden = false;  // from the command line
        bool refused = false;     // the file's value could not be used
    };
    void ReadKey(Key& key, const std::optional<std::string>& override,
                 std::vector<std::string>& messages);
    void StoreKey(const Key& key, const Field& field);

    StationOptions options_;
    std::string settingsPath_;
    SettingsLines settings_;
    std::vector<std::string> linesAsRead_;
    SettingsLines::ReadResult read_ = SettingsLines::ReadResult::Missing;
    std::string language_;  // chosen in the window; empty: the line stays as read
    std::optional<bool> night_;
    Key call_{kCallKey, "call sign", {}};
    Key locator_{kLocatorKey, "locator", {}};
};

// Before the window is made: its language as --language or tavrin.ini's LANGUAGE line chose it,
// numbers with "." in every locale. Empty, or why the translation could not be had.
QString UseStationLanguage(QCoreApplication& app, const StationOptions& options,
                           const std::string& settingsPath = kSettingsFile,
                           const QString& translations = common::TranslationFolder());

// The station's identity as the wire carries it: the field's text in Latin-1.
std::string StationIdBytes(const QString& field);
// The fields' upper case (letters whose capital lies outside Latin-1 stay as they are).
QString StationIdUpper(const QString& text);

}  // namespace station
