// Server files and temporary files: absolute names and opening under the allowed-files rule
// (the rule itself: qapAllowed.h; transfers between files and buffers: qapFileCopy.h).
#pragma once

#include "qapMsg.h"

#include <cstdint>
#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/types.h>

#include "qapOwned.h"

struct QapRoutineCtx;

constexpr int32_t kVarcharMax = 32672; // bytes of text a VARCHAR result holds

// Makes a name absolute into out (1024 bytes). 0, or -1 (also when it does not fit).
int qapGetAbsPath(QapRoutineCtx *ctx, const char *name, char *out);

// A server file a call reads, opened once by qapOpenRead: the descriptor the allowed-files rule
// checked, the file's size then, and the absolute name it was opened by (the parser's system
// identifier). A failed open keeps its errno for the step that reads the file to report.
class QapOpenFile {
public:
    QapOpenFile() = default;
    QapOpenFile(QapOpenFile &&) = default;
    QapOpenFile &operator=(QapOpenFile &&) = default;
    explicit operator bool() const { return static_cast<bool>(fd_); }
    int fd() const { return fd_.get(); }
    int64_t size() const { return size_; }
    const std::string &name() const { return name_; }
    // errno of a failed open: EXDEV refused by the rule, EINVAL not a regular file, ENOENT
    // missing (also for a name never opened), ENOMEM, or the open's own.
    int error() const { return error_; }
    // True when the rule refused the name (or memory ran out checking it): told at once.
    bool refused() const { return refused_; }
    // True when a regular file was there to open, whether or not the open succeeded.
    bool found() const;
    // The descriptor, handed to the one reader of the file (the file is then no longer open).
    QapFd take() { return std::move(fd_); }
    void reset() { *this = QapOpenFile(); }

private:
    friend int qapOpenRead(QapRoutineCtx *ctx, const char *name, QapOpenFile &file);
    QapFd fd_;
    int64_t size_ = 0;
    std::string name_;
    int error_ = ENOENT;
    bool refused_ = false;
};

// The one gate of every file a call reads: the name made absolute, checked against the
// allowed-files rule and opened by the same bytes, beneath the allowed directory (no link or
// rename leads out of it, a final link is not followed), non-blocking, a regular file only. A
// temporary file that ctx made opens by its key through its own descriptor. 0, or -1 with the
// file's error() set.
int qapOpenRead(QapRoutineCtx *ctx, const char *name, QapOpenFile &file);

// Where a call writes a server file, checked once by qapCheckWrite: the directory the rule
// allows, held open, and the file's name in it. A failed check keeps its errno as QapOpenFile
// does; QapReplacement writes the file through the directory.
class QapWriteTarget {
public:
    QapWriteTarget() = default;
    QapWriteTarget(QapWriteTarget &&) = default;
    QapWriteTarget &operator=(QapWriteTarget &&) = default;
    explicit operator bool() const { return static_cast<bool>(dir_); }
    int error() const { return error_; }
    bool refused() const { return refused_; }

private:
    friend int qapCheckWrite(QapRoutineCtx *ctx, const char *name, QapWriteTarget &target);
    friend class QapReplacement;
    QapFd dir_;
    std::string base_;
    int error_ = ENOENT;
    bool refused_ = false;
};

// The gate of every file a call writes: the name checked against the allowed-files rule for
// writing, its directory opened beneath the allowed one (with "ANY", the directory of the file
// a final link names). 0, or -1 with the target's error() set.
int qapCheckWrite(QapRoutineCtx *ctx, const char *name, QapWriteTarget &target);

// Reports a failed open or check: "38X02"/"38X03" for the rule (access 0 read, 1 write),
// "38X01" for a file that is not regular (or, reading, missing), "38X10" out of memory, else
// "38X00".
void qapSetOpenError(QapRoutineCtx *ctx, int access, int error, QapStatus err);
// Positions a stream at an absolute offset; 0 or -1.
int qapFseek(QapRoutineCtx *ctx, FILE *stream, long offset);
// Captures TMP and TARNQAPTEMP into the context; false when memory runs out.
bool qapGetTempDir(QapRoutineCtx *ctx);
// Opens a directory for listing under the allowed-files rule for reading, as it holds for a file
// in it (the directory may be an entry itself), beneath the entry as qapOpenChecked opens. The
// descriptor, or -1 with errno: EXDEV refused by the rule, ENOMEM, or the open's.
int qapOpenAllowedDir(QapRoutineCtx *ctx, const char *dir);
// A temporary file of one call, unnamed (or unlinked at once), used only through its
// descriptor. Its key is the name qapOpenRead opens it by, for calls with the context
// that created it alone, on any thread.
class QapTempFile {
public:
    QapTempFile() = default;
    ~QapTempFile() { reset(); }
    QapTempFile(const QapTempFile &) = delete;
    QapTempFile &operator=(const QapTempFile &) = delete;
    // Creates it; 0, or -1 with "38X10" (QAPC012E: no temporary file can be made there).
    int32_t create(QapRoutineCtx *ctx, QapStatus err);
    // Appends a buffer; 0, or -1 with "38X03".
    int32_t write(QapRoutineCtx *ctx, const char *buf, size_t length, QapStatus err);
    int fd() const { return fd_; }
    const char *name() const { return fd_ >= 0 ? key_.c_str() : nullptr; }
    // Hands the file over as a heap key, dropped later with qapTempFileDrop; null when out of
    // memory (the file stays with the object).
    char *releaseKey();
    void reset();

private:
    int fd_ = -1;
    std::string key_;
};
// Closes a temporary file handed over by QapTempFile::releaseKey, on any thread.
void qapTempFileDrop(const char *key);
