/* The runtime's test double hooks: calls that only tests make, to drop every locator or to make
 * the host fail on purpose. The runtime library defines them; nothing in production calls them. */
#ifndef TARN_TEST_HOOKS_H
#define TARN_TEST_HOOKS_H

#include "tarnRuntime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The locator service call after `calls` successful ones fails with hostCode (once). */
TARN_API void tarnLobFailAfter(int32_t calls, int32_t hostCode);
/* The first read or append after `calls` successful locator service calls moves one byte fewer
 * than asked and still reports success (once); a negative count cancels it. */
TARN_API void tarnLobShortAfter(int32_t calls);
/* Drops every locator. */
TARN_API void tarnLobReset(void);
/* Makes the three XML start-up calls report a failure with this code and message; code 0
 * returns to the real answer. */
TARN_API void tarnXmlInitSimulate(int32_t code, const char16_t *message);

#ifdef __cplusplus
}
#endif

#endif
