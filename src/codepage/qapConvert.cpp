// Conversions between the database code page, the application code page and UTF-16, through
// the context's converters. Every ICU status other than zero, warnings included, is a failure.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapMsg.h"
#include "qapTrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

namespace {

UConverter *dbConverter(QapRoutineCtx *ctx) {
    return ctx != nullptr && ctx->convInfo != nullptr ? ctx->convInfo->dbConv : nullptr;
}

// The bytes of a partial result shown in a trace line: at most 99, never past capacity.
int traceLength(int32_t capacity) {
    return capacity < 99 ? (capacity < 0 ? 0 : capacity) : 99;
}

// Bytes to UTF-16 through cnv; the count, or -1 after a trace line under fn.
int32_t toUtf16(QapRoutineCtx *ctx, const char *fn, UConverter *cnv, XMLCh *out, const char *in,
                int32_t capacity) {
    int32_t length = in != nullptr ? static_cast<int32_t>(strlen(in)) : 0;
    UErrorCode status = U_ZERO_ERROR;
    int32_t count = -1;
    if (cnv == nullptr)
        status = U_ILLEGAL_ARGUMENT_ERROR;
    else
        count = ucnv_toUChars(cnv, out, capacity, in, length, &status);
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, fn, "Conversion error. err=%d, mbstr='%.99s...' count=%d\n", status,
                  in != nullptr ? in : "", capacity);
        return -1;
    }
    return count;
}

// Capacity in UTF-16 units of the intermediate buffer for length input bytes (one spare unit
// so that an empty input still has room for its terminator).
int32_t unicodeCapacity(int32_t length) {
    int64_t units = 4 * static_cast<int64_t>(length) + 1;
    return units > INT32_MAX ? INT32_MAX : static_cast<int32_t>(units);
}

// Converts in (length bytes) through from and then through to into out; the steps shared by
// both buffer conversions. tooLong, if given, is set when the result does not fit.
int32_t convertBuffer(QapRoutineCtx *ctx, const char *fn, bool appToDb, const char *in,
                      int32_t length, char *out, int32_t capacity, QapStatus err, bool *tooLong) {
    QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    UConverter *from = ci == nullptr ? nullptr : appToDb ? ci->appConv : ci->dbConv;
    UConverter *to = ci == nullptr ? nullptr : appToDb ? ci->dbConv : ci->appConv;
    if (from == nullptr || to == nullptr || length < 0 || (in == nullptr && length > 0) ||
        out == nullptr || capacity < 0) {
        qapSetIcuError(ctx, err, U_ILLEGAL_ARGUMENT_ERROR);
        return -1;
    }

    int32_t units = unicodeCapacity(length);
    std::unique_ptr<UChar[]> unicode(new (std::nothrow) UChar[units]);
    if (!unicode) {
        qapSetError(ctx, err, QAPG002E);
        return -1;
    }
    UErrorCode status = U_ZERO_ERROR;
    int32_t count = ucnv_toUChars(from, unicode.get(), units, in, length, &status);
    if (!appToDb) QAP_TRACE(ctx, fn, "nr chars converted to unicode %d\n", count);
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, fn, "cant convert from app codepage err = %ld\n", static_cast<long>(status));
        qapSetIcuError(ctx, err, status);
        return -1;
    }

    status = U_ZERO_ERROR;
    count = ucnv_fromUChars(to, out, capacity, unicode.get(), -1, &status);
    if (!appToDb) QAP_TRACE(ctx, fn, "nr chars converted from unicode %d\n", count);
    if (count >= capacity) {
        if (appToDb) {
            QAP_TRACE(ctx, fn, "destbuf %d too small to hold converted buffer %d\n", capacity,
                      count);
        } else {
            QAP_TRACE(ctx, fn, "destbuf too small to hold converted buffer\n");
        }
        qapSetIcuError(ctx, err, status);
        if (tooLong != nullptr) *tooLong = true;
        return -1;
    }
    out[count] = '\0';
    if (status != U_ZERO_ERROR) {
        QAP_TRACE(ctx, fn, "cant convert to db codepage err = %ld\n", static_cast<long>(status));
        qapSetIcuError(ctx, err, status);
        // A character the target cannot hold stopped the conversion: what came before it is
        // not the text, so no caller may write or return it.
        if (U_FAILURE(status)) return -1;
    }
    return count;
}

} // namespace

