// The parse engine: location paths (their syntax and which open elements they match: the one
// home of path semantics), result items in a UTF-8 database, and DTD validation.
#include "qapConv.h"
#include "qapFile.h"
#include "qapQuery.h"
#include "qapResult.h"
#include "qapSgDoc.h"
#include "qapExtractHandler.h"
#include "qapParseRun.h"
#include "qapValidate.h"
#include "tesselHost.h"
#include "testAttrs.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using tesseltest::TestCtx;
using tesseltest::writeFile;

namespace {

// Pushes "name[k=v,k=v]" (attributes optional; local name = qualified name).
void push(QapCurrentPath &path, const std::string &desc) {
    QapListAttrs attrs;
    size_t b = desc.find('[');
    if (b != std::string::npos) {
        std::istringstream body(desc.substr(b + 1, desc.size() - b - 2));
        for (std::string kv; std::getline(body, kv, ',');) {
            std::u16string name = qapU16(kv.substr(0, kv.find('=')));
            attrs.list.push_back({name, name, qapU16(kv.substr(kv.find('=') + 1))});
        }
    }
    path.push(qapU16(desc.substr(0, b)).c_str(), attrs);
}

// A query with its path text, which must outlive it.
struct Parsed {
    std::u16string text;
    QapQuery query;
    explicit Parsed(const std::u16string &path) : text(path), query(nullptr, &text[0]) {}
};

// Pushes the elements one by one and records the state after each push.
std::string statesAfterPushes(QapQuery &q, const std::string &elements) {
    QapCurrentPath path(nullptr);
    std::istringstream in(elements);
    std::string states;
    for (std::string desc; in >> desc;) {
        push(path, desc);
        states += "NPY"[q.match(path)];
    }
    return states;
}

TEST(QueryMatch, StatesAlongOpenElements) {
    // TAGGED_ELEMENT is set after the parse, as the extract handler does; states: one per push.
    const struct {
        const char *path;
        QapTargetKind kind;
        const char *elements, *states;
    } cases[] = {
        // Absolute paths cover the whole current path.
        {"/a/b", ELEMENT, "a b c", "PYN"},
        {"/a", ELEMENT, "a a", "YN"},
        // Children of a match are YES in tagged mode.
        {"/a/b", TAGGED_ELEMENT, "a b c d", "PYYY"},
        // "//" at the start.
        {"//b", ELEMENT, "a b c b", "PYPY"},
        {"//b", TAGGED_ELEMENT, "b c", "YP"},
        // "//" in the middle: never the head's own element.
        {"/a//a", ELEMENT, "a a x a", "PYPY"},
        // Several "//": middle chunks at their leftmost occurrence, then the tail.
        {"/a//b//c", ELEMENT, "a x b y c", "PPPPY"},
        {"/r//a//b//c", ELEMENT, "r b a c", "PPPP"},
        {"/r//a/b//c/d", ELEMENT, "r a x a b c d", "PPPPPPY"},
        {"//a//b//c", ELEMENT, "a b c c", "PPYY"},
        // "*".
        {"/a/*", ELEMENT, "a b c", "PYN"},
        {"//*", ELEMENT, "a b", "YY"},
        // Predicates, on the last step and on ancestors.
        {"/a/b[@x=\"1\"]/c", ELEMENT, "a b[x=1] c", "PPY"},
        {"/a/b[@x=\"1\"]/c", ELEMENT, "a b[x=2] c", "PNN"},
        {"//b[@x=\"1\"]/c", ELEMENT, "b[x=2] c b[x=1] c", "PPPY"},
        // The opening character after "=" is skipped unchecked; text after the closing quote
        // up to "]" is ignored.
        {"/a[@x='1\"]", ELEMENT, "a[x=1]", "Y"},
        // A bracket without "@" has no effect.
        {"/a/b[1]", ELEMENT, "a b", "PY"},
        // A "/" inside a quoted value stays in the value.
        {"/a/b[@x=\"1/2\"]/c", ELEMENT, "a b[x=1/2] c", "PPY"},
        // Attribute targets match the element that carries the attribute.
        {"/a/b/@c", ATTRIBUTE, "a b d", "PYN"},
        // Nothing matches "//@a" and "//" alone, unless tagged.
        {"//@a", ATTRIBUTE, "a b", "NN"},
        {"//", ELEMENT, "a b", "NN"},
        {"//", TAGGED_ELEMENT, "a b", "YY"},
        // "/a//" has no tail: it is the absolute path /a.
        {"/a//", ELEMENT, "a b", "YN"},
    };
    for (const auto &c : cases) {
        Parsed p(qapU16(c.path));
        ASSERT_EQ(p.query.getErrorPosition(), 0) << c.path;
        if (c.kind == TAGGED_ELEMENT)
            p.query.setTargetKind(TAGGED_ELEMENT);
        else
            EXPECT_EQ(p.query.getTargetKind(), c.kind) << c.path;
        EXPECT_EQ(statesAfterPushes(p.query, c.elements), c.states)
            << c.path << " on " << c.elements;
    }
}

TEST(QueryParse, ErrorPositions) {
    const struct {
        std::u16string path;
        int32_t position;
    } cases[] = {
        {u"a/b", 1},
        {u"", 1},
        {u"/a/b@c", 3}, // the character before "@"
        {u"/@a", 1},    // the head then begins with "@"
        {u"/a.b-c_d:e/_x/:y", 0},
        {u"/a///b", 4},               // an empty step
        {u"/a/b[@x='1']/c", 7},       // no double quote after "="
        {u"/a/b[@x=", 7},             // nothing after "="
        {u"/a/b[@x]", 4},             // no "=" at all: an attribute step not after "/"
        {u"/a[@x]/b[@y=\"1\"]", 3},   // no "=" in the predicate: at its "@"
        {u"/a/b[@1x=\"v\"]", 6},      // the predicate's name
        {u"/a/b[@x=\"1//2\"]/c", 12}, // "//" splits the value: the tail's first name is bad
        // Non-ASCII names: letters, combining characters, extenders, digits, ideographs.
        {u"/a\u0300\u00b7\u0660", 0},
        {u"/\u0300", 1},
        {u"/a\U00010000", 2},
        // The last error found wins: head, tail, then middle chunks from last to first.
        {u"/1/2", 1 + 2},
        {u"/a//2//3//b", 4},
        // A predicate error ends its segment: later steps are not checked.
        {u"/a[@x=\"1\"]/b*", 12},
    };
    for (const auto &c : cases) {
        Parsed p(c.path);
        EXPECT_EQ(p.query.getErrorPosition(), c.position)
            << std::string(c.path.begin(), c.path.end());
    }
}

TEST(QueryParse, LongPathsDoNotRecurse) {
    std::u16string path;
    for (int i = 0; i < 50000; ++i)
        path += u"/a";
    path += u"//b";
    for (int i = 0; i < 50000; ++i)
        path += u"//c";
    Parsed p(path);
    EXPECT_EQ(p.query.getErrorPosition(), 0);
    QapCurrentPath open(nullptr);
    push(open, "a");
    EXPECT_EQ(p.query.match(open), PARTIAL);
}

// ---- Result items ---------------------------------------------------------------------------

// A retrieved record, freed on every path.
struct Record {
    QapExtractResult *r;
    explicit Record(QapExtractResult *r) : r(r) {}
    ~Record() {
        qapFreeExtractResult(nullptr, r);
        free(r);
    }
};

// The texts as items, appended raw, then retrieved within the limit.
QapExtractResult *retrieve(QapRoutineCtx *ctx, const std::vector<std::u16string> &texts,
                           int32_t limit) {
    QapResult result(ctx);
    for (const std::u16string &t : texts) {
        result.newItem();
        result.last->addToContent(0, t.data(), static_cast<uint32_t>(t.size()));
    }
    return result.retrieve(limit);
}

// UTF-8 is written without the converter: the bytes must be the converter's, for ASCII runs
// of every length around non-ASCII characters, pairs and NULs, in items short and long; L - 1
// bytes fit a limit of L. An unpaired surrogate is no character: it fails, never replaced.
TEST(Retrieve, Utf8DatabaseBytesMatchTheConverter) {
    TestCtx ctx(1208);
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    uint32_t seed = 99;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % bound;
    };
    const std::u16string others[] = {u"\u00e9",
                                     u"\u07ff\u0800\uffff",
                                     u"\U0001F600",
                                     std::u16string(1, char16_t(0xD800)),
                                     std::u16string(1, char16_t(0xDC00)),
                                     std::u16string(1, u'\0')};
    std::vector<std::u16string> texts = {std::u16string(1, char16_t(0xD800))};
    for (int i = 0; i < 300; ++i) {
        std::u16string t;
        const size_t target = i == 0 ? 40000 : next(60);
        while (t.size() < target) {
            t.append(next(20), static_cast<char16_t>(u'a' + next(26)));
            if (next(3) == 0) t += others[next(i % 7 == 0 ? 6 : 5)];
        }
        texts.push_back(t);
    }
    for (const std::u16string &t : texts) {
        std::vector<char> expected(4 * t.size() + 4); // the converter stops at a NUL too
        ASSERT_GE(qapWcstombsFunction(ctx, expected.data(), t.c_str(),
                                      static_cast<int32_t>(expected.size())),
                  0);
        const int32_t bytes = static_cast<int32_t>(strlen(expected.data()));
        Record rec(retrieve(ctx, {t}, bytes + 1));
        bool unpaired = false;
        for (size_t i = 0; i < t.size() && t[i] != 0; ++i) {
            const bool high = t[i] >= 0xD800 && t[i] < 0xDC00;
            if (high && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] < 0xE000)
                ++i;
            else
                unpaired = unpaired || (t[i] >= 0xD800 && t[i] < 0xE000);
        }
        if (unpaired) {
            ASSERT_STREQ(rec.r->sqlstate, "38X45");
            continue;
        }
        ASSERT_STREQ(rec.r->sqlstate, "00000");
        ASSERT_STREQ(rec.r->values[0], expected.data()) << t.size();
        if (!t.empty()) {
            EXPECT_STREQ(Record(retrieve(ctx, {t}, bytes)).r->sqlstate, "38X39");
        }
    }
}

