// DTD validation: documents in memory and in files, against the DTD they name or a
// replacement DTD given as a file or as text.
#include "qapCtx.h"
#include "qapSgDoc.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Against a DTD file, DTD text or the DTD the DOCTYPE names: the result, and the first error's
// line and column (a missing required attribute at the end of its start tag).
TEST_F(Validate, DocumentsInMemoryAndInFiles) {
    const std::string dtdFile = writeFile("validate-order.dtd", kDtd);
    const std::string named =
        "<!DOCTYPE order SYSTEM \"" + dtdFile + "\"><order id=\"1\"><item>x</item></order>";
    Args file, text, none, inFile;
    file.dtd = dtdFile.c_str();
    text.dtd = kDtd;
    text.dtdLoc = QAP_MEM;
    inFile = file;
    inFile.docLoc = QAP_FILE;
    inFile.inputSrc = 0;
    const std::string noAttr = "<!DOCTYPE order SYSTEM \"x.dtd\">\n\n<order><item>x</item></order>";
    const std::string malformed =
        "<!DOCTYPE order SYSTEM \"x.dtd\">\n<order id=\"1\"><item></order>";
    const struct {
        std::string doc;
        const Args *args;
        int32_t rc;
        const char *state;
        const char *msg; // how it starts
    } rows[] = {
        {kValid, &file, 1, "00000", ""}, // the message is cleared on entry
        {kValid, &text, 1, "00000", ""}, // the named file is never opened
        {kInvalid, &file, 0, "38X13", "QAPQ047E  Parser error on line 4 column "},
        {kInvalid, &text, 0, "38X13", "QAPQ047E  Parser error on line 4 column "},
        {noAttr, &file, 0, "38X13", "QAPQ047E  Parser error on line 3 column 8: "},
        {malformed, &file, 0, "38X13", "QAPQ047E  Parser error on line 2 column "},
        // without a replacement the parser looks for the named DTD
        {kValid, &none, 0, "38X13", "QAPQ047E  Parser error on line "},
        {named, &none, 0, "38X13", "QAPQ047E  "}, // unless the read-access rule allows it
        {"<order id=\"1\"><item>x</item></order>", &none, 0, "38X13", "QAPQ047E  "},
        {writeFile("validate-good.xml", kValid), &inFile, 1, "00000", ""},
        {writeFile("validate-bad.xml", kInvalid), &inFile, 0, "38X13", "QAPQ047E  "},
        {"validate-missing.xml", &inFile, 0, "38X01",
         "QAPC001E  The specified file is not found.\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.doc);
        Outcome o = validate(ctx, r.doc, *r.args);
        EXPECT_EQ(o.rc, r.rc);
        EXPECT_EQ(o.state, r.state);
        EXPECT_EQ(o.msg.substr(0, strlen(r.msg)), r.msg);
        EXPECT_EQ(o.msg.empty(), r.msg[0] == '\0');
    }
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
    a.docLoc = QAP_MEM;
    a.inputSrc = 1;
    a.dtdInputSrc = 1;
    r = validate(latin, "<!DOCTYPE caf\xE9 SYSTEM \"none.dtd\"><caf\xE9>x</caf\xE9>", a);
    EXPECT_EQ(r.rc, 1) << r.msg;
}

} // namespace
