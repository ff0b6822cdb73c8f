// Library-wide state: the lock with the message catalog handle (built at load, torn down at
// unload), and the parser start-up check made on every routine's first call.
#pragma once

#include "qapMsg.h"
#include "qapPlatform.h"

#include <cstdint>

struct QapRoutineCtx;

// The one library-wide object.
struct QapLibLock {
    uint8_t initialised; // 1 once the lock exists
    QapMutex lock;       // serialises catalog opening and fetching
    intptr_t catalog;    // 0 not opened yet, -1 failed, else the open catalog
};
extern QapLibLock qapLibLock;

// Opens the message catalog once per process (cached, failure included); the handle or -1.
intptr_t qapCatOpen(const char *name, int flag);
// Fetches a text from the catalog, or null.
const char *qapCatGet(intptr_t handle, int set, int number);
// Does nothing: the catalog stays open until unload. Returns 0.
int qapCatClose(intptr_t handle);

// 0 when the parser can be used; -1 with "38X13" and QAPG001E or QAPQ047E on a start-up failure.
int32_t qapInitializeParser(QapRoutineCtx *ctx, QapStatus err);
// Writes the trace line "Exit" and returns 0: nothing is shut down per routine.
int32_t qapTerminateParser(QapRoutineCtx *ctx);
