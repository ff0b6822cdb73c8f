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

// A tiny scalar routine on the frame, VARCHAR in and VARCHAR(20) out, that keeps a DTD text in
// the scratchpad: "warn" ends with a warning, "fail" with an error, anything else succeeds.
// Every call that reaches the work counts in workCalls.
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
    if (scratch->dtdText == nullptr) scratch->dtdText = strdup("<!ELEMENT a (#PCDATA)>");
    if (strcmp(in, "fail") == 0) {
        qapSetError(ctx, sqlstate, "38X08", msgtext, QAPD001E, "x");
    } else if (strcmp(in, "warn") == 0) {
        qapSetError(ctx, sqlstate, "01HX0", msgtext, QAPD003W);
    } else {
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
    d.outputLength = 20;
    return d;
}

QapScratch *scratchOf(tarn::ScalarStatement &s) {
    return reinterpret_cast<QapScratch *>(s.scratchData());
}

// Makes the host's XML start-up report a failure for the scope of the object.
struct SimulatedStartUp {
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

TEST(Context, InitTwiceKeepsReleaseTwiceEmpties) {
    TestCtx ctx(819); // two converters: application UTF-8, database Latin-1
    ASSERT_EQ(ctx.initRc, 0);
    QapConvInfo *conv = ctx->convInfo;
    char *tempDir = ctx->tempDir;
    ASSERT_NE(tempDir, nullptr);
    EXPECT_EQ(qapInit(ctx, 0, ctx.dbinfo, ctx.sqlstate, ctx.msgtext, nullptr), 0);
    EXPECT_EQ(ctx->convInfo, conv);
    EXPECT_EQ(ctx->tempDir, tempDir);
    EXPECT_STREQ(ctx.sqlstate, "00000");

    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    EXPECT_EQ(qapRelease(ctx, sqlstate), 0);
    EXPECT_EQ(ctx->convInfo, nullptr);
    EXPECT_EQ(ctx->tempDir, nullptr);
    EXPECT_EQ(ctx->savedTmpEnv, nullptr);
    EXPECT_EQ(qapRelease(ctx, sqlstate), 0);
    EXPECT_STREQ(sqlstate, "00000");

    // No context at all is out of memory.
    EXPECT_EQ(qapInit(nullptr, 0, nullptr, sqlstate, ctx.msgtext, nullptr), -58);
    EXPECT_STREQ(sqlstate, "38X10");
    memcpy(sqlstate, "00000", QAP_SQLSTATE_SIZE);
    EXPECT_EQ(qapRelease(nullptr, sqlstate), -58);
    EXPECT_STREQ(sqlstate, "38X10");
}

TEST(Context, ApplicationEncodingNameUpTo99Characters) {
    // A converter name with an option ICU ignores, padded to the length under test.
    for (size_t length : {99u, 100u}) {
        std::string name = "UTF-8,locale=";
        name += std::string(length - name.size(), 'x');
        TestCtx ctx(1208, name.c_str());
        EXPECT_EQ(ctx.initRc, length < 100 ? 0 : -119) << length;
        EXPECT_STREQ(ctx.sqlstate, length < 100 ? "00000" : "38X38");
        EXPECT_EQ(ctx->convInfo != nullptr, length < 100);
        EXPECT_EQ(ctx->tempDir != nullptr, length < 100);
    }
}

// ---- The scalar frame through the host's calling side ------------------------------------

// A warning on the first call keeps the context, an error releases it with its DTD text; the
// final call releases whatever is left.
TEST(Frame, ContextFromFirstToFinalCall) {
    const struct {
        const char *first, *state, *message;
        bool kept;
    } cases[] = {{"ok", "00000", "", true},
                 {"warn", "01HX0", "QAPD003W  Path not found.  Null is returned.\n", true},
                 {"fail", "38X08", "QAPD001E  x occurs multiple times.\n", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        tarn::ScalarStatement s(probeDesc());
        tarn::Outcome first = s.call({c.first});
        EXPECT_EQ(first.sqlstate, c.state);
        EXPECT_EQ(first.isNull(), strcmp(c.first, "ok") != 0);
        QapRoutineCtx *ctx = scratchOf(s)->ctx;
        EXPECT_EQ(ctx != nullptr, c.kept);
        EXPECT_EQ(first.message, c.message);
        EXPECT_EQ(scratchOf(s)->dtdText != nullptr, c.kept);

        // A normal call works only with a context.
        workCalls = 0;
        tarn::Outcome normal = s.call({"next"});
        EXPECT_EQ(workCalls, c.kept ? 1 : 0);
        EXPECT_EQ(normal.text, c.kept ? "next" : "");
        EXPECT_EQ(scratchOf(s)->ctx, ctx);

        tarn::Outcome fin = s.finish();
        EXPECT_TRUE(fin.isNull());
        EXPECT_EQ(fin.text, "");
        EXPECT_EQ(fin.sqlstate, "00000");
        EXPECT_EQ(fin.message, "");
        EXPECT_EQ(scratchOf(s)->ctx, nullptr);
        EXPECT_EQ(scratchOf(s)->dtdText, nullptr);
    }
    EXPECT_TRUE(qapStateIsOk("01HX0"));
    EXPECT_FALSE(qapStateIsOk("02000"));
}

// A context that cannot be initialised keeps its bare block until the final call; the calls
// before it return NULL without working.
TEST(Frame, FailedInitialisationKeepsTheBlockUntilTheFinalCall) {
    for (const char *cause : {"instance", "start-up"}) {
        SCOPED_TRACE(cause);
        tarn::ScalarStatement s(probeDesc());
        {
            ScopedEnv noInstance("TARNINSTANCE", cause[0] == 'i' ? nullptr : "tessel_test");
            SimulatedStartUp startUp(cause[0] == 'i' ? 0 : -1, u"broken");
            tarn::Outcome first = s.call({"ok"});
            EXPECT_EQ(first.sqlstate, cause[0] == 'i' ? "38X35" : "38X13");
            EXPECT_EQ(first.message.substr(0, 10), cause[0] == 'i' ? "38X35" : "QAPG001E  ");
            EXPECT_TRUE(first.isNull());
        }
        ASSERT_NE(scratchOf(s)->ctx, nullptr);
        EXPECT_EQ(scratchOf(s)->ctx->convInfo, nullptr);
        workCalls = 0;
        EXPECT_TRUE(s.call({"ok"}).isNull());
        EXPECT_EQ(workCalls, 0);
        s.finish(); // frees the block (the leak check would see it otherwise)
        EXPECT_EQ(scratchOf(s)->ctx, nullptr);
    }
}

// ---- Parser start-up check ---------------------------------------------------------------

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
        {-1, "38X13", internal}, {-7, "00000", "untouched"}, {0, "00000", "untouched"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        TestCtx ctx;
        ASSERT_EQ(ctx.initRc, 0);
        SimulatedStartUp failure(c.code, u"start-up \u00e9chou\u00e9");
        char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
        char msgtext[QAP_MSGTEXT_SIZE] = "untouched";
        EXPECT_EQ(qapInitializeParser(ctx, sqlstate, msgtext), c.code == 0 ? 0 : -1);
        EXPECT_STREQ(sqlstate, c.state);
        std::string msg = msgtext;
        size_t n = std::min<size_t>(c.prefix.size(), 69); // the text is cut at 70
        EXPECT_EQ(msg.compare(0, n, c.prefix, 0, n), 0) << msg;
        EXPECT_LE(msg.size(), 70u);
        EXPECT_EQ(qapTerminateParser(ctx), 0);

        // The same failure on a routine's first call.
        TestCtx failing;
        const bool fails = strcmp(c.state, "38X13") == 0;
        EXPECT_EQ(failing.initRc, fails ? -85 : 0);
        EXPECT_STREQ(failing.sqlstate, c.state);
        EXPECT_EQ(failing->convInfo != nullptr, !fails);
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
