// The calling side of the routine convention: runs a routine statement the way the Tarn host
// does (first, normal and final calls for scalar routines; FIRST, OPEN, FETCH, CLOSE, FINAL
// for table routines), passing every argument by address. Used by tests and SQL adapters.
#pragma once

#include "tarnRuntime.h"
#include "tesselCatalog.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarn {

// Kinds of SQL inputs and outputs a routine can have.
using SqlType = tessel::SqlType;

// What the calling side needs to know about a routine. The statements' constructors throw
// std::invalid_argument for a routine they cannot call (no entry, more than 3 inputs, an input
// that is not text or a CLOB, a VARCHAR or CHAR output without a length).
struct RoutineDesc {
    std::string name;
    void *entry = nullptr;       // the routine's address
    std::vector<SqlType> inputs; // 0 to 3 inputs
    SqlType output = SqlType::VARCHAR;
    int32_t outputLength = 0; // declared length of a VARCHAR or CHAR output
    bool table = false;       // a table routine

    // The description of a catalogued routine found at entry.
    TARN_API static RoutineDesc of(const tessel::RoutineInfo &routine, void *entry);
};

// One SQL input value. A Clob input is passed as a new host locator holding the text. A text
// input is passed from the caller's string for one call (copied for an open table's rows); a
// sanitizer build copies it into a heap block of its own size made for the call, so that a read
// beyond it or after the call is caught. A view passes the caller's own NUL-terminated text as it
// is, as a host passes its row buffer (the caller keeps it alive and unchanged through every call
// that uses it, a table's to its CLOSE).
struct Input {
    bool isNull = false;
    std::string text;
    const char *view = nullptr; // when set, the text passed instead of text
    static Input null() {
        Input i;
        i.isNull = true;
        return i;
    }
    static Input of(const char *t) {
        Input i;
        i.view = t;
        return i;
    }
    Input() = default;
    Input(const char *t) : text(t) {}
    Input(std::string t) : text(std::move(t)) {}
};

// The outcome of one call.
struct Outcome {
    std::string sqlstate; // five characters
    std::string message;  // the message text as the routine left it
    std::string whole;    // the message before it was cut to fit, when it was cut; else empty
    int16_t nullInd = -1; // the output null indicator
    std::string text;     // Varchar/Char/Date/Time/Timestamp output, or a Clob result's bytes
    double dbl = 0;
    float real = 0;
    int32_t integer = 0;
    int16_t smallint = 0;
    uint32_t locator = 0; // a Clob result's locator (dropped after the call)
    bool isNull() const { return nullInd < 0; }
    bool ok() const { return sqlstate == "00000"; }
    bool endOfTable() const { return is("02000"); }
    // An error: anything but success, a warning or the end of a table.
    bool failed() const {
        return !is("00000") && !endOfTable() && sqlstate.compare(0, 2, "01") != 0;
    }
    bool is(const char (&state)[6]) const {
        const char *s = sqlstate.data();
        return sqlstate.size() == 5 && s[0] == state[0] && s[1] == state[1] && s[2] == state[2] &&
               s[3] == state[3] && s[4] == state[4];
    }
};

// What both statement kinds share: the routine, its scratchpad and one call at a time. The
// destructor finishes an unfinished statement.
class TARN_API Statement {
public:
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // The final call (1 for a scalar routine, FINAL for a table), when the statement started.
    Outcome finish();
    // Low-level: one call of the given call type with the given inputs; the second form puts
    // the outcome into an earlier one, reusing its buffers.
    Outcome callAs(int32_t callType, const std::vector<Input> &inputs);
    void callAs(int32_t callType, const std::vector<Input> &inputs, Outcome &into);
    // The statement's scratchpad data area (100 bytes), for tests that look inside it.
    char *scratchData();
    bool started() const;

protected:
    Statement(RoutineDesc desc, int32_t dbCodePage, bool table);
    ~Statement();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// One statement of a scalar routine: the first call() is call type -1, later calls are 0;
// finish() makes the final call (1).
class TARN_API ScalarStatement : public Statement {
public:
    explicit ScalarStatement(RoutineDesc desc, int32_t dbCodePage = 1208)
        : Statement(std::move(desc), dbCodePage, false) {}
    Outcome call(const std::vector<Input> &inputs);
};

// One statement of a table routine. run() makes FIRST (once per statement), OPEN, FETCH until
// "02000" or an error, CLOSE; finish() makes FINAL.
struct TableRun {
    std::vector<Outcome> rows; // the fetched rows (SQLSTATE "00000" or a warning)
    Outcome end;               // the call that ended the run ("02000" or an error)
};

class TARN_API TableStatement : public Statement {
public:
    explicit TableStatement(RoutineDesc desc, int32_t dbCodePage = 1208)
        : Statement(std::move(desc), dbCodePage, true) {}

    TableRun run(const std::vector<Input> &inputs);
    // One step at a time: open() makes FIRST (once per statement) and OPEN, fetch() one FETCH,
    // close() CLOSE.
    Outcome open(const std::vector<Input> &inputs);
    Outcome fetch(const std::vector<Input> &inputs);
    // A FETCH into the row of the previous one, as a host reads rows into one buffer.
    void fetch(const std::vector<Input> &inputs, Outcome &row);
    Outcome close(const std::vector<Input> &inputs);
};

// The libtessel.so a module (an SQL engine adapter) was linked with: the copy already loaded,
// else the one next to the module that contains anchor (an address in it). Null when neither is
// loaded. The caller closes it with dlclose.
TARN_API void *libraryHandle(const void *anchor);

// True when dir is a directory that only this user can write (created with mode 0700 when
// missing), inside a parent that others cannot rename it out of: owned by this user or root,
// and writable by no one else unless sticky.
TARN_API bool privateDirectory(const std::string &dir);

// Makes UTF-8 ICU's default converter (the application code page) when the default is plain
// ASCII, as in the C locale, so that documents in files can carry any character.
TARN_API void useUtf8WhenAscii();

} // namespace tarn
