// The routine context: initialisation on a routine's first call and release on its last.
#include "qapInit.h"

#include "qapParser.h"

#include "qapConv.h"
#include "qapFile.h"
#include "qapLib.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unicode/ucnv.h>

namespace {
constexpr size_t kMaxEncodingName = 99;

// The host's budget for the heap of one parse, in bytes: its registry value as a decimal
// number, 0 for none; anything else (or nothing) gives the default.
size_t qapParseMemoryLimit() {
    char *value = sqloGetEnv(TARN_REG_MAX_PARSE_MEMORY);
    size_t limit = kDefaultParseMemory;
    if (value != nullptr && value[0] >= '0' && value[0] <= '9') {
        char *end = nullptr;
        errno = 0;
        const unsigned long long bytes = strtoull(value, &end, 10);
        if (*end == '\0' && errno == 0) limit = static_cast<size_t>(bytes);
    }
    free(value);
    return limit;
}
} // namespace

int32_t qapInit(QapRoutineCtx *ctx, uint32_t callerKind, const void *dbinfo, QapStatus err,
                const char *appEncoding) {
    if (ctx == nullptr) {
        qapSetState(err.sqlstate, "38X10");
        return -58;
    }

    // An unset, non-numeric or small threshold all end up at the minimum.
    if (const char *size = getenv("TARNQAP_MIN_TMPFILE_SIZE")) ctx->fileThreshold = atoi(size);
    if (ctx->fileThreshold < kMinFileThreshold) ctx->fileThreshold = kMinFileThreshold;
    ctx->maxParseMemory = qapParseMemoryLimit();

    if (!qapGetTempDir(ctx)) {
        qapSetState(err.sqlstate, "38X10");
        qapRelease(ctx, err.sqlstate);
        return -58;
    }

    if (ctx->convInfo != nullptr) return 0;

    ctx->callerKind = callerKind;
    int32_t code = qapTraceOpen(ctx, err);

    if (ctx->tempDir != nullptr)
        QAP_TRACE(ctx, "qapInit", "tmp dir %s, file thresh %d\n", ctx->tempDir, ctx->fileThreshold);
    else
        QAP_TRACE(ctx, "qapInit", "tmp dir NULL, file thresh %d\n", ctx->fileThreshold);

    ctx->convInfo = static_cast<QapConvInfo *>(calloc(1, sizeof(QapConvInfo)));
    if (ctx->convInfo == nullptr) {
        qapSetState(err.sqlstate, "38X10");
        code = -58;
    } else if (code != 0) {
        // The trace set-up has set its own status, except when the instance or the trace
        // directory is not configured: it only names "38X35" in the message text then, and
        // the SQLSTATE gets it too so that the host sees the first call fail.
        if (code == -102) qapSetState(err.sqlstate, "38X35");
    } else if (appEncoding != nullptr && strlen(appEncoding) > kMaxEncodingName) {
        qapSetState(err.sqlstate, "38X38");
        code = -119;
    } else if (qapInitIcu(ctx, ctx->callerKind, dbinfo, appEncoding) != 0) {
        qapSetState(err.sqlstate, "38X38");
        code = -119;
    } else {
        int32_t rc = qapInitializeParser(ctx, err);
        QAP_TRACE(ctx, "qapInit", "qapInitializeParser rc = %d, memthresh %d\n", rc,
                  ctx->fileThreshold);
        qapStateToCode(ctx, &code, err.sqlstate);
        if (code == 0) return 0;
    }

    qapRelease(ctx, err.sqlstate);
    return code;
}

int32_t qapRelease(QapRoutineCtx *ctx, char *sqlstate) {
    if (ctx == nullptr) {
        qapSetState(sqlstate, "38X10");
        return -58;
    }
    qapDropParser(ctx);
    qapTerminateParser(ctx);
    if (QapConvInfo *conv = ctx->convInfo) {
        if (conv->appConv != nullptr) ucnv_close(conv->appConv);
        if (conv->dbConv != nullptr && conv->dbConv != conv->appConv) ucnv_close(conv->dbConv);
        free(conv);
        ctx->convInfo = nullptr;
    }
    free(ctx->savedTmpEnv);
    ctx->savedTmpEnv = nullptr;
    free(ctx->tempDir);
    ctx->tempDir = nullptr;
    return qapTraceClose(ctx);
}
