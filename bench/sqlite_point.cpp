// Point queries in SQLite: what one statement that makes one call costs, against what one row of
// a many-row statement costs, for a scalar extract, a table extract and an update. Each cost is
// taken beyond its plain twin (SELECT length(?) per statement, per row), best of several runs,
// in processor time; the ratio statement / row is what an application that fetches one row by
// key pays for each call over a scan.
//   build/bench/sqlite_point [--statements N] [--runs K] [--ext PATH] [--profile
//   scalar|table|update]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

const char *const kDoc = "<po n=\"5\"><item><p>1.5</p></item><item><p>2</p></item>"
                         "<note>a &amp; b</note></po>";

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void check(int rc, sqlite3 *db, const char *what) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
    fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    exit(1);
}

// Seconds for n statements of sql, each bound to the document, stepped to its end and reset.
double statements(sqlite3 *db, const char *sql, int n) {
    sqlite3_stmt *st = nullptr;
    check(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), db, sql);
    const double start = cpuSeconds();
    for (int i = 0; i < n; ++i) {
        sqlite3_bind_text(st, 1, kDoc, -1, SQLITE_STATIC);
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        }
        check(rc, db, sql);
        sqlite3_reset(st);
    }
    const double t = cpuSeconds() - start;
    sqlite3_finalize(st);
    return t;
}

// Seconds for one statement of sql over the table of n documents.
double rows(sqlite3 *db, const char *sql) {
    return statements(db, sql, 1);
}

template <class F> double best(int runs, F f) {
    double b = 1e30;
    for (int r = 0; r < runs; ++r) {
        const double t = f();
        if (t < b) b = t;
    }
    return b;
}

} // namespace

int main(int argc, char **argv) {
    int n = 20000;
    int runs = 5;
    std::string ext = TESSEL_SQLITE_EXTENSION;
    const char *only = nullptr; // a case whose statements alone run, for a profiler
    for (int i = 1; i + 1 < argc; i += 2) {
        if (strcmp(argv[i], "--profile") == 0) only = argv[i + 1];
        if (strcmp(argv[i], "--statements") == 0) n = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--runs") == 0) runs = atoi(argv[i + 1]);
        if (strcmp(argv[i], "--ext") == 0) ext = argv[i + 1];
    }
    sqlite3 *db = nullptr;
    check(sqlite3_open(":memory:", &db), db, "open");
    sqlite3_enable_load_extension(db, 1);
    char *err = nullptr;
    if (sqlite3_load_extension(db, ext.c_str(), nullptr, &err) != SQLITE_OK) {
        fprintf(stderr, "load %s: %s\n", ext.c_str(), err != nullptr ? err : "");
        return 1;
    }
    const std::string fill =
        "CREATE TABLE docs(doc TEXT); WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
        "FROM k WHERE i < " +
        std::to_string(n) + ") INSERT INTO docs SELECT '" + kDoc + "' FROM k;";
    check(sqlite3_exec(db, fill.c_str(), nullptr, nullptr, nullptr), db, "fill");

    struct Case {
        const char *name;
        const char *statement; // one call on the bound document
        const char *scan;      // one call per row of the table
    } cases[] = {
        {"scalar qapExtractIntegerFromVarchar", "SELECT qapExtractIntegerFromVarchar(?, '/po/@n')",
         "SELECT count(qapExtractIntegerFromVarchar(doc, '/po/@n')) FROM docs"},
        {"table qapExtractDoublesFromVarchar",
         "SELECT sum(value) FROM qapExtractDoublesFromVarchar(?, '/po/item/p')",
         "SELECT sum(x.value) FROM docs, qapExtractDoublesFromVarchar(doc, '/po/item/p') x"},
        {"update qapUpdateXMLVarchar", "SELECT qapUpdateXMLVarchar(?, '/po/note', 'x')",
         "SELECT count(qapUpdateXMLVarchar(doc, '/po/note', 'x')) FROM docs"},
    };
    if (only != nullptr) {
        for (const Case &c : cases)
            if (strstr(c.name, only) == c.name) statements(db, c.statement, n * runs);
        sqlite3_close(db);
        return 0;
    }
    const double plainStatement = best(runs, [&] { return statements(db, "SELECT length(?)", n); });
    const double plainRow =
        best(runs, [&] { return rows(db, "SELECT sum(length(doc)) FROM docs"); });
    printf("%d statements of one call, and one statement over %d rows; best of %d runs\n", n, n,
           runs);
    printf("| %-38s | %12s | %10s | %16s |\n", "call", "us/statement", "us/row", "statement / row");
    printf("|%s|%s|%s|%s|\n", "----------------------------------------", "--------------",
           "------------", "------------------");
    for (const Case &c : cases) {
        const double s =
            best(runs, [&] { return statements(db, c.statement, n); }) - plainStatement;
        const double r = best(runs, [&] { return rows(db, c.scan); }) - plainRow;
        printf("| %-38s | %12.2f | %10.2f | %16.2f |\n", c.name, s * 1e6 / n, r * 1e6 / n, s / r);
    }
    sqlite3_close(db);
    return 0;
}
