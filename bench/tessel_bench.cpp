// Extraction benchmark. Generates a deterministic purchase-order document of a chosen size into
// a temporary file, then measures on that file a bare SAX2 parse with an empty handler and the
// parser features of extraction (the floor), and qapExtractAll for an attribute path, a "//"
// element path and a tagged path: the median and the best throughput of several runs, their
// ratios to the floor, the median of the ratios round by round, and the peak resident memory
// of each case (every run is a forked child, so the peaks of the cases do not mix). A second
// bare parse reads the document as the library decodes it (UTF-8 to UTF-16 ahead of the
// parser), so that the decoding's gain shows apart from the routines' own cost. A table
// routine is also timed to its first row only, and run over a second document of millions of
// small values beside a bare parse of that document, to compare their peak memory.
#include "benchDocument.h"
#include "benchOptions.h"
#include "benchSupport.h"
#include "tesselBuildCommit.h"
#include "qapCtx.h"
#include "qapFile.h"
#include "qapInit.h"
#include "qapResult.h"
#include "qapSgDoc.h"
#include "qapUtf8Source.h"
#include "tarnRuntime.h"
#include "tarnCall.h"
#include "tessel.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unicode/ucnv.h>
#include <unistd.h>
#include <vector>
#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

XERCES_CPP_NAMESPACE_USE
using bench::Options;

