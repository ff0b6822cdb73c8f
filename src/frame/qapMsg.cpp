// Message formatting by number (texts from the message catalog, or the built-in table) and the
// SQLSTATE-to-code lookup.
#include "qapMsg.h"

#include "qapCtx.h"
#include "qapLib.h"
#include "qapTrace.h"

#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>

namespace {
constexpr int QAP_MSG_BUFFER = 1024; // the formatting buffer
constexpr int QAP_MSG_ROOM = 70;     // characters of a routine's message text
constexpr int QAP_CATALOG_SET = 1;

// The text of a message: from the catalog when it can be opened and holds the message.
const char *messageText(QapRoutineCtx *ctx, int32_t msgNo) {
    const char *builtin = msgNo < QAP_MSG_ROWS ? qapMessageTable[msgNo] : "";
    intptr_t catalog = qapCatOpen("qap.cat", 1);
    if (catalog == -1) {
        QAP_TRACE(ctx, "qapVsprint", "Message catalog open error. Using internal messages.\n");
        return builtin;
    }
    const char *text = qapCatGet(catalog, QAP_CATALOG_SET, msgNo);
    if (text == nullptr) {
        QAP_TRACE(ctx, "qapVsprint", "Message catalog fetch error. Id=%d\n", msgNo);
        return builtin;
    }
    return text;
}
} // namespace

int qapVsprint(QapRoutineCtx *ctx, char *out, int32_t msgNo, int32_t offset, va_list args) {
    if (msgNo < 0) return -1;
    setlocale(LC_ALL, "");

    char buffer[QAP_MSG_BUFFER];
    const char *text = messageText(ctx, msgNo);
    vsnprintf(buffer, sizeof buffer, text, args);
    qapCatClose(qapLibLock.catalog);
    if (msgNo == QAPG001E) QAP_TRACE(ctx, "qapVsprint", "%s\n", buffer);

    int len = static_cast<int>(strlen(buffer));
    if (ctx != nullptr && ctx->callerKind == 0) {
        // A routine's message text: at most 70 characters, the last one a newline.
        if (len < QAP_MSG_ROOM) {
            memcpy(out, buffer, len);
            out[len] = '\n';
            out[len + 1] = '\0';
            return len + 1;
        }
        memcpy(out, buffer, QAP_MSG_ROOM);
        out[QAP_MSG_ROOM - 1] = '\n';
        out[QAP_MSG_ROOM] = '\0';
        return QAP_MSG_ROOM;
    }

    // Any other caller appends at offset into a 1024-character output (plus a terminator).
    int room = QAP_MSG_BUFFER - offset;
    if (room <= 0) return 0;
    char *dest = out + offset;
    if (len < room - 1) {
        memcpy(dest, buffer, len);
        dest[len] = '\n';
        dest[len + 1] = '\0';
        return len + 1;
    }
    memcpy(dest, buffer, room);
    dest[room - 1] = '\n';
    dest[room] = '\0';
    return room;
}

int qapSetMsg(QapRoutineCtx *ctx, char *msgtext, int32_t msgNo, ...) {
    va_list args;
    va_start(args, msgNo);
    int rc = qapVsprint(ctx, msgtext, msgNo, 0, args);
    va_end(args);
    return rc;
}

int qapSetError(QapRoutineCtx *ctx, char *sqlstate, const char *state, char *msgtext, int32_t msgNo,
                ...) {
    qapSetState(sqlstate, state);
    va_list args;
    va_start(args, msgNo);
    int rc = qapVsprint(ctx, msgtext, msgNo, 0, args);
    va_end(args);
    return rc;
}

void qapStateToCode(QapRoutineCtx *ctx, int32_t *code, const char *sqlstate) {
    if (strcmp(sqlstate, "38X13") == 0) {
        *code = -85;
        return;
    }
    for (int32_t row = 0; row < QAP_MSG_ROWS; ++row) {
        if (strcmp(qapSqlStateTable[row].sqlstate, sqlstate) == 0) {
            *code = qapSqlStateTable[row].code;
            return;
        }
    }
    *code = INT32_MIN;
    QAP_TRACE(ctx, "qapStateToCode", "sqlState '%s' not found in qapSqlStateTable, %ld returned.\n",
              sqlstate, static_cast<long>(*code));
}
