// ce_decrypt_data on arbitrary bytes: never a crash, and a result only with output.
#include "FuzzKey.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const ce_key_record key = fuzzKey();
    unsigned char *out = nullptr;
    int64_t outLen = -1;
    const int rc = ce_decrypt_data(data, int64_t(size), &out, &outLen, &key);
    if ((rc == 0) != (out != nullptr))
        std::abort();
    if (rc == 0 && (outLen < 0 || size_t(outLen) > size))
        std::abort();
    std::free(out);
    return 0;
}
