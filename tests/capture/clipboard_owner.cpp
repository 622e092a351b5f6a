// Test helper: another X11 client that owns the clipboard with several formats at
// once (xclip offers only one).
//   clipboard_owner [--primary] FORMAT=VALUE... [--after MS FORMAT=VALUE...]...
// VALUE "@path" reads the bytes from a file; FORMAT "image" sets an image (from a
// file). Each --after group replaces the previous offer MS milliseconds later. The
// program ends when another client takes the selection after the last offer.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

struct Offer {
    int delayMs = 0;
    QList<QPair<QString, QString>> formats;
};

QByteArray valueBytes(const QString &value)
{
    if (!value.startsWith(QLatin1Char('@')))
        return value.toUtf8();
    QFile file(value.mid(1));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "clipboard_owner: cannot read %s\n", qPrintable(value.mid(1)));
        std::exit(2);
    }
    return file.readAll();
}

QMimeData *mimeData(const Offer &offer)
{
    auto *data = new QMimeData;
    for (const auto &format : offer.formats) {
        if (format.first == QLatin1String("image"))
            data->setImageData(QImage::fromData(valueBytes(format.second)));
        else
            data->setData(format.first, valueBytes(format.second));
    }
    return data;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QClipboard::Mode mode = QClipboard::Clipboard;
    QList<Offer> offers{Offer()};
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--primary")) {
            mode = QClipboard::Selection;
        } else if (args.at(i) == QLatin1String("--after") && i + 1 < args.size()) {
            offers.append(Offer{args.at(++i).toInt(), {}});
        } else {
            const int eq = args.at(i).indexOf(QLatin1Char('='));
            offers.last().formats.append({args.at(i).left(eq), args.at(i).mid(eq + 1)});
        }
    }

    QClipboard *clipboard = QGuiApplication::clipboard();
    int next = 0;
    std::function<void()> offerNext = [&]() {
        clipboard->setMimeData(mimeData(offers.at(next)), mode);
        if (++next < offers.size())
            QTimer::singleShot(offers.at(next).delayMs, offerNext);
    };
    QObject::connect(clipboard, &QClipboard::changed, [&](QClipboard::Mode changed) {
        if (changed == mode && next == offers.size() && !(mode == QClipboard::Clipboard ? clipboard->ownsClipboard()
                                                                                           : clipboard->ownsSelection()))
            app.quit();
    });
    offerNext();
    return app.exec();
}
