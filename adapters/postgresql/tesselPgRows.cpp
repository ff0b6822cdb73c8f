// The PostgreSQL extension's row scan: set-returning functions whose columns come from the
// query's column definition list,
//   SELECT t.* FROM orders o, tessel_rows(o.doc, '/po/items/item', '@partNum', 'quantity')
//     AS t(sku text, qty int);
// over a document (tessel_rows), a server file (tessel_rows_file) or the files of a folder
// that match a glob (tessel_rows_folder). A form with two arrays, paths and options, takes the
// options 'several error', 'bad null' and 'xmlns[:prefix]=uri'. tessel_rows_as takes its
// columns from a composite type instead, named by a model value (NULL::item_t), so that it also
// serves in the select list:
//   SELECT (tessel_rows_as(NULL::item_t, doc, '/po/items/item', '@partNum', 'quantity')).*
//
// The result is materialized from the library's batches: PostgreSQL reads a function in FROM
// to its end into a tuplestore whatever its mode, so one call per row would only add calls;
// the select list takes a materialized set as well.
// The scan is closed when the call ends, by error or cancel too (PG_FINALLY). Only trivially
// destructible locals: PostgreSQL's errors jump out of these functions.
#include "tessel.h"

#include <cstring>

extern "C" {
#include "postgres.h"

#include "catalog/pg_type_d.h"
#include "fmgr.h"
#include "funcapi.h"
#include "mb/pg_wchar.h"
#include "miscadmin.h"
#include "utils/array.h"
#include "utils/builtins.h"
#include "utils/lsyscache.h"
#include "utils/tuplestore.h"
}

#include "tesselPgRows.h" // after postgres.h

#pragma GCC visibility push(default)
extern "C" {
PG_FUNCTION_INFO_V1(tessel_rows_pg);
PG_FUNCTION_INFO_V1(tessel_rows_file_pg);
PG_FUNCTION_INFO_V1(tessel_rows_folder_pg);
PG_FUNCTION_INFO_V1(tessel_rows_as_pg);
}
#pragma GCC visibility pop

