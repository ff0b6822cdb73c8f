// The trace facility: a trace control file per instance switches tracing on; each routine
// context decides at initialisation whether it appends to the trace file the control names.
// Only a control file in a directory of the process's user (or root) that no one else can
// write is trusted, and only the process's own trace file in its own private directory is
// written.
#include "qapTrace.h"

#include "qapMsg.h"
#include "qapOwned.h"
#include "qapPlatform.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int qapTrace(QapRoutineCtx *ctx, const char *format, ...) {
    if (ctx == nullptr || ctx->traceFile == nullptr) return 0;
    va_list args;
    va_start(args, format);
    char small[512];
    std::string text;
    int n = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n < 0) return 0;
    if (static_cast<size_t>(n) < sizeof small) {
        text.assign(small, static_cast<size_t>(n));
    } else {
        text.resize(static_cast<size_t>(n) + 1);
        va_start(args, format);
        vsnprintf(&text[0], text.size(), format, args);
        va_end(args);
        text.resize(static_cast<size_t>(n));
    }
    // Traced text comes from SQL callers too: control characters in it (other than the tab
    // of the line convention and the line's final newline) are escaped, so that no one can
    // forge trace lines or send terminal sequences to whoever reads the file.
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\t' || (c == '\n' && i + 1 == text.size()) || (c >= 0x20 && c != 0x7F)) {
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    int written = static_cast<int>(fwrite(out.data(), 1, out.size(), ctx->traceFile));
    fflush(ctx->traceFile);
    return written;
}

namespace {

// True for a file or directory that the process's user (or root) owns and that no one else
// may write: only then may it switch tracing on and name the file the process appends to.
bool trusted(const struct stat &st) {
    return (st.st_uid == geteuid() || st.st_uid == 0) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool trustedDirectory(const char *dir) {
    struct stat st;
    return stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && trusted(st);
}

// Opens the trace file for appending, only as the process's own regular file (created 0600,
// never through a link, never a FIFO) in a directory, not a link, that no other user can
// write: the trace holds callers' documents, and no one else may choose or read it. Null with
// why set otherwise.
FILE *openTraceFile(const char *name, const char **why) {
    const char *slash = strrchr(name, kPathSep);
    const std::string dir = slash == nullptr ? "." : slash == name ? "/" : std::string(name, slash);
    const char *base = slash == nullptr ? name : slash + 1;
    *why = "its directory is missing or a link";
    int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) return nullptr;
    struct stat st;
    int fd = -1;
    if (fstat(dirFd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
        *why = "its directory may be written by another user";
    else if ((fd = openat(dirFd, base,
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                          0600)) < 0)
        *why = strerror(errno);
    close(dirFd);
    if (fd < 0) return nullptr;
    FILE *f = nullptr;
    *why = "it is not the process's own regular file";
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && st.st_nlink == 1 &&
        fchmod(fd, 0600) == 0) {
        int fl = fcntl(fd, F_GETFL);
        if (fl != -1 && fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0) f = fdopen(fd, "a");
    }
    if (f == nullptr) close(fd);
    return f;
}

// The control file found missing on this thread, for a control directory and instance, and
// when: a routine's first call within a second of that takes it as still missing without
// looking, so a control file another process makes takes effect within about a second.
// Switching tracing on or off in this process takes effect at once (switches counts them). A
// directory modified in the last two seconds is not remembered: it may be being set up.
std::atomic<unsigned> traceSwitches{0};
struct QapTraceOff {
    std::string dir, instance;
    timespec at{};
    unsigned switches = 0;
    bool known = false;
    bool holds(const char *ctlDir, const char *inst) const {
        if (!known || switches != traceSwitches.load()) return false;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        const long long ns = (now.tv_sec - at.tv_sec) * 1000000000LL + (now.tv_nsec - at.tv_nsec);
        return ns < 1000000000LL && dir == ctlDir && instance == inst;
    }
    void note(const char *ctlDir, const char *inst, unsigned seen, const struct stat &st) {
        known = false;
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        if (now.tv_sec - st.st_mtim.tv_sec < 2) return;
        try {
            dir = ctlDir;
            instance = inst;
        } catch (...) {
            return;
        }
        switches = seen;
        clock_gettime(CLOCK_MONOTONIC_COARSE, &at);
        known = true;
    }
};
thread_local QapTraceOff traceOff;

// Opens the control file for reading when it can be trusted; null with errno ENOENT when it
// does not exist or cannot be trusted (tracing then stays off), else with the open's errno.
FILE *openControlFile(const char *dir, const char *instance, const char *path) {
    const unsigned switches = traceSwitches.load(); // before looking: see QapTraceOff
    struct stat st;
    const bool isDir = stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
    if (isDir && !trusted(st)) {
        errno = ENOENT;
        return nullptr;
    }
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT && isDir) traceOff.note(dir, instance, switches, st);
        errno = error == ELOOP ? ENOENT : error; // a link: not trusted
        return nullptr;
    }
    FILE *f = nullptr;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && trusted(st)) f = fdopen(fd, "r");
    if (f == nullptr) {
        close(fd);
        errno = ENOENT;
    }
    return f;
}

// Writes the control file (0600, not through a link) in a trusted directory; false otherwise.
bool writeControlFile(const char *dir, const char *path, const char *traceName) {
    if (!trustedDirectory(dir)) return false;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fchmod(fd, 0600) == 0;
    size_t len = strlen(traceName);
    ok = ok && write(fd, traceName, len) == static_cast<ssize_t>(len);
    return close(fd) == 0 && ok;
}

} // namespace

