// Converts a document from the database to the application code page and makes its XML
// declaration name the application encoding: the declaration's own encoding is dropped and an
// encoding declaration naming the application converter follows the version information.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapTrace.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <unicode/uchar.h>
#include <unicode/ustring.h>

namespace {

constexpr char kTraceFn[] = "qapConvBufferTarnToAppEncoding";

bool isQuote(UChar c) {
    return c == u'\'' || c == u'"';
}

// Advances over white space; the terminating NUL stops it.
void skipBlanks(const UChar *text, int32_t &pos) {
    while (text[pos] != 0 && u_isWhitespace(text[pos]))
        ++pos;
}

// Advances over a quoted value starting at its opening quote at pos. Leaves pos on the closing
// quote and returns true, or on the white space or NUL that ended the value and returns false.
bool scanQuoted(const UChar *text, int32_t &pos) {
    UChar quote = text[pos++];
    while (text[pos] != 0 && text[pos] != quote && !u_isWhitespace(text[pos]))
        ++pos;
    return text[pos] == quote;
}

bool startsWith(const UChar *text, int32_t pos, const char16_t *word) {
    return u_strncmp(text + pos, word, u_strlen(word)) == 0;
}

// Writes UTF-16 text through the application converter at out[*written], without resetting it
// between the pieces of one document (so a converter that starts with a mark writes it once).
// The output must keep a byte free for the terminator.
UErrorCode writeApp(UConverter *cnv, char *out, int32_t capacity, int32_t *written,
                    const UChar *src, int32_t length, bool flush) {
    UErrorCode status = U_ZERO_ERROR;
    char *target = out + *written;
    const UChar *source = src;
    ucnv_fromUnicode(cnv, &target, out + capacity, &source, src + length, nullptr, flush, &status);
    *written = static_cast<int32_t>(target - out);
    if (status == U_ZERO_ERROR && *written >= capacity) status = U_STRING_NOT_TERMINATED_WARNING;
    return status;
}

int32_t invalidDocument(QapRoutineCtx *ctx, QapStatus err) {
    qapSetError(ctx, err, QAPD000E);
    return -1;
}

// "=", blanks and a quoted value without blanks in it; pos ends on the closing quote. What is
// missing is traced with the caller's texts (the same text for a missing "=" in both places).
bool scanAssignment(QapRoutineCtx *ctx, const UChar *text, int32_t &pos, const char *noQuote,
                    const char *noEndQuote) {
    if (text[pos] != u'=') {
        QAP_TRACE(ctx, kTraceFn, "no xml version equals char =%x\n", text[pos]);
        return false;
    }
    ++pos;
    skipBlanks(text, pos);
    if (!isQuote(text[pos])) {
        QAP_TRACE(ctx, kTraceFn, noQuote, text[pos]);
        return false;
    }
    if (!scanQuoted(text, pos)) {
        QAP_TRACE(ctx, kTraceFn, noEndQuote, text[pos]);
        return false;
    }
    return true;
}

} // namespace

bool qapIsEncName(const char *name) {
    if (name == nullptr || name[0] == '\0') return true;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (!letter(name[0])) return false;
    for (const char *p = name + 1; *p != '\0'; ++p) {
        char c = *p;
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '.' && c != '_' && c != '-') return false;
    }
    return true;
}

