// The result kinds of the extract routines, shared by the scalar and table families: how the
// extracted text becomes each SQL type, and the text conversions they use (numbers with a
// checked exponent range, timestamps normalised to the host's 26-character form).
#pragma once

#include "qapCall.h"
#include "qapLob.h"
#include "qapTextConvert.h"

#include <cstdint>

struct QapRoutineCtx;

// Each turns the extracted text (a heap string the call owns and may change) into the output
// and returns the output's null indicator. The driver's limit keeps text shorter than the
// output buffer (DATE 11 bytes: at most 10 characters, TIME 9: at most 8).
int16_t qapCopyValue(QapCall &c, char *value, char *out);
int16_t qapToLocator(QapCall &c, char *value, sqludf_locator *out);
int16_t qapToTimestamp(QapCall &c, char *value, char *out);
int16_t qapToDouble(QapCall &c, char *value, double *out); // not a number: NULL, no error
int16_t qapToReal(QapCall &c, char *value, float *out);
int16_t qapToInteger(QapCall &c, char *value, int32_t *out);
int16_t qapToSmallint(QapCall &c, char *value, int16_t *out);

// The typed scalar members over a file or VARCHAR read their text into a 256-byte buffer: a
// value of 256 bytes or more is refused by the driver ("38X39", QAPC013E), as the CLOB members
// and the table members refuse one of 254 bytes or more, so no source converts a cut value.
constexpr int32_t kConversionBuffer = 256;
constexpr int32_t kTypedLimit = 254;

// A result kind: its output type, its size limits, whether values are tagged fragments, and
// the conversion that makes the output.
template <class O, int32_t Limit, int32_t ClobLimit, int Tagged,
          int16_t (*Make)(QapCall &, char *, O *)>
struct QapResultKind {
    using Out = O;
    static constexpr int32_t kLimit = Limit;         // scalar file and VARCHAR members
    static constexpr int32_t kClobLimit = ClobLimit; // scalar CLOB members and table members
    static constexpr int kTagged = Tagged;           // 1: the element with its tags
    static int16_t make(QapCall &c, char *value, Out *out) { return Make(c, value, out); }
};

template <tessel::SqlType> struct QapKind;
// clang-format off
//                                                      output          file, VARCHAR          CLOB and table   tagged  made by
template <> struct QapKind<tessel::SqlType::VARCHAR>   : QapResultKind<char,           4000,                  4000,            0, qapCopyValue> {};
template <> struct QapKind<tessel::SqlType::CHAR>      : QapResultKind<char,           254,                   254,             0, qapCopyValue> {};
template <> struct QapKind<tessel::SqlType::CLOB>      : QapResultKind<sqludf_locator, kLobLimit,         kLobLimit,   1, qapToLocator> {};
template <> struct QapKind<tessel::SqlType::DATE>      : QapResultKind<char,           11,                    11,              0, qapCopyValue> {};
template <> struct QapKind<tessel::SqlType::TIME>      : QapResultKind<char,           9,                     9,               0, qapCopyValue> {};
template <> struct QapKind<tessel::SqlType::TIMESTAMP> : QapResultKind<char,           27,                    27,              0, qapToTimestamp> {};
template <> struct QapKind<tessel::SqlType::DOUBLE>    : QapResultKind<double,         kConversionBuffer, kTypedLimit, 0, qapToDouble> {};
template <> struct QapKind<tessel::SqlType::REAL>      : QapResultKind<float,          kConversionBuffer, kTypedLimit, 0, qapToReal> {};
template <> struct QapKind<tessel::SqlType::INTEGER>   : QapResultKind<int32_t,        kConversionBuffer, kTypedLimit, 0, qapToInteger> {};
template <> struct QapKind<tessel::SqlType::SMALLINT>  : QapResultKind<int16_t,        kConversionBuffer, kTypedLimit, 0, qapToSmallint> {};
// clang-format on
