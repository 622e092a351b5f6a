// install_plugin on arbitrary packages. The plugin folders live in <sandbox>/root;
// after every attempt the sandbox must hold nothing but root, root nothing but its
// two folders, and tmp must be empty again (nothing is left behind on failure).
#include "marrowby.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

namespace {

std::string g_sandbox, g_root, g_plugins, g_tmp, g_package;
clip_state *g_state = nullptr;

std::set<std::string> entries(const std::string &path)
{
    std::set<std::string> names;
    std::error_code missing;
    for (const auto &entry : std::filesystem::directory_iterator(path, missing))
        names.insert(entry.path().filename());
    return names;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/zorvel-fuzz-cpk-XXXXXX";
    if (!mkdtemp(pattern))
        std::abort();
    g_sandbox = pattern;
    g_root = g_sandbox + "/root";
    g_plugins = g_root + "/plugins";
    g_tmp = g_root + "/tmp";
    // The package sits outside the sandbox so that the sandbox check sees only
    // what the engine wrote.
    g_package = g_sandbox + ".cpk";
    g_state = new_clip_state();
    if (init_with_path(g_plugins.c_str(), g_tmp.c_str(), g_state) != MARROWBY_OK)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *f = std::fopen(g_package.c_str(), "wb");
    if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
        std::abort();
    const int rc = install_plugin(g_package.c_str(), g_state);

    if (entries(g_sandbox) != std::set<std::string>{"root"} || entries(g_root) != std::set<std::string>{"plugins", "tmp"}
        || !entries(g_tmp).empty())
        std::abort();
    const std::set<std::string> installed = entries(g_plugins);
    if (rc == MARROWBY_OK) {
        if (installed.size() != 1 || plugin_count(g_state) != 1 || *installed.begin() != plugin_at(g_state, 0)->id)
            std::abort();
        // Keep the state small: the next input starts from an empty plugin folder.
        if (remove_plugin(plugin_at(g_state, 0)->id, g_state) != MARROWBY_OK)
            std::abort();
    } else if (!installed.empty()) {
        std::abort();
    }
    if (!entries(g_plugins).empty())
        std::abort();
    return 0;
}
