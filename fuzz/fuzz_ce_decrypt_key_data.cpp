// ce_decrypt_key_data on arbitrary cipher records (short input is zero-padded to the
// 128-byte layout): on failure the output key must be all zero.
#include "FuzzKey.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ce_cipher_record cipher;
    std::memset(&cipher, 0, sizeof cipher);
    std::memcpy(&cipher, data, size < sizeof cipher ? size : sizeof cipher);
    // The PIN comes from the input's tail when there is one, so both are fuzzed.
    const char *pin = kFuzzPin;
    int32_t pinLen = int32_t(sizeof kFuzzPin - 1);
    if (size > sizeof cipher) {
        pin = reinterpret_cast<const char *>(data + sizeof cipher);
        pinLen = int32_t(size - sizeof cipher);
    }
    unsigned char out[CE_KEY_BYTES];
    std::memset(out, 0xAA, sizeof out);
    const int rc = ce_decrypt_key_data(pin, pinLen, &cipher, out);
    bool zero = true;
    for (unsigned char b : out)
        zero = zero && b == 0;
    if (rc < 0 && !zero)
        std::abort();
    if (rc >= 0 && out[0] == 0)
        std::abort();
    return 0;
}
