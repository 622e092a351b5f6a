#include "app/EntryCheck.h"

#include "app/Constants.h"
#include "app/clipUtils.h"

bool EntryCheck::textMayBelong(const QString &content, const QString &fileHash)
{
    if (clipUtils::md5Hex(content.toUtf8()) == fileHash)
        return true;
    // Not the whole text, so a preview: folded white space reads as single spaces, and
    // an untruncated preview that differs from its text must have folded some.
    if (clipUtils::previewText(content) != content)
        return false;
    return content.size() > Zorvel::kPreviewLength || content.contains(QLatin1Char(' '));
}

bool EntryCheck::hashNamesPlainBytes(const QString &type)
{
    return type.startsWith(QLatin1String("text_")) || type.startsWith(QLatin1String(Zorvel::EntryType::FilePrefix));
}
