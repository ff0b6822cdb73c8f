// Extraction: extractAll and extractOne over documents in memory and in files, every value of a
// path (the single values of the routines: test_acceptance.cpp).
#include "qapCtx.h"
#include "qapResult.h"
#include "qapSgDoc.h"
#include "qapTrace.h"
#include "tarn.h"
#include "testSupport.h"

#include "../src/engine/qapParseMemory.h"
#include "../src/engine/qapSgDocImpl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <xercesc/util/PlatformUtils.hpp>
#include <string>
#include <vector>

using testing_support::TestCtx;
using testing_support::writeFile;

namespace {

using Values = std::vector<std::string>;

struct Extracted {
    int32_t rc = 0;
    std::string state;
    std::string msg;
    bool array = false; // a values array was handed back
    Values values;
};

struct Call {
    uint32_t docLoc = QAP_MEM;
    int tagged = 0;
    const char *dtd = nullptr;
    int32_t limit = 4000;
    uint32_t docInDbCodePage = 1;
};

// extractAll into a record whose message buffer is the caller's: it must stay untouched.
Extracted extract(QapRoutineCtx *ctx, const std::string &doc, const char *path, Call c = {}) {
    Extracted out;
    QapExtractResult result{};
    char *mine = static_cast<char *>(malloc(1025));
    strcpy(mine, "the caller's");
    result.message = mine;
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    out.rc = extractAll(ctx, doc.c_str(), c.dtd, c.docInDbCodePage, c.docLoc, c.tagged, path,
                        &result, c.limit, state, msg);
    out.state = state;
    out.msg = msg;
    EXPECT_EQ(out.rc, out.state == "00000" ? 0 : -1);
    if (result.values != nullptr) {
        out.array = true;
        EXPECT_EQ(result.cursor, result.values);
        EXPECT_EQ(std::string(result.sqlstate), out.state);
        for (char **v = result.values; *v != nullptr; ++v)
            out.values.push_back(*v);
    }
    EXPECT_EQ(result.message, mine);
    EXPECT_STREQ(mine, "the caller's");
    freeExtractResult(ctx, &result);
    return out;
}

class Extract : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    TestCtx ctx;
};

// b holds x, a child c holding y, then z; the second b holds w.
const char *const kDoc = "<a><b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b><b d='say \"q\"'>w</b>"
                         "<e/></a>";

struct Case {
    const char *doc;
    const char *path;
    int tagged;
    Values values;
};

