/* Buffers: authenticated encryption under the content key, and sealing for the service. */
#include "cindral_internal.h"

#include <stdint.h>
#include <stdlib.h>

enum {
    NONCE_BYTES = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES,
    TAG_BYTES = crypto_aead_xchacha20poly1305_ietf_ABYTES
};

static int valid_input(const unsigned char *in, int64_t in_len, int64_t overhead)
{
    return in_len >= 0 && (in_len == 0 || in) && (uint64_t)in_len <= (uint64_t)(SIZE_MAX / 2) - (uint64_t)overhead;
}

static void reset_outputs(unsigned char **out, int64_t *out_len)
{
    *out = NULL;
    *out_len = 0;
}

int ce_encrypt_data(const unsigned char *in, int64_t in_len, unsigned char **out, int64_t *out_len,
                    const ce_key_record *key)
{
    if (!out || !out_len)
        return -1;
    reset_outputs(out, out_len);
    if (ce_ready() != 0 || !key || !valid_input(in, in_len, NONCE_BYTES + TAG_BYTES))
        return -1;
    const size_t total = (size_t)in_len + NONCE_BYTES + TAG_BYTES;
    unsigned char *buffer = malloc(total);
    if (!buffer)
        return -1;
    randombytes_buf(buffer, NONCE_BYTES);
    static const unsigned char empty[1] = {0};
    unsigned long long cipher_len = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(buffer + NONCE_BYTES, &cipher_len, in ? in : empty,
                                               (unsigned long long)in_len,
                                               NULL, 0, NULL, buffer, key->key);
    *out = buffer;
    *out_len = (int64_t)(NONCE_BYTES + cipher_len);
    return 0;
}

int ce_decrypt_data(const unsigned char *in, int64_t in_len, unsigned char **out, int64_t *out_len,
                    const ce_key_record *key)
{
    if (!out || !out_len)
        return -1;
    reset_outputs(out, out_len);
    if (ce_ready() != 0 || !key || !valid_input(in, in_len, 0) || in_len < NONCE_BYTES + TAG_BYTES)
        return -1;
    const size_t plain_cap = (size_t)in_len - NONCE_BYTES - TAG_BYTES;
    /* One spare byte so that an empty plaintext still gets a distinct, non-null buffer. */
    unsigned char *buffer = malloc(plain_cap + 1);
    if (!buffer)
        return -1;
    unsigned long long plain_len = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(buffer, &plain_len, NULL, in + NONCE_BYTES,
                                                   (unsigned long long)in_len - NONCE_BYTES, NULL, 0, in, key->key)
        != 0) {
        free(buffer);
        return -1;
    }
    *out = buffer;
    *out_len = (int64_t)plain_len;
    return 0;
}

int ce_public_encrypt_sealed(const unsigned char *in, int64_t in_len, unsigned char **out, int64_t *out_len,
                             const unsigned char *public_key)
{
    if (!out || !out_len)
        return -1;
    reset_outputs(out, out_len);
    if (ce_ready() != 0 || !public_key || !valid_input(in, in_len, crypto_box_SEALBYTES))
        return -1;
    const size_t total = (size_t)in_len + crypto_box_SEALBYTES;
    unsigned char *buffer = malloc(total);
    if (!buffer)
        return -1;
    static const unsigned char empty[1] = {0};
    if (crypto_box_seal(buffer, in ? in : empty, (unsigned long long)in_len, public_key) != 0) {
        free(buffer);
        return -1;
    }
    *out = buffer;
    *out_len = (int64_t)total;
    return 0;
}
