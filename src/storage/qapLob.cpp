// Transfers between host LOB locators and the program's own buffers and files. Every locator
// operation goes through the host's four services; reads and appends move at most one piece
// (kLobPiece bytes) per host call.
#include "qapLob.h"

#include "qapConv.h"
#include "qapCtx.h"
#include "qapFile.h"
#include "qapFileCopy.h"
#include "qapMsg.h"
#include "qapOwned.h"
#include "qapTrace.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/ucnv.h>

void qapSetLobError(QapRoutineCtx *ctx, QapStatus err, int32_t rc) {
    char code[16];
    snprintf(code, sizeof code, "%d", static_cast<int>(rc));
    qapSetError(ctx, err, QAPC004E, code);
}

namespace {

// UTF-16 and output buffers of the file-to-locator conversion, sized for one piece.
constexpr int32_t kPieceUnits = 16384;
constexpr int32_t kPieceOut = 12288;

template <typename T> QapHeap<T> qapAlloc(size_t count) {
    return QapHeap<T>(static_cast<T *>(malloc(count * sizeof(T))));
}

// True when the context converts between two different code pages.
bool codePagesDiffer(const QapRoutineCtx *ctx) {
    return ctx != nullptr && ctx->convInfo != nullptr &&
           ctx->convInfo->appCodePage != ctx->convInfo->dbCodePage;
}

// The capacity argument for a buffer of the given size (capacities are 32-bit).
int32_t capacityOf(size_t size) {
    return static_cast<int32_t>(std::min<size_t>(size, INT32_MAX));
}

// Reads one piece of a locator: 0, the host's code, or -1 for a short read. hostRc, if given,
// receives the host's own result, which a message shows (0 for a short read).
int32_t readPiece(sqludf_locator *loc, int32_t start, int32_t count, char *buf,
                  int32_t *hostRc = nullptr) {
    int32_t got = 0;
    int rc = sqludf_substr(loc, start, count, reinterpret_cast<unsigned char *>(buf), &got);
    if (hostRc != nullptr) *hostRc = rc;
    if (rc != 0) return rc;
    return got == count ? 0 : -1;
}

// Appends bytes to a result locator, one piece per host call: 0, the host's code, or -1 for a
// short append. hostRc, if given, receives the host's own result (0 for a short append).
int32_t appendBytes(sqludf_locator *loc, const char *buf, int32_t length,
                    int32_t *hostRc = nullptr) {
    for (int32_t done = 0; done < length;) {
        const int32_t n = std::min(length - done, kLobPiece);
        int32_t appended = 0;
        unsigned char *bytes = reinterpret_cast<unsigned char *>(const_cast<char *>(buf + done));
        int rc = sqludf_append(loc, bytes, n, &appended);
        if (hostRc != nullptr) *hostRc = rc;
        if (rc != 0) return rc;
        if (appended != n) return -1;
        done += n;
    }
    return 0;
}

// Converts file pieces from the application code page through UTF-16 to the database code
// page and appends the result. The converters keep their state between pieces, so a
// character split by a piece boundary is completed by the next piece; the last call flushes.
class QapPieceConverter {
public:
    QapPieceConverter(UConverter *app, UConverter *db)
        : app_(app), db_(db), units_(qapAlloc<UChar>(kPieceUnits)),
          bytes_(qapAlloc<char>(kPieceOut)) {
        ucnv_resetToUnicode(app_);
        ucnv_resetFromUnicode(db_);
    }
    bool ok() const { return units_ != nullptr && bytes_ != nullptr; }

