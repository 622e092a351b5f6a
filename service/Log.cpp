#include "Log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace ZorvelService::Log {

namespace {

std::mutex logMutex;

void write(const char *level, const std::string &text)
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::lock_guard<std::mutex> lock(logMutex);
    std::fprintf(stderr, "%s %s %s\n", stamp, level, text.c_str());
    std::fflush(stderr);
}

} // namespace

void info(const std::string &text)
{
    write("info", text);
}

void warning(const std::string &text)
{
    write("warning", text);
}

void critical(const std::string &text)
{
    write("critical", text);
}

} // namespace ZorvelService::Log
