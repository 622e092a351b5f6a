#ifndef CINDRAL_INTERNAL_H
#define CINDRAL_INTERNAL_H

#include "cindral.h"

#include <sodium.h>

/* Fixed domain values; README.md documents them for other implementations. */
#define CE_KEY_HASH_DOMAIN "cindral key hash v1"
#define CE_PIN_WRAP_DOMAIN "cindral wrap key v2"
#define CE_PIN_PROOF_DOMAIN "cindral pin proof v2"
#define CE_VERIFIER_DOMAIN "cindral verifier v2"

CINDRAL_STATIC_ASSERT(CE_SALT_BYTES == crypto_pwhash_SALTBYTES, "the wrap salt is an Argon2id salt");

enum {
    CE_FINGERPRINT_BYTES = 16,
    CE_VERIFIER_BYTES = 16
};

/* Initialises libsodium once per process; 0 when the library is usable. */
int ce_ready(void);

/* Argon2id of the input under the given 16-byte salt, at the engine's limits
 * (libsodium's MODERATE: 3 passes over 256 MiB). */
int ce_argon2id(unsigned char out[32], const unsigned char *in, unsigned long long in_len,
                const unsigned char salt[CE_SALT_BYTES]);
/* The same at the first construction's limits (INTERACTIVE: 2 passes, 64 MiB), used
 * only to open wraps made before the current construction. */
int ce_argon2id_earlier(unsigned char out[32], const unsigned char *in, unsigned long long in_len,
                        const unsigned char salt[CE_SALT_BYTES]);

/* Wipes and frees a buffer the engine allocated for a secret. */
void ce_free_secret(void *p, size_t len);

/* Writes hex(bin) into dst without a terminating NUL (2 * len characters). */
void ce_hex_into(char *dst, const unsigned char *bin, size_t len);

#endif
