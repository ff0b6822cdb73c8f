/* The host runtime that the SQL engine adapters run on: it defines every service of the host
 * contract (tesselHost.h) and adds the host-side calls an engine needs to feed it. C linkage
 * throughout. */
#ifndef TARN_RUNTIME_H
#define TARN_RUNTIME_H

#include "tesselHost.h"

#define TARN_API TESSEL_HOST_API

#ifdef __cplusplus
extern "C" {
#endif

/* Failure codes of the locator services (the host's codes carry no further meaning). */
#define TARN_LOB_NULL_ARGUMENT (-1001)   /* a required pointer is null */
#define TARN_LOB_UNKNOWN_LOCATOR (-1002) /* the locator designates no value */
#define TARN_LOB_OUT_OF_RANGE (-1003)    /* a position, count or length outside the value */
#define TARN_LOB_WRONG_TYPE (-1004)      /* a locator type other than 404 */
#define TARN_LOB_READ_ONLY (-1005)       /* an append to a locator not made by create_locator */
#define TARN_LOB_NO_MEMORY (-1006)       /* the host ran out of memory */

/* ---- LOB locators ------------------------------------------------------------------------ */

/* A new locator holding a copy of the bytes. */
TARN_API uint32_t tarnLobFromBytes(const char *bytes, int32_t length);
/* The length of any locator's value, *bytes pointing at it; -1 for an unknown locator. */
TARN_API int32_t tarnLobBytes(uint32_t locator, const char **bytes);
/* Drops one locator; unknown locators are ignored. */
TARN_API void tarnLobFree(uint32_t locator);

/* ---- Registry values --------------------------------------------------------------------- */

/* sqloGetEnv answers a value set for the calling thread first; unless set by tarnRegistrySet,
 * 373 to 376 take the environment variables TARN_READ_ACCESS, TARN_WRITE_ACCESS,
 * TARN_EXTERNAL_ENTITIES and TARN_MAX_PARSE_MEMORY. */
/* Sets a registry value; NULL removes it (the environment fallback then applies again). */
TARN_API void tarnRegistrySet(int32_t id, const char *value);
/* Sets a value for the calling thread only, over the process's (as a host sets a session's
 * value around the calls of that session); NULL removes it. */
TARN_API void tarnRegistrySetForThread(int32_t id, const char *value);

/* ---- Whole diagnostics ------------------------------------------------------------------- */

/* The calling thread's last whole message (tarnSetDiagnostic), "" when none. */
TARN_API const char *tarnDiagnostic(void);

/* ---- Cancellation ------------------------------------------------------------------------ */

/* The engine's answer to "has the running statement been cancelled?": nonzero when it has. The
 * check must only look, never act (no signals handled, no jumps). NULL restores the default,
 * which never reports a cancel. tarnStatementCancelled asks it. */
typedef int (*TarnCancelCheck)(void);
TARN_API void tarnSetCancelCheck(TarnCancelCheck check);

#ifdef __cplusplus
}
#endif

#endif
