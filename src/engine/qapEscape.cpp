// The escaping copy into a buffer of fixed size.
#include "qapEscape.h"

#include "qapMsg.h"
#include "qapTrace.h"

#include <cstdint>
#include <cstring>

namespace {

// The escaping copy, reading s up to its terminator or n units, whichever comes first.
int32_t entityReplace(QapRoutineCtx *ctx, XMLCh *d, const XMLCh *s, size_t n, int32_t c,
                      int32_t *errCode, char *msgtext) {
    static const char *const fn = "qapEntityReplaceUCS";
    QAP_TRACE(ctx, fn, " Entered\n");
    int32_t w = 0;
    // No room even for the terminator.
    bool full = c <= 0;
    for (size_t i = 0; !full; ++i) {
        XMLCh ch = i < n ? s[i] : 0;
        if (w >= c || ch == 0) {
            d[w] = 0;
            QAP_TRACE(ctx, fn, " Exit\n");
            return w + 1;
        }
        const QapEscape *e = qapEscapeOf(ch);
        if (e != nullptr) {
            const int32_t repLength = static_cast<int32_t>(e->length);
            if (c - w - 1 >= repLength) {
                memcpy(d + w, e->text, static_cast<size_t>(repLength) * sizeof(XMLCh));
                w += repLength;
                continue;
            }
        } else if (w + 1 < c) {
            d[w++] = ch;
            continue;
        }
        full = true;
    }
    if (msgtext != nullptr) qapSetMsg(ctx, msgtext, QAPG002E);
    *errCode = -58;
    QAP_TRACE(ctx, fn, " Exit\n");
    return -1;
}

} // namespace

int32_t qapEntityReplaceUCS(QapRoutineCtx *ctx, XMLCh *d, const XMLCh *s, int32_t c,
                            int32_t *errCode, char *msgtext) {
    return entityReplace(ctx, d, s, SIZE_MAX, c, errCode, msgtext);
}
