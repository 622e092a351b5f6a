#ifndef CINDRAL_H
#define CINDRAL_H

/*
 * Cindral: the end-to-end encryption engine (over libsodium).
 *
 * Every buffer returned through an output pointer is allocated with malloc and
 * belongs to the caller, who releases it with free. The formats are described
 * in README.md beside this header.
 *
 * Lengths: the 64-bit lengths are plain int64_t parameters. (A 32-bit caller
 * passes them as two 32-bit halves, low word first, which is how such a value
 * travels on the stack there; on 64-bit targets nothing special happens.)
 */

#include <stddef.h>
#include <stdint.h>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the record layouts store their timestamps little-endian in host order"
#endif

#if defined(CINDRAL_BUILDING)
#define CINDRAL_API __attribute__((visibility("default")))
#else
#define CINDRAL_API
#endif

#ifdef __cplusplus
#define CINDRAL_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define CINDRAL_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

enum {
    CE_KEY_BYTES = 32,
    CE_WRAPPED_BYTES = 48,
    CE_HASH_TEXT_BYTES = 64,
    CE_PUBLIC_KEY_BYTES = 32,
    CE_HASH_DATA_BYTES = 32,
    CE_SALT_BYTES = 16,
    CE_UNWRAPPED_EARLIER = 1
};

#pragma pack(push, 1)

/* The content key with its fingerprint. 112 bytes. */
typedef struct ce_key_record {
    unsigned char key[CE_KEY_BYTES];  /* never starts with a zero byte */
    int64_t timestamp;                /* seconds since the epoch */
    char hash[CE_HASH_TEXT_BYTES];    /* ASCII, NUL-padded, not necessarily NUL-terminated */
    unsigned char reserved[8];        /* zero */
} ce_key_record;

/* The content key wrapped under the PIN. 128 bytes. */
typedef struct ce_cipher_record {
    unsigned char wrapped[CE_WRAPPED_BYTES];
    int64_t timestamp;                /* seconds since the epoch */
    char hash[CE_HASH_TEXT_BYTES];    /* hex(salt) + hex(PIN verifier): exactly 64 characters */
    unsigned char reserved[8];        /* zero */
} ce_cipher_record;

#pragma pack(pop)

CINDRAL_STATIC_ASSERT(sizeof(ce_key_record) == 112, "key record is 112 bytes");
CINDRAL_STATIC_ASSERT(offsetof(ce_key_record, timestamp) == 32, "key timestamp at 32");
CINDRAL_STATIC_ASSERT(offsetof(ce_key_record, hash) == 40, "key hash at 40");
CINDRAL_STATIC_ASSERT(offsetof(ce_key_record, reserved) == 104, "key padding at 104");
CINDRAL_STATIC_ASSERT(sizeof(ce_cipher_record) == 128, "cipher record is 128 bytes");
CINDRAL_STATIC_ASSERT(offsetof(ce_cipher_record, timestamp) == 48, "cipher timestamp at 48");
CINDRAL_STATIC_ASSERT(offsetof(ce_cipher_record, hash) == 56, "cipher hash at 56");
CINDRAL_STATIC_ASSERT(offsetof(ce_cipher_record, reserved) == 120, "cipher padding at 120");

/* A new random content key with its timestamp and key hash; NULL on failure. */
CINDRAL_API ce_key_record *ce_data_new(void);

/* 0 when key->hash is exactly the fingerprint of key->key (the text ce_data_new
 * writes, NUL-padded); -1 otherwise. Tells whether a key hash received from
 * elsewhere belongs to an unwrapped key. */
CINDRAL_API int ce_check_key_hash(const ce_key_record *key);

/* Wraps key->key under the PIN with a fresh salt; NULL on failure. */
CINDRAL_API ce_cipher_record *ce_generate_cipher(const char *pin, int32_t pin_len, const ce_key_record *key);

/* Unwraps the content key into out (32 bytes). Returns 0 on success, and
 * CE_UNWRAPPED_EARLIER (also a success, the key is in out) for a wrap made by the
 * first construction, which the caller should wrap anew. On any failure (wrong PIN,
 * damaged record) out is all zero and the result is negative. */
CINDRAL_API int ce_decrypt_key_data(const char *pin, int32_t pin_len, const ce_cipher_record *cipher,
                                    unsigned char *out);

/* Authenticated encryption of a buffer: nonce followed by the ciphertext.
 * *out stays NULL on failure. Returns 0 on success. */
CINDRAL_API int ce_encrypt_data(const unsigned char *in, int64_t in_len, unsigned char **out, int64_t *out_len,
                                const ce_key_record *key);
/* Inverse of ce_encrypt_data; fails (NULL output) on any altered or short input. */
CINDRAL_API int ce_decrypt_data(const unsigned char *in, int64_t in_len, unsigned char **out, int64_t *out_len,
                                const ce_key_record *key);

/* Streams source into an encrypted / decrypted target file. The target appears
 * only when the whole file was processed; 0 on success. */
CINDRAL_API int ce_encrypt(const char *target_path, const char *source_path, const ce_key_record *key);
CINDRAL_API int ce_decrypt(const char *target_path, const char *source_path, const ce_key_record *key);

/* Deterministic slow hash (32 bytes) of salted input: the first 16 bytes are the
 * salt, the rest the secret (salt of a wrap ‖ PIN gives that wrap's PIN proof, the
 * service's "last_pwd_hash"). Input shorter than 16 bytes is refused. 0 on success. */
CINDRAL_API int ce_hash_data(const unsigned char *in, int64_t in_len, unsigned char **out, int32_t *out_len);

/* Anonymous sealed box to the 32-byte X25519 public key. *out_len stays 0 on failure. */
CINDRAL_API int ce_public_encrypt_sealed(const unsigned char *in, int64_t in_len, unsigned char **out,
                                         int64_t *out_len, const unsigned char *public_key);

#ifdef __cplusplus
}
#endif

#endif
