// The scalar extract routines: the one value at a location path in a document, as an SQL
// value. 14 result kinds (10 kinds, 4 of them also with a DTD argument) from 3 document sources
// (server file, VARCHAR text, CLOB). The kinds are the table in namespace Kinds, the sources
// are fromFile, qapExtractFromBuf and fromClob, and the 42 members at the end of this file each
// pair one kind with one source.
#include "tessel.h"

#include "qapCtx.h"
#include "qapExtractConv.h"
#include "qapFile.h"
#include "qapFrame.h"
#include "qapLob.h"
#include "qapMsg.h"
#include "qapSgDoc.h"
#include "qapTrace.h"

#include <cctype>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// What every step of one call needs, whatever the member's argument shape.
struct Call {
    const char *name; // the member, for the trace
    QapScratch *scratch;
    int32_t callType;
    const void *dbinfo;
    int16_t *outInd;
    char *sqlstate;
    char *msgtext;
    QapRoutineCtx *ctx = nullptr; // set once the frame has a usable context
};

struct FreeDeleter {
    void operator()(char *p) const { free(p); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

void setLobError(Call &c, int rc) {
    char code[16];
    snprintf(code, sizeof code, "%d", rc);
    qapSetError(c.ctx, c.sqlstate, "38X04", c.msgtext, QAPC004E, code);
}

// ---- Result kinds ------------------------------------------------------------------------
// Each turns the extracted text (a heap string the call owns and may change) into the output
// and returns the output's null indicator. The driver's limit keeps text shorter than the
// output buffer (DATE 11 bytes: at most 10 characters, TIME 9: at most 8).

int16_t copyValue(Call &, char *value, char *out) {
    memcpy(out, value, strlen(value) + 1);
    return 0;
}

int16_t toLocator(Call &c, char *value, sqludf_locator *out) {
    const int32_t rc = qap_buf2locator(c.ctx, value, static_cast<int32_t>(strlen(value)), out,
                                       c.sqlstate, c.msgtext);
    return rc == 0 ? 0 : -1;
}

int16_t toTimestamp(Call &c, char *value, char *out) {
    char stamp[27];
    memset(stamp, '0', 26);
    stamp[26] = '\0';
    if (normal_tstamp(c.ctx, value, static_cast<int32_t>(strlen(value)), stamp) != 0) {
        qapSetError(c.ctx, c.sqlstate, "38X29", c.msgtext, QAPQ061E);
        return -1;
    }
    memcpy(out, stamp, sizeof stamp);
    qapSetState(c.sqlstate, "00000");
    return 0;
}

// Text that is not a number gives NULL without an error.
int16_t toDouble(Call &, char *value, double *out) {
    int32_t err = 0;
    const double d = qapatof(value, &err);
    if (err != 0) return -1;
    *out = d;
    return 0;
}

// Narrowed as the hardware would, without the undefined conversion of an out-of-range value.
int16_t toReal(Call &c, char *value, float *out) {
    double d = 0;
    if (toDouble(c, value, &d) != 0) return -1;
    if (std::fabs(d) <= FLT_MAX)
        *out = static_cast<float>(d);
    else
        *out = d > 0 ? HUGE_VALF : -HUGE_VALF;
    return 0;
}

// atoi and atol agree here (both are strtol cut to 32 bits), so every source uses one: leading
// blanks are skipped, anything after the digits is ignored, no leading number gives 0.
int16_t toInteger(Call &, char *value, int32_t *out) {
    *out = static_cast<int32_t>(atol(value));
    return 0;
}

// The low 16 bits of the integer.
int16_t toSmallint(Call &, char *value, int16_t *out) {
    *out = static_cast<int16_t>(atoi(value));
    return 0;
}

// The typed members of the file and VARCHAR sources read their text into a 256-byte buffer.
// A value of 256 bytes or more is refused by the driver ("38X39", message 85), as the CLOB
// members refuse one of 254 bytes or more, so no source converts a cut value.
constexpr int32_t CONVERSION_BUFFER = 256;
constexpr int32_t CLOB_TYPED_LIMIT = 254;

template <class O, int32_t FileLimit, int32_t ClobLimit, int Tagged,
          int16_t (*Make)(Call &, char *, O *)>
struct ResultKind {
    using Out = O;
    static constexpr int32_t limit = FileLimit;     // file and VARCHAR members
    static constexpr int32_t clobLimit = ClobLimit; // CLOB members
    static constexpr int tagged = Tagged;           // 1: the element with its tags
    static int16_t make(Call &c, char *value, Out *out) { return Make(c, value, out); }
};

// clang-format off
namespace Kinds {
//                         output          file, VARCHAR      CLOB              tagged  made by
using Varchar   = ResultKind<char,           4000,              4000,             0,      copyValue>;
using Char      = ResultKind<char,           254,               254,              0,      copyValue>;
using Clob      = ResultKind<sqludf_locator, QAP_LOB_LIMIT,     QAP_LOB_LIMIT,    1,      toLocator>;
using Date      = ResultKind<char,           11,                11,               0,      copyValue>;
using Time      = ResultKind<char,           9,                 9,                0,      copyValue>;
using Timestamp = ResultKind<char,           27,                27,               0,      toTimestamp>;
using Double    = ResultKind<double,         CONVERSION_BUFFER, CLOB_TYPED_LIMIT, 0,      toDouble>;
using Real      = ResultKind<float,          CONVERSION_BUFFER, CLOB_TYPED_LIMIT, 0,      toReal>;
using Integer   = ResultKind<int32_t,        CONVERSION_BUFFER, CLOB_TYPED_LIMIT, 0,      toInteger>;
using Smallint  = ResultKind<int16_t,        CONVERSION_BUFFER, CLOB_TYPED_LIMIT, 0,      toSmallint>;
} // namespace Kinds
// clang-format on

// ---- The steps of a call -----------------------------------------------------------------

// The DTD of a "2" variant, read from its locator on the statement's first call. The text stays
// in the scratchpad for the later calls (which ignore their DTD argument) and goes with the
// context.
int32_t fetchDtd(Call &c, sqludf_locator *dtd) {
    int32_t length = 0;
    if (const int rc = sqludf_length(dtd, &length); rc != 0) {
        setLobError(c, rc);
        return rc;
    }
    char *text = static_cast<char *>(malloc(static_cast<size_t>(length < 0 ? 0 : length) + 1));
    if (text == nullptr) {
        qapSetError(c.ctx, c.sqlstate, "38X10", c.msgtext, QAPG002E);
        return -1;
    }
    text[0] = '\0';
    c.scratch->dtdText = text;
    return qap_locator2buf(c.ctx, dtd, text, length, c.sqlstate, c.msgtext);
}

// Frame steps 2-3, then the DTD of a "2" variant (dtd non-null) on the first call. True when
// the call goes on to extract; c.ctx tells whether the frame has to be ended.
bool startCall(Call &c, sqludf_locator *dtd) {
    c.ctx = qapFrameBegin(c.scratch, c.callType, c.dbinfo, c.sqlstate, c.msgtext, c.name);
    if (c.ctx == nullptr) return false;
    return dtd == nullptr || c.callType != SQLUDF_FIRST_CALL || fetchDtd(c, dtd) == 0;
}

// The driver on the prepared document, and the value made into the output.
template <class Kind>
void extractValue(Call &c, const char *doc, const char *path, int32_t limit,
                  typename Kind::Out *out) {
    QapScratch *s = c.scratch;
    if (s->docLoc == QAP_FILE)
        QAP_TRACE(c.ctx, c.name, "file '%s', path '%s'\n", doc, path);
    else
        QAP_TRACE(c.ctx, c.name, "document in memory, path '%s'\n", path);
    char *raw = nullptr;
    const int32_t rc = extractOne(c.ctx, doc, s->dtdText, s->docInDbCodePage, s->docLoc,
                                  Kind::tagged, path, &raw, limit, c.sqlstate, c.msgtext);
    HeapText value(raw);
    QAP_TRACE(c.ctx, c.name, "extractOne rc=%d, sqlstate %s\n", rc, c.sqlstate);
    if (rc == 0 && value) *c.outInd = Kind::make(c, value.get(), out);
}

// Frame step 1 and the boundary of the exported routine: the body runs with the output empty
// and NULL, no exception leaves, and a first call that ends in error drops the context.
template <class Out, class Body> void runCall(Call &c, Out *out, Body body) {
    *c.outInd = -1;
    *out = 0;
    try {
        body();
    } catch (...) {
        *c.outInd = -1;
        *out = 0;
        try {
            throw;
        } catch (const std::bad_alloc &) {
            qapSetError(c.ctx, c.sqlstate, "38X10", c.msgtext, QAPG002E);
        } catch (...) {
            qapSetState(c.sqlstate, "38X13");
        }
    }
    if (c.ctx != nullptr) {
        QAP_TRACE(c.ctx, c.name, "sqlstate %s, %s\n", c.sqlstate,
                  *c.outInd == 0 ? "result returned" : "result_ind is NULL");
        qapFrameEnd(c.scratch, c.callType, c.sqlstate);
    }
}

// ---- Document sources --------------------------------------------------------------------

// A file member: the document argument is a server file name, or the text of a VARCHAR member
// (the scratchpad's flags, set by qapExtractFromBuf, tell which).
template <class Kind>
void fromFile(Call c, const char *doc, sqludf_locator *dtd, const char *path,
              typename Kind::Out *out) {
    runCall(c, out, [&] {
        if (startCall(c, dtd)) extractValue<Kind>(c, doc, path, Kind::limit, out);
    });
}

// A VARCHAR member: its text is the document of the file member of the same result kind,
// parsed from memory in the database code page.
template <class Out>
void qapExtractFromBuf(void (*member)(TESSEL_ARGS_DOC(Out *)), TESSEL_ARGS_DOC(Out *)) {
    QapScratch *s = qapScratchOf(scratchpad);
    s->docInDbCodePage = 1;
    s->docLoc = QAP_MEM;
    member(doc, path, out, docInd, pathInd, outInd, sqlstate, fnName, specificName, msgtext,
           scratchpad, callType, dbinfo);
}

template <class Out>
void qapExtractFromBuf2(void (*member)(TESSEL_ARGS_DOC_DTD(Out *)), TESSEL_ARGS_DOC_DTD(Out *)) {
    QapScratch *s = qapScratchOf(scratchpad);
    s->docInDbCodePage = 1;
    s->docLoc = QAP_MEM;
    member(doc, dtd, path, out, docInd, dtdInd, pathInd, outInd, sqlstate, fnName, specificName,
           msgtext, scratchpad, callType, dbinfo);
}

// The document of a CLOB member for one call: a heap buffer, or beyond the context's file
// threshold a temporary file, which is removed when the call is over.
class ClobDocument {
public:
    explicit ClobDocument(QapScratch *scratch) : scratch_(scratch) {}
    ~ClobDocument() { release(); }
    ClobDocument(const ClobDocument &) = delete;
    ClobDocument &operator=(const ClobDocument &) = delete;

    char **slot() { return &doc_; }
    const char *get() const { return doc_; }
    void release() {
        if (doc_ != nullptr && scratch_->docLoc == QAP_FILE) remove(doc_);
        free(doc_);
        doc_ = nullptr;
    }

private:
    QapScratch *scratch_;
    char *doc_ = nullptr;
};

// First-call, final-call and document set-up of a CLOB member ("2" variants: dtd non-null).
// 0 when the member may extract.
int32_t init_from_clob2(Call &c, sqludf_locator *clob, sqludf_locator *dtd, ClobDocument &doc) {
    if (!startCall(c, dtd)) return -1;
    int32_t length = 0;
    if (const int rc = sqludf_length(clob, &length); rc != 0) {
        setLobError(c, rc);
        return rc;
    }
    QAP_TRACE(c.ctx, c.name, "CLOB of %d bytes, threshold %d\n", length, c.ctx->fileThreshold);
    c.scratch->docInDbCodePage = 1;
    c.scratch->docLoc = QAP_MEM; // until the transfer says otherwise
    return qapGetDataFromClob(c.ctx, clob, doc.slot(), &c.scratch->docLoc, c.sqlstate, c.msgtext);
}

int32_t init_from_clob(Call &c, sqludf_locator *clob, ClobDocument &doc) {
    return init_from_clob2(c, clob, nullptr, doc);
}

template <class Kind>
void fromClob(Call c, sqludf_locator *clob, sqludf_locator *dtd, const char *path,
              typename Kind::Out *out) {
    runCall(c, out, [&] {
        ClobDocument doc(c.scratch);
        const int32_t rc =
            dtd == nullptr ? init_from_clob(c, clob, doc) : init_from_clob2(c, clob, dtd, doc);
        if (rc == 0) extractValue<Kind>(c, doc.get(), path, Kind::clobLimit, out);
    });
}

} // namespace

// ---- Text conversions --------------------------------------------------------------------

double qapatof(char *text, int32_t *errCode) {
    const auto fail = [errCode](int32_t code) {
        *errCode = code;
        return 0.0;
    };
    *errCode = 0;
    const char point = *localeconv()->decimal_point;
    size_t n = strlen(text);
    if (n > 30) return fail(QAP_ATOF_TOO_LONG);
    for (char *p = text; *p != '\0'; ++p)
        if (*p == '\n') *p = ' ';
    if (n > 1)
        while (n > 0 && text[n - 1] == ' ')
            text[--n] = '\0';

    // The decimal exponent of the first significant digit: the range check needs it before
    // strtod sees the text.
    size_t i = 0;
    while (text[i] == ' ')
        ++i;
    if (text[i] == '+' || text[i] == '-') ++i;
    while (text[i] == '0')
        ++i;
    int64_t exponent = -1;
    bool significant = false;
    const char *dot = nullptr;
    if (text[i] == '.') {
        dot = text + i++;
        for (; text[i] == '0'; ++i)
            --exponent;
    }
    for (; i < n && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (isdigit(static_cast<unsigned char>(text[i]))) {
            significant = true;
            if (dot == nullptr) ++exponent;
        } else if (text[i] == '.' && dot == nullptr) {
            dot = text + i;
        } else {
            return fail(QAP_ATOF_SYNTAX);
        }
    }
    if (i < n) {
        const char *e = text + i + 1;
        if (*e == '\0') return fail(QAP_ATOF_SYNTAX);
        const char *p = e + (*e == '+' || *e == '-');
        while (isdigit(static_cast<unsigned char>(*p)))
            ++p;
        while (*p == ' ')
            ++p;
        if (*p != '\0') return fail(QAP_ATOF_SYNTAX);
        if (!significant) return 0.0;
        exponent += strtol(e, nullptr, 10); // saturates, so a huge exponent stays out of range
        if (exponent < -79 || exponent > 75) return fail(QAP_ATOF_RANGE);
    }

    char local[31];
    memcpy(local, text, n + 1);
    if (dot != nullptr) local[dot - text] = point;
    char *end = nullptr;
    const double d = strtod(local, &end);
    if (*end != '\0') return fail(QAP_ATOF_UNCONVERTED);
    return d;
}

int32_t normal_tstamp(QapRoutineCtx *ctx, const char *value, int32_t length, char *out) {
    if (length < 0 || length > 26) return -1;
    int32_t i = 0;
    int32_t o = 0;
    const auto digit = [&](int32_t at) {
        return at < length && isdigit(static_cast<unsigned char>(value[at]));
    };
    // One or two digits, written as two.
    const auto field = [&] {
        if (!digit(i)) return false;
        const int32_t width = digit(i + 1) ? 2 : 1;
        out[o++] = width == 2 ? value[i] : '0';
        out[o++] = value[i + width - 1];
        i += width;
        return true;
    };
    const auto separator = [&](const char *allowed) {
        if (i >= length || strchr(allowed, value[i]) == nullptr) return false;
        out[o++] = value[i++];
        return true;
    };

    for (; i < 4; ++i, ++o) {
        if (!digit(i)) return -1;
        out[o] = value[i];
    }
    if (!separator("-") || !field() || !separator("-") || !field() || !separator("- ") ||
        !field() || !separator(".:") || !field() || !separator(".:") || !field())
        return -1;
    out[o++] = '.';
    if (i < length) {
        if (value[i++] != '.' || length - i < 1 || length - i > 6) return -1;
        for (; i < length; ++i, ++o) {
            if (!digit(i)) return -1;
            out[o] = value[i];
        }
    }
    QAP_TRACE(ctx, "normal_tstamp", "'%.*s' -> '%s'\n", length, value, out);
    return 0;
}

// ---- The members -------------------------------------------------------------------------
// A row names a result kind and its three members: the file member, the VARCHAR member (the
// file member applied to the VARCHAR text) and the CLOB member. The host passes null
// indicators and names that these routines never read.

// clang-format off
#define QAP_CALL(member)                                                                           \
    Call{#member, qapScratchOf(scratchpad), *callType, dbinfo, outInd, sqlstate, msgtext}
// clang-format on

#define QAP_MEMBERS(Kind, fileMember, varcharMember, clobMember)                                   \
    void fileMember(TESSEL_ARGS_DOC(Kind::Out *)) {                                                \
        fromFile<Kind>(QAP_CALL(fileMember), doc, nullptr, path, out);                             \
    }                                                                                              \
    void varcharMember(TESSEL_ARGS_DOC(Kind::Out *)) {                                             \
        qapExtractFromBuf(fileMember, doc, path, out, docInd, pathInd, outInd, sqlstate, fnName,   \
                          specificName, msgtext, scratchpad, callType, dbinfo);                    \
    }                                                                                              \
    void clobMember(TESSEL_ARGS_CLOB(Kind::Out *)) {                                               \
        fromClob<Kind>(QAP_CALL(clobMember), clob, nullptr, path, out);                            \
    }

// The "2" variants: a DTD (CLOB locator) replaces the document's external DTD.
#define QAP_MEMBERS2(Kind, fileMember, varcharMember, clobMember)                                  \
    void fileMember(TESSEL_ARGS_DOC_DTD(Kind::Out *)) {                                            \
        fromFile<Kind>(QAP_CALL(fileMember), doc, dtd, path, out);                                 \
    }                                                                                              \
    void varcharMember(TESSEL_ARGS_DOC_DTD(Kind::Out *)) {                                         \
        qapExtractFromBuf2(fileMember, doc, dtd, path, out, docInd, dtdInd, pathInd, outInd,       \
                           sqlstate, fnName, specificName, msgtext, scratchpad, callType, dbinfo); \
    }                                                                                              \
    void clobMember(TESSEL_ARGS_CLOB_DTD(Kind::Out *)) {                                           \
        fromClob<Kind>(QAP_CALL(clobMember), clob, dtd, path, out);                                \
    }

#pragma GCC diagnostic ignored "-Wunused-parameter"
using namespace Kinds;

// clang-format off
//           kind       file member          VARCHAR member                  CLOB member
QAP_MEMBERS (Varchar,   qapExtractVarchar,   qapExtractVarcharFromVarchar,   qapExtractVarcharFromClob)
QAP_MEMBERS2(Varchar,   qapExtractVarchar2,  qapExtractVarcharFromVarchar2,  qapExtractVarcharFromClob2)
QAP_MEMBERS (Char,      qapExtractChar,      qapExtractCharFromVarchar,      qapExtractCharFromClob)
QAP_MEMBERS (Clob,      qapExtractClob,      qapExtractClobFromVarchar,      qapExtractClobFromClob)
QAP_MEMBERS2(Clob,      qapExtractClob2,     qapExtractClobFromVarchar2,     qapExtractClobFromClob2)
QAP_MEMBERS (Date,      qapExtractDate,      qapExtractDateFromVarchar,      qapExtractDateFromClob)
QAP_MEMBERS (Time,      qapExtractTime,      qapExtractTimeFromVarchar,      qapExtractTimeFromClob)
QAP_MEMBERS (Timestamp, qapExtractTimestamp, qapExtractTimestampFromVarchar, qapExtractTimestampFromClob)
QAP_MEMBERS (Double,    qapExtractDouble,    qapExtractDoubleFromVarchar,    qapExtractDoubleFromClob)
QAP_MEMBERS2(Double,    qapExtractDouble2,   qapExtractDoubleFromVarchar2,   qapExtractDoubleFromClob2)
QAP_MEMBERS (Real,      qapExtractReal,      qapExtractRealFromVarchar,      qapExtractRealFromClob)
QAP_MEMBERS2(Real,      qapExtractReal2,     qapExtractRealFromVarchar2,     qapExtractRealFromClob2)
QAP_MEMBERS (Integer,   qapExtractInteger,   qapExtractIntegerFromVarchar,   qapExtractIntegerFromClob)
QAP_MEMBERS (Smallint,  qapExtractSmallint,  qapExtractSmallintFromVarchar,  qapExtractSmallintFromClob)
// clang-format on
