// The frame every exported routine runs in, whatever its family. A family source defines its
// members from the routine catalogue (qapMembers.h); each member hands its arguments to
// qapRunMember, which maps the host's call type to a phase, keeps the routine context in the
// scratchpad from the first call to the final one, and makes sure that no exception reaches the
// host.
#pragma once

#include "qapCtx.h"
#include "qapFile.h"
#include "qapInit.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "tesselHost.h"
#include "tesselCatalog.h"

#include <array>
#include <cstdint>
#include <new>

static_assert(sizeof(QapScratch) <= SQLUDF_SCRATCHPAD_LEN, "QapScratch outgrows the scratchpad");

// What a call is for. Scalar routines: -1 first (which also does the work), 0 a normal call
// (the work: fetch the one value), 1 final. Table routines: -2 first, -1 open, 0 fetch,
// 1 close, 2 final.
enum class QapPhase { FIRST, OPEN, FETCH, CLOSE, FINAL, UNKNOWN };

QapPhase qapPhaseOf(tessel::Kind kind, int32_t callType);

// The arguments of one call of an exported routine, as the host passed them.
struct QapArgs {
    std::array<const void *, 3> in; // the inputs: NUL-terminated text, or a locator's address
    std::array<int16_t *, 3> ind;   // their null indicators
    void *out;
    int16_t *outInd;
    char *sqlstate;
    char *msgtext;
    sqludf_scratchpad *scratchpad;
    int32_t callType;
    const void *dbinfo;
};

// One call: the routine's catalogue row, its arguments, the phase and the routine context.
class QapCall {
public:
    QapCall(const tessel::RoutineInfo &routine, const QapArgs &args);

    const tessel::RoutineInfo &routine;
    const QapArgs &args;
    const QapPhase phase;
    QapScratch *const scratch;
    QapRoutineCtx *ctx = nullptr; // set once the call has a usable context

    const char *name() const { return routine.name; }
    // The SQLSTATE and message text arguments as one status.
    QapStatus err() const { return status_; }
    const char *text(int i) const { return static_cast<const char *>(args.in[i]); }
    sqludf_locator *locator(int i) const {
        return static_cast<sqludf_locator *>(const_cast<void *>(args.in[i]));
    }
    bool isNull(int i) const { return args.ind[i] != nullptr && *args.ind[i] < 0; }
    bool anyNull() const;
    template <class T> T *out() const { return static_cast<T *>(args.out); }
    void setNull(bool null) const { *args.outInd = null ? -1 : 0; }

    // Fails with message msgNo and its SQLSTATE from the message table. Returns -1.
    template <class... A> int32_t fail(QapMsgNo msgNo, A... arguments) {
        qapSetError(ctx, err(), msgNo, arguments...);
        return -1;
    }
    // Fails with the host's code of a locator operation (QAPC004E). Returns -1.
    int32_t failLob(int rc);

    // The first call creates and initialises the context (appEncoding names the application
    // code page, null for ICU's default); the final call releases it. True when the call goes
    // on with a usable context.
    bool start(const char *appEncoding = nullptr);
    // The DTD text of a "2" variant, read from the locator on the first call and kept in the
    // scratchpad until the final call. 0, or nonzero with the SQLSTATE set.
    int32_t fetchDtd(sqludf_locator *dtd);
    // The one gate of every input that names a server file: a file the routine reads is
    // checked against the allowed-files rule and opened (opened(i)), one it writes is checked
    // and its directory held (target(i)). NULL names open nothing, and an empty name's refusal
    // is left to the step that uses it, unless nullsToo: then both are checked as empty names,
    // which only ANY allows. Checked on every call, since every row may name another file. 0,
    // or -1 with the SQLSTATE and message set when the rule refuses a name; any other failure
    // to open is told by the step that reads or writes the file.
    int32_t checkFiles(bool nullsToo = false);
    QapOpenFile &opened(int i) { return opened_[i]; }
    const QapWriteTarget &target(int i) const { return targets_[i]; }
    // Releases the context and the DTD text held in the scratchpad.
    void drop();

    // The work of a call inside the boundary of the exported routine: the output starts empty
    // and NULL, and an exception becomes an SQLSTATE (a QapError its own, with its message). A
    // scalar first call that ends in error releases the context.
    template <class Body> void run(Body body) noexcept;

private:
    const QapStatus status_;
    std::array<QapOpenFile, 3> opened_;
    std::array<QapWriteTarget, 3> targets_;
    void clearOutput() const;
    void caught() noexcept;
    void end();
};

template <class Body> void QapCall::run(Body body) noexcept {
    clearOutput();
    try {
        body();
    } catch (...) {
        caught();
    }
    end();
}

// Runs member Id of a family: Family::call<Id>(QapCall &) does the member's work.
template <class Family, tessel::RoutineId Id> void qapRunMember(const QapArgs &args) noexcept {
    QapCall call(tessel::routine(Id), args);
    call.run([&] { Family::template call<Id>(call); });
}
