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

/* ---- Validation against an XML Schema ------------------------------------------------------
 *
 * Beyond the catalogue. A call object stands for one statement: it keeps the schema it loaded
 * last (by its text, or by its file name), so that the rows of a statement parse the schema
 * once. One thread at a time per call object. Texts are UTF-8 (the database code page 1208).
 * With TESSEL_SCHEMA_DOC_FILE or TESSEL_SCHEMA_XSD_FILE in flags the document or the schema is
 * a server file that the read-access rule allows (the schema's includes and imports too); a
 * schema given as text reads no other schema document. Documents' xsi:schemaLocation hints are
 * read only when the host allows external entities. No exception leaves these functions. */
typedef struct tessel_schema_call tessel_schema_call;

/* A call's outcome: SQLSTATE "00000" for success, and the routines' 70-byte message text. */
typedef struct tessel_status {
    char sqlstate[6];
    char message[71];
} tessel_status;

#define TESSEL_SCHEMA_DOC_FILE 1u
#define TESSEL_SCHEMA_XSD_FILE 2u

/* A new call object, or NULL with the status set (the process lacks what a routine's first
 * call needs: "38X35" and the others of the routines). */
TESSEL_API tessel_schema_call *tessel_schema_open(tessel_status *status);
/* Releases a call object and the schema it holds; NULL is ignored. */
TESSEL_API void tessel_schema_close(tessel_schema_call *call);
/* 1 when the document is valid against the schema. 0 otherwise, with the status set: the
 * first error as the validate routines report it ("38X13", QAPQ047E with line and column), or
 * why the call could not validate (a refused file "38X02", a bound "38X13", a cancel "57014"). */
TESSEL_API int32_t tessel_validate_schema(tessel_schema_call *call, const char *doc,
                                          const char *schema, uint32_t flags,
                                          tessel_status *status);
/* Collects up to limit (0: 1) errors of the document, a parse error last: their number, or -1
 * with the status set when the call could not validate. Read them with tessel_schema_error. */
TESSEL_API int32_t tessel_schema_errors(tessel_schema_call *call, const char *doc,
                                        const char *schema, uint32_t flags, uint32_t limit,
                                        tessel_status *status);
/* The index-th error of the last tessel_schema_errors: 1 and its place and message (valid
 * until the next call on the object), or 0 past the last. */
TESSEL_API int32_t tessel_schema_error(const tessel_schema_call *call, uint32_t index,
                                       uint64_t *line, uint64_t *column, const char **message);
/* The whole message of the last failure, before it was cut to 70 bytes ("" when none). */
TESSEL_API const char *tessel_schema_detail(const tessel_schema_call *call);

#ifdef __cplusplus
}
#endif

#endif