    // 0; -1 when a conversion fails; or, with *appendRc set, the failed append's code.
    int32_t convert(const char *src, int32_t length, bool flush, sqludf_locator *out,
                    int32_t *appendRc) {
        const char *s = src;
        const char *sLimit = src + length;
        UChar *const uBegin = units_.get();
        UChar *const uLimit = uBegin + kPieceUnits;
        bool moreIn = true;
        while (moreIn) {
            UChar *u = uBegin;
            UErrorCode status = U_ZERO_ERROR;
            ucnv_toUnicode(app_, &u, uLimit, &s, sLimit, nullptr, flush, &status);
            moreIn = status == U_BUFFER_OVERFLOW_ERROR;
            if (status != U_ZERO_ERROR && !moreIn) return -1;
            const UChar *p = uBegin;
            const bool last = flush && !moreIn;
            bool moreOut = true;
            while (moreOut) {
                char *d = bytes_.get();
                UErrorCode st = U_ZERO_ERROR;
                ucnv_fromUnicode(db_, &d, bytes_.get() + kPieceOut, &p, u, nullptr, last, &st);
                moreOut = st == U_BUFFER_OVERFLOW_ERROR;
                if (st != U_ZERO_ERROR && !moreOut) return -1;
                if (int32_t rc =
                        appendBytes(out, bytes_.get(), static_cast<int32_t>(d - bytes_.get()))) {
                    *appendRc = rc;
                    return rc;
                }
            }
        }
        return 0;
    }

private:
    UConverter *app_;
    UConverter *db_;
    QapHeap<UChar> units_;
    QapHeap<char> bytes_;
};

// The length of a CLOB that a conversion to a file reads whole; 0, or -1 with "38X04".
int32_t wholeClobLength(QapRoutineCtx *ctx, sqludf_locator *loc, int32_t *length, QapStatus err) {
    if (int rc = sqludf_length(loc, length); rc != 0) {
        qapSetLobError(ctx, err, rc);
        return -1;
    }
    *length = std::max(*length, 0);
    return 0;
}

// Reads a whole CLOB of length bytes into buf with one host call and terminates it; 0 or the
// failing read's result.
int32_t readWholeClob(QapRoutineCtx *ctx, sqludf_locator *loc, int32_t length, char *buf,
                      QapStatus err) {
    if (length > 0) {
        int32_t host = 0;
        if (int32_t r = readPiece(loc, 1, length, buf, &host)) {
            qapSetLobError(ctx, err, host);
            return r;
        }
    }
    buf[length] = '\0';
    return 0;
}

// Writes the length bytes of a CLOB to an open stream and closes it; 0, or -1 with the
// SQLSTATE and message set.
int32_t locatorToStream(QapRoutineCtx *ctx, sqludf_locator *loc, int32_t length, FILE *stream,
                        QapStatus err) {
    QapFilePtr file(stream);
    char piece[kLobPiece];
    int32_t result = 0;
    for (int32_t done = 0; done < length;) {
        const int32_t n = std::min(length - done, kLobPiece);
        result = readPiece(loc, done + 1, n, piece);
        if (result != 0) {
            QAP_TRACE(ctx, "locatorToStream", "read at %d failed, rc=%d\n", done + 1, result);
            qapSetLobError(ctx, err, result);
            break;
        }
        if (fwrite(piece, 1, static_cast<size_t>(n), file.get()) != static_cast<size_t>(n)) {
            result = -1;
            qapSetError(ctx, err, QAPC003E);
            break;
        }
        done += n;
    }
    // Buffered bytes reach the file only here, so a failing close is a failed write.
    if (fclose(file.release()) != 0 && result == 0) {
        result = -1;
        qapSetError(ctx, err, QAPC003E);
    }
    return result == 0 ? 0 : -1;
}

} // namespace

int32_t qapGetDataFromClob(QapRoutineCtx *ctx, sqludf_locator *loc, char **doc, uint32_t *docLoc,
                           QapStatus err) {
    int32_t length = 0;
    int rc = sqludf_length(loc, &length);
    if (rc != 0) {
        QAP_TRACE(ctx, "qapGetDataFromClob", "sqludf_length rc=%d\n", rc);
        qapSetLobError(ctx, err, rc);
        return -1;
    }
    const int32_t threshold = ctx != nullptr ? ctx->fileThreshold : kMinFileThreshold;
    if (length <= threshold) {
        *docLoc = kMem;
        char *buf = static_cast<char *>(malloc(static_cast<size_t>(std::max(length, 0)) + 1));
        if (buf == nullptr) {
            qapSetError(ctx, err, QAPG002E);
            return -1;
        }
        *doc = buf;
        return qapLocator2Buf(ctx, loc, buf, length, err);
    }

    // The spill is unnamed, written and later read through its own descriptor.
    QapTempFile spill;
    if (spill.create(ctx, err) != 0) return -1;
    const int fd = fcntl(spill.fd(), F_DUPFD_CLOEXEC, 0);
    FILE *stream = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (stream == nullptr) {
        if (fd >= 0) close(fd);
        qapSetErrorAs(ctx, err, "38X10", QAPC012E);
        return -1;
    }
    if (locatorToStream(ctx, loc, length, stream, err) != 0) return -1;
    *doc = spill.releaseKey(); // the caller drops it with qapTempFileDrop on every path
    if (*doc == nullptr) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    *docLoc = kFile;
    return 0;
}

