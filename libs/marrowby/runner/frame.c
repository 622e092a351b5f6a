#include "frame.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int read_full(int fd, void *buf, size_t n)
{
    char *p = buf;
    while (n > 0) {
        ssize_t got = read(fd, p, n);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0 ? 0 : -1;
        p += got;
        n -= (size_t)got;
    }
    return 1;
}

static int write_full(int fd, const void *buf, size_t n)
{
    const char *p = buf;
    while (n > 0) {
        ssize_t put = write(fd, p, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return -1;
        p += put;
        n -= (size_t)put;
    }
    return 0;
}

static uint32_t get_u32(const unsigned char *p)
{
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | (uint32_t)p[3];
}

static void put_u32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)(v >> 24);
    p[1] = (unsigned char)(v >> 16);
    p[2] = (unsigned char)(v >> 8);
    p[3] = (unsigned char)v;
}

int frame_read(int fd, frame *f)
{
    memset(f, 0, sizeof *f);
    unsigned char head[4];
    int rc = read_full(fd, head, sizeof head);
    if (rc <= 0)
        return rc;
    uint32_t size = get_u32(head);
    if (size < 1 || size > FRAME_MAX_BYTES)
        return -1;
    /* Room for a terminating zero after every field: each field moves one byte
     * left over its own length prefix. */
    unsigned char *buf = malloc((size_t)size + 1);
    if (!buf || read_full(fd, buf, size) <= 0) {
        free(buf);
        return -1;
    }
    f->payload = (char *)buf;
    f->kind = (char)buf[0];
    size_t at = 1;
    while (at < size) {
        if (f->count == FRAME_MAX_FIELDS || size - at < 4)
            return -1;
        uint32_t len = get_u32(buf + at);
        if (len > size - at - 4)
            return -1;
        /* The field's bytes shift over the prefix so a terminator fits behind. */
        memmove(buf + at, buf + at + 4, len);
        buf[at + len] = '\0';
        f->field[f->count] = (const char *)buf + at;
        f->length[f->count] = len;
        ++f->count;
        at += 4 + len;
    }
    return 1;
}

void frame_free(frame *f)
{
    free(f->payload);
    memset(f, 0, sizeof *f);
}

int frame_write(int fd, char kind, int count, const char *const *texts, const size_t *lengths)
{
    size_t size = 1;
    for (int i = 0; i < count; ++i)
        size += 4 + (texts[i] ? lengths[i] : 0);
    if (size > FRAME_MAX_BYTES)
        return -1;
    unsigned char *buf = malloc(size + 4);
    if (!buf)
        return -1;
    put_u32(buf, (uint32_t)size);
    buf[4] = (unsigned char)kind;
    size_t at = 5;
    for (int i = 0; i < count; ++i) {
        size_t len = texts[i] ? lengths[i] : 0;
        put_u32(buf + at, (uint32_t)len);
        if (len)
            memcpy(buf + at + 4, texts[i], len);
        at += 4 + len;
    }
    int rc = write_full(fd, buf, size + 4);
    free(buf);
    return rc;
}
