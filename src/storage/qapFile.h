// Server files and temporary files, and the allowed-files rule.
#pragma once

#include <cstdint>
#include <cstdio>

struct QapRoutineCtx;

constexpr int32_t QAP_VARCHAR_MAX = 32672; // bytes of text a VARCHAR result holds

// Makes a name absolute into out (1024 bytes). 0, or -1 (also when it does not fit).
int qapGetAbsPath(QapRoutineCtx *ctx, const char *name, char *out);
// Opens a regular file by its absolute name, always in binary mode; anything else (FIFO,
// device, directory) gives null with errno EINVAL, without blocking.
FILE *xml_fopen(QapRoutineCtx *ctx, const char *name, const char *mode);
// The size of a regular file; 0, or nonzero (size 0), also for any other kind of file.
int qap_getFileSize(QapRoutineCtx *ctx, const char *name, int32_t *size);
// Positions a stream at an absolute offset; 0 or -1.
int qap_fseek(QapRoutineCtx *ctx, FILE *stream, long offset);
// Captures TMP and TARNQAPTEMP into the context; 0, or -58.
int qap_getTempDir(QapRoutineCtx *ctx);
// Creates a new temporary file "qap" + random characters (mode 0600, O_EXCL, links not
// followed) in TARNQAPTEMP, which must then exist and be writable, else in TMP or /tmp.
// Returns it open for writing with its heap name, or null. The caller closes it, removes it
// and frees the name.
FILE *qapTempFileOpen(QapRoutineCtx *ctx, char **name);
// As qapTempFileOpen, but closed: the heap name of the new, empty file, or null.
char *qap_tempFilename(QapRoutineCtx *ctx);
// Writes a whole buffer to a file; 0, or -1 with SQLSTATE and message.
int qap_buf2file(QapRoutineCtx *ctx, const char *buf, int32_t length, const char *name,
                 char *sqlstate, char *msgtext);
// Reads a whole file into a VARCHAR result, converted to the database code page.
int qap_file2varchar(QapRoutineCtx *ctx, const char *name, char *out, int32_t capacity,
                     char *sqlstate, char *msgtext);
// The allowed-files rule: access 0 read, 1 write. 0 allowed, -1 denied. Unless the registry
// value is "ANY", the name must not have a ".." component, and, with links resolved, must lie
// below an entry (also resolved; names compared case by case). A missing directory is denied.
int qapChkRegistry(QapRoutineCtx *ctx, int access, const char *name, char *sqlstate, char *msgtext);

// Owns a temporary file: removes it and frees its name when it goes out of scope.
class QapTempFile {
public:
    QapTempFile() = default;
    explicit QapTempFile(char *name) : name_(name) {}
    ~QapTempFile() { reset(); }
    QapTempFile(const QapTempFile &) = delete;
    QapTempFile &operator=(const QapTempFile &) = delete;
    const char *name() const { return name_; }
    void reset(char *name = nullptr);

private:
    char *name_ = nullptr;
};
