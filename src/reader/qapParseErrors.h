// Parser diagnostics: parser texts in the database code page and the report of a failed parse
// as SQLSTATE and message.
#pragma once

#include "qapCtx.h"
#include "qapMsg.h"

#include <cstdint>
#include <xercesc/util/XercesDefs.hpp>

struct QapParseStop;

// Size of the buffers that parser texts (messages, system identifiers) are converted into.
constexpr int kParserTextSize = 1024;

// Converts a parser text to the database code page into out (kParserTextSize bytes).
// Longer texts are cut to what fits (never inside a surrogate pair). Returns out.
char *qapParserText(QapRoutineCtx *ctx, const XMLCh *text, char *out);

// Formats a line or column number as decimal text into out (24 bytes). Returns out.
const char *qapLocText(uint64_t loc, char *out);

// Sets message QAPQ047E ("Parser error on line %s column %s: %s ") and SQLSTATE "38X13". A
// number the exception does not carry (the column of an XMLException, line and column of a
// SAXException) is given as null and rendered as "-".
void qapSetParserError(QapRoutineCtx *ctx, QapStatus err, const char *line, const char *column,
                       const char *text);

// Reports the exception being handled (call it from a catch clause) as a failed parse:
// SQLSTATE "38X13", with message QAPQ047E for the parser's own exceptions, tried in the order
// SAXParseException, XMLException, SAXException, anything else. When the reader stopped the
// parse through its memory (refusal, see QapGuardedReader::refusal), that is the report.
void qapReportParseException(QapRoutineCtx *ctx, const char *fn, QapStatus err,
                             const QapParseStop *refusal = nullptr);

// Reports the exception being handled (call it from a catch clause) while a parse is set up:
// running out of memory (std::bad_alloc, the parser's OutOfMemoryException) sets QAPG002E;
// anything else is traced and sets "38X13" alone. Returns -1.
int32_t qapReportSetUpException(QapRoutineCtx *ctx, const char *fn, QapStatus err);
