// The SQLite extension's table routines: each an eponymous table-valued function.
#include "tesselSqlite.h"

#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace tessel::sqlite {

namespace {

// ---- Table routines ----------------------------------------------------------------------

// A table routine is an eponymous table-valued function: one column "value" and one hidden
// column per input. A cursor is one statement of the routine: FIRST at its first scan, OPEN at
// every scan (xFilter; in a join, once per outer row), FETCH per row (xNext), CLOSE before the
// next scan and when the cursor closes, then FINAL. A statement stopped early (LIMIT) or failed
// closes its cursors too.

struct TableVtab {
    sqlite3_vtab base;
    sqlite3 *db;
    const Routine *routine;
};

struct CursorState {
    std::unique_ptr<tarn::TableStatement> statement;
    std::vector<tarn::Input> values;   // the inputs of the open table
    std::vector<sqlite3_value *> args; // the same, shown in the hidden columns
    tarn::Outcome row;                 // the current row
    sqlite3_int64 rowid = 0;
    bool open = false;
    bool eof = true;

    ~CursorState() {
        try {
            close();
            if (statement) statement->finish(); // FINAL
        } catch (...) {
            // the last calls' outcomes have nowhere to go
        }
        clearArgs();
    }
    void close() {
        if (open) statement->close(values);
        open = false;
        eof = true;
    }
    void clearArgs() {
        for (sqlite3_value *v : args)
            sqlite3_value_free(v);
        args.clear();
    }
};

struct TableCursor {
    sqlite3_vtab_cursor base;
    CursorState *state;
};

std::string columnType(tarn::SqlType type, int32_t length) {
    std::string name = tessel::sqlTypeName(type);
    if (type == tarn::SqlType::VARCHAR || type == tarn::SqlType::CHAR)
        name += "(" + std::to_string(length) + ")";
    return name;
}

int tableConnect(sqlite3 *db, void *aux, int, const char *const *, sqlite3_vtab **vtab,
                 char **err) {
    const auto *routine = static_cast<const Routine *>(aux);
    try {
        std::string schema =
            "CREATE TABLE x(value " + columnType(routine->desc.output, routine->desc.outputLength);
        for (size_t i = 1; i <= routine->desc.inputs.size(); ++i)
            schema += ", arg" + std::to_string(i) + " HIDDEN";
        schema += ")";
        int rc = sqlite3_declare_vtab(db, schema.c_str());
        if (rc != SQLITE_OK) return rc;
    } catch (...) {
        return SQLITE_NOMEM;
    }
    if (routine->serverFiles) sqlite3_vtab_config(db, SQLITE_VTAB_DIRECTONLY);
    if (routine->pure) sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
    auto *table = static_cast<TableVtab *>(sqlite3_malloc(sizeof(TableVtab)));
    if (table == nullptr) return SQLITE_NOMEM;
    memset(table, 0, sizeof *table);
    table->routine = routine;
    table->db = db;
    *vtab = &table->base;
    (void)err;
    return SQLITE_OK;
}

int tableDisconnect(sqlite3_vtab *vtab) {
    sqlite3_free(vtab);
    return SQLITE_OK;
}

// Every input must be given as an argument: idxNum is the mask of the inputs given.
int tableBestIndex(sqlite3_vtab *vtab, sqlite3_index_info *info) {
    const auto *routine = reinterpret_cast<TableVtab *>(vtab)->routine;
    const int inputs = static_cast<int>(routine->desc.inputs.size());
    int constraintOf[32];
    for (int &c : constraintOf)
        c = -1;
    unsigned given = 0, unusable = 0;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto &c = info->aConstraint[i];
        int input = c.iColumn - 1;
        if (input < 0 || input >= inputs || input >= 32) continue;
        if (!c.usable)
            unusable |= 1u << input;
        else if (c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            constraintOf[input] = i;
            given |= 1u << input;
        }
    }
    if ((unusable & ~given) != 0) return SQLITE_CONSTRAINT;
    int argv = 0;
    for (int input = 0; input < inputs; ++input) {
        if (constraintOf[input] < 0) continue;
        info->aConstraintUsage[constraintOf[input]].argvIndex = ++argv;
        info->aConstraintUsage[constraintOf[input]].omit = 1;
    }
    info->idxNum = static_cast<int>(given);
    info->estimatedCost = 1000;
    info->estimatedRows = 100;
    return SQLITE_OK;
}

int tableOpen(sqlite3_vtab *, sqlite3_vtab_cursor **cursor) {
    auto *c = static_cast<TableCursor *>(sqlite3_malloc(sizeof(TableCursor)));
    if (c == nullptr) return SQLITE_NOMEM;
    memset(c, 0, sizeof *c);
    c->state = new (std::nothrow) CursorState;
    if (c->state == nullptr) {
        sqlite3_free(c);
        return SQLITE_NOMEM;
    }
    *cursor = &c->base;
    return SQLITE_OK;
}

