// The routine frame: context initialisation and release, the scalar frame through the host's
// calling side, and the parser start-up check.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapFrame.h"
#include "qapLib.h"
#include "qapMsg.h"
#include "tarnCall.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

using testing_support::ScopedEnv;
using testing_support::TestCtx;

namespace {

// ---- A tiny scalar routine on the frame: VARCHAR in, VARCHAR(20) out ---------------------
// Input "ok" succeeds, "warn" ends with a warning, "fail" with an error, "dtd" keeps a DTD
// text in the scratchpad. Every call that reaches the work counts in workCalls.
int workCalls = 0;

extern "C" void frameProbe(const char *in, char *out, int16_t *, int16_t *outInd, char *sqlstate,
                           const char *, const char *, char *msgtext, sqludf_scratchpad *scratchpad,
                           int32_t *callType, void *dbinfo) {
    *outInd = -1;
    out[0] = '\0';
    QapScratch *scratch = qapScratchOf(scratchpad);
    QapRoutineCtx *ctx = qapFrameBegin(scratch, *callType, dbinfo, sqlstate, msgtext, "frameProbe");
    if (ctx == nullptr) return;
    ++workCalls;
    if (strcmp(in, "fail") == 0) {
        qapSetError(ctx, sqlstate, "38X08", msgtext, QAPD001E, "x");
    } else if (strcmp(in, "warn") == 0) {
        qapSetError(ctx, sqlstate, "01HX0", msgtext, QAPD003W);
    } else {
        if (strcmp(in, "dtd") == 0 && scratch->dtdText == nullptr)
            scratch->dtdText = strdup("<!ELEMENT a (#PCDATA)>");
        strcpy(out, in);
        *outInd = 0;
    }
    qapFrameEnd(scratch, *callType, sqlstate);
}

tarn::RoutineDesc probeDesc() {
    tarn::RoutineDesc d;
    d.name = "frameProbe";
    d.entry = reinterpret_cast<void *>(&frameProbe);
    d.inputs = {tarn::SqlType::Varchar};
    d.output = tarn::SqlType::Varchar;
    d.outputLength = 20;
    return d;
}

QapScratch *scratchOf(tarn::ScalarStatement &s) {
    return reinterpret_cast<QapScratch *>(s.scratchData());
}

// Makes the host's XML start-up report a failure for the scope of the object.
class SimulatedStartUp {
public:
    SimulatedStartUp(int32_t code, const char16_t *message) { tarnXmlInitSimulate(code, message); }
    ~SimulatedStartUp() { tarnXmlInitSimulate(0, nullptr); }
};

} // namespace

// ---- qapInit and qapRelease --------------------------------------------------------------

TEST(Context, FileThresholdNeverBelowMinimum) {
    const struct {
        const char *value;
        int32_t threshold;
    } cases[] = {{nullptr, 131072}, {"0", 131072},      {"letters", 131072},
                 {"1000", 131072},  {"262144", 262144}, {"131073", 131073}};
    for (const auto &c : cases) {
        ScopedEnv env("TARNQAP_MIN_TMPFILE_SIZE", c.value);
        TestCtx ctx;
        ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
        EXPECT_EQ(ctx->fileThreshold, c.threshold) << (c.value ? c.value : "(unset)");
    }
}

TEST(Context, NullContextIsOutOfMemory) {
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    EXPECT_EQ(qapInit(nullptr, 0, nullptr, sqlstate, msgtext, nullptr), -58);
    EXPECT_STREQ(sqlstate, "38X10");
    memcpy(sqlstate, "00000", QAP_SQLSTATE_SIZE);
    EXPECT_EQ(qapRelease(nullptr, sqlstate), -58);
    EXPECT_STREQ(sqlstate, "38X10");
}

TEST(Context, InitialisedContextIsKeptAsIs) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0);
    QapConvInfo *conv = ctx->convInfo;
    UConverter *app = conv->appConv;
    char *tempDir = ctx->tempDir;
    ASSERT_NE(tempDir, nullptr);
    EXPECT_EQ(qapInit(ctx, 0, ctx.dbinfo, ctx.sqlstate, ctx.msgtext, nullptr), 0);
    EXPECT_EQ(ctx->convInfo, conv);
    EXPECT_EQ(ctx->convInfo->appConv, app);
    EXPECT_EQ(ctx->tempDir, tempDir);
    EXPECT_STREQ(ctx.sqlstate, "00000");
}