int32_t qapMbstowcsFunction(QapRoutineCtx *ctx, XMLCh *out, const char *in, int32_t capacity) {
    // A byte sequence the database code page does not have fails; no substitute stands in.
    UConverter *db = dbConverter(ctx);
    QapStrictConversion strict(db);
    return toUtf16(ctx, "QAP_mbstowcsFunction", db, out, in, capacity);
}

int32_t qapMbstowcsSys(QapRoutineCtx *ctx, XMLCh *out, const char *in, int32_t capacity) {
    static const char fn[] = "QAP_mbstowcsSys";
    const char *name = ucnv_getDefaultName();
    if (name == nullptr) {
        QAP_TRACE(ctx, fn, "unable to ucnv_getDefaultName\n");
        return -1;
    }
    UErrorCode status = U_ZERO_ERROR;
    UConverter *cnv = qapOpenNamed(name, &status);
    if (cnv == nullptr) {
        QAP_TRACE(ctx, fn, "unable to open sys icu converter %s \n", name);
        return -1;
    }
    int32_t count = toUtf16(ctx, fn, cnv, out, in, capacity);
    ucnv_close(cnv);
    return count;
}

int32_t qapWcstombsFunction(QapRoutineCtx *ctx, char *out, const XMLCh *in, int32_t capacity) {
    static const char fn[] = "QAP_wcstombsFunction";
    if (out != nullptr && capacity > 0) out[0] = '\0';
    UConverter *cnv = dbConverter(ctx);
    UErrorCode status = U_ZERO_ERROR;
    int32_t count = 0;
    if (cnv == nullptr || out == nullptr || in == nullptr || capacity < 0)
        status = U_ILLEGAL_ARGUMENT_ERROR;
    else
        count = ucnv_fromUChars(cnv, out, capacity, in, -1, &status);
    if (status == U_ZERO_ERROR && static_cast<uint32_t>(count) < static_cast<uint32_t>(capacity)) {
        out[count] = '\0';
        return count;
    }
    QAP_TRACE(ctx, fn, "Conversion error. err=%d,  wcstr='%.*s...' count=%d\n", status,
              out != nullptr ? traceLength(capacity) : 0, out != nullptr ? out : "", capacity);
    return -1;
}

char *qapConvXMLCh(QapRoutineCtx *ctx, const XMLCh *in, char *out) {
    if (in == nullptr || out == nullptr) {
        QAP_TRACE(ctx, "qapConvXMLCh", "fromPARSK=%p outBuf=%p\n", static_cast<const void *>(in),
                  static_cast<void *>(out));
        return out;
    }
    int64_t capacity = 4 * static_cast<int64_t>(u_strlen(in)) + 4;
    qapWcstombsFunction(ctx, out, in,
                        capacity > INT32_MAX ? INT32_MAX : static_cast<int32_t>(capacity));
    return out;
}

int32_t qapSetIcuError(QapRoutineCtx *ctx, QapStatus err, UErrorCode status) {
    char number[16];
    snprintf(number, sizeof number, "%d", static_cast<int>(status));
    qapSetError(ctx, err, QAPQ055E, number);
    return -1;
}

int32_t qapConvertBufferAppToTarn(QapRoutineCtx *ctx, const char *in, int32_t inLength, char *out,
                                  int32_t capacity, QapStatus err, bool *tooLong) {
    QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    if (ci != nullptr && qapIsUtf16CodePage(ci->appCodePage) && in != nullptr && inLength >= 2) {
        unsigned char b0 = static_cast<unsigned char>(in[0]);
        unsigned char b1 = static_cast<unsigned char>(in[1]);
        if ((b0 == 0xFE && b1 == 0xFF) || (b0 == 0xFF && b1 == 0xFE)) {
            in += 2;
            inLength -= 2;
        }
    }
    if (ci != nullptr && ci->appCodePage == ci->dbCodePage && inLength >= 0 && out != nullptr &&
        (in != nullptr || inLength == 0)) {
        if (capacity < inLength) return -1;
        if (inLength > 0 && out != in) memmove(out, in, static_cast<size_t>(inLength));
        if (inLength < capacity) out[inLength] = '\0';
        return inLength;
    }
    return convertBuffer(ctx, "convertBufferAppToTarn", true, in, inLength, out, capacity, err,
                         tooLong);
}

