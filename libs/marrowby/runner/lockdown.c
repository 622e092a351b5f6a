/* The runner's confinement: resource limits, no inherited descriptors and a
 * seccomp allow-list of the calls a Lua interpreter reading its plugin files
 * needs. Anything else ends the process. */

#include "lockdown.h"

#include <errno.h>
#include <fcntl.h>
#include <seccomp.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define RUNNER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RUNNER_ASAN 1
#endif
#endif

static int limit(int resource, rlim_t value, const char *name, char *why, unsigned long whylen)
{
    struct rlimit rl = {value, value};
    if (setrlimit(resource, &rl) == 0)
        return 0;
    snprintf(why, whylen, "setrlimit %s: %s", name, strerror(errno));
    return -1;
}

static int set_limits(char *why, unsigned long whylen)
{
#ifndef RUNNER_ASAN
    /* AddressSanitizer reserves terabytes of shadow memory; its builds run
     * without the address-space cap (the engine's own memory caps still hold). */
    if (limit(RLIMIT_AS, RUNNER_ADDRESS_SPACE, "RLIMIT_AS", why, whylen) != 0)
        return -1;
#endif
    if (limit(RLIMIT_CPU, RUNNER_CPU_SECONDS, "RLIMIT_CPU", why, whylen) != 0
        || limit(RLIMIT_CORE, 0, "RLIMIT_CORE", why, whylen) != 0
        || limit(RLIMIT_FSIZE, 0, "RLIMIT_FSIZE", why, whylen) != 0
        || limit(RLIMIT_NPROC, 0, "RLIMIT_NPROC", why, whylen) != 0
        || limit(RLIMIT_MEMLOCK, 0, "RLIMIT_MEMLOCK", why, whylen) != 0)
        return -1;
    return 0;
}

static int close_inherited(char *why, unsigned long whylen)
{
    if (close_range(3, ~0u, 0) == 0)
        return 0;
    snprintf(why, whylen, "close_range: %s", strerror(errno));
    return -1;
}

#define ALLOW(call, ...)                                                                                       \
    do {                                                                                                       \
        if (rc == 0)                                                                                           \
            rc = seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(call), __VA_ARGS__);                           \
    } while (0)

static int load_filter(char *why, unsigned long whylen)
{
#ifdef RUNNER_ASAN
    /* The sanitizer runtime makes calls of its own (signal stacks, /proc reads,
     * symbolising); in its builds a call off the list fails instead of killing. */
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(EPERM));
#else
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_KILL_PROCESS);
#endif
    if (!ctx) {
        snprintf(why, whylen, "seccomp_init failed");
        return -1;
    }
    int rc = 0;
    /* The pipe: requests on 0, replies on 1, diagnostics on 2; files read-only. */
    ALLOW(read, 0);
    ALLOW(write, 1, SCMP_A0(SCMP_CMP_LE, 2, 0));
    ALLOW(openat, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND, O_RDONLY));
    ALLOW(close, 0);
    ALLOW(fstat, 0);
    ALLOW(newfstatat, 0);
    ALLOW(lseek, 0);
    /* Memory, never executable. */
    ALLOW(brk, 0);
    ALLOW(mmap, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    ALLOW(mprotect, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    ALLOW(munmap, 0);
    ALLOW(mremap, 0);
    ALLOW(madvise, 0);
    /* os.time, os.clock, the runner's own CPU check. */
    ALLOW(clock_gettime, 0);
    ALLOW(gettimeofday, 0);
    ALLOW(getrusage, 0);
    /* Leaving, and what glibc's abort and locks may need on the way. */
    ALLOW(exit, 0);
    ALLOW(exit_group, 0);
    ALLOW(rt_sigreturn, 0);
    ALLOW(rt_sigprocmask, 0);
    ALLOW(futex, 0);
#ifdef RUNNER_ASAN
    ALLOW(sigaltstack, 0);
    ALLOW(getpid, 0);
    ALLOW(gettid, 0);
    ALLOW(sched_yield, 0);
    ALLOW(readlink, 0);
#endif
    if (rc == 0)
        rc = seccomp_load(ctx);
    seccomp_release(ctx);
    if (rc != 0) {
        snprintf(why, whylen, "seccomp: %s", strerror(-rc));
        return -1;
    }
    return 0;
}

int lockdown(char *why, unsigned long whylen)
{
    /* Time-zone data is read once now, not from inside the sandbox later. */
    tzset();
    if (close_inherited(why, whylen) != 0 || set_limits(why, whylen) != 0)
        return -1;
    return load_filter(why, whylen);
}
