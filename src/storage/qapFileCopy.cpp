// Transfers between server files and buffers: whole-file replacement, whole-file reads into a
// VARCHAR result.
#include "qapFileCopy.h"

#include "qapConv.h"
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapOwned.h"
#include "qapPlatform.h"
#include "qapTrace.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include <sys/random.h>
#include <sys/stat.h>
#include <unicode/ucnv.h>

namespace {

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

} // namespace

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