// An element with very many children, empty or not, costs the parser no memory per child.
TEST(Extract, ParserMemoryIsFlatInTheNumberOfChildren) {
    ASSERT_NE(isSharedLibInitSuccess(), 0);
    TestCtx ctx;
    // The reader learns the scanner's stack levels in one parse and trims with them in the next.
    std::string wide = "<r><a>";
    for (int i = 0; i < 100000; ++i)
        wide += "<b/><c>x</c>";
    wide += "<d>last</d></a></r>";
    for (const std::string &doc : {std::string("<r><a><d>first</d></a></r>"), wide}) {
        QapExtractResult result{};
        char state[kSqlstateSize] = "00000";
        char msg[kMsgTextSize] = "";
        ASSERT_EQ(qapExtractAll(ctx, QapDoc{doc.c_str(), kMem, 0, nullptr, nullptr}, 0, "/r/a/d",
                                &result, 100, {state, msg}),
                  0)
            << msg;
        ASSERT_NE(result.values, nullptr);
        EXPECT_STREQ(result.values[0], doc == wide ? "last" : "first");
        qapFreeExtractResult(ctx, &result);
    }
    ASSERT_NE(ctx->parser, nullptr);
    EXPECT_LE(qapKeptParser(ctx)->memory.largestBlock(), size_t{256} << 10);
}