TEST_F(Extract, ValuesAtPaths) {
    const std::string preds = "<r v=\"1\"><s k=\"1\"><t k=\"1\">a</t><t>b</t></s>"
                              "<s k=\"2\"><t k=\"1\">c</t><u k=\"1\"><t k=\"2\">d</t></u></s>"
                              "<x k=\"1\"><s k=\"1\"><t k=\"1\">e</t></s></x></r>";
    const std::string states = "<r><s k=\"1\"><t>a</t></s><s k=\"2\"><t>b</t></s>"
                               "<s k=\"1\"><u><t>c</t></u><t>d</t></s></r>";
    const Case cases[] = {
        // Element text: own character data only; "//" stops at the first child element.
        {kDoc, "/a/b", 0, {"xz", "w"}},
        {kDoc, "//b", 0, {"x", "w"}},
        {kDoc, "/a/b/c", 0, {"y"}},
        {kDoc, "/a/*", 0, {"xz", "w", ""}},
        {kDoc, "/a/b[@c=\"1\"]", 0, {"xz"}},
        {kDoc, "/a/x", 0, {}},
        {kDoc, "/", 0, {}},
        // Attributes: one item per carrier, values escaped, "*" in attribute order.
        {kDoc, "/a/b/@d", 0, {"x&amp;y", "say &quot;q&quot;"}},
        {kDoc, "/a/b/@*", 0, {"1", "x&amp;y", "say &quot;q&quot;"}},
        {kDoc, "//b/@c", 0, {"1"}},
        // Tagged fragments: the whole subtree, text and attribute values re-escaped; a tagged
        // attribute path gives the elements without the attribute step.
        {kDoc,
         "//b",
         1,
         {"<b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b>", "<b d=\"say &quot;q&quot;\">w</b>"}},
        {kDoc,
         "/a/b/@c",
         1,
         {"<b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b>", "<b d=\"say &quot;q&quot;\">w</b>"}},
        // Predicates at every place of a path read the attributes of the right open element.
        {preds.c_str(), "/r[@v=\"2\"]/s/t", 0, {}},
        {preds.c_str(), "/r/s[@k=\"2\"]/t", 0, {"c"}},
        {preds.c_str(), "/r/s/t[@k=\"1\"]", 0, {"a", "c"}},
        {preds.c_str(), "/r/*[@k=\"1\"]/s", 0, {""}},
        {preds.c_str(), "//t[@k=\"1\"]", 0, {"a", "c", "e"}},
        {preds.c_str(), "/r//s[@k=\"1\"]//t", 0, {"a", "b", "e"}},
        {preds.c_str(), "/r[@v=\"1\"]//t[@k=\"2\"]", 1, {"<t k=\"2\">d</t>"}},
        // States return correctly after elements that did not match.
        {states.c_str(), "/r/s[@k=\"1\"]/t", 0, {"a", "d"}},
        {states.c_str(), "//s[@k=\"1\"]//t", 0, {"a", "c", "d"}},
        {"<r><s><x><y/></x>1<x/>2</s><q><s>3</s></q><s>4<x><s>5</s></x>6</s></r>",
         "/r/s",
         0,
         {"12", "46"}},
        // References arrive resolved and element text stays raw; CDATA is text; comments and
        // processing instructions never reach a value.
        {"<a><b>1 &lt; 2 &amp; &#x33;&gt;&quot;'</b></a>", "/a/b", 0, {"1 < 2 & 3>\"'"}},
        {"<a><b><![CDATA[<x>&]]></b></a>", "/a/b", 0, {"<x>&"}},
        {"<a><b>x<!--c--><?p d?>y</b></a>", "/a/b", 0, {"xy"}},
        // A match inside a match starts no new item.
        {"<r><a>1<a>2</a>3</a><a>4</a></r>", "//a", 0, {"123", "4"}},
        {"<a><a><a>x</a></a></a>", "/a//a", 0, {"x"}},
        // White space inside a fragment is kept, white space outside the root is not.
        {"<?xml version=\"1.0\"?>\n<!-- c -->\n<a>\n <b> x </b>\n</a>\n",
         "/",
         1,
         {"<a>\n <b> x </b>\n</a>"}},
        {"<a><b>caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E</b></a>",
         "/a/b",
         0,
         {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.doc) + " " + c.path + (c.tagged ? " tagged" : ""));
        Call call;
        call.tagged = c.tagged;
        Extracted r = extract(ctx, c.doc, c.path, call);
        EXPECT_EQ(r.state, "00000") << r.msg;
        EXPECT_EQ(r.values, c.values);
    }
}

// Failures: the values before a value over the limit stay (L - 1 bytes of the database code page
// fit, L do not); a failed parse or path hands back no array.
TEST_F(Extract, LimitsAndFailures) {
    const std::string fits(63, 'v'), over(64, 'v');
    std::string e;
    for (int i = 0; i < 32; ++i)
        e += "\xC3\xA9";
    const std::string tooLong = std::string("QAPC013E  The results of the extract UDF exceed the "
                                            "size limit for the UDF return type.")
                                    .substr(0, 69) +
                                "\n";
    const std::string syntax1 =
        "QAPD002E  A syntax error occurred near position 1 in the search path.\n";
    const struct {
        std::string doc;
        const char *path;
        const char *state;
        bool array;
        Values values;
        std::string msg; // "": not checked
    } rows[] = {
        {"<a><b>s</b><b>" + fits + "</b></a>", "/a/b", "00000", true, {"s", fits}, ""},
        {"<a><b>s</b><b>" + over + "</b><b>t</b></a>", "/a/b", "38X39", true, {"s"}, tooLong},
        {"<a><b>" + e + "</b></a>", "/a/b", "38X39", true, {}, tooLong},
        {"<a><b>1</b>", "/a/b", "38X13", false, {}, ""},
        {"<a><b>1</b></a>", "/a/b*", "38X09", false, {}, ""},
        {"<a><b>1</b></a>", nullptr, "38X09", false, {}, syntax1},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.doc + " " + (r.path ? r.path : "(null)"));
        Call call;
        call.limit = 64;
        Extracted x = extract(ctx, r.doc, r.path, call);
        EXPECT_EQ(x.state, r.state);
        EXPECT_EQ(x.array, r.array);
        EXPECT_EQ(x.values, r.values);
        if (!r.msg.empty()) {
            EXPECT_EQ(x.msg, r.msg);
        }
    }
}

