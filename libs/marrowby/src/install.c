/* install_plugin: every check that needs only the archive runs before a byte is
 * written; the package is then unpacked into a staging folder in tmp_dir,
 * loaded there, and renamed into plugins_dir/<id>/. */

#include "engine.h"

#include <zip.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

typedef struct entry {
    zip_uint64_t index;
    const char *name; /* owned by the archive */
    zip_uint64_t size;
    int is_dir;
} entry;

typedef struct archive {
    zip_t *zip;
    entry *entries;
    zip_int64_t count;
    zip_int64_t script; /* index into entries of plugin.lua */
} archive;

static int name_safe(const char *name)
{
    size_t n = strlen(name);
    if (n == 0 || n > 1024 || name[0] == '/' || strchr(name, '\\'))
        return 0;
    const char *s = name;
    while (*s) {
        const char *slash = strchr(s, '/');
        size_t len = slash ? (size_t)(slash - s) : strlen(s);
        if (len == 0 || len > 255 || (len == 1 && s[0] == '.') || (len == 2 && s[0] == '.' && s[1] == '.'))
            return 0;
        for (size_t i = 0; i < len; ++i) {
            if ((unsigned char)s[i] < 0x20)
                return 0;
        }
        if (!slash)
            break;
        s = slash + 1;
    }
    return 1;
}

static int is_symlink(zip_t *zip, zip_uint64_t index)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(zip, index, 0, &opsys, &attributes) != 0)
        return 0;
    return opsys == ZIP_OPSYS_UNIX && ((attributes >> 16) & S_IFMT) == S_IFLNK;
}

static int by_entry_name(const void *a, const void *b)
{
    const entry *x = a, *y = b;
    size_t lx = strlen(x->name) - (size_t)x->is_dir, ly = strlen(y->name) - (size_t)y->is_dir;
    int c = strncmp(x->name, y->name, lx < ly ? lx : ly);
    return c ? c : (lx > ly) - (lx < ly);
}

static int check_entries(archive *a, clip_state *state)
{
    a->count = zip_get_num_entries(a->zip, 0);
    if (a->count < 0)
        return engine_fail(state, MARROWBY_E_OPEN, "cannot read the archive directory");
    if (a->count > MARROWBY_MAX_ENTRIES)
        return engine_fail(state, MARROWBY_E_TOO_MANY, "%lld entries, at most %d allowed", (long long)a->count,
                           MARROWBY_MAX_ENTRIES);
    a->entries = calloc((size_t)a->count + 1, sizeof *a->entries);
    if (!a->entries)
        return engine_fail(state, MARROWBY_E_IO, "out of memory");
    zip_uint64_t total = 0;
    a->script = -1;
    for (zip_int64_t i = 0; i < a->count; ++i) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(a->zip, (zip_uint64_t)i, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME)
            || !(st.valid & ZIP_STAT_SIZE))
            return engine_fail(state, MARROWBY_E_OPEN, "cannot read entry %lld", (long long)i);
        entry *e = &a->entries[i];
        e->index = (zip_uint64_t)i;
        e->name = st.name;
        e->size = st.size;
        size_t len = strlen(st.name);
        e->is_dir = len > 0 && st.name[len - 1] == '/';
        if (!name_safe(st.name) || is_symlink(a->zip, e->index))
            return engine_fail(state, MARROWBY_E_UNSAFE_PATH, "unsafe entry name \"%s\"", st.name);
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
            return engine_fail(state, MARROWBY_E_UNSUPPORTED, "entry \"%s\" is encrypted", st.name);
        if ((st.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(st.comp_method, 0))
            return engine_fail(state, MARROWBY_E_UNSUPPORTED, "entry \"%s\" uses an unsupported compression", st.name);
        if (st.size > MARROWBY_MAX_UNPACKED_BYTES - total)
            return engine_fail(state, MARROWBY_E_TOO_LARGE, "the unpacked package exceeds %u bytes",
                               MARROWBY_MAX_UNPACKED_BYTES);
        total += st.size;
        if (strcmp(st.name, "plugin.lua") == 0) {
            if (st.size > MARROWBY_MAX_SCRIPT_BYTES)
                return engine_fail(state, MARROWBY_E_TOO_LARGE, "plugin.lua exceeds %u bytes",
                                   MARROWBY_MAX_SCRIPT_BYTES);
            a->script = i;
        }
    }
    if (a->script < 0)
        return engine_fail(state, MARROWBY_E_NO_SCRIPT, "no plugin.lua at the top of the package");

    /* The same name twice would let one entry overwrite another unseen. */
    entry *sorted = malloc(((size_t)a->count + 1) * sizeof *sorted);
    if (!sorted)
        return engine_fail(state, MARROWBY_E_IO, "out of memory");
    memcpy(sorted, a->entries, (size_t)a->count * sizeof *sorted);
    if (a->count > 1)
        qsort(sorted, (size_t)a->count, sizeof *sorted, by_entry_name);
    int code = MARROWBY_OK;
    for (zip_int64_t i = 1; i < a->count && code == MARROWBY_OK; ++i) {
        if (by_entry_name(&sorted[i - 1], &sorted[i]) == 0)
            code = engine_fail(state, MARROWBY_E_UNSAFE_PATH, "entry \"%s\" appears twice", sorted[i].name);
    }
    free(sorted);
    return code;
}

