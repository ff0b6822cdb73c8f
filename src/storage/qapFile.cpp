// Server files: absolute names, opening under the allowed-files rule, sizes, temporary files,
// whole-file replacement, whole-file reads into a VARCHAR result.
#include "qapFile.h"
#include "qapConv.h"
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapOwned.h"
#include "qapPlatform.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include <sys/random.h>
#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

namespace {

// Collapses every run of separators to one and drops trailing ones, in place. A text made of
// separators only keeps one, so that the root stays a usable entry. Returns the new length.
int32_t normaliseSeparators(UChar *s) {
    int32_t w = 0;
    for (int32_t r = 0; s[r] != 0; ++r) {
        if (s[r] == kPathSep && w > 0 && s[w - 1] == kPathSep) continue;
        s[w++] = s[r];
    }
    while (w > 1 && s[w - 1] == kPathSep)
        --w;
    s[w] = 0;
    return w;
}

// The UTF-16 buffer size for text of length bytes: (length + 1) * 4 units.
int32_t registryUnits(size_t length) {
    size_t units = (length + 1) * 4;
    return units > INT32_MAX || units < length ? INT32_MAX : static_cast<int32_t>(units);
}

// UTF-16 text in the system code page (ICU's default converter), as file names reach the
// system; empty when it cannot be converted exactly.
std::string toSystem(const UChar *s) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter *cnv = qapOpenNamed(nullptr, &status);
    if (cnv == nullptr) return std::string();
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(cnv, nullptr, 0, s, -1, &status);
    std::string out;
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.resize(static_cast<size_t>(n) + 1);
        status = U_ZERO_ERROR;
        ucnv_fromUChars(cnv, &out[0], n + 1, s, -1, &status);
        out.resize(U_SUCCESS(status) ? static_cast<size_t>(n) : 0);
    }
    ucnv_close(cnv);
    return out;
}

// Collapses runs of "/" and drops trailing ones (the root keeps its one).
std::string collapseSeparators(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != kPathSep || out.empty() || out.back() != kPathSep) out += c;
    while (out.size() > 1 && out.back() == kPathSep)
        out.pop_back();
    return out;
}

// Where the rule puts a file: an allowed directory, held open, and the name beneath it; or,
// with "ANY", just the name in the system's bytes.
struct QapAllowed {
    bool any = false;
    std::string name; // the system's bytes of the file name
    QapFd dir;        // the allowed directory (not with ANY)
    std::string rel;  // the name beneath it
};

enum { ALLOWED = 0, REFUSED = -1, NO_MEMORY = -2 };

