/* One plugin: its record, its lua_State and its run function. */

#include "engine.h"

#include <lauxlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

enum { FIELD_ID, FIELD_NAME, FIELD_DESCRIPTION, FIELD_VERSION, FIELD_AUTHOR, FIELD_HOMEPAGE, FIELD_COUNT };
static const char *const field_names[FIELD_COUNT] = {"id", "name", "description", "version", "author", "homepage"};

/* Protected: runs plugin.lua, keeps run() in the registry and leaves the
 * record's texts (string or nil) on the stack. */
static int run_script(lua_State *L)
{
    plugin_impl *plugin = lua_touserdata(L, 1);
    lua_settop(L, 0);
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    luaL_addstring(&b, plugin->dir);
    luaL_addstring(&b, "plugin.lua");
    luaL_pushresult(&b);
    sandbox_push_file(L, lua_tostring(L, -1), "=plugin.lua");
    lua_call(L, 0, 1);
    if (!lua_istable(L, -1))
        return luaL_error(L, "plugin.lua must return a table");
    int table = lua_gettop(L);
    if (lua_getfield(L, table, "run") != LUA_TFUNCTION)
        return luaL_error(L, "the plugin table has no run function");
    plugin->run_ref = luaL_ref(L, LUA_REGISTRYINDEX);
    for (int i = 0; i < FIELD_COUNT; ++i) {
        int type = lua_getfield(L, table, field_names[i]);
        if (type == LUA_TNUMBER)
            lua_tostring(L, -1); /* version = 1.2 is common */
        else if (type != LUA_TSTRING) {
            lua_pop(L, 1);
            lua_pushnil(L);
        }
    }
    return FIELD_COUNT;
}

static const char *copy_text(lua_State *L, int index)
{
    const char *s = lua_isstring(L, index) ? lua_tostring(L, index) : "";
    return strdup(s);
}

static void free_texts(clip_plugin *r)
{
    free((char *)r->name);
    free((char *)r->description);
    free((char *)r->version);
    free((char *)r->id);
    free((char *)r->author);
    free((char *)r->extra);
    memset(r, 0, sizeof *r);
}

static int loading = 0;

int plugin_loading(void)
{
    return loading;
}

/* Builds the lua_State and runs plugin.lua. On the first load the record's
 * texts are taken from the returned table; a rebuild only checks the id. */
static int plugin_boot(plugin_impl *plugin, const char *expected_id)
{
    clip_state *owner = plugin->owner;
    char err[400];
    plugin->L = sandbox_new(plugin, err, sizeof err);
    if (!plugin->L)
        return engine_fail(owner, MARROWBY_E_BAD_SCRIPT, "plugin.lua: %s", err);
    lua_State *L = plugin->L;
    sandbox_start_call(plugin);
    lua_pushcfunction(L, run_script);
    lua_pushlightuserdata(L, plugin);
    loading = 1;
    int status = lua_pcall(L, 1, FIELD_COUNT, 0);
    loading = 0;
    if (status != LUA_OK) {
        sandbox_describe_failure(plugin, status, err, sizeof err);
        sandbox_close(plugin);
        return engine_fail(owner, MARROWBY_E_BAD_SCRIPT, "plugin.lua: %s", err);
    }
    int base = lua_gettop(L) - FIELD_COUNT + 1;
    const char *id = lua_tostring(L, base + FIELD_ID);
    int code = MARROWBY_OK;
    if (!id_valid(id)) {
        code = engine_fail(owner, MARROWBY_E_BAD_ID, "plugin.lua: the id must match [a-z0-9_.-]{1,64}");
    } else if (expected_id && strcmp(id, expected_id) != 0) {
        code = engine_fail(owner, MARROWBY_E_BAD_ID, "plugin.lua: id \"%s\" does not match its folder \"%s\"", id,
                           expected_id);
    } else if (!lua_isstring(L, base + FIELD_NAME) || !*lua_tostring(L, base + FIELD_NAME)) {
        code = engine_fail(owner, MARROWBY_E_BAD_SCRIPT, "plugin.lua: the plugin table has no name");
    } else if (!plugin->pub.id) {
        clip_plugin *r = &plugin->pub;
        r->id = copy_text(L, base + FIELD_ID);
        r->name = copy_text(L, base + FIELD_NAME);
        r->description = copy_text(L, base + FIELD_DESCRIPTION);
        r->version = copy_text(L, base + FIELD_VERSION);
        r->author = copy_text(L, base + FIELD_AUTHOR);
        r->extra = copy_text(L, base + FIELD_HOMEPAGE);
        if (!r->id || !r->name || !r->description || !r->version || !r->author || !r->extra) {
            free_texts(r);
            code = engine_fail(owner, MARROWBY_E_IO, "out of memory");
        }
    }
    lua_settop(L, 0);
    if (code != MARROWBY_OK)
        sandbox_close(plugin);
    return code;
}

