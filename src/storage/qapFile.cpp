// Server files: absolute names, binary opening, sizes, temporary file names, whole-buffer writes,
// whole-file reads into a VARCHAR result, and the allowed-files rule.
#include "qapFile.h"
#include "qapConv.h"
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapOwned.h"
#include "qapPlatform.h"
#include "qapTrace.h"
#include "tarn.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>

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
        if (s[r] == QAP_PATH_SEP && w > 0 && s[w - 1] == QAP_PATH_SEP) continue;
        s[w++] = s[r];
    }
    while (w > 1 && s[w - 1] == QAP_PATH_SEP)
        --w;
    s[w] = 0;
    return w;
}

// True when one of the "/"-separated components of the name is "..".
bool hasParentComponent(const UChar *s) {
    const UChar *start = s;
    for (const UChar *p = s;; ++p) {
        if (*p == QAP_PATH_SEP || *p == 0) {
            if (p - start == 2 && start[0] == u'.' && start[1] == u'.') return true;
            if (*p == 0) return false;
            start = p + 1;
        }
    }
}

// The UTF-16 buffer size for text of length bytes: (length + 1) * 4 units.
int32_t registryUnits(size_t length) {
    size_t units = (length + 1) * 4;
    return units > INT32_MAX || units < length ? INT32_MAX : static_cast<int32_t>(units);
}

// UTF-16 text in the system code page (ICU's default converter), as file names reach the
// system; empty when it cannot be converted.
std::string toSystem(const UChar *s) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open(nullptr, &status);
    if (cnv == nullptr || U_FAILURE(qapOpenStatus(status))) {
        if (cnv != nullptr) ucnv_close(cnv);
        return std::string();
    }
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

// The absolute name a file is reached by: an existing file resolved whole (so a link in the
// last component counts), a new one as its resolved directory and its own name. Empty when
// the directory does not exist.
std::string resolveFile(const std::string &name) {
    if (name.empty()) return std::string();
    struct stat st;
    if (lstat(name.c_str(), &st) == 0) return qapRealPath(name.c_str());
    if (errno != ENOENT) return std::string();
    size_t slash = name.rfind(QAP_PATH_SEP);
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") return std::string();
    std::string resolved = qapRealPath(dir.c_str());
    if (resolved.empty()) return resolved;
    if (resolved.back() != QAP_PATH_SEP) resolved += QAP_PATH_SEP;
    return resolved + base;
}

} // namespace

int qapGetAbsPath(QapRoutineCtx *ctx, const char *name, char *out) {
    if (out != nullptr) out[0] = '\0';
    if (name == nullptr || out == nullptr) return -1;
    if (qapIsAbsolutePath(name)) {
        size_t len = strlen(name);
        if (len >= QAP_MAX_PATH) {
            // Too long for the path buffer: refused like a file that cannot be opened.
            QAP_TRACE(ctx, "qapGetAbsPath", "name of %zu bytes does not fit\n", len);
            return -1;
        }
        memcpy(out, name, len + 1);
        return 0;
    }
    if (qapFullPath(out, name, QAP_MAX_PATH) == nullptr) {
        out[0] = '\0';
        QAP_TRACE(ctx, "qapGetAbsPath", "cannot make %s absolute\n", name);
        return -1;
    }
    return 0;
}

FILE *xml_fopen(QapRoutineCtx *ctx, const char *name, const char *mode) {
    char path[QAP_MAX_PATH];
    if (mode == nullptr || strlen(mode) > 6) return nullptr;
    if (qapGetAbsPath(ctx, name, path) != 0) return nullptr;
    char binaryMode[8];
    snprintf(binaryMode, sizeof binaryMode, strchr(mode, 'b') == nullptr ? "%sb" : "%s", mode);
    FILE *f = qapOpenFile(path, binaryMode);
    const int error = errno; // callers tell a file that is not regular by it
    QAP_TRACE(ctx, "xml_fopen", "%s mode %s: %p\n", path, binaryMode, static_cast<void *>(f));
    errno = error;
    return f;
}

int qap_getFileSize(QapRoutineCtx *ctx, const char *name, int32_t *size) {
    if (size == nullptr) return -1;
    *size = 0;
    char path[QAP_MAX_PATH];
    int rc = qapGetAbsPath(ctx, name, path);
    if (rc != 0) return rc;
    rc = qapStatSize(path, size);
    if (rc != 0) *size = 0;
    QAP_TRACE(ctx, "qap_getFileSize", "%s: rc %d size %d\n", path, rc, *size);
    return rc;
}

