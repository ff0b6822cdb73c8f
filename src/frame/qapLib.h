// The check of the host's parser start-up, made on every routine's first call.
#pragma once

#include "qapMsg.h"

#include <cstdint>

struct QapRoutineCtx;

// 0 when the parser can be used; -1 with "38X13" and QAPG001E or QAPQ047E on a start-up failure.
int32_t qapInitializeParser(QapRoutineCtx *ctx, QapStatus err);
// Writes the trace line "Exit" and returns 0: nothing is shut down per routine.
int32_t qapTerminateParser(QapRoutineCtx *ctx);
