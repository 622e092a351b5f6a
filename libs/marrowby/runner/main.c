/* zorvel-plugin-runner: owns every plugin's Lua state on behalf of the program,
 * which talks to it over stdin/stdout in frames (README.md, "The plugin runner").
 * It locks itself down before the first request, answers one request at a time
 * and leaves at the end of its input. */

#include "frame.h"
#include "lockdown.h"

#include <marrowby.h>

#include <lauxlib.h>
#include <lua.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#define URL_MAX_BYTES 2048

static clip_state *engine;

/* The one address app.openURL asked for during the current run. */
static char pending_url[URL_MAX_BYTES + 1];
static size_t pending_url_len;
static int url_asked;

/* app.openURL: the runner cannot open anything; it hands the first address of
 * a run back with the result and the program asks the user. Never at load. */
static int open_url(lua_State *L)
{
    size_t len = 0;
    const char *address = lua_isstring(L, 1) ? lua_tolstring(L, 1, &len) : NULL;
    if (address && !plugin_loading() && !url_asked && len > 0 && len <= URL_MAX_BYTES) {
        memcpy(pending_url, address, len);
        pending_url_len = len;
        url_asked = 1;
    }
    lua_pushliteral(L, "");
    return 1;
}

static int open_app(lua_State *L)
{
    luaL_checkversion(L);
    lua_createtable(L, 0, 1);
    lua_pushcfunction(L, open_url);
    lua_setfield(L, -2, "openURL");
    return 1;
}

static int register_app(lua_State *L)
{
    luaL_requiref(L, "app", open_app, 1);
    lua_pop(L, 1);
    return 0;
}

static int reply(char kind, int count, const char *const *texts, const size_t *lengths)
{
    return frame_write(1, kind, count, texts, lengths);
}

/* 'E' [message, engine return code in decimal]. */
static int reply_error_code(const char *message, int code)
{
    char number[16];
    snprintf(number, sizeof number, "%d", code);
    const char *texts[] = {message, number};
    size_t lengths[] = {strlen(message), strlen(number)};
    return reply('E', 2, texts, lengths);
}

static int reply_error(const char *message)
{
    return reply_error_code(message, MARROWBY_E_BAD_SCRIPT);
}

static int reply_record(const clip_plugin *r)
{
    const char *texts[] = {r->id, r->name, r->description, r->version, r->author, r->extra};
    size_t lengths[6];
    for (int i = 0; i < 6; ++i)
        lengths[i] = strlen(texts[i]);
    return reply('K', 6, texts, lengths);
}

static clip_plugin *find(const char *id)
{
    for (int i = 0; i < plugin_count(engine); ++i) {
        clip_plugin *p = plugin_at(engine, i);
        if (strcmp(p->id, id) == 0)
            return p;
    }
    return NULL;
}

/* 'L' [folder, expected id or ""]: loads (or reloads) a plugin. */
static int handle_load(const frame *f)
{
    if (f->count != 2)
        return reply_error("malformed load request");
    int code = MARROWBY_OK;
    const clip_plugin *r = load_plugin_dir(engine, f->field[0], f->field[1], &code);
    return r ? reply_record(r) : reply_error_code(plugin_last_error(engine), code);
}

/* 'R' [id, text]: runs a loaded plugin. Reply 'T' [kind, result, address]. */
static int handle_run(const frame *f)
{
    if (f->count != 2)
        return reply_error("malformed run request");
    clip_plugin *p = find(f->field[0]);
    if (!p)
        return reply_error("not loaded");
    if (strlen(f->field[1]) != f->length[1])
        return reply_error("the text holds a zero byte");
    url_asked = 0;
    pending_url_len = 0;
    const char *result = plugin_execute_text(p, f->field[1]);
    if (!result && strstr(plugin_last_error(engine), "memory limit reached") && plugin_count(engine) > 1) {
        /* The memory budget is shared: idle plugins give theirs back (the
         * program loads them again when it next runs them), so a plugin that
         * hoards memory cannot starve the others for good. */
        char keep[MARROWBY_MAX_ID_LENGTH + 1];
        snprintf(keep, sizeof keep, "%s", p->id);
        for (int i = plugin_count(engine) - 1; i >= 0; --i) {
            if (strcmp(plugin_at(engine, i)->id, keep) != 0)
                unload_plugin(plugin_at(engine, i)->id, engine);
        }
        p = find(keep);
        url_asked = 0;
        pending_url_len = 0;
        result = p ? plugin_execute_text(p, f->field[1]) : NULL;
    }
    if (!result && *plugin_last_error(engine))
        return reply_error(plugin_last_error(engine));
    const char *texts[] = {result ? "text" : "nil", result, pending_url};
    size_t lengths[] = {strlen(texts[0]), result ? strlen(result) : 0, pending_url_len};
    return reply('T', 3, texts, lengths);
}

/* 'U' [id]: drops a plugin's state (removed or replaced); 'K' [] either way. */
static int handle_unload(const frame *f)
{
    if (f->count != 1)
        return reply_error("malformed unload request");
    unload_plugin(f->field[0], engine);
    return reply('K', 0, NULL, NULL);
}

static double cpu_seconds(void)
{
    struct rusage ru;
    if (getrusage(RUSAGE_SELF, &ru) != 0)
        return 0;
    return (double)ru.ru_utime.tv_sec + (double)ru.ru_stime.tv_sec
           + ((double)ru.ru_utime.tv_usec + (double)ru.ru_stime.tv_usec) / 1e6;
}

int main(void)
{
    engine = new_clip_state();
    open_native_library = &register_app;
    char why[256];
    if (!engine || lockdown(why, sizeof why) != 0) {
        fprintf(stderr, "zorvel-plugin-runner: cannot lock down: %s\n", engine ? why : "out of memory");
        return 2;
    }
    for (;;) {
        frame f;
        int rc = frame_read(0, &f);
        if (rc == 0)
            _exit(0); /* the program closed the pipe */
        if (rc < 0) {
            frame_free(&f);
            reply_error("malformed frame");
            _exit(3);
        }
        if (f.kind == 'L')
            rc = handle_load(&f);
        else if (f.kind == 'R')
            rc = handle_run(&f);
        else if (f.kind == 'U')
            rc = handle_unload(&f);
        else
            rc = reply_error("unknown request");
        frame_free(&f);
        if (rc != 0)
            _exit(4);
        if (cpu_seconds() > RUNNER_CPU_RETIRE_SECONDS)
            _exit(0);
    }
}
