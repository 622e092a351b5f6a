/* Content keys, their wrapping under the PIN, and the salted PIN proof. */
#include "cindral_internal.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

static void fingerprint_text(char out[2 * CE_FINGERPRINT_BYTES], const unsigned char key[CE_KEY_BYTES])
{
    unsigned char domain[32];
    unsigned char fingerprint[CE_FINGERPRINT_BYTES];
    crypto_generichash(domain, sizeof domain, (const unsigned char *)CE_KEY_HASH_DOMAIN, strlen(CE_KEY_HASH_DOMAIN),
                       NULL, 0);
    crypto_generichash(fingerprint, sizeof fingerprint, key, CE_KEY_BYTES, domain, sizeof domain);
    ce_hex_into(out, fingerprint, sizeof fingerprint);
}

/* Each salt yields a fresh wrapping key, so a nonce derived from it is never reused under one key. */
static void nonce_from_salt(unsigned char nonce[crypto_secretbox_NONCEBYTES], const unsigned char salt[CE_SALT_BYTES])
{
    crypto_generichash(nonce, crypto_secretbox_NONCEBYTES, salt, CE_SALT_BYTES, NULL, 0);
}

/* BLAKE2b-32 of a domain label keyed with the slow hash: the wrapping key and the PIN
 * proof come from one Argon2id run, and neither reveals the other. */
static void derive(unsigned char out[32], const unsigned char master[32], const char *domain)
{
    crypto_generichash(out, 32, (const unsigned char *)domain, strlen(domain), master, 32);
}

/* The slow hash of the PIN under the wrap's own salt, split into the two derived keys
 * (either may be NULL). */
static int pin_keys(unsigned char *wrapping_key, unsigned char *proof, const char *pin, int32_t pin_len,
                    const unsigned char salt[CE_SALT_BYTES])
{
    unsigned char master[32];
    if (ce_argon2id(master, (const unsigned char *)pin, (unsigned long long)pin_len, salt) != 0) {
        sodium_memzero(master, sizeof master);
        return -1;
    }
    if (wrapping_key)
        derive(wrapping_key, master, CE_PIN_WRAP_DOMAIN);
    if (proof)
        derive(proof, master, CE_PIN_PROOF_DOMAIN);
    sodium_memzero(master, sizeof master);
    return 0;
}

static void verifier_of(unsigned char verifier[CE_VERIFIER_BYTES], const unsigned char proof[32],
                        const unsigned char salt[CE_SALT_BYTES], const unsigned char wrapped[CE_WRAPPED_BYTES])
{
    crypto_generichash_state state;
    crypto_generichash_init(&state, proof, 32, CE_VERIFIER_BYTES);
    crypto_generichash_update(&state, (const unsigned char *)CE_VERIFIER_DOMAIN, strlen(CE_VERIFIER_DOMAIN));
    crypto_generichash_update(&state, salt, CE_SALT_BYTES);
    crypto_generichash_update(&state, wrapped, CE_WRAPPED_BYTES);
    crypto_generichash_final(&state, verifier, CE_VERIFIER_BYTES);
    sodium_memzero(&state, sizeof state);
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
    fingerprint_text(record->hash, record->key);
    return record;
}

int ce_check_key_hash(const ce_key_record *key)
{
    if (ce_ready() != 0 || !key)
        return -1;
    char expected[CE_HASH_TEXT_BYTES] = {0};
    fingerprint_text(expected, key->key);
    return sodium_memcmp(expected, key->hash, CE_HASH_TEXT_BYTES) == 0 ? 0 : -1;
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
    unsigned char proof[32];
    unsigned char verifier[CE_VERIFIER_BYTES];
    int ok = 0;

    randombytes_buf(salt, sizeof salt);
    nonce_from_salt(nonce, salt);
    if (pin_keys(wrapping_key, proof, pin, pin_len, salt) == 0) {
        crypto_secretbox_easy(record->wrapped, key->key, CE_KEY_BYTES, nonce, wrapping_key);
        verifier_of(verifier, proof, salt, record->wrapped);
        record->timestamp = (int64_t)time(NULL);
        ce_hex_into(record->hash, salt, sizeof salt);
        ce_hex_into(record->hash + 2 * sizeof salt, verifier, sizeof verifier);
        ok = 1;
    }
    sodium_memzero(wrapping_key, sizeof wrapping_key);
    sodium_memzero(proof, sizeof proof);
    if (!ok) {
        ce_free_secret(record, sizeof *record);
        return NULL;
    }
    return record;
}

static int read_salt(unsigned char salt[CE_SALT_BYTES], const ce_cipher_record *cipher)
{
    size_t salt_len = 0;
    return sodium_hex2bin(salt, CE_SALT_BYTES, cipher->hash, 2 * CE_SALT_BYTES, NULL, &salt_len, NULL) == 0
                   && salt_len == CE_SALT_BYTES
               ? 0
               : -1;
}

int ce_decrypt_key_data(const char *pin, int32_t pin_len, const ce_cipher_record *cipher, unsigned char *out)
{
    if (!out)
        return -1;
    sodium_memzero(out, CE_KEY_BYTES);
    if (ce_ready() != 0 || !pin || pin_len < 0 || !cipher)
        return -1;

    unsigned char salt[CE_SALT_BYTES];
    if (read_salt(salt, cipher) != 0)
        return -1;
    unsigned char nonce[crypto_secretbox_NONCEBYTES];
    unsigned char wrapping_key[32];
    nonce_from_salt(nonce, salt);

    int rc = -1;
    if (pin_keys(wrapping_key, NULL, pin, pin_len, salt) == 0
        && crypto_secretbox_open_easy(out, cipher->wrapped, CE_WRAPPED_BYTES, nonce, wrapping_key) == 0)
        rc = 0;
    /* Wraps made before the current construction keyed the box with Argon2id itself
     * at the lower limits; they still open, and the caller wraps the key anew. */
    if (rc != 0 && ce_argon2id_earlier(wrapping_key, (const unsigned char *)pin, (unsigned long long)pin_len, salt) == 0
        && crypto_secretbox_open_easy(out, cipher->wrapped, CE_WRAPPED_BYTES, nonce, wrapping_key) == 0)
        rc = CE_UNWRAPPED_EARLIER;
    sodium_memzero(wrapping_key, sizeof wrapping_key);
    if (rc < 0 || out[0] == 0) {
        sodium_memzero(out, CE_KEY_BYTES);
        return -1;
    }
    return rc;
}

int ce_hash_data(const unsigned char *in, int64_t in_len, unsigned char **out, int32_t *out_len)
{
    if (!out || !out_len)
        return -1;
    *out = NULL;
    *out_len = 0;
    if (ce_ready() != 0 || !in || in_len < CE_SALT_BYTES || in_len - CE_SALT_BYTES > INT32_MAX)
        return -1;
    unsigned char *hash = malloc(CE_HASH_DATA_BYTES);
    if (!hash)
        return -1;
    if (pin_keys(NULL, hash, (const char *)in + CE_SALT_BYTES, (int32_t)(in_len - CE_SALT_BYTES), in) != 0) {
        ce_free_secret(hash, CE_HASH_DATA_BYTES);
        return -1;
    }
    *out = hash;
    *out_len = CE_HASH_DATA_BYTES;
    return 0;
}