TEST(Context, ReleaseEmptiesTheContextAndMayBeRepeated) {
    TestCtx ctx(819); // two converters: application UTF-8, database Latin-1
    ASSERT_EQ(ctx.initRc, 0);
    ASSERT_NE(ctx->convInfo, nullptr);
    ASSERT_NE(ctx->convInfo->appConv, ctx->convInfo->dbConv);
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    EXPECT_EQ(qapRelease(ctx, sqlstate), 0);
    EXPECT_EQ(ctx->convInfo, nullptr);
    EXPECT_EQ(ctx->tempDir, nullptr);
    EXPECT_EQ(ctx->savedTmpEnv, nullptr);
    EXPECT_EQ(qapRelease(ctx, sqlstate), 0);
    EXPECT_STREQ(sqlstate, "00000");
}

TEST(Context, ApplicationEncodingNameUpTo99Characters) {
    // A converter name with an option ICU ignores, padded to the length under test.
    auto name = [](size_t length) {
        std::string n = "UTF-8,locale=";
        return n + std::string(length - n.size(), 'x');
    };
    {
        std::string n = name(99);
        TestCtx ctx(1208, n.c_str());
        EXPECT_EQ(ctx.initRc, 0) << ctx.sqlstate;
        EXPECT_NE(ctx->convInfo, nullptr);
    }
    {
        std::string n = name(100);
        TestCtx ctx(1208, n.c_str());
        EXPECT_EQ(ctx.initRc, -119);
        EXPECT_STREQ(ctx.sqlstate, "38X38");
        EXPECT_EQ(ctx->convInfo, nullptr);
        EXPECT_EQ(ctx->tempDir, nullptr);
    }
    {
        TestCtx ctx(1208, "no-such-encoding");
        EXPECT_EQ(ctx.initRc, -119);
        EXPECT_STREQ(ctx.sqlstate, "38X38");
        EXPECT_EQ(ctx->convInfo, nullptr);
    }
}

TEST(Context, StateHelpers) {
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    qapSetState(sqlstate, "38X13");
    EXPECT_STREQ(sqlstate, "38X13");
    EXPECT_TRUE(qapStateIsOk("00000"));
    EXPECT_TRUE(qapStateIsOk("01HX0"));
    EXPECT_FALSE(qapStateIsOk("02000"));
    EXPECT_FALSE(qapStateIsOk("38X08"));

    unsigned char dbinfo[SQLUDF_DBINFO_LEN] = {};
    int32_t cp = 1386;
    memcpy(dbinfo + SQLUDF_DBINFO_CODEPAGE_OFFSET, &cp, sizeof cp);
    EXPECT_EQ(qapDbCodePage(dbinfo), 1386);
}

// ---- The scalar frame through the host's calling side ------------------------------------

TEST(Frame, ContextLivesFromFirstToFinalCall) {
    tarn::ScalarStatement s(probeDesc());
    tarn::Outcome first = s.call({"ok"});
    EXPECT_TRUE(first.ok());
    EXPECT_EQ(first.text, "ok");
    QapRoutineCtx *ctx = scratchOf(s)->ctx;
    ASSERT_NE(ctx, nullptr);
    EXPECT_NE(ctx->convInfo, nullptr);

    tarn::Outcome normal = s.call({"dtd"});
    EXPECT_EQ(normal.text, "dtd");
    EXPECT_EQ(scratchOf(s)->ctx, ctx);
    EXPECT_NE(scratchOf(s)->dtdText, nullptr);

    tarn::Outcome fin = s.finish();
    EXPECT_TRUE(fin.isNull());
    EXPECT_EQ(fin.text, "");
    EXPECT_EQ(fin.sqlstate, "00000");
    EXPECT_EQ(scratchOf(s)->ctx, nullptr);
    EXPECT_EQ(scratchOf(s)->dtdText, nullptr);
}

TEST(Frame, WarningOnFirstCallKeepsContext) {
    tarn::ScalarStatement s(probeDesc());
    tarn::Outcome first = s.call({"warn"});
    EXPECT_EQ(first.sqlstate, "01HX0");
    EXPECT_TRUE(first.isNull());
    ASSERT_NE(scratchOf(s)->ctx, nullptr);
    workCalls = 0;
    tarn::Outcome normal = s.call({"ok"});
    EXPECT_EQ(workCalls, 1);
    EXPECT_EQ(normal.text, "ok");
}

TEST(Frame, ErrorOnFirstCallReleasesContext) {
    tarn::ScalarStatement s(probeDesc());
    s.callAs(SQLUDF_FIRST_CALL, {"dtd"}); // leaves a DTD text, then the statement starts over
    s.finish();
    tarn::Outcome first = s.call({"fail"});
    EXPECT_EQ(first.sqlstate, "38X08");
    EXPECT_EQ(first.message, "QAPD001E  x occurs multiple times.\n");
    EXPECT_EQ(scratchOf(s)->ctx, nullptr);

    tarn::Outcome fin = s.finish();
    EXPECT_EQ(fin.sqlstate, "00000");
    EXPECT_EQ(fin.message, "");
    EXPECT_TRUE(fin.isNull());
}

