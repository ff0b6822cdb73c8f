// The host stand-in: XML start-up, registry values, LOB locator services and the calling side
// that runs routine statements with small routines defined here.
#include "tarn.h"
#include "tarnCall.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using testing_support::ScopedEnv;

TEST(HostXmlInit, StartsOnceAcrossThreadsAndSimulatesFailures) {
    std::vector<int> answers(4, -1);
    std::vector<std::thread> threads;
    for (int &a : answers)
        threads.emplace_back([&a] { a = isSharedLibInitSuccess(); });
    for (std::thread &t : threads)
        t.join();
    for (int a : answers)
        EXPECT_NE(a, 0);
    const struct {
        int32_t code;
        const char16_t *message;
    } cases[] = {{-4, u"transformer"},
                 {-2, u"XML failure \u00e9"},
                 {7, u"unnamed"},
                 {-2, nullptr},
                 {0, u"ignored"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        tarnXmlInitSimulate(c.code, c.message);
        EXPECT_EQ(isSharedLibInitSuccess() != 0, c.code == 0);
        EXPECT_EQ(getLastErrorCode(), c.code);
        EXPECT_EQ(std::u16string(getLastErrorMessage()), c.message && c.code ? c.message : u"");
    }
}

TEST(HostRegistry, SetUnsetAndEnvironmentFallback) {
    auto registry = [](int32_t id) {
        char *v = sqloGetEnv(id);
        std::string s = v ? v : "<none>";
        free(v);
        return s;
    };
    EXPECT_EQ(registry(TARN_REG_READ_ACCESS), "<none>");
    ScopedEnv read("TARN_READ_ACCESS", "/data;/docs");
    ScopedEnv write("TARN_WRITE_ACCESS", "ANY");
    EXPECT_EQ(registry(TARN_REG_READ_ACCESS), "/data;/docs");
    EXPECT_EQ(registry(TARN_REG_WRITE_ACCESS), "ANY");
    EXPECT_EQ(registry(375), "<none>"); // only 373 and 374 look at the environment
    tarnRegistrySet(TARN_REG_READ_ACCESS, "");
    tarnRegistrySet(375, "v375");
    EXPECT_EQ(registry(TARN_REG_READ_ACCESS), ""); // an empty value is a value
    EXPECT_EQ(registry(375), "v375");
    tarnRegistrySet(TARN_REG_READ_ACCESS, nullptr);
    tarnRegistrySet(375, nullptr);
    EXPECT_EQ(registry(TARN_REG_READ_ACCESS), "/data;/docs");
    EXPECT_EQ(registry(375), "<none>");
}

// ---- LOB locator services -----------------------------------------------------------------

namespace {
class HostLob : public ::testing::Test {
protected:
    void SetUp() override { tarnLobReset(); }
    void TearDown() override { tarnLobReset(); }

    static uint32_t fromText(const std::string &s) {
        return tarnLobFromBytes(s.data(), static_cast<int32_t>(s.size()));
    }
    static std::string bytesOf(uint32_t loc) {
        const char *b = nullptr;
        int32_t n = tarnLobBytes(loc, &b);
        return n < 0 ? "<unknown>" : std::string(b, static_cast<size_t>(n));
    }
    static uint32_t newResult() {
        sqludf_locator loc = 0;
        sqludf_locator *out = &loc;
        EXPECT_EQ(sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, &out), 0);
        return loc;
    }
    static int append(uint32_t loc, const std::string &s, int32_t *count) {
        return sqludf_append(&loc, reinterpret_cast<unsigned char *>(const_cast<char *>(s.data())),
                             static_cast<int32_t>(s.size()), count);
    }
};
} // namespace

