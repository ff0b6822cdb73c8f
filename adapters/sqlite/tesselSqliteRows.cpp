// The SQLite extension's row scan: the virtual table module tessel_rows. A table declares the
// row path and its columns once:
//   CREATE VIRTUAL TABLE temp.item_rows USING tessel_rows('/po/items/item',
//       'sku TEXT PATH @partNum', 'qty INTEGER PATH quantity', 'xmlns:p=urn:x');
// and is then a table-valued function of its hidden columns doc, file, folder and pattern:
//   SELECT d.id, r.* FROM docs d, item_rows(d.doc) r;
//   SELECT * FROM item_rows WHERE file = '/data/big.xml';
// Rows come from the library's row scan (tessel.h), fetched in batches.
#include "tesselSqlite.h"

#include "tessel.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace tessel::sqlite {

namespace {

constexpr int kBatch = 64;
// The hidden columns after the declared ones, in this order.
const char *const kHidden[] = {"doc", "file", "folder", "pattern"};
constexpr int kHiddenCount = 4;

struct RowsVtab {
    sqlite3_vtab base;
    sqlite3 *db = nullptr;
    std::string rowPath;
    std::vector<std::string> names, paths, bindings;
    std::vector<int> kinds;
    int flags = 0;
};

struct RowsCursor {
    sqlite3_vtab_cursor base;
    TesselRows *scan = nullptr;
    std::vector<TesselValue> values; // one batch
    int rows = 0;                    // rows in values
    int at = 0;                      // the current row
    bool eof = true;
    sqlite3_int64 rowid = 0;
    sqlite3_value *args[kHiddenCount] = {};

