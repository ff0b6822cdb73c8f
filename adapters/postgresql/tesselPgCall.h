// The boundary between the PostgreSQL glue (tesselPg.cpp) and the C++ that runs the routines
// (tesselPgCall.cpp). Everything that crosses it is plain data, and every function is noexcept:
// an exception ends inside tesselPgCall.cpp as an outcome, and PostgreSQL's error jumps never
// cross a C++ frame, because the glue reports only after these calls have returned.
#pragma once

#include "tesselCatalog.h"

#include <cstddef>
#include <cstdint>

namespace tesselpg {

// One call site of one query: a statement of one routine, with its scratchpad.
struct Site;

// One argument: bytes in the database code page (not NUL-terminated), or NULL.
struct Arg {
    const char *data;
    size_t length;
    bool isNull;
};

// What a call left: its SQLSTATE and message, and the value. text points into the site and
// stays valid until the site's next call.
struct Outcome {
    char sqlstate[6];
    char message[128]; // without the routine's trailing newline
    const char *whole; // the message before it was cut to fit, or null; valid as text is
    bool isNull;
    const char *text; // VARCHAR, CHAR, CLOB, DATE, TIME, TIMESTAMP
    size_t textLength;
    double dbl;
    float real;
    int32_t integer;
    int16_t smallint;

    bool ok() const { return sqlstate[0] == '0' && sqlstate[1] == '0'; }
    bool warning() const { return sqlstate[0] == '0' && sqlstate[1] == '1'; }
    bool endOfTable() const { return sqlstate[0] == '0' && sqlstate[1] == '2'; }
    bool failed() const { return !ok() && !warning() && !endOfTable(); }
};

// Gives the server process what a host instance has, never overriding what the environment
// already says: TARNINSTANCE "tessel", TARNQAPPATH <dataDir>/tessel and TARNQAPTEMP
// <dataDir>/tessel/tmp (private directories, created with mode 0700 and used only when they
// belong to the server's user and nobody else can write them); and an application code page
// that can carry documents when ICU's default is plain ASCII (the C locale).
void prepareProcess(const char *dataDir) noexcept;

// The catalogue row of a built routine named name (case-insensitively), or null.
const tessel::RoutineInfo *findBuiltRoutine(const char *name) noexcept;

// A new statement of the routine for a database of the given code page (on a kept site when
// there is one); null with a reason in error when the library lacks the routine or memory runs
// out.
Site *createSite(const tessel::RoutineInfo &row, int32_t dbCodePage, char *error,
                 size_t errorSize) noexcept;
// Closes an open table, makes the final call and ends the site: it is kept, without its
// values, for a later statement of the same routine (a few per process), else freed. The
// outcomes of these last calls are dropped: they run when the query ends, even when it failed.
void destroySite(Site *site) noexcept;
// Frees the kept sites (at the end of the server process).
void releaseSites() noexcept;

// A scalar routine's call: first call, then normal calls.
void callScalar(Site &site, const Arg *args, Outcome &out) noexcept;
// A table routine: open() makes FIRST (once per site) and OPEN with the scan's arguments,
// fetch() one FETCH, close() CLOSE. A failed open or fetch has closed the table already.
void openTable(Site &site, const Arg *args, Outcome &out) noexcept;
void fetchRow(Site &site, Outcome &out) noexcept;
void closeTable(Site &site, Outcome &out) noexcept;
bool tableOpen(const Site &site) noexcept;

} // namespace tesselpg
