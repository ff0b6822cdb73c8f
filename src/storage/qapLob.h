// Transfers between host LOB locators and the program's buffers and files.
#pragma once

#include "qapDoc.h"
#include "qapMsg.h"
#include "tesselHost.h"

#include <cstdint>

struct QapRoutineCtx;
class QapOpenFile;
class QapWriteTarget;

// Reports a failed locator operation: QAPC004E with the host's code (or -1 for a short
// transfer) as decimal text, "38X04".
void qapSetLobError(QapRoutineCtx *ctx, QapStatus err, int32_t rc);

constexpr int32_t kLobPiece = 4096;       // bytes per host call
constexpr int32_t kLobLimit = 2000000000; // the largest CLOB

// Every transfer gives 0, or -1 with the SQLSTATE and message set (a failed locator operation
// tells the host's code in its message).

// A CLOB document into memory (docLoc kMem, *doc a heap buffer) or, beyond the file
// threshold, into a temporary file (docLoc kFile, *doc a heap file name).
int32_t qapGetDataFromClob(QapRoutineCtx *ctx, sqludf_locator *loc, char **doc, uint32_t *docLoc,
                           QapStatus err);
int32_t qapLocator2Buf(QapRoutineCtx *ctx, sqludf_locator *loc, char *out, int32_t length,
                       QapStatus err);
int32_t qapConvLocator2File(QapRoutineCtx *ctx, sqludf_locator *loc, const QapWriteTarget &target,
                            QapStatus err);
int32_t qapConvLocator2File2(QapRoutineCtx *ctx, sqludf_locator *loc, const QapWriteTarget &target,
                             QapStatus err);
int32_t qapFile2Locator(QapRoutineCtx *ctx, QapOpenFile &file, sqludf_locator *out, QapStatus err);
int32_t qapBuf2Locator(QapRoutineCtx *ctx, const char *buf, int32_t length, sqludf_locator *out,
                       QapStatus err);