namespace {

// ---- Cases -----------------------------------------------------------------------------------

struct Case {
    const char *name;
    const char *path; // null: the bare parse
    int tagged;
    bool small;
    const char *routine = nullptr; // a table routine run on the file through the calling side
    void *entry = nullptr;
    uint64_t maxRows = 0; // a table scan that stops after this many rows (0: all)
    bool many = false;    // over the many-values document
    bool decoded = false; // a bare parse of the document as the library decodes it: not a floor
};

const Case kCases[] = {
    {"bare SAX2 parse (floor)", nullptr, 0, false},
    {"bare parse, as the library decodes it", nullptr, 0, false, nullptr, nullptr, 0, false, true},
    {"attribute /orders/order/item/@price", "/orders/order/item/@price", 0, false},
    {"element //desc", "//desc", 0, false},
    {"tagged /orders/order/customer", "/orders/order/customer", 1, false},
    {"table qapExtractDoubles, every price", "/orders/order/item/@price", 0, false,
     "qapExtractDoubles", reinterpret_cast<void *>(&qapExtractDoubles)},
    {"table qapExtractDoubles, first row", "/orders/order/item/@price", 0, false,
     "qapExtractDoubles", reinterpret_cast<void *>(&qapExtractDoubles), 1},
    {"attribute, one order", "/orders/order[@id=\"4242\"]/item/@price", 0, true},
    {"element //note", "//note", 0, true},
    {"tagged, one order", "/orders/order[@id=\"4242\"]/customer", 1, true},
    {"bare SAX2 parse, many values (floor)", nullptr, 0, false, nullptr, nullptr, 0, true},
    {"nothing matched, many values", "/r/none", 0, false, nullptr, nullptr, 0, true},
    {"table qapExtractIntegers, many values", "/r/e", 0, false, "qapExtractIntegers",
     reinterpret_cast<void *>(&qapExtractIntegers), 0, true},
};

// What a child reports back.
struct RunReport {
    double seconds; // processor time of the parse (user and system)
    double wall;    // elapsed time of the parse
    long faults;    // page faults during the parse
    uint64_t values;
    uint64_t valueBytes;
    char state[8];
};

// Processor time and elapsed time of a piece of work: the machine may be shared, so the table
// is computed from processor time and shows the elapsed rate beside it. Under
// "valgrind --tool=callgrind --collect-atstart=no" exactly the timed work is counted.
struct Stopwatch {
    timespec cpu0{};
    long faults0 = faults();
    std::chrono::steady_clock::time_point wall0 = std::chrono::steady_clock::now();
    static long faults() {
        struct rusage ru {};
        getrusage(RUSAGE_SELF, &ru);
        return ru.ru_minflt + ru.ru_majflt;
    }
    Stopwatch() {
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
        CALLGRIND_TOGGLE_COLLECT;
    }
    void stop(RunReport &r) const {
        CALLGRIND_TOGGLE_COLLECT;
        r.faults = faults() - faults0;
        timespec cpu1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
        r.seconds = static_cast<double>(cpu1.tv_sec - cpu0.tv_sec) +
                    static_cast<double>(cpu1.tv_nsec - cpu0.tv_nsec) / 1e9;
        r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    }
};

// The bare parse; decoded: of the document as the library hands it to the parser (a UTF-8
// document decoded to UTF-16 ahead of it), to tell the decoding's share from the routines'.
RunReport runBare(const std::string &doc, bool decoded) {
    RunReport r{};
    strcpy(r.state, "00000");
    QapBareReader bare;
    XMLCh *name = XMLString::transcode(doc.c_str());
    QapUtf8Buffers buffers;
    Stopwatch watch;
    try {
        LocalFileInputSource source(name);
        if (decoded)
            bare.reader->parse(QapUtf8Source(source, buffers));
        else
            bare.reader->parse(source);
    } catch (...) {
        strcpy(r.state, "ERROR");
    }
    watch.stop(r);
    XMLString::release(&name);
    return r;
}

// A table routine's statement through the calling side: FIRST, OPEN, a FETCH per row, CLOSE,
// FINAL, as a host runs it.
RunReport runTable(const std::string &doc, const Case &c) {
    RunReport r{};
    const tessel::RoutineInfo *row = tessel::findRoutine(c.routine);
    if (row == nullptr) {
        strcpy(r.state, "NONE!");
        return r;
    }
    Stopwatch watch;
    {
        tarn::TableStatement statement(tarn::RoutineDesc::of(*row, c.entry));
        const std::vector<tarn::Input> inputs{doc, c.path};
        tarn::Outcome o = statement.open(inputs);
        tarn::Outcome row;
        while (!o.failed() && !o.endOfTable()) {
            // Each row into the one row buffer, as a host reads a row and goes on.
            statement.fetch(inputs, row);
            if (row.failed() || row.endOfTable()) {
                o = std::move(row);
                break;
            }
            ++r.values;
            r.valueBytes += sizeof row.dbl;
            if (r.values == c.maxRows) {
                o = std::move(row);
                break;
            }
        }
        statement.close(inputs);
        statement.finish();
        const bool ended = o.endOfTable() || (c.maxRows != 0 && r.values == c.maxRows);
        snprintf(r.state, sizeof r.state, "%s", ended ? "00000" : "FAIL!");
        if (!ended)
            fprintf(stderr, "%s: %s %s\n", c.routine, o.sqlstate.c_str(), o.message.c_str());
    }
    watch.stop(r);
    return r;
}

RunReport runExtract(const std::string &doc, const Case &c) {
    if (c.routine != nullptr) return runTable(doc, c);
    RunReport r{};
    auto *ctx = static_cast<QapRoutineCtx *>(calloc(1, sizeof(QapRoutineCtx)));
    unsigned char dbinfo[SQLUDF_DBINFO_LEN] = {};
    const int32_t cp = 1208;
    memcpy(dbinfo + SQLUDF_DBINFO_CODEPAGE_OFFSET, &cp, sizeof cp);
    char state[kSqlstateSize] = "00000";
    char msg[kMsgTextSize] = "";
    if (ctx == nullptr || qapInit(ctx, 0, dbinfo, {state, msg}, nullptr) != 0) {
        fprintf(stderr, "qapInit failed: %s %s\n", state, msg);
        strcpy(r.state, "INIT!");
        free(ctx);
        return r;
    }
    QapExtractResult result{};
    // A limit far above any value of the document.
    const int32_t limit = 1 << 20;
    Stopwatch watch;
    QapOpenFile file; // opened as the routines open it, through the allowed-files gate
    qapOpenRead(ctx, doc.c_str(), file);
    qapExtractAll(ctx, QapDoc{file.name().c_str(), kFile, 0, nullptr, &file}, c.tagged, c.path,
                  &result, limit, {state, msg});
    watch.stop(r);
    snprintf(r.state, sizeof r.state, "%s", state);
    if (strcmp(state, "00000") != 0) fprintf(stderr, "%s: %s %s", c.path, state, msg);
    if (result.values != nullptr)
        for (char **v = result.values; *v != nullptr; ++v) {
            ++r.values;
            r.valueBytes += strlen(*v);
        }
    qapFreeExtractResult(ctx, &result);
    qapRelease(ctx, state);
    free(ctx);
    return r;
}

// Runs one case in a forked child; the child's peak resident set comes back through wait4.
bool runInChild(const std::string &doc, const Case &c, RunReport &report, long &maxRssKb) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        close(fds[0]);
        if (getenv("TESSEL_BENCH_PREFAULT") != nullptr) {
            mallopt(M_TRIM_THRESHOLD, 512 << 20);
            mallopt(M_MMAP_THRESHOLD, 512 << 20);
            std::vector<void *> blocks;
            for (int i = 0; i < 1024; ++i) {
                blocks.push_back(malloc(64 << 10));
                memset(blocks.back(), 0, 64 << 10);
            }
            for (void *b : blocks)
                free(b);
        }
        RunReport r = c.path == nullptr ? runBare(doc, c.decoded) : runExtract(doc, c);
        ssize_t w = write(fds[1], &r, sizeof r);
        _exit(w == static_cast<ssize_t>(sizeof r) ? 0 : 1);
    }
    close(fds[1]);
    ssize_t got = read(fds[0], &report, sizeof report);
    close(fds[0]);
    int status = 0;
    struct rusage ru {};
    if (wait4(pid, &status, 0, &ru) != pid) return false;
    maxRssKb = ru.ru_maxrss;
    return got == static_cast<ssize_t>(sizeof report) && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string privateDir(const std::string &base) {
    std::string templ = base + "/tessel-bench-XXXXXX";
    std::vector<char> b(templ.begin(), templ.end());
    b.push_back('\0');
    if (mkdtemp(b.data()) == nullptr) return std::string();
    return std::string(b.data());
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!bench::parseOptions(argc, argv, o)) {
        bench::usage(argv[0]);
        return 2;
    }
    if (o.dir.empty()) o.dir = getenv("TMPDIR") != nullptr ? getenv("TMPDIR") : "/tmp";

    // A private directory for the document and the library's settings (no trace control file
    // there, so no tracing); removed at the end.
    const std::string work = privateDir(o.dir);
    if (work.empty()) {
        perror("mkdtemp");
        return 1;
    }
    setenv("TARNINSTANCE", "tessel_bench", 1);
    setenv("TARNQAPPATH", work.c_str(), 1);
    setenv("TARNQAPTEMP", work.c_str(), 1);
    // The table routine reads the document file: its directory is allowed too.
    std::string readAccess = work;
    if (!o.file.empty()) {
        char *real = realpath(o.file.c_str(), nullptr);
        if (real != nullptr) {
            const std::string r = real;
            free(real);
            readAccess += ";" + r.substr(0, r.rfind('/'));
        }
    }
    setenv("TARN_READ_ACCESS", readAccess.c_str(), 1);
    ucnv_setDefaultName("UTF-8");
    if (!isSharedLibInitSuccess()) {
        fprintf(stderr, "parser start-up failed\n");
        rmdir(work.c_str());
        return 1;
    }

    std::string doc = o.file;
    bool generated = false;
    int64_t size = 0;
    if (doc.empty()) {
        doc = work + "/orders.xml";
        const uint64_t target = static_cast<uint64_t>(o.sizeMb * 1024 * 1024);
        printf("generating %.0f MB document %s ...\n", o.sizeMb, doc.c_str());
        fflush(stdout);
        auto t0 = std::chrono::steady_clock::now();
        size = bench::generateOrders(doc, target);
        generated = true;
        if (size < 0) {
            fprintf(stderr, "cannot write %s\n", doc.c_str());
            remove(doc.c_str());
            rmdir(work.c_str());
            return 1;
        }
        printf("generated %" PRId64 " bytes in %.1f s\n", size,
               std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    } else {
        struct stat st {};
        if (stat(doc.c_str(), &st) != 0) {
            perror(doc.c_str());
            rmdir(work.c_str());
            return 1;
        }
        size = st.st_size;
    }
    const double mb = static_cast<double>(size) / (1024.0 * 1024.0);

    // The many-values document, when a case that uses it is wanted.
    bool manyWanted = false;
    for (const Case &c : kCases)
        manyWanted = manyWanted || (c.many && c.path != nullptr && o.values != 0 &&
                                    o.set != "small" && strstr(c.name, o.only.c_str()) != nullptr);
    const std::string manyDoc = work + "/values.xml";
    double manyMb = 0;
    if (manyWanted) {
        printf("generating a document of %" PRIu64 " values %s ...\n", o.values, manyDoc.c_str());
        fflush(stdout);
        const int64_t manySize = bench::generateValues(manyDoc, o.values);
        if (manySize < 0) {
            fprintf(stderr, "cannot write %s\n", manyDoc.c_str());
            manyWanted = false;
        }
        manyMb = static_cast<double>(manySize) / (1024.0 * 1024.0);
    }

    printf("\nbuild: commit %s, %s\n", TESSEL_BUILD_COMMIT, TESSEL_BUILD_INFO);
    printf("%.1f MB document, %d runs per case; peak MB = largest ru_maxrss of the case's "
           "children\n\n",
           mb, o.runs);
    const char *const rowFormat =
        "| %-38s | %8s | %7s | %9s | %8s | %7s | %7s | %7s | %7s | %9s | %8s |\n";
    auto rule = [](int n) { return std::string(static_cast<size_t>(n), '-'); };

    // Runs go round the cases (run 1 of every case, then run 2, ...), so that a change in the
    // machine's load touches every case alike; each round starts one case further on, so that
    // no case always follows the same one.
    struct Measured {
        const Case *c;
        std::vector<double> times, walls;
        long peakKb = 0;
        RunReport last{};
        bool ok = true;
    };
    std::vector<Measured> measured;
    for (const Case &c : kCases) {
        const bool wanted = c.many              ? manyWanted
                            : c.path == nullptr ? true
                                                : o.set == "all" || (o.set == "small" && c.small) ||
                                                      (o.set == "full" && !c.small);
        if (c.path != nullptr && strstr(c.name, o.only.c_str()) == nullptr) continue;
        if (wanted) measured.push_back(Measured{&c, {}, {}, 0, {}, true});
    }
    for (int i = 0; i < o.runs; ++i) {
        for (size_t k = 0; k < measured.size(); ++k) {
            Measured &m = measured[(k + static_cast<size_t>(i)) % measured.size()];
            if (!m.ok) continue;
            long rss = 0;
            m.ok = runInChild(m.c->many ? manyDoc : doc, *m.c, m.last, rss) &&
                   strcmp(m.last.state, "00000") == 0;
            m.times.push_back(m.last.seconds);
            m.walls.push_back(m.last.wall);
            m.peakKb = std::max(m.peakKb, rss);
        }
        fprintf(stderr, "round %d of %d done\n", i + 1, o.runs);
    }

    printf(rowFormat, "case", "MB/s", "vs bare", "MB/s wall", "best", "vs bare", "paired",
           "peak MB", "faults", "values", "value MB");
    printf("|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n", rule(40).c_str(), rule(10).c_str(),
           rule(9).c_str(), rule(11).c_str(), rule(10).c_str(), rule(9).c_str(), rule(9).c_str(),
           rule(9).c_str(), rule(9).c_str(), rule(11).c_str(), rule(10).c_str());
    int failures = 0;
    double bareRate = 0, bareBest = 0;
    const std::vector<double> *bareTimes = nullptr;
    double firstRowShare = -1, bareMedian = 0;
    long barePeakKb = 0, manyBarePeakKb = -1, manyTablePeakKb = -1, manyNonePeakKb = -1;
    for (const Measured &m : measured) {
        const Case &c = *m.c;
        const double caseMb = c.many ? manyMb : mb;
        if (!m.ok) {
            printf(rowFormat, c.name, "failed", "", "", "", "", "", "", "", "", m.last.state);
            ++failures;
            continue;
        }
        const double rate = caseMb / median(m.times);
        const double best = caseMb / *std::min_element(m.times.begin(), m.times.end());
        if (c.path == nullptr && !c.decoded) {
            // Each document's bare parse is the floor of the cases after it.
            bareRate = rate;
            bareBest = best;
            bareTimes = &m.times;
            if (!c.many) bareMedian = median(m.times), barePeakKb = m.peakKb;
        }
        if (c.maxRows != 0 && bareMedian > 0) firstRowShare = median(m.times) / bareMedian;
        if (c.many)
            (c.path == nullptr      ? manyBarePeakKb
             : c.routine == nullptr ? manyNonePeakKb
                                    : manyTablePeakKb) = m.peakKb;
        // The bare parse's time over this case's, round by round: the two runs of a round are
        // close in time, so a slow spell of the machine touches both.
        std::vector<double> paired;
        for (size_t i = 0; bareTimes != nullptr && i < m.times.size() && i < bareTimes->size(); ++i)
            paired.push_back((*bareTimes)[i] / m.times[i]);
        char cells[10][24];
        snprintf(cells[0], 24, "%.1f", rate);
        snprintf(cells[1], 24, "%.2f", bareRate > 0 ? rate / bareRate : 0.0);
        snprintf(cells[2], 24, "%.1f", caseMb / median(m.walls));
        snprintf(cells[3], 24, "%.1f", best);
        snprintf(cells[4], 24, "%.2f", bareBest > 0 ? best / bareBest : 0.0);
        snprintf(cells[5], 24, "%.2f", paired.empty() ? 0.0 : median(paired));
        snprintf(cells[6], 24, "%.1f", static_cast<double>(m.peakKb) / 1024.0);
        snprintf(cells[7], 24, "%ld", m.last.faults);
        snprintf(cells[8], 24, "%" PRIu64, m.last.values);
        snprintf(cells[9], 24, "%.1f", static_cast<double>(m.last.valueBytes) / (1024.0 * 1024.0));
        if (c.path == nullptr) strcpy(cells[8], "-"), strcpy(cells[9], "-");
        printf(rowFormat, c.name, cells[0], cells[1], cells[2], cells[3], cells[4], cells[5],
               cells[6], cells[7], cells[8], cells[9]);
    }
    printf("\nMB/s and vs bare: median processor time of the runs; MB/s wall: median elapsed "
           "time;\nbest: the fastest run (least disturbed by other work on the machine); "
           "paired: the median,\nover the rounds, of the bare parse's time over the case's in "
           "the same round.\nfaults: page faults during the last run's parse (first touches of new "
           "memory,\ncostly on a virtual machine).\n");
    if (firstRowShare >= 0)
        printf("\nfirst row of a table: %.1f%% of the bare parse's time (the whole table: the "
               "every-price case)\n",
               100 * firstRowShare);
    if (manyBarePeakKb >= 0 && manyTablePeakKb >= 0)
        printf("a table over %" PRIu64 " values: peak %.1f MB, %+.1f MB beside the bare parse of "
               "the same document (%.1f MB; the main document's bare parse: %.1f MB)\n",
               o.values, static_cast<double>(manyTablePeakKb) / 1024.0,
               static_cast<double>(manyTablePeakKb - manyBarePeakKb) / 1024.0,
               static_cast<double>(manyBarePeakKb) / 1024.0,
               static_cast<double>(barePeakKb) / 1024.0);
    if (manyNonePeakKb >= 0 && manyTablePeakKb >= 0)
        printf("  %+.1f MB beside the library's own parse of it matching nothing (%.1f MB; the "
               "bare parse keeps 8 bytes per child of the root)\n",
               static_cast<double>(manyTablePeakKb - manyNonePeakKb) / 1024.0,
               static_cast<double>(manyNonePeakKb) / 1024.0);
    if (o.set != "full")
        printf("\nThe one-order and //note cases match a handful of elements, so their peak shows "
               "what the parse itself holds.\n");

    if (generated && !o.keep)
        remove(doc.c_str());
    else if (generated)
        printf("document kept: %s\n", doc.c_str());
    if (manyWanted) remove(manyDoc.c_str());
    if (!(generated && o.keep)) rmdir(work.c_str());
    return failures == 0 ? 0 : 1;
}
