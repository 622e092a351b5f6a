#include "desktop/HotKeyChoice.h"

#include "app/Constants.h"
#include "app/clipUtils.h"

#include <QSettings>
#include <QStringList>

using namespace Zorvel;

namespace {

void storeOrRemove(const char *key, const QString &value)
{
    if (value.isEmpty())
        clipUtils::settings()->remove(QLatin1String(key));
    else
        clipUtils::settings()->setValue(QLatin1String(key), value);
}

} // namespace

HotKeyChoice HotKeyChoice::factory()
{
    return HotKeyChoice{QStringLiteral("Shift"), QStringLiteral("Alt"), QStringLiteral("v")};
}

HotKeyChoice HotKeyChoice::load()
{
    QSettings *s = clipUtils::settings();
    HotKeyChoice stored{s->value(QLatin1String(Key::ShortkeyFirst)).toString(),
                        s->value(QLatin1String(Key::ShortkeyMiddle)).toString(),
                        s->value(QLatin1String(Key::ShortkeyLast)).toString()};
    const bool enabled = s->value(QLatin1String(Key::ShortkeyEnabled), true).toBool();
    if (enabled && stored.isNone())
        return factory();
    return stored;
}

HotKeyChoice HotKeyChoice::offered() const
{
    static const QStringList firsts{QStringLiteral("Shift"), QStringLiteral("Ctrl")};
    const bool letter = last.size() == 1 && last.at(0) >= QLatin1Char('a') && last.at(0) <= QLatin1Char('z');
    return HotKeyChoice{firsts.contains(first) ? first : QString(),
                        middle == QLatin1String("Alt") ? middle : QString(), letter ? last : QString()};
}

QString HotKeyChoice::text() const
{
    QString result;
    if (!first.isEmpty())
        result += first + QLatin1Char('+');
    if (!middle.isEmpty())
        result += middle + QLatin1Char('+');
    return result + last;
}

QKeySequence HotKeyChoice::sequence() const
{
    return QKeySequence(text(), QKeySequence::NativeText);
}

void HotKeyChoice::store() const
{
    storeOrRemove(Key::ShortkeyFirst, first);
    storeOrRemove(Key::ShortkeyMiddle, middle);
    clipUtils::settings()->setValue(QLatin1String(Key::ShortkeyLast), last);
}

void HotKeyChoice::storeSwitchedOff()
{
    QSettings *s = clipUtils::settings();
    s->remove(QLatin1String(Key::ShortkeyFirst));
    s->remove(QLatin1String(Key::ShortkeyMiddle));
    s->remove(QLatin1String(Key::ShortkeyLast));
    s->setValue(QLatin1String(Key::ShortkeyEnabled), false);
}
