// The SQLite extension's pieces shared by its sources: the routines it registers, the limits of
// a call, and the routines' values and status as SQLite's.
#pragma once

#include "tarnCall.h"

#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3

#include <cstdint>
#include <string>

namespace tessel::sqlite {

// A routine the library exports, described for the calling side.
struct Routine {
    tarn::RoutineDesc desc;
    bool serverFiles; // names server files: top-level SQL only (SQLITE_DIRECTONLY)
    bool pure;        // of its arguments alone: SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, so that
                      // indexes, generated columns and CHECK constraints may use it
};

// The limits of one routine call from its connection's, for the call's duration: the deadline,
// and the memory budget as the thread's registry value.
class CallLimits {
public:
    explicit CallLimits(sqlite3 *db);
    ~CallLimits();
    CallLimits(const CallLimits &) = delete;
    CallLimits &operator=(const CallLimits &) = delete;

private:
    int64_t saved_;
    bool memorySet_ = false;
};

// One SQL argument as a routine input; false when SQLite ran out of memory. With view, text
// is passed in SQLite's own buffer, valid for the call (a VARCHAR input, read to its NUL).
bool toInput(sqlite3_value *value, tarn::Input &input, bool view = false);
// "SQLSTATE <state>: <message>" (the state alone when the routine left no message), and when
// the message was cut to fit, "\nDETAIL: <the whole message>".
std::string errorText(const tarn::Outcome &outcome);
// Sets a function's result (or a table row's value) from what the routine returned.
void setResult(sqlite3_context *ctx, tarn::SqlType type, const tarn::Outcome &outcome);

// A scalar routine's SQL function (the Routine is the function's user data).
void callScalar(sqlite3_context *ctx, int argc, sqlite3_value **argv);
// The module of every table routine (the Routine is the module's client data).
extern const sqlite3_module kTableModule;
// The row scan's module tessel_rows (tesselSqliteRows.cpp).
extern const sqlite3_module kRowsModule;
// Registers the schema validation functions (tesselSqliteSchema.cpp).
int registerSchemaFunctions(sqlite3 *db);

} // namespace tessel::sqlite
