// Entity escaping: the characters that extracted values and re-serialised documents replace by
// entity references, and the escaping copy.
#pragma once

#include "qapCtx.h"

#include <cstddef>
#include <cstdint>
#include <xercesc/util/XercesDefs.hpp>

// The characters that extracted values and re-serialised documents escape, and their
// replacements.
struct QapEscape {
    char16_t ch;
    const char16_t *text;
    uint32_t length;
};
inline constexpr QapEscape qapEscapes[] = {{u'"', u"&quot;", 6},
                                           {u'&', u"&amp;", 5},
                                           {u'\'', u"&apos;", 6},
                                           {u'<', u"&lt;", 4},
                                           {u'>', u"&gt;", 4}};

// The escaped characters as bits by code unit (all are below 64), for a test per character.
constexpr uint64_t qapEscapeBits() {
    uint64_t mask = 0;
    for (const QapEscape &e : qapEscapes)
        mask |= 1ULL << e.ch;
    return mask;
}
inline constexpr uint64_t qapEscapeMask = qapEscapeBits();

// The replacement of c, or null when c stands for itself.
inline const QapEscape *qapEscapeOf(char16_t c) {
    if (c >= 64 || ((qapEscapeMask >> c) & 1) == 0) return nullptr;
    for (const QapEscape &e : qapEscapes)
        if (e.ch == c) return &e;
    return nullptr;
}

// True when s[0..n) holds a character that escaping replaces.
inline bool qapNeedsEscape(const char16_t *s, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (qapEscapeOf(s[i]) != nullptr) return true;
    return false;
}

// Copies s into d replacing the five special characters by entity references, within a
// capacity of c units (terminator included). Returns units written plus one, or -1 with
// *errCode = -58 when it does not fit.
int32_t qapEntityReplaceUCS(QapRoutineCtx *ctx, XMLCh *d, const XMLCh *s, int32_t c,
                            int32_t *errCode, char *msgtext);
