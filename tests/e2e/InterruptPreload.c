/* Loaded into a tool under test: the first clock read raises SIGINT, so the
 * tool's interrupt handling can be exercised at a known point of its run. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <string.h>
#include <sys/time.h>

int gettimeofday(struct timeval* tv, void* tz) {
    static int raised;
    typedef int (*real_fn)(struct timeval*, void*);
    real_fn real;
    void* sym = dlsym(RTLD_NEXT, "gettimeofday");
    memcpy(&real, &sym, sizeof real);
    if (!raised) {
        raised = 1;
        raise(SIGINT);
    }
    return real ? real(tv, tz) : -1;
}
