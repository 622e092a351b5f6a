#include "cindral_internal.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

static pthread_once_t ce_once = PTHREAD_ONCE_INIT;
static int ce_init_result = -1;

static void ce_init(void)
{
    ce_init_result = sodium_init() < 0 ? -1 : 0;
}

int ce_ready(void)
{
    pthread_once(&ce_once, ce_init);
    return ce_init_result;
}

static int argon2id_at(unsigned char out[32], const unsigned char *in, unsigned long long in_len,
                       const unsigned char salt[CE_SALT_BYTES], unsigned long long opslimit, size_t memlimit)
{
    static const char empty[1] = {0};
    if (in_len > crypto_pwhash_PASSWD_MAX)
        return -1;
    return crypto_pwhash(out, 32, in ? (const char *)in : empty, in_len, salt, opslimit, memlimit,
                         crypto_pwhash_ALG_ARGON2ID13);
}

int ce_argon2id(unsigned char out[32], const unsigned char *in, unsigned long long in_len,
                const unsigned char salt[CE_SALT_BYTES])
{
    return argon2id_at(out, in, in_len, salt, crypto_pwhash_OPSLIMIT_MODERATE, crypto_pwhash_MEMLIMIT_MODERATE);
}

int ce_argon2id_earlier(unsigned char out[32], const unsigned char *in, unsigned long long in_len,
                        const unsigned char salt[CE_SALT_BYTES])
{
    return argon2id_at(out, in, in_len, salt, crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE);
}

void ce_free_secret(void *p, size_t len)
{
    if (!p)
        return;
    sodium_memzero(p, len);
    free(p);
}

void ce_hex_into(char *dst, const unsigned char *bin, size_t len)
{
    char hex[2 * 64 + 1];
    if (len > 64)
        return;
    sodium_bin2hex(hex, sizeof hex, bin, len);
    memcpy(dst, hex, 2 * len);
}
