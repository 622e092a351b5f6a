/* The sandboxed lua_State every plugin runs in: a capped allocator, an
 * instruction budget enforced by a count hook, and only the libraries that
 * cannot reach the file system, the process or native code. */

#include "engine.h"

#include <lauxlib.h>
#include <lualib.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

marrowby_module_hook open_native_library = NULL;

/* Lua memory of every state together: one plugin holding its whole share
 * cannot starve the others of the process's address space. */
static size_t total_used = 0;

static void *limited_alloc(void *ud, void *ptr, size_t osize, size_t nsize)
{
    limits *lim = ud;
    size_t old = ptr ? osize : 0;
    if (nsize == 0) {
        free(ptr);
        lim->used -= old;
        total_used -= old;
        return NULL;
    }
    if (nsize > old
        && (nsize - old > lim->cap - lim->used || nsize - old > MARROWBY_TOTAL_MEMORY_LIMIT - total_used)) {
        lim->memory_tripped = 1;
        return NULL;
    }
    void *block = realloc(ptr, nsize);
    if (!block) {
        lim->memory_tripped = 1;
        return NULL;
    }
    lim->used = lim->used - old + nsize;
    total_used = total_used - old + nsize;
    return block;
}

static limits *limits_of(lua_State *L)
{
    void *ud = NULL;
    lua_getallocf(L, &ud);
    return ud;
}

/* Once the budget is spent the hook fires on every instruction of whatever
 * thread runs, so a plugin that catches the error with pcall is stopped again
 * at its next instruction and the unwinding reaches the engine. */
static void count_hook(lua_State *L, lua_Debug *ar)
{
    (void)ar;
    limits *lim = limits_of(L);
    if (lim->ticks_left > 0) {
        --lim->ticks_left;
        return;
    }
    lim->instructions_tripped = 1;
    lua_sethook(L, count_hook, LUA_MASKCOUNT, 1);
    luaL_error(L, "instruction limit reached");
}

/* Charges one hook period, as if the hook had fired; fails once the budget is spent. */
static void charge_period(lua_State *L)
{
    limits *lim = limits_of(L);
    if (lim->ticks_left > 0 && !lim->instructions_tripped) {
        --lim->ticks_left;
        return;
    }
    lim->instructions_tripped = 1;
    luaL_error(L, "instruction limit reached");
}

/* A new coroutine inherits the hook but starts its own count, so each one could
 * run just under a period unseen: creating one costs a whole period. */