// The allowed-files rule for one name. Unless the value is "ANY", the name must not have a
// ".." component, and with its directory resolved must lie beneath a resolved entry (names
// compared case by case). What is then opened is opened beneath the entry's directory by the
// name's remaining part, so no link or rename made since can lead out of it.
int allowedTarget(QapRoutineCtx *ctx, int access, const char *name, QapAllowed &a) {
    static const char fn[] = "allowedTarget";
    QapHeap<char> value(sqloGetEnv(access == 0 ? TARN_REG_READ_ACCESS : TARN_REG_WRITE_ACCESS));
    if (!value) {
        QAP_TRACE(ctx, fn, "no registry value for %s access\n", access == 0 ? "read" : "write");
        return REFUSED;
    }
    int32_t valueUnits = registryUnits(strlen(value.get()));
    std::unique_ptr<UChar[]> list(new (std::nothrow) UChar[valueUnits]);
    if (!list) return NO_MEMORY;
    if (qapMbstowcsSys(ctx, list.get(), value.get(), valueUnits) < 1) return REFUSED;
    // ANY allows even an empty name, which then opens nothing.
    if (name != nullptr && name[0] == '\0' && u_strcmp(list.get(), u"ANY") == 0) {
        a.any = true;
        a.name.clear();
        return ALLOWED;
    }
    // The string that is checked is the string that is opened: the SQL name converted once,
    // exactly, or not at all.
    if (name == nullptr || !qapSystemName(ctx, name, a.name)) {
        QAP_TRACE(ctx, fn, "name does not convert exactly\n");
        return REFUSED;
    }
    if (u_strcmp(list.get(), u"ANY") == 0) {
        a.any = true;
        return ALLOWED;
    }

    std::string file = collapseSeparators(a.name);
    for (size_t at = 0;;) {
        size_t end = file.find(kPathSep, at);
        if (file.compare(at, end == std::string::npos ? std::string::npos : end - at, "..") == 0) {
            QAP_TRACE(ctx, fn, "name %s has a parent component\n", name);
            return REFUSED;
        }
        if (end == std::string::npos) break;
        at = end + 1;
    }
    char absolute[kMaxPath];
    if (qapFullPath(absolute, file.c_str(), sizeof absolute) == nullptr) return REFUSED;
    const std::string full = collapseSeparators(absolute);
    const size_t slash = full.rfind(kPathSep);
    const std::string base = full.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return REFUSED;
    std::string resolved = qapRealPath(slash == 0 ? "/" : full.substr(0, slash).c_str());
    if (resolved.empty()) return REFUSED; // a missing directory holds no file
    resolved += (resolved.back() == kPathSep ? "" : "/") + base;

    std::unique_ptr<UChar[]> entry(new (std::nothrow) UChar[valueUnits + 1]);
    if (!entry) return NO_MEMORY;
    for (UChar *p = list.get(); *p != 0;) {
        UChar *end = p;
        while (*end != 0 && *end != u';')
            ++end;
        UChar *next = *end != 0 ? end + 1 : end;
        while (p < end && u_isWhitespace(*p))
            ++p;
        while (end > p && u_isWhitespace(end[-1]))
            --end;
        int32_t len = static_cast<int32_t>(end - p);
        u_memcpy(entry.get(), p, len);
        entry[len] = 0;
        len = normaliseSeparators(entry.get());
        p = next;
        if (len == 0) continue;
        std::string dir = qapRealPath(toSystem(entry.get()).c_str());
        if (dir.empty()) continue; // a missing directory holds no file
        if (dir.back() != kPathSep) dir += kPathSep;
        if (resolved.size() <= dir.size() || resolved.compare(0, dir.size(), dir) != 0) continue;
        a.dir.reset(open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!a.dir) return REFUSED;
        a.rel = resolved.substr(dir.size());
        return ALLOWED;
    }
    QAP_TRACE(ctx, fn, "%s matches no entry\n", name);
    return REFUSED;
}

// Splits the name beneath an allowed directory into its directory, opened (O_PATH) beneath it,
// and its last component. -1 with errno when the directory cannot be reached.
int openParent(const QapAllowed &a, QapFd &parent, std::string &base) {
    const size_t slash = a.rel.rfind(kPathSep);
    base = slash == std::string::npos ? a.rel : a.rel.substr(slash + 1);
    parent.reset(slash == std::string::npos
                     ? openat(a.dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                     : qapOpenBeneath(a.dir.get(), a.rel.substr(0, slash).c_str(),
                                      O_RDONLY | O_DIRECTORY, 0));
    if (!parent) return -1;
    return 0;
}

// The library's own temporary files. Each is known by a key (the name of its descriptor under
// /proc/self/fd), by which its call's parse reaches it through qapOpenRead; it is never opened by a
// name in the temporary directory. An entry belongs to the routine context that made it: only
// that context's calls find it, on whatever thread they run (a table scan may be fetched and
// closed on other threads than the one that opened it), and no other session reaches it by its
// key. The table is never destroyed, so a thread that ends after exit() began may still drop.
struct OwnFile {
    std::string key;
    int fd;
    const QapRoutineCtx *owner;
};
struct OwnFiles {
    std::mutex lock;
    std::vector<OwnFile> files;
};
OwnFiles &ownFiles() {
    static OwnFiles *table = new OwnFiles;
    return *table;
}
constexpr char kOwnPrefix[] = "/proc/self/fd/";

// Runs use(fd) under the table's lock when key names a temporary file of ctx (so the descriptor
// cannot be closed meanwhile); false when it names none.
template <class Use> bool withOwnFile(const QapRoutineCtx *ctx, const char *key, Use use) {
    if (key == nullptr || strncmp(key, kOwnPrefix, sizeof kOwnPrefix - 1) != 0) return false;
    OwnFiles &table = ownFiles();
    std::lock_guard<std::mutex> guard(table.lock);
    for (const OwnFile &f : table.files) {
        if (f.owner == ctx && f.key == key) {
            use(f.fd);
            return true;
        }
    }
    return false;
}

// The process's umask, read without setting it (umask() sets it for every thread at once); 077
// when the system does not tell, so that a new file stays private.
mode_t processUmask() {
    mode_t mask = 077;
    QapFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char buf[4096];
    ssize_t n = fd ? read(fd.get(), buf, sizeof buf - 1) : -1;
    if (n <= 0) return mask;
    buf[n] = '\0';
    if (const char *at = strstr(buf, "\nUmask:")) {
        char *end = nullptr;
        const long value = strtol(at + 7, &end, 8);
        if (end != at + 7 && value >= 0 && value <= 0777) mask = static_cast<mode_t>(value);
    }
    return mask;
}

// The directory temporary files go to: a configured one or nothing; else TMP as the context
// recorded it when it names a directory, else /tmp.
const char *tempDirectory(QapRoutineCtx *ctx) {
    const char *dir = ctx != nullptr ? ctx->tempDir : nullptr;
    if (dir == nullptr) {
        const char *tmp = getenv("TMP");
        if (ctx != nullptr)
            tmp = ctx->savedTmpEnv != nullptr ? ctx->savedTmpEnv + strlen("TMP=") : nullptr;
        dir = qapIsDirectory(tmp) ? tmp : kRootTempDir;
    }
    return dir;
}

} // namespace

