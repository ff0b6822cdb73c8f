/* The host contract: the routine calling convention and every host service that Tessel imports.
 * The library only declares these; a host process that defines them provides them, and the
 * host runtime (libtessel_runtime, which the library links) does otherwise. C linkage
 * throughout. */
#ifndef TESSEL_HOST_H
#define TESSEL_HOST_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

/* Host services are resolved from the process, whoever defines them. */
#define TESSEL_HOST_API __attribute__((visibility("default")))

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

/* ---- LOB locator services ---------------------------------------------------------------- */

/* Each returns 0 on success and a nonzero host code on failure. */
TESSEL_HOST_API int sqludf_length(sqludf_locator *loc, int32_t *length);
TESSEL_HOST_API int sqludf_substr(sqludf_locator *loc, int32_t start, int32_t count,
                                  unsigned char *buf, int32_t *returned);
/* Creates an empty result locator (type 404) and stores it in **output. */
TESSEL_HOST_API int sqludf_create_locator(int type, sqludf_locator **output);
TESSEL_HOST_API int sqludf_append(sqludf_locator *loc, unsigned char *buf, int32_t length,
                                  int32_t *appended);

#define SQLUDF_LOCATOR_TYPE_CLOB 404

/* ---- Registry values --------------------------------------------------------------------- */

#define TARN_REG_READ_ACCESS 373
#define TARN_REG_WRITE_ACCESS 374
/* "YES": parses may read external entities from server files the read-access rule allows. */
#define TARN_REG_EXTERNAL_ENTITIES 375
/* The heap one parse may hold, in bytes as a decimal number ("0": no limit; unset or not a
 * number: 256 MiB). */
#define TARN_REG_MAX_PARSE_MEMORY 376

/* The value of a registry entry as a heap string (the caller frees it with free()), or NULL
 * when the entry has no value. */
TESSEL_HOST_API char *sqloGetEnv(int32_t id);

/* ---- Whole diagnostics ------------------------------------------------------------------- */

/* A routine's message text is cut to 70 bytes. The routine hands the host each message whole as
 * well, and the host keeps the last one of the calling thread until it is replaced or cleared,
 * for the engine's error detail. NULL clears it. */
TESSEL_HOST_API void tarnSetDiagnostic(const char *text);

/* ---- Cancellation ------------------------------------------------------------------------ */

/* Nonzero when the running statement has been cancelled. Only looks, never acts. */
TESSEL_HOST_API int tarnStatementCancelled(void);

/* ---- XML start-up ------------------------------------------------------------------------ */

/* Nonzero when the parser and the converter library started. Starts them once per process. */
TESSEL_HOST_API int isSharedLibInitSuccess(void);
TESSEL_HOST_API int getLastErrorCode(void);
/* NUL-terminated UTF-16 text owned by the host. */
TESSEL_HOST_API const char16_t *getLastErrorMessage(void);

/* ---- Message catalog --------------------------------------------------------------------- */

/* X/Open message catalog access. Open returns a handle, or -1 when the catalog cannot be
 * opened. Get returns the text or NULL. Close does nothing and returns 0 (the catalog stays
 * open); tarnCatRelease really closes it. */
TESSEL_HOST_API intptr_t tarnCatOpen(const char *name, int flag);
TESSEL_HOST_API const char *tarnCatGet(intptr_t handle, int set, int number, const char *deflt);
TESSEL_HOST_API int tarnCatClose(intptr_t handle);
TESSEL_HOST_API int tarnCatRelease(intptr_t handle);

#ifdef __cplusplus
}
#endif

#endif
