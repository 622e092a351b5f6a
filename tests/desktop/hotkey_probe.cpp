// Another X client asking for a hot key:  hotkey_probe <modifiers> <virtual key> [hold]
// Exits 0 when it got the grab (nobody else holds the key) and 1 when the key is
// taken. With "hold" it keeps the grab, prints "held", and exits when its input closes.
#include "platform/HotKeyRegistrar.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const quint32 modifiers = QByteArray(argv[1]).toUInt(nullptr, 0);
    const quint32 key = QByteArray(argv[2]).toUInt(nullptr, 0);
    if (!HotKeyRegistrar::system()->registerHotKey(1, modifiers, key))
        return 1;
    if (argc < 4 || qstrcmp(argv[3], "hold") != 0)
        return 0;
    std::printf("held\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&app] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    return app.exec();
}