/* Reads a whole entry, refusing more bytes than its directory declared. */
static char *read_entry(archive *a, const entry *e, clip_state *state, int *code)
{
    char *buf = malloc(e->size + 1);
    zip_file_t *f = buf ? zip_fopen_index(a->zip, e->index, 0) : NULL;
    if (!f) {
        free(buf);
        *code = engine_fail(state, MARROWBY_E_IO, "cannot read \"%s\"", e->name);
        return NULL;
    }
    zip_int64_t got = zip_fread(f, buf, e->size + 1);
    zip_fclose(f);
    if (got != (zip_int64_t)e->size) {
        free(buf);
        *code = engine_fail(state, MARROWBY_E_IO, "entry \"%s\" is damaged", e->name);
        return NULL;
    }
    buf[e->size] = '\0';
    *code = MARROWBY_OK;
    return buf;
}

static int check_script(archive *a, clip_state *state)
{
    int code = MARROWBY_OK;
    const entry *e = &a->entries[a->script];
    char *text = read_entry(a, e, state, &code);
    if (!text)
        return code;
    char err[400];
    if (!sandbox_check_syntax(text, e->size, err, sizeof err))
        code = engine_fail(state, MARROWBY_E_BAD_SCRIPT, "%s", err);
    free(text);
    return code;
}

