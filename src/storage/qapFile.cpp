// Server files: absolute names, opening under the allowed-files rule, sizes, temporary files.
#include "qapFile.h"
#include "qapAllowed.h"
#include "qapFileCopy.h"
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

#include <sys/stat.h>

namespace {

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
    if (qapOpenParent(a, parent, base) != 0 || base.empty() || base == ".") {
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
            rc = qapAllowedTarget(ctx, 0, name, a);
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
        rc = qapAllowedTarget(ctx, 1, name, a);
        if (rc == ALLOWED && a.any) {
            // Any file: through a final link to the file it names, as a plain open would.
            std::string file = a.name;
            struct stat st;
            if (lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                file = qapRealPath(file.c_str());
            char absolute[kMaxPath];
            if (file.empty() || qapFullPath(absolute, qapCollapseSeparators(file).c_str(),
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
            if (qapOpenParent(a, target.dir_, target.base_) != 0 || target.base_.empty() ||
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
        rc = qapAllowedTarget(ctx, 0, (probe + "/f").c_str(), a);
        if (rc == ALLOWED) {
            if (a.any)
                return ::open(a.name.substr(0, a.name.size() - 2).c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            QapFd parent;
            std::string base;
            if (qapOpenParent(a, parent, base) != 0) {
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
