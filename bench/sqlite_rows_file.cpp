// The row scan over server files in SQLite, beside a bare parse of the same files: a generated
// file of N rows of four columns (default 10 million, about 2 GB) scanned whole and stopped by
// LIMIT 10, and a folder of F generated files (default 1000) in one scan. Every case runs in a
// forked child, so its peak resident memory is its own; times are wall clock (the files are in
// the page cache after their generation) and the throughput is the file bytes over the time.
// Reported: seconds, MB/s, peak RSS, and the ratios to the bare parse, from this one run.
//   build/bench/sqlite_rows_file --dir DIR [--rows N] [--files F] [--file-rows M] [--ext PATH]
// DIR must be private to the run: the files are written there and removed at the end (the
// script bench/sqlite-rows-file.sh makes it and removes it whatever happens).
#include "benchSupport.h"

#include <sqlite3.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>

namespace {

struct Options {
    std::string dir;
    uint64_t rows = 10000000;
    int files = 1000;
    uint64_t fileRows = 2000;
    std::string ext = TESSEL_SQLITE_EXTENSION;
};

// Writes count rows "<item sku=...><name/><qty/><price/><desc/></item>" of about 200 bytes
// under <items>; returns the size in bytes, or -1.
int64_t writeRows(const std::string &path, uint64_t first, uint64_t count) {
    FILE *f = fopen(path.c_str(), "w");
    if (f == nullptr) return -1;
    fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<items>\n", f);
    for (uint64_t i = first; i < first + count; ++i)
        fprintf(f,
                "<item sku=\"SKU-%07" PRIu64 "\"><name>Part %" PRIu64 " of the catalogue</name>"
                "<qty>%" PRIu64 "</qty><price>%" PRIu64 ".%02" PRIu64 "</price><desc>A part for the"
                " series &amp; its spares, boxed by the dozen, with a spare</desc></item>\n",
                i, i % 100000, 1 + i % 9, 1 + i % 500, i % 100);
    fputs("</items>\n", f);
    const long size = ftell(f);
    return fclose(f) == 0 ? size : -1;
}

struct Result {
    double seconds = 0;
    int64_t rows = 0;
    long maxRssKb = 0;
};

// Runs body in a child; its time, its row count and its peak memory.
template <class F> Result inChild(F body) {
    int fds[2];
    Result r;
    if (pipe(fds) != 0) return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const auto start = std::chrono::steady_clock::now();
        const int64_t rows = body();
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool written = write(fds[1], &s, sizeof s) == sizeof s &&
                             write(fds[1], &rows, sizeof rows) == sizeof rows;
        _exit(written && rows >= 0 ? 0 : 1);
    }
    close(fds[1]);
    const bool read = ::read(fds[0], &r.seconds, sizeof r.seconds) == sizeof r.seconds &&
                      ::read(fds[0], &r.rows, sizeof r.rows) == sizeof r.rows;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0) r.rows = -1;
    r.maxRssKb = usage.ru_maxrss;
    return r;
}

int64_t bareParse(const std::vector<std::string> &paths) {
    xercesc::XMLPlatformUtils::Initialize();
    int64_t parsed = 0;
    {
        QapBareReader bare;
        for (const std::string &p : paths) {
            bare.reader->parse(p.c_str());
            ++parsed;
        }
    }
    xercesc::XMLPlatformUtils::Terminate();
    return parsed;
}

// The rows one statement over the tessel_rows table gives, stepped to the end; -1 on error.
int64_t scan(const Options &o, const char *where, const std::string &arg) {
    sqlite3 *db = nullptr;
    char *err = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_enable_load_extension(db, 1);
    const std::string sql = std::string("SELECT sku, name, qty, price FROM rows ") + where;
    sqlite3_stmt *st = nullptr;
    if (sqlite3_load_extension(db, o.ext.c_str(), nullptr, &err) != SQLITE_OK ||
        sqlite3_exec(db,
                     "CREATE VIRTUAL TABLE temp.rows USING tessel_rows('/items/item', "
                     "'sku TEXT PATH @sku', 'name TEXT', 'qty INTEGER', 'price REAL')",
                     nullptr, nullptr, &err) != SQLITE_OK ||
        sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        fprintf(stderr, "%s\n", err != nullptr ? err : sqlite3_errmsg(db));
        return -1;
    }
    sqlite3_bind_text(st, 1, arg.c_str(), -1, SQLITE_STATIC);
    int64_t rows = 0, check = 0;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        ++rows;
        check += sqlite3_column_bytes(st, 0) + sqlite3_column_bytes(st, 1) +
                 sqlite3_column_int64(st, 2) + static_cast<int64_t>(sqlite3_column_double(st, 3));
    }
    if (rc != SQLITE_DONE) fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rc == SQLITE_DONE && check > 0 ? rows : -1;
}