// A context keeps its extraction handler for the next parse of the same path: every row gives
// exactly what a new context gives, whatever the rows before it left behind. A scan, value by
// value, gives the same values and state as the whole extraction.
TEST(Extract, AKeptHandlerOrAScanGivesWhatANewOneGives) {
    ASSERT_NE(isSharedLibInitSuccess(), 0);
    struct Row {
        const char *doc;
        const char *path;
        int tagged;
        int32_t limit;
    };
    const Row rows[] = {
        {"<r><v>1</v><v>2</v></r>", "/r/v", 0, 100},
        {"<r><x><v>deep</v><v>deeper</v></x><v>3</v></r>", "/r/v", 0, 100},
        {"<r><v>far too long</v><v>5</v></r>", "/r/v", 0, 5},
        {"<r><v>4</v></r>", "/r/v", 0, 100},
        {"<r/>", "/r/v", 0, 100}, // an empty root after deeper documents
        {"<r><v/><w>no</w></r>", "//v", 0, 100},
        {"<r><x><v>a<v>b</v></v></x></r>", "//v", 0, 100},
        {"<r><t a='1'>x<b/>y</t><t>&amp;</t></r>", "/r/t", 1, 100},
        {"<r><s><t>in</t></s><t><t>z</t></t></r>", "/r/t", 1, 100},
        {"<r><t a='7' b='8'/></r>", "/r/t/@b", 0, 100},
        {"<r><t a='9'/><t b='10'/></r>", "/r/t/@b", 0, 100},
        {"<r><x><v>a<v>b</v>c</v></x><v>d</v><w><v/></w></r>", "//v", 0, 100},
        {"<r><t>1<t>2</t>3</t><t>4</t></r>", "//t", 1, 100},
        {"<r><t a='1' b='2'/><t c='3'/><u d='4'/></r>", "/r/t/@*", 0, 100},
        {"<r><t a='1' b='long'/></r>", "/r/t/@*", 0, 3},
    };
    TestCtx shared;
    auto run = [](QapRoutineCtx *ctx, const Row &row) {
        QapExtractResult result{};
        char state[kSqlstateSize] = "00000";
        char msg[kMsgTextSize] = "";
        const int32_t rc = qapExtractAll(ctx, QapDoc{row.doc, kMem, 0, nullptr, nullptr},
                                         row.tagged, row.path, &result, row.limit, {state, msg});
        std::string out = std::to_string(rc) + " " + state + " " + msg;
        for (char **v = result.values; v != nullptr && *v != nullptr; ++v)
            out += std::string("|") + *v;
        qapFreeExtractResult(ctx, &result);
        return out;
    };
    auto scan = [](QapRoutineCtx *ctx, const Row &row) {
        QapExtractScan values;
        char state[kSqlstateSize] = "00000";
        char msg[kMsgTextSize] = "";
        int32_t rc = values.open(ctx, QapDoc{row.doc, kMem, 0, nullptr, nullptr}, row.tagged,
                                 row.path, row.limit, {state, msg});
        std::string out;
        char *v = nullptr;
        while (rc >= 0 && (rc = values.next(&v, {state, msg})) == 1)
            out += std::string("|") + v;
        return std::to_string(rc) + " " + state + " " + msg + out;
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.doc);
        TestCtx fresh;
        const std::string expected = run(fresh, row);
        EXPECT_EQ(run(shared, row), expected);
        EXPECT_EQ(scan(shared, row), expected);
        ASSERT_NE(shared->parser, nullptr);
        EXPECT_NE(qapKeptParser(shared)->kept.handler, nullptr);
    }
}

