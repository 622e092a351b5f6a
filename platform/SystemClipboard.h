#pragma once

#include <QClipboard>
#include <QObject>

class QMimeData;

// The desktop's clipboard as the program sees it, whatever window has the focus.
// Mirrors the part of QClipboard the program uses, so callers read the same either
// way. changed() fires for the program's own writes as well as for other programs'
// copies; ownsClipboard() tells the two apart.
class SystemClipboard : public QObject
{
    Q_OBJECT

public:
    // The current content; null when the clipboard is empty. Owned by the clipboard
    // and valid until the next change.
    virtual const QMimeData *mimeData(QClipboard::Mode mode = QClipboard::Clipboard) = 0;
    // Takes ownership of data and serves it for as long as the program runs or until
    // another program copies.
    virtual void setMimeData(QMimeData *data, QClipboard::Mode mode = QClipboard::Clipboard) = 0;
    void setText(const QString &text, QClipboard::Mode mode = QClipboard::Clipboard);
    QString text(QClipboard::Mode mode = QClipboard::Clipboard);
    // True while the content is the program's own last write.
    virtual bool ownsClipboard() const = 0;

    // The backend's clipboard, shared by the whole process.
    static SystemClipboard *system();

Q_SIGNALS:
    void changed(QClipboard::Mode mode);
};
