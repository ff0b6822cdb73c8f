// The escaping copy into a buffer of fixed size.
#include "qapEscape.h"

#include "qapMsg.h"
#include "qapTrace.h"

#include <cstdint>
#include <cstdio>
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

// "&#N;" for each character an XML 1.1 document may hold only as a reference or reads as a
// line end: C0 controls, DEL to U+009F, and U+2028 (the last entry).
struct QapCharRefs {
    static constexpr size_t kCount = 0x20 + (0x9F - 0x7F + 1) + 1;
    char16_t text[kCount][kMaxEscapeUnits + 1];
    QapEscape refs[kCount];
    QapCharRefs() {
        for (size_t i = 0; i < kCount; ++i) {
            const char16_t c = static_cast<char16_t>(i < 0x20         ? i
                                                     : i < kCount - 1 ? i + 0x5F
                                                                      : 0x2028);
            char digits[8];
            const int n = snprintf(digits, sizeof digits, "&#%u;", static_cast<unsigned>(c));
            for (int k = 0; k <= n; ++k)
                text[i][k] = static_cast<char16_t>(digits[k]);
            refs[i] = QapEscape{c, text[i], static_cast<uint32_t>(n)};
        }
    }
};

} // namespace

const QapEscape *qapCharRef(char16_t c) {
    static const QapCharRefs table;
    const size_t i = c < 0x20 ? c : c == 0x2028 ? QapCharRefs::kCount - 1 : c - 0x5F;
    return &table.refs[i];
}

int32_t qapEntityReplaceUCS(QapRoutineCtx *ctx, XMLCh *d, const XMLCh *s, int32_t c,
                            int32_t *errCode, char *msgtext) {
    return entityReplace(ctx, d, s, SIZE_MAX, c, errCode, msgtext);
}
