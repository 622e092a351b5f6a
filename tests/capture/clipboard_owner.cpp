// Test helper: another X11 client that owns the clipboard with several formats at
// once (xclip offers only one).
//   clipboard_owner FORMAT=VALUE...
// VALUE "@path" reads the bytes from a file; FORMAT "image" sets an image (from a
// file). The program ends when another client takes the clipboard.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    auto *data = new QMimeData;
    for (const QString &arg : app.arguments().mid(1)) {
        const QString format = arg.section(QLatin1Char('='), 0, 0);
        const QString value = arg.section(QLatin1Char('='), 1);
        QByteArray bytes = value.toUtf8();
        if (value.startsWith(QLatin1Char('@'))) {
            QFile file(value.mid(1));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "clipboard_owner: cannot read %s\n", qPrintable(file.fileName()));
                return 2;
            }
            bytes = file.readAll();
        }
        if (format == QLatin1String("image"))
            data->setImageData(QImage::fromData(bytes));
        else
            data->setData(format, bytes);
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    QObject::connect(clipboard, &QClipboard::changed, [&](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard && !clipboard->ownsClipboard())
            app.quit();
    });
    clipboard->setMimeData(data);
    return app.exec();
}
