// The SQLite extension's schema validation: tessel_validate_schema(doc, schema) over text,
// tessel_validate_schema_file(docfile, schemafile) over server files, and the table-valued
// tessel_schema_errors(doc, schema[, max_errors]) with a row per error.
#include "tesselSqlite.h"

#include "tessel.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace tessel::sqlite {

namespace {

// The rows form returns at most this many errors unless its third argument says otherwise.
constexpr int64_t kDefaultMaxErrors = 1000;

// The SQL error of a failed call, as the routines' errors read.
std::string failure(const TesselStatus &status, const TesselSchemaCall *call) {
    tarn::Outcome outcome;
    outcome.sqlstate = status.sqlstate;
    outcome.message = status.message;
    std::string message = status.message;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    const std::string whole = tessel_schema_detail(call);
    if (whole.size() > message.size()) outcome.whole = whole;
    return errorText(outcome);
}

void closeCall(void *call) {
    tessel_schema_close(static_cast<TesselSchemaCall *>(call));
}

// The statement's call object, kept with the schema argument while it stays the same (a
// literal or a bound parameter): the schema is then parsed once per statement.
TesselSchemaCall *statementCall(sqlite3_context *ctx, TesselStatus &status) {
    if (auto *call = static_cast<TesselSchemaCall *>(sqlite3_get_auxdata(ctx, 1))) return call;
    TesselSchemaCall *call = tessel_schema_open(&status);
    if (call == nullptr) return nullptr;
    sqlite3_set_auxdata(ctx, 1, call, closeCall); // closes it at once when out of memory
    call = static_cast<TesselSchemaCall *>(sqlite3_get_auxdata(ctx, 1));
    if (call == nullptr) snprintf(status.sqlstate, sizeof status.sqlstate, "38X13");
    return call;
}

void validate(sqlite3_context *ctx, sqlite3_value **argv, uint32_t flags) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto *doc = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const auto *schema = reinterpret_cast<const char *>(sqlite3_value_text(argv[1]));
    if (doc == nullptr || schema == nullptr) {
        sqlite3_result_error_nomem(ctx);
        return;
    }
    CallLimits limits(sqlite3_context_db_handle(ctx));
    TesselStatus status{};
    TesselSchemaCall *call = statementCall(ctx, status);
    if (call != nullptr && tessel_validate_schema(call, doc, schema, flags, &status) == 1) {
        sqlite3_result_int(ctx, 1);
        return;
    }
    try {
        sqlite3_result_error(ctx, failure(status, call).c_str(), -1);
    } catch (...) {
        sqlite3_result_error_nomem(ctx);
    }
}

void validateText(sqlite3_context *ctx, int, sqlite3_value **argv) {
    validate(ctx, argv, 0);
}

void validateFile(sqlite3_context *ctx, int, sqlite3_value **argv) {
    validate(ctx, argv, TESSEL_SCHEMA_DOC_FILE | TESSEL_SCHEMA_XSD_FILE);
}

// ---- tessel_schema_errors ---------------------------------------------------------------

struct ErrorsCursor {
    sqlite3_vtab_cursor base;
    TesselSchemaCall *call;
    int64_t row;
    int64_t rows;
};

struct ErrorsVtab {
    sqlite3_vtab base;
    sqlite3 *db;
};

int errorsConnect(sqlite3 *db, void *, int, const char *const *, sqlite3_vtab **vtab, char **) {
    int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(line INTEGER, \"column\" INTEGER, message "
                                      "TEXT, doc HIDDEN, schema HIDDEN, max_errors HIDDEN)");
    if (rc != SQLITE_OK) return rc;
    sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
    auto *table = static_cast<ErrorsVtab *>(sqlite3_malloc(sizeof(ErrorsVtab)));
    if (table == nullptr) return SQLITE_NOMEM;
    memset(table, 0, sizeof *table);
    table->db = db;
    *vtab = &table->base;
    return SQLITE_OK;
}

int errorsDisconnect(sqlite3_vtab *vtab) {
    sqlite3_free(vtab);
    return SQLITE_OK;
}

// doc and schema must be given; max_errors may be. idxNum: 1 when it is.
int errorsBestIndex(sqlite3_vtab *, sqlite3_index_info *info) {
    int of[3] = {-1, -1, -1};
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto &c = info->aConstraint[i];
        if (c.iColumn < 3 || c.iColumn > 5) continue;
        if (!c.usable) {
            if (c.iColumn < 5) return SQLITE_CONSTRAINT;
            continue;
        }
        if (c.op == SQLITE_INDEX_CONSTRAINT_EQ) of[c.iColumn - 3] = i;
    }
    if (of[0] < 0 || of[1] < 0) return SQLITE_CONSTRAINT;
    int argv = 0;
    for (int k = 0; k < 3; ++k) {
        if (of[k] < 0) continue;
        info->aConstraintUsage[of[k]].argvIndex = ++argv;
        info->aConstraintUsage[of[k]].omit = 1;
    }
    info->idxNum = of[2] >= 0 ? 1 : 0;
    info->estimatedCost = 1000;
    info->estimatedRows = 10;
    return SQLITE_OK;
}

