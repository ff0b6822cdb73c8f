// Message and SQLSTATE tables: every failure a routine reports is told by a message number,
// which selects a text (formatted into the routine's message text) and an SQLSTATE and code.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

struct QapRoutineCtx;

constexpr int32_t kMsgRows = 182;

// Message numbers that the library issues, named by their message ids.
enum QapMsgNo : int32_t {
    QAPA068I = 62, // trace turned on
    QAPA069I = 63, // trace turned off
    QAPC000E = 72, // unable to open the specified file
    QAPC001E = 73, // the specified file is not found
    QAPC002E = 74, // unable to read file
    QAPC003E = 75, // unable to write to the specified file
    QAPC004E = 76, // unable to operate the LOB locator: rc=%s
    QAPC005E = 77, // input file size is greater than XMLVarchar size
    QAPC006E = 78, // input file exceeds the LOB limit
    QAPC007E = 79,
    QAPC008E = 80, // can not remove the file %s
    QAPC009E = 81, // unable to create file to %s directory
    QAPC010E = 82,
    QAPC011E = 83, // unable to write to the trace control file
    QAPC012E = 84,
    QAPC013E = 85, // results exceed the size limit
    QAPD000E = 86, // an invalid XML document is rejected
    QAPD001E = 87, // %s occurs multiple times
    QAPD002E = 88, // syntax error near position %s in the search path
    QAPD003W = 89, // path not found, null is returned
    QAPG000E = 90,
    QAPG001E = 91, // internal error in build %s, file %s, line %s
    QAPG002E = 92, // out of memory
    QAPG004E = 93, // invalid null parameter
    QAPG005E = 94,
    QAPG006E = 95,
    QAPG007E = 96,
    QAPG008E = 97, // locale %s is not supported
    QAPG017E = 106,
    QAPM001W = 107,
    QAPQ047E = 154, // parser error on line %s column %s: %s
    QAPQ055E = 162, // ICU error: %s
    QAPQ061E = 168, // the format of the string is invalid
    QAPQ070E = 177, // cannot open trace file %s for output
};

// A row of the built-in message table.
struct QapMessageRow {
    const char *text;
    char sqlstate[6];
    int32_t code;
};

// The built-in message table (row = message number).
extern const QapMessageRow kMessages[kMsgRows];

// Text identifying this build, for the internal-error messages.
extern const char kBuildStamp[];

// Formats message msgNo with its arguments into out. With a context of caller kind 0 (every
// routine) out is a routine's message text: at most 70 characters, the last a newline, and
// the offset is not used. Otherwise the text goes at out + offset into a 1024-character
// output: out must then hold 1025 bytes. Returns the characters placed, 0 when there is no
// room, or -1 for a negative message number.
int qapVsprint(QapRoutineCtx *ctx, char *out, int32_t msgNo, int32_t offset, va_list args);
// The calling thread's last routine message in full, as handed to the host before it was cut
// (for a failure told again at a later call).
const char *qapLastWholeMessage();
// Copies a whole message text into to, or empties it when memory runs out: the cut message
// alone will have to do.
void qapKeepWhole(std::string &to, const char *text) noexcept;

// A routine's status: where its SQLSTATE and message text go, the routine's own output
// arguments.
struct QapStatus {
    char *sqlstate;
    char *msgtext;
};

// A failure as one value: its SQLSTATE (the message's own) and its message text, formatted when
// it arose. The one exception type that code below the frame throws; the frame (QapCall) tells
// one that reaches it as the routine's SQLSTATE and message.
class QapError {
public:
    QapError(QapRoutineCtx *ctx, int32_t msgNo, ...);
    const char *state() const { return state_; }
    const char *text() const { return text_; }
    // Sets a routine's SQLSTATE and message text from the failure.
    void tell(QapStatus status) const;

private:
    char state_[6];
    char text_[1028];
};

// Formats message msgNo into a routine's message text (offset 0). Pass the routine's context:
// without one the text is not cut to 70 characters (out must hold 1025 bytes).
int qapSetMsg(QapRoutineCtx *ctx, char *msgtext, int32_t msgNo, ...);

// Sets a routine's SQLSTATE and message text in one step, the state from the message table.
int qapSetError(QapRoutineCtx *ctx, QapStatus status, int32_t msgNo, ...);

// As qapSetError, for the few failures whose SQLSTATE is not the message's own (an internal or
// parser message told as a parse failure, a temporary file that cannot be created as memory).
int qapSetErrorAs(QapRoutineCtx *ctx, QapStatus status, const char *state, int32_t msgNo, ...);

// Copies a five-character SQLSTATE into a routine's SQLSTATE argument.
void qapSetState(char *sqlstate, const char *state);

// True for "00000" and for warnings ("01...").
bool qapStateIsOk(const char *sqlstate);

// Turns an SQLSTATE back into the program's code.
void qapStateToCode(QapRoutineCtx *ctx, int32_t *code, const char *sqlstate);
