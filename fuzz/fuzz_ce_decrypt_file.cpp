// ce_decrypt on arbitrary files: the target exists exactly when decryption succeeds.
#include "FuzzKey.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path g_dir;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/zorvel-fuzz-file-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    g_dir = pattern;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const ce_key_record key = fuzzKey();
    const fs::path source = g_dir / "source";
    const fs::path target = g_dir / "target";
    FILE *f = std::fopen(source.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    const int rc = ce_decrypt(target.c_str(), source.c_str(), &key);
    if ((rc == 0) != fs::remove(target))
        std::abort();
    // Nothing else may be left behind (no half-written or staging file).
    for (const fs::directory_entry &entry : fs::directory_iterator(g_dir)) {
        if (entry.path() != source)
            std::abort();
    }
    return 0;
}
