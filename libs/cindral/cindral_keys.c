/* Content keys, their wrapping under the PIN, and the deterministic slow hash. */
#include "cindral_internal.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

static void key_hash_domain(unsigned char domain[32])
{
    crypto_generichash(domain, 32, (const unsigned char *)CE_KEY_HASH_DOMAIN, strlen(CE_KEY_HASH_DOMAIN), NULL, 0);
}

/* Each salt yields a fresh wrapping key, so a nonce derived from it is never reused under one key. */
static void nonce_from_salt(unsigned char nonce[crypto_secretbox_NONCEBYTES], const unsigned char salt[CE_SALT_BYTES])
{
    crypto_generichash(nonce, crypto_secretbox_NONCEBYTES, salt, CE_SALT_BYTES, NULL, 0);
}

static int hash_pin(unsigned char out[32], const char *pin, int32_t pin_len)
{
    return ce_argon2id(out, (const unsigned char *)pin, (unsigned long long)pin_len,
                       (const unsigned char *)CE_HASH_DATA_SALT);
}

ce_key_record *ce_data_new(void)
{
    if (ce_ready() != 0)
        return NULL;
    ce_key_record *record = calloc(1, sizeof *record);
    if (!record)
        return NULL;
    /* A failed unwrap is recognised by a zero first byte, so a real key never has one. */
    do {
        randombytes_buf(record->key, sizeof record->key);
    } while (record->key[0] == 0);
    record->timestamp = (int64_t)time(NULL);

    unsigned char domain[32];
    unsigned char fingerprint[CE_FINGERPRINT_BYTES];
    key_hash_domain(domain);
    crypto_generichash(fingerprint, sizeof fingerprint, record->key, sizeof record->key, domain, sizeof domain);
    ce_hex_into(record->hash, fingerprint, sizeof fingerprint);
    return record;
}

ce_cipher_record *ce_generate_cipher(const char *pin, int32_t pin_len, const ce_key_record *key)
{
    if (ce_ready() != 0 || !pin || pin_len < 0 || !key)
        return NULL;
    ce_cipher_record *record = calloc(1, sizeof *record);
    if (!record)
        return NULL;

    unsigned char salt[CE_SALT_BYTES];
    unsigned char nonce[crypto_secretbox_NONCEBYTES];
    unsigned char wrapping_key[32];
    unsigned char pin_hash[32];
    unsigned char verifier[CE_VERIFIER_BYTES];
    int ok = 0;

    randombytes_buf(salt, sizeof salt);
    nonce_from_salt(nonce, salt);
    if (ce_argon2id(wrapping_key, (const unsigned char *)pin, (unsigned long long)pin_len, salt) == 0
        && hash_pin(pin_hash, pin, pin_len) == 0) {
        crypto_secretbox_easy(record->wrapped, key->key, CE_KEY_BYTES, nonce, wrapping_key);

        crypto_generichash_state state;
        crypto_generichash_init(&state, pin_hash, sizeof pin_hash, sizeof verifier);
        crypto_generichash_update(&state, salt, sizeof salt);
        crypto_generichash_update(&state, record->wrapped, sizeof record->wrapped);
        crypto_generichash_final(&state, verifier, sizeof verifier);
        sodium_memzero(&state, sizeof state);

        record->timestamp = (int64_t)time(NULL);
        ce_hex_into(record->hash, salt, sizeof salt);
        ce_hex_into(record->hash + 2 * sizeof salt, verifier, sizeof verifier);
        ok = 1;
    }
    sodium_memzero(wrapping_key, sizeof wrapping_key);
    sodium_memzero(pin_hash, sizeof pin_hash);
    if (!ok) {
        ce_free_secret(record, sizeof *record);
        return NULL;
    }
    return record;
}

int ce_decrypt_key_data(const char *pin, int32_t pin_len, const ce_cipher_record *cipher, unsigned char *out)
{
    if (!out)
        return -1;
    sodium_memzero(out, CE_KEY_BYTES);
    if (ce_ready() != 0 || !pin || pin_len < 0 || !cipher)
        return -1;

    unsigned char salt[CE_SALT_BYTES];
    size_t salt_len = 0;
    if (sodium_hex2bin(salt, sizeof salt, cipher->hash, 2 * CE_SALT_BYTES, NULL, &salt_len, NULL) != 0
        || salt_len != sizeof salt)
        return -1;

    unsigned char nonce[crypto_secretbox_NONCEBYTES];
    unsigned char wrapping_key[32];
    nonce_from_salt(nonce, salt);
    int rc = -1;
    if (ce_argon2id(wrapping_key, (const unsigned char *)pin, (unsigned long long)pin_len, salt) == 0)
        rc = crypto_secretbox_open_easy(out, cipher->wrapped, CE_WRAPPED_BYTES, nonce, wrapping_key) == 0 ? 0 : -1;
    sodium_memzero(wrapping_key, sizeof wrapping_key);
    if (rc != 0 || out[0] == 0) {
        sodium_memzero(out, CE_KEY_BYTES);
        return -1;
    }
    return 0;
}

int ce_hash_data(const unsigned char *in, int64_t in_len, unsigned char **out, int32_t *out_len)
{
    if (!out || !out_len)
        return -1;
    *out = NULL;
    *out_len = 0;
    if (ce_ready() != 0 || in_len < 0 || (in_len > 0 && !in))
        return -1;
    unsigned char *hash = malloc(CE_HASH_DATA_BYTES);
    if (!hash)
        return -1;
    if (ce_argon2id(hash, in, (unsigned long long)in_len, (const unsigned char *)CE_HASH_DATA_SALT) != 0) {
        ce_free_secret(hash, CE_HASH_DATA_BYTES);
        return -1;
    }
    *out = hash;
    *out_len = CE_HASH_DATA_BYTES;
    return 0;
}