void line(const char *name, const Result &r, double bytes, const Result &floor) {
    printf("| %-34s | %12" PRId64 " | %8.2f | %8.1f | %7.1f | %6.2f | %+8.1f |\n", name, r.rows,
           r.seconds, bytes / 1e6 / r.seconds, r.maxRssKb / 1024.0, floor.seconds / r.seconds,
           (r.maxRssKb - floor.maxRssKb) / 1024.0);
}

void header() {
    printf("| %-34s | %12s | %8s | %8s | %7s | %6s | %8s |\n", "case", "rows", "seconds", "MB/s",
           "RSS MB", "speed", "RSS +MB");
    printf("|------------------------------------|--------------|----------|----------|---------|"
           "--------|----------|\n");
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--dir")
            o.dir = argv[i + 1];
        else if (a == "--rows")
            o.rows = strtoull(argv[i + 1], nullptr, 10);
        else if (a == "--files")
            o.files = atoi(argv[i + 1]);
        else if (a == "--file-rows")
            o.fileRows = strtoull(argv[i + 1], nullptr, 10);
        else if (a == "--ext")
            o.ext = argv[i + 1];
    }
    if (o.dir.empty()) {
        fprintf(stderr, "usage: %s --dir DIR [--rows N] [--files F] [--file-rows M] [--ext PATH]\n",
                argv[0]);
        return 2;
    }
    // The scan reads under the allowed-files rule; the library's first call wants its trace
    // and temporary directories.
    const std::string trace = o.dir + "/trace", temp = o.dir + "/tmp", folder = o.dir + "/folder";
    const std::string big = o.dir + "/big.xml";
    for (const std::string &d : {trace, temp, folder})
        if (mkdir(d.c_str(), 0700) != 0) return 1;
    setenv("TARN_READ_ACCESS", o.dir.c_str(), 1);
    setenv("TARNINSTANCE", "bench", 1);
    setenv("TARNQAPPATH", trace.c_str(), 1);
    setenv("TARNQAPTEMP", temp.c_str(), 1);

    if (o.rows > 0) {
        const double size = static_cast<double>(writeRows(big, 0, o.rows));
        printf("one file: %" PRIu64 " rows of four columns, %.0f MB\n", o.rows, size / 1e6);
        header();
        const Result bare =
            inChild([&] { return bareParse({big}) * static_cast<int64_t>(o.rows); });
        line("bare parse", bare, size, bare);
        line("SELECT * FROM rows WHERE file = ?",
             inChild([&] { return scan(o, "WHERE file = ?1", big); }), size, bare);
        line("... LIMIT 10", inChild([&] { return scan(o, "WHERE file = ?1 LIMIT 10", big); }),
             size, bare);
        unlink(big.c_str());
    }
    if (o.files > 0) {
        std::vector<std::string> paths;
        double size = 0;
        for (int f = 0; f < o.files; ++f) {
            char name[32];
            snprintf(name, sizeof name, "/part-%05d.xml", f);
            paths.push_back(folder + name);
            size += static_cast<double>(writeRows(paths.back(), f * o.fileRows, o.fileRows));
        }
        printf("\na folder: %d files of %" PRIu64 " rows, %.0f MB\n", o.files, o.fileRows,
               size / 1e6);
        header();
        const Result bare =
            inChild([&] { return bareParse(paths) * static_cast<int64_t>(o.fileRows); });
        line("bare parses, one reader", bare, size, bare);
        line("one scan of the folder",
             inChild([&] { return scan(o, "WHERE folder = ?1 AND pattern = '*.xml'", folder); }),
             size, bare);
        for (const std::string &p : paths)
            unlink(p.c_str());
    }
    rmdir(folder.c_str());
    return 0;
}
