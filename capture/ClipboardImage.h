#pragma once

#include <QByteArray>
#include <QImage>
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
    // The image in the bytes. PNG is read by Qt's own reader alone; anything else
    // lets Qt ask its image plugins, which loads them all.
    static QImage decode(const QByteArray &encoded);
};