int qap_fseek(QapRoutineCtx *ctx, FILE *stream, long offset) {
    if (stream == nullptr || fseek(stream, offset, SEEK_SET) != 0) {
        QAP_TRACE(ctx, "qap_fseek", "fseek to %ld failed\n", offset);
        return -1;
    }
    return 0;
}

int qap_getTempDir(QapRoutineCtx *ctx) {
    if (ctx == nullptr) return -58;
    if (ctx->savedTmpEnv == nullptr) {
        if (const char *tmp = getenv("TMP")) {
            size_t size = strlen(tmp) + strlen("TMP") + 2;
            ctx->savedTmpEnv = static_cast<char *>(malloc(size));
            if (ctx->savedTmpEnv == nullptr) return -58;
            snprintf(ctx->savedTmpEnv, size, "%s=%s", "TMP", tmp);
        }
    }
    if (ctx->tempDir == nullptr) {
        if (const char *dir = getenv("TARNQAPTEMP")) {
            ctx->tempDir = strdup(dir);
            if (ctx->tempDir == nullptr) return -58;
        }
    }
    return 0;
}

FILE *qapTempFileOpen(QapRoutineCtx *ctx, char **name) {
    *name = nullptr;
    // A configured directory is used or the call fails; otherwise TMP when it names a
    // directory, else /tmp. TMP comes from the context's record when there is one.
    const char *dir = ctx != nullptr ? ctx->tempDir : nullptr;
    if (dir == nullptr) {
        const char *tmp = getenv("TMP");
        if (ctx != nullptr)
            tmp = ctx->savedTmpEnv != nullptr ? ctx->savedTmpEnv + strlen("TMP=") : nullptr;
        dir = qapIsDirectory(tmp) ? tmp : QAP_ROOT_TEMP_DIR;
    }
    int fd = qapTempCreate(dir, "qap", name);
    FILE *f = fd < 0 ? nullptr : fdopen(fd, "wb+");
    if (fd >= 0 && f == nullptr) {
        close(fd);
        remove(*name);
        free(*name);
        *name = nullptr;
    }
    QAP_TRACE(ctx, "qap_tempFilename", "%s in %s\n", *name != nullptr ? *name : "NULL", dir);
    return f;
}

char *qap_tempFilename(QapRoutineCtx *ctx) {
    char *name = nullptr;
    if (FILE *f = qapTempFileOpen(ctx, &name)) fclose(f);
    return name;
}

int qap_buf2file(QapRoutineCtx *ctx, const char *buf, int32_t length, const char *name,
                 char *sqlstate, char *msgtext) {
    FILE *f = xml_fopen(ctx, name, "wb+");
    if (f == nullptr) {
        if (errno == EINVAL) // not a regular file
            qapSetError(ctx, sqlstate, "38X01", msgtext, QAPC001E);
        else
            qapSetError(ctx, sqlstate, "38X00", msgtext, QAPC000E);
        return -1;
    }
    size_t written = 0;
    if (length > 0 && buf != nullptr) written = fwrite(buf, 1, static_cast<size_t>(length), f);
    // A failed close loses buffered bytes, so it counts as a failed write.
    bool closed = fclose(f) == 0;
    if (length < 0 || (length > 0 && buf == nullptr) || written != static_cast<size_t>(length) ||
        !closed) {
        QAP_TRACE(ctx, "qap_buf2file", "wrote %zu of %d bytes\n", written, length);
        qapSetError(ctx, sqlstate, "38X03", msgtext, QAPC003E);
        return -1;
    }
    return 0;
}

