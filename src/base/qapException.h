// The exception that the parse's own code throws when memory runs out.
#pragma once

#include "qapCtx.h"

#include <cstdint>

// Thrown by value on allocation failure inside the parse; carries a formatted message.
class QAPException {
public:
    QAPException(QapRoutineCtx *ctx, int32_t msgNo, ...);
    const char *getText() const { return text; }

    char text[1028];
    QapRoutineCtx *ctx;
};
