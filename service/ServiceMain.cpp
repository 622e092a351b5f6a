// zorvel-service: see service/README.md.

#include "Log.h"
#include "Service.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>

int main(int argc, char **argv)
{
    std::string error;
    const auto options = ZorvelService::ServiceConfig::parseArguments(argc, argv, &error);
    if (!options) {
        if (!error.empty())
            std::fprintf(stderr, "zorvel-service: %s\n", error.c_str());
        std::fputs(ZorvelService::ServiceConfig::usage(), error.empty() ? stdout : stderr);
        return error.empty() ? 0 : 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    // Every thread inherits the blocked signals; only this one waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ZorvelService::Service service(*options);
    if (!service.start(&error)) {
        ZorvelService::Log::critical("zorvel-service cannot start: " + error);
        return 1;
    }
    std::printf("listening on %s port %d\n", service.publicUrl().c_str(), service.port());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    ZorvelService::Log::info("stopping on signal " + std::to_string(signal));
    service.stop();
    return 0;
}