TEST_F(Extract, FromFile) {
    std::string name = writeFile("extract-doc.xml", std::string("<?xml version=\"1.0\" "
                                                                "encoding=\"ISO-8859-1\"?>\n") +
                                                        kDoc + "\n");
    Call call;
    call.docLoc = QAP_FILE;
    call.docInDbCodePage = 0;
    Extracted r = extract(ctx, name, "/a/b/@*", call);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.values, (Values{"1", "x&amp;y", "say &quot;q&quot;"}));

    // A relative name is taken from the current directory.
    r = extract(ctx, "extract-doc.xml", "//c", call);
    EXPECT_EQ(r.values, (Values{"y"}));

    r = extract(ctx, "no-such-file.xml", "/a", call);
    EXPECT_EQ(r.state, "38X01");
    EXPECT_EQ(r.msg, "QAPC001E  The specified file is not found.\n");
}

TEST_F(Extract, ExtractOne) {
    const std::string file = writeFile("extract-one.xml", kDoc);
    const struct {
        std::string doc;
        uint32_t docLoc;
        int tagged;
        const char *path;
        int32_t limit;
        const char *state;
        const char *value; // null: none
        const char *msg;   // null: not checked
    } rows[] = {
        {kDoc, QAP_MEM, 0, "//c", 4000, "00000", "y", nullptr},
        {kDoc, QAP_MEM, 0, "/a/b", 4000, "38X08", nullptr,
         "QAPD001E  /a/b occurs multiple times.\n"},
        {kDoc, QAP_MEM, 0, "/a/zz", 4000, "01HX0", nullptr,
         "QAPD003W  Path not found.  Null is returned.\n"},
        {kDoc, QAP_MEM, 0, "/a/e", 4000, "00000", nullptr, ""}, // empty: NULL without a warning
        {"<a>", QAP_MEM, 0, "/a", 4000, "38X13", nullptr, nullptr},
        {file, QAP_FILE, 1, "/a/e", 4000, "00000", "<e></e>", nullptr},
        {kDoc, QAP_MEM, 0, "//c", 1, "38X39", nullptr, nullptr},
        {kDoc, QAP_MEM, 0, nullptr, 10, "38X09", nullptr, nullptr},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.doc + " " + (r.path ? r.path : "(null)"));
        char state[QAP_SQLSTATE_SIZE] = "xxxxx";
        char msg[QAP_MSGTEXT_SIZE] = "";
        char *value = reinterpret_cast<char *>(1);
        const int32_t rc = extractOne(ctx, r.doc.c_str(), nullptr, r.docLoc == QAP_MEM ? 1 : 0,
                                      r.docLoc, r.tagged, r.path, &value, r.limit, state, msg);
        EXPECT_EQ(rc, r.value != nullptr ? 0 : -1);
        EXPECT_STREQ(state, r.state);
        if (r.msg != nullptr) {
            EXPECT_STREQ(msg, r.msg);
        }
        if (r.value == nullptr) {
            EXPECT_EQ(value, nullptr);
        } else {
            ASSERT_NE(value, nullptr);
            EXPECT_STREQ(value, r.value);
            free(value);
        }
    }
}

// Bytes in use on the heap (glibc's count; the sanitizers' allocator is not in it).
size_t heapInUse() {
    return mallinfo2().uordblks;
}

TEST_F(Extract, RepeatedExternalDoctypeLeavesNothing) {
    // Xerces-C leaves the declaration of an external DTD subset allocated in every parse that
    // reads one; the parse's memory manager frees it with the reader. LeakSanitizer reports
    // any block left; in the plain build the heap must not grow with the number of parses.
    const std::string doc = "<!DOCTYPE a SYSTEM \"/nonexistent/dir/missing.dtd\"><a><b>x</b></a>";
    Call withDtd;
    withDtd.dtd = "<!ENTITY e \"v\">";
    const char *const dtd = "<!ELEMENT a (b)><!ELEMENT b (#PCDATA)>";
    auto parse = [&](int times) {
        for (int i = 0; i < times; ++i) {
            ASSERT_EQ(extract(ctx, doc, "/a/b").values, (Values{"x"}));
            ASSERT_EQ(extract(ctx, doc, "/a/b", withDtd).values, (Values{"x"}));
            char state[QAP_SQLSTATE_SIZE] = "00000";
            char msg[QAP_MSGTEXT_SIZE] = "";
            ASSERT_EQ(qapValidate(ctx, doc.c_str(), QAP_MEM, 1, dtd, 0, "a", state, msg, QAP_MEM),
                      1)
                << msg;
        }
    };
    parse(1); // what the first parses set up once (converters) stays
    const size_t before = heapInUse();
    parse(300); // the parser's leak alone would be some 200 KB
    EXPECT_LT(heapInUse(), before + 65536);
}

