#ifndef MARROWBY_H
#define MARROWBY_H

/*
 * marrowby: the Zorvel plugin engine. Runs Lua 5.3 plugins, one sandboxed
 * lua_State per plugin, and installs them from ".cpk" packages (zip archives).
 *
 * Texts are zero-terminated UTF-8 byte strings; paths are in the file system's
 * own encoding. The engine is not thread-safe: call it from one thread.
 * README.md next to this header documents the package format for authors.
 */

#include <stddef.h>

#if defined(__GNUC__)
#define MARROWBY_API __attribute__((visibility("default")))
#else
#define MARROWBY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct lua_State;

/* Return codes of init_with_path, install_plugin and remove_plugin. */
enum marrowby_code {
    MARROWBY_OK = 0,
    MARROWBY_E_STATE = 1,       /* null state, or init_with_path not called / failed */
    MARROWBY_E_OPEN = 2,        /* package missing, unreadable or not a zip archive */
    MARROWBY_E_TOO_LARGE = 3,   /* archive, an entry or the unpacked total over its bound */
    MARROWBY_E_TOO_MANY = 4,    /* more entries than allowed */
    MARROWBY_E_UNSAFE_PATH = 5, /* absolute name, "..", "." or empty component, backslash, duplicate */
    MARROWBY_E_NO_SCRIPT = 6,   /* no plugin.lua at the archive's top level */
    MARROWBY_E_BAD_SCRIPT = 7,  /* plugin.lua does not load, fails, or returns no valid table */
    MARROWBY_E_BAD_ID = 8,      /* id missing or not matching [a-z0-9_.-]{1,64} (or starting with ".") */
    MARROWBY_E_IO = 9,          /* reading the archive or writing the plugin folder failed */
    MARROWBY_E_NOT_FOUND = 10,  /* remove_plugin: no plugin with that id */
    MARROWBY_E_UNSUPPORTED = 11 /* an entry is encrypted or uses an unsupported compression */
};

/* Bounds enforced by install_plugin and by every plugin run. */
#define MARROWBY_MAX_ARCHIVE_BYTES (8u * 1024u * 1024u)
#define MARROWBY_MAX_UNPACKED_BYTES (32u * 1024u * 1024u)
#define MARROWBY_MAX_ENTRIES 256
#define MARROWBY_MAX_SCRIPT_BYTES (1024u * 1024u)
#define MARROWBY_MAX_ID_LENGTH 64
#define MARROWBY_MEMORY_LIMIT (64u * 1024u * 1024u)  /* bytes per plugin state */
#define MARROWBY_TOTAL_MEMORY_LIMIT (160u * 1024u * 1024u) /* bytes of all states of the process */
#define MARROWBY_INSTRUCTION_LIMIT 100000000ul       /* VM instructions per call */

/* One installed plugin. Texts are never null ("" when the plugin left them out).
 * extra is the plugin's optional "homepage". The record lives as long as the
 * plugin stays loaded: removal, reinstallation and free_clip_state end it. */
typedef struct clip_plugin {
    const char *name;
    const char *description;
    const char *version;
    const char *id;
    const char *author;
    const char *extra;
} clip_plugin;

typedef struct clip_state clip_state;

/* The host's module hook: called with every lua_State the engine prepares,
 * after the sandboxed libraries are open and before plugin code runs. It runs
 * in protected mode, so it may raise Lua errors (which fail that plugin). */
typedef int (*marrowby_module_hook)(struct lua_State *L);
MARROWBY_API extern marrowby_module_hook open_native_library;

MARROWBY_API clip_state *new_clip_state(void);
MARROWBY_API void free_clip_state(clip_state *state);

/* Remembers both folders (created when missing; they must be on one file
 * system) and clears staging folders a crash may have left in tmp_dir. */
MARROWBY_API int init_with_path(const char *plugins_dir, const char *tmp_dir, clip_state *state);

/* Loads every plugins_dir/<id>/plugin.lua. Returns how many loaded; plugins
 * that fail are skipped (plugin_last_error names the last one). */
MARROWBY_API int load_plugins(clip_state *state);

/* Validates the package, unpacks it into tmp_dir, loads it there and only then
 * moves it to plugins_dir/<id>/, replacing an older version in one rename.
 * Returns MARROWBY_OK or one of the codes above; nothing is left behind on failure. */
MARROWBY_API int install_plugin(const char *package_path, clip_state *state);

/* install_plugin in two steps, for hosts that load plugin code elsewhere:
 * stage_plugin checks the package and unpacks it into a new folder in tmp_dir
 * (its path, ending in "/", is written to staging, which holds staging_len
 * bytes) without running any of its code; commit_plugin then moves that folder
 * to plugins_dir/<plugin_id>/, replacing an installed version in one step, and
 * discard_staged deletes it instead. Neither touches the loaded plugins. */
MARROWBY_API int stage_plugin(const char *package_path, clip_state *state, char *staging, size_t staging_len);
MARROWBY_API int commit_plugin(const char *staging, const char *plugin_id, clip_state *state);
MARROWBY_API void discard_staged(const char *staging, clip_state *state);

/* Loads the plugin in dir (a plugin folder or a staging folder) and adds it to
 * the state, replacing a loaded plugin with the same id. expected_id NULL or ""
 * accepts any valid id. Returns its record, or NULL with the return code in *code
 * (when code is not NULL) and the reason in plugin_last_error. */
MARROWBY_API clip_plugin *load_plugin_dir(clip_state *state, const char *dir, const char *expected_id, int *code);

/* Non-zero while plugin.lua runs (at load or rebuild): the host's module uses
 * it to refuse actions that need a user's request. */
MARROWBY_API int plugin_loading(void);

/* Unloads the plugin (its Lua state and record) and leaves its folder. */
MARROWBY_API int unload_plugin(const char *plugin_id, clip_state *state);

/* Unloads the plugin and deletes its folder. */
MARROWBY_API int remove_plugin(const char *plugin_id, clip_state *state);

/* Runs the plugin's run(text). Returns its string result (a number is turned
 * into text), or NULL when it returned nil, failed, hit a limit, or record is
 * not a live record of any state. The returned text is owned by the engine and
 * stays valid until the next call of plugin_execute_text or of any function that
 * changes the plugin list. After a failure the plugin's state is rebuilt from
 * its folder on the next run. */
MARROWBY_API const char *plugin_execute_text(clip_plugin *record, const char *text);

/* The installed plugins, ordered by id. plugin_at returns NULL out of range. */
MARROWBY_API int plugin_count(const clip_state *state);
MARROWBY_API clip_plugin *plugin_at(const clip_state *state, int index);

/* Why the last failing call on this state failed ("" when nothing failed).
 * Run failures may quote the plugin's own error message. */
MARROWBY_API const char *plugin_last_error(const clip_state *state);

#ifdef __cplusplus
}
#endif

#endif
