// Per-row benchmark: many small purchase orders (~2 KB each), as a host calls the routines
// once per row. Cases, all in one run and in one process:
//   bare      a bare SAX2 parse of each document with one reader reused for every row (floor)
//   scalar    qapExtractVarcharFromVarchar(doc, '/order/customer/name') through the calling
//             side, one statement for all rows (one context, as with a literal path)
//   table     qapExtractDoublesFromVarchar(doc, '/order/item/@price'), every price, one
//             statement, one OPEN per row
//   rows      tessel_rows over each document, as the PostgreSQL adapter scans one document per
//             row: every item a row of its sku, quantity, price and description
//   + heap    the scalar case again with ~200 MB of other small live allocations in the
//             process, as in a host with a warm cache
// The routines get each row's arguments as views of the bench's own strings, as a host passes
// its row buffers; the calling side's copy of every argument for the sanitizers is left out.
// Reported: microseconds per row (median of the rounds, processor time) and the ratios.
#include "benchSupport.h"
#include "tesselBuildCommit.h"
#include "tarnRuntime.h"
#include "tarnCall.h"
#include "tessel.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unicode/ucnv.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLUni.hpp>

XERCES_CPP_NAMESPACE_USE

namespace {

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Deterministic orders of about 2 KB.
std::vector<std::string> makeOrders(size_t count) {
    std::vector<std::string> docs;
    docs.reserve(count);
    uint64_t s = 0x9E3779B97F4A7C15ULL;
    auto next = [&s](uint32_t n) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(s >> 33) % n;
    };
    char buf[512];
    for (size_t i = 0; i < count; ++i) {
        std::string d = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<order id=\"" +
                        std::to_string(i) + "\" date=\"2024-05-17\">\n";
        snprintf(buf, sizeof buf,
                 "  <customer id=\"c%u\"><name>Customer %u</name><street>%u Long Street</street>"
                 "<city>Springfield</city><zip>%05u</zip></customer>\n",
                 next(50000), next(50000), next(999), next(99999));
        d += buf;
        for (int k = 0; k < 16; ++k) {
            snprintf(buf, sizeof buf,
                     "  <item sku=\"SKU-%05u\" qty=\"%u\" price=\"%u.%02u\"><desc>A part for the "
                     "%u series &amp; its spares</desc></item>\n",
                     next(100000), 1 + next(9), 1 + next(500), next(100), next(40));
            d += buf;
        }
        d += "  <note>Deliver to the back door.</note>\n</order>\n";
        docs.push_back(std::move(d));
    }
    return docs;
}

// One reused reader, each document from memory.
double runBare(const std::vector<std::string> &docs) {
    QapBareReader bare;
    const double t0 = cpuSeconds();
    for (const std::string &d : docs) {
        MemBufInputSource source(reinterpret_cast<const XMLByte *>(d.data()), d.size(), "row",
                                 false);
        bare.reader->parse(source);
    }
    return cpuSeconds() - t0;
}

tarn::RoutineDesc describe(const char *name, void *entry) {
    return tarn::RoutineDesc::of(*tessel::findRoutine(name), entry);
}

// Each row's arguments, built before the clock starts: views of the documents and the path,
// passed as a host passes its row buffers (the calling side copies nothing).
using Rows = std::vector<std::vector<tarn::Input>>;
Rows rowsOf(const std::vector<std::string> &docs, const char *path) {
    Rows rows;
    rows.reserve(docs.size());
    for (const std::string &d : docs)
        rows.push_back({tarn::Input::of(d.c_str()), tarn::Input::of(path)});
    return rows;
}

double runScalar(const Rows &rows, size_t *values) {
    tarn::ScalarStatement statement(describe(
        "qapExtractVarcharFromVarchar", reinterpret_cast<void *>(&qapExtractVarcharFromVarchar)));
    const double t0 = cpuSeconds();
    for (const std::vector<tarn::Input> &row : rows)
        *values += statement.call(row).isNull() ? 0 : 1;
    statement.finish();
    return cpuSeconds() - t0;
}

double runTable(const Rows &rows, size_t *values) {
    tarn::TableStatement statement(describe(
        "qapExtractDoublesFromVarchar", reinterpret_cast<void *>(&qapExtractDoublesFromVarchar)));
    const double t0 = cpuSeconds();
    for (const std::vector<tarn::Input> &row : rows)
        *values += statement.run(row).rows.size();
    statement.finish();
    return cpuSeconds() - t0;
}

