// The exception of the parse: a message formatted when it is thrown.
#include "qapException.h"

#include "qapMsg.h"

#include <cstdarg>

QAPException::QAPException(QapRoutineCtx *ctx, int32_t msgNo, ...) : ctx(ctx) {
    text[0] = 0;
    va_list args;
    va_start(args, msgNo);
    qapVsprint(ctx, text, msgNo, 0, args);
    va_end(args);
    text[sizeof text - 1] = 0;
}
