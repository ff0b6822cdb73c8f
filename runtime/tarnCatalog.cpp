// The host's message-catalog service, on the X/Open catalog calls.
#include "tarnRuntime.h"

#include <nl_types.h>

extern "C" {

TARN_API intptr_t tarnCatOpen(const char *name, int flag) {
    nl_catd cat = catopen(name, flag);
    return cat == reinterpret_cast<nl_catd>(-1) ? -1 : reinterpret_cast<intptr_t>(cat);
}

TARN_API const char *tarnCatGet(intptr_t handle, int set, int number, const char *deflt) {
    if (handle == 0 || handle == -1) return deflt;
    // catgets returns the default when the message is missing; a null default means "none".
    return catgets(reinterpret_cast<nl_catd>(handle), set, number, deflt);
}

TARN_API int tarnCatClose(intptr_t) {
    return 0;
}

TARN_API int tarnCatRelease(intptr_t handle) {
    if (handle == 0 || handle == -1) return 0;
    return catclose(reinterpret_cast<nl_catd>(handle));
}
}
