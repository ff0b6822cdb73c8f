// Entity escaping: the characters that extracted values and re-serialised documents replace by
// entity references, and the escaping copy.
#pragma once

#include "qapCtx.h"

#include <cstddef>
#include <cstdint>
#include <xercesc/util/XercesDefs.hpp>

// The characters that extracted values and re-serialised documents escape, and their
// replacements: the five special characters, then the line ends and tab that a parser
// normalises when it reads a document (an update writes them as character references, so that
// reading its document again gives the values back).
struct QapEscape {
    char16_t ch;
    const char16_t *text;
    uint32_t length;
};
inline constexpr QapEscape kEscapes[] = {
    {u'"', u"&quot;", 6}, {u'&', u"&amp;", 5}, {u'\'', u"&apos;", 6}, {u'<', u"&lt;", 4},
    {u'>', u"&gt;", 4},   {u'\t', u"&#9;", 4}, {u'\n', u"&#10;", 5},  {u'\r', u"&#13;", 5}};
// The most units one escaped unit takes ("&#8232;").
constexpr uint32_t kMaxEscapeUnits = 7;

// How a text is written. Raw; the five special characters escaped (extracted values, tagged
// fragments); or, in an update's document, also what a parser would read back otherwise:
// carriage return in text, tab, line feed and carriage return in attribute values. An XML 1.1
// document (kEscapeXml11 added to the text or attribute kind) also needs the control characters
// that version allows only as references, and NEL and U+2028, which it reads as line ends.
constexpr int kEscapeNone = 0;
constexpr int kEscapeSpecial = 1;
constexpr int kEscapeText = 2;
constexpr int kEscapeAttr = 3;
constexpr int kEscapeXml11 = 4;

// The escaped characters below 64 of each kind as bits by code unit, for a test per character.
constexpr uint64_t qapEscapeBits(int kind) {
    uint64_t mask = 0;
    for (const QapEscape &e : kEscapes)
        if (e.ch > u'\r' || (kind == kEscapeText && e.ch == u'\r') || kind == kEscapeAttr)
            mask |= 1ULL << e.ch;
    return kind == kEscapeNone ? 0 : mask;
}
inline constexpr uint64_t kEscapeMasks[4] = {
    qapEscapeBits(kEscapeNone), qapEscapeBits(kEscapeSpecial), qapEscapeBits(kEscapeText),
    qapEscapeBits(kEscapeAttr)};
inline constexpr uint64_t kEscapeMask = kEscapeMasks[kEscapeSpecial];

// The character reference of a control character, NEL or U+2028 (an XML 1.1 document's).
const QapEscape *qapCharRef(char16_t c);

// The replacement of c in a text written as kind (a kEscape value), or null when c stands for
// itself.
inline const QapEscape *qapEscapeOf(char16_t c, int kind = kEscapeSpecial) {
    if (c < 64 && ((kEscapeMasks[kind & 3] >> c) & 1) != 0) {
        for (const QapEscape &e : kEscapes)
            if (e.ch == c) return &e;
    }
    if ((kind & kEscapeXml11) == 0) return nullptr;
    if ((c != 0 && c < 0x20 && c != u'\t' && c != u'\n') || (c >= 0x7F && c <= 0x9F) || c == 0x2028)
        return qapCharRef(c);
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
