/* The Tarn host stand-in: every host service that Tessel imports, plus the host-side calls
 * that tests and SQL engine adapters use. C linkage throughout. */
#ifndef TARN_H
#define TARN_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#if defined(TARN_BUILDING_HOST)
#define TARN_API __attribute__((visibility("default")))
#else
#define TARN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Routine calling convention ---------------------------------------------------------- */

/* A LOB locator: a 32-bit value owned by the host. */
typedef uint32_t sqludf_locator;

/* The scratchpad a routine receives: a 32-bit length word and 100 data bytes. The host places
 * it so that the data area is 8-byte aligned (the routines keep pointers there). */
#define SQLUDF_SCRATCHPAD_LEN 100
struct sqludf_scratchpad {
    int32_t length;
    char data[SQLUDF_SCRATCHPAD_LEN];
};

/* The database-information record: 1024 bytes; the database code page is the 32-bit word at
 * byte offset 268. */
#define SQLUDF_DBINFO_LEN 1024
#define SQLUDF_DBINFO_CODEPAGE_OFFSET 268

/* Call types. */
#define SQLUDF_FIRST_CALL (-1)
#define SQLUDF_NORMAL_CALL 0
#define SQLUDF_FINAL_CALL 1
#define SQL_TF_FIRST (-2)
#define SQL_TF_OPEN (-1)
#define SQL_TF_FETCH 0
#define SQL_TF_CLOSE 1
#define SQL_TF_FINAL 2

/* ---- LOB locator services (routine side) ------------------------------------------------- */

/* Each returns 0 on success and a nonzero host code on failure. */
TARN_API int sqludf_length(sqludf_locator *loc, int32_t *length);
TARN_API int sqludf_substr(sqludf_locator *loc, int32_t start, int32_t count, unsigned char *buf,
                           int32_t *returned);
/* Creates an empty result locator (type 404) and stores it in **output. */
TARN_API int sqludf_create_locator(int type, sqludf_locator **output);
TARN_API int sqludf_append(sqludf_locator *loc, unsigned char *buf, int32_t length,
                           int32_t *appended);

#define SQLUDF_LOCATOR_TYPE_CLOB 404

/* Failure codes of the locator services (the host's codes carry no further meaning). */
#define TARN_LOB_NULL_ARGUMENT (-1001)   /* a required pointer is null */
#define TARN_LOB_UNKNOWN_LOCATOR (-1002) /* the locator designates no value */
#define TARN_LOB_OUT_OF_RANGE (-1003)    /* a position, count or length outside the value */
#define TARN_LOB_WRONG_TYPE (-1004)      /* a locator type other than 404 */
#define TARN_LOB_READ_ONLY (-1005)       /* an append to a locator not made by create_locator */
#define TARN_LOB_NO_MEMORY (-1006)       /* the host ran out of memory */

/* ---- LOB locators (host side) ------------------------------------------------------------ */

/* A new locator holding a copy of the bytes. */
TARN_API uint32_t tarnLobFromBytes(const char *bytes, int32_t length);
/* The length of any locator's value, *bytes pointing at it; -1 for an unknown locator. */
TARN_API int32_t tarnLobBytes(uint32_t locator, const char **bytes);
/* The locator service call after `calls` successful ones fails with hostCode (once). */
TARN_API void tarnLobFailAfter(int32_t calls, int32_t hostCode);
/* Drops every locator. */
TARN_API void tarnLobReset(void);
/* Drops one locator; unknown locators are ignored. */
TARN_API void tarnLobFree(uint32_t locator);

/* ---- Registry values --------------------------------------------------------------------- */

#define TARN_REG_READ_ACCESS 373
#define TARN_REG_WRITE_ACCESS 374
/* "YES": parses may read external entities from server files the read-access rule allows. */
#define TARN_REG_EXTERNAL_ENTITIES 375
/* The heap one parse may hold, in bytes as a decimal number ("0": no limit; unset or not a
 * number: 256 MiB). */
#define TARN_REG_MAX_PARSE_MEMORY 376

/* The value of a registry entry as a heap string (the caller frees it with free()), or NULL
 * when the entry has no value. A value set for the calling thread comes first; unless set by
 * tarnRegistrySet, 373 to 376 take the environment variables TARN_READ_ACCESS,
 * TARN_WRITE_ACCESS, TARN_EXTERNAL_ENTITIES and TARN_MAX_PARSE_MEMORY. */
TARN_API char *sqloGetEnv(int32_t id);
/* Sets a registry value; NULL removes it (the environment fallback then applies again). */
TARN_API void tarnRegistrySet(int32_t id, const char *value);
/* Sets a value for the calling thread only, over the process's (as a host sets a session's
 * value around the calls of that session); NULL removes it. */
TARN_API void tarnRegistrySetForThread(int32_t id, const char *value);

/* ---- Whole diagnostics ------------------------------------------------------------------- */

/* A routine's message text is cut to 70 bytes. The routine hands the host each message whole as
 * well, and the host keeps the last one of the calling thread until it is replaced or cleared:
 * the calling side reads it after a call, for the engine's error detail. NULL clears it. */
TARN_API void tarnSetDiagnostic(const char *text);
/* The calling thread's last whole message, "" when none. */
TARN_API const char *tarnDiagnostic(void);

/* ---- Cancellation ------------------------------------------------------------------------ */

/* The host's answer to "has the running statement been cancelled?": nonzero when it has. The
 * check must only look, never act (no signals handled, no jumps). NULL restores the default,
 * which never reports a cancel. */
typedef int (*TarnCancelCheck)(void);
TARN_API void tarnSetCancelCheck(TarnCancelCheck check);
/* Asks the installed check; 0 when none is installed. */
TARN_API int tarnStatementCancelled(void);

/* ---- XML start-up ------------------------------------------------------------------------ */

/* Nonzero when the parser and the converter library started. Starts them once per process. */
TARN_API int isSharedLibInitSuccess(void);
TARN_API int getLastErrorCode(void);
/* NUL-terminated UTF-16 text owned by the host. */
TARN_API const char16_t *getLastErrorMessage(void);
/* Makes the three calls report a start-up failure with this code and message; code 0 returns
 * to the real answer. */
TARN_API void tarnXmlInitSimulate(int32_t code, const char16_t *message);

/* ---- Message catalog --------------------------------------------------------------------- */

/* X/Open message catalog access. Open returns a handle, or -1 when the catalog cannot be
 * opened. Get returns the text or NULL. Close does nothing and returns 0 (the catalog stays
 * open); tarnCatRelease really closes it. */
TARN_API intptr_t tarnCatOpen(const char *name, int flag);
TARN_API const char *tarnCatGet(intptr_t handle, int set, int number, const char *deflt);
TARN_API int tarnCatClose(intptr_t handle);
TARN_API int tarnCatRelease(intptr_t handle);

#ifdef __cplusplus
}
#endif

#endif
