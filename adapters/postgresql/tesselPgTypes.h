// The PostgreSQL type of each routine result type and the PARALLEL marking of each routine,
// shared by the install script's generator, the reference and the module (which checks a
// function's declaration against the types).
#pragma once

#include "tesselCatalog.h"

namespace tesselpg {

struct PgType {
    const char *name; // as the install script declares it
    unsigned oid;     // its built-in type OID (the module checks these against PostgreSQL's)
};

constexpr PgType pgTypeOf(tessel::SqlType type) {
    switch (type) {
    case tessel::SqlType::DATE:
        return {"date", 1082};
    case tessel::SqlType::TIME:
        return {"time", 1083};
    case tessel::SqlType::TIMESTAMP:
        return {"timestamp", 1114};
    case tessel::SqlType::DOUBLE:
        return {"float8", 701};
    case tessel::SqlType::REAL:
        return {"float4", 700};
    case tessel::SqlType::INTEGER:
        return {"int4", 23};
    case tessel::SqlType::SMALLINT:
        return {"int2", 21};
    default: // VARCHAR, CHAR and CLOB
        return {"text", 25};
    }
}

constexpr unsigned kTextOid = 25; // every input is text

// The PARALLEL marking a function of the routine is declared with.
constexpr const char *pgParallelOf(tessel::Parallel parallel) {
    switch (parallel) {
    case tessel::Parallel::SAFE:
        return "SAFE";
    case tessel::Parallel::RESTRICTED:
        return "RESTRICTED";
    default:
        return "UNSAFE";
    }
}

} // namespace tesselpg