// One row scan per document through the C interface, every value read.
double runRowScans(const std::vector<std::string> &docs, size_t *values) {
    static const TesselRowsColumn columns[] = {{"sku", TESSEL_ROWS_TEXT, "@sku"},
                                               {"qty", TESSEL_ROWS_INTEGER, "@qty"},
                                               {"price", TESSEL_ROWS_DOUBLE, "@price"},
                                               {"desc", TESSEL_ROWS_TEXT, "desc"}};
    TesselRowsRequest request{};
    request.rowPath = "/order/item";
    request.columns = columns;
    request.columnCount = 4;
    TesselValue batch[64 * 4];
    char state[6];
    char message[256];
    const double t0 = cpuSeconds();
    for (const std::string &d : docs) {
        request.text = d.c_str();
        TesselRows *scan = nullptr;
        if (tessel_rows_open(&request, &scan, state, message, sizeof message) != 0) return -1;
        int got = 0;
        do {
            if (tessel_rows_fetch(scan, batch, 64, &got, state, message, sizeof message) != 0)
                got = 0;
            for (int i = 0; i < got * 4; ++i)
                *values += batch[i].isNull ? 0 : 1;
        } while (got > 0);
        tessel_rows_close(scan);
    }
    return cpuSeconds() - t0;
}

} // namespace

int main(int argc, char **argv) {
    size_t rows = 20000;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--rows") == 0) rows = static_cast<size_t>(atol(argv[i + 1]));
        if (strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, atoi(argv[i + 1]));
    }
    char dir[] = "/tmp/tessel_rowsXXXXXX";
    if (mkdtemp(dir) == nullptr) return 1;
    // Dated as a server's long-standing directory: the routines look for a trace control file
    // in a directory changed within the last seconds at every call.
    const timespec dates[2] = {{0, UTIME_OMIT}, {time(nullptr) - 60, 0}};
    utimensat(AT_FDCWD, dir, dates, 0);
    setenv("TARNINSTANCE", "tessel_bench", 1);
    setenv("TARNQAPPATH", dir, 1);
    setenv("TARNQAPTEMP", dir, 1);
    ucnv_setDefaultName("UTF-8");
    if (!isSharedLibInitSuccess()) return 1;

    const std::vector<std::string> docs = makeOrders(rows);
    size_t bytes = 0;
    for (const std::string &d : docs)
        bytes += d.size();
    printf("build: commit %s, %s\n", TESSEL_BUILD_COMMIT, TESSEL_BUILD_INFO);
    printf("%zu documents, %.0f bytes each on average, %d rounds\n", docs.size(),
           static_cast<double>(bytes) / static_cast<double>(docs.size()), rounds);

    const Rows scalarRows = rowsOf(docs, "/order/customer/name");
    const Rows tableRows = rowsOf(docs, "/order/item/@price");
    std::vector<double> bare, scalar, table, scans, heaped, bareHeaped;
    size_t values = 0;
    for (int r = 0; r < rounds; ++r) {
        bare.push_back(runBare(docs));
        scalar.push_back(runScalar(scalarRows, &values));
        table.push_back(runTable(tableRows, &values));
        scans.push_back(runRowScans(docs, &values));
    }
    // ~200 MB of live allocations of mixed small sizes, kept while the case runs.
    std::vector<void *> held;
    for (size_t total = 0; total < (200u << 20);) {
        const size_t n = 32 + (held.size() * 7919) % 480;
        held.push_back(malloc(n));
        memset(held.back(), 1, n);
        total += n;
    }
    for (size_t i = 0; i < held.size(); i += 3) { // holes, as a long-lived heap has
        free(held[i]);
        held[i] = nullptr;
    }
    for (int r = 0; r < rounds; ++r) {
        bareHeaped.push_back(runBare(docs));
        heaped.push_back(runScalar(scalarRows, &values));
    }
    for (void *p : held)
        free(p);

    const double perRow = 1e6 / static_cast<double>(docs.size());
    const double b = median(bare) * perRow, s = median(scalar) * perRow, t = median(table) * perRow,
                 h = median(heaped) * perRow, bh = median(bareHeaped) * perRow,
                 rs = median(scans) * perRow;
    printf("| case                                   | us/row | ratio |\n");
    printf("|----------------------------------------|--------|-------|\n");
    printf("| bare parse, one reused reader (floor)  | %6.1f | %5.2f |\n", b, 1.0);
    printf("| scalar routine, calling side           | %6.1f | %5.2f |\n", s, s / b);
    printf("| table routine, every price             | %6.1f | %5.2f |\n", t, t / b);
    printf("| row scan, four columns of every item   | %6.1f | %5.2f |\n", rs, rs / b);
    printf("| bare parse, ~200 MB of other heap      | %6.1f | %5.2f |\n", bh, bh / b);
    printf("| scalar routine, ~200 MB of other heap  | %6.1f | %5.2f | (%.2f of the scalar case)\n",
           h, h / b, h / s);
    printf("(%zu values)\n", values);
    rmdir(dir);
    return 0;
}
