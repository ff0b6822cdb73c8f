// The routine frame's records: the per-invocation routine context and the program's layout of
// the host scratchpad, and the context's initialisation and release.
#pragma once

#include "qapMsg.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct QapConvInfo;
struct qapParser;
struct QapTableScan;

// Where a routine's document argument lives.
constexpr uint32_t QAP_FILE = 0; // the argument is a server file name
constexpr uint32_t QAP_MEM = 1;  // the argument is a NUL-terminated buffer

// The document a driver parses: a server file or a buffer, the code page of its bytes, and the
// DTD text that replaces the one its DOCTYPE names.
struct QapDoc {
    const char *doc;          // a file name (QAP_FILE) or NUL-terminated text (QAP_MEM)
    uint32_t docLoc;          // QAP_FILE or QAP_MEM
    uint32_t docInDbCodePage; // 1: the bytes are in the database code page (SQL values);
                              // 0: the parser detects the encoding (server files)
    const char *dtdText;      // replacement DTD text, or null
};

// Sizes of the status arguments of a routine.
constexpr int QAP_SQLSTATE_SIZE = 6; // five characters and a NUL
constexpr int QAP_MSGTEXT_SIZE = 71; // at most 70 characters and a NUL

// The smallest file threshold: CLOBs up to this many bytes are always parsed from memory.
constexpr int32_t QAP_MIN_FILE_THRESHOLD = 131072;
// The heap one parse may hold unless the host's registry says otherwise
// (TARN_REG_MAX_PARSE_MEMORY).
constexpr size_t QAP_DEFAULT_PARSE_MEMORY = size_t{256} << 20;

// Per-invocation state, allocated zero-filled on a routine's first call.
struct QapRoutineCtx {
    uint32_t traceOn;        // 1 while the trace file is open
    char traceFileName[516]; // path of the trace file
    FILE *traceFile;         // the open trace stream, or null
    uint32_t callerKind;     // 0: called as an SQL function
    QapConvInfo *convInfo;   // converters; non-null once initialised
    char *savedTmpEnv;       // "TMP=<value>" as at initialisation, or null
    char *tempDir;           // copy of TARNQAPTEMP, or null
    int32_t fileThreshold;   // a longer CLOB is spilled to a temporary file
    qapParser *parser;       // the reader reused by the context's parses, or null
    size_t maxParseMemory;   // the heap one parse may hold (0: no limit)
};

constexpr int QAP_RESULT_MESSAGE_SIZE = 1025; // a result record's message buffer

// The result record of an extraction (filled by extractAll, owned by the caller).
struct QapExtractResult {
    char **values; // strings in the database code page, ended by a null entry
    char **cursor; // the next value to hand out
    char sqlstate[8];
    char *message; // heap buffer of 1025 bytes, or null
    // With several values: the chunks that hold them all (values point into them). Null: each
    // value is a heap string of its own.
    void *strings;
};

// The program's layout of the scratchpad's data area (zero-filled by the host).
struct QapScratch {
    QapRoutineCtx *ctx; // the routine context, or null
    char *dtdText;      // DTD text of the "2" variants, or null
    QapTableScan *scan; // the open table of a table function, or null
};

// Initialises a freshly allocated context (null when the allocation failed). appEncoding names
// the application converter, or null for ICU's default. Returns 0, or a negative code with the
// SQLSTATE set; on failure everything acquired is released again.
int32_t qapInit(QapRoutineCtx *ctx, uint32_t callerKind, const void *dbinfo, QapStatus err,
                const char *appEncoding);

// Releases everything the context holds (the block itself stays allocated). Returns 0, or -58
// with "38X10" for a null context. A second release is harmless.
int32_t qapRelease(QapRoutineCtx *ctx, char *sqlstate);
