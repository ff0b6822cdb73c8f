// The host stand-in where the routines and the SQL adapters rely on it: XML start-up, registry
// values, the LOB locator services with their injected failures, and the calling side's call
// sequences, checked with small routines defined here.
#include "tarn.h"
#include "tarnCall.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

TEST(Host, XmlStartUpOnceAcrossThreadsAndSimulatedFailures) {
    std::vector<int> answers(4, -1);
    std::vector<std::thread> threads;
    for (int &a : answers)
        threads.emplace_back([&a] { a = isSharedLibInitSuccess(); });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(answers, std::vector<int>(4, 1));
    tarnXmlInitSimulate(-2, u"XML failure \u00e9");
    EXPECT_EQ(isSharedLibInitSuccess(), 0);
    EXPECT_EQ(getLastErrorCode(), -2);
    EXPECT_EQ(std::u16string(getLastErrorMessage()), u"XML failure \u00e9");
    tarnXmlInitSimulate(0, u"ignored");
    EXPECT_NE(isSharedLibInitSuccess(), 0);
}

TEST(Host, RegistryValuesFallBackToTheEnvironment) {
    auto registry = [](int32_t id) {
        char *v = sqloGetEnv(id);
        std::string s = v ? v : "<none>";
        free(v);
        return s;
    };
    testing_support::ScopedEnv read("TARN_READ_ACCESS", "/data;/docs");
    EXPECT_EQ(registry(TARN_REG_READ_ACCESS), "/data;/docs");
    tarnRegistrySet(TARN_REG_READ_ACCESS, "");
    EXPECT_EQ(registry(TARN_REG_READ_ACCESS), ""); // an empty value is a value
    tarnRegistrySet(TARN_REG_READ_ACCESS, nullptr);
    EXPECT_EQ(registry(TARN_REG_READ_ACCESS), "/data;/docs");
    EXPECT_EQ(registry(TARN_REG_WRITE_ACCESS), "<none>");
}

// Reads of a piece: the bytes that exist from a 1-based position, nothing written past them.
TEST(Host, LobSubstrRanges) {
    tarnLobReset();
    sqludf_locator loc = tarnLobFromBytes("abcdef", 6);
    const struct {
        int32_t start, count;
        int rc;
        const char *bytes;
    } cases[] = {
        {2, 3, 0, "bcd"},
        {4, 10, 0, "def"},
        {7, 1, 0, ""},
        {1, 0, 0, ""},
        {8, 1, TARN_LOB_OUT_OF_RANGE, ""},
        {0, 1, TARN_LOB_OUT_OF_RANGE, ""},
        {1, -1, TARN_LOB_OUT_OF_RANGE, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.start) + "," + std::to_string(c.count));
        unsigned char buf[16];
        memset(buf, '#', sizeof buf);
        int32_t got = -1;
        EXPECT_EQ(sqludf_substr(&loc, c.start, c.count, buf, &got), c.rc);
        EXPECT_EQ(got, static_cast<int32_t>(strlen(c.bytes)));
        EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), strlen(c.bytes)), c.bytes);
        EXPECT_EQ(buf[strlen(c.bytes)], '#');
    }
    sqludf_locator unknown = loc + 1000;
    int32_t len = 0;
    EXPECT_EQ(sqludf_length(&unknown, &len), TARN_LOB_UNKNOWN_LOCATOR);
    // An input locator is read-only.
    EXPECT_EQ(sqludf_append(&loc, reinterpret_cast<unsigned char *>(&len), 1, &len),
              TARN_LOB_READ_ONLY);
}

// tarnLobFailAfter(n, code): the service call after n successful ones fails with the code,
// once; -1 or a reset cancels it.
TEST(Host, InjectedLobFailureHitsTheCallAfterNSuccessfulOnes) {
    for (int32_t n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        tarnLobReset();
        sqludf_locator in = tarnLobFromBytes("abc", 3), res = 0, *out = &res;
        tarnLobFailAfter(n, -4242);
        int32_t count = 0;
        unsigned char buf[4] = {'x', 'y', 'z', 0};
        const std::vector<int> rcs = {
            sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, &out),
            sqludf_append(&res, buf, 3, &count), sqludf_length(&in, &count),
            sqludf_substr(&in, 1, 3, buf, &count), sqludf_length(&in, &count)};
        for (int32_t i = 0; i < 5; ++i) {
            // A failed create leaves no result locator for the append after it.
            int expected = i == n ? -4242 : (n == 0 && i == 1 ? TARN_LOB_UNKNOWN_LOCATOR : 0);
            EXPECT_EQ(rcs[static_cast<size_t>(i)], expected) << "call " << i;
        }
    }
    sqludf_locator in = tarnLobFromBytes("abc", 3);
    int32_t len = 0;
    tarnLobFailAfter(0, 17);
    tarnLobFailAfter(-1, 17);
    EXPECT_EQ(sqludf_length(&in, &len), 0);
    tarnLobReset();
}

