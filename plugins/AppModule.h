#pragma once

#include <QByteArray>

struct lua_State;

// The Lua module "app" the host offers to every plugin state.
extern "C" {
// Stored in the engine's open_native_library hook: requires "app" with
// openAppModule and sets it as a global of that name.
int registerAppModule(lua_State *L);
int openAppModule(lua_State *L);
}

namespace AppModule {
// app.openURL's work: decodes the address from UTF-8, parses it tolerantly and
// opens web and mail addresses with the desktop; anything else is refused with
// a log line.
void openAddress(const QByteArray &utf8);
} // namespace AppModule
