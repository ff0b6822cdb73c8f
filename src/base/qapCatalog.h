// Library-wide state: the lock with the message catalog handle, built at load and torn down at
// unload.
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