    void close() {
        tessel_rows_close(scan);
        scan = nullptr;
        eof = true;
        rows = at = 0;
    }
    void clearArgs() {
        for (sqlite3_value *&v : args) {
            sqlite3_value_free(v);
            v = nullptr;
        }
    }
};

// A module argument as its text: quotes removed (a doubled quote stands for one), blanks
// around it cut.
std::string unquote(const char *arg) {
    std::string s = arg;
    while (!s.empty() && isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    size_t start = 0;
    while (start < s.size() && isspace(static_cast<unsigned char>(s[start])))
        ++start;
    s = s.substr(start);
    if (s.size() < 2 || (s[0] != '\'' && s[0] != '"') || s.back() != s[0]) return s;
    const char q = s[0];
    std::string out;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        out += s[i];
        if (s[i] == q && s[i + 1] == q) ++i;
    }
    return out;
}

std::string upper(std::string s) {
    for (char &c : s)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

// The kind a declared SQLite type gives: SQLite's INTEGER holds 64 bits.
int kindOf(const std::string &type) {
    const std::string t = upper(type);
    if (t == "XML" || t == "FRAGMENT") return TESSEL_ROWS_FRAGMENT;
    if (t == "SMALLINT") return TESSEL_ROWS_SMALLINT;
    if (t.find("INT") != std::string::npos) return TESSEL_ROWS_BIGINT;
    if (t == "REAL" || t == "DOUBLE" || t == "FLOAT" || t == "NUMERIC" || t == "DECIMAL")
        return TESSEL_ROWS_DOUBLE;
    if (t == "TIMESTAMP" || t == "DATETIME") return TESSEL_ROWS_TIMESTAMP;
    if (t == "DATE") return TESSEL_ROWS_DATE;
    if (t == "TIME") return TESSEL_ROWS_TIME;
    if (t == "CHAR") return TESSEL_ROWS_CHAR;
    if (t == "TEXT" || t == "VARCHAR" || t == "CLOB" || t.empty()) return TESSEL_ROWS_TEXT;
    return -1;
}

std::string quoted(const std::string &name) {
    std::string out = "\"";
    for (char c : name)
        out += c == '"' ? "\"\"" : std::string(1, c);
    return out + "\"";
}

// Reads the declaration: the row path, then columns "name [TYPE] [PATH path]" and the options
// "xmlns[:prefix]=uri", "SEVERAL ERROR" and "BAD NULL". An empty string, or the error.
std::string declare(RowsVtab &t, int argc, const char *const *argv) {
    if (argc < 4) return "tessel_rows needs a row path";
    t.rowPath = unquote(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const std::string arg = unquote(argv[i]);
        const std::string up = upper(arg);
        if (up.compare(0, 5, "XMLNS") == 0 && (arg[5] == '=' || arg[5] == ':')) {
            const size_t eq = arg.find('=');
            if (eq == std::string::npos) return "a namespace is declared as xmlns:prefix=uri";
            t.bindings.push_back(arg[5] == '=' ? arg.substr(5) : arg.substr(6));
        } else if (up == "SEVERAL ERROR") {
            t.flags |= TESSEL_ROWS_SEVERAL_FAIL;
        } else if (up == "BAD NULL") {
            t.flags |= TESSEL_ROWS_BAD_NULL;
        } else {
            // name [TYPE] [PATH path]
            size_t end = arg.find(' ');
            const std::string name = arg.substr(0, end);
            std::string type, path = name;
            const size_t at = up.find(" PATH ");
            if (at != std::string::npos) path = arg.substr(at + 6);
            if (end != std::string::npos && end < (at == std::string::npos ? arg.size() : at))
                type = arg.substr(end + 1, (at == std::string::npos ? arg.size() : at) - end - 1);
            while (!type.empty() && type.back() == ' ')
                type.pop_back();
            const int kind = kindOf(type);
            if (name.empty() || kind < 0) return "cannot read the column '" + arg + "'";
            t.names.push_back(name);
            t.paths.push_back(path);
            t.kinds.push_back(kind);
        }
    }
    return "";
}

int rowsConnect(sqlite3 *db, void *, int argc, const char *const *argv, sqlite3_vtab **vtab,
                char **err) {
    auto table = std::unique_ptr<RowsVtab>(new (std::nothrow) RowsVtab);
    if (!table) return SQLITE_NOMEM;
    memset(&table->base, 0, sizeof table->base);
    table->db = db;
    try {
        const std::string problem = declare(*table, argc, argv);
        if (!problem.empty()) {
            *err = sqlite3_mprintf("%s", problem.c_str());
            return SQLITE_ERROR;
        }
        std::string schema = "CREATE TABLE x(";
        for (size_t i = 0; i < table->names.size(); ++i)
            schema += quoted(table->names[i]) + ", ";
        for (int h = 0; h < kHiddenCount; ++h)
            schema += std::string(kHidden[h]) + " HIDDEN" + (h + 1 < kHiddenCount ? ", " : ")");
        const int rc = sqlite3_declare_vtab(db, schema.c_str());
        if (rc != SQLITE_OK) return rc;
    } catch (...) {
        return SQLITE_NOMEM;
    }
    // Its file and folder forms read server files: direct use only, as the file routines.
    sqlite3_vtab_config(db, SQLITE_VTAB_DIRECTONLY);
    *vtab = &table.release()->base;
    return SQLITE_OK;
}

int rowsDisconnect(sqlite3_vtab *vtab) {
    delete reinterpret_cast<RowsVtab *>(vtab);
    return SQLITE_OK;
}

// The hidden columns given by equality: idxNum is their mask, passed in column order.
int rowsBestIndex(sqlite3_vtab *vtab, sqlite3_index_info *info) {
    const int first = static_cast<int>(reinterpret_cast<RowsVtab *>(vtab)->names.size());
    int constraintOf[kHiddenCount] = {-1, -1, -1, -1};
    unsigned given = 0, unusable = 0;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto &c = info->aConstraint[i];
        const int h = c.iColumn - first;
        if (h < 0 || h >= kHiddenCount) continue;
        if (!c.usable) {
            unusable |= 1u << h;
        } else if (c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            constraintOf[h] = i;
            given |= 1u << h;
        }
    }
    if ((unusable & ~given) != 0) return SQLITE_CONSTRAINT;
    int argv = 0;
    for (int h = 0; h < kHiddenCount; ++h) {
        if (constraintOf[h] < 0) continue;
        info->aConstraintUsage[constraintOf[h]].argvIndex = ++argv;
        info->aConstraintUsage[constraintOf[h]].omit = 1;
    }
    info->idxNum = static_cast<int>(given);
    info->estimatedCost = given != 0 ? 1000 : 1e12;
    info->estimatedRows = 1000;
    return SQLITE_OK;
}

int rowsOpen(sqlite3_vtab *, sqlite3_vtab_cursor **cursor) {
    auto *c = new (std::nothrow) RowsCursor;
    if (c == nullptr) return SQLITE_NOMEM;
    memset(&c->base, 0, sizeof c->base);
    *cursor = &c->base;
    return SQLITE_OK;
}

int rowsClose(sqlite3_vtab_cursor *cursor) {
    auto *c = reinterpret_cast<RowsCursor *>(cursor);
    c->close();
    c->clearArgs();
    delete c;
    return SQLITE_OK;
}

void setError(sqlite3_vtab *vtab, const char *state, const char *message) {
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = message[0] != '\0' ? sqlite3_mprintf("SQLSTATE %s: %s", state, message)
                                       : sqlite3_mprintf("SQLSTATE %s", state);
}

// The next batch into the cursor; an error closes the scan.
int fetchBatch(sqlite3_vtab *vtab, RowsCursor &c) {
    CallLimits limits(reinterpret_cast<RowsVtab *>(vtab)->db);
    char state[6];
    char message[512];
    c.at = 0;
    if (tessel_rows_fetch(c.scan, c.values.data(), kBatch, &c.rows, state, message,
                          sizeof message) != 0) {
        setError(vtab, state, message);
        c.close();
        return SQLITE_ERROR;
    }
    c.eof = c.rows == 0;
    return SQLITE_OK;
}

int rowsFilter(sqlite3_vtab_cursor *cursor, int idxNum, const char *, int argc,
               sqlite3_value **argv) {
    auto *c = reinterpret_cast<RowsCursor *>(cursor);
    sqlite3_vtab *vtab = cursor->pVtab;
    const RowsVtab &t = *reinterpret_cast<RowsVtab *>(vtab);
    c->close();
    c->clearArgs();
    c->rowid = 0;
    try {
        const char *text[kHiddenCount] = {};
        for (int h = 0, a = 0; h < kHiddenCount && a < argc; ++h) {
            if ((idxNum & (1 << h)) == 0) continue;
            c->args[h] = sqlite3_value_dup(argv[a++]);
            if (c->args[h] == nullptr) return SQLITE_NOMEM;
            text[h] = reinterpret_cast<const char *>(sqlite3_value_text(c->args[h]));
        }
        std::vector<TesselRowsColumn> columns;
        for (size_t i = 0; i < t.names.size(); ++i)
            columns.push_back({t.names[i].c_str(), t.kinds[i], t.paths[i].c_str()});
        std::vector<const char *> bindings;
        for (const std::string &b : t.bindings)
            bindings.push_back(b.c_str());
        TesselRowsRequest request{};
        request.text = text[0];
        request.file = text[1];
        request.folder = text[2];
        request.pattern = text[3];
        if ((request.text != nullptr) + (request.file != nullptr) + (request.folder != nullptr) !=
            1) {
            // A NULL document has no rows.
            if (idxNum == 1 && request.text == nullptr) return SQLITE_OK;
            setError(vtab, "38X16", "give exactly one of doc, file and folder");
            return SQLITE_ERROR;
        }
        request.rowPath = t.rowPath.c_str();
        request.columns = columns.data();
        request.columnCount = static_cast<int>(columns.size());
        request.namespaces = bindings.data();
        request.namespaceCount = static_cast<int>(bindings.size());
        request.flags = t.flags;
        c->values.resize(static_cast<size_t>(kBatch) * columns.size() + 1);
        char state[6];
        char message[512];
        {
            CallLimits limits(t.db);
            if (tessel_rows_open(&request, &c->scan, state, message, sizeof message) != 0) {
                setError(vtab, state, message);
                return SQLITE_ERROR;
            }
        }
        return fetchBatch(vtab, *c);
    } catch (...) {
        return SQLITE_NOMEM;
    }
}

int rowsNext(sqlite3_vtab_cursor *cursor) {
    auto *c = reinterpret_cast<RowsCursor *>(cursor);
    ++c->rowid;
    if (++c->at < c->rows) return SQLITE_OK;
    return fetchBatch(cursor->pVtab, *c);
}

int rowsEof(sqlite3_vtab_cursor *cursor) {
    return reinterpret_cast<RowsCursor *>(cursor)->eof;
}

int rowsColumn(sqlite3_vtab_cursor *cursor, sqlite3_context *ctx, int column) {
    const auto *c = reinterpret_cast<RowsCursor *>(cursor);
    const size_t n = reinterpret_cast<RowsVtab *>(cursor->pVtab)->names.size();
    if (static_cast<size_t>(column) >= n) {
        const sqlite3_value *arg = c->args[static_cast<size_t>(column) - n];
        if (arg != nullptr) sqlite3_result_value(ctx, const_cast<sqlite3_value *>(arg));
        return SQLITE_OK;
    }
    if (c->eof) return SQLITE_OK;
    const TesselValue &v = c->values[static_cast<size_t>(c->at) * n + static_cast<size_t>(column)];
    if (v.isNull) return SQLITE_OK;
    switch (v.kind) {
    case TESSEL_ROWS_INTEGER:
    case TESSEL_ROWS_SMALLINT:
    case TESSEL_ROWS_BIGINT:
        sqlite3_result_int64(ctx, v.integer);
        break;
    case TESSEL_ROWS_DOUBLE:
    case TESSEL_ROWS_REAL:
        sqlite3_result_double(ctx, v.real);
        break;
    default:
        sqlite3_result_text64(ctx, v.text, v.length, SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    }
    return SQLITE_OK;
}

int rowsRowid(sqlite3_vtab_cursor *cursor, sqlite3_int64 *rowid) {
    *rowid = reinterpret_cast<RowsCursor *>(cursor)->rowid;
    return SQLITE_OK;
}

sqlite3_module makeRowsModule() {
    sqlite3_module m;
    memset(&m, 0, sizeof m);
    m.xCreate = rowsConnect;
    m.xConnect = rowsConnect;
    m.xBestIndex = rowsBestIndex;
    m.xDisconnect = rowsDisconnect;
    m.xDestroy = rowsDisconnect;
    m.xOpen = rowsOpen;
    m.xClose = rowsClose;
    m.xFilter = rowsFilter;
    m.xNext = rowsNext;
    m.xEof = rowsEof;
    m.xColumn = rowsColumn;
    m.xRowid = rowsRowid;
    return m;
}

} // namespace

const sqlite3_module kRowsModule = makeRowsModule();

} // namespace tessel::sqlite
