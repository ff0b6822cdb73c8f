/* The routine catalogue: one row per exported routine. Everything that lists routines is made
 * from it: the declarations in tessel.h, each family's members, the SQL engines' registrations,
 * the calling side's argument buffers and the tests' lists.
 *
 *   TESSEL_ROUTINE(name, family, kind, source, result, length, count, inputs)
 *
 *   name    the exported C name, which is also the SQL name
 *   family  the family source that defines it: src/routines/<family>.cpp. A row whose family
 *           has no source yet is declared but not built, exported or registered.
 *   kind    SCALAR or TABLE
 *   source  where the document comes from: FILE (a server file named by the first input),
 *           VARCHAR, CLOB, or NONE
 *   result  the SQL type of the output (the column of a table routine): VARCHAR, CHAR, CLOB,
 *           DATE, TIME, TIMESTAMP, DOUBLE, REAL, INTEGER, SMALLINT
 *   length  the declared length of a VARCHAR or CHAR result, else 0
 *   count   the number of SQL inputs, 0 to 3
 *   inputs  the inputs in order, one letter each: V text (VARCHAR), C a CLOB locator, and the
 *           texts that name a server file: R read, W written, B read and rewritten
 *
 * Adding a routine is one row; adding a family is one source in src/routines/ plus its rows. */
#ifndef TESSEL_CATALOG_H
#define TESSEL_CATALOG_H

