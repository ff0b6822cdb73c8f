// The trace facility: a trace control file per instance switches tracing on; each routine
// context decides at initialisation whether it appends to the trace file the control names.
#include "qapTrace.h"

#include "qapMsg.h"
#include "qapPlatform.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

int qapTrace(QapRoutineCtx *ctx, const char *format, ...) {
    if (ctx == nullptr || ctx->traceFile == nullptr) return 0;
    va_list args;
    va_start(args, format);
    int written = vfprintf(ctx->traceFile, format, args);
    va_end(args);
    fflush(ctx->traceFile);
    return written;
}

int32_t qapTraceOpen(QapRoutineCtx *ctx, char *sqlstate, char *msgtext) {
    if (ctx->traceFile != nullptr && ctx->traceOn == 1) {
        if (msgtext != nullptr) msgtext[0] = '\0';
        return 0;
    }
    int32_t rc = 0;
    ctx->traceFile = qapTraceControl(ctx, QAP_TRACE_OPEN, nullptr, nullptr, &rc, sqlstate, msgtext);
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
                      int32_t *rc, char *sqlstate, char *msgtext) {
    if (instance == nullptr) instance = getenv("TARNINSTANCE");
    const char *ctlDir = getenv("TARNQAPPATH");
    if (instance == nullptr || ctlDir == nullptr) {
        *rc = -102;
        if (msgtext != nullptr) snprintf(msgtext, QAP_MSGTEXT_SIZE, "%s", "38X35");
        return nullptr;
    }

    // A path that does not fit is refused by the open calls below as too long.
    char ctlPath[QAP_MAX_PATH];
    bool ctlFits = snprintf(ctlPath, sizeof ctlPath, QAP_TRACE_CTL_FORMAT, ctlDir, instance) <
                   static_cast<int>(sizeof ctlPath);
    *rc = 0;
    errno = 0;
    if (sqlstate != nullptr) qapSetState(sqlstate, "00000");

    FILE *trace = nullptr;
    switch (op) {
    case QAP_TRACE_ON: {
        bool nameFits = snprintf(ctx->traceFileName, sizeof ctx->traceFileName,
                                 QAP_TRACE_FILE_FORMAT, dir != nullptr ? dir : "",
                                 instance) < static_cast<int>(sizeof ctx->traceFileName);
        trace = nameFits ? fopen(ctx->traceFileName, "a+") : nullptr;
        if (trace == nullptr) {
            qapSetMsg(ctx, msgtext, QAPC009E, dir != nullptr ? dir : "");
            *rc = -97;
            break;
        }
        FILE *ctl = ctlFits ? fopen(ctlPath, "w+") : nullptr;
        if (ctl == nullptr) {
            qapSetMsg(ctx, msgtext, QAPC011E);
            *rc = -105;
            break;
        }
        fputs(ctx->traceFileName, ctl);
        fclose(ctl);
        qapSetMsg(ctx, msgtext, QAPA068I);
        break;
    }
    case QAP_TRACE_OPEN: {
        if (!ctlFits) errno = ENAMETOOLONG;
        FILE *ctl = ctlFits ? fopen(ctlPath, "r") : nullptr;
        if (ctl == nullptr) {
            if (errno != ENOENT) {
                *rc = -1;
                // Cut like any message text: at most 70 characters, the last a newline.
                if (msgtext != nullptr && snprintf(msgtext, QAP_MSGTEXT_SIZE, "'%s' %s\n", ctlPath,
                                                   strerror(errno)) >= QAP_MSGTEXT_SIZE)
                    msgtext[QAP_MSGTEXT_SIZE - 2] = '\n';
            }
            break;
        }
        if (fgets(ctx->traceFileName, sizeof ctx->traceFileName, ctl) == nullptr)
            ctx->traceFileName[0] = '\0';
        fclose(ctl);
        ctx->traceFileName[strcspn(ctx->traceFileName, "\r\n")] = '\0';
        trace = fopen(ctx->traceFileName, "a+");
        if (trace == nullptr) {
            if (sqlstate != nullptr) qapSetState(sqlstate, "38X03");
            qapSetMsg(ctx, msgtext, QAPQ070E, ctx->traceFileName);
            *rc = -148;
        }
        break;
    }
    case QAP_TRACE_OFF:
        if (!ctlFits || remove(ctlPath) != 0) {
            qapSetMsg(ctx, msgtext, QAPC008E, ctlPath);
            *rc = -96;
        } else {
            qapSetMsg(ctx, msgtext, QAPA069I);
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
int32_t qapTraceSwitchOn(const char *dir, const char *instance, char *sqlstate, char *msgtext) {
    QapRoutineCtx ctx{};
    int32_t rc = 0;
    FILE *trace = qapTraceControl(&ctx, QAP_TRACE_ON, dir, instance, &rc, sqlstate, msgtext);
    if (trace == nullptr) return -1;
    time_t now = time(nullptr);
    fprintf(trace, "*** Trace turned on %s\n", ctime(&now));
    fclose(trace);
    return 0;
}

int32_t qapTraceSwitchOff(const char *instance, char *sqlstate, char *msgtext) {
    QapRoutineCtx ctx{};
    int32_t rc = 0;
    qapTraceControl(&ctx, QAP_TRACE_OFF, nullptr, instance, &rc, sqlstate, msgtext);
    return rc != 0 ? -1 : 0;
}
