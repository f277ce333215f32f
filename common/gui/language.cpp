#include "common/gui/language.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

#include <algorithm>
#include <clocale>

namespace common {

bool IsLanguage(std::string_view code) {
    return std::find(std::begin(kLanguages), std::end(kLanguages), code) != std::end(kLanguages);
}

std::string ChooseLanguage(std::string_view option, std::string_view setting) {
    if (IsLanguage(option)) return std::string(option);
    if (IsLanguage(setting)) return std::string(setting);
    return std::string(kSourceLanguage);
}

QString TranslationFolder() {
    return QDir(QCoreApplication::applicationDirPath())
        .absoluteFilePath(QStringLiteral("../share/tavrin-pelmora/translations"));
}

QString UseLanguage(QCoreApplication& app, const QString& program, std::string_view language,
                    const QString& folder) {
    // Spin boxes and every other number Qt writes for the locale; the C library's too, which
    // the application object set from the environment.
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(c);
    std::setlocale(LC_NUMERIC, "C");

    static QPointer<QTranslator> installed;
    if (installed) {
        app.removeTranslator(installed);
        delete installed;
    }
    if (language == kSourceLanguage) return {};
    auto* translator = new QTranslator(&app);
    const QString name =
        program + QLatin1Char('_') +
        QString::fromUtf8(language.data(), static_cast<qsizetype>(language.size()));
    if (!translator->load(name, folder)) {
        delete translator;
        return QStringLiteral("no translation %1.qm in %2: the texts stay as built")
            .arg(name, folder);
    }
    app.installTranslator(translator);
    installed = translator;
    return {};
}

}  // namespace common
