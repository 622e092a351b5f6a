#pragma once

#include <QString>

// The interface language. The Chinese texts in the code are the source texts; every
// other language comes from a compiled-in Qt Linguist file (":/i18n/zorvel_<lang>.qm").
class Translation
{
public:
    // "zh" or "en". A stored choice ("zh" or "en" under the setting "language") wins;
    // otherwise the locale decides: the first entry of LANGUAGE, else LC_ALL,
    // LC_MESSAGES, LANG. Chinese for zh_*, English for anything else.
    static QString chosenLanguage();
    static QString languageFor(const QString &stored, const QString &localeName);

    // The settings window's box: 0 follows the locale, 1 is Chinese, 2 English.
    static int storedChoice();
    static void storeChoice(int index);

    // Installs the translator of chosenLanguage() (and Qt's own texts for it when the
    // system has them). Needs a QCoreApplication; call it before any window exists.
    static void install();

    // The locale name the environment asks for, in the order gettext reads it.
    static QString localeFromEnvironment();
};