int qap_file2varchar(QapRoutineCtx *ctx, const char *name, char *out, int32_t capacity,
                     char *sqlstate, char *msgtext) {
    static const char fn[] = "qap_file2varchar";
    int32_t size = 0;
    if (qap_getFileSize(ctx, name, &size) != 0) {
        qapSetError(ctx, sqlstate, "38X01", msgtext, QAPC001E);
        return -1;
    }
    if (size > QAP_VARCHAR_MAX || size > capacity) {
        QAP_TRACE(ctx, fn, "file size %d exceeds %d\n", size, capacity);
        qapSetError(ctx, sqlstate, "38X05", msgtext, QAPC005E);
        return -1;
    }
    QapFilePtr f(xml_fopen(ctx, name, "rb"));
    if (!f) {
        qapSetError(ctx, sqlstate, "38X00", msgtext, QAPC000E);
        return -1;
    }
    size_t got = fread(out, 1, static_cast<size_t>(size), f.get());
    f.reset();
    if (got < static_cast<size_t>(size)) {
        qapSetError(ctx, sqlstate, "38X02", msgtext, QAPC002E);
        return -1;
    }
    out[size] = '\0';

    int32_t errCode = 0;
    int32_t count =
        convertBufferAppToTarn(ctx, out, size, out, capacity, msgtext, sqlstate, &errCode);
    if (errCode == -124) qapSetMsg(ctx, msgtext, QAPC005E);
    if (count == -1) {
        QAP_TRACE(ctx, fn, "conversion failed, errCode %d\n", errCode);
        return -1;
    }
    out[count] = '\0'; // the buffer holds capacity bytes and a terminator
    return 0;
}

int qapChkRegistry(QapRoutineCtx *ctx, int access, const char *name, char *sqlstate,
                   char *msgtext) {
    static const char fn[] = "qapChkRegistry";
    const bool reading = access == 0;
    auto deny = [&]() {
        if (reading)
            qapSetError(ctx, sqlstate, "38X02", msgtext, QAPC002E);
        else
            qapSetError(ctx, sqlstate, "38X03", msgtext, QAPC003E);
        return -1;
    };
    auto outOfMemory = [&]() {
        qapSetError(ctx, sqlstate, "38X10", msgtext, QAPG002E);
        return -1;
    };

    QapHeap<char> value(sqloGetEnv(reading ? TARN_REG_READ_ACCESS : TARN_REG_WRITE_ACCESS));
    if (!value) {
        QAP_TRACE(ctx, fn, "no registry value for %s access\n", reading ? "read" : "write");
        return deny();
    }
    int32_t valueUnits = registryUnits(strlen(value.get()));
    std::unique_ptr<UChar[]> list(new (std::nothrow) UChar[valueUnits]);
    if (!list) return outOfMemory();
    if (QAP_mbstowcsSys(ctx, list.get(), value.get(), valueUnits) < 1) return deny();
    if (u_strcmp(list.get(), u"ANY") == 0) return 0;

    if (name == nullptr) return deny();
    int32_t nameUnits = registryUnits(strlen(name));
    std::unique_ptr<UChar[]> file(new (std::nothrow) UChar[nameUnits]);
    if (!file) return outOfMemory();
    if (QAP_mbstowcsFunction(ctx, file.get(), name, nameUnits) < 1) return deny();
    normaliseSeparators(file.get());
    if (hasParentComponent(file.get())) {
        QAP_TRACE(ctx, fn, "name %s has a parent component\n", name);
        return deny();
    }
    // The file as the system sees it, links resolved: a link inside an allowed directory
    // must not lead out of it.
    std::string resolved;
    try {
        resolved = resolveFile(toSystem(file.get()));
    } catch (const std::bad_alloc &) {
        return outOfMemory();
    }
    if (resolved.empty()) {
        QAP_TRACE(ctx, fn, "%s cannot be resolved\n", name);
        return deny();
    }

    // Each entry: trimmed, normalised, resolved like the name, ended by one separator, and
    // compared as a prefix, case by case. The entry is split in place.
    std::unique_ptr<UChar[]> entry(new (std::nothrow) UChar[valueUnits + 1]);
    if (!entry) return outOfMemory();
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
        std::string dir;
        try {
            dir = qapRealPath(toSystem(entry.get()).c_str());
            if (dir.empty()) continue; // a missing directory holds no file
            if (dir.back() != QAP_PATH_SEP) dir += QAP_PATH_SEP;
        } catch (const std::bad_alloc &) {
            return outOfMemory();
        }
        if (resolved.compare(0, dir.size(), dir) == 0 && resolved.size() > dir.size()) return 0;
    }
    QAP_TRACE(ctx, fn, "%s (%s) matches no entry\n", name, resolved.c_str());
    return deny();
}

void QapTempFile::reset(char *name) {
    if (name_ != nullptr && name_ != name) {
        remove(name_);
        free(name_);
    }
    name_ = name;
}