int qapGetAbsPath(QapRoutineCtx *ctx, const char *name, char *out) {
    if (out != nullptr) out[0] = '\0';
    if (name == nullptr || out == nullptr) return -1;
    if (qapIsAbsolutePath(name)) {
        size_t len = strlen(name);
        if (len >= kMaxPath) {
            // Too long for the path buffer: refused like a file that cannot be opened.
            QAP_TRACE(ctx, "qapGetAbsPath", "name of %zu bytes does not fit\n", len);
            return -1;
        }
        memcpy(out, name, len + 1);
        return 0;
    }
    if (qapFullPath(out, name, kMaxPath) == nullptr) {
        out[0] = '\0';
        QAP_TRACE(ctx, "qapGetAbsPath", "cannot make %s absolute\n", name);
        return -1;
    }
    return 0;
}

bool QapOpenFile::found() const {
    // What the size check before a parse failed on: no file there, or not a regular one.
    return fd_ || (error_ != ENOENT && error_ != ENOTDIR && error_ != ELOOP &&
                   error_ != ENAMETOOLONG && error_ != EINVAL && error_ != EXDEV);
}

namespace {

// Opens what the rule allowed for reading: with ANY the name itself (absolute, so that an empty
// name opens the current directory, which is no regular file), else its last component in its
// directory, which is opened beneath the allowed one. -1 with errno; refused set when the file
// does not lie beneath its entry (its directory cannot be reached, or it is a link).
int openAllowed(const QapAllowed &a, const char *absolute, bool &refused) {
    // Non-blocking, so that a FIFO put in the file's place cannot hold the call.
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    if (a.any) {
        const int fd = ::open(a.name.empty() ? absolute : a.name.c_str(), flags);
        if (fd < 0 && errno == ELOOP) errno = EXDEV; // a link where the file should be
        return fd;
    }
    QapFd parent;
    std::string base;
    if (openParent(a, parent, base) != 0 || base.empty() || base == ".") {
        refused = true;
        errno = EXDEV;
        return -1;
    }
    const int fd = openat(parent.get(), base.c_str(), flags | O_NOFOLLOW);
    if (fd < 0 && errno == ELOOP) {
        refused = true; // neither a read nor a write follows a final link
        errno = EXDEV;
    }
    return fd;
}

} // namespace

