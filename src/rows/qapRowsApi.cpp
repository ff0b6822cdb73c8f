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

void tell(const char *state, const char *text, char sqlstate[6], char *message,
          size_t messageSize) {
    if (sqlstate != nullptr) {
        memcpy(sqlstate, state, 5);
        sqlstate[5] = '\0';
    }
    if (message != nullptr && messageSize > 0) snprintf(message, messageSize, "%s", text);
}

// Runs one step of the interface: 0, or -1 with the failure told (a throw is memory running
// out).
template <class Step>
int runStep(Step step, char sqlstate[6], char *message, size_t messageSize) noexcept {
    try {
        QapRowError err;
        if (step(err) != 0) {
            tell(err.state, err.message.c_str(), sqlstate, message, messageSize);
            return -1;
        }
    } catch (...) {
        tell("38X10", "the system is out of memory", sqlstate, message, messageSize);
        return -1;
    }
    tell("00000", "", sqlstate, message, messageSize);
    return 0;
}

} // namespace

extern "C" int tessel_rows_open(const TesselRowsRequest *request, TesselRows **scan,
                                char sqlstate[6], char *message, size_t messageSize) {
    if (scan != nullptr) *scan = nullptr;
    return runStep(
        [&](QapRowError &err) {
            if (request == nullptr || scan == nullptr ||
                (request->columnCount > 0 && request->columns == nullptr) ||
                request->columnCount < 0 || request->namespaceCount < 0 ||
                (request->namespaceCount > 0 && request->namespaces == nullptr)) {
                err.set("38X16", "invalid null parameter");
                return -1;
            }
            auto rows = std::make_unique<TesselRows>();
            if (rows->scan.open(*request, err) != 0) return -1;
            *scan = rows.release();
            return 0;
        },
        sqlstate, message, messageSize);
}

extern "C" int tessel_rows_fetch(TesselRows *scan, TesselValue *values, int maxRows, int *rowsOut,
                                 char sqlstate[6], char *message, size_t messageSize) {
    int ignored = 0;
    if (rowsOut == nullptr) rowsOut = &ignored;
    *rowsOut = 0;
    return runStep(
        [&](QapRowError &err) {
            if (scan == nullptr ||
                (values == nullptr && maxRows > 0 && scan->scan.columnCount() > 0)) {
                err.set("38X16", "invalid null parameter");
                return -1;
            }
            return scan->scan.fetch(values, maxRows, rowsOut, err) != 0 ? -1 : 0;
        },
        sqlstate, message, messageSize);
}

extern "C" void tessel_rows_close(TesselRows *scan) {
    delete scan; // ends the parse; the destructors throw nothing
}