TEST_F(HostLob, LengthAndDrop) {
    uint32_t a = fromText("hello");
    uint32_t b = fromText(std::string("x\0y", 3));
    EXPECT_NE(a, b);
    int32_t len = -1;
    EXPECT_EQ(sqludf_length(&b, &len), 0);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(bytesOf(b), std::string("x\0y", 3));
    uint32_t empty = tarnLobFromBytes(nullptr, 0);
    EXPECT_EQ(sqludf_length(&empty, &len), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(tarnLobFromBytes("x", -1), 0u);
    EXPECT_EQ(tarnLobFromBytes(nullptr, 1), 0u);

    tarnLobFree(a);
    tarnLobFree(a); // a second drop is ignored
    EXPECT_EQ(sqludf_length(&a, &len), TARN_LOB_UNKNOWN_LOCATOR);
    const char *p = "stale";
    EXPECT_EQ(tarnLobBytes(a, &p), -1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(sqludf_length(nullptr, &len), TARN_LOB_NULL_ARGUMENT);
    EXPECT_EQ(sqludf_length(&b, nullptr), TARN_LOB_NULL_ARGUMENT);
    tarnLobReset();
    EXPECT_EQ(tarnLobBytes(b, nullptr), -1);
}

TEST_F(HostLob, SubstrRanges) {
    uint32_t loc = fromText("abcdef");
    const struct {
        int32_t start, count;
        int rc;
        const char *bytes;
    } cases[] = {
        {1, 6, 0, "abcdef"},
        {2, 3, 0, "bcd"},
        {4, 10, 0, "def"}, // beyond the end: the bytes that exist, a shorter count
        {6, 1, 0, "f"},
        {7, 1, 0, ""}, // one past the end reads nothing
        {1, 0, 0, ""},
        {8, 1, TARN_LOB_OUT_OF_RANGE, ""},
        {0, 1, TARN_LOB_OUT_OF_RANGE, ""},
        {-5, 1, TARN_LOB_OUT_OF_RANGE, ""},
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
        EXPECT_EQ(buf[strlen(c.bytes)], '#'); // nothing written past the count
    }
    unsigned char buf[4];
    int32_t got = 0;
    uint32_t unknown = loc + 1000;
    EXPECT_EQ(sqludf_substr(&unknown, 1, 1, buf, &got), TARN_LOB_UNKNOWN_LOCATOR);
    EXPECT_EQ(sqludf_substr(nullptr, 1, 1, buf, &got), TARN_LOB_NULL_ARGUMENT);
    EXPECT_EQ(sqludf_substr(&loc, 1, 1, nullptr, &got), TARN_LOB_NULL_ARGUMENT);
    EXPECT_EQ(sqludf_substr(&loc, 1, 1, buf, nullptr), TARN_LOB_NULL_ARGUMENT);
}

TEST_F(HostLob, CreateAndAppend) {
    uint32_t loc = newResult();
    ASSERT_NE(loc, 0u);
    EXPECT_EQ(bytesOf(loc), "");
    int32_t n = -1;
    EXPECT_EQ(append(loc, "abc", &n), 0);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(append(loc, "", &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(append(loc, std::string("d\0e", 3), &n), 0);
    EXPECT_EQ(bytesOf(loc), std::string("abcd\0e", 6));
    EXPECT_NE(newResult(), loc);

    // Misuse.
    sqludf_locator slot = 0;
    sqludf_locator *out = &slot;
    sqludf_locator *nowhere = nullptr;
    EXPECT_EQ(sqludf_create_locator(405, &out), TARN_LOB_WRONG_TYPE);
    EXPECT_EQ(slot, 0u);
    EXPECT_EQ(sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, nullptr), TARN_LOB_NULL_ARGUMENT);
    EXPECT_EQ(sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, &nowhere), TARN_LOB_NULL_ARGUMENT);
    uint32_t input = fromText("in");
    EXPECT_EQ(append(input, "x", &n), TARN_LOB_READ_ONLY);
    EXPECT_EQ(bytesOf(input), "in");
    EXPECT_EQ(append(loc + 1000, "x", &n), TARN_LOB_UNKNOWN_LOCATOR);
    unsigned char b = 'x';
    EXPECT_EQ(sqludf_append(&loc, &b, -1, &n), TARN_LOB_OUT_OF_RANGE);
    EXPECT_EQ(sqludf_append(&loc, nullptr, 1, &n), TARN_LOB_NULL_ARGUMENT);
    EXPECT_EQ(sqludf_append(&loc, &b, 1, nullptr), TARN_LOB_NULL_ARGUMENT);
    EXPECT_EQ(bytesOf(loc), std::string("abcd\0e", 6));
}

TEST_F(HostLob, InjectedFailureHitsTheCallAfterNSuccessfulOnes) {
    // Each of the four services in turn is the one that fails.
    for (int32_t n = 0; n < 5; ++n) {
        SCOPED_TRACE(n);
        tarnLobReset();
        uint32_t in = fromText("abc");
        tarnLobFailAfter(n, -4242);
        std::vector<int> rcs;
        uint32_t res = 0;
        sqludf_locator *out = &res;
        rcs.push_back(sqludf_create_locator(SQLUDF_LOCATOR_TYPE_CLOB, &out));
        int32_t count = 0;
        unsigned char buf[4] = {'x', 'y', 'z', 0};
        rcs.push_back(sqludf_append(&res, buf, 3, &count));
        rcs.push_back(sqludf_length(&in, &count));
        rcs.push_back(sqludf_substr(&in, 1, 3, buf, &count));
        rcs.push_back(sqludf_length(&in, &count));
        for (int32_t i = 0; i < 5; ++i) {
            // A failed create leaves no result locator for the append after it.
            int expected = i == n ? -4242 : (n == 0 && i == 1 ? TARN_LOB_UNKNOWN_LOCATOR : 0);
            EXPECT_EQ(rcs[static_cast<size_t>(i)], expected) << "call " << i;
        }
    }
    // Only successful calls count; a failure happens once; -1 or a reset cancels it.
    uint32_t in = fromText("abc");
    uint32_t unknown = in + 1000;
    int32_t len = 0;
    tarnLobFailAfter(1, 17);
    EXPECT_EQ(sqludf_length(&unknown, &len), TARN_LOB_UNKNOWN_LOCATOR);
    EXPECT_EQ(sqludf_length(&in, &len), 0);
    EXPECT_EQ(sqludf_length(&in, &len), 17);
    EXPECT_EQ(sqludf_length(&in, &len), 0);
    tarnLobFailAfter(0, 17);
    tarnLobFailAfter(-1, 17);
    EXPECT_EQ(sqludf_length(&in, &len), 0);
    tarnLobFailAfter(0, 17);
    tarnLobReset();
    in = fromText("abc");
    EXPECT_EQ(sqludf_length(&in, &len), 0);
}

// ---- Calling side -------------------------------------------------------------------------

namespace {

// The scratchpad layout of the test routines: a call counter and the call types seen.
struct Pad {
    uint32_t calls;
    int32_t types[20];
};

// What the host promises on entry (an empty string when all is as it should be), and the
// call type recorded in the scratchpad.
std::string enter(const char *out, size_t outSize, char *state, char *msg, sqludf_scratchpad *pad,
                  int32_t callType) {
    auto *mine = reinterpret_cast<Pad *>(pad->data);
    if (mine->calls < 20) mine->types[mine->calls] = callType;
    ++mine->calls;
    std::string problem;
    if (reinterpret_cast<uintptr_t>(pad->data) % 8 != 0) problem = "scratchpad data unaligned";
    if (pad->length != SQLUDF_SCRATCHPAD_LEN) problem = "scratchpad length";
    if (strcmp(state, "00000") != 0) problem = "sqlstate not reset";
    if (msg[0] != 0) problem = "message not emptied";
    if (out != nullptr && out[0] != 0) problem = "output first byte";
    for (size_t i = 1; out != nullptr && i < outSize; ++i)
        if (out[i] != 0x5A) problem = "output pattern";
    if (!problem.empty()) {
        strcpy(state, "38T01");
        snprintf(msg, 71, "%s", problem.c_str());
    }
    return problem;
}

std::vector<int32_t> callTypes(const char *scratch) {
    const auto *pad = reinterpret_cast<const Pad *>(scratch);
    return std::vector<int32_t>(pad->types, pad->types + (pad->calls < 20 ? pad->calls : 20));
}

// Three inputs joined by "|" ("NULL" for a null input) into a VARCHAR(40); the message reports
// the code page and the call count.
extern "C" void echo(char *a, char *b, char *c, char *out, int16_t *ia, int16_t *ib, int16_t *ic,
                     int16_t *outInd, char *state, char *, char *, char *msg,
                     sqludf_scratchpad *pad, int32_t *callType, unsigned char *dbinfo) {
    *outInd = -1;
    if (!enter(out, 41, state, msg, pad, *callType).empty()) return;
    char *in[] = {a, b, c};
    int16_t *ind[] = {ia, ib, ic};
    std::string text;
    for (int i = 0; i < 3; ++i) {
        if ((*ind[i] == -1 && in[i][0] != 0) || (*ind[i] != -1 && *ind[i] != 0)) {
            strcpy(state, "38T01");
            strcpy(msg, "input indicator");
            return;
        }
        text += (i ? "|" : "") + (*ind[i] == -1 ? std::string("NULL") : std::string(in[i]));
    }
    if (*callType == SQLUDF_FINAL_CALL) return;
    snprintf(out, 41, "%s", text.c_str());
    *outInd = 0;
    int32_t cp = 0;
    memcpy(&cp, dbinfo + SQLUDF_DBINFO_CODEPAGE_OFFSET, sizeof cp);
    snprintf(msg, 71, "cp=%d calls=%u", cp, reinterpret_cast<Pad *>(pad->data)->calls);
}

// A counter with no inputs: adds 1 to the first word of its scratchpad on every call.
extern "C" void counter(int32_t *out, int16_t *outInd, char *, char *, char *, char *,
                        sqludf_scratchpad *pad, int32_t *, unsigned char *) {
    int32_t n = 0;
    memcpy(&n, pad->data, sizeof n);
    *out = ++n;
    memcpy(pad->data, &n, sizeof n);
    *outInd = 0;
}

// Copies a CLOB input into a new CLOB result, 3 bytes per host call; remembers the input
// locator so that the test can see it was dropped.
uint32_t lastClobInput = 0;
extern "C" void clobCopy(sqludf_locator *in, sqludf_locator *out, int16_t *, int16_t *outInd,
                         char *state, char *, char *, char *msg, sqludf_scratchpad *,
                         int32_t *callType, unsigned char *) {
    *outInd = -1;
    if (*callType == SQLUDF_FINAL_CALL) return;
    lastClobInput = *in;
    int32_t length = 0, n = 0;
    int rc = *out != 0 ? -1 : sqludf_length(in, &length);
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

// Records the call types it sees.
std::vector<int32_t> recorded;
extern "C" void recorder(char *, char *, int16_t *, int16_t *outInd, char *, char *, char *, char *,
                         sqludf_scratchpad *, int32_t *callType, unsigned char *) {
    recorded.push_back(*callType);
    *outInd = -1;
}

extern "C" void thrower(char *, char *, int16_t *, int16_t *, char *, char *, char *, char *,
                        sqludf_scratchpad *, int32_t *, unsigned char *) {
    throw std::runtime_error("escaping");
}

// A table of the rows "row1" to "row3" (the second with a warning); the input "fail" makes
// the second fetch fail. The row cursor follows the Pad in the scratchpad.
extern "C" void threeRows(char *in, char *out, int16_t *, int16_t *outInd, char *state, char *,
                          char *, char *msg, sqludf_scratchpad *pad, int32_t *callType,
                          unsigned char *) {
    *outInd = -1;
    if (!enter(out, 11, state, msg, pad, *callType).empty()) return;
    int32_t &cursor = *reinterpret_cast<int32_t *>(pad->data + sizeof(Pad));
    if (*callType == SQL_TF_OPEN) cursor = 0;
    if (*callType != SQL_TF_FETCH) return;
    if (strcmp(in, "fail") == 0 && cursor == 1) {
        strcpy(state, "38T02");
        strcpy(msg, "fetch failed");
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

const std::vector<tarn::SqlType> ONE(1, tarn::SqlType::Varchar), THREE(3, tarn::SqlType::Varchar);

} // namespace

TEST(HostCall, ScalarCallTypesScratchpadAndCodePage) {
    tarn::ScalarStatement st(desc(reinterpret_cast<void *>(echo), THREE), 819);
    EXPECT_FALSE(st.started());
    tarn::Outcome o = st.call({"x", "", tarn::Input::null()});
    ASSERT_TRUE(o.ok()) << o.sqlstate << " " << o.message;
    EXPECT_EQ(o.text, "x||NULL");
    EXPECT_EQ(o.message, "cp=819 calls=1");
    EXPECT_TRUE(st.started());
    EXPECT_EQ(st.call({tarn::Input::null(), "b", "c"}).text, "NULL|b|c");
    o = st.call({std::string(38, 'w'), "", ""}); // exactly fills the output
    EXPECT_EQ(o.text, std::string(38, 'w') + "||");
    EXPECT_EQ(o.message, "cp=819 calls=3");
    tarn::Outcome fin = st.finish();
    EXPECT_TRUE(fin.ok()) << fin.message;
    EXPECT_TRUE(fin.isNull());
    EXPECT_FALSE(st.started());
    EXPECT_EQ(callTypes(st.scratchData()), (std::vector<int32_t>{-1, 0, 0, 1}));

    // A new statement starts from a zero-filled scratchpad.
    EXPECT_EQ(st.call({"d", "e", "f"}).message, "cp=819 calls=1");
    EXPECT_EQ(callTypes(st.scratchData()), (std::vector<int32_t>{-1}));
}

TEST(HostCall, NoInputsDestructorAndException) {
    tarn::ScalarStatement count(
        desc(reinterpret_cast<void *>(counter), {}, tarn::SqlType::Integer));
    EXPECT_EQ(count.call({}).integer, 1);
    EXPECT_EQ(count.call({}).integer, 2);
    EXPECT_EQ(count.finish().integer, 3);
    EXPECT_EQ(count.call({}).integer, 1);

    // The destructor finishes only a started statement.
    recorded.clear();
    { tarn::ScalarStatement st(desc(reinterpret_cast<void *>(recorder), ONE)); }
    EXPECT_TRUE(recorded.empty());
    {
        tarn::ScalarStatement st(desc(reinterpret_cast<void *>(recorder), ONE));
        st.call({"a"});
        st.call({"b"});
    }
    EXPECT_EQ(recorded, (std::vector<int32_t>{-1, 0, 1}));

    tarn::ScalarStatement st(desc(reinterpret_cast<void *>(thrower), ONE));
    tarn::Outcome o = st.call({"a"});
    EXPECT_EQ(o.sqlstate, "58004");
    EXPECT_FALSE(o.message.empty());
}

TEST(HostCall, ClobInputAndOutputLocatorsAreDropped) {
    tarn::ScalarStatement st(
        desc(reinterpret_cast<void *>(clobCopy), {tarn::SqlType::Clob}, tarn::SqlType::Clob, 0));
    for (const std::string &text :
         {std::string("<a>clob</a>"), std::string(), std::string(100000, 'c')}) {
        SCOPED_TRACE(text.size());
        tarn::Outcome o = st.call({text});
        ASSERT_TRUE(o.ok()) << o.sqlstate << " " << o.message;
        EXPECT_EQ(o.text, text);
        EXPECT_NE(o.locator, 0u);
        EXPECT_EQ(tarnLobBytes(o.locator, nullptr), -1);
        EXPECT_NE(lastClobInput, 0u);
        EXPECT_EQ(tarnLobBytes(lastClobInput, nullptr), -1);
    }
    // A NULL CLOB input arrives as indicator -1 and no locator.
    tarn::Outcome o = st.call({tarn::Input::null()});
    EXPECT_EQ(o.sqlstate, "38X04");
    EXPECT_EQ(o.message, "rc=" + std::to_string(TARN_LOB_UNKNOWN_LOCATOR));
}

TEST(HostCall, TableRunsAndErrors) {
    tarn::RoutineDesc d =
        desc(reinterpret_cast<void *>(threeRows), ONE, tarn::SqlType::Varchar, 10);
    d.table = true;
    tarn::TableStatement st(d);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        tarn::TableRun r = st.run({"doc"});
        ASSERT_EQ(r.rows.size(), 3u) << r.end.sqlstate << " " << r.end.message;
        EXPECT_EQ(r.rows[0].text, "row1");
        EXPECT_EQ(r.rows[1].text, "row2");
        EXPECT_EQ(r.rows[1].sqlstate, "01T00"); // a warning row is still a row
        EXPECT_EQ(r.rows[2].text, "row3");
        EXPECT_EQ(r.end.sqlstate, "02000");
        EXPECT_TRUE(r.end.isNull());
    }
    tarn::Outcome fin = st.finish();
    EXPECT_TRUE(fin.ok()) << fin.message;
    EXPECT_EQ(callTypes(st.scratchData()),
              (std::vector<int32_t>{-2, -1, 0, 0, 0, 0, 1, -1, 0, 0, 0, 0, 1, 2}));

    // An error ends the run, which still closes.
    tarn::TableStatement failing(d);
    tarn::TableRun r = failing.run({"fail"});
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.end.sqlstate, "38T02");
    EXPECT_EQ(r.end.message, "fetch failed");
    failing.finish();
    EXPECT_EQ(callTypes(failing.scratchData()), (std::vector<int32_t>{-2, -1, 0, 0, 1, 2}));
}
