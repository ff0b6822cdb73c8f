// A SQLite loadable extension that offers Tessel's routines in SQL: each scalar routine as a
// function and each table routine as a table-valued function, under the routine's own name.
// Every call goes through the host runtime's calling side, so the routines run exactly as the
// host runs them: first, normal and final calls on one scratchpad per statement.
#include "tarnCall.h"
#include "tesselCatalog.h"
#include "tesselVersion.h"

#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <ctime>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A routine the library exports, described for the calling side.
struct Routine {
    tarn::RoutineDesc desc;
    bool serverFiles;
};

// ---- Process set-up ----------------------------------------------------------------------

// The instance name a SQLite process runs as unless TARNINSTANCE says otherwise.
constexpr const char *kInstance = "tessel";

// The directory for the trace control file: $XDG_RUNTIME_DIR/tessel or $HOME/.tessel, or empty
// when neither can be had privately.
std::string traceControlDirectory() {
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' &&
        tarn::privateDirectory(std::string(runtime) + "/tessel"))
        return std::string(runtime) + "/tessel";
    const char *home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd *pw = getpwuid(geteuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home != nullptr && home[0] == '/' && tarn::privateDirectory(std::string(home) + "/.tessel"))
        return std::string(home) + "/.tessel";
    return std::string();
}

// Gives the process what a host instance always has: an instance name and a trace control
// directory (never overriding the user's), and an application code page that can carry
// documents when the process runs in the C locale.
int pastDeadline();

void prepareProcess() {
    tarnSetCancelCheck(pastDeadline);
    setenv("TARNINSTANCE", kInstance, 0);
    if (getenv("TARNQAPPATH") == nullptr) {
        std::string dir = traceControlDirectory();
        if (!dir.empty()) setenv("TARNQAPPATH", dir.c_str(), 0);
    }
    tarn::useUtf8WhenAscii();
}

// ---- Time and memory limits ----------------------------------------------------------------

// SQLite offers a function no way to see that its statement was interrupted, so a connection
// may set a time limit for each routine call instead: SELECT tessel_time_limit(ms) (0: none,
// the default). A call that runs longer stops within a few thousand parser events with
// SQLSTATE 57014. SELECT tessel_max_parse_memory(bytes) sets the heap one parse of the
// connection's calls may hold (0 or less: the host's registry value, else 256 MiB). The limits
// by connection; the deadline of the call running on this thread.
struct Limits {
    int64_t timeMs = 0;
    int64_t parseMemory = 0;
};
std::mutex limitsLock;
// Made at first use, not while the extension loads: a connection on another thread may load it
// at the same time, and only the loader's own lock (which ThreadSanitizer cannot see) orders the
// two.
std::map<sqlite3 *, Limits> &limitsByConnection() {
    static std::map<sqlite3 *, Limits> limits;
    return limits;
}
thread_local int64_t deadlineNs = 0;

int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The host's cancel check: past the deadline of the call on this thread.
int pastDeadline() {
    return deadlineNs != 0 && nowNs() > deadlineNs ? 1 : 0;
}

// The limits of one routine call from its connection's, for the call's duration: the deadline,
// and the memory budget as the thread's registry value.
class CallLimits {
public:
    explicit CallLimits(sqlite3 *db) : saved_(deadlineNs) {
        Limits set;
        {
            std::lock_guard<std::mutex> lock(limitsLock);
            const auto &limits = limitsByConnection();
            auto it = limits.find(db);
            if (it != limits.end()) set = it->second;
        }
        deadlineNs = set.timeMs > 0 ? nowNs() + set.timeMs * 1000000 : 0;
        if (set.parseMemory > 0) {
            char bytes[24];
            snprintf(bytes, sizeof bytes, "%lld", static_cast<long long>(set.parseMemory));
            tarnRegistrySetForThread(TARN_REG_MAX_PARSE_MEMORY, bytes);
            memorySet_ = true;
        }
    }
    ~CallLimits() {
        deadlineNs = saved_;
        if (memorySet_) tarnRegistrySetForThread(TARN_REG_MAX_PARSE_MEMORY, nullptr);
    }
    CallLimits(const CallLimits &) = delete;
    CallLimits &operator=(const CallLimits &) = delete;

private:
    int64_t saved_;
    bool memorySet_ = false;
};