int errorsOpen(sqlite3_vtab *, sqlite3_vtab_cursor **cursor) {
    auto *c = static_cast<ErrorsCursor *>(sqlite3_malloc(sizeof(ErrorsCursor)));
    if (c == nullptr) return SQLITE_NOMEM;
    memset(c, 0, sizeof *c);
    *cursor = &c->base;
    return SQLITE_OK;
}

int errorsClose(sqlite3_vtab_cursor *cursor) {
    auto *c = reinterpret_cast<ErrorsCursor *>(cursor);
    tessel_schema_close(c->call);
    sqlite3_free(c);
    return SQLITE_OK;
}

int errorsFilter(sqlite3_vtab_cursor *cursor, int idxNum, const char *, int argc,
                 sqlite3_value **argv) {
    auto *c = reinterpret_cast<ErrorsCursor *>(cursor);
    sqlite3_vtab *vtab = cursor->pVtab;
    c->row = c->rows = 0;
    if (argc < 2 || sqlite3_value_type(argv[0]) == SQLITE_NULL ||
        sqlite3_value_type(argv[1]) == SQLITE_NULL)
        return SQLITE_OK; // no rows
    int64_t limit = idxNum == 1 && argc > 2 ? sqlite3_value_int64(argv[2]) : kDefaultMaxErrors;
    if (limit <= 0) return SQLITE_OK;
    if (limit > INT32_MAX) limit = INT32_MAX;
    const auto *doc = reinterpret_cast<const char *>(sqlite3_value_text(argv[0]));
    const auto *schema = reinterpret_cast<const char *>(sqlite3_value_text(argv[1]));
    if (doc == nullptr || schema == nullptr) return SQLITE_NOMEM;
    CallLimits limits(reinterpret_cast<ErrorsVtab *>(vtab)->db);
    TesselStatus status{};
    if (c->call == nullptr) c->call = tessel_schema_open(&status);
    const int32_t n =
        c->call != nullptr
            ? tessel_schema_errors(c->call, doc, schema, 0, static_cast<uint32_t>(limit), &status)
            : -1;
    if (n < 0) {
        try {
            sqlite3_free(vtab->zErrMsg);
            vtab->zErrMsg = sqlite3_mprintf("%s", failure(status, c->call).c_str());
        } catch (...) {
            return SQLITE_NOMEM;
        }
        return SQLITE_ERROR;
    }
    c->rows = n;
    return SQLITE_OK;
}

int errorsNext(sqlite3_vtab_cursor *cursor) {
    ++reinterpret_cast<ErrorsCursor *>(cursor)->row;
    return SQLITE_OK;
}

int errorsEof(sqlite3_vtab_cursor *cursor) {
    const auto *c = reinterpret_cast<ErrorsCursor *>(cursor);
    return c->row >= c->rows;
}

int errorsColumn(sqlite3_vtab_cursor *cursor, sqlite3_context *ctx, int column) {
    const auto *c = reinterpret_cast<ErrorsCursor *>(cursor);
    uint64_t line = 0, col = 0;
    const char *message = nullptr;
    if (!tessel_schema_error(c->call, static_cast<uint32_t>(c->row), &line, &col, &message))
        return SQLITE_OK;
    if (column == 0) sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(line));
    if (column == 1) sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(col));
    if (column == 2) sqlite3_result_text(ctx, message, -1, SQLITE_TRANSIENT);
    return SQLITE_OK;
}

int errorsRowid(sqlite3_vtab_cursor *cursor, sqlite3_int64 *rowid) {
    *rowid = reinterpret_cast<ErrorsCursor *>(cursor)->row;
    return SQLITE_OK;
}

sqlite3_module makeErrorsModule() {
    sqlite3_module m{};
    m.xConnect = errorsConnect;
    m.xBestIndex = errorsBestIndex;
    m.xDisconnect = errorsDisconnect;
    m.xOpen = errorsOpen;
    m.xClose = errorsClose;
    m.xFilter = errorsFilter;
    m.xNext = errorsNext;
    m.xEof = errorsEof;
    m.xColumn = errorsColumn;
    m.xRowid = errorsRowid;
    return m;
}

const sqlite3_module kErrorsModule = makeErrorsModule();

} // namespace

int registerSchemaFunctions(sqlite3 *db) {
    const int pure = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int rc = sqlite3_create_function_v2(db, "tessel_validate_schema", 2, pure, nullptr,
                                        validateText, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "tessel_validate_schema_file", 2,
                                        SQLITE_UTF8 | SQLITE_DIRECTONLY, nullptr, validateFile,
                                        nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_module_v2(db, "tessel_schema_errors", &kErrorsModule, nullptr, nullptr);
    return rc;
}

} // namespace tessel::sqlite
