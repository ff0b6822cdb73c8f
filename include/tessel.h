/* Tessel's exported routines, as the host engine calls them.
 *
 * Calling convention: the host passes every argument by address and the routine returns
 * nothing. After the SQL inputs come the output, one null indicator per input, the output's
 * null indicator (0 a value, -1 NULL), the SQLSTATE (five characters and a NUL), the function
 * name and specific name (not read), the message text (70 characters and a NUL), the
 * statement's scratchpad, the call type (scalar routines: -1 first, 0 normal, 1 final; table
 * routines: -2 first, -1 open, 0 fetch, 1 close, 2 final) and the database-information record
 * (the code page is the 32-bit word at byte 268). VARCHAR and CHAR values are NUL-terminated
 * text in the database code page; a CLOB is the address of a LOB locator. Outputs: VARCHAR and
 * CHAR their declared length + 1 bytes, DATE 11, TIME 9, TIMESTAMP 27, a locator for CLOB,
 * double, float, int32_t, int16_t.
 *
 * Every routine is one row of the catalogue (tesselCatalog.h), which declares it here. */
#ifndef TESSEL_H
#define TESSEL_H

#include "tesselHost.h"
#include "tesselCatalog.h"

#include <stdint.h>

#define TESSEL_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

TESSEL_CATALOG(TESSEL_DECLARE)

#ifdef __cplusplus
}
#endif

#endif