TEST(Frame, FailedInitialisationKeepsTheBlockUntilTheFinalCall) {
    tarn::ScalarStatement s(probeDesc());
    {
        ScopedEnv noInstance("TARNINSTANCE", nullptr);
        tarn::Outcome first = s.call({"ok"});
        EXPECT_EQ(first.sqlstate, "38X35");
        EXPECT_EQ(first.message, "38X35");
        EXPECT_TRUE(first.isNull());
    }
    QapRoutineCtx *ctx = scratchOf(s)->ctx;
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->convInfo, nullptr);
    // A normal call finds no usable context and returns NULL without working.
    workCalls = 0;
    tarn::Outcome normal = s.call({"ok"});
    EXPECT_EQ(workCalls, 0);
    EXPECT_TRUE(normal.isNull());
    s.finish(); // frees the block (the leak check would see it otherwise)
    EXPECT_EQ(scratchOf(s)->ctx, nullptr);
}

// ---- Parser start-up check ---------------------------------------------------------------

TEST(ParserStartUp, SuccessLeavesStatusAlone) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0);
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "untouched";
    EXPECT_EQ(qapInitializeParser(ctx, sqlstate, msgtext), 0);
    EXPECT_STREQ(sqlstate, "00000");
    EXPECT_STREQ(msgtext, "untouched");
    EXPECT_EQ(qapTerminateParser(ctx), 0);
}

TEST(ParserStartUp, EachFailureCode) {
    const std::string internal = std::string("QAPG001E  An internal error occured in build ") +
                                 qapBuildStamp + ", file qapSgDoc, and line ";
    // The host's UTF-16 text arrives in the database code page (UTF-8 here).
    const std::string parser = "QAPQ047E  Parser error on line 0 column 0: start-up \xc3\xa9"
                               "chou\xc3\xa9 \n";
    const struct {
        int32_t code;
        const char *state;  // the SQLSTATE left behind
        std::string prefix; // how the message text starts
    } cases[] = {
        {-4, "38X13", internal}, {-3, "38X13", parser},      {-2, "38X13", parser},
        {-1, "38X13", internal}, {-7, "00000", "untouched"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        TestCtx ctx;
        ASSERT_EQ(ctx.initRc, 0);
        SimulatedStartUp failure(c.code, u"start-up \u00e9chou\u00e9");
        char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
        char msgtext[QAP_MSGTEXT_SIZE] = "untouched";
        EXPECT_EQ(qapInitializeParser(ctx, sqlstate, msgtext), -1);
        EXPECT_STREQ(sqlstate, c.state);
        std::string msg = msgtext;
        size_t n = std::min<size_t>(c.prefix.size(), 69); // the text is cut at 70
        EXPECT_EQ(msg.compare(0, n, c.prefix, 0, n), 0) << msg;
        EXPECT_LE(msg.size(), 70u);

        // The same failure on a routine's first call.
        TestCtx failing;
        if (strcmp(c.state, "38X13") == 0) {
            EXPECT_EQ(failing.initRc, -85);
            EXPECT_STREQ(failing.sqlstate, "38X13");
            EXPECT_EQ(failing->convInfo, nullptr);
        } else {
            EXPECT_EQ(failing.initRc, 0);
            EXPECT_STREQ(failing.sqlstate, "00000");
            EXPECT_NE(failing->convInfo, nullptr);
        }
    }
}

TEST(ParserStartUp, LongHostMessageIsCut) {
    std::u16string text(5000, u'e');
    SimulatedStartUp failure(-2, text.c_str());
    TestCtx ctx;
    EXPECT_EQ(ctx.initRc, -85);
    EXPECT_EQ(strlen(ctx.msgtext), 70u);
    EXPECT_EQ(ctx.msgtext[69], '\n');
    EXPECT_EQ(std::string(ctx.msgtext, 44), "QAPQ047E  Parser error on line 0 column 0: e");
}

TEST(Frame, StartUpFailureFailsTheFirstCall) {
    SimulatedStartUp failure(-1, u"broken");
    tarn::ScalarStatement s(probeDesc());
    tarn::Outcome first = s.call({"ok"});
    EXPECT_EQ(first.sqlstate, "38X13");
    EXPECT_EQ(first.message.compare(0, 10, "QAPG001E  "), 0);
    EXPECT_TRUE(first.isNull());
}
