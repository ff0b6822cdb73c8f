// The PostgreSQL type of each routine result type, shared by the install script's generator and
// the module (which checks a function's declaration against it).
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

} // namespace tesselpg
