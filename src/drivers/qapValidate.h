// The validation driver: a document against its DTD or a replacement.
#pragma once

#include "qapCtx.h"
#include "qapMsg.h"

#include <cstdint>

// Validates a document against its DTD or a replacement (a file, or text when dtdLoc is
// QAP_MEM). 1 valid, 0 otherwise.
int32_t qapValidate(QapRoutineCtx *ctx, const char *doc, uint32_t docLoc, uint32_t input_src,
                    const char *dtdFile, uint32_t dtdinput_src, const char *dtdid, QapStatus err,
                    uint32_t dtdLoc);
