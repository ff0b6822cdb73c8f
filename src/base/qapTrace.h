// The trace facility: switched on for a whole instance by a trace control file; every routine
// context initialised while it exists appends lines "name:\t\ttext" to the trace file.
#pragma once

#include "qapCtx.h"
#include "qapMsg.h"

#include <cstdint>
#include <cstdio>

// Operations of qapTraceControl.
constexpr int32_t kTraceOn = 900;
constexpr int32_t kTraceOpen = 901;
constexpr int32_t kTraceOff = 902;

// Writes formatted text to the context's trace file (flushed), if it has one.
int qapTrace(QapRoutineCtx *ctx, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Opens the context's trace file if the control file exists. Returns 0 or a negative code.
int32_t qapTraceOpen(QapRoutineCtx *ctx, QapStatus err);

// Closes the context's trace file and clears traceOn. Returns 0.
int32_t qapTraceClose(QapRoutineCtx *ctx);

// The control operations 900 (switch on), 901 (open for a routine), 902 (switch off).
FILE *qapTraceControl(QapRoutineCtx *ctx, int32_t op, const char *dir, const char *instance,
                      int32_t *rc, QapStatus err);

// Administrative switch-on (trace file in dir) and switch-off; 0 or -1.
int32_t qapTraceSwitchOn(const char *dir, const char *instance, QapStatus err);
int32_t qapTraceSwitchOff(const char *instance, QapStatus err);

// Writes one trace line "name:\t\ttext" when the context traces; costs a test when it does not.
#define QAP_TRACE(ctx, name, ...)                                                                  \
    do {                                                                                           \
        if ((ctx) != nullptr && (ctx)->traceOn) {                                                  \
            qapTrace((ctx), "%s:\t\t", (name));                                                    \
            qapTrace((ctx), __VA_ARGS__);                                                          \
        }                                                                                          \
    } while (0)
