#pragma once

#include <QByteArray>
#include <QStringList>

class QMimeData;

// The encoded bytes of an image offered on the clipboard, fetched without decoding
// them, so that the decoding can happen away from the main thread.
class ClipboardImage
{
public:
    // The bytes of the first offered image format that can be read, PNG first (the
    // order Qt's own conversion uses); empty when no such format is offered.
    // offered is data's formats(), listed once by the caller.
    static QByteArray encodedBytes(const QMimeData *data, const QStringList &offered);
};
