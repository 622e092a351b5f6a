// ce_decrypt on arbitrary files: the target exists exactly when decryption succeeds.
#include "FuzzKey.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string g_dir;

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
    const std::string source = g_dir + "/source";
    const std::string target = g_dir + "/target";
    FILE *f = std::fopen(source.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    const int rc = ce_decrypt(target.c_str(), source.c_str(), &key);
    const bool exists = access(target.c_str(), F_OK) == 0;
    if ((rc == 0) != exists)
        std::abort();
    unlink(target.c_str());
    // Nothing else may be left behind (no half-written or staging file).
    DIR *dir = opendir(g_dir.c_str());
    while (dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && name != "source")
            std::abort();
    }
    closedir(dir);
    return 0;
}