plugin_impl *plugin_open(clip_state *owner, const char *dir, const char *expected_id, int *code)
{
    plugin_impl *plugin = calloc(1, sizeof *plugin);
    if (!plugin || !(plugin->dir = with_slash(dir))) {
        free(plugin);
        *code = engine_fail(owner, MARROWBY_E_IO, "out of memory");
        return NULL;
    }
    plugin->owner = owner;
    plugin->run_ref = LUA_NOREF;
    char *script = path_join(plugin->dir, "plugin.lua");
    struct stat st;
    int present = script && stat(script, &st) == 0 && S_ISREG(st.st_mode);
    free(script);
    *code = present ? plugin_boot(plugin, expected_id)
                    : engine_fail(owner, MARROWBY_E_NO_SCRIPT, "no plugin.lua in %s", plugin->dir);
    if (*code != MARROWBY_OK) {
        plugin_free(plugin);
        return NULL;
    }
    return plugin;
}

void plugin_free(plugin_impl *plugin)
{
    if (!plugin)
        return;
    sandbox_close(plugin);
    free_texts(&plugin->pub);
    free(plugin->dir);
    free(plugin->result);
    free(plugin);
}

int plugin_set_dir(plugin_impl *plugin, const char *dir)
{
    char *copy = with_slash(dir);
    if (!copy)
        return MARROWBY_E_IO;
    free(plugin->dir);
    plugin->dir = copy;
    return MARROWBY_OK;
}

typedef struct run_call {
    plugin_impl *plugin;
    const char *text;
} run_call;

static int call_run(lua_State *L)
{
    run_call *call = lua_touserdata(L, 1);
    lua_rawgeti(L, LUA_REGISTRYINDEX, call->plugin->run_ref);
    lua_pushstring(L, call->text);
    lua_call(L, 1, 1);
    int type = lua_type(L, -1);
    if (type == LUA_TNUMBER)
        lua_tostring(L, -1);
    else if (type != LUA_TSTRING && type != LUA_TNIL)
        return luaL_error(L, "run returned a %s instead of a string", lua_typename(L, type));
    return 1;
}

const char *plugin_run(plugin_impl *plugin, const char *text)
{
    clip_state *owner = plugin->owner;
    free(plugin->result);
    plugin->result = NULL;
    if (!plugin->L && plugin_boot(plugin, plugin->pub.id) != MARROWBY_OK)
        return NULL;
    lua_State *L = plugin->L;
    run_call call = {plugin, text ? text : ""};
    sandbox_start_call(plugin);
    lua_pushcfunction(L, call_run);
    lua_pushlightuserdata(L, &call);
    int status = lua_pcall(L, 1, 1, 0);
    if (status != LUA_OK || plugin->lim.instructions_tripped) {
        char err[400];
        sandbox_describe_failure(plugin, status, err, sizeof err);
        engine_fail(owner, MARROWBY_E_BAD_SCRIPT, "%s: %s", plugin->pub.id, err);
        /* Whatever the plugin left half-built goes with its state. */
        sandbox_close(plugin);
        return NULL;
    }
    if (lua_type(L, -1) == LUA_TSTRING) {
        size_t len = 0;
        const char *s = lua_tolstring(L, -1, &len);
        plugin->result = malloc(len + 1);
        if (plugin->result)
            memcpy(plugin->result, s, len + 1);
        else
            engine_fail(owner, MARROWBY_E_IO, "out of memory");
    }
    lua_settop(L, 0);
    return plugin->result;
}

clip_plugin *load_plugin_dir(clip_state *state, const char *dir, const char *expected_id, int *code)
{
    int local = MARROWBY_OK;
    if (!code)
        code = &local;
    if (!state || !dir) {
        *code = MARROWBY_E_STATE;
        return NULL;
    }
    engine_clear_error(state);
    if (expected_id && !*expected_id)
        expected_id = NULL;
    plugin_impl *plugin = plugin_open(state, dir, expected_id, code);
    if (!plugin)
        return NULL;
    clip_plugin *record = &plugin->pub;
    *code = engine_put(state, plugin);
    return *code == MARROWBY_OK ? record : NULL;
}
