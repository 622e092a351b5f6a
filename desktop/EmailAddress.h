#pragma once

#include <QString>

// The e-mail address typed on the sign-in tab.
class EmailAddress
{
public:
    // The text with every space removed.
    static QString normalise(const QString &typed);
    // Name, "@", host, a dot and an ending of 2 to 5 characters; case-sensitive,
    // the whole text must match.
    static bool isValid(const QString &address);
};