int qapOpenRead(QapRoutineCtx *ctx, const char *name, QapOpenFile &file) {
    static const char fn[] = "qapOpenRead";
    file.reset();
    int fd = -1;
    if (withOwnFile(ctx, name, [&fd](int own) { fd = fcntl(own, F_DUPFD_CLOEXEC, 0); })) {
        if (fd >= 0 && lseek(fd, 0, SEEK_SET) != 0) {
            close(fd);
            fd = -1;
        }
    } else {
        QapAllowed a;
        int rc = ALLOWED;
        try {
            rc = allowedTarget(ctx, 0, name, a);
            if (rc == ALLOWED) {
                char path[kMaxPath];
                if (qapGetAbsPath(ctx, name, path) == 0) {
                    file.name_ = path;
                    bool refused = false;
                    fd = openAllowed(a, path, refused);
                    file.refused_ = refused;
                } else {
                    errno = ENOENT;
                }
            }
        } catch (const std::bad_alloc &) {
            rc = NO_MEMORY;
        }
        if (rc != ALLOWED) {
            QAP_TRACE(ctx, fn, "%s is not allowed\n", name != nullptr ? name : "");
            file.error_ = rc == NO_MEMORY ? ENOMEM : EXDEV;
            file.refused_ = true;
            return -1;
        }
    }
    if (fd >= 0 && file.name_.empty()) {
        try {
            file.name_ = name;
        } catch (const std::bad_alloc &) {
            close(fd);
            fd = -1;
            errno = ENOMEM;
        }
    }
    file.fd_.reset(fd);
    struct stat st;
    if (file.fd_ && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        file.fd_.reset();
        errno = EINVAL;
    }
    if (file.fd_) {
        // Blocking again: a regular file never waits, and the readers expect whole reads.
        const int fl = fcntl(fd, F_GETFL);
        if (fl == -1 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) file.fd_.reset();
    }
    if (!file.fd_) {
        file.error_ = errno == ENXIO || errno == EISDIR ? EINVAL : errno;
        QAP_TRACE(ctx, fn, "%s: errno %d\n", name != nullptr ? name : "", file.error_);
        return -1;
    }
    file.error_ = 0;
    file.size_ = st.st_size;
    QAP_TRACE(ctx, fn, "%s: size %lld\n", file.name_.c_str(), static_cast<long long>(file.size_));
    return 0;
}

