// Server files and temporary files, and the allowed-files rule.
#pragma once

#include "qapMsg.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/types.h>

#include "qapOwned.h"

struct QapRoutineCtx;

constexpr int32_t QAP_VARCHAR_MAX = 32672; // bytes of text a VARCHAR result holds

// Makes a name absolute into out (1024 bytes). 0, or -1 (also when it does not fit).
int qapGetAbsPath(QapRoutineCtx *ctx, const char *name, char *out);
// Opens an existing server file for access 0 (read) or 1 (write) under the allowed-files rule,
// with the open flags given (never O_CREAT or O_TRUNC: files are written whole, through
// QapReplacement): the name converted once to the system's bytes, opened beneath the allowed
// directory (no link or rename leads out of it, a final link is not followed), non-blocking,
// regular files only. A temporary file that ctx made opens by its key through its own
// descriptor. Returns the descriptor, or -1 with errno: EXDEV refused by the rule, EINVAL not a
// regular file (or flags refused), ENOMEM, or the open's.
int qapOpenChecked(QapRoutineCtx *ctx, int access, const char *name, int flags);
// Reports a failed qapOpenChecked: "38X02"/"38X03" for the rule, "38X01" for a file that is
// not regular (or, reading, missing), "38X10" out of memory, else "38X00".
void qapSetOpenError(QapRoutineCtx *ctx, int access, int error, QapStatus err);
// qapOpenChecked for reading as a stream ("r" modes only), always in binary mode; null with its
// errno.
FILE *xml_fopen(QapRoutineCtx *ctx, const char *name, const char *mode);
// The size of a regular file; 0, or nonzero (size 0), also for any other kind of file.
int qap_getFileSize(QapRoutineCtx *ctx, const char *name, int32_t *size);
// Positions a stream at an absolute offset; 0 or -1.
int qap_fseek(QapRoutineCtx *ctx, FILE *stream, long offset);
// Captures TMP and TARNQAPTEMP into the context; 0, or -58.
int qap_getTempDir(QapRoutineCtx *ctx);
// Replaces a whole file with a buffer (see QapReplacement); 0, or -1 with SQLSTATE and message.
int qap_buf2file(QapRoutineCtx *ctx, const char *buf, int32_t length, const char *name,
                 QapStatus err);
// Reads a whole file into a VARCHAR result, converted to the database code page.
int qap_file2varchar(QapRoutineCtx *ctx, const char *name, char *out, int32_t capacity,
                     QapStatus err);
// The allowed-files rule: access 0 read, 1 write. 0 allowed, -1 denied. Unless the registry
// value is "ANY", the name must convert exactly to the system's bytes, must not have a ".."
// component, and must lie below an entry with its directory existing there and no link in
// its place (names compared case by case).
int qapChkRegistry(QapRoutineCtx *ctx, int access, const char *name, QapStatus err);
// Opens a directory for listing under the allowed-files rule for reading, as it holds for a file
// in it (the directory may be an entry itself), beneath the entry as qapOpenChecked opens. The
// descriptor, or -1 with errno: EXDEV refused by the rule, ENOMEM, or the open's.
int qapOpenAllowedDir(QapRoutineCtx *ctx, const char *dir);
// Writes a whole buffer to a descriptor; false on any failure.
bool qapWriteAll(int fd, const char *buf, size_t length);

// A new version of a server file, allowed for writing: written to a new file in the target's
// directory, created exclusively and private (0600) so that no one else can open it while it is
// written, which on commit takes the target's mode and group (a group the server cannot give it
// loses its group bits), or 0666 less the umask, is synced and replaces the target. Until then,
// and on any failure, the target stays as it was, and the new file goes with the object.
class QapReplacement {
public:
    QapReplacement() = default;
    ~QapReplacement();
    QapReplacement(const QapReplacement &) = delete;
    QapReplacement &operator=(const QapReplacement &) = delete;
    // 0, or -1 with errno as qapOpenChecked's (EINVAL: the target is not a regular file).
    int open(QapRoutineCtx *ctx, const char *name);
    int fd() const { return file_.get(); }
    // Syncs the new file, renames it over the target and syncs the directory; 0 or -1.
    int commit();

private:
    QapFd dir_;
    QapFd file_;
    std::string base_;
    std::string temp_;
    mode_t mode_ = 0600;
    gid_t group_ = static_cast<gid_t>(-1); // none: the group it was created with
};

// A temporary file of one call, unnamed (or unlinked at once), used only through its
// descriptor. Its key is the name xml_fopen and the parse open it by, for calls with the context
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
