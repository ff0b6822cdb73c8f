// What every routine call rests on: the host's calling side (the calls of a scalar statement
// and what a routine finds on entry), the trace control file and the adapters' private
// directories. (The calls of the routines themselves, their first-call failures and message
// texts: test_routines.cpp.)
#include "qapCtx.h"
#include "tarnCall.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <string>
#include <vector>

using tesseltest::ScopedEnv;
using tesseltest::TestCtx;
using tesseltest::writeFile;

// ---- Tracing -----------------------------------------------------------------------------------

// A control file that cannot be opened (not merely missing) fails the initialisation. (A
// control file that names a trace file makes the routines trace: the SQL context test.)
TEST(Trace, UnreadableControlFileFailsInitialisation) {
    const std::string notDir = writeFile("notadir", "");
    ScopedEnv path("TARNQAPPATH", notDir.c_str());
    TestCtx ctx;
    EXPECT_EQ(ctx.initRc, -1);
    EXPECT_EQ(std::string(ctx.msgtext),
              ("'" + notDir + "/qaptessel_test.ctl' Not a directory\n").substr(0, 70));
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
#ifdef TARN_HARNESS_BUFFERS
    for (size_t i = 1; i < outSize; ++i)
        if (out[i] != 0x5A) problem = "output pattern";
#else
    (void)outSize;
#endif
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

tarn::RoutineDesc desc(void *entry, std::vector<tarn::SqlType> inputs,
                       tarn::SqlType output = tarn::SqlType::VARCHAR, int32_t length = 40) {
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
    const std::vector<tarn::SqlType> three(3, tarn::SqlType::VARCHAR);
    {
        tarn::ScalarStatement st(desc(reinterpret_cast<void *>(echo), three), 819);
        tarn::Outcome o = st.call({"x", "", tarn::Input::null()});
        ASSERT_TRUE(o.ok()) << o.sqlstate << " " << o.message;
        EXPECT_EQ(o.text, "x||NULL");
        EXPECT_EQ(o.message, "cp=819 calls=1");
        o = st.call({std::string(38, 'w'), "", ""}); // exactly fills the output
        EXPECT_EQ(o.text, std::string(38, 'w') + "||");
        EXPECT_EQ(o.message, "cp=819 calls=2");
        const char own[] = "mine"; // passed as it is, as a host passes its row buffer
        EXPECT_EQ(st.call({tarn::Input::of(own), tarn::Input::null(), ""}).text, "mine|NULL|");
        tarn::Outcome fin = st.finish();
        EXPECT_TRUE(fin.ok()) << fin.message;
        EXPECT_TRUE(fin.isNull());
        // A new statement starts from a zero-filled scratchpad; the destructor finishes it.
        EXPECT_EQ(st.call({"d", "e", "f"}).message, "cp=819 calls=1");
    }
    { tarn::ScalarStatement unused(desc(reinterpret_cast<void *>(echo), three)); }
    EXPECT_EQ(seen, (std::vector<int32_t>{-1, 0, 0, 1, -1, 1}));
}

// ---- Process set-up ---------------------------------------------------------------------------

// A directory for the trace control file or temporary files is taken only when nobody else can
// write it or move it away: its parent must not be writable by others unless sticky.
TEST(HostProcess, PrivateDirectoryRefusesWhatOthersCanReach) {
    const std::string parent = tesseltest::scratchDir() + "/private";
    const std::string dir = parent + "/tessel";
    ASSERT_EQ(mkdir(parent.c_str(), 0700), 0);
    ASSERT_EQ(chmod(parent.c_str(), 0777), 0);
    EXPECT_FALSE(tarn::privateDirectory(dir));
    struct stat st;
    EXPECT_NE(lstat(dir.c_str(), &st), 0);      // not even created
    ASSERT_EQ(chmod(parent.c_str(), 01777), 0); // sticky, as /tmp
    EXPECT_TRUE(tarn::privateDirectory(dir));
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(chmod(dir.c_str(), 0770), 0);
    EXPECT_FALSE(tarn::privateDirectory(dir));
    ASSERT_EQ(rmdir(dir.c_str()), 0);
    ASSERT_EQ(symlink(parent.c_str(), dir.c_str()), 0); // a link is never taken
    EXPECT_FALSE(tarn::privateDirectory(dir));
    unlink(dir.c_str());
    rmdir(parent.c_str());
}
