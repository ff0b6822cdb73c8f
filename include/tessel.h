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

/* ---- Row scan ---------------------------------------------------------------------------------
 *
 * A document becomes a table: one row per element at the row path, one column per column path,
 * in one streaming pass. It is not a routine of the calling convention above: its rows have as
 * many columns as the caller asks for. Memory holds one batch of rows and the parse; a scan
 * closed early reads no further. The parse memory budget, entity bounds, cancel and trace are
 * those of the routines.
 *
 * The document is text in memory, a CLOB, a server file, or every regular file of one directory
 * whose name matches a glob pattern, in name order, read one after another. Files are read under
 * the allowed-files rule (TARN_READ_ACCESS); a file of the directory that the rule or the parser
 * refuses ends the scan with an error that names it.
 *
 * Paths are the location paths of the routines. A column path is relative to the row element:
 * child steps ("items/item/price"), "@name" (on the row or after a step), "." (the row element's
 * own text), "//name" (anywhere within the row), "*", and the predicate [@a="v"]. A value
 * belongs to the innermost open row element; a row comes out when its end tag is read, so a row
 * nested in another comes out before it.
 *
 * Values are what the document means: text and attribute values unescaped; the FRAGMENT kind is
 * the matched element as XML text, escaped as XML requires. An element's text is its own text
 * (not its descendants'). A column that matches nothing in a row is NULL; a matched empty element
 * is '' for TEXT and CHAR, NULL for the other kinds (a FRAGMENT is never empty). A column that
 * matches several times in a row takes the first match, or fails the scan ("38X08") with
 * TESSEL_ROWS_SEVERAL_FAIL. A value that does not convert ends the scan ("38X29"; "38X39" for
 * one longer than its kind allows) with an error naming the row number, the column and the
 * value, or is NULL with TESSEL_ROWS_BAD_NULL.
 *
 * Names match as the document writes them, prefix included, unless namespaces are bound: then
 * names in the paths match by namespace URI and local name (a path's prefix names a binding;
 * an unprefixed element name is in the default namespace when one is bound, an unprefixed
 * attribute name in none). */

/* Column kinds, as the extract routines' result types, and FRAGMENT. */
enum TesselRowsKind {
    TESSEL_ROWS_TEXT = 0,      /* VARCHAR or CLOB: the whole text */
    TESSEL_ROWS_CHAR = 1,      /* at most 254 bytes */
    TESSEL_ROWS_DATE = 2,      /* text of at most 10 bytes */
    TESSEL_ROWS_TIME = 3,      /* text of at most 8 bytes */
    TESSEL_ROWS_TIMESTAMP = 4, /* normalised to "yyyy-mm-dd-hh.mm.ss.ffffff" */
    TESSEL_ROWS_DOUBLE = 5,
    TESSEL_ROWS_REAL = 6,     /* a double rounded to float */
    TESSEL_ROWS_INTEGER = 7,  /* 32 bits */
    TESSEL_ROWS_SMALLINT = 8, /* 16 bits */
    TESSEL_ROWS_BIGINT = 9,   /* 64 bits */
    TESSEL_ROWS_FRAGMENT = 10 /* the element as XML text */
};

/* Options (TesselRowsRequest.flags). */
#define TESSEL_ROWS_SEVERAL_FAIL 1 /* a second match in a row fails the scan */
#define TESSEL_ROWS_BAD_NULL 2     /* a value that does not convert is NULL */

typedef struct TesselRowsColumn {
    const char *name; /* for messages */
    int kind;         /* a TesselRowsKind */
    const char *path; /* relative to the row element */
} TesselRowsColumn;

/* What to scan. Exactly one of text, file, folder and clob is set. Strings are in the database
 * code page (codePage); text must stay until the scan is closed, the rest is copied. A CLOB is
 * read when the scan opens (beyond the routines' file threshold into an unnamed temporary
 * file), on the caller's thread. */
typedef struct TesselRowsRequest {
    const char *text;    /* the document, NUL-terminated */
    const char *file;    /* a server file */
    const char *folder;  /* a server directory, with pattern */
    const char *pattern; /* glob of the file names in folder (fnmatch); null: "*" */
    const char *rowPath; /* absolute location path of the row elements */
    const TesselRowsColumn *columns;
    int columnCount;
    const char *const *namespaces; /* "prefix=uri" bindings ("=uri": default namespace) */
    int namespaceCount;
    int flags;            /* TESSEL_ROWS_... options */
    int codePage;         /* of the strings and text values; 0: UTF-8 (1208) */
    sqludf_locator *clob; /* the document as a CLOB locator of the calling convention */
} TesselRowsRequest;