namespace {

constexpr int kBatch = 64;

enum class Source { TEXT, FILE, FOLDER, TYPED }; // TYPED: a document, columns from a model

// A column of the definition list: its kind in the scan and how its value becomes a Datum.
struct RowsColumn {
    int kind;
    Oid type; // the base type, for a domain
    int32 typmod;
    bool viaInput; // varchar(n) and char(n): the type's input function checks the length
    FmgrInfo input;
    Oid ioParam;
};

int kindOfType(Oid type) {
    switch (type) {
    case TEXTOID:
    case VARCHAROID:
    case BPCHAROID:
        return TESSEL_ROWS_TEXT;
    case INT2OID:
        return TESSEL_ROWS_SMALLINT;
    case INT4OID:
        return TESSEL_ROWS_INTEGER;
    case INT8OID:
        return TESSEL_ROWS_BIGINT;
    case FLOAT4OID:
        return TESSEL_ROWS_REAL;
    case FLOAT8OID:
    case NUMERICOID: // from the double: 15 significant digits
        return TESSEL_ROWS_DOUBLE;
    case DATEOID:
        return TESSEL_ROWS_DATE;
    case TIMEOID:
        return TESSEL_ROWS_TIME;
    case TIMESTAMPOID:
        return TESSEL_ROWS_TIMESTAMP;
    case XMLOID:
        return TESSEL_ROWS_FRAGMENT;
    default:
        return -1;
    }
}

const char *functionName(Source source) {
    return source == Source::TEXT     ? "tessel_rows"
           : source == Source::FILE   ? "tessel_rows_file"
           : source == Source::FOLDER ? "tessel_rows_folder"
                                      : "tessel_rows_as";
}

// The elements of a one-dimensional text array; a NULL element is an error naming what.
int textElements(ArrayType *array, const char *what, Datum **elements) {
    if (ARR_NDIM(array) > 1)
        ereport(ERROR, (errcode(ERRCODE_ARRAY_SUBSCRIPT_ERROR),
                        errmsg("the %s must be a one-dimensional array", what)));
    bool *nulls = nullptr;
    int count = 0;
    deconstruct_array(array, TEXTOID, -1, false, TYPALIGN_INT, elements, &nulls, &count);
    for (int i = 0; i < count; ++i)
        if (nulls[i])
            ereport(ERROR,
                    (errcode(ERRCODE_NULL_VALUE_NOT_ALLOWED), errmsg("the %s hold a NULL", what)));
    return count;
}

// Reads the options into the scan: 'several error', 'bad null', 'xmlns:prefix=uri' and
// 'xmlns=uri' (the default namespace). Returns the number of namespace bindings.
int readOptions(ArrayType *array, TesselRowsRequest &request) {
    Datum *elements = nullptr;
    const int count = textElements(array, "options", &elements);
    auto **bindings = static_cast<const char **>(palloc0(sizeof(char *) * (count + 1)));
    int bound = 0;
    for (int i = 0; i < count; ++i) {
        char *option = TextDatumGetCString(elements[i]);
        if (pg_strcasecmp(option, "several error") == 0)
            request.flags |= TESSEL_ROWS_SEVERAL_FAIL;
        else if (pg_strcasecmp(option, "bad null") == 0)
            request.flags |= TESSEL_ROWS_BAD_NULL;
        else if (pg_strncasecmp(option, "xmlns=", 6) == 0)
            bindings[bound++] = option + 5;
        else if (pg_strncasecmp(option, "xmlns:", 6) == 0 && strchr(option, '=') != nullptr)
            bindings[bound++] = option + 6;
        else
            ereport(ERROR,
                    (errcode(ERRCODE_INVALID_PARAMETER_VALUE),
                     errmsg("unknown row scan option \"%s\"", option),
                     errhint("The options are 'several error', 'bad null', 'xmlns:prefix=uri' "
                             "and 'xmlns=uri'.")));
    }
    request.namespaces = bindings;
    request.namespaceCount = bound;
    return bound;
}

// The columns of the definition list, checked against the paths.
RowsColumn *readColumns(TupleDesc desc, int pathCount, Source source) {
    if (desc->natts != pathCount)
        ereport(ERROR, (errcode(ERRCODE_DATATYPE_MISMATCH),
                        errmsg("%s has %d column paths for %d columns", functionName(source),
                               pathCount, desc->natts),
                        errhint("Give one path for each column of the definition list.")));
    auto *columns = static_cast<RowsColumn *>(palloc0(sizeof(RowsColumn) * (desc->natts + 1)));
    for (int i = 0; i < desc->natts; ++i) {
        const Form_pg_attribute attr = TupleDescAttr(desc, i);
        RowsColumn &c = columns[i];
        c.typmod = attr->atttypmod;
        c.type = getBaseTypeAndTypmod(attr->atttypid, &c.typmod);
        c.kind = kindOfType(c.type);
        if (c.kind < 0)
            ereport(ERROR, (errcode(ERRCODE_FEATURE_NOT_SUPPORTED),
                            errmsg("column \"%s\" of %s has type %s, which a row scan cannot give",
                                   NameStr(attr->attname), functionName(source),
                                   format_type_be(attr->atttypid)),
                            errhint("Declare it text, varchar, char, int2, int4, int8, float4, "
                                    "float8, numeric, date, time, timestamp or xml.")));
        c.viaInput = (c.type == VARCHAROID || c.type == BPCHAROID) && c.typmod >= 0;
        if (c.viaInput) {
            Oid inputFunction = InvalidOid;
            getTypeInputInfo(c.type, &inputFunction, &c.ioParam);
            fmgr_info(inputFunction, &c.input);
        }
    }
    return columns;
}

// Reports the library's failure: its SQLSTATE and message. A cancel of the statement is
// PostgreSQL's own error.
void raise(const char *state, const char *message) {
    CHECK_FOR_INTERRUPTS();
    const int code = MAKE_SQLSTATE(state[0], state[1], state[2], state[3], state[4]);
    if (message[0] == '\0' || !pg_verifymbstr(message, static_cast<int>(strlen(message)), true))
        ereport(ERROR,
                (errcode(code), errmsg_internal("the row scan ended with SQLSTATE %s", state)));
    ereport(ERROR, (errcode(code), errmsg_internal("%s", message)));
}

// A DATE, TIME or TIMESTAMP value; false when PostgreSQL has no such value.
bool datetimeValue(int kind, const TesselValue &v, Datum *out) {
    const tessel::SqlType type = kind == TESSEL_ROWS_DATE   ? tessel::SqlType::DATE
                                 : kind == TESSEL_ROWS_TIME ? tessel::SqlType::TIME
                                                            : tessel::SqlType::TIMESTAMP;
    return tesselpg::datetimeOf(type, v.text, v.length, out);
}

// One value as the column's Datum; *isNull for NULL. A date or time that PostgreSQL refuses
// is NULL with 'bad null', an error naming the row and column otherwise.
Datum datumOf(const RowsColumn &c, const TesselValue &v, const char *name, uint64 row, bool badNull,
              bool *isNull) {
    *isNull = v.isNull != 0;
    if (*isNull) return Datum(0);
    switch (c.kind) {
    case TESSEL_ROWS_SMALLINT:
        return Int16GetDatum(static_cast<int16>(v.integer));
    case TESSEL_ROWS_INTEGER:
        return Int32GetDatum(static_cast<int32>(v.integer));
    case TESSEL_ROWS_BIGINT:
        return Int64GetDatum(v.integer);
    case TESSEL_ROWS_REAL:
        return Float4GetDatum(static_cast<float4>(v.real));
    case TESSEL_ROWS_DOUBLE: {
        if (c.type == FLOAT8OID) return Float8GetDatum(v.real);
        Datum value = DirectFunctionCall1(float8_numeric, Float8GetDatum(v.real));
        if (c.typmod >= 0) value = DirectFunctionCall2(numeric, value, Int32GetDatum(c.typmod));
        return value;
    }
    case TESSEL_ROWS_DATE:
    case TESSEL_ROWS_TIME:
    case TESSEL_ROWS_TIMESTAMP: {
        Datum value;
        if (datetimeValue(c.kind, v, &value)) return value;
        if (!badNull)
            ereport(ERROR,
                    (errcode(MAKE_SQLSTATE('3', '8', 'X', '2', '9')),
                     errmsg_internal("row " UINT64_FORMAT ": column %s: the value '%s' is not a %s",
                                     row, name, v.text, format_type_be(c.type))));
        *isNull = true;
        return Datum(0);
    }
    default: // text kinds and xml
        if (c.viaInput)
            return InputFunctionCall(const_cast<FmgrInfo *>(&c.input), const_cast<char *>(v.text),
                                     c.ioParam, c.typmod);
        return PointerGetDatum(cstring_to_text_with_len(v.text, static_cast<int>(v.length)));
    }
}

Datum scanRows(FunctionCallInfo fcinfo, Source source) {
    CHECK_FOR_INTERRUPTS();
    const int base = source == Source::TYPED ? 1 : 0;            // the document's argument
    const int first = base + (source == Source::FOLDER ? 3 : 2); // the paths' argument
    const bool hasOptions = PG_NARGS() > first + 1;
    TupleDesc desc = nullptr;
    if (get_call_result_type(fcinfo, nullptr, &desc) != TYPEFUNC_COMPOSITE &&
        source == Source::TYPED)
        ereport(ERROR, (errcode(ERRCODE_DATATYPE_MISMATCH),
                        errmsg("tessel_rows_as needs a model of a composite type"),
                        errhint("Name the row type by a NULL of it: tessel_rows_as(NULL::item_t, "
                                "doc, ...).")));
    if (get_call_result_type(fcinfo, nullptr, &desc) != TYPEFUNC_COMPOSITE)
        ereport(ERROR, (errcode(ERRCODE_SYNTAX_ERROR),
                        errmsg("%s needs a column definition list", functionName(source)),
                        errhint("Name and type its columns: %s(...) AS t(sku text, qty int).",
                                functionName(source))));
    // A copy of the expected descriptor: the executor frees the one it is given back.
    auto *rsinfo = reinterpret_cast<ReturnSetInfo *>(fcinfo->resultinfo);
    InitMaterializedSRF(fcinfo, rsinfo != nullptr && IsA(rsinfo, ReturnSetInfo) &&
                                        rsinfo->expectedDesc != nullptr
                                    ? MAT_SRF_USE_EXPECTED_DESC
                                    : 0);
    desc = rsinfo->setDesc;
    // The typed form is not strict (its model is NULL): a NULL argument gives no rows.
    for (int i = base; i < PG_NARGS(); ++i)
        if (PG_ARGISNULL(i)) return Datum(0);

    TesselRowsRequest request{};
    request.codePage = tesselpg::databaseCodePage();
    char *sourceText = text_to_cstring(PG_GETARG_TEXT_PP(base));
    if (source == Source::TEXT || source == Source::TYPED)
        request.text = sourceText;
    else if (source == Source::FILE)
        request.file = sourceText;
    else {
        request.folder = sourceText;
        request.pattern = text_to_cstring(PG_GETARG_TEXT_PP(1));
    }
    request.rowPath = text_to_cstring(PG_GETARG_TEXT_PP(first - 1));
    Datum *paths = nullptr;
    const int pathCount = textElements(PG_GETARG_ARRAYTYPE_P(first), "column paths", &paths);
    RowsColumn *columns = readColumns(desc, pathCount, source);
    if (hasOptions) readOptions(PG_GETARG_ARRAYTYPE_P(first + 1), request);
    auto *requestColumns =
        static_cast<TesselRowsColumn *>(palloc0(sizeof(TesselRowsColumn) * (pathCount + 1)));
    for (int i = 0; i < pathCount; ++i)
        requestColumns[i] = TesselRowsColumn{NameStr(TupleDescAttr(desc, i)->attname),
                                             columns[i].kind, TextDatumGetCString(paths[i])};
    request.columns = requestColumns;
    request.columnCount = pathCount;
    const bool badNull = (request.flags & TESSEL_ROWS_BAD_NULL) != 0;

    auto *values =
        static_cast<TesselValue *>(palloc(sizeof(TesselValue) * kBatch * (pathCount + 1)));
    auto *datums = static_cast<Datum *>(palloc(sizeof(Datum) * (pathCount + 1)));
    auto *nulls = static_cast<bool *>(palloc(sizeof(bool) * (pathCount + 1)));
    MemoryContext batchMemory =
        AllocSetContextCreate(CurrentMemoryContext, "tessel_rows batch", ALLOCSET_DEFAULT_SIZES);
    char state[6];
    char message[512];
    TesselRows *scan = nullptr;
    if (tessel_rows_open(&request, &scan, state, message, sizeof message) != 0)
        raise(state, message);
    uint64 row = 0;
    PG_TRY();
    {
        for (;;) {
            CHECK_FOR_INTERRUPTS();
            int rows = 0;
            if (tessel_rows_fetch(scan, values, kBatch, &rows, state, message, sizeof message) != 0)
                raise(state, message);
            if (rows == 0) break;
            MemoryContext caller = MemoryContextSwitchTo(batchMemory);
            for (int r = 0; r < rows; ++r) {
                ++row;
                for (int i = 0; i < pathCount; ++i)
                    datums[i] = datumOf(columns[i], values[r * pathCount + i],
                                        requestColumns[i].name, row, badNull, &nulls[i]);
                tuplestore_putvalues(rsinfo->setResult, desc, datums, nulls);
            }
            MemoryContextSwitchTo(caller);
            MemoryContextReset(batchMemory);
        }
    }
    PG_FINALLY();
    { tessel_rows_close(scan); }
    PG_END_TRY();
    MemoryContextDelete(batchMemory);
    return Datum(0);
}

} // namespace

extern "C" Datum tessel_rows_pg(PG_FUNCTION_ARGS) {
    return scanRows(fcinfo, Source::TEXT);
}

extern "C" Datum tessel_rows_file_pg(PG_FUNCTION_ARGS) {
    return scanRows(fcinfo, Source::FILE);
}

extern "C" Datum tessel_rows_folder_pg(PG_FUNCTION_ARGS) {
    return scanRows(fcinfo, Source::FOLDER);
}

extern "C" Datum tessel_rows_as_pg(PG_FUNCTION_ARGS) {
    return scanRows(fcinfo, Source::TYPED);
}