// ---- DTD validation -------------------------------------------------------------------------

// Against a DTD file, DTD text or the DTD the DOCTYPE names, with the first error's line and
// column (a missing required attribute: at the end of its start tag). The message is cleared.
TEST(Validate, AgainstAReplacementOrTheNamedDtd) {
    ASSERT_NE(isSharedLibInitSuccess(), 0);
    TestCtx ctx;
    const std::string dtd =
        "<!ELEMENT o (i+)><!ATTLIST o id CDATA #REQUIRED><!ELEMENT i (#PCDATA)>";
    const std::string dtdFile = writeFile("validate.dtd", dtd);
    const std::string valid = "<!DOCTYPE o SYSTEM '/nonexistent/o.dtd'><o id='7'><i>x</i></o>";
    const std::string noAttr = "<!DOCTYPE o SYSTEM 'x.dtd'>\n\n<o><i>x</i></o>";
    const struct {
        std::string doc;
        uint32_t docLoc;
        const char *dtd; // null: none
        uint32_t dtdLoc;
        int32_t rc;
        const char *msg; // how it starts
    } rows[] = {
        {valid, kMem, dtdFile.c_str(), kFile, 1, ""},
        {valid, kMem, dtd.c_str(), kMem, 1, ""}, // the named file is never opened
        {noAttr, kMem, dtd.c_str(), kMem, 0, "QAPQ047E  Parser error on line 3 column 4: "},
        {valid, kMem, nullptr, kFile, 0, "QAPQ047E  Parser error on line 1 column "},
        {"<!DOCTYPE o SYSTEM '" + dtdFile + "'><o id='1'><i/></o>", kMem, nullptr, kFile, 1, ""},
        {writeFile("valid.xml", valid), kFile, dtdFile.c_str(), kFile, 1, ""},
        {"missing.xml", kFile, dtdFile.c_str(), kFile, 0,
         "QAPC001E  The specified file is not found.\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.doc);
        char state[kSqlstateSize] = "00000";
        char msg[kMsgTextSize] = "leftover";
        QapOpenFile doc, dtd; // opened as the routines open them
        if (r.docLoc == kFile) qapOpenRead(ctx, r.doc.c_str(), doc);
        if (r.dtd != nullptr && r.dtdLoc == kFile) qapOpenRead(ctx, r.dtd, dtd);
        const QapDoc d{r.docLoc == kFile ? doc.name().c_str() : r.doc.c_str(), r.docLoc,
                       r.docLoc == kMem, nullptr, &doc};
        EXPECT_EQ(qapValidate(ctx, d, r.dtd != nullptr && r.dtdLoc == kFile ? &dtd : nullptr,
                              r.dtdLoc == kMem ? r.dtd : nullptr, 0, "o", {state, msg}),
                  r.rc);
        EXPECT_STREQ(state, r.rc == 1 ? "00000" : r.msg[3] == 'C' ? "38X01" : "38X13");
        EXPECT_EQ(std::string(msg).substr(0, strlen(r.msg)), r.msg);
        EXPECT_EQ(msg[0] == '\0', r.msg[0] == '\0');
    }
}

} // namespace
