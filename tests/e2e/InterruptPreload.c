/* Loaded into a tool under test: a clock read raises SIGINT, so the tool's
 * interrupt handling can be exercised at a known point of its run. The read
 * that raises it is the first, or the one INTERRUPT_AT_CALL names. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>

int gettimeofday(struct timeval* tv, void* tz) {
    static int calls;
    typedef int (*real_fn)(struct timeval*, void*);
    real_fn real;
    void* sym = dlsym(RTLD_NEXT, "gettimeofday");
    memcpy(&real, &sym, sizeof real);
    const char* at = getenv("INTERRUPT_AT_CALL");
    const int target = at ? atoi(at) : 1;
    if (++calls == target)
        raise(SIGINT);
    return real ? real(tv, tz) : -1;
}
