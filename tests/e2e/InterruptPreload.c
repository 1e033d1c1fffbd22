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

/* KILL_AT_OPEN=N kills the tool (SIGKILL, as a power cut would stop it) once
 * it has opened its Nth file for writing; KILL_AT_RENAME=N just before its Nth
 * rename. Whatever the moment, a file under a fixed name must be whole or
 * absent. */
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

static void killAt(const char* variable, int* calls) {
    const char* at = getenv(variable);
    if (at && ++*calls == atoi(at))
        raise(SIGKILL);
}

static int writing(int flags) {
    return (flags & O_ACCMODE) != O_RDONLY;
}

static int openCalls, renameCalls;

static void* next(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & O_CREAT) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    typedef int (*fn)(const char*, int, ...);
    fn real;
    void* sym = next("open");
    memcpy(&real, &sym, sizeof real);
    const int fd = real(path, flags, mode);
    /* The hub's device nodes are not files of the run. */
    if (fd >= 0 && writing(flags) && strncmp(path, "/dev/", 5) != 0)
        killAt("KILL_AT_OPEN", &openCalls);
    return fd;
}

FILE* fopen(const char* path, const char* how) {
    typedef FILE* (*fn)(const char*, const char*);
    fn real;
    void* sym = next("fopen");
    memcpy(&real, &sym, sizeof real);
    FILE* file = real(path, how);
    if (file && how && (how[0] == 'w' || how[0] == 'a' || strchr(how, '+')))
        killAt("KILL_AT_OPEN", &openCalls);
    return file;
}

FILE* fopen64(const char* path, const char* how) {
    typedef FILE* (*fn)(const char*, const char*);
    fn real;
    void* sym = next("fopen64");
    memcpy(&real, &sym, sizeof real);
    FILE* file = real(path, how);
    if (file && how && (how[0] == 'w' || how[0] == 'a' || strchr(how, '+')))
        killAt("KILL_AT_OPEN", &openCalls);
    return file;
}

int rename(const char* from, const char* to) {
    killAt("KILL_AT_RENAME", &renameCalls);
    typedef int (*fn)(const char*, const char*);
    fn real;
    void* sym = next("rename");
    memcpy(&real, &sym, sizeof real);
    return real(from, to);
}
