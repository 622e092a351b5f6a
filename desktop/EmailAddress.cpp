#include "desktop/EmailAddress.h"

#include <QRegularExpression>

QString EmailAddress::normalise(const QString &typed)
{
    QString address = typed;
    address.remove(QLatin1Char(' '));
    return address;
}

bool EmailAddress::isValid(const QString &address)
{
    static const QRegularExpression pattern(
        QStringLiteral("\\A[a-zA-Z0-9_.+-]+@[a-zA-Z0-9.-]+\\.[a-zA-Z0-9\\-.]{2,5}\\z"));
    return pattern.match(address).hasMatch();
}
