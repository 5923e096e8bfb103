/* libpraxon-lines.so: modem lines and break for a client of praxon-sim, loaded with LD_PRELOAD.
 *
 * A pty fails TIOCMGET/TIOCMSET/TIOCMBIS/TIOCMBIC and ignores break. On a descriptor that is the
 * pty of a running simulator these calls (and tcsendbreak, whose ioctl glibc makes internally)
 * go to the simulator instead, which applies them to its board before it answers, so a client's
 * next write already meets the new levels. Opening the pty holds a connection to the simulator
 * (the kernel asserts DTR and RTS at open); closing it ends the connection (HUPCL releases them),
 * also when the process dies. Every other descriptor, and a pty nobody answers for, gets the C
 * library's own calls. See LineProtocol.h for the exchange. */
#define _GNU_SOURCE
#undef _FORTIFY_SOURCE

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "LineProtocol.h"

#define EXPORT __attribute__((visibility("default")))

enum { kMaxTracked = 4096, kReplyTimeoutS = 2 };

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
/* The simulator connection held for each descriptor opened on a simulator's pty, plus 1. */
static int connection_of[kMaxTracked];

static void* next_symbol(const char* name) {
    return dlsym(RTLD_NEXT, name);
}

#define REAL(ret, name, params)                             \
    static ret(*real_##name) params;                        \
    static ret(*get_##name(void)) params {                  \
        if (!real_##name) real_##name = next_symbol(#name); \
        return real_##name;                                 \
    }

REAL(int, ioctl, (int, unsigned long, ...))
REAL(int, tcsendbreak, (int, int))
REAL(int, close, (int))
REAL(int, open, (const char*, int, ...))
REAL(int, open64, (const char*, int, ...))
REAL(int, openat, (int, const char*, int, ...))
REAL(int, openat64, (int, const char*, int, ...))
REAL(int, __open_2, (const char*, int))
REAL(int, __open64_2, (const char*, int))
REAL(int, __openat_2, (int, const char*, int))
REAL(int, __openat64_2, (int, const char*, int))

struct levels {
    int dtr, rts, brk;
};

/* One request, one reply; 0 when the simulator said "ok". */
static int exchange(int conn, const char* request, struct levels* out) {
    if (send(conn, request, strlen(request), MSG_NOSIGNAL) < 0) return -1;
    char reply[PRAXON_LINES_MAX_MESSAGE + 1];
    ssize_t n;
    do {
        n = recv(conn, reply, PRAXON_LINES_MAX_MESSAGE, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return -1;
    reply[n] = '\0';
    struct levels l;
    if (sscanf(reply, "ok dtr=%d rts=%d brk=%d", &l.dtr, &l.rts, &l.brk) != 3) return -1;
    if (out) *out = l;
    return 0;
}

/* A connection to the simulator serving fd's pty, introduced as "open" or "attach"; -1 when fd
 * is no pty or nobody serves it. */
static int connect_for(int fd, const char* introduction) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return -1;
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (!praxon_lines_socket_name(st.st_rdev, addr.sun_path + 1, sizeof addr.sun_path - 1))
        return -1;
    const int keep = fcntl(fd, F_GETFD) & FD_CLOEXEC;
    const int conn = socket(AF_UNIX, SOCK_SEQPACKET | (keep ? SOCK_CLOEXEC : 0), 0);
    if (conn < 0) return -1;
    const struct timeval timeout = {kReplyTimeoutS, 0};
    setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    const socklen_t length =
        (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + strlen(addr.sun_path + 1));
    char hello[PRAXON_LINES_MAX_MESSAGE];
    snprintf(hello, sizeof hello, "%s %llu %llu", introduction, (unsigned long long)st.st_dev,
             (unsigned long long)st.st_rdev);
    const int saved = errno;
    if (connect(conn, (struct sockaddr*)&addr, length) != 0 || exchange(conn, hello, NULL) != 0) {
        get_close()(conn);
        errno = saved;
        return -1;
    }
    errno = saved;
    return conn;
}

static void forget_locked(int fd) {
    if (fd >= 0 && fd < kMaxTracked && connection_of[fd]) {
        get_close()(connection_of[fd] - 1);
        connection_of[fd] = 0;
    }
}

/* After a successful open: a simulator's pty gets its holding connection. */
static int opened(int fd, int flags) {
    if (fd < 0 || (flags & O_PATH) == O_PATH) return fd;
    const int saved = errno;
    const int conn = connect_for(fd, "open");
    pthread_mutex_lock(&lock);
    forget_locked(fd); /* a number reused after a dup2 over it */
    if (conn >= 0 && fd < kMaxTracked)
        connection_of[fd] = conn + 1;
    else if (conn >= 0)
        get_close()(conn);
    pthread_mutex_unlock(&lock);
    errno = saved;
    return fd;
}

/* Sends one request about fd's lines; 0 when a simulator took it. */
static int request(int fd, const char* text, struct levels* out) {
    pthread_mutex_lock(&lock);
    int conn = fd >= 0 && fd < kMaxTracked ? connection_of[fd] - 1 : -1;
    int temporary = 0;
    if (conn < 0) {
        conn = connect_for(fd, "attach");
        temporary = 1;
    }
    int result = -1;
    if (conn >= 0) {
        const int saved = errno;
        result = exchange(conn, text, out);
        errno = saved;
        if (temporary)
            get_close()(conn);
        else if (result != 0)
            forget_locked(fd); /* the simulator is gone: the plain pty from now on */
    }
    pthread_mutex_unlock(&lock);
    return result;
}

static int set_break(int fd, int on) {
    return request(fd, on ? "set brk=1" : "set brk=0", NULL);
}

static int break_pulse(int fd, int ms) {
    if (set_break(fd, 1) != 0) return -1;
    struct timespec pause = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
    set_break(fd, 0);
    return 0;
}

/* The modem-line and break ioctls on a simulator's pty; 1 when handled (*result set). */
static int lines_ioctl(int fd, unsigned long req, void* arg, int* result) {
    char text[64];
    struct levels l;
    int* bits = (int*)arg;
    *result = 0;
    switch (req) {
        case TIOCMGET:
            if (!bits || request(fd, "get", &l) != 0) return 0;
            *bits = (l.dtr ? TIOCM_DTR : 0) | (l.rts ? TIOCM_RTS : 0);
            return 1;
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC: {
            if (!bits) return 0;
            const int v = *bits;
            const char* level = req == TIOCMBIC ? "0" : "1";
            if (req == TIOCMSET)
                snprintf(text, sizeof text, "set dtr=%d rts=%d", !!(v & TIOCM_DTR),
                         !!(v & TIOCM_RTS));
            else
                snprintf(text, sizeof text, "set%s%s%s%s", v & TIOCM_DTR ? " dtr=" : "",
                         v & TIOCM_DTR ? level : "", v & TIOCM_RTS ? " rts=" : "",
                         v & TIOCM_RTS ? level : "");
            return request(fd, text, NULL) == 0;
        }
        case TIOCSBRK:
        case TIOCCBRK:
            return set_break(fd, req == TIOCSBRK) == 0;
        case TCSBRK: /* 0: a break of 0.25 s; otherwise a drain, which the pty does itself */
            return (unsigned long)arg == 0 && break_pulse(fd, 250) == 0;
        case TCSBRKP: { /* in tenths of a second, 0 as 0.25 s */
            const unsigned long tenths = (unsigned long)arg;
            return break_pulse(fd, tenths ? (int)(tenths > 100 ? 100 : tenths) * 100 : 250) == 0;
        }
        default:
            return 0;
    }
}

EXPORT int ioctl(int fd, unsigned long req, ...) {
    va_list ap;
    va_start(ap, req);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    int result;
    if (lines_ioctl(fd, req, arg, &result)) return result;
    return get_ioctl()(fd, req, arg);
}

EXPORT int tcsendbreak(int fd, int duration) {
    /* As glibc: 0.25 s, or the duration in ms rounded up to tenths of a second. */
    const int ms = duration <= 0 ? 250 : (duration > 10000 ? 10000 : (duration + 99) / 100 * 100);
    if (break_pulse(fd, ms) == 0) return 0;
    return get_tcsendbreak()(fd, duration);
}

EXPORT int close(int fd) {
    const int result = get_close()(fd);
    const int saved = errno;
    pthread_mutex_lock(&lock);
    forget_locked(fd);
    pthread_mutex_unlock(&lock);
    errno = saved;
    return result;
}

static int needs_mode(int flags) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

#define OPEN_WRAPPER(name)                                     \
    EXPORT int name(const char* path, int flags, ...) {        \
        mode_t mode = 0;                                       \
        if (needs_mode(flags)) {                               \
            va_list ap;                                        \
            va_start(ap, flags);                               \
            mode = va_arg(ap, mode_t);                         \
            va_end(ap);                                        \
        }                                                      \
        return opened(get_##name()(path, flags, mode), flags); \
    }
#define OPENAT_WRAPPER(name)                                          \
    EXPORT int name(int dirfd, const char* path, int flags, ...) {    \
        mode_t mode = 0;                                              \
        if (needs_mode(flags)) {                                      \
            va_list ap;                                               \
            va_start(ap, flags);                                      \
            mode = va_arg(ap, mode_t);                                \
            va_end(ap);                                               \
        }                                                             \
        return opened(get_##name()(dirfd, path, flags, mode), flags); \
    }

OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)

EXPORT int __open_2(const char* path, int flags) {
    return opened(get___open_2()(path, flags), flags);
}
EXPORT int __open64_2(const char* path, int flags) {
    return opened(get___open64_2()(path, flags), flags);
}
EXPORT int __openat_2(int dirfd, const char* path, int flags) {
    return opened(get___openat_2()(dirfd, path, flags), flags);
}
EXPORT int __openat64_2(int dirfd, const char* path, int flags) {
    return opened(get___openat64_2()(dirfd, path, flags), flags);
}
