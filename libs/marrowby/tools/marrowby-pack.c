/* marrowby-pack <package.cpk> <plugin-folder>
 * Packs a plugin folder (plugin.lua at its top) into a ".cpk" zip archive.
 * Entries are sorted and carry a fixed time, so the same folder always gives
 * the same bytes. Symbolic links and hidden files are left out. */

#include <zip.h>

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

static char **files;
static size_t file_count, file_capacity;
static size_t root_length;

static int collect(const char *path, const struct stat *sb, int flag, struct FTW *ftw)
{
    (void)sb;
    const char *base = path + ftw->base;
    if (ftw->level > 0 && base[0] == '.')
        return flag == FTW_D ? FTW_SKIP_SUBTREE : FTW_CONTINUE;
    if (flag != FTW_F)
        return FTW_CONTINUE;
    if (file_count == file_capacity) {
        file_capacity = file_capacity ? file_capacity * 2 : 32;
        files = realloc(files, file_capacity * sizeof *files);
        if (!files)
            return FTW_STOP;
    }
    files[file_count++] = strdup(path + root_length);
    return FTW_CONTINUE;
}

static int by_name(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s <package.cpk> <plugin-folder>\n", argv[0]);
        return 2;
    }
    const char *out = argv[1];
    char *root = realpath(argv[2], NULL);
    if (!root) {
        perror(argv[2]);
        return 1;
    }
    root_length = strlen(root) + 1;
    if (nftw(root, collect, 16, FTW_PHYS | FTW_ACTIONRETVAL) != 0) {
        fprintf(stderr, "cannot read %s\n", root);
        return 1;
    }
    if (file_count > 1)
        qsort(files, file_count, sizeof *files, by_name);
    int has_script = 0;
    for (size_t i = 0; i < file_count; ++i)
        has_script |= strcmp(files[i], "plugin.lua") == 0;
    if (!has_script) {
        fprintf(stderr, "%s has no plugin.lua\n", root);
        return 1;
    }

    int err = 0;
    zip_t *zip = zip_open(out, ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!zip) {
        fprintf(stderr, "cannot create %s (libzip error %d)\n", out, err);
        return 1;
    }
    const time_t fixed_time = 1577836800; /* 2020-01-01 */
    for (size_t i = 0; i < file_count; ++i) {
        char *full = malloc(root_length + strlen(files[i]) + 1);
        sprintf(full, "%s/%s", root, files[i]);
        zip_source_t *src = zip_source_file(zip, full, 0, -1);
        zip_int64_t index = src ? zip_file_add(zip, files[i], src, ZIP_FL_ENC_UTF_8) : -1;
        free(full);
        if (index < 0) {
            if (src)
                zip_source_free(src);
            fprintf(stderr, "cannot add %s: %s\n", files[i], zip_strerror(zip));
            zip_discard(zip);
            return 1;
        }
        zip_file_set_mtime(zip, (zip_uint64_t)index, fixed_time, 0);
    }
    if (zip_close(zip) != 0) {
        fprintf(stderr, "cannot write %s: %s\n", out, zip_strerror(zip));
        zip_discard(zip);
        return 1;
    }
    for (size_t i = 0; i < file_count; ++i)
        free(files[i]);
    free(files);
    free(root);
    return 0;
}