// ---- Calling side ---------------------------------------------------------------------------

namespace {

std::vector<int32_t> seen; // the call types the test routines saw

// Records the call type; reports in the SQLSTATE what the host did not promise on entry.
bool enter(const char *out, size_t outSize, char *state, char *msg, sqludf_scratchpad *pad,
           int32_t callType) {
    seen.push_back(callType);
    const char *problem = nullptr;
    if (reinterpret_cast<uintptr_t>(pad->data) % 8 != 0) problem = "scratchpad data unaligned";
    if (pad->length != SQLUDF_SCRATCHPAD_LEN) problem = "scratchpad length";
    if (strcmp(state, "00000") != 0) problem = "sqlstate not reset";
    if (msg[0] != 0) problem = "message not emptied";
    if (out[0] != 0) problem = "output first byte";
    for (size_t i = 1; i < outSize; ++i)
        if (out[i] != 0x5A) problem = "output pattern";
    if (problem == nullptr) return true;
    strcpy(state, "38T01");
    snprintf(msg, 71, "%s", problem);
    return false;
}

// Three inputs joined by "|" ("NULL" for a null input) into a VARCHAR(40); the message reports
// the code page and the calls the scratchpad counted.
extern "C" void echo(char *a, char *b, char *c, char *out, int16_t *ia, int16_t *ib, int16_t *ic,
                     int16_t *outInd, char *state, char *, char *, char *msg,
                     sqludf_scratchpad *pad, int32_t *callType, unsigned char *dbinfo) {
    *outInd = -1;
    if (!enter(out, 41, state, msg, pad, *callType) || *callType == SQLUDF_FINAL_CALL) return;
    char *in[] = {a, b, c};
    int16_t *ind[] = {ia, ib, ic};
    std::string text;
    for (int i = 0; i < 3; ++i)
        text += (i ? "|" : "") + (*ind[i] == -1 ? "NULL" : std::string(in[i]));
    snprintf(out, 41, "%s", text.c_str());
    *outInd = 0;
    int32_t cp = 0, calls = 0;
    memcpy(&cp, dbinfo + SQLUDF_DBINFO_CODEPAGE_OFFSET, sizeof cp);
    memcpy(&calls, pad->data, sizeof calls);
    ++calls;
    memcpy(pad->data, &calls, sizeof calls);
    snprintf(msg, 71, "cp=%d calls=%d", cp, calls);
}

// Copies a CLOB input into a new CLOB result, 3 bytes per host call; remembers the input
// locator so that the test can see it was dropped.
sqludf_locator lastClobInput = 0;
extern "C" void clobCopy(sqludf_locator *in, sqludf_locator *out, int16_t *, int16_t *outInd,
                         char *state, char *, char *, char *msg, sqludf_scratchpad *,
                         int32_t *callType, unsigned char *) {
    *outInd = -1;
    if (*callType == SQLUDF_FINAL_CALL) return;
    lastClobInput = *in;
    int32_t length = 0, n = 0;
    int rc = sqludf_length(in, &length);
    if (rc == 0) rc = sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, &out);
    for (int32_t pos = 1; rc == 0 && pos <= length; pos += 3) {
        unsigned char piece[3];
        rc = sqludf_substr(in, pos, 3, piece, &n);
        if (rc == 0) rc = sqludf_append(out, piece, n, &n);
    }
    if (rc != 0) {
        strcpy(state, "38X04");
        snprintf(msg, 71, "rc=%d", rc);
        return;
    }
    *outInd = 0;
}

