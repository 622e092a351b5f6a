#ifndef CINDRAL_INTERNAL_H
#define CINDRAL_INTERNAL_H

#include "cindral.h"

#include <sodium.h>

/* Fixed domain values; README.md documents them for other implementations. */
#define CE_KEY_HASH_DOMAIN "cindral key hash v1"
#define CE_HASH_DATA_SALT "cindral-hash-v01"

enum {
    CE_SALT_BYTES = crypto_pwhash_SALTBYTES,
    CE_FINGERPRINT_BYTES = 16,
    CE_VERIFIER_BYTES = 16
};

/* Initialises libsodium once per process; 0 when the library is usable. */
int ce_ready(void);

/* Argon2id (interactive limits) of the input under the given 16-byte salt. */
int ce_argon2id(unsigned char out[32], const unsigned char *in, unsigned long long in_len,
                const unsigned char salt[CE_SALT_BYTES]);

/* Wipes and frees a buffer the engine allocated for a secret. */
void ce_free_secret(void *p, size_t len);

/* Writes hex(bin) into dst without a terminating NUL (2 * len characters). */
void ce_hex_into(char *dst, const unsigned char *bin, size_t len);

#endif
