// The result record an extraction hands its caller.
#pragma once

constexpr int kResultMessageSize = 1025; // a result record's message buffer

// The result record of an extraction (filled by qapExtractAll, owned by the caller).
struct QapExtractResult {
    char **values; // strings in the database code page, ended by a null entry
    char **cursor; // the next value to hand out
    char sqlstate[8];
    char *message; // heap buffer of 1025 bytes, or null
    // With several values: the chunks that hold them all (values point into them). Null: each
    // value is a heap string of its own.
    void *strings;
};