// tessel_time_limit(ms) and tessel_max_parse_memory(bytes): the limit set, 0 for none.
void setLimit(sqlite3_context *ctx, int64_t Limits::*field, sqlite3_value **argv) {
    sqlite3 *db = sqlite3_context_db_handle(ctx);
    const sqlite3_int64 value = sqlite3_value_int64(argv[0]);
    std::lock_guard<std::mutex> lock(limitsLock);
    auto &limits = limitsByConnection();
    Limits &set = limits[db];
    set.*field = value > 0 ? value : 0;
    if (set.timeMs == 0 && set.parseMemory == 0) limits.erase(db);
    sqlite3_result_int64(ctx, value > 0 ? value : 0);
}

void setTimeLimit(sqlite3_context *ctx, int, sqlite3_value **argv) {
    setLimit(ctx, &Limits::timeMs, argv);
}

void setParseMemory(sqlite3_context *ctx, int, sqlite3_value **argv) {
    setLimit(ctx, &Limits::parseMemory, argv);
}

// Forgets a connection's limits when it closes (the destructor of tessel_time_limit's data).
void forgetTimeLimit(void *db) {
    std::lock_guard<std::mutex> lock(limitsLock);
    limitsByConnection().erase(static_cast<sqlite3 *>(db));
}

// ---- The routines --------------------------------------------------------------------------

// The catalogued routines of the families this build has, looked up once per process. A
// routine the library does not export is an error, named in *missing.
const std::vector<Routine> *exportedRoutines(std::string *missing) {
    static std::vector<Routine> routines;
    static std::string lacking;
    static bool found = false;
    static std::once_flag once;
    std::call_once(once, [] {
        void *handle = tarn::libraryHandle(reinterpret_cast<const void *>(&exportedRoutines));
        if (handle == nullptr) return;
        for (const tessel::RoutineInfo &row : tessel::catalog) {
            if (!row.built) continue;
            void *entry = dlsym(handle, row.name);
            if (entry == nullptr) {
                lacking = row.name;
                break;
            }
            routines.push_back(Routine{tarn::RoutineDesc::of(row, entry), row.hasFileInput()});
        }
        dlclose(handle); // the extension's own link keeps the library loaded
        found = lacking.empty();
    });
    *missing = lacking;
    return found ? &routines : nullptr;
}

// ---- Values and status -------------------------------------------------------------------

// One SQL argument as a routine input; false when SQLite ran out of memory. With view, text
// is passed in SQLite's own buffer, valid for the call (a VARCHAR input, read to its NUL).
bool toInput(sqlite3_value *value, tarn::Input &input, bool view = false) {
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
        input = tarn::Input::null();
        return true;
    case SQLITE_BLOB: {
        const void *bytes = sqlite3_value_blob(value);
        int length = sqlite3_value_bytes(value);
        input = tarn::Input(bytes ? std::string(static_cast<const char *>(bytes), length) : "");
        return bytes != nullptr || length == 0;
    }
    default: {
        const unsigned char *text = sqlite3_value_text(value);
        if (text == nullptr) return false;
        if (view) {
            input = tarn::Input::of(reinterpret_cast<const char *>(text));
            return true;
        }
        input = tarn::Input(std::string(reinterpret_cast<const char *>(text),
                                        static_cast<size_t>(sqlite3_value_bytes(value))));
        return true;
    }
    }
}

// "00000" and warnings give the value (or NULL); any other state is an error.
bool succeeded(const std::string &sqlstate) {
    return sqlstate == "00000" || sqlstate.compare(0, 2, "01") == 0;
}

