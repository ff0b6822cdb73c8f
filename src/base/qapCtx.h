// The context's records: the per-invocation routine context, its converters, and the document a
// driver parses. Set up and released by the frame (qapInit.h).
#pragma once

#include "qapMsg.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include <unicode/ucnv.h>

// What a context keeps between its parses: the reader that the readers' floor builds for it
// (qapParser.h), released with the context.
class QapKeptParser {
public:
    virtual ~QapKeptParser() = default;
};

// The converters of a routine context.
struct QapConvInfo {
    int32_t appCodePage; // CCSID of the application converter
    int32_t dbCodePage;  // the database code page
    UConverter *appConv;
    UConverter *dbConv; // the same object as appConv when the code pages are equal
};

// Sizes of the status arguments of a routine.
constexpr int kSqlstateSize = 6; // five characters and a NUL
constexpr int kMsgTextSize = 71; // at most 70 characters and a NUL

// The smallest file threshold: CLOBs up to this many bytes are always parsed from memory.
constexpr int32_t kMinFileThreshold = 131072;
// The heap one parse may hold unless the host's registry says otherwise
// (TARN_REG_MAX_PARSE_MEMORY).
constexpr size_t kDefaultParseMemory = size_t{256} << 20;

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
    QapKeptParser *parser;   // the reader reused by the context's parses, or null
    size_t maxParseMemory;   // the heap one parse may hold (0: no limit)
};