/* clang-format off */
#define TESSEL_CATALOG(X) \
    /* Scalar extract routines: the single value at a location path. */ \
    X(qapExtractVarchar,               qapExtractScalar, SCALAR, FILE,    VARCHAR,   4000, 2, (R, V)) \
    X(qapExtractVarchar2,              qapExtractScalar, SCALAR, FILE,    VARCHAR,   4000, 3, (R, C, V)) \
    X(qapExtractChar,                  qapExtractScalar, SCALAR, FILE,    CHAR,      254,  2, (R, V)) \
    X(qapExtractClob,                  qapExtractScalar, SCALAR, FILE,    CLOB,      0,    2, (R, V)) \
    X(qapExtractClob2,                 qapExtractScalar, SCALAR, FILE,    CLOB,      0,    3, (R, C, V)) \
    X(qapExtractDate,                  qapExtractScalar, SCALAR, FILE,    DATE,      0,    2, (R, V)) \
    X(qapExtractTime,                  qapExtractScalar, SCALAR, FILE,    TIME,      0,    2, (R, V)) \
    X(qapExtractTimestamp,             qapExtractScalar, SCALAR, FILE,    TIMESTAMP, 0,    2, (R, V)) \
    X(qapExtractDouble,                qapExtractScalar, SCALAR, FILE,    DOUBLE,    0,    2, (R, V)) \
    X(qapExtractDouble2,               qapExtractScalar, SCALAR, FILE,    DOUBLE,    0,    3, (R, C, V)) \
    X(qapExtractReal,                  qapExtractScalar, SCALAR, FILE,    REAL,      0,    2, (R, V)) \
    X(qapExtractReal2,                 qapExtractScalar, SCALAR, FILE,    REAL,      0,    3, (R, C, V)) \
    X(qapExtractInteger,               qapExtractScalar, SCALAR, FILE,    INTEGER,   0,    2, (R, V)) \
    X(qapExtractSmallint,              qapExtractScalar, SCALAR, FILE,    SMALLINT,  0,    2, (R, V)) \
    X(qapExtractVarcharFromVarchar,    qapExtractScalar, SCALAR, VARCHAR, VARCHAR,   4000, 2, (V, V)) \
    X(qapExtractVarcharFromVarchar2,   qapExtractScalar, SCALAR, VARCHAR, VARCHAR,   4000, 3, (V, C, V)) \
    X(qapExtractCharFromVarchar,       qapExtractScalar, SCALAR, VARCHAR, CHAR,      254,  2, (V, V)) \
    X(qapExtractClobFromVarchar,       qapExtractScalar, SCALAR, VARCHAR, CLOB,      0,    2, (V, V)) \
    X(qapExtractClobFromVarchar2,      qapExtractScalar, SCALAR, VARCHAR, CLOB,      0,    3, (V, C, V)) \
    X(qapExtractDateFromVarchar,       qapExtractScalar, SCALAR, VARCHAR, DATE,      0,    2, (V, V)) \
    X(qapExtractTimeFromVarchar,       qapExtractScalar, SCALAR, VARCHAR, TIME,      0,    2, (V, V)) \
    X(qapExtractTimestampFromVarchar,  qapExtractScalar, SCALAR, VARCHAR, TIMESTAMP, 0,    2, (V, V)) \
    X(qapExtractDoubleFromVarchar,     qapExtractScalar, SCALAR, VARCHAR, DOUBLE,    0,    2, (V, V)) \
    X(qapExtractDoubleFromVarchar2,    qapExtractScalar, SCALAR, VARCHAR, DOUBLE,    0,    3, (V, C, V)) \
    X(qapExtractRealFromVarchar,       qapExtractScalar, SCALAR, VARCHAR, REAL,      0,    2, (V, V)) \
    X(qapExtractRealFromVarchar2,      qapExtractScalar, SCALAR, VARCHAR, REAL,      0,    3, (V, C, V)) \
    X(qapExtractIntegerFromVarchar,    qapExtractScalar, SCALAR, VARCHAR, INTEGER,   0,    2, (V, V)) \
    X(qapExtractSmallintFromVarchar,   qapExtractScalar, SCALAR, VARCHAR, SMALLINT,  0,    2, (V, V)) \
    X(qapExtractVarcharFromClob,       qapExtractScalar, SCALAR, CLOB,    VARCHAR,   4000, 2, (C, V)) \
    X(qapExtractVarcharFromClob2,      qapExtractScalar, SCALAR, CLOB,    VARCHAR,   4000, 3, (C, C, V)) \
    X(qapExtractCharFromClob,          qapExtractScalar, SCALAR, CLOB,    CHAR,      254,  2, (C, V)) \
    X(qapExtractClobFromClob,          qapExtractScalar, SCALAR, CLOB,    CLOB,      0,    2, (C, V)) \
    X(qapExtractClobFromClob2,         qapExtractScalar, SCALAR, CLOB,    CLOB,      0,    3, (C, C, V)) \
    X(qapExtractDateFromClob,          qapExtractScalar, SCALAR, CLOB,    DATE,      0,    2, (C, V)) \
    X(qapExtractTimeFromClob,          qapExtractScalar, SCALAR, CLOB,    TIME,      0,    2, (C, V)) \
    X(qapExtractTimestampFromClob,     qapExtractScalar, SCALAR, CLOB,    TIMESTAMP, 0,    2, (C, V)) \
    X(qapExtractDoubleFromClob,        qapExtractScalar, SCALAR, CLOB,    DOUBLE,    0,    2, (C, V)) \
    X(qapExtractDoubleFromClob2,       qapExtractScalar, SCALAR, CLOB,    DOUBLE,    0,    3, (C, C, V)) \
    X(qapExtractRealFromClob,          qapExtractScalar, SCALAR, CLOB,    REAL,      0,    2, (C, V)) \
    X(qapExtractRealFromClob2,         qapExtractScalar, SCALAR, CLOB,    REAL,      0,    3, (C, C, V)) \
    X(qapExtractIntegerFromClob,       qapExtractScalar, SCALAR, CLOB,    INTEGER,   0,    2, (C, V)) \
    X(qapExtractSmallintFromClob,      qapExtractScalar, SCALAR, CLOB,    SMALLINT,  0,    2, (C, V)) \
    /* Table extract routines: every value at a location path, one row each. */ \
    X(qapExtractVarchars,              qapExtractTable,  TABLE,  FILE,    VARCHAR,   4000, 2, (R, V)) \
    X(qapExtractVarchars2,             qapExtractTable,  TABLE,  FILE,    VARCHAR,   4000, 3, (R, C, V)) \
    X(qapExtractChars,                 qapExtractTable,  TABLE,  FILE,    CHAR,      254,  2, (R, V)) \
    X(qapExtractClobs,                 qapExtractTable,  TABLE,  FILE,    CLOB,      0,    2, (R, V)) \
    X(qapExtractClobs2,                qapExtractTable,  TABLE,  FILE,    CLOB,      0,    3, (R, C, V)) \
    X(qapExtractDates,                 qapExtractTable,  TABLE,  FILE,    DATE,      0,    2, (R, V)) \
    X(qapExtractTimes,                 qapExtractTable,  TABLE,  FILE,    TIME,      0,    2, (R, V)) \
    X(qapExtractTimestamps,            qapExtractTable,  TABLE,  FILE,    TIMESTAMP, 0,    2, (R, V)) \
    X(qapExtractDoubles,               qapExtractTable,  TABLE,  FILE,    DOUBLE,    0,    2, (R, V)) \
    X(qapExtractDoubles2,              qapExtractTable,  TABLE,  FILE,    DOUBLE,    0,    3, (R, C, V)) \
    X(qapExtractReals,                 qapExtractTable,  TABLE,  FILE,    REAL,      0,    2, (R, V)) \
    X(qapExtractReals2,                qapExtractTable,  TABLE,  FILE,    REAL,      0,    3, (R, C, V)) \
    X(qapExtractIntegers,              qapExtractTable,  TABLE,  FILE,    INTEGER,   0,    2, (R, V)) \
    X(qapExtractSmallints,             qapExtractTable,  TABLE,  FILE,    SMALLINT,  0,    2, (R, V)) \
    X(qapExtractVarcharsFromVarchar,   qapExtractTable,  TABLE,  VARCHAR, VARCHAR,   4000, 2, (V, V)) \
    X(qapExtractVarcharsFromVarchar2,  qapExtractTable,  TABLE,  VARCHAR, VARCHAR,   4000, 3, (V, C, V)) \
    X(qapExtractCharsFromVarchar,      qapExtractTable,  TABLE,  VARCHAR, CHAR,      254,  2, (V, V)) \
    X(qapExtractClobsFromVarchar,      qapExtractTable,  TABLE,  VARCHAR, CLOB,      0,    2, (V, V)) \
    X(qapExtractClobsFromVarchar2,     qapExtractTable,  TABLE,  VARCHAR, CLOB,      0,    3, (V, C, V)) \
    X(qapExtractDatesFromVarchar,      qapExtractTable,  TABLE,  VARCHAR, DATE,      0,    2, (V, V)) \
    X(qapExtractTimesFromVarchar,      qapExtractTable,  TABLE,  VARCHAR, TIME,      0,    2, (V, V)) \
    X(qapExtractTimestampsFromVarchar, qapExtractTable,  TABLE,  VARCHAR, TIMESTAMP, 0,    2, (V, V)) \
    X(qapExtractDoublesFromVarchar,    qapExtractTable,  TABLE,  VARCHAR, DOUBLE,    0,    2, (V, V)) \
    X(qapExtractDoublesFromVarchar2,   qapExtractTable,  TABLE,  VARCHAR, DOUBLE,    0,    3, (V, C, V)) \
    X(qapExtractRealsFromVarchar,      qapExtractTable,  TABLE,  VARCHAR, REAL,      0,    2, (V, V)) \
    X(qapExtractRealsFromVarchar2,     qapExtractTable,  TABLE,  VARCHAR, REAL,      0,    3, (V, C, V)) \
    X(qapExtractIntegersFromVarchar,   qapExtractTable,  TABLE,  VARCHAR, INTEGER,   0,    2, (V, V)) \
    X(qapExtractSmallintsFromVarchar,  qapExtractTable,  TABLE,  VARCHAR, SMALLINT,  0,    2, (V, V)) \
    X(qapExtractVarcharsFromClob,      qapExtractTable,  TABLE,  CLOB,    VARCHAR,   4000, 2, (C, V)) \
    X(qapExtractVarcharsFromClob2,     qapExtractTable,  TABLE,  CLOB,    VARCHAR,   4000, 3, (C, C, V)) \
    X(qapExtractCharsFromClob,         qapExtractTable,  TABLE,  CLOB,    CHAR,      254,  2, (C, V)) \
    X(qapExtractClobsFromClob,         qapExtractTable,  TABLE,  CLOB,    CLOB,      0,    2, (C, V)) \
    X(qapExtractClobsFromClob2,        qapExtractTable,  TABLE,  CLOB,    CLOB,      0,    3, (C, C, V)) \
    X(qapExtractDatesFromClob,         qapExtractTable,  TABLE,  CLOB,    DATE,      0,    2, (C, V)) \
    X(qapExtractTimesFromClob,         qapExtractTable,  TABLE,  CLOB,    TIME,      0,    2, (C, V)) \
    X(qapExtractTimestampsFromClob,    qapExtractTable,  TABLE,  CLOB,    TIMESTAMP, 0,    2, (C, V)) \
    X(qapExtractDoublesFromClob,       qapExtractTable,  TABLE,  CLOB,    DOUBLE,    0,    2, (C, V)) \
    X(qapExtractDoublesFromClob2,      qapExtractTable,  TABLE,  CLOB,    DOUBLE,    0,    3, (C, C, V)) \
    X(qapExtractRealsFromClob,         qapExtractTable,  TABLE,  CLOB,    REAL,      0,    2, (C, V)) \
    X(qapExtractRealsFromClob2,        qapExtractTable,  TABLE,  CLOB,    REAL,      0,    3, (C, C, V)) \
    X(qapExtractIntegersFromClob,      qapExtractTable,  TABLE,  CLOB,    INTEGER,   0,    2, (C, V)) \
    X(qapExtractSmallintsFromClob,     qapExtractTable,  TABLE,  CLOB,    SMALLINT,  0,    2, (C, V)) \
    /* Update routines: the document with the values at a path replaced. */ \
    X(qapUpdateXMLVarchar,             qapUpdateXML,     SCALAR, VARCHAR, VARCHAR,   32672, 3, (V, V, V)) \
    X(qapUpdateXMLClob,                qapUpdateXML,     SCALAR, CLOB,    CLOB,      0,    3, (C, V, V)) \
    X(qapUpdateXMLFile,                qapUpdateXML,     SCALAR, FILE,    VARCHAR,   1024, 3, (B, V, V)) \
    /* Validate routines: document, DTD file name (empty for none) or DTD text, DTD id. */ \
    X(qapValidateFile,                 qapValidateXML,   SCALAR, FILE,    INTEGER,   0,    3, (R, R, V)) \
    X(qapValidateFile2,                qapValidateXML,   SCALAR, FILE,    INTEGER,   0,    3, (R, C, V)) \
    X(qapValidateVarchar,              qapValidateXML,   SCALAR, VARCHAR, INTEGER,   0,    3, (V, R, V)) \
    X(qapValidateVarchar2,             qapValidateXML,   SCALAR, VARCHAR, INTEGER,   0,    3, (V, C, V)) \
    X(qapValidateClob,                 qapValidateXML,   SCALAR, CLOB,    INTEGER,   0,    3, (C, R, V)) \
    X(qapValidateClob2,                qapValidateXML,   SCALAR, CLOB,    INTEGER,   0,    3, (C, C, V)) \
    /* Storage routines: documents between server files, VARCHAR and CLOB; sequence numbers. */ \
    X(qapFile,                         qapStorage,       SCALAR, CLOB,    VARCHAR,   1024, 2, (C, W)) \
    X(qapXMLFileFromClob2,             qapStorage,       SCALAR, CLOB,    VARCHAR,   1024, 3, (C, W, V)) \
    X(qapCLOB,                         qapStorage,       SCALAR, FILE,    CLOB,      0,    1, (R)) \
    X(qapXMLCLOBFromFile2,             qapStorage,       SCALAR, FILE,    CLOB,      0,    2, (R, V)) \
    X(qapVarChar,                      qapStorage,       SCALAR, FILE,    VARCHAR,   32672, 1, (R)) \
    X(qapXMLVarcharFromFile2,          qapStorage,       SCALAR, FILE,    VARCHAR,   32672, 2, (R, V)) \
    X(qapContent_varchar2file,         qapStorage,       SCALAR, VARCHAR, VARCHAR,   1024, 2, (V, W)) \
    X(qapXMLFileFromVarchar2,          qapStorage,       SCALAR, VARCHAR, VARCHAR,   1024, 3, (V, W, V)) \
    X(qapSeqno,                        qapStorage,       SCALAR, NONE,    INTEGER,   0,    0, ())