// "SQLSTATE <state>: <message>" (the state alone when the routine left no message), and when
// the message was cut to fit, "\nDETAIL: <the whole message>".
std::string errorText(const tarn::Outcome &outcome) {
    std::string message = outcome.message;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    std::string text = "SQLSTATE " + outcome.sqlstate;
    if (!message.empty()) text += ": " + message;
    if (!outcome.whole.empty()) text += "\nDETAIL: " + outcome.whole;
    return text;
}

// Sets a function's result (or a table row's value) from what the routine returned.
void setResult(sqlite3_context *ctx, tarn::SqlType type, const tarn::Outcome &outcome) {
    if (outcome.isNull()) {
        sqlite3_result_null(ctx);
        return;
    }
    switch (type) {
    case tarn::SqlType::DOUBLE:
        sqlite3_result_double(ctx, outcome.dbl);
        break;
    case tarn::SqlType::REAL:
        sqlite3_result_double(ctx, static_cast<double>(outcome.real));
        break;
    case tarn::SqlType::INTEGER:
        sqlite3_result_int(ctx, outcome.integer);
        break;
    case tarn::SqlType::SMALLINT:
        sqlite3_result_int(ctx, outcome.smallint);
        break;
    default: // text kinds, and a CLOB read back from its locator
        sqlite3_result_text64(ctx, outcome.text.data(), outcome.text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8);
        break;
    }
}

// ---- Scalar routines ---------------------------------------------------------------------

// One call site of one statement: its scratchpad lives from the first call to the final call.
// SQLite keeps auxiliary data for the call site's constant arguments until the statement is
// reset; the site holds one reference per argument it was attached to, and the last one to go
// makes the final call. Without a constant argument every call is its own first and final call;
// a routine without inputs (qapSeqno) therefore takes a constant argument it ignores:
// qapSeqno(0) counts the rows of a statement, qapSeqno() answers 1 on every row.
struct CallSite {
    explicit CallSite(const tarn::RoutineDesc &desc) : statement(desc) {}
    tarn::ScalarStatement statement;
    int holds = 0;
};

void dropHold(void *p) {
    auto *site = static_cast<CallSite *>(p);
    if (--site->holds > 0) return;
    try {
        site->statement.finish();
    } catch (...) {
        // the final call's outcome has nowhere to go
    }
    delete site;
}

void callScalar(sqlite3_context *ctx, int argc, sqlite3_value **argv) {
    const auto *routine = static_cast<const Routine *>(sqlite3_user_data(ctx));
    try {
        // A routine without inputs takes any arguments, unused but for keeping the call site.
        std::vector<tarn::Input> inputs(routine->desc.inputs.size());
        for (int i = 0; i < static_cast<int>(inputs.size()); ++i) {
            const bool varchar =
                routine->desc.inputs[static_cast<size_t>(i)] != tarn::SqlType::CLOB;
            if (!toInput(argv[i], inputs[static_cast<size_t>(i)], varchar)) {
                sqlite3_result_error_nomem(ctx);
                return;
            }
        }
        CallSite *site = nullptr;
        for (int i = argc - 1; i >= 0 && site == nullptr; --i)
            site = static_cast<CallSite *>(sqlite3_get_auxdata(ctx, i));
        std::unique_ptr<CallSite> fresh;
        if (site == nullptr) {
            fresh = std::make_unique<CallSite>(routine->desc);
            site = fresh.get();
        }
        CallLimits deadline(sqlite3_context_db_handle(ctx));
        tarn::Outcome outcome = site->statement.call(inputs);
        if (succeeded(outcome.sqlstate))
            setResult(ctx, routine->desc.output, outcome);
        else
            sqlite3_result_error(ctx, errorText(outcome).c_str(), -1);
        if (fresh) {
            site = fresh.release();
            site->holds = 1; // this call's own hold, dropped below
            for (int i = 0; i < argc; ++i) {
                ++site->holds;
                sqlite3_set_auxdata(ctx, i, site, dropHold);
            }
            dropHold(site);
        }
    } catch (const std::bad_alloc &) {
        sqlite3_result_error_nomem(ctx);
    } catch (const std::exception &e) {
        sqlite3_result_error(ctx, (std::string("Tessel: ") + e.what()).c_str(), -1);
    } catch (...) {
        sqlite3_result_error(ctx, "Tessel: the routine call failed", -1);
    }
}

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

