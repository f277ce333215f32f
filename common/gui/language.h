// The windows' language. The texts as built are the programs' own, German with some English,
// and what they show unless the user chooses: "de" keeps them, "en" puts Qt's translator with
// the English translation (PROGRAM_en.qm, built from the .ts files in the tree) over them.
// Whatever the language and the locale, numbers are written and read with ".".
#pragma once

#include <QString>

#include <string>
#include <string_view>

class QCoreApplication;

namespace common {

inline constexpr std::string_view kLanguages[] = {"de", "en"};
// The texts as built.
inline constexpr std::string_view kSourceLanguage = "de";

bool IsLanguage(std::string_view code);
// The command line's choice over the setting's; "de" when neither chose.
std::string ChooseLanguage(std::string_view option, std::string_view setting);

// The translations beside the program: BIN/../share/tavrin-pelmora/translations.
QString TranslationFolder();

// Shows `program`'s windows in `language` from now on (widgets made before keep their texts),
// with "." in numbers whatever the locale. Empty, or why the translation could not be loaded
// (the texts as built stay then).
QString UseLanguage(QCoreApplication& app, const QString& program, std::string_view language,
                    const QString& folder = TranslationFolder());

}  // namespace common
