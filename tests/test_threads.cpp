// Several SQLite connections, each on its own thread, load the extension at the same time and
// run every family's routines over and over, with tracing on: each thread must see exactly the
// results of a run alone. Built with TESSEL_TSAN, the same run is the ThreadSanitizer check.
#include "qapTrace.h"
#include "testSupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using namespace tesseltest;

const char *const kQueries[] = {
    "SELECT qapExtractVarcharFromVarchar('<a><b>x</b><c>y</c></a>', '/a/c')",
    "SELECT qapExtractVarcharFromVarchar('<a><b>x</b><b>y</b></a>', '/a/b')", // 38X08
    "SELECT qapExtractIntegerFromVarchar('<a>', '/a')",                       // parser error
    "SELECT qapExtractTimestampFromVarchar('<t>2024-5-1-1.2.3.45</t>', '/t')",
    "SELECT group_concat(value) FROM qapExtractDoublesFromClob("
    "'<o><i q=\"1.5\"/><i q=\"2e3\"/></o>', '/o/i/@q')",
    "SELECT qapUpdateXMLVarchar('<o><i q=\"1\"/></o>', '/o/i/@q', 'n')",
    "SELECT qapValidateVarchar2('<!DOCTYPE o SYSTEM \"o.dtd\"><o><j/></o>', '<!ELEMENT o (i*)>"
    "<!ELEMENT i EMPTY>', 'o')",
    // Longer than the file threshold: spilled to a temporary file.
    "SELECT count(*), sum(x.value) FROM (SELECT '<o>' || replace(hex(zeroblob(150)), '00', "
    "'<i q=\"7\">' || hex(zeroblob(495)) || '</i>') || '</o>' AS d) s, "
    "qapExtractIntegersFromClob(s.d, '/o/i/@q') x",
    // Scans paused part way through, then closed by the LIMIT.
    "SELECT x.value, y.value FROM (SELECT '<o>' || replace(hex(zeroblob(300)), '00', '<i>7</i>') "
    "|| '</o>' AS d) s, qapExtractIntegersFromVarchar(s.d, '/o/i') x, "
    "qapExtractVarcharsFromVarchar(s.d, '//i') y LIMIT 130",
};

// Every query's rows ("|" between columns, ";" after rows) or its error message.
std::vector<std::string> runAll(int rounds) {
    std::vector<std::string> out;
    sqlite3 *db = nullptr;
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) return {"cannot open"};
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 1, nullptr);
    char *err = nullptr;
    if (sqlite3_load_extension(db, TESSEL_BINARY_DIR "/libtessel_sqlite", nullptr, &err) != 0)
        out.push_back(err != nullptr ? err : "cannot load");
    sqlite3_free(err);
    for (int r = 0; r < rounds; ++r) {
        for (const char *sql : kQueries) {
            std::string text;
            char *error = nullptr;
            sqlite3_exec(
                db, sql,
                [](void *p, int n, char **values, char **) {
                    for (int i = 0; i < n; ++i)
                        *static_cast<std::string *>(p) +=
                            std::string(values[i] ? values[i] : "NULL") + (i + 1 < n ? "|" : ";");
                    return 0;
                },
                &text, &error);
            out.push_back(error != nullptr ? error : text);
            sqlite3_free(error);
        }
    }
    sqlite3_close(db);
    return out;
}

TEST(Threads, ConnectionsOnSeveralThreadsGetTheResultsOfARunAlone) {
    char state[kSqlstateSize], message[kMsgTextSize];
    ASSERT_EQ(qapTraceSwitchOn(scratchDir().c_str(), nullptr, {state, message}), 0) << message;
    constexpr int kThreads = 4, kRounds = 8;
    std::vector<std::vector<std::string>> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&results, t] { results[t] = runAll(kRounds); });
    for (std::thread &t : threads)
        t.join();
    qapTraceSwitchOff(nullptr, {state, message});
    EXPECT_NE(readFile(scratchDir() + "/qaptessel_test.trc").find("first call"), std::string::npos);

    const std::vector<std::string> alone = runAll(1);
    ASSERT_EQ(alone.size(), std::size(kQueries));
    EXPECT_EQ(alone[0], "y;");
    EXPECT_NE(alone[1].find("38X08: QAPD001E"), std::string::npos) << alone[1];
    EXPECT_EQ(alone[7], "150|1050;");
    for (int t = 0; t < kThreads; ++t)
        for (size_t i = 0; i < results[t].size(); ++i)
            ASSERT_EQ(results[t][i], alone[i % alone.size()]) << "thread " << t << ", query " << i;
    EXPECT_TRUE(listDir(tempDir()).empty()) << "a temporary file outlived its call";
}

// One statement stepped from several threads, as connection pools do: a table scan over a
// spilled CLOB opened on one thread, then fetched to its end and finalized on another, lets go
// of its temporary file.
TEST(Threads, AScanFinishedOnAnotherThreadClosesItsTemporaryFile) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(
        sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX, nullptr),
        SQLITE_OK);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 1, nullptr);
    ASSERT_EQ(sqlite3_load_extension(db, TESSEL_BINARY_DIR "/libtessel_sqlite", nullptr, nullptr),
              SQLITE_OK);
    const std::string doc = "<o>" + repeat("<i>7</i><p>" + std::string(700, 'x') + "</p>", 200) +
                            "</o>"; // beyond the file threshold
    sqlite3_stmt *scan = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT value FROM qapExtractIntegersFromClob(?1, '/o/i')", -1,
                                 &scan, nullptr),
              SQLITE_OK);
    sqlite3_bind_text(scan, 1, doc.data(), static_cast<int>(doc.size()), SQLITE_STATIC);
    const size_t before = openFilesIn(tempDir());
    int rows = 0;
    std::thread([&] { rows += sqlite3_step(scan) == SQLITE_ROW; }).join();
    ASSERT_EQ(openFilesIn(tempDir()), before + 1);

    std::thread([&] {
        while (sqlite3_step(scan) == SQLITE_ROW)
            ++rows;
        sqlite3_finalize(scan);
    }).join();
    EXPECT_EQ(rows, 200);
    EXPECT_EQ(openFilesIn(tempDir()), before);
    sqlite3_close(db);
}

} // namespace
