// The routine frame shared by every family.
#include "qapCall.h"

#include "qapFile.h"
#include "qapLob.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

QapPhase qapPhaseOf(tessel::Kind kind, int32_t callType) {
    if (kind == tessel::Kind::SCALAR) {
        switch (callType) {
        case SQLUDF_FIRST_CALL:
            return QapPhase::FIRST;
        case SQLUDF_NORMAL_CALL:
            return QapPhase::FETCH;
        case SQLUDF_FINAL_CALL:
            return QapPhase::FINAL;
        }
        return QapPhase::UNKNOWN;
    }
    switch (callType) {
    case SQL_TF_FIRST:
        return QapPhase::FIRST;
    case SQL_TF_OPEN:
        return QapPhase::OPEN;
    case SQL_TF_FETCH:
        return QapPhase::FETCH;
    case SQL_TF_CLOSE:
        return QapPhase::CLOSE;
    case SQL_TF_FINAL:
        return QapPhase::FINAL;
    }
    return QapPhase::UNKNOWN;
}

QapCall::QapCall(const tessel::RoutineInfo &r, const QapArgs &a)
    : routine(r), args(a), phase(qapPhaseOf(r.kind, a.callType)),
      scratch(reinterpret_cast<QapScratch *>(a.scratchpad->data)), status_{a.sqlstate, a.msgtext} {}

bool QapCall::anyNull() const {
    for (int i = 0; i < routine.count; ++i)
        if (isNull(i)) return true;
    return false;
}

int32_t QapCall::failLob(int rc) {
    qapSetLobError(ctx, err(), rc);
    return -1;
}

bool QapCall::start(const char *appEncoding) {
    if (phase == QapPhase::FINAL) {
        if (scratch->ctx != nullptr) {
            QAP_TRACE(scratch->ctx, name(), "final call %s\n", status_.sqlstate);
            drop();
        }
        return false;
    }
    if (phase == QapPhase::FIRST) {
        drop(); // the host hands a zero-filled scratchpad; never leak a stale one
        scratch->ctx = static_cast<QapRoutineCtx *>(calloc(1, sizeof(QapRoutineCtx)));
        if (qapInit(scratch->ctx, 0, args.dbinfo, err(), appEncoding) < 0) return false;
        QAP_TRACE(scratch->ctx, name(), "first call\n");
    }
    // A context whose initialisation failed has no converters: nothing to work with.
    if (scratch->ctx != nullptr && scratch->ctx->convInfo != nullptr) ctx = scratch->ctx;
    return ctx != nullptr;
}

int32_t QapCall::fetchDtd(sqludf_locator *dtd) {
    int32_t length = 0;
    if (const int rc = sqludf_length(dtd, &length); rc != 0) return failLob(rc);
    char *text = static_cast<char *>(malloc(static_cast<size_t>(length < 0 ? 0 : length) + 1));
    if (text == nullptr) return fail(QAPG002E);
    text[0] = '\0';
    scratch->dtdText = text;
    return qapLocator2Buf(ctx, dtd, text, length, err());
}

int32_t QapCall::checkFiles(bool nullsToo) {
    for (int i = 0; i < routine.count; ++i) {
        if (!routine.namesFile(i) || (!nullsToo && isNull(i))) continue;
        const char *name = isNull(i) ? "" : text(i);
        // An empty name is refused here only when nullsToo; else the step that reads or writes
        // it tells its failure.
        const bool tell = nullsToo || name[0] != '\0';
        if (routine.readsFile(i) && qapOpenRead(ctx, name, opened_[i]) != 0 &&
            opened_[i].refused() && tell) {
            qapSetOpenError(ctx, 0, opened_[i].error(), err());
            return -1;
        }
        if (routine.writesFile(i) && qapCheckWrite(ctx, name, targets_[i]) != 0 &&
            targets_[i].refused() && tell) {
            qapSetOpenError(ctx, 1, targets_[i].error(), err());
            return -1;
        }
    }
    return 0;
}

void QapCall::drop() {
    if (scratch->ctx != nullptr) {
        char state[kSqlstateSize] = "00000";
        qapRelease(scratch->ctx, state);
        free(scratch->ctx);
        scratch->ctx = nullptr;
    }
    free(scratch->dtdText);
    scratch->dtdText = nullptr;
    ctx = nullptr;
}

void QapCall::clearOutput() const {
    *args.outInd = -1;
    if (args.out == nullptr) return;
    switch (routine.result) {
    case tessel::SqlType::DOUBLE:
        *out<double>() = 0;
        break;
    case tessel::SqlType::REAL:
        *out<float>() = 0;
        break;
    case tessel::SqlType::INTEGER:
        *out<int32_t>() = 0;
        break;
    case tessel::SqlType::SMALLINT:
        *out<int16_t>() = 0;
        break;
    case tessel::SqlType::CLOB:
        *out<sqludf_locator>() = 0;
        break;
    default:
        *out<char>() = '\0';
        break;
    }
}

void QapCall::caught() noexcept {
    clearOutput();
    try {
        throw;
    } catch (const std::bad_alloc &) {
        fail(QAPG002E);
    } catch (const QapError &e) {
        e.tell(status_);
    } catch (...) {
        qapSetState(status_.sqlstate, "38X13");
    }
}

void QapCall::end() {
    if (ctx == nullptr) return;
    if (phase == QapPhase::FIRST || phase == QapPhase::FETCH || phase == QapPhase::OPEN)
        QAP_TRACE(ctx, name(), "sqlstate %s, %s\n", status_.sqlstate,
                  *args.outInd == 0 ? "result returned" : "result_ind is NULL");
    if (phase == QapPhase::FIRST && routine.kind == tessel::Kind::SCALAR &&
        !qapStateIsOk(status_.sqlstate))
        drop();
}
