#include "plugins/AppModule.h"

#include "platform/DesktopOpener.h"

#include <lauxlib.h>
#include <lua.h>

#include <QString>
#include <QUrl>

#include <climits>

namespace {

// Lua raises errors with longjmp, so this frame holds no object with a
// destructor: all Qt work happens inside AppModule::openAddress.
int openURL(lua_State *L)
{
    size_t length = 0;
    const char *address = lua_isstring(L, 1) ? lua_tolstring(L, 1, &length) : nullptr;
    if (address)
        AppModule::openAddress(QByteArray(address, int(qMin<size_t>(length, INT_MAX))));
    lua_pushstring(L, "");
    return 1;
}

const luaL_Reg appFunctions[] = {
    {"openURL", openURL},
    {nullptr, nullptr},
};

} // namespace

extern "C" int openAppModule(lua_State *L)
{
    luaL_checkversion(L);
    lua_createtable(L, 0, 1);
    luaL_setfuncs(L, appFunctions, 0);
    return 1;
}

extern "C" int registerAppModule(lua_State *L)
{
    luaL_requiref(L, "app", openAppModule, 1);
    lua_pop(L, 1);
    return 0;
}

void AppModule::openAddress(const QByteArray &utf8)
{
    try {
        const QUrl url(QString::fromUtf8(utf8), QUrl::TolerantMode);
        // A sandboxed plugin may show a page or start a mail, never make the
        // desktop open local files or other handlers.
        const QString scheme = url.scheme();
        if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")
                               && scheme != QLatin1String("mailto"))) {
            qWarning("plugin openURL: refused an address that is not a web or mail address");
            return;
        }
        if (!DesktopOpener::open(url))
            qWarning("plugin openURL: the desktop could not open the address");
    } catch (...) {
        // Nothing may unwind into the Lua core.
    }
}