// A table of the rows "row1" to "row3" (the second with a warning); the input "fail" makes
// the second fetch fail.
extern "C" void threeRows(char *in, char *out, int16_t *, int16_t *outInd, char *state, char *,
                          char *, char *msg, sqludf_scratchpad *pad, int32_t *callType,
                          unsigned char *) {
    *outInd = -1;
    if (!enter(out, 11, state, msg, pad, *callType)) return;
    int32_t &cursor = *reinterpret_cast<int32_t *>(pad->data);
    if (*callType == SQL_TF_OPEN) cursor = 0;
    if (*callType != SQL_TF_FETCH) return;
    if (strcmp(in, "fail") == 0 && cursor == 1) {
        strcpy(state, "38T02");
    } else if (cursor == 3) {
        strcpy(state, "02000");
    } else {
        strcpy(out, ("row" + std::to_string(++cursor)).c_str());
        *outInd = 0;
        if (cursor == 2) strcpy(state, "01T00");
    }
}

tarn::RoutineDesc desc(void *entry, std::vector<tarn::SqlType> inputs,
                       tarn::SqlType output = tarn::SqlType::Varchar, int32_t length = 40) {
    tarn::RoutineDesc d;
    d.name = "TEST";
    d.entry = entry;
    d.inputs = std::move(inputs);
    d.output = output;
    d.outputLength = length;
    return d;
}

} // namespace

TEST(HostCall, ScalarStatementCallsFirstNormalAndFinal) {
    seen.clear();
    const std::vector<tarn::SqlType> three(3, tarn::SqlType::Varchar);
    {
        tarn::ScalarStatement st(desc(reinterpret_cast<void *>(echo), three), 819);
        tarn::Outcome o = st.call({"x", "", tarn::Input::null()});
        ASSERT_TRUE(o.ok()) << o.sqlstate << " " << o.message;
        EXPECT_EQ(o.text, "x||NULL");
        EXPECT_EQ(o.message, "cp=819 calls=1");
        o = st.call({std::string(38, 'w'), "", ""}); // exactly fills the output
        EXPECT_EQ(o.text, std::string(38, 'w') + "||");
        EXPECT_EQ(o.message, "cp=819 calls=2");
        tarn::Outcome fin = st.finish();
        EXPECT_TRUE(fin.ok()) << fin.message;
        EXPECT_TRUE(fin.isNull());
        // A new statement starts from a zero-filled scratchpad; the destructor finishes it.
        EXPECT_EQ(st.call({"d", "e", "f"}).message, "cp=819 calls=1");
    }
    { tarn::ScalarStatement unused(desc(reinterpret_cast<void *>(echo), three)); }
    EXPECT_EQ(seen, (std::vector<int32_t>{-1, 0, 1, -1, 1}));
}

TEST(HostCall, ClobInputAndResultLocatorsAreDroppedAfterTheCall) {
    tarn::ScalarStatement st(
        desc(reinterpret_cast<void *>(clobCopy), {tarn::SqlType::Clob}, tarn::SqlType::Clob, 0));
    for (const std::string &text : {std::string("<a>clob</a>"), std::string(100000, 'c')}) {
        SCOPED_TRACE(text.size());
        tarn::Outcome o = st.call({text});
        ASSERT_TRUE(o.ok()) << o.sqlstate << " " << o.message;
        EXPECT_EQ(o.text, text);
        EXPECT_EQ(tarnLobBytes(o.locator, nullptr), -1);
        EXPECT_EQ(tarnLobBytes(lastClobInput, nullptr), -1);
    }
}

TEST(HostCall, TableStatementRunsUntilEndOrError) {
    tarn::RoutineDesc d = desc(reinterpret_cast<void *>(threeRows), {tarn::SqlType::Varchar},
                               tarn::SqlType::Varchar, 10);
    d.table = true;
    seen.clear();
    {
        tarn::TableStatement st(d);
        for (int pass = 0; pass < 2; ++pass) {
            tarn::TableRun r = st.run({"doc"});
            ASSERT_EQ(r.rows.size(), 3u) << r.end.sqlstate << " " << r.end.message;
            EXPECT_EQ(r.rows[1].text, "row2");
            EXPECT_EQ(r.rows[1].sqlstate, "01T00"); // a warning row is still a row
            EXPECT_EQ(r.rows[2].text, "row3");
            EXPECT_EQ(r.end.sqlstate, "02000");
        }
        EXPECT_TRUE(st.finish().ok());
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{-2, -1, 0, 0, 0, 0, 1, -1, 0, 0, 0, 0, 1, 2}));
    // An error ends the run, which still closes.
    seen.clear();
    tarn::TableStatement failing(d);
    tarn::TableRun r = failing.run({"fail"});
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.end.sqlstate, "38T02");
    failing.finish();
    EXPECT_EQ(seen, (std::vector<int32_t>{-2, -1, 0, 0, 1, 2}));
}
