// DTD validation: documents in memory and in files, against the DTD they name or a
// replacement DTD given as a file or as text.
#include "qapCtx.h"
#include "qapSgDoc.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <string>

using testing_support::TestCtx;
using testing_support::writeFile;

namespace {

const char *const kDtd = "<!ELEMENT order (item+)>\n"
                         "<!ATTLIST order id CDATA #REQUIRED>\n"
                         "<!ELEMENT item (#PCDATA)>\n";

const char *const kValid = "<?xml version=\"1.0\"?>\n"
                           "<!DOCTYPE order SYSTEM \"/nonexistent/dir/order.dtd\">\n"
                           "<order id=\"7\"><item>x</item><item>y</item></order>\n";

// The first error (an undeclared element) stands on line 4.
const char *const kInvalid = "<?xml version=\"1.0\"?>\n"
                             "<!DOCTYPE order SYSTEM \"/nonexistent/dir/order.dtd\">\n"
                             "<order id=\"7\">\n"
                             "  <item>x</item><note>n</note>\n"
                             "  <item/><bad/>\n"
                             "</order>\n";

struct Outcome {
    int32_t rc;
    std::string state;
    std::string msg;
};

struct Args {
    uint32_t docLoc = QAP_MEM;
    uint32_t inputSrc = 1;
    const char *dtd = nullptr;
    uint32_t dtdInputSrc = 0;
    uint32_t dtdLoc = QAP_FILE;
    const char *dtdid = "order";
};

Outcome validate(QapRoutineCtx *ctx, const std::string &doc, const Args &a) {
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "leftover";
    int32_t rc = qapValidate(ctx, doc.c_str(), a.docLoc, a.inputSrc, a.dtd, a.dtdInputSrc, a.dtdid,
                             state, msg, a.dtdLoc);
    return {rc, state, msg};
}

class Validate : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    TestCtx ctx;
};

TEST_F(Validate, AgainstDtdFileAndDtdText) {
    const std::string dtdFile = writeFile("validate-order.dtd", kDtd);
    Args file;
    file.dtd = dtdFile.c_str();
    Args text;
    text.dtd = kDtd;
    text.dtdLoc = QAP_MEM;
    for (const Args *a : {&file, &text}) {
        SCOPED_TRACE(a == &file ? "DTD file" : "DTD text");
        Outcome ok = validate(ctx, kValid, *a);
        EXPECT_EQ(ok.rc, 1);
        EXPECT_EQ(ok.state, "00000");
        EXPECT_EQ(ok.msg, ""); // cleared on entry

        Outcome bad = validate(ctx, kInvalid, *a);
        EXPECT_EQ(bad.rc, 0);
        EXPECT_EQ(bad.state, "38X13");
        EXPECT_EQ(bad.msg.rfind("QAPQ047E  Parser error on line 4 column ", 0), 0u) << bad.msg;
    }
}

TEST_F(Validate, FirstErrorLineAndColumn) {
    const std::string dtdFile = writeFile("validate-order.dtd", kDtd);
    Args a;
    a.dtd = dtdFile.c_str();
    // Missing required attribute: reported at the end of the start tag on line 3.
    const std::string doc = "<!DOCTYPE order SYSTEM \"x.dtd\">\n\n<order><item>x</item></order>";
    Outcome r = validate(ctx, doc, a);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.msg.rfind("QAPQ047E  Parser error on line 3 column 8: ", 0), 0u) << r.msg;
    // A well-formedness error is reported the same way.
    r = validate(ctx, "<!DOCTYPE order SYSTEM \"x.dtd\">\n<order id=\"1\"><item></order>", a);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.state, "38X13");
    EXPECT_EQ(r.msg.rfind("QAPQ047E  Parser error on line 2 column ", 0), 0u) << r.msg;
}

TEST_F(Validate, DoctypeNamingMissingDtd) {
    // Without a replacement the parser looks for the named DTD and fails.
    Args none;
    Outcome r = validate(ctx, kValid, none);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.state, "38X13");
    EXPECT_EQ(r.msg.rfind("QAPQ047E  Parser error on line ", 0), 0u) << r.msg;

    // The replacement answers the request; the named file is never opened.
    Args text;
    text.dtd = kDtd;
    text.dtdLoc = QAP_MEM;
    r = validate(ctx, kValid, text);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.state, "00000");

    // A DOCTYPE naming an existing DTD validates without a replacement.
    const std::string dtdFile = writeFile("validate-named.dtd", kDtd);
    const std::string named =
        "<!DOCTYPE order SYSTEM \"" + dtdFile + "\"><order id=\"1\"><item>x</item></order>";
    r = validate(ctx, named, none);
    EXPECT_EQ(r.rc, 1) << r.msg;

    // A document without any DTD is not valid.
    r = validate(ctx, "<order id=\"1\"><item>x</item></order>", none);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.state, "38X13");
}

TEST_F(Validate, DocumentInFile) {
    const std::string dtdFile = writeFile("validate-order.dtd", kDtd);
    const std::string good = writeFile("validate-good.xml", kValid);
    const std::string bad = writeFile("validate-bad.xml", kInvalid);
    Args a;
    a.docLoc = QAP_FILE;
    a.inputSrc = 0;
    a.dtd = dtdFile.c_str();
    EXPECT_EQ(validate(ctx, good, a).rc, 1);
    Outcome r = validate(ctx, bad, a);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.state, "38X13");

    r = validate(ctx, "validate-missing.xml", a);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.state, "38X01");
    EXPECT_EQ(r.msg.rfind("QAPC001E", 0), 0u) << r.msg;
}

TEST_F(Validate, DtdTextInDatabaseCodePage) {
    TestCtx latin(819);
    ASSERT_EQ(latin.initRc, 0) << latin.msgtext;
    // An element name with a non-ASCII letter: the DTD text is ISO-8859-1, the document file
    // UTF-8 (detected by the parser).
    const std::string dtd = "<!ELEMENT caf\xE9 (#PCDATA)>";
    const std::string doc =
        writeFile("validate-utf8.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                       "<!DOCTYPE caf\xC3\xA9 SYSTEM \"none.dtd\">"
                                       "<caf\xC3\xA9>x</caf\xC3\xA9>");
    Args a;
    a.docLoc = QAP_FILE;
    a.inputSrc = 0;
    a.dtd = dtd.c_str();
    a.dtdLoc = QAP_MEM;
    a.dtdInputSrc = 1;
    Outcome r = validate(latin, doc, a);
    EXPECT_EQ(r.rc, 1) << r.msg;
    // Read as UTF-8, the DTD text is malformed.
    a.dtdInputSrc = 0;
    r = validate(latin, doc, a);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.state, "38X13");

    // A document buffer in the database code page.
    Args mem;
    mem.dtd = dtd.c_str();
    mem.dtdLoc = QAP_MEM;
    mem.dtdInputSrc = 1;
    r = validate(latin, "<!DOCTYPE caf\xE9 SYSTEM \"none.dtd\"><caf\xE9>x</caf\xE9>", mem);
    EXPECT_EQ(r.rc, 1) << r.msg;
}

} // namespace
