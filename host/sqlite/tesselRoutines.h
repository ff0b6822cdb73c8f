// The routines the SQLite extension offers: one row per exported routine, with the kinds of
// its SQL inputs and of its result. A routine the library does not export is skipped.
#pragma once

#include "tarnCall.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessel_sqlite {

// The SQL inputs of one family of routines.
struct Shape {
    std::vector<tarn::SqlType> inputs;
    bool serverFiles; // the first input names a server file
};

enum class RoutineKind { Scalar, Table };

struct RoutineRow {
    const char *name;
    const Shape &shape;
    tarn::SqlType output;
    int32_t outputLength; // declared length of a VARCHAR or CHAR result, else 0
    RoutineKind kind;
};

// Every routine the extension knows, in no particular order.
const RoutineRow *routineRows(size_t *count);

} // namespace tessel_sqlite