int32_t qapLocator2Buf(QapRoutineCtx *ctx, sqludf_locator *loc, char *out, int32_t length,
                       QapStatus err) {
    int32_t done = 0;
    int32_t result = 0;
    if (loc != nullptr) {
        while (done < length) {
            const int32_t n = std::min(length - done, kLobPiece);
            int32_t host = 0;
            result = readPiece(loc, done + 1, n, out + done, &host);
            if (result != 0) {
                QAP_TRACE(ctx, "qap_locator2buf", "read at %d failed, rc=%d\n", done + 1, result);
                qapSetLobError(ctx, err, host);
                break;
            }
            done += n;
        }
    }
    out[done] = '\0';
    return result == 0 ? 0 : -1;
}

int32_t qapConvLocator2File(QapRoutineCtx *ctx, sqludf_locator *loc, const QapWriteTarget &target,
                            QapStatus err) {
    int32_t length = 0;
    if (wholeClobLength(ctx, loc, &length, err) != 0) return -1;
    // Room for the conversion in place: two bytes per input byte and a terminator.
    const size_t size = 2 * static_cast<size_t>(length) + 2;
    QapHeap<char> buf = qapAlloc<char>(size);
    if (!buf) {
        qapSetState(err.sqlstate, "38X10");
        return -1;
    }
    if (readWholeClob(ctx, loc, length, buf.get(), err) != 0) return -1;

    int32_t count = length;
    if (codePagesDiffer(ctx)) {
        // A character the file's code page cannot hold fails the call; the file is untouched.
        QapStrictConversion strictDb(ctx->convInfo->dbConv), strictApp(ctx->convInfo->appConv);
        count =
            qapConvertBufferTarnToApp(ctx, buf.get(), length + 1, buf.get(), capacityOf(size), err);
        if (count == -1) return -1;
    }
    return qapBuf2File(ctx, buf.get(), count, target, err);
}

int32_t qapConvLocator2File2(QapRoutineCtx *ctx, sqludf_locator *loc, const QapWriteTarget &target,
                             QapStatus err) {
    int32_t length = 0;
    if (wholeClobLength(ctx, loc, &length, err) != 0) return -1;
    const size_t inSize = static_cast<size_t>(length) + 1;
    QapHeap<char> in = qapAlloc<char>(inSize);
    QapHeap<char> out = qapAlloc<char>(3 * inSize);
    if (!in || !out) {
        qapSetState(err.sqlstate, "38X10");
        return -1;
    }
    if (readWholeClob(ctx, loc, length, in.get(), err) != 0) return -1;

    QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    QapStrictConversion strictDb(ci != nullptr ? ci->dbConv : nullptr),
        strictApp(ci != nullptr ? ci->appConv : nullptr);
    const int32_t count = qapConvBufferTarnToAppEncoding(ctx, in.get(), length + 1, out.get(),
                                                         capacityOf(3 * inSize), err);
    if (count == -1) return -1;
    return qapBuf2File(ctx, out.get(), count, target, err);
}

