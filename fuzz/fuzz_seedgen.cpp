// Writes seeds for the crypto fuzzers into <corpus-dir>/<fuzzer>/: real ciphertexts,
// wrapped keys and encrypted files under the fuzzers' fixed key and PIN.
#include "FuzzKey.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void writeFile(const std::string &path, const void *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seedgen <corpus-dir>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const ce_key_record key = fuzzKey();
    const char *texts[] = {"", "a", "hello clipboard", "一段中文文本 with mixed text"};
    int n = 0;
    for (const char *text : texts) {
        unsigned char *out = nullptr;
        int64_t outLen = 0;
        if (ce_encrypt_data(reinterpret_cast<const unsigned char *>(text), int64_t(std::string(text).size()), &out,
                            &outLen, &key) != 0)
            return 1;
        writeFile(dir + "/fuzz_ce_decrypt_data/seed" + std::to_string(n++), out, size_t(outLen));
        std::free(out);
    }

    ce_cipher_record *cipher = ce_generate_cipher(kFuzzPin, int32_t(sizeof kFuzzPin - 1), &key);
    if (!cipher)
        return 1;
    writeFile(dir + "/fuzz_ce_decrypt_key_data/wrapped", cipher, sizeof *cipher);
    std::free(cipher);

    const std::string plain = dir + "/plain.tmp";
    const std::string sizes[] = {"small", "chunks"};
    std::string body = "file body\n";
    for (const std::string &name : sizes) {
        writeFile(plain, body.data(), body.size());
        if (ce_encrypt((dir + "/fuzz_ce_decrypt_file/" + name).c_str(), plain.c_str(), &key) != 0)
            return 1;
        // The second file spans two 64 KiB chunks.
        body.assign(70000, 'z');
    }
    std::remove(plain.c_str());
    return 0;
}