int32_t qapConvertBufferTarnToApp(QapRoutineCtx *ctx, const char *in, int32_t inLength, char *out,
                                  int32_t capacity, QapStatus err) {
    return convertBuffer(ctx, "convertBufferTarnToApp", false, in, inLength, out, capacity, err,
                         nullptr);
}

QapStrictConversion::QapStrictConversion(UConverter *cnv) : cnv_(cnv) {
    if (cnv_ == nullptr) return;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(cnv_, UCNV_TO_U_CALLBACK_STOP, nullptr, &oldTo_, &oldToContext_, &status);
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(cnv_, UCNV_FROM_U_CALLBACK_STOP, nullptr, &oldFrom_, &oldFromContext_,
                          &status);
}

QapStrictConversion::~QapStrictConversion() {
    if (cnv_ == nullptr) return;
    UErrorCode status = U_ZERO_ERROR;
    UConverterToUCallback to;
    const void *toContext;
    ucnv_setToUCallBack(cnv_, oldTo_, oldToContext_, &to, &toContext, &status);
    UConverterFromUCallback from;
    const void *fromContext;
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(cnv_, oldFrom_, oldFromContext_, &from, &fromContext, &status);
}

namespace {

// A name through from and to, every character exactly (no substitute, no NUL); false when one
// does not convert, or the name is empty.
bool convertNameExactly(UConverter *from, UConverter *to, const char *name, std::string &out) {
    out.clear();
    if (name == nullptr || name[0] == '\0' || from == nullptr || to == nullptr) return false;
    const int32_t length = static_cast<int32_t>(strnlen(name, INT32_MAX - 1));
    std::u16string wide(static_cast<size_t>(length) * 2 + 1, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t units;
    {
        QapStrictConversion strict(from);
        units = ucnv_toUChars(from, wide.data(), static_cast<int32_t>(wide.size()), name, length,
                              &status);
    }
    if (status != U_ZERO_ERROR || units <= 0) return false;
    wide.resize(static_cast<size_t>(units));
    if (wide.find(u'\0') != std::u16string::npos) return false;

    status = U_ZERO_ERROR;
    out.resize(static_cast<size_t>(units) * 4 + 1);
    int32_t n;
    {
        QapStrictConversion strict(to);
        ucnv_resetFromUnicode(to);
        n = ucnv_fromUChars(to, &out[0], static_cast<int32_t>(out.size()), wide.data(), units,
                            &status);
    }
    if (status != U_ZERO_ERROR || n <= 0 || memchr(out.data(), 0, static_cast<size_t>(n))) {
        out.clear();
        return false;
    }
    out.resize(static_cast<size_t>(n));
    return true;
}

} // namespace

bool qapSystemName(QapRoutineCtx *ctx, const char *name, std::string &out) {
    out.clear();
    if (name == nullptr || name[0] == '\0') return false;
    UErrorCode status = U_ZERO_ERROR;
    const char *sys = ucnv_getDefaultName();
    UConverter *cnv =
        qapOpenNamed(sys != nullptr && strcmp(sys, "US-ASCII") != 0 ? sys : "UTF-8", &status);
    if (cnv == nullptr) return false;
    const bool converted = convertNameExactly(dbConverter(ctx), cnv, name, out);
    ucnv_close(cnv);
    return converted;
}

bool qapAppName(QapRoutineCtx *ctx, const char *name, std::string &out) {
    QapConvInfo *ci = ctx != nullptr ? ctx->convInfo : nullptr;
    return convertNameExactly(dbConverter(ctx), ci != nullptr ? ci->appConv : nullptr, name, out);
}
