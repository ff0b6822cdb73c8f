// The routine context's initialisation and release, and the program's layout of the host
// scratchpad that keeps the context between the calls of a statement.
#pragma once

#include "qapCtx.h"
#include "qapMsg.h"

#include <cstdint>

// The open table of a table function, as the scratchpad holds it between fetches: the table
// routines' scan is one.
class QapOpenTable {
public:
    virtual ~QapOpenTable() = default;
};

// The program's layout of the scratchpad's data area (zero-filled by the host).
struct QapScratch {
    QapRoutineCtx *ctx; // the routine context, or null
    char *dtdText;      // DTD text of the "2" variants, or null
    QapOpenTable *scan; // the open table of a table function, or null
};

// Initialises a freshly allocated context (null when the allocation failed). appEncoding names
// the application converter, or null for ICU's default. Returns 0, or a negative code with the
// SQLSTATE set; on failure everything acquired is released again.
int32_t qapInit(QapRoutineCtx *ctx, uint32_t callerKind, const void *dbinfo, QapStatus err,
                const char *appEncoding);

// Releases everything the context holds (the block itself stays allocated). Returns 0, or -58
// with "38X10" for a null context. A second release is harmless.
int32_t qapRelease(QapRoutineCtx *ctx, char *sqlstate);
