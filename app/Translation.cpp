#include "app/Translation.h"

#include "app/Constants.h"
#include "app/clipUtils.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTranslator>

namespace {

const QString kChinese = QStringLiteral("zh");
const QString kEnglish = QStringLiteral("en");

} // namespace

QString Translation::localeFromEnvironment()
{
    // LANGUAGE is a priority list ("zh_CN:en"); the C locale (also when nothing is
    // set) makes gettext ignore it.
    const QString all = qEnvironmentVariable("LC_ALL");
    const QString messages = all.isEmpty() ? qEnvironmentVariable("LC_MESSAGES") : all;
    const QString base = messages.isEmpty() ? qEnvironmentVariable("LANG") : messages;
    const QString list = qEnvironmentVariable("LANGUAGE");
    const bool plainC = base.isEmpty() || base == QLatin1String("C") || base.startsWith(QLatin1String("C."))
                        || base == QLatin1String("POSIX");
    if (!list.isEmpty() && !plainC) {
        const QString first = list.section(QLatin1Char(':'), 0, 0, QString::SectionSkipEmpty);
        if (!first.isEmpty())
            return first;
    }
    return base;
}

QString Translation::languageFor(const QString &stored, const QString &localeName)
{
    if (stored == kChinese || stored == kEnglish)
        return stored;
    // The language is what comes before the territory, codeset or modifier:
    // "zh_CN.UTF-8", "zh-TW", "zh@pinyin"; "zha" (Zhuang) is another language.
    const QString language = localeName.section(QRegularExpression(QStringLiteral("[_.@-]")), 0, 0);
    return language.compare(kChinese, Qt::CaseInsensitive) == 0 ? kChinese : kEnglish;
}

QString Translation::chosenLanguage()
{
    const QString stored = clipUtils::settings()->value(QLatin1String(Zorvel::Key::Language)).toString();
    return languageFor(stored, localeFromEnvironment());
}

int Translation::storedChoice()
{
    const QString stored = clipUtils::settings()->value(QLatin1String(Zorvel::Key::Language)).toString();
    return stored == kChinese ? 1 : stored == kEnglish ? 2 : 0;
}

void Translation::storeChoice(int index)
{
    QSettings *settings = clipUtils::settings();
    if (index == 1 || index == 2)
        settings->setValue(QLatin1String(Zorvel::Key::Language), index == 1 ? kChinese : kEnglish);
    else
        settings->remove(QLatin1String(Zorvel::Key::Language));
}

void Translation::install()
{
    Q_INIT_RESOURCE(zorvel_translations);
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    const QString language = chosenLanguage();
    // Qt's own texts (standard buttons, the command-line parser) when the system has them.
    auto *qtTexts = new QTranslator(app);
    const QString qtName = language == kChinese ? QStringLiteral("qtbase_zh_CN") : QString();
    if (!qtName.isEmpty() && qtTexts->load(qtName, QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    else
        delete qtTexts;
    if (language == kChinese)
        return; // the source texts
    auto *ours = new QTranslator(app);
    if (ours->load(QStringLiteral(":/i18n/zorvel_%1.qm").arg(language)))
        QCoreApplication::installTranslator(ours);
    else {
        qWarning("No translation for the language %s; the interface stays Chinese", qPrintable(language));
        delete ours;
    }
}