/* clang-format on */

/* ---- C types of the arguments ------------------------------------------------------------ */

#define TESSEL_CTYPE_V const char *
#define TESSEL_CTYPE_R const char *
#define TESSEL_CTYPE_W const char *
#define TESSEL_CTYPE_B const char *
#define TESSEL_CTYPE_C sqludf_locator *

#define TESSEL_OUT_VARCHAR char *
#define TESSEL_OUT_CHAR char *
#define TESSEL_OUT_CLOB sqludf_locator *
#define TESSEL_OUT_DATE char *
#define TESSEL_OUT_TIME char *
#define TESSEL_OUT_TIMESTAMP char *
#define TESSEL_OUT_DOUBLE double *
#define TESSEL_OUT_REAL float *
#define TESSEL_OUT_INTEGER int32_t *
#define TESSEL_OUT_SMALLINT int16_t *

/* What follows the input null indicators in every routine. */
#define TESSEL_ARGS_TAIL                                                                           \
    int16_t *outInd, char *sqlstate, char *fnName, char *specificName, char *msgtext,              \
        struct sqludf_scratchpad *scratchpad, int32_t *callType, void *dbinfo

/* The parameter list of a routine with count inputs of the given letters and output type OUT:
 * inputs in1.., the output out, indicators ind1.., then the tail. */