int qapCheckWrite(QapRoutineCtx *ctx, const char *name, QapWriteTarget &target) {
    target = QapWriteTarget();
    QapAllowed a;
    int rc = ALLOWED;
    int error = 0;
    try {
        rc = allowedTarget(ctx, 1, name, a);
        if (rc == ALLOWED && a.any) {
            // Any file: through a final link to the file it names, as a plain open would.
            std::string file = a.name;
            struct stat st;
            if (lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                file = qapRealPath(file.c_str());
            char absolute[kMaxPath];
            if (file.empty() || qapFullPath(absolute, collapseSeparators(file).c_str(),
                                            sizeof absolute) == nullptr) {
                error = ENOENT;
            } else {
                const std::string full = absolute;
                const size_t slash = full.rfind(kPathSep);
                target.base_ = full.substr(slash + 1);
                target.dir_.reset(::open(slash == 0 ? "/" : full.substr(0, slash).c_str(),
                                         O_RDONLY | O_DIRECTORY | O_CLOEXEC));
                if (!target.dir_) error = errno;
            }
        } else if (rc == ALLOWED) {
            // The file's directory must exist beneath the entry, and the file itself, when it
            // exists, must not be a link.
            struct stat st;
            if (openParent(a, target.dir_, target.base_) != 0 || target.base_.empty() ||
                target.base_ == "." ||
                (fstatat(target.dir_.get(), target.base_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                 S_ISLNK(st.st_mode))) {
                QAP_TRACE(ctx, "qapCheckWrite", "%s is not beneath its entry\n", name);
                rc = REFUSED;
            }
        }
    } catch (const std::bad_alloc &) {
        rc = NO_MEMORY;
    }
    if (rc != ALLOWED) {
        target = QapWriteTarget();
        target.error_ = rc == NO_MEMORY ? ENOMEM : EXDEV;
        target.refused_ = true;
        return -1;
    }
    if (error != 0) {
        target.dir_.reset();
        target.error_ = error;
        return -1;
    }
    target.error_ = 0;
    return 0;
}

int qapFseek(QapRoutineCtx *ctx, FILE *stream, long offset) {
    if (stream == nullptr || fseek(stream, offset, SEEK_SET) != 0) {
        QAP_TRACE(ctx, "qap_fseek", "fseek to %ld failed\n", offset);
        return -1;
    }
    return 0;
}

bool qapGetTempDir(QapRoutineCtx *ctx) {
    if (ctx == nullptr) return false;
    if (ctx->savedTmpEnv == nullptr) {
        if (const char *tmp = getenv("TMP")) {
            size_t size = strlen(tmp) + strlen("TMP") + 2;
            ctx->savedTmpEnv = static_cast<char *>(malloc(size));
            if (ctx->savedTmpEnv == nullptr) return false;
            snprintf(ctx->savedTmpEnv, size, "%s=%s", "TMP", tmp);
        }
    }
    if (ctx->tempDir == nullptr) {
        if (const char *dir = getenv("TARNQAPTEMP")) {
            ctx->tempDir = strdup(dir);
            if (ctx->tempDir == nullptr) return false;
        }
    }
    return true;
}

void qapSetOpenError(QapRoutineCtx *ctx, int access, int error, QapStatus err) {
    if (error == EXDEV)
        qapSetError(ctx, err, access == 0 ? QAPC002E : QAPC003E);
    else if (error == EINVAL || (access == 0 && error == ENOENT))
        qapSetError(ctx, err, QAPC001E);
    else if (error == ENOMEM)
        qapSetError(ctx, err, QAPG002E);
    else
        qapSetError(ctx, err, QAPC000E);
}

int qapBuf2File(QapRoutineCtx *ctx, const char *buf, int32_t length, const QapWriteTarget &target,
                QapStatus err) {
    QapReplacement file;
    if (file.open(target) != 0) {
        qapSetOpenError(ctx, 1, errno, err);
        return -1;
    }
    if (length < 0 || (length > 0 && buf == nullptr) ||
        !qapWriteAll(file.fd(), buf, static_cast<size_t>(length)) || file.commit() != 0) {
        QAP_TRACE(ctx, "qap_buf2file", "writing %d bytes failed: errno %d\n", length, errno);
        qapSetError(ctx, err, QAPC003E);
        return -1;
    }
    return 0;
}

int qapFile2Varchar(QapRoutineCtx *ctx, QapOpenFile &file, char *out, int32_t capacity,
                    QapStatus err) {
    static const char fn[] = "qap_file2varchar";
    // The size is the opened file's, so nothing can change between the two.
    const QapFd fd = file.take();
    if (!fd) {
        qapSetOpenError(ctx, 0, file.error(), err);
        return -1;
    }
    if (file.size() > kVarcharMax || file.size() > capacity) {
        QAP_TRACE(ctx, fn, "file size %lld exceeds %d\n", static_cast<long long>(file.size()),
                  capacity);
        qapSetError(ctx, err, QAPC005E);
        return -1;
    }
    const int32_t size = static_cast<int32_t>(file.size());
    int32_t got = 0;
    while (got < size) {
        ssize_t n = read(fd.get(), out + got, static_cast<size_t>(size - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<int32_t>(n);
    }
    if (got < size) {
        qapSetError(ctx, err, QAPC002E);
        return -1;
    }
    out[size] = '\0';

    // No substitute characters: what cannot be converted fails the call ("38X45").
    QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    QapStrictConversion strictApp(ci != nullptr ? ci->appConv : nullptr),
        strictDb(ci != nullptr ? ci->dbConv : nullptr);
    bool tooLong = false;
    int32_t count = qapConvertBufferAppToTarn(ctx, out, size, out, capacity, err, &tooLong);
    if (tooLong)
        qapSetMsg(ctx, err.msgtext, QAPC005E); // told as the file's size, under ICU's state
    if (count == -1) {
        QAP_TRACE(ctx, fn, "conversion failed\n");
        return -1;
    }
    out[count] = '\0'; // the buffer holds capacity bytes and a terminator
    return 0;
}

int qapOpenAllowedDir(QapRoutineCtx *ctx, const char *dir) {
    // The rule for a file in the directory: the directory itself may be an entry.
    QapAllowed a;
    int rc = ALLOWED;
    try {
        std::string probe = dir != nullptr ? dir : "";
        if (probe.empty()) {
            errno = ENOENT;
            return -1;
        }
        rc = allowedTarget(ctx, 0, (probe + "/f").c_str(), a);
        if (rc == ALLOWED) {
            if (a.any)
                return ::open(a.name.substr(0, a.name.size() - 2).c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            QapFd parent;
            std::string base;
            if (openParent(a, parent, base) != 0) {
                if (errno == ELOOP || errno == ENOTDIR) errno = EXDEV;
                return -1;
            }
            return parent.release();
        }
    } catch (const std::bad_alloc &) {
        rc = NO_MEMORY;
    }
    errno = rc == NO_MEMORY ? ENOMEM : EXDEV;
    return -1;
}

bool qapWriteAll(int fd, const char *buf, size_t length) {
    for (size_t done = 0; done < length;) {
        ssize_t n = write(fd, buf + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int QapReplacement::open(const QapWriteTarget &target) {
    if (!target) {
        errno = target.error();
        return -1;
    }
    dir_.reset(fcntl(target.dir_.get(), F_DUPFD_CLOEXEC, 0));
    if (!dir_) return -1;
    try {
        base_ = target.base_;
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
        return -1;
    }
    if (base_.empty() || base_ == "." || base_ == "..") {
        errno = EINVAL;
        return -1;
    }
    // The target: a regular file whose mode the new one takes, or none yet.
    struct stat st;
    bool exists = fstatat(dir_.get(), base_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) return -1;
    if (exists && S_ISLNK(st.st_mode)) {
        errno = EXDEV;
        return -1;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    // Replacing needs only the directory; a file the server may not write stays as it is.
    if (exists && faccessat(dir_.get(), base_.c_str(), W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100 && !file_; ++attempt) {
        unsigned char random[10];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
        temp_ = ".qap";
        for (unsigned char r : random)
            temp_ += alphabet[r % (sizeof alphabet - 1)];
        // Private while it is written: no one else may open it before it is whole, whatever
        // the umask lets a new file have.
        file_.reset(openat(dir_.get(), temp_.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file_ && errno != EEXIST) {
            temp_.clear();
            return -1;
        }
    }
    if (!file_) {
        temp_.clear();
        return -1;
    }
    // What it gets once whole: the target's mode and group, or 0666 less the umask.
    mode_ = exists ? st.st_mode & 07777 : 0666 & ~processUmask();
    group_ = exists ? st.st_gid : static_cast<gid_t>(-1);
    return 0;
}

int QapReplacement::commit() {
    if (!file_) return -1;
    // The target's group where the server may give it; else no group rights, which would go
    // to the server's group in its place.
    struct stat st;
    if (fstat(file_.get(), &st) != 0) return -1;
    mode_t mode = mode_;
    if (group_ != static_cast<gid_t>(-1) && st.st_gid != group_ &&
        fchown(file_.get(), static_cast<uid_t>(-1), group_) != 0)
        mode &= ~static_cast<mode_t>(S_IRWXG | S_ISGID);
    if (fchmod(file_.get(), mode) != 0 || fsync(file_.get()) != 0 || close(file_.release()) != 0)
        return -1;
    if (renameat(dir_.get(), temp_.c_str(), dir_.get(), base_.c_str()) != 0) return -1;
    temp_.clear();
    fsync(dir_.get()); // the rename is done; a directory that cannot be synced keeps it
    return 0;
}

QapReplacement::~QapReplacement() {
    file_.reset();
    if (!temp_.empty()) unlinkat(dir_.get(), temp_.c_str(), 0);
}

int32_t QapTempFile::create(QapRoutineCtx *ctx, QapStatus err) {
    reset();
    const char *dir = tempDirectory(ctx);
    // Unnamed where the file system allows; else named, exclusive, and unlinked at once.
    QapFd fd(dir != nullptr ? ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600) : -1);
    if (!fd && dir != nullptr && errno != ENOENT && errno != EACCES && errno != ENOTDIR) {
        char *name = nullptr;
        fd.reset(qapTempCreate(dir, "qap", &name));
        if (name != nullptr) unlink(name);
        free(name);
    }
    QAP_TRACE(ctx, "qap_tempFilename", "%d in %s\n", fd.get(), dir != nullptr ? dir : "");
    if (!fd) {
        qapSetErrorAs(ctx, err, "38X10", QAPC012E);
        return -1;
    }
    try {
        std::string key = kOwnPrefix + std::to_string(fd.get());
        OwnFiles &table = ownFiles();
        std::lock_guard<std::mutex> guard(table.lock);
        table.files.push_back(OwnFile{key, fd.get(), ctx});
        key_ = std::move(key);
    } catch (const std::bad_alloc &) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    fd_ = fd.release();
    return 0;
}

int32_t QapTempFile::write(QapRoutineCtx *ctx, const char *buf, size_t length, QapStatus err) {
    if (fd_ < 0 || !qapWriteAll(fd_, buf, length)) {
        qapSetError(ctx, err, QAPC003E);
        return -1;
    }
    return 0;
}

char *QapTempFile::releaseKey() {
    char *key = strdup(key_.c_str());
    if (key != nullptr) {
        fd_ = -1; // the table keeps it until qapTempFileDrop
        key_.clear();
    }
    return key;
}

void QapTempFile::reset() {
    if (fd_ >= 0) qapTempFileDrop(key_.c_str());
    fd_ = -1;
    key_.clear();
}

void qapTempFileDrop(const char *key) {
    if (key == nullptr) return;
    OwnFiles &table = ownFiles();
    std::lock_guard<std::mutex> guard(table.lock);
    for (auto it = table.files.begin(); it != table.files.end(); ++it) {
        if (it->key == key) {
            close(it->fd);
            table.files.erase(it);
            return;
        }
    }
}