TEST_F(Extract, ParseMemoryBlocks) {
    // Blocks are 16-byte aligned and usable in full, go back in any order, and whatever is
    // still allocated goes with the manager (LeakSanitizer checks).
    qapParseMemory memory;
    std::vector<void *> blocks;
    for (size_t size : {0, 1, 7, 16, 100, 4096, 65537}) {
        void *p = memory.allocate(size);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
        memset(p, 0xA5, size);
        blocks.push_back(p);
    }
    memory.deallocate(blocks[3]);
    memory.deallocate(blocks[0]);
    memory.deallocate(blocks[6]);
    memory.deallocate(nullptr);
    EXPECT_EQ(memory.getExceptionMemoryManager(),
              XERCES_CPP_NAMESPACE::XMLPlatformUtils::fgMemoryManager);
}

TEST_F(Extract, ParserMessageRendersMissingNumbers) {
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    qapSetParserError(ctx, state, msg, "12", nullptr, "text");
    EXPECT_STREQ(state, "38X13");
    EXPECT_STREQ(msg, "QAPQ047E  Parser error on line 12 column -: text \n");
    qapSetParserError(ctx, state, msg, nullptr, nullptr, "t");
    EXPECT_STREQ(msg, "QAPQ047E  Parser error on line - column -: t \n");

    // Parser texts longer than the conversion buffer are cut, not overrun.
    std::u16string longText(3000, u'\u00E9');
    char out[QAP_PARSER_TEXT_SIZE];
    qapParserText(ctx, longText.c_str(), out);
    EXPECT_LT(strlen(out), sizeof out);
    EXPECT_EQ(strlen(out) % 2, 0u);
}

// With tracing on, every traced path writes its lines and the results stay the same.
TEST_F(Extract, TracingKeepsResults) {
    const std::string instance = "extract";
    const std::string dir = testing_support::scratchDir();
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    ASSERT_EQ(qapTraceSwitchOn(dir.c_str(), instance.c_str(), sqlstate, msgtext), 0);
    {
        testing_support::ScopedEnv env("TARNINSTANCE", instance.c_str());
        TestCtx traced;
        ASSERT_EQ(traced.initRc, 0);
        ASSERT_EQ(traced->traceOn, 1u);
        Call tagged;
        tagged.tagged = 1;
        EXPECT_EQ(extract(traced, kDoc, "//b", tagged).values.size(), 2u);
        EXPECT_EQ(extract(traced, kDoc, "/a/b/@*").values.size(), 3u);
        EXPECT_EQ(extract(traced, "<!DOCTYPE a SYSTEM \"none.dtd\"><a><b>x</b></a>", "/a/b").values,
                  (Values{"x"}));
        EXPECT_EQ(extract(traced, "<a><b>x</a>", "/a").state, "38X13");
        EXPECT_EQ(extract(traced, kDoc, "/a/b@c").state, "38X09");
        Call file;
        file.docLoc = QAP_FILE;
        EXPECT_EQ(extract(traced, "missing.xml", "/a", file).state, "38X01");
        std::string name = writeFile("extract-traced.xml", kDoc);
        EXPECT_EQ(extract(traced, name, "//c", file).values, (Values{"y"}));
        char *value = nullptr;
        EXPECT_EQ(
            extractOne(traced, kDoc, nullptr, 1, QAP_MEM, 0, "//c", &value, 100, sqlstate, msgtext),
            0);
        free(value);
    }
    EXPECT_EQ(qapTraceSwitchOff(instance.c_str(), sqlstate, msgtext), 0);
    const std::string trace = testing_support::readFile(dir + "/qap" + instance + ".trc");
    for (const char *line :
         {"extractAll:\t\tEntered, input uri=buffer and query='//b'\n",
          "qapExtractHandler::startElement:\t\tqName: b\n",
          "qapExtractHandler::endElement:\t\tisMatched==YES, target==TAGGED_ELEMENT\n",
          "qapExtractHandler::startDTD:\t\tEntered\n",
          "extractAll:\t\tparse err4 in IdForDocBuffer", "extractAll:\t\tError in XPATH: QAPD002E",
          "extractAll:\t\tcall qap_getFileSize() return",
          "extractAll:\t\tBefore calling parser->parse(", "extractAll:\t\tExit return rc=0\n",
          "extractOne:\t\tcall extractAll() got sqlstate=00000 return rc=0\n"}) {
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    }
}

} // namespace
