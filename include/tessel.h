/* Tessel's exported routines, as the host engine calls them.
 *
 * Calling convention: the host passes every argument by address and the routine returns
 * nothing. After the SQL inputs come the output, one null indicator per input, the output's
 * null indicator (0 a value, -1 NULL), the SQLSTATE (five characters and a NUL), the function
 * name and specific name (not read), the message text (70 characters and a NUL), the
 * statement's scratchpad, the call type (-1 first, 0 normal, 1 final for scalar routines) and
 * the database-information record (the code page is the 32-bit word at byte 268). VARCHAR and
 * CHAR values are NUL-terminated text in the database code page; a CLOB is the address of a
 * LOB locator. Outputs: VARCHAR 4000+1 bytes, CHAR 254+1, DATE 11, TIME 9, TIMESTAMP 27, a
 * locator for CLOB, double, float, int32_t, int16_t.
 *
 * The argument lists are written once per shape below; every routine is one line naming its
 * shape and output type. */
#ifndef TESSEL_H
#define TESSEL_H

#include "tarn.h"

#include <stdint.h>

#define TESSEL_API __attribute__((visibility("default")))

/* What follows the input null indicators in every routine. */
#define TESSEL_ARGS_TAIL                                                                           \
    int16_t *outInd, char *sqlstate, char *fnName, char *specificName, char *msgtext,              \
        struct sqludf_scratchpad *scratchpad, int32_t *callType, void *dbinfo

/* Document (server file name or VARCHAR text) and location path. */
#define TESSEL_ARGS_DOC(OUT)                                                                       \
    const char *doc, const char *path, OUT out, int16_t *docInd, int16_t *pathInd, TESSEL_ARGS_TAIL
/* Document, DTD (CLOB locator) and location path. */
#define TESSEL_ARGS_DOC_DTD(OUT)                                                                   \
    const char *doc, sqludf_locator *dtd, const char *path, OUT out, int16_t *docInd,              \
        int16_t *dtdInd, int16_t *pathInd, TESSEL_ARGS_TAIL
/* CLOB document and location path. */
#define TESSEL_ARGS_CLOB(OUT)                                                                      \
    sqludf_locator *clob, const char *path, OUT out, int16_t *docInd, int16_t *pathInd,            \
        TESSEL_ARGS_TAIL
/* CLOB document, DTD and location path. */
#define TESSEL_ARGS_CLOB_DTD(OUT)                                                                  \
    sqludf_locator *clob, sqludf_locator *dtd, const char *path, OUT out, int16_t *docInd,         \
        int16_t *dtdInd, int16_t *pathInd, TESSEL_ARGS_TAIL

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Scalar extract routines: the single value at a path, as an SQL type ----------------- */

/* Document in a server file. */
TESSEL_API void qapExtractVarchar(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractVarchar2(TESSEL_ARGS_DOC_DTD(char *));
TESSEL_API void qapExtractChar(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractClob(TESSEL_ARGS_DOC(sqludf_locator *));
TESSEL_API void qapExtractClob2(TESSEL_ARGS_DOC_DTD(sqludf_locator *));
TESSEL_API void qapExtractDate(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractTime(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractTimestamp(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractDouble(TESSEL_ARGS_DOC(double *));
TESSEL_API void qapExtractDouble2(TESSEL_ARGS_DOC_DTD(double *));
TESSEL_API void qapExtractReal(TESSEL_ARGS_DOC(float *));
TESSEL_API void qapExtractReal2(TESSEL_ARGS_DOC_DTD(float *));
TESSEL_API void qapExtractInteger(TESSEL_ARGS_DOC(int32_t *));
TESSEL_API void qapExtractSmallint(TESSEL_ARGS_DOC(int16_t *));

/* Document in a VARCHAR value. */
TESSEL_API void qapExtractVarcharFromVarchar(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractVarcharFromVarchar2(TESSEL_ARGS_DOC_DTD(char *));
TESSEL_API void qapExtractCharFromVarchar(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractClobFromVarchar(TESSEL_ARGS_DOC(sqludf_locator *));
TESSEL_API void qapExtractClobFromVarchar2(TESSEL_ARGS_DOC_DTD(sqludf_locator *));
TESSEL_API void qapExtractDateFromVarchar(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractTimeFromVarchar(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractTimestampFromVarchar(TESSEL_ARGS_DOC(char *));
TESSEL_API void qapExtractDoubleFromVarchar(TESSEL_ARGS_DOC(double *));
TESSEL_API void qapExtractDoubleFromVarchar2(TESSEL_ARGS_DOC_DTD(double *));
TESSEL_API void qapExtractRealFromVarchar(TESSEL_ARGS_DOC(float *));
TESSEL_API void qapExtractRealFromVarchar2(TESSEL_ARGS_DOC_DTD(float *));
TESSEL_API void qapExtractIntegerFromVarchar(TESSEL_ARGS_DOC(int32_t *));
TESSEL_API void qapExtractSmallintFromVarchar(TESSEL_ARGS_DOC(int16_t *));

/* Document in a CLOB value. */
TESSEL_API void qapExtractVarcharFromClob(TESSEL_ARGS_CLOB(char *));
TESSEL_API void qapExtractVarcharFromClob2(TESSEL_ARGS_CLOB_DTD(char *));
TESSEL_API void qapExtractCharFromClob(TESSEL_ARGS_CLOB(char *));
TESSEL_API void qapExtractClobFromClob(TESSEL_ARGS_CLOB(sqludf_locator *));
TESSEL_API void qapExtractClobFromClob2(TESSEL_ARGS_CLOB_DTD(sqludf_locator *));
TESSEL_API void qapExtractDateFromClob(TESSEL_ARGS_CLOB(char *));
TESSEL_API void qapExtractTimeFromClob(TESSEL_ARGS_CLOB(char *));
TESSEL_API void qapExtractTimestampFromClob(TESSEL_ARGS_CLOB(char *));
TESSEL_API void qapExtractDoubleFromClob(TESSEL_ARGS_CLOB(double *));
TESSEL_API void qapExtractDoubleFromClob2(TESSEL_ARGS_CLOB_DTD(double *));
TESSEL_API void qapExtractRealFromClob(TESSEL_ARGS_CLOB(float *));
TESSEL_API void qapExtractRealFromClob2(TESSEL_ARGS_CLOB_DTD(float *));
TESSEL_API void qapExtractIntegerFromClob(TESSEL_ARGS_CLOB(int32_t *));
TESSEL_API void qapExtractSmallintFromClob(TESSEL_ARGS_CLOB(int16_t *));

#ifdef __cplusplus
}
#endif

#endif
