/* Files: secretstream in 64 KiB chunks, written beside the target and renamed into place. */
#include "cindral_internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum {
    CHUNK_BYTES = 64 * 1024,
    SEALED_CHUNK_BYTES = CHUNK_BYTES + crypto_secretstream_xchacha20poly1305_ABYTES,
    HEADER_BYTES = crypto_secretstream_xchacha20poly1305_HEADERBYTES
};

typedef struct temp_file {
    char *path;
    FILE *fp;
} temp_file;

/* Creates "<target>.cetmp-<random>" with the usual permissions (0666 less umask). */
static int temp_open(temp_file *tmp, const char *target)
{
    const size_t len = strlen(target);
    tmp->fp = NULL;
    tmp->path = malloc(len + 32);
    if (!tmp->path)
        return -1;
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned char suffix[8];
        char hex[2 * sizeof suffix + 1];
        randombytes_buf(suffix, sizeof suffix);
        sodium_bin2hex(hex, sizeof hex, suffix, sizeof suffix);
        snprintf(tmp->path, len + 32, "%s.cetmp-%s", target, hex);
        const int fd = open(tmp->path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            break;
        }
        tmp->fp = fdopen(fd, "wb");
        if (tmp->fp)
            return 0;
        close(fd);
        unlink(tmp->path);
        break;
    }
    free(tmp->path);
    tmp->path = NULL;
    return -1;
}

/* Closes the temporary file; renames it onto target when ok, removes it otherwise. */
static int temp_finish(temp_file *tmp, const char *target, int ok)
{
    if (fclose(tmp->fp) != 0)
        ok = 0;
    if (ok && rename(tmp->path, target) != 0)
        ok = 0;
    if (!ok)
        unlink(tmp->path);
    free(tmp->path);
    return ok ? 0 : -1;
}

static int write_all(FILE *fp, const unsigned char *data, size_t len)
{
    return fwrite(data, 1, len, fp) == len;
}

static int encrypt_stream(FILE *src, FILE *dst, const ce_key_record *key, unsigned char *in, unsigned char *out)
{
    crypto_secretstream_xchacha20poly1305_state state;
    unsigned char header[HEADER_BYTES];
    crypto_secretstream_xchacha20poly1305_init_push(&state, header, key->key);
    int ok = write_all(dst, header, sizeof header);
    int eof = 0;
    while (ok && !eof) {
        const size_t n = fread(in, 1, CHUNK_BYTES, src);
        if (ferror(src)) {
            ok = 0;
            break;
        }
        eof = feof(src);
        const unsigned char tag = eof ? crypto_secretstream_xchacha20poly1305_TAG_FINAL : 0;
        unsigned long long out_len = 0;
        crypto_secretstream_xchacha20poly1305_push(&state, out, &out_len, in, n, NULL, 0, tag);
        ok = write_all(dst, out, (size_t)out_len);
    }
    sodium_memzero(&state, sizeof state);
    return ok;
}

static int decrypt_stream(FILE *src, FILE *dst, const ce_key_record *key, unsigned char *in, unsigned char *out)
{
    crypto_secretstream_xchacha20poly1305_state state;
    unsigned char header[HEADER_BYTES];
    if (fread(header, 1, sizeof header, src) != sizeof header
        || crypto_secretstream_xchacha20poly1305_init_pull(&state, header, key->key) != 0)
        return 0;
    int ok = 0;
    for (;;) {
        const size_t n = fread(in, 1, SEALED_CHUNK_BYTES, src);
        if (ferror(src) || n == 0) /* read error, or the stream ended before its final chunk */
            break;
        unsigned long long out_len = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(&state, out, &out_len, &tag, in, n, NULL, 0) != 0)
            break;
        if (!write_all(dst, out, (size_t)out_len))
            break;
        if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
            ok = fgetc(src) == EOF; /* nothing may follow the final chunk */
            break;
        }
    }
    sodium_memzero(&state, sizeof state);
    return ok;
}

typedef int (*stream_fn)(FILE *, FILE *, const ce_key_record *, unsigned char *, unsigned char *);

static int process_file(const char *target_path, const char *source_path, const ce_key_record *key, stream_fn fn)
{
    if (ce_ready() != 0 || !target_path || !source_path || !key || !*target_path || !*source_path)
        return -1;
    FILE *src = fopen(source_path, "rbe");
    if (!src)
        return -1;
    unsigned char *in = malloc(SEALED_CHUNK_BYTES);
    unsigned char *out = malloc(SEALED_CHUNK_BYTES);
    int rc = -1;
    temp_file tmp;
    if (in && out && temp_open(&tmp, target_path) == 0) {
        const int ok = fn(src, tmp.fp, key, in, out);
        rc = temp_finish(&tmp, target_path, ok);
    }
    fclose(src);
    ce_free_secret(in, SEALED_CHUNK_BYTES);
    ce_free_secret(out, SEALED_CHUNK_BYTES);
    return rc;
}

int ce_encrypt(const char *target_path, const char *source_path, const ce_key_record *key)
{
    return process_file(target_path, source_path, key, encrypt_stream);
}

int ce_decrypt(const char *target_path, const char *source_path, const ce_key_record *key)
{
    return process_file(target_path, source_path, key, decrypt_stream);
}
