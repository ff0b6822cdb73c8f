// Extraction: extractAll and extractOne over documents in memory and in files.
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

struct Extracted {
    int32_t rc = 0;
    std::string state;
    std::string msg;
    std::vector<std::string> values;
};

struct Call {
    uint32_t docLoc = QAP_MEM;
    int tagged = 0;
    const char *dtd = nullptr;
    int32_t limit = 4000;
    uint32_t docInDbCodePage = 1;
};

Extracted extract(QapRoutineCtx *ctx, const std::string &doc, const char *path, Call c = {}) {
    Extracted out;
    QapExtractResult result{};
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    out.rc = extractAll(ctx, doc.c_str(), c.dtd, c.docInDbCodePage, c.docLoc, c.tagged, path,
                        &result, c.limit, state, msg);
    out.state = state;
    out.msg = msg;
    if (result.values != nullptr) {
        EXPECT_EQ(result.cursor, result.values);
        for (char **v = result.values; *v != nullptr; ++v)
            out.values.push_back(*v);
    }
    EXPECT_EQ(result.message, nullptr);
    freeExtractResult(ctx, &result);
    return out;
}

using Values = std::vector<std::string>;

class Extract : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    TestCtx ctx;
};

// b holds x, a child c holding y, then z; the second b holds w.
const char *const kDoc = "<a><b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b><b d='say \"q\"'>w</b>"
                         "<e/></a>";

struct Case {
    const char *path;
    int tagged;
    Values values;
};

TEST_F(Extract, ValuesAtPaths) {
    const Case cases[] = {
        // Element text: own character data only; "//" stops at the first child element.
        {"/a/b", 0, {"xz", "w"}},
        {"//b", 0, {"x", "w"}},
        {"//c", 0, {"y"}},
        {"/a/b/c", 0, {"y"}},
        {"/a/*", 0, {"xz", "w", ""}},
        {"/a/e", 0, {""}},
        {"/a/b[@c=\"1\"]", 0, {"xz"}},
        {"/a/b[@c=\"2\"]", 0, {}},
        {"/a/x", 0, {}},
        {"/x/b", 0, {}},
        // Attributes: one item per carrier, values escaped, "*" in attribute order.
        {"/a/b/@c", 0, {"1"}},
        {"/a/b/@d", 0, {"x&amp;y", "say &quot;q&quot;"}},
        {"/a/b/@*", 0, {"1", "x&amp;y", "say &quot;q&quot;"}},
        {"//b/@c", 0, {"1"}},
        // Tagged fragments: the whole subtree, text and attribute values re-escaped.
        {"//b", 1, {"<b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b>", "<b d=\"say &quot;q&quot;\">w</b>"}},
        {"/a/b",
         1,
         {"<b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b>", "<b d=\"say &quot;q&quot;\">w</b>"}},
        {"/a/e", 1, {"<e></e>"}},
        // A tagged attribute path gives the elements without the attribute step.
        {"/a/b/@c",
         1,
         {"<b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b>", "<b d=\"say &quot;q&quot;\">w</b>"}},
        {"/",
         1,
         {"<a><b c=\"1\" d=\"x&amp;y\">x<c>y</c>z</b><b d=\"say &quot;q&quot;\">w</b><e></e></a>"}},
        {"/", 0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.tagged ? " tagged" : ""));
        Call call;
        call.tagged = c.tagged;
        Extracted r = extract(ctx, kDoc, c.path, call);
        EXPECT_EQ(r.rc, 0);
        EXPECT_EQ(r.state, "00000");
        EXPECT_EQ(r.values, c.values);
    }
}

