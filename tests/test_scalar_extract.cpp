// The scalar extract routines where the acceptance tests do not reach: errors on a normal call,
// CLOB documents spilled to a temporary file at the threshold, and the error codes of the
// number conversion. (Results, limits, messages and first calls: test_acceptance.cpp.)
#include "qapExtractConv.h"
#include "qapFrame.h"
#include "tarnCall.h"
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

tarn::RoutineDesc desc(void *entry, tarn::SqlType output, int32_t length = 0) {
    tarn::RoutineDesc d;
    d.name = "extract";
    d.entry = entry;
    d.inputs = {tarn::SqlType::Clob, tarn::SqlType::Varchar};
    d.output = output;
    d.outputLength = length;
    return d;
}

QapScratch *scratchOf(tarn::ScalarStatement &st) {
    return reinterpret_cast<QapScratch *>(st.scratchData());
}

} // namespace

// Errors after the first call, the host's included, leave the context for the calls after them
// and for the final call.
TEST(ScalarExtract, ErrorsOnNormalCallsKeepTheContext) {
    const std::string doc = "<r><v>hello</v><m>1</m><m>2</m><i>42</i></r>";
    tarn::ScalarStatement st(
        desc(reinterpret_cast<void *>(&qapExtractCharFromClob), tarn::SqlType::Char, 254));
    EXPECT_EQ(st.call({doc, "/r/v"}).text, "hello");
    QapRoutineCtx *ctx = scratchOf(st)->ctx;
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(st.call({doc, "/r/m"}).sqlstate, "38X08");
    EXPECT_EQ(st.call({"<r><v>", "/r/v"}).sqlstate, "38X13");
    EXPECT_EQ(st.call({doc, "/r/["}).sqlstate, "38X09");
    tarnLobFailAfter(2, -1003); // both length queries succeed, the read fails
    tarn::Outcome o = st.call({doc, "/r/v"});
    tarnLobFailAfter(-1, 0);
    EXPECT_EQ(o.sqlstate, "38X04");
    EXPECT_EQ(o.message, "QAPC004E  Unable to operate the LOB Locator: rc=-1003.\n");
    EXPECT_TRUE(o.isNull());
    EXPECT_EQ(scratchOf(st)->ctx, ctx);
    EXPECT_EQ(st.call({doc, "/r/i"}).text, "42");
    st.finish();
    EXPECT_EQ(scratchOf(st)->ctx, nullptr);
}

// A CLOB document longer than the file threshold is parsed from a temporary file, which is
// gone when the call returns; one at the threshold stays in memory.
TEST(ScalarExtract, LargeClobGoesThroughTemporaryFile) {
    const std::string head = "<r><v>far</v><pad>", tail = "</pad></r>";
    const size_t threshold = QAP_MIN_FILE_THRESHOLD;
    for (size_t size : {threshold, threshold + 1, 3 * threshold}) {
        SCOPED_TRACE(size);
        const std::string doc = head + std::string(size - head.size() - tail.size(), 'p') + tail;
        tarn::ScalarStatement st(desc(reinterpret_cast<void *>(&qapExtractVarcharFromClob),
                                      tarn::SqlType::Varchar, 4000));
        tarn::Outcome o = st.call({doc, "/r/v"});
        EXPECT_EQ(o.sqlstate, "00000") << o.message;
        EXPECT_EQ(o.text, "far");
        EXPECT_EQ(scratchOf(st)->docLoc, size > threshold ? QAP_FILE : QAP_MEM);
        EXPECT_TRUE(testing_support::listDir(testing_support::tempDir()).empty());
    }
}

TEST(ScalarExtract, QapatofErrorCodes) {
    const struct {
        const char *text;
        double value;
        int32_t err;
    } rows[] = {
        {" 12.5 ", 12.5, 0},
        {"1.5E-3", 0.0015, 0},
        {"12abc", 0, QAP_ATOF_SYNTAX},
        {"1.2.3", 0, QAP_ATOF_SYNTAX},
        {"1e", 0, QAP_ATOF_SYNTAX},
        {"0x1A", 0, QAP_ATOF_SYNTAX},
        {"1e75", 1e75, 0},
        {"1e76", 0, QAP_ATOF_RANGE},
        {"1e-79", 1e-79, 0},
        {"1e-80", 0, QAP_ATOF_RANGE},
        {"1e99999999999999999999", 0, QAP_ATOF_RANGE},
        {"123456789012345678901234567890", 123456789012345678901234567890.0, 0},
        {"1234567890123456789012345678901", 0, QAP_ATOF_TOO_LONG},
        {"-", 0, QAP_ATOF_UNCONVERTED},
        {" ", 0, QAP_ATOF_UNCONVERTED},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.text);
        std::string text = r.text;
        int32_t err = 99;
        EXPECT_DOUBLE_EQ(qapatof(text.data(), &err), r.value);
        EXPECT_EQ(err, r.err);
    }
    // Line feeds become blanks and trailing blanks are cut, in place.
    char text[] = "\n7 \n";
    int32_t err = 0;
    EXPECT_EQ(qapatof(text, &err), 7.0);
    EXPECT_STREQ(text, " 7");
}
