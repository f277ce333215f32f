// The chase panel in the monitor window, beside the record displays: it is fed every record the
// window shows and follows the locator edit. Its settings come from pelmora.ini with the command
// line's values over them.
#pragma once

#include "common/gui/language.h"
#include "monitor/chase/chase_settings.h"
#include "monitor/window/chase_panel.h"
#include "monitor/window/main_window.h"

namespace monitor {

ChasePanel* AddChasePanel(TForm1& window, const ChaseOptions& run,
                          const std::string& settingsPath = ChaseSettingsPath());

// Before the window is made: its language as --language or pelmora.ini chose it, numbers with
// "." in every locale. Empty, or why the translation could not be had.
QString UseWindowLanguage(QCoreApplication& app, const ChaseOptions& run,
                          const std::string& settingsPath = ChaseSettingsPath(),
                          const QString& translations = common::TranslationFolder());

}  // namespace monitor
