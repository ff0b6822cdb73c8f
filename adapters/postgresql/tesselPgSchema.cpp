// The PostgreSQL extension's schema validation: tessel_validate_schema(doc, schema) over text,
// tessel_validate_schema_file(docfile, schemafile) over server files, and the set-returning
// tessel_schema_errors(doc, schema, max_errors) with a row per error. A call site keeps one
// call object of the library's C interface in fn_extra until the query's memory goes, so the
// schema is parsed once per statement. Only trivially destructible locals: PostgreSQL's errors
// jump out of these functions.
#include "tessel.h"

#include <cstring>

extern "C" {
#include "postgres.h"

#include "fmgr.h"
#include "funcapi.h"
#include "mb/pg_wchar.h"
#include "utils/builtins.h"
#include "utils/tuplestore.h"
}

#pragma GCC visibility push(default)
extern "C" {
PG_FUNCTION_INFO_V1(tessel_validate_schema_pg);
PG_FUNCTION_INFO_V1(tessel_validate_schema_file_pg);
PG_FUNCTION_INFO_V1(tessel_schema_errors_pg);
}
#pragma GCC visibility pop

namespace {

struct SchemaSite {
    MemoryContextCallback reset;
    TesselSchemaCall *call;
};

void endSite(void *arg) {
    tessel_schema_close(static_cast<SchemaSite *>(arg)->call);
}

// The call site's call object, made at its first call.
TesselSchemaCall *siteCall(FunctionCallInfo fcinfo) {
    FmgrInfo *flinfo = fcinfo->flinfo;
    if (flinfo->fn_extra != nullptr) return static_cast<SchemaSite *>(flinfo->fn_extra)->call;
    TesselStatus status{};
    TesselSchemaCall *call = tessel_schema_open(&status);
    if (call == nullptr)
        ereport(
            ERROR,
            (errcode(MAKE_SQLSTATE(status.sqlstate[0], status.sqlstate[1], status.sqlstate[2],
                                   status.sqlstate[3], status.sqlstate[4])),
             errmsg_internal("%s", status.message[0] != '\0' ? status.message
                                                             : "cannot start schema validation")));
    auto *site =
        static_cast<SchemaSite *>(MemoryContextAllocZero(flinfo->fn_mcxt, sizeof(SchemaSite)));
    site->call = call;
    site->reset.func = endSite;
    site->reset.arg = site;
    MemoryContextRegisterResetCallback(flinfo->fn_mcxt, &site->reset);
    flinfo->fn_extra = site;
    return call;
}

// An argument as UTF-8 text, NUL-terminated.
const char *utf8Arg(FunctionCallInfo fcinfo, int i) {
    char *value = text_to_cstring(PG_GETARG_TEXT_PP(i));
    return pg_server_to_any(value, static_cast<int>(strlen(value)), PG_UTF8);
}

// Reports a failed call: its SQLSTATE and message, the whole message as the detail.
void raise(const TesselStatus &status, TesselSchemaCall *call) {
    char message[sizeof status.message];
    memcpy(message, status.message, sizeof message);
    size_t n = strlen(message);
    while (n > 0 && (message[n - 1] == '\n' || message[n - 1] == ' '))
        message[--n] = '\0';
    const char *whole = tessel_schema_detail(call);
    const char *detail = pg_any_to_server(whole, static_cast<int>(strlen(whole)), PG_UTF8);
    const int code = MAKE_SQLSTATE(status.sqlstate[0], status.sqlstate[1], status.sqlstate[2],
                                   status.sqlstate[3], status.sqlstate[4]);
    if (strlen(whole) > n)
        ereport(ERROR, (errcode(code), errmsg_internal("%s", pg_any_to_server(message, n, PG_UTF8)),
                        errdetail_internal("%s", detail)));
    ereport(ERROR, (errcode(code), errmsg_internal("%s", pg_any_to_server(message, n, PG_UTF8))));
}

Datum validate(FunctionCallInfo fcinfo, uint32_t flags) {
    if (PG_ARGISNULL(0) || PG_ARGISNULL(1)) PG_RETURN_NULL();
    TesselSchemaCall *call = siteCall(fcinfo);
    const char *doc = utf8Arg(fcinfo, 0);
    const char *schema = utf8Arg(fcinfo, 1);
    TesselStatus status{};
    if (tessel_validate_schema(call, doc, schema, flags, &status) != 1) raise(status, call);
    PG_RETURN_INT32(1);
}

} // namespace

extern "C" Datum tessel_validate_schema_pg(PG_FUNCTION_ARGS) {
    return validate(fcinfo, 0);
}

extern "C" Datum tessel_validate_schema_file_pg(PG_FUNCTION_ARGS) {
    return validate(fcinfo, TESSEL_SCHEMA_DOC_FILE | TESSEL_SCHEMA_XSD_FILE);
}

// The errors as rows (line, column, message), materialized: at most max_errors of them.
extern "C" Datum tessel_schema_errors_pg(PG_FUNCTION_ARGS) {
    InitMaterializedSRF(fcinfo, 0);
    if (PG_ARGISNULL(0) || PG_ARGISNULL(1) || PG_ARGISNULL(2)) return static_cast<Datum>(0);
    const int32 limit = PG_GETARG_INT32(2);
    if (limit <= 0) return static_cast<Datum>(0);
    TesselSchemaCall *call = siteCall(fcinfo);
    const char *doc = utf8Arg(fcinfo, 0);
    const char *schema = utf8Arg(fcinfo, 1);
    TesselStatus status{};
    const int32_t n =
        tessel_schema_errors(call, doc, schema, 0, static_cast<uint32_t>(limit), &status);
    if (n < 0) raise(status, call);
    auto *rsinfo = reinterpret_cast<ReturnSetInfo *>(fcinfo->resultinfo);
    for (int32_t i = 0; i < n; ++i) {
        uint64_t line = 0, column = 0;
        const char *message = "";
        tessel_schema_error(call, static_cast<uint32_t>(i), &line, &column, &message);
        Datum values[3] = {Int64GetDatum(static_cast<int64>(line)),
                           Int64GetDatum(static_cast<int64>(column)),
                           CStringGetTextDatum(pg_any_to_server(
                               message, static_cast<int>(strlen(message)), PG_UTF8))};
        bool nulls[3] = {false, false, false};
        tuplestore_putvalues(rsinfo->setResult, rsinfo->setDesc, values, nulls);
    }
    return static_cast<Datum>(0);
}