/* One value of a row. text (length bytes, NUL-terminated) holds the text kinds and is valid
 * until the next fetch or close; integer holds INTEGER, SMALLINT and BIGINT; real holds DOUBLE
 * and REAL. */
typedef struct TesselValue {
    int isNull;
    int kind;
    int64_t integer;
    double real;
    const char *text;
    size_t length;
} TesselValue;

typedef struct TesselRows TesselRows;

/* Opens a scan and reads the document up to its first rows. 0 and *scan, or -1 with sqlstate
 * and message (cut to messageSize) set and *scan null: a path or option refused ("38X09" names
 * the column), a file refused, or a document that fails before its first row. */
TESSEL_API int tessel_rows_open(const TesselRowsRequest *request, TesselRows **scan,
                                char sqlstate[6], char *message, size_t messageSize);
/* Up to maxRows rows into values (maxRows * columnCount values, row by row); *rowsOut 0 at the
 * end. 0, or -1 with sqlstate and message once the rows before the failure are out: the scan
 * then has no more rows. */
TESSEL_API int tessel_rows_fetch(TesselRows *scan, TesselValue *values, int maxRows, int *rowsOut,
                                 char sqlstate[6], char *message, size_t messageSize);
/* Ends the scan wherever it is and frees it; null is harmless. */
TESSEL_API void tessel_rows_close(TesselRows *scan);

/* ---- Validation against an XML Schema ------------------------------------------------------
 *
 * Beyond the catalogue. A call object stands for one statement: it keeps the schema it loaded
 * last (by its text, or by its file name), so that the rows of a statement parse the schema
 * once. One thread at a time per call object. Texts are UTF-8 (the database code page 1208).
 * With TESSEL_SCHEMA_DOC_FILE or TESSEL_SCHEMA_XSD_FILE in flags the document or the schema is
 * a server file that the read-access rule allows (the schema's includes and imports too); a
 * schema given as text reads no other schema document. Documents' xsi:schemaLocation hints are
 * read only when the host allows external entities. No exception leaves these functions. */
typedef struct TesselSchemaCall TesselSchemaCall;

/* A call's outcome: SQLSTATE "00000" for success, and the routines' 70-byte message text. */
typedef struct TesselStatus {
    char sqlstate[6];
    char message[71];
} TesselStatus;

#define TESSEL_SCHEMA_DOC_FILE 1u
#define TESSEL_SCHEMA_XSD_FILE 2u

/* A new call object, or NULL with the status set (the process lacks what a routine's first
 * call needs: "38X35" and the others of the routines). */
TESSEL_API TesselSchemaCall *tessel_schema_open(TesselStatus *status);
/* Releases a call object and the schema it holds; NULL is ignored. */
TESSEL_API void tessel_schema_close(TesselSchemaCall *call);
/* 1 when the document is valid against the schema. 0 otherwise, with the status set: the
 * first error as the validate routines report it ("38X13", QAPQ047E with line and column), or
 * why the call could not validate (a refused file "38X02", a bound "38X13", a cancel "57014"). */
TESSEL_API int32_t tessel_validate_schema(TesselSchemaCall *call, const char *doc,
                                          const char *schema, uint32_t flags, TesselStatus *status);
/* Collects up to limit (0: 1) errors of the document, a parse error last: their number, or -1
 * with the status set when the call could not validate. Read them with tessel_schema_error. */
TESSEL_API int32_t tessel_schema_errors(TesselSchemaCall *call, const char *doc, const char *schema,
                                        uint32_t flags, uint32_t limit, TesselStatus *status);
/* The index-th error of the last tessel_schema_errors: 1 and its place and message (valid
 * until the next call on the object), or 0 past the last. */
TESSEL_API int32_t tessel_schema_error(const TesselSchemaCall *call, uint32_t index, uint64_t *line,
                                       uint64_t *column, const char **message);
/* The whole message of the last failure, before it was cut to 70 bytes ("" when none). */
TESSEL_API const char *tessel_schema_detail(const TesselSchemaCall *call);

#ifdef __cplusplus
}
#endif

#endif