int32_t qapTraceOpen(QapRoutineCtx *ctx, QapStatus err) {
    if (ctx->traceFile != nullptr && ctx->traceOn == 1) {
        if (err.msgtext != nullptr) err.msgtext[0] = '\0';
        return 0;
    }
    int32_t rc = 0;
    ctx->traceFile = qapTraceControl(ctx, kTraceOpen, nullptr, nullptr, &rc, err);
    if (ctx->traceFile != nullptr) ctx->traceOn = 1;
    return rc;
}

int32_t qapTraceClose(QapRoutineCtx *ctx) {
    if (ctx->traceFile != nullptr) fclose(ctx->traceFile);
    ctx->traceFile = nullptr;
    ctx->traceOn = 0;
    return 0;
}

FILE *qapTraceControl(QapRoutineCtx *ctx, int32_t op, const char *dir, const char *instance,
                      int32_t *rc, QapStatus err) {
    if (instance == nullptr) instance = getenv("TARNINSTANCE");
    const char *ctlDir = getenv("TARNQAPPATH");
    if (instance == nullptr || ctlDir == nullptr) {
        *rc = -102;
        if (err.msgtext != nullptr) snprintf(err.msgtext, kMsgTextSize, "%s", "38X35");
        return nullptr;
    }

    if (op == kTraceOpen && traceOff.holds(ctlDir, instance)) {
        *rc = 0;
        if (err.sqlstate != nullptr) qapSetState(err.sqlstate, "00000");
        return nullptr;
    }
    // A path that does not fit is refused by the open calls below as too long.
    char ctlPath[kMaxPath];
    bool ctlFits = snprintf(ctlPath, sizeof ctlPath, kTraceCtlFormat, ctlDir, instance) <
                   static_cast<int>(sizeof ctlPath);
    *rc = 0;
    errno = 0;
    if (err.sqlstate != nullptr) qapSetState(err.sqlstate, "00000");

    FILE *trace = nullptr;
    switch (op) {
    case kTraceOn: {
        bool nameFits = snprintf(ctx->traceFileName, sizeof ctx->traceFileName, kTraceFileFormat,
                                 dir != nullptr ? dir : "",
                                 instance) < static_cast<int>(sizeof ctx->traceFileName);
        const char *why = "its name is too long";
        trace = nameFits ? openTraceFile(ctx->traceFileName, &why) : nullptr;
        if (trace == nullptr) {
            qapSetMsg(ctx, err.msgtext, QAPC009E, dir != nullptr ? dir : "");
            *rc = -97;
            break;
        }
        // Routines ignore a control file that others could have written, so none is made.
        if (!ctlFits || !writeControlFile(ctlDir, ctlPath, ctx->traceFileName)) {
            qapSetMsg(ctx, err.msgtext, QAPC011E);
            *rc = -105;
            break;
        }
        ++traceSwitches;
        qapSetMsg(ctx, err.msgtext, QAPA068I);
        break;
    }
    case kTraceOpen: {
        if (!ctlFits) errno = ENAMETOOLONG;
        FILE *ctl = ctlFits ? openControlFile(ctlDir, instance, ctlPath) : nullptr;
        if (ctl == nullptr) {
            if (errno != ENOENT) {
                *rc = -1;
                // Cut like any message text: at most 70 characters, the last a newline.
                if (err.msgtext != nullptr && snprintf(err.msgtext, kMsgTextSize, "'%s' %s\n",
                                                       ctlPath, strerror(errno)) >= kMsgTextSize)
                    err.msgtext[kMsgTextSize - 2] = '\n';
            }
            break;
        }
        if (fgets(ctx->traceFileName, sizeof ctx->traceFileName, ctl) == nullptr)
            ctx->traceFileName[0] = '\0';
        fclose(ctl);
        ctx->traceFileName[strcspn(ctx->traceFileName, "\r\n")] = '\0';
        // A trace file that cannot be trusted leaves the routine untraced, not failed: said
        // once per process in the host's log.
        const char *why = "";
        trace = openTraceFile(ctx->traceFileName, &why);
        static std::atomic<bool> told{false};
        if (trace == nullptr && !told.exchange(true))
            fprintf(stderr, "tessel: not tracing to %s: %s\n", ctx->traceFileName, why);
        break;
    }
    case kTraceOff:
        if (!ctlFits || remove(ctlPath) != 0) {
            qapSetMsg(ctx, err.msgtext, QAPC008E, ctlPath);
            *rc = -96;
        } else {
            ++traceSwitches;
            qapSetMsg(ctx, err.msgtext, QAPA069I);
        }
        ctx->traceFileName[0] = '\0';
        ctx->traceOn = 0;
        ctx->traceFile = nullptr;
        break;
    default:
        break;
    }
    return trace;
}

// The administrative operations work on a context of their own, so their messages follow the
// routine placement (at most 70 characters).
int32_t qapTraceSwitchOn(const char *dir, const char *instance, QapStatus err) {
    QapRoutineCtx ctx{};
    int32_t rc = 0;
    FILE *trace = qapTraceControl(&ctx, kTraceOn, dir, instance, &rc, err);
    if (trace == nullptr) return -1;
    time_t now = time(nullptr);
    fprintf(trace, "*** Trace turned on %s\n", ctime(&now));
    fclose(trace);
    return 0;
}

int32_t qapTraceSwitchOff(const char *instance, QapStatus err) {
    QapRoutineCtx ctx{};
    int32_t rc = 0;
    qapTraceControl(&ctx, kTraceOff, nullptr, instance, &rc, err);
    return rc != 0 ? -1 : 0;
}
