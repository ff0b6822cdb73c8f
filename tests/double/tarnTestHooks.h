/* The test double's hooks: calls that only tests make, to make the host fail on purpose. The
 * test library (tests/double) defines them; the runtime has none of them. */
#ifndef TARN_TEST_HOOKS_H
#define TARN_TEST_HOOKS_H

#include "tarnRuntime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The locator service call after `calls` successful ones fails with hostCode (once); a negative
 * count or a zero code cancels it. */
TARN_API void tarnLobFailAfter(int32_t calls, int32_t hostCode);
/* The first read or append after `calls` successful locator service calls moves one byte fewer
 * than asked and still reports success (once); a negative count cancels it. */
TARN_API void tarnLobShortAfter(int32_t calls);
/* Cancels an armed failure and an armed short transfer. */
TARN_API void tarnLobDisarm(void);
/* Makes the three XML start-up calls report a failure with this code and message; code 0
 * returns to the real answer. */
TARN_API void tarnXmlInitSimulate(int32_t code, const char16_t *message);

#ifdef __cplusplus
}
#endif

#endif
