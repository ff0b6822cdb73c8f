// The scalar extract routines, called as the host calls them: every result kind from a server
// file, a VARCHAR document and a CLOB document, the "2" variants with their DTD, the frame's
// context across calls, and the text conversions they use.
#include "qapExtractConv.h"
#include "qapFrame.h"
#include "tarnCall.h"
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using tarn::Input;
using tarn::Outcome;
using tarn::SqlType;

namespace {

enum class Source { File, Varchar, Clob };

// One result kind with its three members.
struct Kind {
    const char *name;
    SqlType output;
    int32_t outputLength;
    bool withDtd;
    void *file;
    void *varchar;
    void *clob;
};

#define KIND(name, type, length)                                                                   \
    Kind {                                                                                         \
#name, SqlType::type, length, false, reinterpret_cast < void *>(&qapExtract##name),        \
            reinterpret_cast < void *>(&qapExtract##name##FromVarchar),                            \
            reinterpret_cast < void *>(&qapExtract##name##FromClob)                                \
    }
#define KIND2(name, type, length)                                                                  \
    Kind {                                                                                         \
#name "2", SqlType::type, length, true, reinterpret_cast < void *>(&qapExtract##name##2),  \
            reinterpret_cast < void *>(&qapExtract##name##FromVarchar2),                           \
            reinterpret_cast < void *>(&qapExtract##name##FromClob2)                               \
    }

const std::vector<Kind> &kinds() {
    static const std::vector<Kind> all = {
        KIND(Varchar, Varchar, 4000), KIND2(Varchar, Varchar, 4000), KIND(Char, Char, 254),
        KIND(Clob, Clob, 0),          KIND2(Clob, Clob, 0),          KIND(Date, Date, 0),
        KIND(Time, Time, 0),          KIND(Timestamp, Timestamp, 0), KIND(Double, Double, 0),
        KIND2(Double, Double, 0),     KIND(Real, Real, 0),           KIND2(Real, Real, 0),
        KIND(Integer, Integer, 0),    KIND(Smallint, Smallint, 0),
    };
    return all;
}

const Kind &kind(const std::string &name) {
    for (const Kind &k : kinds())
        if (name == k.name) return k;
    throw std::invalid_argument("no kind " + name);
}

const char *sourceName(Source s) {
    return s == Source::File ? "file" : s == Source::Varchar ? "VARCHAR" : "CLOB";
}

tarn::RoutineDesc desc(const Kind &k, Source s) {
    tarn::RoutineDesc d;
    d.name = std::string(k.name) + "/" + sourceName(s);
    d.entry = s == Source::File ? k.file : s == Source::Varchar ? k.varchar : k.clob;
    d.inputs.push_back(s == Source::Clob ? SqlType::Clob : SqlType::Varchar);
    if (k.withDtd) d.inputs.push_back(SqlType::Clob);
    d.inputs.push_back(SqlType::Varchar);
    d.output = k.output;
    d.outputLength = k.outputLength;
    return d;
}

const char *const DTD = "<!ELEMENT r ANY>";

// The inputs of one call: the document (a file name for the file members), the DTD of "2"
// variants, the path.
std::vector<Input> inputs(const Kind &k, const std::string &docArg, const std::string &path,
                          const std::string &dtd = DTD) {
    std::vector<Input> in{Input(docArg)};
    if (k.withDtd) in.emplace_back(dtd);
    in.emplace_back(path);
    return in;
}

std::string docArgument(Source s, const std::string &doc) {
    static int counter = 0;
    if (s != Source::File) return doc;
    return testing_support::writeFile("doc" + std::to_string(++counter) + ".xml", doc);
}

// One statement of one call (first call, then final call).
Outcome extractOnce(const Kind &k, Source s, const std::string &doc, const std::string &path) {
    tarn::ScalarStatement st(desc(k, s));
    Outcome o = st.call(inputs(k, docArgument(s, doc), path));
    Outcome fin = st.finish();
    EXPECT_TRUE(fin.isNull());
    return o;
}

QapScratch *scratchOf(tarn::ScalarStatement &st) {
    return reinterpret_cast<QapScratch *>(st.scratchData());
}

const std::string DOC = "<?xml version='1.0'?>\n"
                        "<r><v>hello &amp; more</v><d>2005-06-05</d><t>10:20:30</t>"
                        "<ts>2005-6-5 1:2:3</ts><tf>2005-06-05-10.20.30.5</tf>"
                        "<n> 12.5 </n><n2>1.5e3</n2><z>0.000e7</z><bad>12abc</bad>"
                        "<i>42 abc</i><s>70000</s><big>1e76</big><e/><m>1</m><m>2</m>"
                        "<x a='1\"'><y>in</y>t&amp;l</x><long>2005-06-05x</long>"
                        "<slash>2005/06/05 10:20:30</slash></r>";

// What a call returned, in the terms of its result kind.
struct Expect {
    std::string sqlstate;
    bool isNull;
    std::string text; // text kinds and CLOB
    double number;    // DOUBLE, REAL, INTEGER, SMALLINT
};

struct Case {
    const char *kind;
    const char *path;
    Expect expect;
};

void check(const Kind &k, const Outcome &o, const Expect &e) {
    EXPECT_EQ(o.sqlstate, e.sqlstate) << o.message;
    EXPECT_EQ(o.isNull(), e.isNull);
    if (e.isNull) return;
    switch (k.output) {
    case SqlType::Double:
        EXPECT_DOUBLE_EQ(o.dbl, e.number);
        break;
    case SqlType::Real:
        EXPECT_FLOAT_EQ(o.real, static_cast<float>(e.number));
        break;
    case SqlType::Integer:
        EXPECT_EQ(o.integer, static_cast<int32_t>(e.number));
        break;
    case SqlType::Smallint:
        EXPECT_EQ(o.smallint, static_cast<int16_t>(e.number));
        break;
    default:
        EXPECT_EQ(o.text, e.text);
    }
}

const Source SOURCES[] = {Source::File, Source::Varchar, Source::Clob};

} // namespace

// Every kind, from every source, gives the same answer on the same document.
TEST(ScalarExtract, EverySourceGivesTheSameValue) {
    const Case cases[] = {
        {"Varchar", "/r/v", {"00000", false, "hello & more", 0}},
        {"Varchar2", "/r/v", {"00000", false, "hello & more", 0}},
        {"Char", "/r/v", {"00000", false, "hello & more", 0}},
        {"Clob", "/r/x", {"00000", false, "<x a=\"1&quot;\"><y>in</y>t&amp;l</x>", 0}},
        {"Clob2", "//y", {"00000", false, "<y>in</y>", 0}},
        {"Date", "/r/d", {"00000", false, "2005-06-05", 0}},
        {"Date", "/r/long", {"38X39", true, "", 0}},
        {"Time", "/r/t", {"00000", false, "10:20:30", 0}},
        {"Time", "/r/d", {"38X39", true, "", 0}},
        {"Timestamp", "/r/ts", {"00000", false, "2005-06-05 01:02:03.000000", 0}},
        {"Timestamp", "/r/tf", {"00000", false, "2005-06-05-10.20.30.500000", 0}},
        {"Timestamp", "/r/slash", {"38X29", true, "", 0}},
        {"Double", "/r/n", {"00000", false, "", 12.5}},
        {"Double2", "/r/n2", {"00000", false, "", 1500.0}},
        {"Double", "/r/z", {"00000", false, "", 0.0}},
        {"Double", "/r/bad", {"00000", true, "", 0}},
        {"Double", "/r/big", {"00000", true, "", 0}},
        {"Real", "/r/n", {"00000", false, "", 12.5}},
        {"Real2", "/r/n2", {"00000", false, "", 1500.0}},
        {"Integer", "/r/i", {"00000", false, "", 42}},
        {"Integer", "/r/bad", {"00000", false, "", 12}},
        {"Integer", "/r/v", {"00000", false, "", 0}},
        {"Smallint", "/r/s", {"00000", false, "", 4464}},
        {"Varchar", "/r/x/@a", {"00000", false, "1&quot;", 0}},
    };
    for (const Case &c : cases)
        for (Source s : SOURCES) {
            SCOPED_TRACE(std::string(c.kind) + " " + c.path + " from " + sourceName(s));
            check(kind(c.kind), extractOnce(kind(c.kind), s, DOC, c.path), c.expect);
        }
}

// Nothing, an empty element and several values give NULL with their own states, for every
// kind and source.
TEST(ScalarExtract, NullResults) {
    for (const Kind &k : kinds())
        for (Source s : SOURCES) {
            SCOPED_TRACE(std::string(k.name) + " from " + sourceName(s));
            Outcome missing = extractOnce(k, s, DOC, "/r/nothing");
            EXPECT_EQ(missing.sqlstate, "01HX0");
            EXPECT_EQ(missing.message.compare(0, 8, "QAPD003W"), 0) << missing.message;
            EXPECT_TRUE(missing.isNull());

            // A tagged (CLOB) result of an empty element is the element itself.
            Outcome empty = extractOnce(k, s, DOC, "/r/e");
            EXPECT_EQ(empty.sqlstate, "00000");
            EXPECT_EQ(empty.isNull(), k.output != SqlType::Clob);
            if (k.output == SqlType::Clob) {
                EXPECT_EQ(empty.text, "<e></e>");
            }

            Outcome several = extractOnce(k, s, DOC, "/r/m");
            EXPECT_EQ(several.sqlstate, "38X08");
            EXPECT_EQ(several.message.compare(0, 8, "QAPD001E"), 0) << several.message;
            EXPECT_TRUE(several.isNull());
        }
}

// A typed member converts at most 255 bytes of text from a file or VARCHAR and 253 from a CLOB;
// longer values are refused alike rather than cut.
TEST(ScalarExtract, TypedValueLimits) {
    const Kind &integer = kind("Integer");
    const std::string fits = "<r><i>42" + std::string(251, ' ') + "x</i></r>";    // 254 bytes
    const std::string refused = "<r><i>42" + std::string(253, ' ') + "x</i></r>"; // 256 bytes
    for (Source s : SOURCES) {
        SCOPED_TRACE(sourceName(s));
        Outcome big = extractOnce(integer, s, refused, "/r/i");
        EXPECT_EQ(big.sqlstate, "38X39");
        EXPECT_EQ(big.message.compare(0, 8, "QAPC013E"), 0) << big.message;
        EXPECT_TRUE(big.isNull());
    }
    EXPECT_EQ(extractOnce(integer, Source::File, fits, "/r/i").integer, 42);
    EXPECT_EQ(extractOnce(integer, Source::Varchar, fits, "/r/i").integer, 42);
    EXPECT_EQ(extractOnce(integer, Source::Clob, fits, "/r/i").sqlstate, "38X39");

    const std::string smallest = "<r><i>42" + std::string(250, ' ') + "x</i></r>"; // 253 bytes
    EXPECT_EQ(extractOnce(integer, Source::Clob, smallest, "/r/i").integer, 42);
}

// A warning on the first call keeps the context for the following calls; the final call
// releases it and sets no value.
TEST(ScalarExtract, WarningKeepsContextForNextRow) {
    for (Source s : SOURCES) {
        SCOPED_TRACE(sourceName(s));
        const Kind &k = kind("Varchar2");
        tarn::ScalarStatement st(desc(k, s));
        Outcome first = st.call(inputs(k, docArgument(s, DOC), "/r/none"));
        EXPECT_EQ(first.sqlstate, "01HX0");
        ASSERT_NE(scratchOf(st)->ctx, nullptr);
        QapRoutineCtx *ctx = scratchOf(st)->ctx;

        Outcome next = st.call(inputs(k, docArgument(s, DOC), "/r/v"));
        EXPECT_EQ(next.sqlstate, "00000");
        EXPECT_EQ(next.text, "hello & more");
        EXPECT_EQ(scratchOf(st)->ctx, ctx);

        Outcome fin = st.finish();
        EXPECT_EQ(fin.sqlstate, "00000");
        EXPECT_TRUE(fin.isNull());
        EXPECT_EQ(fin.text, "");
        EXPECT_EQ(scratchOf(st)->ctx, nullptr);
        EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
    }
}

// A first call that fails releases the context at once: later calls find none, return NULL
// without parsing, and the final call has nothing to do.
TEST(ScalarExtract, FailedFirstCallReleasesContext) {
    for (Source s : SOURCES) {
        SCOPED_TRACE(sourceName(s));
        const Kind &k = kind("Double2");
        tarn::ScalarStatement st(desc(k, s));
        Outcome first = st.call(inputs(k, docArgument(s, DOC), "/r/m"));
        EXPECT_EQ(first.sqlstate, "38X08");
        EXPECT_EQ(scratchOf(st)->ctx, nullptr);
        EXPECT_EQ(scratchOf(st)->dtdText, nullptr);

        Outcome next = st.call(inputs(k, docArgument(s, DOC), "/r/n"));
        EXPECT_EQ(next.sqlstate, "00000");
        EXPECT_TRUE(next.isNull());

        Outcome fin = st.finish();
        EXPECT_EQ(fin.sqlstate, "00000");
        EXPECT_EQ(fin.message, "");
        EXPECT_TRUE(fin.isNull());
    }
}

// Errors after the first call leave the context for the final call.
TEST(ScalarExtract, ErrorOnNormalCallKeepsContext) {
    const Kind &k = kind("Char");
    tarn::ScalarStatement st(desc(k, Source::Varchar));
    EXPECT_EQ(st.call(inputs(k, DOC, "/r/v")).text, "hello & more");
    EXPECT_EQ(st.call(inputs(k, DOC, "/r/m")).sqlstate, "38X08");
    EXPECT_EQ(st.call(inputs(k, "<r><v>", "/r/v")).sqlstate, "38X13");
    EXPECT_EQ(st.call(inputs(k, DOC, "/r/[")).sqlstate, "38X09");
    ASSERT_NE(scratchOf(st)->ctx, nullptr);
    EXPECT_EQ(st.call(inputs(k, DOC, "/r/t")).text, "10:20:30");
    st.finish();
    EXPECT_EQ(scratchOf(st)->ctx, nullptr);
}

// A missing server file is the driver's "38X01".
TEST(ScalarExtract, MissingFile) {
    const Kind &k = kind("Varchar");
    tarn::ScalarStatement st(desc(k, Source::File));
    Outcome o = st.call(inputs(k, testing_support::scratchDir() + "/none.xml", "/r"));
    EXPECT_EQ(o.sqlstate, "38X01");
    EXPECT_TRUE(o.isNull());
}

// A "2" variant reads its DTD on the first call only: later calls keep that text, whatever
// their DTD argument holds.
TEST(ScalarExtract, DtdIsReadOnce) {
    const std::string doc = "<!DOCTYPE r SYSTEM 'r.dtd'><r><v>&who;</v></r>";
    const std::string firstDtd = "<!ENTITY who 'first'>";
    for (Source s : SOURCES) {
        SCOPED_TRACE(sourceName(s));
        const Kind &k = kind("Varchar2");
        tarn::ScalarStatement st(desc(k, s));
        const std::string arg = docArgument(s, doc);
        Outcome first = st.call(inputs(k, arg, "/r/v", firstDtd));
        EXPECT_EQ(first.sqlstate, "00000") << first.message;
        EXPECT_EQ(first.text, "first");
        Outcome second = st.call(inputs(k, arg, "/r/v", "<!ENTITY who 'second'>"));
        EXPECT_EQ(second.text, "first");
        ASSERT_NE(scratchOf(st)->dtdText, nullptr);
        EXPECT_EQ(std::string(scratchOf(st)->dtdText), firstDtd);
    }
}

// A DTD that cannot be read fails the first call with the host's code and drops the context.
TEST(ScalarExtract, DtdReadFailure) {
    for (Source s : SOURCES) {
        SCOPED_TRACE(sourceName(s));
        const Kind &k = kind("Clob2");
        tarn::ScalarStatement st(desc(k, s));
        const std::string arg = docArgument(s, DOC);
        tarnLobFailAfter(0, -1002);
        Outcome first = st.call(inputs(k, arg, "/r/x"));
        tarnLobFailAfter(-1, 0);
        EXPECT_EQ(first.sqlstate, "38X04");
        EXPECT_NE(first.message.find("rc=-1002"), std::string::npos) << first.message;
        EXPECT_TRUE(first.isNull());
        EXPECT_EQ(scratchOf(st)->ctx, nullptr);
        EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
    }
}

// A CLOB document longer than the file threshold is parsed from a temporary file, which is
// gone when the call returns; one at the threshold stays in memory.
TEST(ScalarExtract, LargeClobGoesThroughTemporaryFile) {
    const std::string head = "<r><v>far</v><pad>";
    const std::string tail = "</pad></r>";
    const size_t threshold = QAP_MIN_FILE_THRESHOLD;
    for (size_t size : {threshold, threshold + 1, 3 * threshold}) {
        SCOPED_TRACE(size);
        const std::string doc = head + std::string(size - head.size() - tail.size(), 'p') + tail;
        ASSERT_EQ(doc.size(), size);
        const Kind &k = kind("Varchar");
        tarn::ScalarStatement st(desc(k, Source::Clob));
        Outcome o = st.call(inputs(k, doc, "/r/v"));
        EXPECT_EQ(o.sqlstate, "00000") << o.message;
        EXPECT_EQ(o.text, "far");
        EXPECT_EQ(scratchOf(st)->docLoc, size > threshold ? QAP_FILE : QAP_MEM);
        EXPECT_TRUE(testing_support::listDir(testing_support::tempDir()).empty());
        st.finish();
    }
}

// A CLOB document that cannot be read gives "38X04" with the host's code.
TEST(ScalarExtract, ClobReadFailure) {
    const Kind &k = kind("Integer");
    tarn::ScalarStatement st(desc(k, Source::Clob));
    EXPECT_EQ(st.call(inputs(k, DOC, "/r/i")).integer, 42);
    tarnLobFailAfter(2, -1003); // both length queries succeed, the read fails
    Outcome o = st.call(inputs(k, DOC, "/r/i"));
    tarnLobFailAfter(-1, 0);
    EXPECT_EQ(o.sqlstate, "38X04");
    EXPECT_NE(o.message.find("rc=-1003"), std::string::npos) << o.message;
    EXPECT_TRUE(o.isNull());
    EXPECT_NE(scratchOf(st)->ctx, nullptr);
}

// ---- Text conversions ----------------------------------------------------------------------

TEST(ScalarExtract, Qapatof) {
    struct Row {
        const char *text;
        double value;
        int32_t err;
    };
    const Row rows[] = {
        {" 12.5 ", 12.5, 0},
        {"12.5\n", 12.5, 0},
        {"-0012.50", -12.5, 0},
        {"1.5e3", 1500.0, 0},
        {"1.5E-3", 0.0015, 0},
        {"+.25", 0.25, 0},
        {"0.000e7", 0.0, 0},
        {"e5", 0.0, 0},
        {"12abc", 0, QAP_ATOF_SYNTAX},
        {"1.2.3", 0, QAP_ATOF_SYNTAX},
        {"1e", 0, QAP_ATOF_SYNTAX},
        {"1e5x", 0, QAP_ATOF_SYNTAX},
        {"0x1A", 0, QAP_ATOF_SYNTAX},
        {"inf", 0, QAP_ATOF_SYNTAX},
        {"1 2", 0, QAP_ATOF_SYNTAX},
        {"1e75", 1e75, 0},
        {"1e76", 0, QAP_ATOF_RANGE},
        {"1e-79", 1e-79, 0},
        {"1e-80", 0, QAP_ATOF_RANGE},
        {"0.01e-78", 0, QAP_ATOF_RANGE},
        {"123e73", 1.23e75, 0},
        {"123e74", 0, QAP_ATOF_RANGE},
        {"1e99999999999999999999", 0, QAP_ATOF_RANGE},
        {"123456789012345678901234567890", 123456789012345678901234567890.0, 0},
        {"1234567890123456789012345678901", 0, QAP_ATOF_TOO_LONG},
        {"-", 0, QAP_ATOF_UNCONVERTED},
        {" ", 0, QAP_ATOF_UNCONVERTED},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        std::string text = r.text;
        int32_t err = 99;
        const double v = qapatof(text.data(), &err);
        EXPECT_EQ(err, r.err);
        EXPECT_DOUBLE_EQ(v, r.value);
    }
    // Line feeds become blanks and trailing blanks are cut, in place.
    char text[] = "\n7 \n";
    int32_t err = 0;
    EXPECT_EQ(qapatof(text, &err), 7.0);
    EXPECT_STREQ(text, " 7");
}

TEST(ScalarExtract, NormalTimestamp) {
    struct Row {
        const char *text;
        const char *result; // null: not a timestamp
    };
    const Row rows[] = {
        {"2005-6-5 1:2:3", "2005-06-05 01:02:03.000000"},
        {"2005-06-05-10.20.30.5", "2005-06-05-10.20.30.500000"},
        {"2005-12-31 23:59:59.123456", "2005-12-31 23:59:59.123456"},
        {"2005-13-45 99:99:99", "2005-13-45 99:99:99.000000"},
        {"2005-06-05 10.20:30", "2005-06-05 10.20:30.000000"},
        {"2005/06/05 10:20:30", nullptr},
        {"2005-06-05", nullptr},
        {"2005-06-05 10:20", nullptr},
        {"205-06-05 10:20:30", nullptr},
        {"2005-006-05 10:20:30", nullptr},
        {"2005-06-05T10:20:30", nullptr},
        {"2005-06-05 10:20:30.", nullptr},
        {"2005-06-05 10:20:30.1234567", nullptr},
        {"2005-06-05 10:20:30,5", nullptr},
        {"2005-06-05 10:20:30.5x", nullptr},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text);
        char out[27];
        memset(out, '0', 26);
        out[26] = '\0';
        const int32_t rc =
            normal_tstamp(nullptr, r.text, static_cast<int32_t>(strlen(r.text)), out);
        if (r.result == nullptr) {
            EXPECT_EQ(rc, -1);
        } else {
            EXPECT_EQ(rc, 0);
            EXPECT_STREQ(out, r.result);
        }
    }
}