int32_t qapConvBufferTarnToAppEncoding(QapRoutineCtx *ctx, const char *in, int32_t inLength,
                                       char *out, int32_t capacity, QapStatus err) {
    QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    // Nothing converts into a buffer of no units, whose terminator ICU then reports missing.
    if (inLength == 0) return qapSetIcuError(ctx, err, U_STRING_NOT_TERMINATED_WARNING);
    if (ci == nullptr || ci->dbConv == nullptr || ci->appConv == nullptr || inLength < 0 ||
        (in == nullptr && inLength > 0) || out == nullptr || capacity < 1)
        return qapSetIcuError(ctx, err, U_ILLEGAL_ARGUMENT_ERROR);

    // The whole document in UTF-16 (a spare unit keeps room for the terminator).
    int64_t wanted = 4 * static_cast<int64_t>(inLength) + 1;
    int32_t units = wanted > INT32_MAX ? INT32_MAX : static_cast<int32_t>(wanted);
    std::unique_ptr<UChar[]> unicode(new (std::nothrow) UChar[units]);
    if (!unicode) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    const UChar *text = unicode.get();
    UErrorCode status = U_ZERO_ERROR;
    int32_t count = ucnv_toUChars(ci->dbConv, unicode.get(), units, in, inLength, &status);
    QAP_TRACE(ctx, kTraceFn, "nr chars in unicode %d\n", count);
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, kTraceFn, "cant convert from app codepage err = %ld\n",
                  static_cast<long>(status));
        return qapSetIcuError(ctx, err, status);
    }

    // "<?xml", the version information and its quoted value.
    if (!startsWith(text, 0, u"<?xml")) {
        unsigned first[5] = {};
        for (int i = 0; i < 5 && (i == 0 || first[i - 1] != 0); ++i)
            first[i] = text[i];
        QAP_TRACE(ctx, kTraceFn, "invalid start of xml decl %x %x %x %x %x\n", first[0], first[1],
                  first[2], first[3], first[4]);
        return invalidDocument(ctx, err);
    }
    int32_t pos = 5;
    skipBlanks(text, pos);
    if (!startsWith(text, pos, u"version")) {
        QAP_TRACE(ctx, kTraceFn, "invalid version of xml decl %c%c%c%c%c\n", text[0], text[1],
                  text[2], text[3], text[4]);
        return invalidDocument(ctx, err);
    }
    pos += 7;
    skipBlanks(text, pos);
    if (!scanAssignment(ctx, text, pos, "no xml version number char = %x\n",
                        "missing end quote for xml version char=%x\n"))
        return invalidDocument(ctx, err);
    int32_t prefixLength = pos + 1;

    // Byte order mark, then the declaration through its version value.
    int32_t written = 0;
    if (qapIsUtf16CodePage(ci->appCodePage)) {
        if (capacity < 3) return qapSetIcuError(ctx, err, U_BUFFER_OVERFLOW_ERROR);
        bool bigEndian = ucnv_getType(ci->appConv) == UCNV_UTF16_BigEndian;
        out[0] = static_cast<char>(bigEndian ? 0xFE : 0xFF);
        out[1] = static_cast<char>(bigEndian ? 0xFF : 0xFE);
        written = 2;
    }
    ucnv_resetFromUnicode(ci->appConv);
    status = writeApp(ci->appConv, out, capacity, &written, text, prefixLength, false);
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, kTraceFn, "icu ucnv_fromUChars of xmldecl error %d\n", status);
        return qapSetIcuError(ctx, err, status);
    }

    // The encoding declaration naming the application converter: its IANA name when ICU has
    // a well-formed one, else ICU's own name.
    status = U_ZERO_ERROR;
    const char *icuName = ucnv_getName(ci->appConv, &status);
    const char *ianaName = nullptr;
    if (status == U_ZERO_ERROR) ianaName = ucnv_getStandardName(icuName, "IANA", &status);
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, kTraceFn, "icu getName error %d\n", status);
        return qapSetIcuError(ctx, err, status);
    }
    const char *encName = ianaName != nullptr && qapIsEncName(ianaName) ? ianaName : icuName;
    char encText[100];
    snprintf(encText, sizeof encText, " encoding=\"%s\" ", encName);
    // Names and the format are invariant characters, whatever the database code page.
    UChar encUnicode[200];
    int32_t encLength = static_cast<int32_t>(strlen(encText));
    u_charsToUChars(encText, encUnicode, encLength);
    status = writeApp(ci->appConv, out, capacity, &written, encUnicode, encLength, false);
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, kTraceFn, "icu ucnv_fromUChars of encoding name error %d\n", status);
        return qapSetIcuError(ctx, err, status);
    }
    QAP_TRACE(ctx, kTraceFn, "wrote encoding; uch %x\n", text[prefixLength]);

    // An encoding declaration right after the version information is dropped.
    pos = prefixLength;
    skipBlanks(text, pos);
    if (startsWith(text, pos, u"encoding")) {
        pos += 8;
        skipBlanks(text, pos);
        if (!scanAssignment(ctx, text, pos, "no encoding decl quote: char = %x\n",
                            "missing end quote for encoding decl char=%x\n"))
            return invalidDocument(ctx, err);
        ++pos;
        skipBlanks(text, pos);
    }

    // The rest of the document, unchanged, up to its first NUL.
    status = writeApp(ci->appConv, out, capacity, &written, text + pos, u_strlen(text + pos), true);
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, kTraceFn, "icu ucnv_fromUChars of rest of buffer %d\n", status);
        return qapSetIcuError(ctx, err, status);
    }
    out[written] = '\0';
    return written;
}