static int write_entry(archive *a, const entry *e, const char *staging, clip_state *state)
{
    char *path = path_join(staging, e->name);
    if (!path || make_parents(staging, e->name) != 0) {
        free(path);
        return engine_fail(state, MARROWBY_E_UNSAFE_PATH, "cannot place \"%s\"", e->name);
    }
    if (e->is_dir) {
        int ok = mkdir(path, 0755) == 0 || errno == EEXIST;
        free(path);
        return ok ? MARROWBY_OK : engine_fail(state, MARROWBY_E_UNSAFE_PATH, "cannot place \"%s\"", e->name);
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    free(path);
    if (fd < 0)
        return engine_fail(state, MARROWBY_E_UNSAFE_PATH, "cannot place \"%s\"", e->name);
    zip_file_t *f = zip_fopen_index(a->zip, e->index, 0);
    int code = f ? MARROWBY_OK : engine_fail(state, MARROWBY_E_IO, "cannot read \"%s\"", e->name);
    char buf[65536];
    zip_uint64_t written = 0;
    while (code == MARROWBY_OK) {
        zip_int64_t got = zip_fread(f, buf, sizeof buf);
        if (got < 0) {
            code = engine_fail(state, MARROWBY_E_IO, "entry \"%s\" is damaged", e->name);
        } else if (got == 0) {
            break;
        } else if ((written += (zip_uint64_t)got) > e->size) {
            code = engine_fail(state, MARROWBY_E_TOO_LARGE, "entry \"%s\" is larger than declared", e->name);
        } else if (write(fd, buf, (size_t)got) != got) {
            code = engine_fail(state, MARROWBY_E_IO, "cannot write \"%s\"", e->name);
        }
    }
    if (f)
        zip_fclose(f);
    if (close(fd) != 0 && code == MARROWBY_OK)
        code = engine_fail(state, MARROWBY_E_IO, "cannot write \"%s\"", e->name);
    return code;
}

/* Puts staging at target in one step. An older version is swapped out with
 * RENAME_EXCHANGE and then deleted from where staging was. */
static int move_into_place(const char *staging, const char *target, clip_state *state)
{
    if (rename(staging, target) == 0)
        return MARROWBY_OK;
    if (errno != ENOTEMPTY && errno != EEXIST)
        return engine_fail(state, MARROWBY_E_IO, "cannot move the plugin into place: %s", strerror(errno));
    if (renameat2(AT_FDCWD, staging, AT_FDCWD, target, RENAME_EXCHANGE) == 0) {
        remove_tree(staging);
        return MARROWBY_OK;
    }
    /* File systems without exchange: two renames, the old version moved aside first. */
    char *old = make_temp_dir(state->tmp_dir, "marrowby-old-");
    int code = MARROWBY_OK;
    if (!old || rename(target, old) != 0)
        code = engine_fail(state, MARROWBY_E_IO, "cannot replace the installed version");
    else if (rename(staging, target) != 0) {
        rename(old, target);
        code = engine_fail(state, MARROWBY_E_IO, "cannot move the plugin into place");
    }
    if (old)
        remove_tree(old);
    free(old);
    return code;
}

/* Writes every entry into a new staging folder; returns it (ending in "/") or NULL. */
static char *unpack(archive *a, clip_state *state, int *code)
{
    char *staging = make_temp_dir(state->tmp_dir, "marrowby-new-");
    if (!staging) {
        *code = engine_fail(state, MARROWBY_E_IO, "cannot create a staging folder in %s", state->tmp_dir);
        return NULL;
    }
    char *root = with_slash(staging);
    *code = root ? MARROWBY_OK : engine_fail(state, MARROWBY_E_IO, "out of memory");
    for (zip_int64_t i = 0; i < a->count && *code == MARROWBY_OK; ++i)
        *code = write_entry(a, &a->entries[i], root, state);
    if (*code != MARROWBY_OK) {
        remove_tree(staging);
        free(root);
        root = NULL;
    }
    free(staging);
    return root;
}

/* Opens and checks the package, then unpacks it; the staging folder or NULL. */
static char *stage(const char *package_path, clip_state *state, int *code)
{
    struct stat st;
    if (!package_path || stat(package_path, &st) != 0 || !S_ISREG(st.st_mode)) {
        *code = engine_fail(state, MARROWBY_E_OPEN, "no package file at %s", package_path ? package_path : "(null)");
        return NULL;
    }
    if ((unsigned long long)st.st_size > MARROWBY_MAX_ARCHIVE_BYTES) {
        *code = engine_fail(state, MARROWBY_E_TOO_LARGE, "the package exceeds %u bytes", MARROWBY_MAX_ARCHIVE_BYTES);
        return NULL;
    }
    int zerr = 0;
    archive a = {zip_open(package_path, ZIP_RDONLY | ZIP_CHECKCONS, &zerr), NULL, 0, -1};
    if (!a.zip) {
        *code = engine_fail(state, MARROWBY_E_OPEN, "not a zip archive (libzip error %d)", zerr);
        return NULL;
    }
    char *staging = NULL;
    *code = check_entries(&a, state);
    if (*code == MARROWBY_OK)
        *code = check_script(&a, state);
    if (*code == MARROWBY_OK)
        staging = unpack(&a, state, code);
    zip_discard(a.zip);
    free(a.entries);
    return staging;
}

/* A staging folder the engine made: directly inside tmp_dir, named marrowby-new-*. */
static int staged_by_us(const char *staging, const clip_state *state)
{
    size_t n = strlen(state->tmp_dir);
    if (!staging || strncmp(staging, state->tmp_dir, n) != 0 || strncmp(staging + n, "marrowby-new-", 13) != 0)
        return 0;
    const char *rest = staging + n;
    const char *slash = strchr(rest, '/');
    return !strstr(rest, "..") && (!slash || slash[1] == '\0');
}

int stage_plugin(const char *package_path, clip_state *state, char *staging, size_t staging_len)
{
    if (!state || !state->plugins_dir)
        return MARROWBY_E_STATE;
    engine_clear_error(state);
    if (!staging || staging_len == 0)
        return engine_fail(state, MARROWBY_E_STATE, "no room for the staging path");
    staging[0] = '\0';
    int code = MARROWBY_OK;
    char *folder = stage(package_path, state, &code);
    if (!folder)
        return code;
    if (strlen(folder) >= staging_len) {
        remove_tree(folder);
        free(folder);
        return engine_fail(state, MARROWBY_E_IO, "the staging path is too long");
    }
    strcpy(staging, folder);
    free(folder);
    return MARROWBY_OK;
}

int commit_plugin(const char *staging, const char *plugin_id, clip_state *state)
{
    if (!state || !state->plugins_dir)
        return MARROWBY_E_STATE;
    engine_clear_error(state);
    if (!staged_by_us(staging, state))
        return engine_fail(state, MARROWBY_E_STATE, "not a staging folder of this engine");
    if (!id_valid(plugin_id))
        return engine_fail(state, MARROWBY_E_BAD_ID, "not a plugin id");
    char *target = path_join(state->plugins_dir, plugin_id);
    char *from = with_slash(staging);
    int code = target && from ? MARROWBY_OK : engine_fail(state, MARROWBY_E_IO, "out of memory");
    if (code == MARROWBY_OK) {
        from[strlen(from) - 1] = '\0'; /* rename wants no trailing slash on the source */
        code = move_into_place(from, target, state);
    }
    free(target);
    free(from);
    return code;
}

void discard_staged(const char *staging, clip_state *state)
{
    if (state && state->plugins_dir && staged_by_us(staging, state))
        remove_tree(staging);
}

int install_plugin(const char *package_path, clip_state *state)
{
    if (!state || !state->plugins_dir)
        return MARROWBY_E_STATE;
    engine_clear_error(state);
    int code = MARROWBY_OK;
    char *staging = stage(package_path, state, &code);
    if (!staging)
        return code;
    plugin_impl *plugin = plugin_open(state, staging, NULL, &code);
    char *target = plugin ? path_join(state->plugins_dir, plugin->pub.id) : NULL;
    if (plugin && !target)
        code = engine_fail(state, MARROWBY_E_IO, "out of memory");
    if (code == MARROWBY_OK) {
        staging[strlen(staging) - 1] = '\0';
        code = move_into_place(staging, target, state);
    }
    if (code == MARROWBY_OK && (code = plugin_set_dir(plugin, target)) == MARROWBY_OK) {
        code = engine_put(state, plugin);
        plugin = NULL; /* engine_put owns it now, also on failure */
    }
    plugin_free(plugin);
    remove_tree(staging);
    free(staging);
    free(target);
    return code;
}
