// The validation driver: a document against its DTD or a replacement.
#pragma once

#include "qapCtx.h"
#include "qapDoc.h"
#include "qapMsg.h"

#include <cstdint>

// Validates a document (its DTD text is not used) against the DTD its DOCTYPE names, or a
// replacement: DTD text, or a file the gate opened (read once). dtdInDbCodePage 1: the
// replacement's bytes are in the database code page. 1 valid, 0 otherwise.
int32_t qapValidate(QapRoutineCtx *ctx, const QapDoc &doc, QapOpenFile *dtdFile,
                    const char *dtdText, uint32_t dtdInDbCodePage, const char *dtdid,
                    QapStatus err);