int tableClose(sqlite3_vtab_cursor *cursor) {
    auto *c = reinterpret_cast<TableCursor *>(cursor);
    delete c->state; // CLOSE and FINAL
    sqlite3_free(c);
    return SQLITE_OK;
}

void setVtabError(sqlite3_vtab *vtab, const std::string &text) {
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", text.c_str());
}

// The next row into the cursor; an error closes the table.
int fetchRow(sqlite3_vtab *vtab, CursorState &state) {
    CallLimits deadline(reinterpret_cast<TableVtab *>(vtab)->db);
    state.statement->fetch(state.values, state.row); // into the row buffer, reused
    if (state.row.failed()) {
        setVtabError(vtab, errorText(state.row));
        state.close();
        return SQLITE_ERROR;
    }
    state.eof = state.row.endOfTable();
    ++state.rowid;
    return SQLITE_OK;
}

// Each scan opens the table again with the scan's arguments and fetches its first row.
int tableFilter(sqlite3_vtab_cursor *cursor, int idxNum, const char *, int argc,
                sqlite3_value **argv) {
    auto *c = reinterpret_cast<TableCursor *>(cursor);
    sqlite3_vtab *vtab = cursor->pVtab;
    const Routine *routine = reinterpret_cast<TableVtab *>(vtab)->routine;
    CursorState &state = *c->state;
    try {
        state.close();
        state.clearArgs();
        state.rowid = 0;
        const size_t inputs = routine->desc.inputs.size();
        if (static_cast<unsigned>(idxNum) != (1u << inputs) - 1 ||
            static_cast<size_t>(argc) != inputs) {
            setVtabError(vtab,
                         routine->desc.name + "() takes " + std::to_string(inputs) + " arguments");
            return SQLITE_ERROR;
        }
        state.values.assign(inputs, tarn::Input());
        for (size_t i = 0; i < inputs; ++i) {
            sqlite3_value *copy = sqlite3_value_dup(argv[i]);
            if (copy == nullptr || !toInput(argv[i], state.values[i])) {
                sqlite3_value_free(copy);
                return SQLITE_NOMEM;
            }
            state.args.push_back(copy);
        }
        if (!state.statement)
            state.statement = std::make_unique<tarn::TableStatement>(routine->desc);
        CallLimits deadline(reinterpret_cast<TableVtab *>(vtab)->db);
        tarn::Outcome open = state.statement->open(state.values);
        if (open.failed()) {
            setVtabError(vtab, errorText(open));
            if (state.statement->started()) state.statement->close(state.values);
            return SQLITE_ERROR;
        }
        state.open = true;
        return fetchRow(vtab, state);
    } catch (const std::bad_alloc &) {
        return SQLITE_NOMEM;
    } catch (const std::exception &e) {
        setVtabError(vtab, std::string("Tessel: ") + e.what());
        return SQLITE_ERROR;
    } catch (...) {
        setVtabError(vtab, "Tessel: the routine call failed");
        return SQLITE_ERROR;
    }
}

int tableNext(sqlite3_vtab_cursor *cursor) {
    CursorState &state = *reinterpret_cast<TableCursor *>(cursor)->state;
    try {
        return fetchRow(cursor->pVtab, state);
    } catch (const std::bad_alloc &) {
        return SQLITE_NOMEM;
    } catch (...) {
        setVtabError(cursor->pVtab, "Tessel: the routine call failed");
        return SQLITE_ERROR;
    }
}

int tableEof(sqlite3_vtab_cursor *cursor) {
    return reinterpret_cast<TableCursor *>(cursor)->state->eof;
}

int tableColumn(sqlite3_vtab_cursor *cursor, sqlite3_context *ctx, int column) {
    const CursorState &state = *reinterpret_cast<TableCursor *>(cursor)->state;
    const Routine *routine = reinterpret_cast<TableVtab *>(cursor->pVtab)->routine;
    if (column == 0 && !state.eof)
        setResult(ctx, routine->desc.output, state.row);
    else if (column >= 1 && static_cast<size_t>(column) <= state.args.size())
        sqlite3_result_value(ctx, state.args[static_cast<size_t>(column) - 1]);
    return SQLITE_OK;
}

int tableRowid(sqlite3_vtab_cursor *cursor, sqlite3_int64 *rowid) {
    *rowid = reinterpret_cast<TableCursor *>(cursor)->state->rowid;
    return SQLITE_OK;
}

sqlite3_module makeTableModule() {
    sqlite3_module m;
    memset(&m, 0, sizeof m);
    m.xConnect = tableConnect; // no xCreate: eponymous only
    m.xBestIndex = tableBestIndex;
    m.xDisconnect = tableDisconnect;
    m.xOpen = tableOpen;
    m.xClose = tableClose;
    m.xFilter = tableFilter;
    m.xNext = tableNext;
    m.xEof = tableEof;
    m.xColumn = tableColumn;
    m.xRowid = tableRowid;
    return m;
}

} // namespace

const sqlite3_module kTableModule = makeTableModule();

} // namespace tessel::sqlite
