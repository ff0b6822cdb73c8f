// Code page conversion: the routine context's ICU converters, the encoding names given to the
// parser, and conversion of text between the application code page, the database code page
// and UTF-16.
#pragma once

#include "qapCtx.h"
#include "qapMsg.h"

#include <cstdint>
#include <string>
#include <unicode/ucnv.h>
#include <xercesc/util/XercesDefs.hpp>

// One row of the encoding table; the table ends with code page -2.
struct QapEncodingRow {
    int32_t codePage;
    const XMLCh *name;
};
// The encoding table: built once (its CCSID-based names come from ICU), then constant.
const QapEncodingRow *qapEncodingTable();

// Reads the database code page from the host's database-information record.
int32_t qapDbCodePage(const void *dbinfo);

// Opens the application and database converters of ctx->convInfo. 0 or -1.
int32_t qapInitIcu(QapRoutineCtx *ctx, uint32_t callerKind, const void *dbinfo,
                   const char *appEncoding);

// The application code pages of UTF-16 without a byte order mark of its own: ICU numbers
// UTF-16BE 1200 and UTF-16LE 1202.
inline bool qapIsUtf16CodePage(int32_t codePage) {
    return codePage == 1200 || codePage == 1202;
}

// ICU's status after opening a converter: a name shared by several converters opens ICU's
// default among them, which is the converter wanted, so that warning is not a failure.
inline UErrorCode qapOpenStatus(UErrorCode status) {
    return status == U_AMBIGUOUS_ALIAS_WARNING ? U_ZERO_ERROR : status;
}

// Keeps a converter ICU has just opened with *status: the status is normalised as above, and a
// converter that did not open cleanly is closed. The converter, or null with *status telling
// why (U_ZERO_ERROR when ICU gave no converter and no error).
UConverter *qapKeepOpened(UConverter *cnv, UErrorCode *status);

// Opens the converter ICU lists under name (ICU's default converter for null), as above.
UConverter *qapOpenNamed(const char *name, UErrorCode *status);

// Opens a converter for a CCSID, as above.
UConverter *qapOpenConverter(int32_t ccsid, UErrorCode *status);

// The encoding name the parser is given for a code page. 0, or -1 with "38X38".
int32_t qapGetEncoding(QapRoutineCtx *ctx, int32_t codePage, XMLCh *out, int32_t capacity,
                       QapStatus err);
// The encoding name for text in the database code page: qapGetEncoding's check, then the
// database converter's own ICU name, so that the parser (which transcodes through ICU) reads the
// bytes through the very table the library converts them with; in this ICU a table's name may
// open another variant of the code page. 0, or -1 with "38X38".
int32_t qapDbEncoding(QapRoutineCtx *ctx, XMLCh *out, int32_t capacity, QapStatus err);

// Database code page to UTF-16; code units written (terminator not counted), or -1.
int32_t qapMbstowcsFunction(QapRoutineCtx *ctx, XMLCh *out, const char *in, int32_t capacity);
// ICU default code page to UTF-16, with a converter opened for the call.
int32_t qapMbstowcsSys(QapRoutineCtx *ctx, XMLCh *out, const char *in, int32_t capacity);
// UTF-16 to the database code page; bytes written (terminator not counted), or -1.
int32_t qapWcstombsFunction(QapRoutineCtx *ctx, char *out, const XMLCh *in, int32_t capacity);
// Parser string to the database code page (4 bytes per unit plus 4); returns out.
char *qapConvXMLCh(QapRoutineCtx *ctx, const XMLCh *in, char *out);

// Reports a conversion failure: QAPQ055E with the ICU status, SQLSTATE "38X45". Returns -1.
int32_t qapSetIcuError(QapRoutineCtx *ctx, QapStatus err, UErrorCode status);

// Application to database code page; out may be in. Bytes written or -1 (*tooLong set, when
// given, if the result does not fit).
int32_t qapConvertBufferAppToTarn(QapRoutineCtx *ctx, const char *in, int32_t inLength, char *out,
                                  int32_t capacity, QapStatus err, bool *tooLong);
// Database to application code page; out may be in. Bytes written or -1.
int32_t qapConvertBufferTarnToApp(QapRoutineCtx *ctx, const char *in, int32_t inLength, char *out,
                                  int32_t capacity, QapStatus err);

// Converts a document to the application code page and rewrites the encoding of its XML
// declaration. Bytes written (byte order mark included), or -1.
int32_t qapConvBufferTarnToAppEncoding(QapRoutineCtx *ctx, const char *in, int32_t inLength,
                                       char *out, int32_t capacity, QapStatus err);
// While it lives, cnv stops at a character it cannot convert, in either direction, instead of
// putting a substitute in its place: what is written to a file is the document or nothing.
class QapStrictConversion {
public:
    explicit QapStrictConversion(UConverter *cnv);
    ~QapStrictConversion();
    QapStrictConversion(const QapStrictConversion &) = delete;
    QapStrictConversion &operator=(const QapStrictConversion &) = delete;

private:
    UConverter *cnv_;
    UConverterToUCallback oldTo_ = nullptr;
    const void *oldToContext_ = nullptr;
    UConverterFromUCallback oldFrom_ = nullptr;
    const void *oldFromContext_ = nullptr;
};

// A file name in the database code page as the system's bytes (ICU's default converter; UTF-8
// when that is plain ASCII). False when a character does not convert exactly, or the name is
// empty.
bool qapSystemName(QapRoutineCtx *ctx, const char *name, std::string &out);
// The same name in the application code page, for a call that has the application converter
// stand in for the database's; false on the same terms.
bool qapAppName(QapRoutineCtx *ctx, const char *name, std::string &out);

// A well-formed encoding name: empty, or an ASCII letter followed by letters, digits, ".", "_"
// and "-".
bool qapIsEncName(const char *name);
