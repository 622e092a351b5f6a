#ifndef MARROWBY_RUNNER_FRAME_H
#define MARROWBY_RUNNER_FRAME_H

/* The runner's side of the pipe protocol (README.md, "The plugin runner"):
 * frames of a 4-byte big-endian length and a payload of one kind byte and
 * fields, each a 4-byte big-endian length and its bytes. */

#include <stddef.h>
#include <stdint.h>

#define FRAME_MAX_BYTES (32u * 1024u * 1024u)
#define FRAME_MAX_FIELDS 8

typedef struct frame {
    char kind;
    int count;
    const char *field[FRAME_MAX_FIELDS]; /* each zero-terminated inside the payload */
    uint32_t length[FRAME_MAX_FIELDS];
    char *payload;
} frame;

/* Reads one frame from fd. Returns 1, 0 at end of input, -1 on a malformed frame. */
int frame_read(int fd, frame *f);
void frame_free(frame *f);

/* Writes one frame of count fields (NULL texts are sent as empty). 0 or -1. */
int frame_write(int fd, char kind, int count, const char *const *texts, const size_t *lengths);

#endif
