// Another X client asking for a hot key:  hotkey_probe <modifiers> <virtual key>
// Exits 0 when it got the grab (nobody else holds the key) and 1 when the key is taken.
#include "platform/HotKeyRegistrar.h"

#include <QGuiApplication>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const quint32 modifiers = QByteArray(argv[1]).toUInt(nullptr, 0);
    const quint32 key = QByteArray(argv[2]).toUInt(nullptr, 0);
    return HotKeyRegistrar::system()->registerHotKey(1, modifiers, key) ? 0 : 1;
}
