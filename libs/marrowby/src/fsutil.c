#include "engine.h"

#include <errno.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

char *path_join(const char *a, const char *b)
{
    size_t la = strlen(a), lb = strlen(b);
    char *out = malloc(la + lb + 1);
    if (!out)
        return NULL;
    memcpy(out, a, la);
    memcpy(out + la, b, lb + 1);
    return out;
}

char *with_slash(const char *path)
{
    size_t n = strlen(path);
    if (n > 0 && path[n - 1] == '/')
        return strdup(path);
    return path_join(path, "/");
}

int id_valid(const char *id)
{
    size_t n = id ? strlen(id) : 0;
    if (n == 0 || n > MARROWBY_MAX_ID_LENGTH)
        return 0;
    /* "." and ".." fit the character set but name the folder itself or its
     * parent; a leading dot also keeps staging names apart from ids. */
    if (id[0] == '.')
        return 0;
    for (size_t i = 0; i < n; ++i) {
        char c = id[i];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-'))
            return 0;
    }
    return 1;
}

static int remove_entry(const char *path, const struct stat *sb, int flag, struct FTW *ftw)
{
    (void)sb;
    (void)ftw;
    int rc = (flag == FTW_DP) ? rmdir(path) : unlink(path);
    return rc == 0 || errno == ENOENT ? 0 : -1;
}

/* Depth-first and without following symbolic links: a link inside the tree is
 * removed itself, never what it points to. */
int remove_tree(const char *path)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT ? 0 : -1;
    return nftw(path, remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

/* Creates the folders leading to base/relative (relative already checked safe). */
int make_parents(const char *base, const char *relative)
{
    char *path = path_join(base, relative);
    if (!path)
        return -1;
    size_t skip = strlen(base);
    int rc = 0;
    for (char *p = path + skip; *p; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        if (mkdir(path, 0755) != 0 && errno != EEXIST)
            rc = -1;
        *p = '/';
        if (rc)
            break;
    }
    free(path);
    return rc;
}

char *make_temp_dir(const char *parent, const char *prefix)
{
    char *pattern = malloc(strlen(parent) + strlen(prefix) + 8);
    if (!pattern)
        return NULL;
    sprintf(pattern, "%s%sXXXXXX", parent, prefix);
    if (!mkdtemp(pattern)) {
        free(pattern);
        return NULL;
    }
    return pattern;
}