// Predicates at every place of a path read the attributes of the right open element.
TEST_F(Extract, Predicates) {
    const std::string doc = "<r v=\"1\"><s k=\"1\"><t k=\"1\">a</t><t>b</t></s>"
                            "<s k=\"2\"><t k=\"1\">c</t><u k=\"1\"><t k=\"2\">d</t></u></s>"
                            "<x k=\"1\"><s k=\"1\"><t k=\"1\">e</t></s></x></r>";
    const Case cases[] = {
        {"/r[@v=\"1\"]/s/t", 0, {"a", "b", "c"}},
        {"/r[@v=\"2\"]/s/t", 0, {}},
        {"/r/s[@k=\"2\"]/t", 0, {"c"}},
        {"/r/s/t[@k=\"1\"]", 0, {"a", "c"}},
        {"/r/s[@k=\"1\"]/t[@k=\"1\"]/@k", 0, {"1"}},
        {"/r/s[@k=\"2\"]", 1, {"<s k=\"2\"><t k=\"1\">c</t><u k=\"1\"><t k=\"2\">d</t></u></s>"}},
        {"/r/*[@k=\"1\"]/s", 0, {""}},
        {"/r/s[1]/t", 0, {"a", "b", "c"}},
        {"//t[@k=\"1\"]", 0, {"a", "c", "e"}},
        {"//u[@k=\"1\"]/t", 0, {"d"}},
        {"/r//s[@k=\"1\"]//t", 0, {"a", "b", "e"}},
        {"//x[@k=\"1\"]//t[@k=\"1\"]", 0, {"e"}},
        {"/r[@v=\"1\"]//t[@k=\"2\"]", 1, {"<t k=\"2\">d</t>"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + (c.tagged ? " tagged" : ""));
        Call call;
        call.tagged = c.tagged;
        Extracted r = extract(ctx, doc, c.path, call);
        EXPECT_EQ(r.state, "00000") << r.msg;
        EXPECT_EQ(r.values, c.values);
    }
}

TEST_F(Extract, TextRulesAndNesting) {
    struct TextCase {
        const char *doc;
        const char *path;
        int tagged;
        Values values;
    };
    const TextCase cases[] = {
        // References arrive resolved; element text stays raw, fragments are re-escaped.
        {"<a><b>1 &lt; 2 &amp; &#x33;&gt;&quot;'</b></a>", "/a/b", 0, {"1 < 2 & 3>\"'"}},
        {"<a><b>1 &lt; 2 &amp; &#x33;&gt;&quot;'</b></a>",
         "/a/b",
         1,
         {"<b>1 &lt; 2 &amp; 3&gt;&quot;&apos;</b>"}},
        // CDATA text is treated like other text; its markers are not reproduced.
        {"<a><b><![CDATA[<x>&]]></b></a>", "/a/b", 0, {"<x>&"}},
        {"<a><b><![CDATA[<x>&]]></b></a>", "/a/b", 1, {"<b>&lt;x&gt;&amp;</b>"}},
        // Comments and processing instructions never reach a value.
        {"<a><b>x<!--c--><?p d?>y</b></a>", "/a/b", 0, {"xy"}},
        {"<a><b>x<!--c--><?p d?>y</b></a>", "/a/b", 1, {"<b>xy</b>"}},
        // A match inside a match starts no new item.
        {"<r><a>1<a>2</a>3</a><a>4</a></r>", "//a", 1, {"<a>1<a>2</a>3</a>", "<a>4</a>"}},
        {"<r><a>1<a>2</a>3</a><a>4</a></r>", "//a", 0, {"123", "4"}},
        {"<a><a><a>x</a></a></a>", "/a//a", 0, {"x"}},
        // Whitespace inside a fragment is kept, whitespace outside the root is not.
        {"<?xml version=\"1.0\"?>\n<!-- c -->\n<a>\n <b> x </b>\n</a>\n",
         "/",
         1,
         {"<a>\n <b> x </b>\n</a>"}},
        {"<a>\n <b> x </b>\n</a>", "/a/b", 0, {" x "}},
        // Predicates read the attributes of ancestors; states return correctly after
        // elements that did not match.
        {"<r><s k=\"1\"><t>a</t></s><s k=\"2\"><t>b</t></s>"
         "<s k=\"1\"><u><t>c</t></u><t>d</t></s></r>",
         "/r/s[@k=\"1\"]/t",
         0,
         {"a", "d"}},
        {"<r><s k=\"1\"><t>a</t></s><s k=\"2\"><t>b</t></s>"
         "<s k=\"1\"><u><t>c</t></u><t>d</t></s></r>",
         "//s[@k=\"1\"]//t",
         0,
         {"a", "c", "d"}},
        {"<r><s><x><y/></x>1<x/>2</s><q><s>3</s></q><s>4<x><s>5</s></x>6</s></r>",
         "/r/s",
         0,
         {"12", "46"}},
        // Non-ASCII text in a UTF-8 database.
        {"<a><b>caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E</b></a>",
         "/a/b",
         0,
         {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9D\x84\x9E"}},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(std::string(c.doc) + " " + c.path + (c.tagged ? " tagged" : ""));
        Call call;
        call.tagged = c.tagged;
        Extracted r = extract(ctx, c.doc, c.path, call);
        EXPECT_EQ(r.state, "00000");
        EXPECT_EQ(r.values, c.values);
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
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.state, "38X01");
    EXPECT_EQ(r.msg.rfind("QAPC001E", 0), 0u) << r.msg;
}

TEST_F(Extract, MalformedPathGivesPosition) {
    const std::pair<const char *, const char *> cases[] = {
        {"a/b", "position 1 "},          {"/a/b@c", "position 3 "}, {"/a/b*", "position 4 "},
        {"/a/b[@c='1']", "position 7 "}, {"", "position 1 "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        Extracted r = extract(ctx, kDoc, c.first);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.state, "38X09");
        EXPECT_EQ(r.msg.rfind("QAPD002E", 0), 0u) << r.msg;
        EXPECT_NE(r.msg.find(c.second), std::string::npos) << r.msg;
        EXPECT_TRUE(r.values.empty());
    }
}

TEST_F(Extract, ParserDiagnosticsEndTheParse) {
    struct ErrCase {
        const char *doc;
        const char *prefix; // of the message
    };
    const ErrCase cases[] = {
        {"<a><b>x</a>", "QAPQ047E  Parser error on line 1 column "},
        {"<a>\n<b>\n</c></a>", "QAPQ047E  Parser error on line 3 column "},
        {"", "QAPQ047E  Parser error on line "},
        // A warning (an attribute declared twice) ends the extraction too.
        {"<!DOCTYPE a [<!ATTLIST a c CDATA \"1\"><!ATTLIST a c CDATA \"2\">]><a>x</a>",
         "QAPQ047E  Parser error on line 1 column "},
    };
    for (const ErrCase &c : cases) {
        SCOPED_TRACE(c.doc);
        Extracted r = extract(ctx, c.doc, "/a");
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.state, "38X13");
        EXPECT_EQ(r.msg.rfind(c.prefix, 0), 0u) << r.msg;
        EXPECT_TRUE(r.values.empty());
    }
}

TEST_F(Extract, DoctypeDtdIsReplaced) {
    // The named DTD does not exist: without DTD text it is read as empty.
    const std::string doc = "<!DOCTYPE a SYSTEM \"/nonexistent/dir/missing.dtd\">"
                            "<a><b>x</b><b c=\"2\">y</b></a>";
    Extracted r = extract(ctx, doc, "/a/b");
    EXPECT_EQ(r.state, "00000") << r.msg;
    EXPECT_EQ(r.values, (Values{"x", "y"}));

    // With DTD text, its declarations apply (default attributes, entities).
    Call call;
    call.dtd = "<!ATTLIST b c CDATA \"1\"><!ENTITY e \"hello\">";
    r = extract(ctx, doc, "/a/b/@c", call);
    EXPECT_EQ(r.state, "00000") << r.msg;
    EXPECT_EQ(r.values, (Values{"1", "2"}));
    r = extract(ctx, "<!DOCTYPE a SYSTEM \"/nonexistent/dir/missing.dtd\"><a><b>&e; &e;</b></a>",
                "/a/b", call);
    EXPECT_EQ(r.values, (Values{"hello hello"}));

    // Another external entity is resolved by the parser as usual.
    std::string ext = writeFile("extract-ext.xml", "external text");
    std::string withEntity = "<!DOCTYPE a SYSTEM \"/nonexistent/dir/missing.dtd\" [<!ENTITY x "
                             "SYSTEM \"" +
                             ext + "\">]><a><b>&x;</b></a>";
    r = extract(ctx, withEntity, "/a/b");
    EXPECT_EQ(r.state, "00000") << r.msg;
    EXPECT_EQ(r.values, (Values{"external text"}));
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

TEST_F(Extract, SizeLimitPerValue) {
    // The limit is in bytes of the database code page, terminator not counted in the value:
    // L - 1 bytes fit, L bytes do not.
    const int32_t limit = 64;
    const std::string fits(limit - 1, 'v');
    const std::string over(limit, 'v');
    Call call;
    call.limit = limit;
    Extracted r = extract(ctx, "<a><b>s</b><b>" + fits + "</b></a>", "/a/b", call);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.state, "00000");
    EXPECT_EQ(r.values, (Values{"s", fits}));

    r = extract(ctx, "<a><b>s</b><b>" + over + "</b><b>t</b></a>", "/a/b", call);
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.state, "38X39");
    EXPECT_EQ(r.msg.rfind("QAPC013E", 0), 0u) << r.msg;
    EXPECT_EQ(r.values, (Values{"s"})); // the values before the one that overflows

    // Two-byte characters count twice.
    std::string e;
    for (int i = 0; i < limit / 2; ++i)
        e += "\xC3\xA9";
    r = extract(ctx, "<a><b>" + e + "</b></a>", "/a/b", call);
    EXPECT_EQ(r.state, "38X39");
}

TEST_F(Extract, DocumentInNonUtf8DatabaseCodePage) {
    TestCtx latin(819);
    ASSERT_EQ(latin.initRc, 0) << latin.msgtext;
    // The bytes are ISO-8859-1; only the encoding given to the parser makes them readable.
    const std::string doc = "<a><b t=\"\xE9t\xE9\">caf\xE9</b></a>";
    Extracted r = extract(latin, doc, "/a/b");
    EXPECT_EQ(r.state, "00000") << r.msg;
    EXPECT_EQ(r.values, (Values{"caf\xE9"}));
    r = extract(latin, doc, "/a/b/@t");
    EXPECT_EQ(r.values, (Values{"\xE9t\xE9"}));
    // The path is in the database code page too.
    r = extract(latin, "<a><caf\xE9>x</caf\xE9></a>", "/a/caf\xE9");
    EXPECT_EQ(r.values, (Values{"x"}));

    Call detect;
    detect.docInDbCodePage = 0; // the parser assumes UTF-8 and fails on the bytes
    r = extract(latin, doc, "/a/b", detect);
    EXPECT_EQ(r.state, "38X13");

    // A file in the database code page.
    std::string name = writeFile("extract-latin.xml", doc);
    Call file;
    file.docLoc = QAP_FILE;
    r = extract(latin, name, "/a/b", file);
    EXPECT_EQ(r.values, (Values{"caf\xE9"}));
}

TEST_F(Extract, ExtractOne) {
    char state[QAP_SQLSTATE_SIZE] = "xxxxx";
    char msg[QAP_MSGTEXT_SIZE] = "";
    char *value = reinterpret_cast<char *>(1);

    // Exactly one value.
    EXPECT_EQ(extractOne(ctx, kDoc, nullptr, 1, QAP_MEM, 0, "//c", &value, 4000, state, msg), 0);
    EXPECT_STREQ(state, "00000");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "y");
    free(value);

    // Several: "38X08" with the path in the message.
    EXPECT_EQ(extractOne(ctx, kDoc, nullptr, 1, QAP_MEM, 0, "/a/b", &value, 4000, state, msg), -1);
    EXPECT_STREQ(state, "38X08");
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(std::string(msg).rfind("QAPD001E  /a/b occurs multiple times.", 0), 0u) << msg;

    // None: the warning "01HX0".
    EXPECT_EQ(extractOne(ctx, kDoc, nullptr, 1, QAP_MEM, 0, "/a/zz", &value, 4000, state, msg), -1);
    EXPECT_STREQ(state, "01HX0");
    EXPECT_EQ(std::string(msg).rfind("QAPD003W", 0), 0u) << msg;
    EXPECT_EQ(value, nullptr);

    // An empty value: NULL without a warning.
    msg[0] = '\0';
    EXPECT_EQ(extractOne(ctx, kDoc, nullptr, 1, QAP_MEM, 0, "/a/e", &value, 4000, state, msg), -1);
    EXPECT_STREQ(state, "00000");
    EXPECT_EQ(value, nullptr);

    // A failed parse keeps its state and message.
    EXPECT_EQ(extractOne(ctx, "<a>", nullptr, 1, QAP_MEM, 0, "/a", &value, 4000, state, msg), -1);
    EXPECT_STREQ(state, "38X13");
    EXPECT_EQ(value, nullptr);

    // A tagged value from a file.
    std::string name = writeFile("extract-one.xml", kDoc);
    EXPECT_EQ(
        extractOne(ctx, name.c_str(), nullptr, 0, QAP_FILE, 1, "/a/e", &value, 4000, state, msg),
        0);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "<e></e>");
    free(value);

    // A value over the limit.
    EXPECT_EQ(extractOne(ctx, kDoc, nullptr, 1, QAP_MEM, 0, "//c", &value, 1, state, msg), -1);
    EXPECT_STREQ(state, "38X39");
    EXPECT_EQ(value, nullptr);
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
