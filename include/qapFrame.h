// The frame every scalar routine runs in: the scratchpad's context is created on the first
// call, used by the normal calls, and released on the final call or on a failed first call.
//
//   QapScratch *scratch = qapScratchOf(scratchpad);
//   QapRoutineCtx *ctx = qapFrameBegin(scratch, *callType, dbinfo, sqlstate, msgtext, "name");
//   if (ctx == nullptr) return;            // final call done, or no usable context
//   ... the work: output, null indicator, SQLSTATE ...
//   qapFrameEnd(scratch, *callType, sqlstate);
#pragma once

#include "qapCtx.h"
#include "tarn.h"

#include <cstdint>

static_assert(sizeof(QapScratch) <= SQLUDF_SCRATCHPAD_LEN, "QapScratch outgrows the scratchpad");

// The program's record in the host scratchpad's data area.
inline QapScratch *qapScratchOf(sqludf_scratchpad *scratchpad) {
    return reinterpret_cast<QapScratch *>(scratchpad->data);
}

// Starts a call. Final call (1): traces "final call <sqlstate>", drops the context and the DTD
// text, and returns null. First call (-1): allocates a zero-filled context into the
// scratchpad and initialises it (caller kind 0, ICU's default application converter); returns
// null when that fails, with the SQLSTATE from qapInit (the block stays for the final call).
// Normal call (0): returns the scratchpad's context, null when there is none or its
// initialisation failed. A null result means: return with the output NULL.
QapRoutineCtx *qapFrameBegin(QapScratch *scratch, int32_t callType, const void *dbinfo,
                             char *sqlstate, char *msgtext, const char *routineName);

// Ends a call: a first call that ends with an error state (neither "00000" nor "01...") drops
// the context and the DTD text, so the final call finds nothing to do.
void qapFrameEnd(QapScratch *scratch, int32_t callType, const char *sqlstate);

// Releases and frees the scratchpad's context and frees its DTD text; both become null.
void qapFrameDrop(QapScratch *scratch);
