// The scalar routine frame shared by every routine family.
#include "qapFrame.h"

#include "qapTrace.h"

#include <cstdlib>

QapRoutineCtx *qapFrameBegin(QapScratch *scratch, int32_t callType, const void *dbinfo,
                             char *sqlstate, char *msgtext, const char *routineName) {
    if (callType == SQLUDF_FINAL_CALL) {
        if (scratch->ctx != nullptr) {
            QAP_TRACE(scratch->ctx, routineName, "final call %s\n", sqlstate);
            qapFrameDrop(scratch);
        }
        return nullptr;
    }
    if (callType == SQLUDF_FIRST_CALL) {
        qapFrameDrop(scratch); // the host hands a zero-filled scratchpad; never leak a stale one
        scratch->ctx = static_cast<QapRoutineCtx *>(calloc(1, sizeof(QapRoutineCtx)));
        if (qapInit(scratch->ctx, 0, dbinfo, sqlstate, msgtext, nullptr) < 0) return nullptr;
        QAP_TRACE(scratch->ctx, routineName, "first call\n");
    }
    // A context whose initialisation failed has no converters: nothing to work with.
    QapRoutineCtx *ctx = scratch->ctx;
    return ctx != nullptr && ctx->convInfo != nullptr ? ctx : nullptr;
}

void qapFrameEnd(QapScratch *scratch, int32_t callType, const char *sqlstate) {
    if (callType == SQLUDF_FIRST_CALL && scratch->ctx != nullptr && !qapStateIsOk(sqlstate))
        qapFrameDrop(scratch);
}

void qapFrameDrop(QapScratch *scratch) {
    if (scratch->ctx != nullptr) {
        char state[QAP_SQLSTATE_SIZE] = "00000";
        qapRelease(scratch->ctx, state);
        free(scratch->ctx);
        scratch->ctx = nullptr;
    }
    free(scratch->dtdText);
    scratch->dtdText = nullptr;
}