#define TESSEL_APPLY(macro, args) macro args
#define TESSEL_PARAMS(OUT, count, inputs)                                                          \
    TESSEL_APPLY(TESSEL_PARAMS_##count, (OUT, TESSEL_APPLY(TESSEL_TYPES_##count, inputs)))
#define TESSEL_TYPES_0()
#define TESSEL_TYPES_1(a) TESSEL_CTYPE_##a
#define TESSEL_TYPES_2(a, b) TESSEL_CTYPE_##a, TESSEL_CTYPE_##b
#define TESSEL_TYPES_3(a, b, c) TESSEL_CTYPE_##a, TESSEL_CTYPE_##b, TESSEL_CTYPE_##c
#define TESSEL_PARAMS_0(OUT, ...) OUT out, TESSEL_ARGS_TAIL
#define TESSEL_PARAMS_1(OUT, A) A in1, OUT out, int16_t *ind1, TESSEL_ARGS_TAIL
#define TESSEL_PARAMS_2(OUT, A, B)                                                                 \
    A in1, B in2, OUT out, int16_t *ind1, int16_t *ind2, TESSEL_ARGS_TAIL
#define TESSEL_PARAMS_3(OUT, A, B, C)                                                              \
    A in1, B in2, C in3, OUT out, int16_t *ind1, int16_t *ind2, int16_t *ind3, TESSEL_ARGS_TAIL

/* The inputs and their indicators by name, for a member's body. */
#define TESSEL_INPUTS_0
#define TESSEL_INPUTS_1 in1
#define TESSEL_INPUTS_2 in1, in2
#define TESSEL_INPUTS_3 in1, in2, in3
#define TESSEL_INDS_0
#define TESSEL_INDS_1 ind1
#define TESSEL_INDS_2 ind1, ind2
#define TESSEL_INDS_3 ind1, ind2, ind3

/* A routine's declaration. */
#define TESSEL_DECLARE(name, family, kind, source, result, length, count, inputs)                  \
    TESSEL_API void name(TESSEL_PARAMS(TESSEL_OUT_##result, count, inputs));

#ifdef __cplusplus
#include "tesselFamilies.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessel {

enum class Kind { SCALAR, TABLE };
enum class Source { FILE, VARCHAR, CLOB, NONE };
enum class SqlType { VARCHAR, CHAR, CLOB, DATE, TIME, TIMESTAMP, DOUBLE, REAL, INTEGER, SMALLINT };
// An input: text, a CLOB locator, or a text naming a server file that is read, written, or
// read and rewritten.
enum class Input : char { V = 'V', C = 'C', R = 'R', W = 'W', B = 'B' };
// Where a host may run a routine: in parallel workers too, only in the leader, or only where
// the statement runs.
enum class Parallel { SAFE, RESTRICTED, UNSAFE };

// One catalogue row.
struct RoutineInfo {
    const char *name;
    const char *family;
    Kind kind;
    Source source;
    SqlType result;
    int32_t length; // declared length of a VARCHAR or CHAR result
    int count;      // number of SQL inputs
    Input inputs[3];
    bool built; // the family has a source in this build

    constexpr bool isTable() const { return kind == Kind::TABLE; }
    constexpr bool clobInput(int i) const { return inputs[i] == Input::C; }
    constexpr bool readsFile(int i) const { return inputs[i] == Input::R || inputs[i] == Input::B; }
    constexpr bool writesFile(int i) const {
        return inputs[i] == Input::W || inputs[i] == Input::B;
    }
    constexpr bool namesFile(int i) const { return readsFile(i) || writesFile(i); }
    constexpr bool hasFileInput() const {
        for (int i = 0; i < count; ++i)
            if (namesFile(i)) return true;
        return false;
    }
    constexpr bool writesAnyFile() const {
        for (int i = 0; i < count; ++i)
            if (writesFile(i)) return true;
        return false;
    }
    // The result depends on the arguments alone: no server file and a document in the call.
    // The one rule both engines follow: PostgreSQL declares these IMMUTABLE, SQLite
    // DETERMINISTIC and INNOCUOUS (indexes, generated columns, CHECK constraints); the others
    // VOLATILE and plain, and SQLite keeps those that name server files to top-level SQL.
    constexpr bool pure() const { return !hasFileInput() && source != Source::NONE; }
    // Pure routines and those that only read server files may run in parallel workers (a
    // reader sees the same files and the same allowed-files settings there); routines that
    // write files, and the sequence counter, stay where the statement runs.
    constexpr Parallel parallel() const {
        return pure() || (hasFileInput() && !writesAnyFile()) ? Parallel::SAFE : Parallel::UNSAFE;
    }
};

// Bytes of the output buffer the host hands a routine of this result type.
constexpr size_t outputSize(SqlType type, int32_t length) {
    switch (type) {
    case SqlType::VARCHAR:
    case SqlType::CHAR:
        return static_cast<size_t>(length) + 1;
    case SqlType::CLOB:
        return sizeof(uint32_t);
    case SqlType::DATE:
        return 11;
    case SqlType::TIME:
        return 9;
    case SqlType::TIMESTAMP:
        return 27;
    case SqlType::DOUBLE:
        return sizeof(double);
    case SqlType::REAL:
        return sizeof(float);
    case SqlType::INTEGER:
        return sizeof(int32_t);
    case SqlType::SMALLINT:
        return sizeof(int16_t);
    }
    return 0;
}

// The SQL name of a type.
constexpr const char *sqlTypeName(SqlType type) {
    constexpr const char *names[] = {"VARCHAR",   "CHAR",   "CLOB", "DATE",    "TIME",
                                     "TIMESTAMP", "DOUBLE", "REAL", "INTEGER", "SMALLINT"};
    return names[static_cast<int>(type)];
}

// True when the family's source is part of this build (TESSEL_FAMILIES lists them).
constexpr bool familyBuilt(const char *family) {
    const char *list = TESSEL_FAMILIES;
    for (size_t i = 0; list[i] != '\0';) {
        size_t n = 0;
        while (family[n] != '\0' && list[i + n] == family[n])
            ++n;
        if (family[n] == '\0' && (list[i + n] == ' ' || list[i + n] == '\0')) return true;
        while (list[i] != '\0' && list[i] != ' ')
            ++i;
        while (list[i] == ' ')
            ++i;
    }
    return false;
}

#define TESSEL_INPUT_LIST_0()
#define TESSEL_INPUT_LIST_1(a) Input::a
#define TESSEL_INPUT_LIST_2(a, b) Input::a, Input::b
#define TESSEL_INPUT_LIST_3(a, b, c) Input::a, Input::b, Input::c
#define TESSEL_ROW(name, family, kind, source, result, length, count, inputs)                      \
    RoutineInfo{#name,                                                                             \
                #family,                                                                           \
                Kind::kind,                                                                        \
                Source::source,                                                                    \
                SqlType::result,                                                                   \
                length,                                                                            \
                count,                                                                             \
                {TESSEL_APPLY(TESSEL_INPUT_LIST_##count, inputs)},                                 \
                familyBuilt(#family)},

// Every routine, in catalogue order.
inline constexpr RoutineInfo kCatalog[] = {TESSEL_CATALOG(TESSEL_ROW)};
inline constexpr size_t kCatalogSize = sizeof kCatalog / sizeof kCatalog[0];

#define TESSEL_ID(name, ...) name,
// A routine's row number in the catalogue, by its name: catalog[size_t(RoutineId::name)].
enum class RoutineId : size_t { TESSEL_CATALOG(TESSEL_ID) };
#undef TESSEL_ID

constexpr const RoutineInfo &routine(RoutineId id) {
    return kCatalog[static_cast<size_t>(id)];
}

// The row of a routine by name, or null.
inline const RoutineInfo *findRoutine(const char *name) {
    for (const RoutineInfo &r : kCatalog)
        if (strcmp(r.name, name) == 0) return &r;
    return nullptr;
}

} // namespace tessel
#endif

#endif
