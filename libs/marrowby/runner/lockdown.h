#ifndef MARROWBY_RUNNER_LOCKDOWN_H
#define MARROWBY_RUNNER_LOCKDOWN_H

/* Limits of the runner process, set before any plugin code runs. */
#define RUNNER_ADDRESS_SPACE (256ul * 1024ul * 1024ul)
#define RUNNER_CPU_SECONDS 60
/* The runner leaves on its own between requests past this much CPU time, well
 * before the hard limit can stop it in the middle of one. */
#define RUNNER_CPU_RETIRE_SECONDS 40

/* Keeps only descriptors 0, 1 and 2, sets the resource limits and loads the
 * seccomp allow-list. Returns 0, or -1 with a reason in why. */
int lockdown(char *why, unsigned long whylen);

#endif
