#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace praxon {

namespace {

struct Installed {
    std::unique_ptr<QTranslator> window;  // the window's English texts
    std::unique_ptr<QTranslator> qt;      // Qt's Chinese texts
    Language language = Language::Chinese;
};

Installed& installed() {
    static Installed state;
    return state;
}

// Loads one catalogue and installs it; null when it could not be loaded.
std::unique_ptr<QTranslator> install(const QString& name, const QString& folder) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(name, folder)) return nullptr;
    QCoreApplication::installTranslator(translator.get());
    return translator;
}

}  // namespace

QString languageCode(Language language) {
    return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh");
}

std::optional<Language> languageFromCode(const QString& code) {
    if (code == QLatin1String("zh")) return Language::Chinese;
    if (code == QLatin1String("en")) return Language::English;
    return std::nullopt;
}

bool useLanguage(Language language) {
    Installed& state = installed();
    // Removing a translator sends the change too, so switching back to the source texts is seen.
    for (auto* slot : {&state.window, &state.qt}) {
        if (*slot) QCoreApplication::removeTranslator(slot->get());
        slot->reset();
    }
    state.language = language;
    if (language == Language::English) {
        state.window = install(QStringLiteral("praxon_en"), QStringLiteral(":/i18n"));
        return state.window != nullptr;
    }
    // qt_zh_CN gathers Qt's own modules' catalogues (qtbase_zh_CN and the rest installed).
    state.qt =
        install(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    return state.qt != nullptr;
}

Language currentLanguage() {
    return installed().language;
}

}  // namespace praxon