int32_t qapFile2Locator(QapRoutineCtx *ctx, QapOpenFile &opened, sqludf_locator *out,
                        QapStatus err) {
    qapSetState(err.sqlstate, "00000");
    // The file the gate opened; its size is the opened file's.
    QapFd fd = opened.take();
    QapFilePtr file(fd ? fdopen(fd.get(), "rb") : nullptr);
    if (!file) {
        qapSetOpenError(ctx, 0, fd ? ENOMEM : opened.error(), err);
        return -1;
    }
    fd.release(); // the stream closes it
    if (opened.size() > kLobLimit) {
        qapSetError(ctx, err, QAPC006E);
        return -1;
    }
    const int32_t size = static_cast<int32_t>(opened.size());
    int rc = sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, &out);
    if (rc != 0) {
        qapSetLobError(ctx, err, rc);
        return -1;
    }

    // A character the database code page cannot hold, or a byte sequence not valid in the
    // file's, fails the transfer instead of becoming a substitute.
    QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    QapStrictConversion strictApp(ci != nullptr ? ci->appConv : nullptr),
        strictDb(ci != nullptr ? ci->dbConv : nullptr);
    std::unique_ptr<QapPieceConverter> conv;
    const bool convert = codePagesDiffer(ctx);
    if (convert) {
        conv.reset(new (std::nothrow)
                       QapPieceConverter(ctx->convInfo->appConv, ctx->convInfo->dbConv));
        if (!conv || !conv->ok()) {
            qapSetError(ctx, err, QAPG002E);
            return -1;
        }
    }

    // fgets stops at a line feed, when the piece is full, or at the end of the file; the
    // piece's length is its string length, so a NUL byte ends the transfer.
    char piece[kLobPiece + 1];
    int32_t remaining = size;
    int32_t result = 0;
    bool first = true;
    while (result == 0 && remaining > 0) {
        const int32_t room = std::min(remaining, kLobPiece);
        if (fgets(piece, room + 1, file.get()) == nullptr) break;
        const int32_t length = static_cast<int32_t>(strlen(piece));
        if (length == 0) break;
        remaining -= length;

        int32_t appendRc = 0;
        if (!convert) {
            appendRc = appendBytes(out, piece, length);
        } else {
            const char *start = piece;
            int32_t n = length;
            // A UTF-16 byte order mark at the start of the file is not part of the text.
            if (first && qapIsUtf16CodePage(ctx->convInfo->appCodePage) && n >= 2 &&
                ((piece[0] == '\xFE' && piece[1] == '\xFF') ||
                 (piece[0] == '\xFF' && piece[1] == '\xFE'))) {
                start += 2;
                n -= 2;
            }
            result = conv->convert(start, n, false, out, &appendRc);
            if (result != 0 && appendRc == 0) {
                QAP_TRACE(ctx, "qap_file2locator", "conversion failed at %d\n", size - remaining);
                qapSetError(ctx, err, QAPC007E);
            }
        }
        first = false;
        if (appendRc != 0) {
            QAP_TRACE(ctx, "qap_file2locator", "sqludf_append rc=%d\n", appendRc);
            qapSetLobError(ctx, err, appendRc);
            result = appendRc;
            break;
        }
        if (result == 0 && remaining > 0 && qapFseek(ctx, file.get(), size - remaining) != 0) {
            qapSetError(ctx, err, QAPC002E);
            result = -1;
        }
    }

    if (result == 0 && convert) {
        int32_t appendRc = 0;
        result = conv->convert(nullptr, 0, true, out, &appendRc);
        if (result != 0 && appendRc != 0)
            qapSetLobError(ctx, err, result);
        else if (result != 0)
            qapSetError(ctx, err, QAPC007E);
    }
    if (result == 0) {
        int32_t length = 0;
        rc = sqludf_length(out, &length);
        if (rc != 0) {
            qapSetLobError(ctx, err, rc);
            result = rc;
        }
    }
    return result == 0 ? 0 : -1;
}

int32_t qapBuf2Locator(QapRoutineCtx *ctx, const char *buf, int32_t length, sqludf_locator *out,
                       QapStatus err) {
    int rc = sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, &out);
    if (rc != 0) {
        qapSetLobError(ctx, err, rc);
        return -1;
    }
    if (buf != nullptr) {
        int32_t host = 0;
        if (int32_t r = appendBytes(out, buf, length, &host)) {
            QAP_TRACE(ctx, "qap_buf2locator", "sqludf_append rc=%d\n", r);
            qapSetLobError(ctx, err, host);
            return -1;
        }
    }
    return 0;
}
