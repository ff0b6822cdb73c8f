// The context's records: the per-invocation routine context, its converters, and the document a
// driver parses. Set up and released by the frame (qapInit.h).
#pragma once

#include "qapMsg.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <unicode/ucnv.h>

struct qapParser;
class QapOpenFile;

// The converters of a routine context.
struct QapConvInfo {
    int32_t appCodePage; // CCSID of the application converter
    int32_t dbCodePage;  // the database code page
    UConverter *appConv;
    UConverter *dbConv; // the same object as appConv when the code pages are equal
};

// Where a routine's document argument lives.
constexpr uint32_t QAP_FILE = 0; // the argument is a server file name
constexpr uint32_t QAP_MEM = 1;  // the argument is a NUL-terminated buffer

// The document a driver parses: a file or a buffer, the code page of its bytes, and the DTD
// text that replaces the one its DOCTYPE names. A file is read through the descriptor the
// allowed-files gate opened (qapOpenRead), never opened again by its name.
struct QapDoc {
    const char *doc;          // the file's absolute name (QAP_FILE) or NUL-terminated text
    uint32_t docLoc;          // QAP_FILE or QAP_MEM
    uint32_t docInDbCodePage; // 1: the bytes are in the database code page (SQL values);
                              // 0: the parser detects the encoding (server files)
    const char *dtdText;      // replacement DTD text, or null
    QapOpenFile *file;        // QAP_FILE: the opened file, which the parse takes
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
