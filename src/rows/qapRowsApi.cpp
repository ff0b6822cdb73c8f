// The row scan's C interface (tessel.h): every failure, thrown or not, becomes an SQLSTATE and a
// message; nothing thrown leaves it.
#include "qapRowScan.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

struct TesselRows {
    QapRowScan scan;
};

namespace {

void tell(const QapRowError &err, char sqlstate[6], char *message, size_t messageSize) {
    if (sqlstate != nullptr) {
        memcpy(sqlstate, err.state, 5);
        sqlstate[5] = '\0';
    }
    if (message != nullptr && messageSize > 0)
        snprintf(message, messageSize, "%s", err.message.c_str());
}

void tellOutOfMemory(char sqlstate[6], char *message, size_t messageSize) {
    QapRowError err;
    err.set("38X10", "the system is out of memory");
    tell(err, sqlstate, message, messageSize);
}

} // namespace

extern "C" int tessel_rows_open(const TesselRowsSpec *spec, TesselRows **scan, char sqlstate[6],
                                char *message, size_t messageSize) {
    QapRowError err;
    if (scan != nullptr) *scan = nullptr;
    if (spec == nullptr || scan == nullptr || (spec->columnCount > 0 && spec->columns == nullptr) ||
        spec->columnCount < 0 || spec->namespaceCount < 0 ||
        (spec->namespaceCount > 0 && spec->namespaces == nullptr)) {
        err.set("38X16", "invalid null parameter");
        tell(err, sqlstate, message, messageSize);
        return -1;
    }
    try {
        auto rows = std::make_unique<TesselRows>();
        if (rows->scan.open(*spec, err) != 0) {
            tell(err, sqlstate, message, messageSize);
            return -1;
        }
        *scan = rows.release();
    } catch (...) {
        tellOutOfMemory(sqlstate, message, messageSize);
        return -1;
    }
    err.set("00000", "");
    tell(err, sqlstate, message, messageSize);
    return 0;
}

extern "C" int tessel_rows_fetch(TesselRows *scan, TesselValue *values, int maxRows, int *rowsOut,
                                 char sqlstate[6], char *message, size_t messageSize) {
    QapRowError err;
    int ignored = 0;
    if (rowsOut == nullptr) rowsOut = &ignored;
    *rowsOut = 0;
    if (scan == nullptr || (values == nullptr && maxRows > 0 && scan->scan.columnCount() > 0)) {
        err.set("38X16", "invalid null parameter");
        tell(err, sqlstate, message, messageSize);
        return -1;
    }
    try {
        if (scan->scan.fetch(values, maxRows, rowsOut, err) != 0) {
            tell(err, sqlstate, message, messageSize);
            return -1;
        }
    } catch (...) {
        tellOutOfMemory(sqlstate, message, messageSize);
        return -1;
    }
    err.set("00000", "");
    tell(err, sqlstate, message, messageSize);
    return 0;
}

extern "C" void tessel_rows_close(TesselRows *scan) {
    delete scan; // ends the parse; the destructors throw nothing
}
