// A SQLite loadable extension that offers Tessel's routines in SQL: each scalar routine as a
// function and each table routine as a table-valued function, under the routine's own name.
// Every call goes through the host runtime's calling side, so the routines run exactly as the
// host runs them: first, normal and final calls on one scratchpad per statement.
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include "tesselSqlite.h"

#include "tarnCall.h"
#include "tesselCatalog.h"
#include "tesselVersion.h"

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

namespace tessel::sqlite {

namespace {

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
        for (const tessel::RoutineInfo &row : tessel::kCatalog) {
            if (!row.built) continue;
            void *entry = dlsym(handle, row.name);
            if (entry == nullptr) {
                lacking = row.name;
                break;
            }
            routines.push_back(
                Routine{tarn::RoutineDesc::of(row, entry), row.hasFileInput(), row.pure()});
        }
        dlclose(handle); // the extension's own link keeps the library loaded
        found = lacking.empty();
    });
    *missing = lacking;
    return found ? &routines : nullptr;
}

} // namespace

CallLimits::CallLimits(sqlite3 *db) : saved_(deadlineNs) {
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

CallLimits::~CallLimits() {
    deadlineNs = saved_;
    if (memorySet_) tarnRegistrySetForThread(TARN_REG_MAX_PARSE_MEMORY, nullptr);
}

namespace {

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
    rc = sqlite3_create_module_v2(db, "tessel_rows", &kRowsModule, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        *errorMessage = sqlite3_mprintf("cannot register tessel_rows: %s", sqlite3_errmsg(db));
        return rc;
    }
    if ((rc = registerSchemaFunctions(db)) != SQLITE_OK) {
        *errorMessage =
            sqlite3_mprintf("cannot register schema validation: %s", sqlite3_errmsg(db));
        return rc;
    }
    for (const Routine &r : *routines) {
        if (r.desc.table) {
            rc = sqlite3_create_module_v2(db, r.desc.name.c_str(), &kTableModule,
                                          const_cast<Routine *>(&r), nullptr);
        } else {
            int flags = SQLITE_UTF8 | (r.serverFiles ? SQLITE_DIRECTONLY : 0) |
                        (r.pure ? SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS : 0);
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

} // namespace tessel::sqlite

using namespace tessel::sqlite;

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
