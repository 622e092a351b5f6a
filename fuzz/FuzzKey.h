#pragma once

// The fixed content key every crypto fuzzer decrypts with; the seed corpus was
// encrypted under it (fuzz_seedgen), so seeds reach the code past the tag check.
#include "cindral.h"

#include <cstring>

inline ce_key_record fuzzKey()
{
    ce_key_record key;
    std::memset(&key, 0, sizeof key);
    for (int i = 0; i < CE_KEY_BYTES; ++i)
        key.key[i] = static_cast<unsigned char>(i + 1);
    std::memcpy(key.hash, "0123456789abcdef0123456789abcdef", 32);
    return key;
}

inline const char kFuzzPin[] = "482913";
