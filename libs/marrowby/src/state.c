/* The engine state: its folders and the list of loaded plugins. */

#include "engine.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static clip_state *live_states = NULL;

int engine_fail(clip_state *state, int code, const char *fmt, ...)
{
    if (state) {
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(state->error, sizeof state->error, fmt, ap);
        va_end(ap);
    }
    return code;
}

void engine_clear_error(clip_state *state)
{
    state->error[0] = '\0';
}

clip_state *new_clip_state(void)
{
    clip_state *state = calloc(1, sizeof *state);
    if (!state)
        return NULL;
    state->next = live_states;
    live_states = state;
    return state;
}

static void unload_all(clip_state *state)
{
    for (int i = 0; i < state->count; ++i)
        plugin_free(state->items[i]);
    state->count = 0;
}

void free_clip_state(clip_state *state)
{
    if (!state)
        return;
    for (clip_state **link = &live_states; *link; link = &(*link)->next) {
        if (*link == state) {
            *link = state->next;
            break;
        }
    }
    unload_all(state);
    free(state->items);
    free(state->plugins_dir);
    free(state->tmp_dir);
    free(state);
}

/* path ends in "/"; missing parents are created too. */
static int ensure_dir(const char *path)
{
    if (path[0] != '/' && make_parents("", path) != 0)
        return -1;
    if (path[0] == '/' && make_parents("/", path + 1) != 0)
        return -1;
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? 0 : -1;
}

/* Staging folders are named "marrowby-..." and live only during one install or
 * removal; any found now were left by an interrupted run. */
static void clear_staging(const char *tmp_dir)
{
    DIR *d = opendir(tmp_dir);
    if (!d)
        return;
    struct dirent *e;
    while ((e = readdir(d)) != NULL) {
        if (strncmp(e->d_name, "marrowby-", 9) != 0)
            continue;
        char *path = path_join(tmp_dir, e->d_name);
        if (path)
            remove_tree(path);
        free(path);
    }
    closedir(d);
}

int init_with_path(const char *plugins_dir, const char *tmp_dir, clip_state *state)
{
    if (!state)
        return MARROWBY_E_STATE;
    engine_clear_error(state);
    if (!plugins_dir || !tmp_dir || !*plugins_dir || !*tmp_dir)
        return engine_fail(state, MARROWBY_E_STATE, "both folders are needed");
    char *p = with_slash(plugins_dir);
    char *t = with_slash(tmp_dir);
    if (!p || !t || ensure_dir(p) != 0 || ensure_dir(t) != 0) {
        free(p);
        free(t);
        return engine_fail(state, MARROWBY_E_IO, "cannot use the folders %s and %s", plugins_dir, tmp_dir);
    }
    free(state->plugins_dir);
    free(state->tmp_dir);
    state->plugins_dir = p;
    state->tmp_dir = t;
    clear_staging(t);
    return MARROWBY_OK;
}