const sqlite3_module kTableModule = makeTableModule();

// ---- Registration ------------------------------------------------------------------------

// SELECT tessel_version(): the version of Tessel this extension belongs to.
void answerVersion(sqlite3_context *ctx, int, sqlite3_value **) {
    sqlite3_result_text(ctx, TESSEL_VERSION, -1, SQLITE_STATIC);
}

int registerRoutines(sqlite3 *db, char **errorMessage) {
    static std::once_flag prepared;
    std::call_once(prepared, prepareProcess);
    std::string missing;
    const std::vector<Routine> *routines = exportedRoutines(&missing);
    if (routines == nullptr) {
        *errorMessage = missing.empty()
                            ? sqlite3_mprintf("libtessel.so is not loaded")
                            : sqlite3_mprintf("libtessel.so lacks the routine %s", missing.c_str());
        return SQLITE_ERROR;
    }
    int rc = sqlite3_create_function_v2(db, "tessel_time_limit", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY,
                                        db, setTimeLimit, nullptr, nullptr, forgetTimeLimit);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "tessel_max_parse_memory", 1,
                                        SQLITE_UTF8 | SQLITE_DIRECTONLY, db, setParseMemory,
                                        nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        *errorMessage = sqlite3_mprintf("cannot register the limits: %s", sqlite3_errmsg(db));
        return rc;
    }
    rc = sqlite3_create_function_v2(db, "tessel_version", 0,
                                    SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                    answerVersion, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        *errorMessage = sqlite3_mprintf("cannot register tessel_version: %s", sqlite3_errmsg(db));
        return rc;
    }
    for (const Routine &r : *routines) {
        if (r.desc.table) {
            rc = sqlite3_create_module_v2(db, r.desc.name.c_str(), &kTableModule,
                                          const_cast<Routine *>(&r), nullptr);
        } else {
            int flags = SQLITE_UTF8 | (r.serverFiles ? SQLITE_DIRECTONLY : 0);
            rc = sqlite3_create_function_v2(
                db, r.desc.name.c_str(),
                r.desc.inputs.empty() ? -1 : static_cast<int>(r.desc.inputs.size()), flags,
                const_cast<Routine *>(&r), callScalar, nullptr, nullptr, nullptr);
        }
        if (rc != SQLITE_OK) {
            *errorMessage =
                sqlite3_mprintf("cannot register %s: %s", r.desc.name.c_str(), sqlite3_errmsg(db));
            return rc;
        }
    }
    return SQLITE_OK;
}

} // namespace

// The entry points: SQLite's default name, and the one it derives from the file name
// "libtessel_sqlite.so".
extern "C" __attribute__((visibility("default"))) int
sqlite3_extension_init(sqlite3 *db, char **errorMessage, const sqlite3_api_routines *api) {
    try {
        // Connections on other threads may be loading the extension, or calling routines that
        // read the table, at the same time: it is the same table for every connection of the
        // process, so it is set once.
        static std::once_flag apiSet;
        std::call_once(apiSet, [api] { SQLITE_EXTENSION_INIT2(api); });
        return registerRoutines(db, errorMessage);
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

extern "C" __attribute__((visibility("default"))) int
sqlite3_tesselsqlite_init(sqlite3 *db, char **errorMessage, const sqlite3_api_routines *api) {
    return sqlite3_extension_init(db, errorMessage, api);
}