static int charged_coroutine(lua_State *L)
{
    charge_period(L);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

/* Lua calls a message handler from inside the failing hook, where hooks are
 * off: after the limit error the plugin's handler never runs. */
static int guarded_handler(lua_State *L)
{
    if (limits_of(L)->instructions_tripped)
        return 1;
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

static int finish_xpcall(lua_State *L, int status, lua_KContext extra)
{
    if (status != LUA_OK && status != LUA_YIELD) {
        lua_pushboolean(L, 0);
        lua_pushvalue(L, -2);
        return 2;
    }
    return lua_gettop(L) - (int)extra;
}

/* xpcall as the base library has it, with the handler behind guarded_handler. */
static int limited_xpcall(lua_State *L)
{
    int n = lua_gettop(L);
    luaL_checktype(L, 2, LUA_TFUNCTION);
    lua_pushvalue(L, 2);
    lua_pushcclosure(L, guarded_handler, 1);
    lua_replace(L, 2);
    lua_pushboolean(L, 1);
    lua_pushvalue(L, 1);
    lua_rotate(L, 3, 2);
    int status = lua_pcallk(L, n - 2, LUA_MULTRET, 2, 2, finish_xpcall);
    return finish_xpcall(L, status, 2);
}

/* Full collections cost time no hook sees; plugins may only ask for the size. */
static int count_only_collectgarbage(lua_State *L)
{
    if (strcmp(luaL_optstring(L, 1, "collect"), "count") != 0)
        return luaL_error(L, "collectgarbage: only \"count\" is allowed");
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

/* string.rep of an empty text with a huge count loops in C for ages. */
static int bounded_rep(lua_State *L)
{
    size_t len = 0, seplen = 0;
    luaL_checklstring(L, 1, &len);
    lua_Integer n = luaL_checkinteger(L, 2);
    luaL_optlstring(L, 3, "", &seplen);
    if (n <= 0 || (len == 0 && seplen == 0)) {
        lua_pushliteral(L, "");
        return 1;
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

/* print has nowhere to go: a flood of it must not reach any stream. */
static int silent_print(lua_State *L)
{
    (void)L;
    return 0;
}

void sandbox_start_call(plugin_impl *plugin)
{
    plugin->lim.ticks_left = MARROWBY_INSTRUCTION_LIMIT / HOOK_PERIOD;
    plugin->lim.instructions_tripped = 0;
    plugin->lim.memory_tripped = 0;
}

/* load() with text chunks only: an explicit "b" mode is refused and every other
 * call is narrowed to "t", so crafted bytecode never reaches the VM. */
static int text_only_load(lua_State *L)
{
    const char *mode = luaL_optstring(L, 3, "bt");
    if (!strchr(mode, 't')) {
        lua_pushnil(L);
        lua_pushliteral(L, "binary chunks are not allowed");
        return 2;
    }
    int n = lua_gettop(L);
    if (n < 3) {
        lua_settop(L, 3); /* the env argument stays absent when it was */
        n = 3;
    }
    lua_pushliteral(L, "t");
    lua_replace(L, 3);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, n, LUA_MULTRET);
    return lua_gettop(L);
}

void sandbox_push_file(lua_State *L, const char *path, const char *chunkname)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        luaL_error(L, "cannot open %s", chunkname);
    if ((unsigned long long)st.st_size > MARROWBY_MAX_SCRIPT_BYTES)
        luaL_error(L, "%s is too large", chunkname);
    size_t size = (size_t)st.st_size;
    /* A userdata buffer: a Lua error below cannot leak it. */
    char *buf = lua_newuserdata(L, size ? size : 1);
    FILE *f = fopen(path, "rb");
    if (!f)
        luaL_error(L, "cannot open %s", chunkname);
    size_t got = fread(buf, 1, size, f);
    fclose(f);
    if (got != size)
        luaL_error(L, "cannot read %s", chunkname);
    if (luaL_loadbufferx(L, buf, size, chunkname, "t") != LUA_OK)
        lua_error(L);
    lua_remove(L, -2);
}

static int module_name_valid(const char *name)
{
    size_t n = strlen(name);
    if (n == 0 || n > 128 || name[0] == '.' || name[n - 1] == '.')
        return 0;
    for (size_t i = 0; i < n; ++i) {
        char c = name[i];
        int ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
                 || (c == '.' && name[i + 1] != '.');
        if (!ok)
            return 0;
    }
    return 1;
}

/* require: modules already loaded ("app", the standard tables) and Lua files
 * shipped inside the plugin's own folder; never native code. */
static int plugin_require(lua_State *L)
{
    plugin_impl *plugin = lua_touserdata(L, lua_upvalueindex(1));
    const char *name = luaL_checkstring(L, 1);
    lua_settop(L, 1);
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
    if (lua_getfield(L, 2, name) != LUA_TNIL)
        return 1;
    lua_pop(L, 1);
    if (!module_name_valid(name))
        return luaL_error(L, "module '%s' not found", name);

    luaL_Buffer b;
    luaL_buffinit(L, &b);
    luaL_addstring(&b, plugin->dir);
    for (const char *c = name; *c; ++c)
        luaL_addchar(&b, *c == '.' ? '/' : *c);
    luaL_addstring(&b, ".lua");
    luaL_pushresult(&b);
    const char *path = lua_tostring(L, -1);
    struct stat st;
    if (stat(path, &st) != 0)
        return luaL_error(L, "module '%s' not found", name);
    lua_pushfstring(L, "=%s.lua", name);
    sandbox_push_file(L, path, lua_tostring(L, -1));
    lua_pushstring(L, name);
    lua_call(L, 1, 1);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        lua_pushboolean(L, 1);
    }
    lua_pushvalue(L, -1);
    lua_setfield(L, 2, name);
    return 1;
}

/* Lua runs __gc metamethods with hooks switched off, so a looping finalizer
 * could never be stopped: metatables that carry one are refused. Adding __gc
 * to a metatable later does not mark its objects for finalization. */
static int no_finalizer_setmetatable(lua_State *L)
{
    if (lua_type(L, 2) == LUA_TTABLE) {
        lua_pushliteral(L, "__gc");
        if (lua_rawget(L, 2) != LUA_TNIL)
            return luaL_error(L, "__gc metamethods are not allowed");
        lua_pop(L, 1);
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, 1);
    return 1;
}

static void open_lib(lua_State *L, const char *name, lua_CFunction open)
{
    luaL_requiref(L, name, open, 1);
    lua_pop(L, 1);
}

static void drop_field(lua_State *L, const char *table, const char *field)
{
    lua_getglobal(L, table);
    lua_pushnil(L);
    lua_setfield(L, -2, field);
    lua_pop(L, 1);
}

/* table.field = wrapper closing over the original function. */
static void wrap_field(lua_State *L, const char *table, const char *field, lua_CFunction wrapper)
{
    lua_getglobal(L, table);
    lua_getfield(L, -1, field);
    lua_pushcclosure(L, wrapper, 1);
    lua_setfield(L, -2, field);
    lua_pop(L, 1);
}

static int open_sandbox(lua_State *L)
{
    plugin_impl *plugin = lua_touserdata(L, 1);
    open_lib(L, "_G", luaopen_base);
    open_lib(L, LUA_COLIBNAME, luaopen_coroutine);
    open_lib(L, LUA_STRLIBNAME, luaopen_string);
    open_lib(L, LUA_TABLIBNAME, luaopen_table);
    open_lib(L, LUA_MATHLIBNAME, luaopen_math);
    open_lib(L, LUA_UTF8LIBNAME, luaopen_utf8);

    /* os: the clock functions only. */
    luaopen_os(L);
    lua_createtable(L, 0, 3);
    static const char *const keep[] = {"time", "date", "clock"};
    for (int i = 0; i < 3; ++i) {
        lua_getfield(L, -2, keep[i]);
        lua_setfield(L, -2, keep[i]);
    }
    luaL_getsubtable(L, LUA_REGISTRYINDEX, LUA_LOADED_TABLE);
    lua_pushvalue(L, -2);
    lua_setfield(L, -2, LUA_OSLIBNAME);
    lua_pop(L, 1);
    lua_setglobal(L, LUA_OSLIBNAME);
    lua_pop(L, 1);

    lua_pushnil(L);
    lua_setglobal(L, "dofile");
    lua_pushnil(L);
    lua_setglobal(L, "loadfile");
    drop_field(L, LUA_STRLIBNAME, "dump");
    lua_getglobal(L, "load");
    lua_pushcclosure(L, text_only_load, 1);
    lua_setglobal(L, "load");
    lua_getglobal(L, "setmetatable");
    lua_pushcclosure(L, no_finalizer_setmetatable, 1);
    lua_setglobal(L, "setmetatable");
    lua_getglobal(L, "xpcall");
    lua_pushcclosure(L, limited_xpcall, 1);
    lua_setglobal(L, "xpcall");
    lua_getglobal(L, "collectgarbage");
    lua_pushcclosure(L, count_only_collectgarbage, 1);
    lua_setglobal(L, "collectgarbage");
    lua_pushcfunction(L, silent_print);
    lua_setglobal(L, "print");
    wrap_field(L, LUA_COLIBNAME, "create", charged_coroutine);
    wrap_field(L, LUA_COLIBNAME, "wrap", charged_coroutine);
    wrap_field(L, LUA_STRLIBNAME, "rep", bounded_rep);
    lua_pushlightuserdata(L, plugin);
    lua_pushcclosure(L, plugin_require, 1);
    lua_setglobal(L, "require");

    if (open_native_library)
        open_native_library(L);
    return 0;
}

lua_State *sandbox_new(plugin_impl *plugin, char *err, size_t errlen)
{
    plugin->lim.used = 0;
    plugin->lim.cap = MARROWBY_MEMORY_LIMIT;
    lua_State *L = lua_newstate(limited_alloc, &plugin->lim);
    if (!L) {
        snprintf(err, errlen, "memory limit reached");
        return NULL;
    }
    lua_sethook(L, count_hook, LUA_MASKCOUNT, HOOK_PERIOD);
    sandbox_start_call(plugin);
    lua_pushcfunction(L, open_sandbox);
    lua_pushlightuserdata(L, plugin);
    int status = lua_pcall(L, 1, 0, 0);
    if (status != LUA_OK) {
        plugin->L = L;
        sandbox_describe_failure(plugin, status, err, errlen);
        sandbox_close(plugin);
        return NULL;
    }
    return L;
}

void sandbox_close(plugin_impl *plugin)
{
    if (!plugin->L)
        return;
    lua_close(plugin->L);
    plugin->L = NULL;
}

void sandbox_describe_failure(plugin_impl *plugin, int status, char *buf, size_t len)
{
    lua_State *L = plugin->L;
    if (plugin->lim.instructions_tripped) {
        snprintf(buf, len, "instruction limit reached");
    } else if (status == LUA_ERRMEM || plugin->lim.memory_tripped) {
        snprintf(buf, len, "memory limit reached");
    } else if (L && lua_type(L, -1) == LUA_TSTRING) {
        snprintf(buf, len, "%s", lua_tostring(L, -1));
    } else {
        snprintf(buf, len, "error object is not a string");
    }
}

int sandbox_check_syntax(const char *buf, size_t len, char *err, size_t errlen)
{
    limits lim = {0, MARROWBY_MAX_SCRIPT_BYTES * 16u, 0, 0, 0};
    lua_State *L = lua_newstate(limited_alloc, &lim);
    if (!L) {
        snprintf(err, errlen, "memory limit reached");
        return 0;
    }
    /* Compiling runs no plugin code; the text-only mode refuses bytecode. */
    int status = luaL_loadbufferx(L, buf, len, "=plugin.lua", "t");
    if (status != LUA_OK)
        snprintf(err, errlen, "%s", lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "cannot compile");
    lua_close(L);
    return status == LUA_OK;
}
