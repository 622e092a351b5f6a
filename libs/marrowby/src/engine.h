#ifndef MARROWBY_ENGINE_H
#define MARROWBY_ENGINE_H

/* Internal layout shared by the engine's source files. */

#include "marrowby.h"

#include <lua.h>

#include <stdarg.h>
#include <stddef.h>

/* The count hook fires every HOOK_PERIOD VM instructions. */
#define HOOK_PERIOD 1000

/* Accounting of one plugin's lua_State; also the allocator's user data. */
typedef struct limits {
    size_t used;
    size_t cap;
    unsigned long ticks_left; /* hook firings left in the current call */
    int instructions_tripped;
    int memory_tripped;
} limits;

typedef struct plugin_impl {
    clip_plugin pub; /* first: a record pointer is the plugin pointer */
    clip_state *owner;
    char *dir;       /* folder of plugin.lua, ending in "/" */
    lua_State *L;    /* NULL after a failure, until the next run rebuilds it */
    int run_ref;
    char *result;
    limits lim;
} plugin_impl;

struct clip_state {
    char *plugins_dir; /* ends in "/" */
    char *tmp_dir;     /* ends in "/" */
    plugin_impl **items;
    int count;
    int capacity;
    char error[512];
    clip_state *next; /* every live state, so stale records can be recognised */
};

/* state.c */
int engine_fail(clip_state *state, int code, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
void engine_clear_error(clip_state *state);
int engine_put(clip_state *state, plugin_impl *plugin); /* replaces the same id */

/* sandbox.c */
lua_State *sandbox_new(plugin_impl *plugin, char *err, size_t errlen);
void sandbox_close(plugin_impl *plugin);
void sandbox_start_call(plugin_impl *plugin);
/* Pushes the compiled text chunk in file `path` (errors as Lua errors). */
void sandbox_push_file(lua_State *L, const char *path, const char *chunkname);
int sandbox_check_syntax(const char *buf, size_t len, char *err, size_t errlen);
/* Describes why a protected call with `status` failed; the error object is on top. */
void sandbox_describe_failure(plugin_impl *plugin, int status, char *buf, size_t len);

/* plugin.c: opens dir/plugin.lua; expected_id NULL accepts any valid id. */
plugin_impl *plugin_open(clip_state *owner, const char *dir, const char *expected_id, int *code);
void plugin_free(plugin_impl *plugin);
int plugin_set_dir(plugin_impl *plugin, const char *dir);
const char *plugin_run(plugin_impl *plugin, const char *text);

/* fsutil.c */
char *path_join(const char *a, const char *b);
char *with_slash(const char *path);
int id_valid(const char *id);
int remove_tree(const char *path);
int make_parents(const char *base, const char *relative);
char *make_temp_dir(const char *parent, const char *prefix);

#endif
