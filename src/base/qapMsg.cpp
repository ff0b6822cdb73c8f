// Message formatting by number (texts from the message catalog, or the built-in table) and the
// SQLSTATE-to-code lookup.
#include "qapMsg.h"

#include "qapCatalog.h"
#include "qapCtx.h"
#include "qapTrace.h"
#include "tesselHost.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unicode/ucnv.h>

namespace {
constexpr int kMsgBuffer = 1024; // the formatting buffer
constexpr int kMsgRoom = 70;     // characters of a routine's message text
constexpr int kCatalogSet = 1;

// The text of a message: from the catalog when it can be opened and holds the message.
const char *messageText(QapRoutineCtx *ctx, int32_t msgNo, intptr_t catalog) {
    const char *builtin = msgNo < kMsgRows ? kMessages[msgNo].text : "";
    if (catalog == -1) {
        QAP_TRACE(ctx, "qapVsprint", "Message catalog open error. Using internal messages.\n");
        return builtin;
    }
    const char *text = qapCatGet(catalog, kCatalogSet, msgNo);
    if (text == nullptr) {
        QAP_TRACE(ctx, "qapVsprint", "Message catalog fetch error. Id=%d\n", msgNo);
        return builtin;
    }
    return text;
}
// The longest prefix of text (len bytes) no longer than limit bytes that ends at a character
// boundary of the database code page, so that a cut message stays valid text. UTF-8 backs up
// over continuation bytes; other multi-byte code pages are walked character by character with
// the context's converter; single-byte code pages and a context without converters cut at the
// limit.
int boundaryBefore(QapRoutineCtx *ctx, const char *text, int len, int limit) {
    if (len <= limit) return len;
    UConverter *cnv = ctx != nullptr && ctx->convInfo != nullptr ? ctx->convInfo->dbConv : nullptr;
    if (cnv == nullptr || ucnv_getMaxCharSize(cnv) == 1) return limit;
    if (ucnv_getType(cnv) == UCNV_UTF8) {
        int cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        return cut;
    }
    ucnv_resetToUnicode(cnv);
    const char *at = text;
    const char *const end = text + len;
    int cut = 0;
    while (at < end) {
        UErrorCode status = U_ZERO_ERROR;
        ucnv_getNextUChar(cnv, &at, end, &status);
        if (U_FAILURE(status) || at - text > limit) break;
        cut = static_cast<int>(at - text);
    }
    ucnv_resetToUnicode(cnv);
    return cut;
}

// Places text (len bytes) at dest, cut to at most limit bytes as above, then a newline and a
// terminator. Returns the characters placed.
int placeLine(QapRoutineCtx *ctx, char *dest, const char *text, int len, int limit) {
    const int cut = boundaryBefore(ctx, text, len, limit);
    memcpy(dest, text, cut);
    dest[cut] = '\n';
    dest[cut + 1] = '\0';
    return cut + 1;
}

} // namespace

namespace {
thread_local std::string lastWhole; // the thread's last routine message, before it was cut
} // namespace

const char *qapLastWholeMessage() {
    return lastWhole.c_str();
}

void qapKeepWhole(std::string &to, const char *text) noexcept {
    try {
        to = text;
    } catch (...) {
        to.clear();
    }
}

int qapVsprint(QapRoutineCtx *ctx, char *out, int32_t msgNo, int32_t offset, va_list args) {
    if (msgNo < 0) return -1;

    // The process locale is left alone: routines run on several host threads at once, and the
    // texts are formatted with %s and %d only, which read no locale. The catalog is opened
    // for the host's message locale (LC_MESSAGES of the process).
    char buffer[kMsgBuffer];
    const intptr_t catalog = qapCatOpen("qap.cat", 1);
    const char *text = messageText(ctx, msgNo, catalog);
    vsnprintf(buffer, sizeof buffer, text, args);
    qapCatClose(catalog);
    if (msgNo == QAPG001E) QAP_TRACE(ctx, "qapVsprint", "%s\n", buffer);

    int len = static_cast<int>(strlen(buffer));
    if (ctx != nullptr && ctx->callerKind == 0) {
        // A routine's message text: at most 70 characters, the last one a newline. The host
        // keeps the whole text beside it.
        qapKeepWhole(lastWhole, buffer);
        tarnSetDiagnostic(buffer);
        return placeLine(ctx, out, buffer, len, kMsgRoom - 1);
    }

    // Any other caller appends at offset into a 1024-character output (plus a terminator).
    int room = kMsgBuffer - offset;
    if (room <= 0) return 0;
    return placeLine(ctx, out + offset, buffer, len, room - 1);
}

int qapSetMsg(QapRoutineCtx *ctx, char *msgtext, int32_t msgNo, ...) {
    va_list args;
    va_start(args, msgNo);
    int rc = qapVsprint(ctx, msgtext, msgNo, 0, args);
    va_end(args);
    return rc;
}

namespace {

int setErrorV(QapRoutineCtx *ctx, QapStatus status, const char *state, int32_t msgNo,
              va_list args) {
    qapSetState(status.sqlstate, state);
    return qapVsprint(ctx, status.msgtext, msgNo, 0, args);
}

// The message's own SQLSTATE; "38X18" (internal error) for a number outside the table.
const char *tableState(int32_t msgNo) {
    return msgNo >= 0 && msgNo < kMsgRows ? kMessages[msgNo].sqlstate : "38X18";
}

} // namespace

QapError::QapError(QapRoutineCtx *ctx, int32_t msgNo, ...) {
    memcpy(state_, tableState(msgNo), sizeof state_);
    text_[0] = '\0';
    va_list args;
    va_start(args, msgNo);
    qapVsprint(ctx, text_, msgNo, 0, args);
    va_end(args);
    text_[sizeof text_ - 1] = '\0';
}

void QapError::tell(QapStatus status) const {
    qapSetState(status.sqlstate, state_);
    if (status.msgtext != nullptr) snprintf(status.msgtext, kMsgTextSize, "%.70s", text_);
}

int qapSetError(QapRoutineCtx *ctx, QapStatus status, int32_t msgNo, ...) {
    va_list args;
    va_start(args, msgNo);
    int rc = setErrorV(ctx, status, tableState(msgNo), msgNo, args);
    va_end(args);
    return rc;
}

int qapSetErrorAs(QapRoutineCtx *ctx, QapStatus status, const char *state, int32_t msgNo, ...) {
    va_list args;
    va_start(args, msgNo);
    int rc = setErrorV(ctx, status, state, msgNo, args);
    va_end(args);
    return rc;
}

void qapStateToCode(QapRoutineCtx *ctx, int32_t *code, const char *sqlstate) {
    if (strcmp(sqlstate, "38X13") == 0) {
        *code = -85;
        return;
    }
    for (int32_t row = 0; row < kMsgRows; ++row) {
        if (strcmp(kMessages[row].sqlstate, sqlstate) == 0) {
            *code = kMessages[row].code;
            return;
        }
    }
    *code = INT32_MIN;
    QAP_TRACE(ctx, "qapStateToCode", "sqlState '%s' not found in qapSqlStateTable, %ld returned.\n",
              sqlstate, static_cast<long>(*code));
}

void qapSetState(char *sqlstate, const char *state) {
    if (sqlstate == nullptr || state == nullptr) return;
    memcpy(sqlstate, state, kSqlstateSize - 1);
    sqlstate[kSqlstateSize - 1] = '\0';
}

bool qapStateIsOk(const char *sqlstate) {
    return sqlstate != nullptr &&
           (strcmp(sqlstate, "00000") == 0 || (sqlstate[0] == '0' && sqlstate[1] == '1'));
}