static int by_name(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

int load_plugins(clip_state *state)
{
    if (!state || !state->plugins_dir)
        return 0;
    engine_clear_error(state);
    unload_all(state);
    DIR *d = opendir(state->plugins_dir);
    if (!d) {
        engine_fail(state, MARROWBY_E_IO, "cannot read %s", state->plugins_dir);
        return 0;
    }
    char **names = NULL;
    size_t n = 0, cap = 0;
    struct dirent *e;
    while ((e = readdir(d)) != NULL) {
        if (!id_valid(e->d_name))
            continue;
        if (n == cap) {
            cap = cap ? cap * 2 : 16;
            char **grown = realloc(names, cap * sizeof *names);
            if (!grown)
                break;
            names = grown;
        }
        if ((names[n] = strdup(e->d_name)) != NULL)
            ++n;
    }
    closedir(d);
    if (n > 1)
        qsort(names, n, sizeof *names, by_name);

    char last_error[sizeof state->error] = "";
    int loaded = 0;
    for (size_t i = 0; i < n; ++i) {
        char *dir = path_join(state->plugins_dir, names[i]);
        struct stat st;
        if (dir && stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) {
            int code = MARROWBY_OK;
            plugin_impl *plugin = plugin_open(state, dir, names[i], &code);
            if (plugin && engine_put(state, plugin) == MARROWBY_OK)
                ++loaded;
            else
                memcpy(last_error, state->error, sizeof last_error);
        }
        free(dir);
        free(names[i]);
    }
    free(names);
    memcpy(state->error, last_error, sizeof last_error);
    return loaded;
}

/* Keeps the list ordered by id; a plugin with the id of a loaded one replaces it. */
int engine_put(clip_state *state, plugin_impl *plugin)
{
    int at = 0;
    while (at < state->count && strcmp(state->items[at]->pub.id, plugin->pub.id) < 0)
        ++at;
    if (at < state->count && strcmp(state->items[at]->pub.id, plugin->pub.id) == 0) {
        plugin_free(state->items[at]);
        state->items[at] = plugin;
        return MARROWBY_OK;
    }
    if (state->count == state->capacity) {
        int cap = state->capacity ? state->capacity * 2 : 16;
        plugin_impl **grown = realloc(state->items, (size_t)cap * sizeof *grown);
        if (!grown) {
            plugin_free(plugin);
            return engine_fail(state, MARROWBY_E_IO, "out of memory");
        }
        state->items = grown;
        state->capacity = cap;
    }
    memmove(state->items + at + 1, state->items + at, (size_t)(state->count - at) * sizeof *state->items);
    state->items[at] = plugin;
    ++state->count;
    return MARROWBY_OK;
}

int unload_plugin(const char *plugin_id, clip_state *state)
{
    if (!state || !plugin_id)
        return MARROWBY_E_STATE;
    for (int i = 0; i < state->count; ++i) {
        if (strcmp(state->items[i]->pub.id, plugin_id) == 0) {
            plugin_free(state->items[i]);
            memmove(state->items + i, state->items + i + 1, (size_t)(state->count - i - 1) * sizeof *state->items);
            --state->count;
            return MARROWBY_OK;
        }
    }
    return MARROWBY_E_NOT_FOUND;
}

int remove_plugin(const char *plugin_id, clip_state *state)
{
    if (!state || !state->plugins_dir)
        return MARROWBY_E_STATE;
    engine_clear_error(state);
    if (!id_valid(plugin_id))
        return engine_fail(state, MARROWBY_E_BAD_ID, "not a plugin id");
    int at = -1;
    for (int i = 0; i < state->count; ++i) {
        if (strcmp(state->items[i]->pub.id, plugin_id) == 0)
            at = i;
    }
    char *dir = path_join(state->plugins_dir, plugin_id);
    struct stat st;
    int on_disk = dir && lstat(dir, &st) == 0;
    if (at < 0 && !on_disk) {
        free(dir);
        return engine_fail(state, MARROWBY_E_NOT_FOUND, "no plugin %s", plugin_id);
    }
    if (on_disk && S_ISLNK(st.st_mode)) {
        /* A folder linked in by hand: the link goes, never what it points to. */
        if (unlink(dir) != 0) {
            free(dir);
            return engine_fail(state, MARROWBY_E_IO, "cannot remove %s", plugin_id);
        }
    } else if (on_disk) {
        /* Moved aside first, so a deletion that stops half-way never leaves a
         * broken plugin behind in plugins_dir. */
        char *grave = make_temp_dir(state->tmp_dir, "marrowby-removed-");
        int moved = grave && rename(dir, grave) == 0;
        if (moved)
            remove_tree(grave);
        free(grave);
        if (!moved) {
            free(dir);
            return engine_fail(state, MARROWBY_E_IO, "cannot remove %s", plugin_id);
        }
    }
    free(dir);
    if (at >= 0) {
        plugin_free(state->items[at]);
        memmove(state->items + at, state->items + at + 1, (size_t)(state->count - at - 1) * sizeof *state->items);
        --state->count;
    }
    return MARROWBY_OK;
}

int plugin_count(const clip_state *state)
{
    return state ? state->count : 0;
}

clip_plugin *plugin_at(const clip_state *state, int index)
{
    if (!state || index < 0 || index >= state->count)
        return NULL;
    return &state->items[index]->pub;
}

const char *plugin_last_error(const clip_state *state)
{
    return state ? state->error : "";
}

/* Records are compared by address only: a handle kept across a removal is
 * recognised as stale instead of being dereferenced. */
static plugin_impl *find_live(const clip_plugin *record)
{
    for (clip_state *s = live_states; s; s = s->next) {
        for (int i = 0; i < s->count; ++i) {
            if (&s->items[i]->pub == record)
                return s->items[i];
        }
    }
    return NULL;
}

const char *plugin_execute_text(clip_plugin *record, const char *text)
{
    plugin_impl *plugin = record ? find_live(record) : NULL;
    if (!plugin)
        return NULL;
    engine_clear_error(plugin->owner);
    return plugin_run(plugin, text);
}
