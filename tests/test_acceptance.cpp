// Black-box checks of the scalar extract routines as the host calls them (exact SQLSTATEs,
// message texts cut to the routine's 70 characters, limits, bytes of the results, the calls of
// one statement, database code pages), and of the tables and helpers whose results reach the
// host unchanged.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapExtractConv.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapResult.h"
#include "qapSgDoc.h"
#include "tarnCall.h"
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <vector>

using tarn::Input;
using tarn::Outcome;
using tarn::SqlType;
using testing_support::ScopedEnv;
using testing_support::TestCtx;

namespace {

// ---- Calling the routines -------------------------------------------------------------------

enum class Src { File, Varchar, Clob };
const Src ALL_SOURCES[] = {Src::File, Src::Varchar, Src::Clob};

const char *srcName(Src s) {
    return s == Src::File ? "file" : s == Src::Varchar ? "VARCHAR" : "CLOB";
}

// One result kind with its three members.
struct Member {
    const char *kind;
    SqlType out;
    int32_t outLength;
    bool dtd;
    void *file;
    void *varchar;
    void *clob;
};

#define ACC_MEMBER(name, type, length)                                                             \
    Member {                                                                                       \
#name, SqlType::type, length, false, reinterpret_cast < void *>(&qapExtract##name),        \
            reinterpret_cast < void *>(&qapExtract##name##FromVarchar),                            \
            reinterpret_cast < void *>(&qapExtract##name##FromClob)                                \
    }
#define ACC_MEMBER2(name, type, length)                                                            \
    Member {                                                                                       \
#name "2", SqlType::type, length, true, reinterpret_cast < void *>(&qapExtract##name##2),  \
            reinterpret_cast < void *>(&qapExtract##name##FromVarchar2),                           \
            reinterpret_cast < void *>(&qapExtract##name##FromClob2)                               \
    }

const std::vector<Member> &members() {
    static const std::vector<Member> all = {
        ACC_MEMBER(Varchar, Varchar, 4000), ACC_MEMBER2(Varchar, Varchar, 4000),
        ACC_MEMBER(Char, Char, 254),        ACC_MEMBER(Clob, Clob, 0),
        ACC_MEMBER2(Clob, Clob, 0),         ACC_MEMBER(Date, Date, 0),
        ACC_MEMBER(Time, Time, 0),          ACC_MEMBER(Timestamp, Timestamp, 0),
        ACC_MEMBER(Double, Double, 0),      ACC_MEMBER2(Double, Double, 0),
        ACC_MEMBER(Real, Real, 0),          ACC_MEMBER2(Real, Real, 0),
        ACC_MEMBER(Integer, Integer, 0),    ACC_MEMBER(Smallint, Smallint, 0),
    };
    return all;
}

const Member &member(const std::string &kind) {
    for (const Member &m : members())
        if (kind == m.kind) return m;
    throw std::invalid_argument("no member " + kind);
}

tarn::RoutineDesc descOf(const Member &m, Src s) {
    tarn::RoutineDesc d;
    d.name = std::string(m.kind) + "/" + srcName(s);
    d.entry = s == Src::File ? m.file : s == Src::Varchar ? m.varchar : m.clob;
    d.inputs.push_back(s == Src::Clob ? SqlType::Clob : SqlType::Varchar);
    if (m.dtd) d.inputs.push_back(SqlType::Clob);
    d.inputs.push_back(SqlType::Varchar);
    d.output = m.out;
    d.outputLength = m.outLength;
    return d;
}

// The document argument: the text itself, or the name of a new file holding it.
std::string docArg(Src s, const std::string &doc) {
    static int counter = 0;
    if (s != Src::File) return doc;
    return testing_support::writeFile("acc" + std::to_string(++counter) + ".xml", doc);
}

const char *const NO_DTD = "<!ENTITY unused 'u'>";

std::vector<Input> argsOf(const Member &m, const std::string &doc, const std::string &path,
                          const std::string &dtd = NO_DTD) {
    std::vector<Input> in{Input(doc)};
    if (m.dtd) in.emplace_back(dtd);
    in.emplace_back(path);
    return in;
}

// One statement with one call (first call, then the final call).
Outcome once(const std::string &kind, Src s, const std::string &doc, const std::string &path,
             int32_t db = 1208, const std::string &dtd = NO_DTD) {
    const Member &m = member(kind);
    tarn::ScalarStatement st(descOf(m, s), db);
    Outcome o = st.call(argsOf(m, docArg(s, doc), path, dtd));
    Outcome fin = st.finish();
    EXPECT_TRUE(fin.isNull());
    EXPECT_EQ(fin.sqlstate, "00000");
    return o;
}

QapScratch *scratchOf(tarn::ScalarStatement &st) {
    return reinterpret_cast<QapScratch *>(st.scratchData());
}

// A message as a routine receives it: at most 70 characters, the last one a newline.
std::string routineText(const std::string &full) {
    return full.size() < 70 ? full + "\n" : full.substr(0, 69) + "\n";
}

const std::string MSG_TOO_LONG =
    "QAPC013E  The results of the extract UDF exceed the size limit for the UDF return type.";
const std::string MSG_NOT_FOUND = "QAPD003W  Path not found.  Null is returned.";

std::string syntaxError(int position) {
    return "QAPD002E  A syntax error occurred near position " + std::to_string(position) +
           " in the search path.";
}

std::string lobError(int rc) {
    return "QAPC004E  Unable to operate the LOB Locator: rc=" + std::to_string(rc) + ".";
}

// Text in a code page, converted by ICU from UTF-8 (platform 0: the CCSID naming).
std::string inCodePage(int32_t ccsid, const std::string &utf8) {
    UErrorCode st = U_ZERO_ERROR;
    std::vector<UChar> u(utf8.size() + 1);
    int32_t n = 0;
    u_strFromUTF8(u.data(), static_cast<int32_t>(u.size()), &n, utf8.c_str(), -1, &st);
    UConverter *cnv = ucnv_openCCSID(ccsid, static_cast<UConverterPlatform>(0), &st);
    std::string out(4 * utf8.size() + 4, '\0');
    const int32_t len =
        ucnv_fromUChars(cnv, &out[0], static_cast<int32_t>(out.size()), u.data(), n, &st);
    ucnv_close(cnv);
    EXPECT_TRUE(U_SUCCESS(st)) << u_errorName(st);
    out.resize(static_cast<size_t>(len));
    return out;
}

std::string repeat(const std::string &s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i)
        r += s;
    return r;
}

// ---- A reference parse for the parser's own diagnostics ------------------------------------

class Thrower : public XERCES_CPP_NAMESPACE::DefaultHandler {
public:
    void warning(const XERCES_CPP_NAMESPACE::SAXParseException &e) override { throw e; }
    void error(const XERCES_CPP_NAMESPACE::SAXParseException &e) override { throw e; }
    void fatalError(const XERCES_CPP_NAMESPACE::SAXParseException &e) override { throw e; }
};

struct Diagnostic {
    bool found = false;
    long line = 0;
    long column = 0;
    std::string text;
};

// The first diagnostic of a non-validating parse of the document, as the parser words it.
Diagnostic referenceDiagnostic(const std::string &doc) {
    using namespace XERCES_CPP_NAMESPACE;
    Diagnostic d;
    std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader());
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, false);
    reader->setFeature(XMLUni::fgSAX2CoreNameSpacePrefixes, false);
    reader->setFeature(XMLUni::fgSAX2CoreValidation, false);
    reader->setFeature(XMLUni::fgXercesSchema, false);
    Thrower h;
    reader->setContentHandler(&h);
    reader->setErrorHandler(&h);
    MemBufInputSource src(reinterpret_cast<const XMLByte *>(doc.data()), doc.size(), "reference");
    try {
        reader->parse(src);
    } catch (const SAXParseException &e) {
        d.found = true;
        d.line = static_cast<long>(e.getLineNumber());
        d.column = static_cast<long>(e.getColumnNumber());
        std::string utf8(4 * XMLString::stringLen(e.getMessage()) + 4, '\0');
        int32_t n = 0;
        UErrorCode st = U_ZERO_ERROR;
        u_strToUTF8(&utf8[0], static_cast<int32_t>(utf8.size()), &n, e.getMessage(), -1, &st);
        utf8.resize(static_cast<size_t>(n));
        d.text = utf8;
    }
    return d;
}

class Accept : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    void TearDown() override {
        tarnLobFailAfter(-1, 0);
        EXPECT_TRUE(testing_support::listDir(testing_support::tempDir()).empty());
    }
};

} // namespace

// ---- Message texts, byte for byte ----------------------------------------------------------

TEST_F(Accept, MessageTextsReachTheHostCutAndEndedByANewline) {
    const std::string two = "<a><b>1</b><b>2</b></a>";
    // matches nothing (no b carries x); the message holds no path
    const std::string longPath = "/a/b[@x=\"" + std::string(70, 'v') + "\"]";
    const std::string longMatch = "/a/b" + repeat("[]", 40);
    struct Row {
        const char *kind;
        std::string doc;
        std::string path;
        const char *state;
        std::string full; // the message before the cut
    };
    const Row rows[] = {
        {"Varchar", two, "/a/b", "38X08", "QAPD001E  /a/b occurs multiple times."},
        {"Double", two, "//b", "38X08", "QAPD001E  //b occurs multiple times."},
        {"Clob", two, "/a/*", "38X08", "QAPD001E  /a/* occurs multiple times."},
        {"Char", two, longMatch, "38X08", "QAPD001E  " + longMatch + " occurs multiple times."},
        {"Varchar", two, "/a/b@c", "38X09", syntaxError(3)},
        {"Varchar", two, "/a/bb/cc/dd/ee/f*", "38X09", syntaxError(16)},
        {"Integer", two, "a/b", "38X09", syntaxError(1)},
        {"Clob", two, "", "38X09", syntaxError(1)},
        {"Varchar", two, "/@a", "38X09", syntaxError(1)},
        {"Varchar", two, "/a/b*", "38X09", syntaxError(4)},
        {"Varchar", two, "/a/b[@x='1']/c", "38X09", syntaxError(7)},
        {"Varchar", two, "/a/b[@x]/c", "38X09", syntaxError(4)},
        {"Varchar", two, "/a/b[@x=\"1//2\"]/c", "38X09", syntaxError(12)},
        // positions count UTF-16 units, not bytes
        {"Varchar", two, "/\xC3\xA9\xC3\xA9/b*", "38X09", syntaxError(5)},
        {"Varchar", two, "/a[@x=\"\xF0\x9F\x98\x80\"]/b*", "38X09", syntaxError(13)},
        {"Varchar", two, " /a", "38X09", syntaxError(1)},
        {"Varchar", two, "/a ", "38X09", syntaxError(2)},
        {"Varchar", two, "/a/@b/@c", "38X09", syntaxError(3)},
        {"Varchar", two, "/a/b[@x=\"a@b\"]", "38X09", syntaxError(9)},
        {"Varchar", "<a><b c='1' d='2'/></a>", "/a/b/@*", "38X08",
         "QAPD001E  /a/b/@* occurs multiple times."},
        {"Varchar", "<a><b k='%d%%'/><b k='%d%%'/></a>", "/a/*[@k=\"%d%%\"]", "38X08",
         "QAPD001E  /a/*[@k=\"%d%%\"] occurs multiple times."},
        // the cut counts bytes: here it falls inside a two-byte character
        {"Varchar", "<a>" + repeat("<b" + repeat("\xC3\xA9", 40) + "/>", 2) + "</a>",
         "/a/b" + repeat("\xC3\xA9", 40), "38X08",
         "QAPD001E  /a/b" + repeat("\xC3\xA9", 40) + " occurs multiple times."},
        {"Varchar", two, "/a/zz", "01HX0", MSG_NOT_FOUND},
        {"Timestamp", two, longPath, "01HX0", MSG_NOT_FOUND},
        {"Char", "<a>" + std::string(254, 'c') + "</a>", "/a", "38X39", MSG_TOO_LONG},
        {"Timestamp", "<a>2005/06/05 10:20:30</a>", "/a", "38X29",
         "QAPQ061E  The format of the string is invalid."},
    };
    for (const Row &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(r.kind) + " " + r.path + " from " + srcName(s));
            Outcome o = once(r.kind, s, r.doc, r.path);
            EXPECT_EQ(o.sqlstate, r.state);
            EXPECT_EQ(o.message, routineText(r.full));
            EXPECT_LE(o.message.size(), 70u);
            EXPECT_TRUE(o.isNull());
        }
}

TEST_F(Accept, MissingFileIsNotFound) {
    for (const char *kind : {"Varchar", "Clob2", "Double", "Timestamp"}) {
        SCOPED_TRACE(kind);
        const Member &m = member(kind);
        tarn::ScalarStatement st(descOf(m, Src::File));
        Outcome o = st.call(argsOf(m, testing_support::scratchDir() + "/absent.xml", "/a"));
        EXPECT_EQ(o.sqlstate, "38X01");
        EXPECT_EQ(o.message, "QAPC001E  The specified file is not found.\n");
        EXPECT_TRUE(o.isNull());
        EXPECT_EQ(scratchOf(st)->ctx, nullptr); // an error on the first call
    }
}

// A malformed document: QAPQ047E with the parser's line, column and text, cut to 70.
TEST_F(Accept, ParserErrorsCarryLineColumnAndText) {
    const char *const docs[] = {
        "<a><b>x</a>",        "<a>\n<b>\n</c></a>", "<a>\n  <b x='1' x='2'/></a>",
        "<a>&undefined;</a>", "<a>x</a><b/>",       "<a><b>x</b>",
        "\n\n\n<a <b/></a>",  "<a>\xC3</a>",        "",
    };
    for (const char *doc : docs) {
        const Diagnostic ref = referenceDiagnostic(doc);
        ASSERT_TRUE(ref.found) << doc;
        const std::string expected =
            routineText("QAPQ047E  Parser error on line " + std::to_string(ref.line) + " column " +
                        std::to_string(ref.column) + ": " + ref.text + " ");
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(doc) + " from " + srcName(s));
            Outcome o = once("Varchar", s, doc, "/a");
            EXPECT_EQ(o.sqlstate, "38X13");
            EXPECT_EQ(o.message, expected);
            EXPECT_TRUE(o.isNull());
        }
    }
}

// Every diagnostic ends the parse, a warning too.
TEST_F(Accept, ParserWarningEndsTheExtraction) {
    const std::string doc = "<!DOCTYPE a [<!ATTLIST a c CDATA \"1\"><!ATTLIST a c CDATA \"2\">]>"
                            "<a>x</a>";
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        Outcome o = once("Varchar", s, doc, "/a");
        EXPECT_EQ(o.sqlstate, "38X13");
        EXPECT_EQ(o.message.rfind("QAPQ047E  Parser error on line 1 column ", 0), 0u) << o.message;
        EXPECT_EQ(o.message.back(), '\n');
    }
}

// Failures of the host's locator services carry the host's code.
TEST_F(Accept, LocatorFailuresCarryTheHostCode) {
    struct Row {
        const char *kind;
        Src src;
        int32_t after; // successful service calls before the one that fails
        int32_t code;
    };
    const Row rows[] = {
        {"Varchar", Src::Clob, 0, -1002},    // document length
        {"Varchar", Src::Clob, 2, -1003},    // document read
        {"Clob", Src::Varchar, 0, -1006},    // result locator creation
        {"Clob", Src::Varchar, 1, -1006},    // append to the result
        {"Clob", Src::File, 1, -1005},       // append to the result
        {"Double2", Src::Varchar, 0, -1002}, // DTD length
        {"Double2", Src::File, 1, -1003},    // DTD read
        {"Clob2", Src::Clob, 1, -1003},      // DTD read
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.kind) + " from " + srcName(r.src) + " after " +
                     std::to_string(r.after));
        const Member &m = member(r.kind);
        tarn::ScalarStatement st(descOf(m, r.src));
        const std::vector<Input> args = argsOf(m, docArg(r.src, "<a><b>1.5</b></a>"), "/a/b");
        tarnLobFailAfter(r.after, r.code);
        Outcome o = st.call(args);
        tarnLobFailAfter(-1, 0);
        EXPECT_EQ(o.sqlstate, "38X04");
        EXPECT_EQ(o.message, routineText(lobError(r.code)));
        EXPECT_TRUE(o.isNull());
        EXPECT_EQ(scratchOf(st)->ctx, nullptr);
        EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
        EXPECT_EQ(st.finish().sqlstate, "00000");
    }
}

// The extract routines do not read the input null indicators: a NULL VARCHAR is empty text, a
// NULL CLOB a locator the host does not know.
TEST_F(Accept, NullInputsAreTakenAsTheyCome) {
    {
        Outcome o = [] {
            const Member &m = member("Varchar");
            tarn::ScalarStatement st(descOf(m, Src::Varchar));
            return st.call({Input("<a>x</a>"), Input::null()});
        }();
        EXPECT_EQ(o.sqlstate, "38X09");
        EXPECT_EQ(o.message, routineText(syntaxError(1)));
    }
    {
        const Member &m = member("Varchar");
        tarn::ScalarStatement st(descOf(m, Src::Varchar));
        Outcome o = st.call({Input::null(), Input("/a")});
        EXPECT_EQ(o.sqlstate, "38X13");
        EXPECT_EQ(o.message.rfind("QAPQ047E  Parser error on line ", 0), 0u) << o.message;
    }
    {
        const Member &m = member("Integer");
        tarn::ScalarStatement st(descOf(m, Src::Clob));
        Outcome o = st.call({Input::null(), Input("/a")});
        EXPECT_EQ(o.sqlstate, "38X04");
        EXPECT_EQ(o.message, routineText(lobError(TARN_LOB_UNKNOWN_LOCATOR)));
    }
    {
        const Member &m = member("Real2");
        tarn::ScalarStatement st(descOf(m, Src::Varchar));
        Outcome o = st.call({Input("<a>1</a>"), Input::null(), Input("/a")});
        EXPECT_EQ(o.sqlstate, "38X04");
        EXPECT_EQ(o.message, routineText(lobError(TARN_LOB_UNKNOWN_LOCATOR)));
        EXPECT_EQ(scratchOf(st)->ctx, nullptr);
    }
}

// ---- Limits ---------------------------------------------------------------------------------

// A value must be shorter than the member's limit in database bytes: L - 1 bytes are returned,
// L bytes give "38X39" with message 85.
TEST_F(Accept, EachMemberRefusesAValueOfItsLimit) {
    struct Row {
        const char *kind;
        std::string fits;    // the longest value returned
        std::string refused; // one byte more
    };
    const std::string stamp = "2005-12-31 23:59:59.123456"; // 26 characters
    const Row rows[] = {
        {"Varchar", std::string(3999, 'v'), std::string(4000, 'v')},
        {"Varchar2", std::string(3999, 'v'), std::string(4000, 'v')},
        {"Varchar", repeat("\xE2\x82\xAC", 1333), repeat("\xE2\x82\xAC", 1333) + "x"},
        {"Char", std::string(253, 'c'), std::string(254, 'c')},
        {"Char", repeat("\xC3\xA9", 126) + "c", repeat("\xC3\xA9", 127)},
        {"Date", "2005-06-05", "2005-06-05x"},
        {"Date", "abcdefghij", "abcdefghijk"},
        {"Time", "10:20:30", "10:20:30x"},
        {"Timestamp", stamp, stamp + "7"},
    };
    for (const Row &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(r.kind) + " " + std::to_string(r.fits.size()) + " from " +
                         srcName(s));
            Outcome ok = once(r.kind, s, "<a>" + r.fits + "</a>", "/a");
            EXPECT_EQ(ok.sqlstate, "00000") << ok.message;
            EXPECT_EQ(ok.message, "");
            EXPECT_EQ(ok.nullInd, 0);
            EXPECT_EQ(ok.text, r.fits);

            Outcome over = once(r.kind, s, "<a>" + r.refused + "</a>", "/a");
            EXPECT_EQ(over.sqlstate, "38X39");
            EXPECT_EQ(over.message, routineText(MSG_TOO_LONG));
            EXPECT_TRUE(over.isNull());
            EXPECT_EQ(over.text, "");
        }
}

// Typed members: 255 bytes of text from a file or VARCHAR (the 256-byte conversion buffer),
// 253 from a CLOB (limit 254); one byte more is refused with "38X39" and message 85.
TEST_F(Accept, TypedMembersRefuseTextBeyondTheirBuffer) {
    const char *const kinds[] = {"Double", "Double2", "Real", "Real2", "Integer", "Smallint"};
    for (const char *kind : kinds)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(kind) + " from " + srcName(s));
            const size_t fits = s == Src::Clob ? 253 : 255;
            const bool number = kind[0] == 'I' || kind[0] == 'S'; // atoi reads "7" and stops
            const std::string ok = "7" + std::string(fits - 1, ' ');
            Outcome a = once(kind, s, "<a>" + ok + "x</a>", "/a");
            // one byte more than fits: the "x" makes it fits + 1 bytes
            EXPECT_EQ(a.sqlstate, "38X39");
            EXPECT_EQ(a.message, routineText(MSG_TOO_LONG));
            EXPECT_TRUE(a.isNull());

            Outcome b = once(kind, s, "<a>" + ok + "</a>", "/a");
            EXPECT_EQ(b.sqlstate, "00000");
            EXPECT_EQ(b.message, "");
            // longer than 30 characters: no number for DOUBLE and REAL, atoi reads 7
            EXPECT_EQ(b.isNull(), !number);
            if (number) {
                EXPECT_EQ(kind[0] == 'I' ? b.integer : b.smallint, 7);
            }
        }
}

// The limit counts bytes of the database code page.
TEST_F(Accept, LimitCountsDatabaseBytes) {
    const std::string e3999 = std::string(3999, '\xE9');
    for (Src s : {Src::Varchar, Src::Clob}) {
        SCOPED_TRACE(srcName(s));
        Outcome latin = once("Varchar", s, "<a>" + e3999 + "</a>", "/a", 819);
        EXPECT_EQ(latin.sqlstate, "00000") << latin.message;
        EXPECT_EQ(latin.text, e3999);
        Outcome utf8 = once("Varchar", s, "<a>" + repeat("\xC3\xA9", 2000) + "</a>", "/a");
        EXPECT_EQ(utf8.sqlstate, "38X39");
    }
}

// ---- Typed results ----------------------------------------------------------------------------

TEST_F(Accept, DoubleAndRealFromText) {
    struct Row {
        std::string text;
        bool isNull;
        double value;
    };
    const Row rows[] = {
        {" 12.5 ", false, 12.5},
        {"\n12.5\n", false, 12.5},
        {"+0012.50", false, 12.5},
        {"1.5e3", false, 1500.0},
        {"1.5E+3", false, 1500.0},
        {"-.5", false, -0.5},
        {"5.", false, 5.0},
        {"0.000e7", false, 0.0},
        {"0e999", false, 0.0},
        {"e5", false, 0.0},
        {".e1", false, 0.0},
        {"1e75", false, 1e75},
        {"1e-79", false, 1e-79},
        {"1000e72", false, 1e75},
        {"0.001e-76", false, 1e-79},
        {"123456789012345678901234567890", false, 123456789012345678901234567890.0},
        {"12.5" + std::string(26, ' '), false, 12.5}, // 30 characters
        {"000.00012e-75", false, 1.2e-79},
        {"0012.5e74", false, 1.25e75},
        {"0.5e76", false, 5e75},
        {"0.05e77", false, 5e75},
        {"99e74", false, 9.9e75},
        {"1e+5", false, 1e5},
        {"0.0e-100", false, 0.0},
        {"000.00012e-76", true, 0},
        {"0.5e77", true, 0},
        // only blanks and line feeds count as white space
        {"\t12.5", true, 0},
        {"12.5\t", true, 0},
        {"- 5", true, 0},
        {"-", true, 0},
        {"1e5 5", true, 0},
        {"1e76", true, 0},
        {"1e-80", true, 0},
        {"1000e73", true, 0},
        {"0.0001e-76", true, 0},
        {"1234567890123456789012345678901", true, 0},
        {"12.5" + std::string(27, ' '), true, 0}, // 31 characters before the blanks are cut
        {"12abc", true, 0},
        {"1,5", true, 0},
        {"1e", true, 0},
        {"1e5x", true, 0},
        {"--1", true, 0},
        {"1 2", true, 0},
        {"0x10", true, 0},
        {"inf", true, 0},
        {".", true, 0},
    };
    for (const Row &r : rows)
        for (const char *kind : {"Double", "Double2", "Real", "Real2"})
            for (Src s : ALL_SOURCES) {
                SCOPED_TRACE("'" + r.text + "' " + kind + " from " + srcName(s));
                Outcome o = once(kind, s, "<a>" + r.text + "</a>", "/a");
                EXPECT_EQ(o.sqlstate, "00000");
                EXPECT_EQ(o.message, "");
                EXPECT_EQ(o.isNull(), r.isNull);
                if (kind[0] == 'D')
                    EXPECT_DOUBLE_EQ(o.dbl, r.isNull ? 0.0 : r.value);
                else
                    EXPECT_FLOAT_EQ(o.real, r.isNull ? 0.0f : static_cast<float>(r.value));
            }
}

TEST_F(Accept, RealIsTheDoubleNarrowed) {
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        Outcome big = once("Real", s, "<a>1e75</a>", "/a");
        EXPECT_EQ(big.nullInd, 0);
        EXPECT_TRUE(std::isinf(big.real)) << big.real;
        Outcome tiny = once("Real2", s, "<a>1e-60</a>", "/a");
        EXPECT_EQ(tiny.nullInd, 0);
        EXPECT_EQ(tiny.real, 0.0f);
        EXPECT_EQ(once("Real", s, "<a>0.1</a>", "/a").real, 0.1f);
    }
}

TEST_F(Accept, IntegerAndSmallintLikeAtoi) {
    struct Row {
        const char *text;
        int32_t integer;
        int16_t smallint;
    };
    const Row rows[] = {
        {"42 abc", 42, 42},
        {"abc", 0, 0},
        {"-17", -17, -17},
        {" +8", 8, 8},
        {"\t\n 7", 7, 7},
        {"12.9", 12, 12},
        {"1e3", 1, 1},
        {"0x1F", 0, 0},
        {"2147483647", INT32_MAX, -1},
        {"-2147483648", INT32_MIN, 0},
        {"70000", 70000, 4464},
        {"-32769", -32769, 32767},
        {"65535", 65535, -1},
    };
    for (const Row &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string("'") + r.text + "' from " + srcName(s));
            Outcome i = once("Integer", s, std::string("<a>") + r.text + "</a>", "/a");
            EXPECT_EQ(i.sqlstate, "00000");
            EXPECT_EQ(i.nullInd, 0);
            EXPECT_EQ(i.integer, r.integer);
            Outcome h = once("Smallint", s, std::string("<a>") + r.text + "</a>", "/a");
            EXPECT_EQ(h.sqlstate, "00000");
            EXPECT_EQ(h.nullInd, 0);
            EXPECT_EQ(h.smallint, r.smallint);
        }
}

TEST_F(Accept, DateTimeAndTimestampText) {
    struct Row {
        const char *kind;
        const char *text;
        const char *state;
        const char *result; // null: NULL
    };
    const Row rows[] = {
        {"Timestamp", "2005-6-5 1:2:3", "00000", "2005-06-05 01:02:03.000000"},
        {"Timestamp", "2005-06-05-1.2.3.123456", "00000", "2005-06-05-01.02.03.123456"},
        {"Timestamp", "2005-6-5-1.2.3.1", "00000", "2005-06-05-01.02.03.100000"},
        {"Timestamp", "2005-06-05 10.20:30.000001", "00000", "2005-06-05 10.20:30.000001"},
        {"Timestamp", "0000-99-99 99:99:99", "00000", "0000-99-99 99:99:99.000000"},
        {"Timestamp", "2005-06-05 10:20:30.", "38X29", nullptr},
        {"Timestamp", " 2005-06-05 10:20:30", "38X29", nullptr},
        {"Timestamp", "2005-06-05 10:20:30 ", "38X29", nullptr},
        {"Timestamp", "20050-6-5 1:2:3", "38X29", nullptr},
        {"Timestamp", "2005-06-05", "38X29", nullptr},
        {"Timestamp", "2005-06-05 10:20:30.1234567", "38X39", nullptr},
        {"Timestamp", "2005-6-5 1:2:3.1234567", "38X29", nullptr},
        {"Timestamp", "2005-06-05T10:20:30", "38X29", nullptr},
        {"Timestamp", "2005-06-05 10-20-30", "38X29", nullptr},
        {"Timestamp", "2005--5 10:20:30", "38X29", nullptr},
        {"Timestamp", "2005-06-05 10:20:30.12a", "38X29", nullptr},
        {"Timestamp", "20a5-06-05 10:20:30", "38X29", nullptr},
        {"Date", "2005-6-5", "00000", "2005-6-5"},
        {"Date", "not a date", "00000", "not a date"},
        {"Time", "1:2:3", "00000", "1:2:3"},
        {"Time", "  noon  ", "00000", "  noon  "},
    };
    for (const Row &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(r.kind) + " '" + r.text + "' from " + srcName(s));
            Outcome o = once(r.kind, s, std::string("<a>") + r.text + "</a>", "/a");
            EXPECT_EQ(o.sqlstate, r.state);
            EXPECT_EQ(o.isNull(), r.result == nullptr);
            EXPECT_EQ(o.text, r.result == nullptr ? "" : r.result);
            if (std::string(r.state) == "38X29") {
                EXPECT_EQ(o.message, "QAPQ061E  The format of the string is invalid.\n");
            }
        }
}

// ---- The calls of one statement --------------------------------------------------------------

// Whatever the member, the final call leaves the output empty and NULL and touches neither the
// SQLSTATE nor the message; NULL results leave the output empty too.
TEST_F(Accept, FinalCallAndNullResultsLeaveTheOutputEmpty) {
    const std::string doc = "<a><v>10:20</v><ts>2005-6-5 1:2:3</ts><e/></a>";
    for (const Member &m : members())
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(m.kind) + " from " + srcName(s));
            tarn::ScalarStatement st(descOf(m, s));
            const std::string arg = docArg(s, doc);
            Outcome value = st.call(argsOf(m, arg, m.out == SqlType::Timestamp ? "/a/ts" : "/a/v"));
            EXPECT_TRUE(value.ok()) << value.message;
            for (const char *path : {"/a/none", "/a/e", "/a/*"}) {
                Outcome null = st.call(argsOf(m, arg, path));
                if (m.out == SqlType::Clob && std::string(path) == "/a/e") continue;
                EXPECT_TRUE(null.isNull()) << path;
                EXPECT_EQ(null.text, "") << path;
                EXPECT_EQ(null.dbl, 0.0) << path;
                EXPECT_EQ(null.real, 0.0f) << path;
                EXPECT_EQ(null.integer, 0) << path;
                EXPECT_EQ(null.smallint, 0) << path;
                EXPECT_EQ(null.locator, 0u) << path;
            }
            ASSERT_NE(scratchOf(st)->ctx, nullptr);
            Outcome fin = st.finish();
            EXPECT_EQ(fin.sqlstate, "00000");
            EXPECT_EQ(fin.message, "");
            EXPECT_EQ(fin.nullInd, -1);
            EXPECT_EQ(fin.text, "");
            EXPECT_EQ(fin.dbl, 0.0);
            EXPECT_EQ(fin.real, 0.0f);
            EXPECT_EQ(fin.integer, 0);
            EXPECT_EQ(fin.smallint, 0);
            EXPECT_EQ(fin.locator, 0u);
            EXPECT_EQ(scratchOf(st)->ctx, nullptr);
            EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
        }
}

// The warning "01HX0" keeps the context; an error on the first call drops it, and the calls
// after it return NULL without parsing.
TEST_F(Accept, ContextAcrossTheCallsOfAStatement) {
    for (const Member &m : members())
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(m.kind) + " from " + srcName(s));
            const std::string good = docArg(s, "<a><v>1</v><ts>2005-6-5 1:2:3</ts></a>");
            const char *path = m.out == SqlType::Timestamp ? "/a/ts" : "/a/v";
            {
                tarn::ScalarStatement st(descOf(m, s));
                EXPECT_EQ(st.call(argsOf(m, good, "/a/x")).sqlstate, "01HX0");
                ASSERT_NE(scratchOf(st)->ctx, nullptr);
                EXPECT_EQ(m.dtd, scratchOf(st)->dtdText != nullptr);
                Outcome next = st.call(argsOf(m, good, path));
                EXPECT_EQ(next.sqlstate, "00000") << next.message;
                EXPECT_EQ(next.nullInd, 0);
            }
            {
                tarn::ScalarStatement st(descOf(m, s));
                Outcome first = st.call(argsOf(m, good, "/a/v*"));
                EXPECT_EQ(first.sqlstate, "38X09");
                EXPECT_EQ(scratchOf(st)->ctx, nullptr);
                EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
                Outcome next = st.call(argsOf(m, docArg(s, "<a>"), "/a/v"));
                EXPECT_EQ(next.sqlstate, "00000");
                EXPECT_EQ(next.message, "");
                EXPECT_TRUE(next.isNull());
                Outcome fin = st.finish();
                EXPECT_EQ(fin.sqlstate, "00000");
                EXPECT_TRUE(fin.isNull());
            }
        }
}

// Errors the typed members set after the extraction end the first call like any other.
TEST_F(Accept, TypedFailuresOnTheFirstCallDropTheContext) {
    struct Row {
        const char *kind;
        std::string doc;
        const char *state;
    };
    const Row rows[] = {
        {"Double", "<a>" + std::string(300, '1') + "</a>", "38X39"},
        {"Real2", "<a>" + std::string(300, '1') + "</a>", "38X39"},
        {"Integer", "<a>" + std::string(300, '1') + "</a>", "38X39"},
        {"Smallint", "<a>" + std::string(300, '1') + "</a>", "38X39"},
        {"Timestamp", "<a>2005-06-05</a>", "38X29"},
        {"Double2", "<a>12abc</a>", "00000"},
    };
    for (const Row &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(r.kind) + " from " + srcName(s));
            const Member &m = member(r.kind);
            tarn::ScalarStatement st(descOf(m, s));
            Outcome o = st.call(argsOf(m, docArg(s, r.doc), "/a"));
            EXPECT_EQ(o.sqlstate, r.state);
            EXPECT_TRUE(o.isNull());
            const bool kept = std::string(r.state) == "00000";
            EXPECT_EQ(scratchOf(st)->ctx != nullptr, kept);
            EXPECT_EQ(scratchOf(st)->dtdText != nullptr, kept && m.dtd);
        }
}

// The "2" variants read their DTD locator on the first call only: a normal call makes no
// locator call for it, so a service failure armed for the first call beyond the document's own
// transfers never hits.
TEST_F(Accept, DtdIsReadOnlyOnTheFirstCall) {
    const std::string doc = "<!DOCTYPE a SYSTEM \"a.dtd\"><a><v>&e;</v></a>";
    const std::string dtd = "<!ENTITY e \"1.5\">";
    for (const Member &m : members()) {
        if (!m.dtd) continue;
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(m.kind) + " from " + srcName(s));
            // Service calls of a normal call: the document's length twice and one read for a
            // CLOB, the creation and one append for a CLOB result.
            const int32_t calls = (s == Src::Clob ? 3 : 0) + (m.out == SqlType::Clob ? 2 : 0);
            tarn::ScalarStatement st(descOf(m, s));
            const std::string arg = docArg(s, doc);
            Outcome first = st.call(argsOf(m, arg, "/a/v", dtd));
            EXPECT_EQ(first.sqlstate, "00000") << first.message;
            tarnLobFailAfter(calls, -1001);
            Outcome second = st.call(argsOf(m, arg, "/a/v", "<!ENTITY e \"2\">"));
            tarnLobFailAfter(-1, 0);
            EXPECT_EQ(second.sqlstate, "00000") << second.message;
            EXPECT_EQ(second.nullInd, 0);
            if (m.out == SqlType::Clob) {
                EXPECT_EQ(second.text, "<v>1.5</v>");
            } else if (m.out == SqlType::Varchar) {
                EXPECT_EQ(second.text, "1.5");
            } else if (m.out == SqlType::Double) {
                EXPECT_EQ(second.dbl, 1.5);
            } else {
                EXPECT_EQ(second.real, 1.5f);
            }
        }
    }
}

// TARNQAP_MIN_TMPFILE_SIZE raises the size up to which a CLOB is parsed from memory.
TEST_F(Accept, FileThresholdFromTheEnvironment) {
    const std::string doc = "<a><v>x</v><p>" + std::string(200000, 'p') + "</p></a>";
    for (const char *setting : std::vector<const char *>{"262144", "1000", nullptr}) {
        SCOPED_TRACE(setting == nullptr ? "unset" : setting);
        ScopedEnv env("TARNQAP_MIN_TMPFILE_SIZE", setting);
        const Member &m = member("Char");
        tarn::ScalarStatement st(descOf(m, Src::Clob));
        Outcome o = st.call(argsOf(m, doc, "/a/v"));
        EXPECT_EQ(o.text, "x");
        EXPECT_EQ(scratchOf(st)->docInDbCodePage, 1u);
        EXPECT_EQ(scratchOf(st)->docLoc,
                  setting != nullptr && std::string(setting) == "262144" ? QAP_MEM : QAP_FILE);
        ASSERT_NE(scratchOf(st)->ctx, nullptr);
        EXPECT_EQ(scratchOf(st)->ctx->fileThreshold,
                  setting != nullptr && std::string(setting) == "262144" ? 262144 : 131072);
    }
}

// The document flags the entry points leave in the scratchpad.
TEST_F(Accept, DocumentFlagsInTheScratchpad) {
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        const Member &m = member("Varchar");
        tarn::ScalarStatement st(descOf(m, s));
        EXPECT_EQ(st.call(argsOf(m, docArg(s, "<a>x</a>"), "/a")).text, "x");
        EXPECT_EQ(scratchOf(st)->docInDbCodePage, s == Src::File ? 0u : 1u);
        EXPECT_EQ(scratchOf(st)->docLoc, s == Src::File ? QAP_FILE : QAP_MEM);
    }
}

// A context that cannot be initialised fails the first call without a message; the block stays
// for the final call.
TEST_F(Accept, UnknownDatabaseCodePageFailsTheFirstCall) {
    const Member &m = member("Varchar");
    tarn::ScalarStatement st(descOf(m, Src::Varchar), 12345);
    Outcome o = st.call(argsOf(m, "<a>x</a>", "/a"));
    EXPECT_EQ(o.sqlstate, "38X38");
    EXPECT_EQ(o.message, "");
    EXPECT_TRUE(o.isNull());
    EXPECT_NE(scratchOf(st)->ctx, nullptr); // the bare block, for the final call
    Outcome next = st.call(argsOf(m, "<a>x</a>", "/a"));
    EXPECT_TRUE(next.isNull());
    EXPECT_EQ(st.finish().sqlstate, "00000");
    EXPECT_EQ(scratchOf(st)->ctx, nullptr);
}

// A start-up failure of the host's XML library fails the first call; the bare block stays for
// the final call. A code the library does not know lets the routine work.
TEST_F(Accept, HostStartUpFailure) {
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        const Member &m = member("Clob2");
        {
            tarnXmlInitSimulate(-2, u"no parser");
            tarn::ScalarStatement st(descOf(m, s));
            Outcome o = st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a"));
            tarnXmlInitSimulate(0, nullptr);
            EXPECT_EQ(o.sqlstate, "38X13");
            EXPECT_EQ(o.message, "QAPQ047E  Parser error on line 0 column 0: no parser \n");
            EXPECT_TRUE(o.isNull());
            EXPECT_EQ(o.locator, 0u);
            EXPECT_NE(scratchOf(st)->ctx, nullptr);
            EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
            EXPECT_TRUE(st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a")).isNull());
            EXPECT_EQ(st.finish().sqlstate, "00000");
            EXPECT_EQ(scratchOf(st)->ctx, nullptr);
        }
        {
            tarnXmlInitSimulate(-7, u"unknown");
            tarn::ScalarStatement st(descOf(m, s));
            Outcome o = st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a"));
            tarnXmlInitSimulate(0, nullptr);
            EXPECT_EQ(o.sqlstate, "00000") << o.message;
            EXPECT_EQ(o.text, "<a>1</a>");
        }
    }
}

// A trace file that cannot be opened fails the first call with the trace set-up's status.
TEST_F(Accept, UnopenableTraceFileFailsTheFirstCall) {
    ScopedEnv instance("TARNINSTANCE", "accept");
    const std::string control = testing_support::tracePathDir() + "/qapaccept.ctl";
    testing_support::writeFile(control, "/nonexistent/dir/accept.trc");
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        const Member &m = member("Double2");
        tarn::ScalarStatement st(descOf(m, s));
        Outcome o = st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a"));
        EXPECT_EQ(o.sqlstate, "38X03");
        EXPECT_EQ(o.message, routineText("QAPQ070E  Cannot open trace file "
                                         "/nonexistent/dir/accept.trc for output."));
        EXPECT_TRUE(o.isNull());
        EXPECT_EQ(o.dbl, 0.0);
        EXPECT_EQ(st.finish().sqlstate, "00000");
        EXPECT_EQ(scratchOf(st)->ctx, nullptr);
    }
    remove(control.c_str());
}

// ---- Tagged CLOB results ---------------------------------------------------------------------

TEST_F(Accept, TaggedFragmentsByteForByte) {
    struct Row {
        std::string doc;
        const char *path;
        const char *state;
        std::string fragment;
    };
    const std::string nested = "<r><a>1<a>2</a>3</a><b q='x'/></r>";
    const std::string whole = "<r><a>1<a>2</a>3</a><b q=\"x\"></b></r>";
    const Row rows[] = {
        // text and attribute values escaped, attributes in document order, double quotes
        {"<r><x a='it&apos;s' b=\"q&quot;\" c='&lt;&gt;&amp;'>t &amp; &lt;x&gt; \"q\" 'a'</x></r>",
         "/r/x", "00000",
         "<x a=\"it&apos;s\" b=\"q&quot;\" c=\"&lt;&gt;&amp;\">t &amp; &lt;x&gt; &quot;q&quot; "
         "&apos;a&apos;</x>"},
        {"<r><x z='1'  y = \"2\"\n/></r>", "/r/x", "00000", "<x z=\"1\" y=\"2\"></x>"},
        // a match inside a match is part of the outer fragment
        {nested, "//a", "00000", "<a>1<a>2</a>3</a>"},
        {nested, "/r/a", "00000", "<a>1<a>2</a>3</a>"},
        // the root alone, "//" and "//@q" all give the whole root element
        {nested, "/", "00000", whole},
        {nested, "//", "00000", whole},
        {nested, "//@q", "00000", whole},
        {nested, "/r/b/@q", "00000", "<b q=\"x\"></b>"},
        {nested, "/r/a/@q", "00000", "<a>1<a>2</a>3</a>"},
        {"<r><b c='1'>x</b><b>y</b></r>", "/r/b/@c", "38X08", ""},
        // CDATA text is escaped, comments and processing instructions are dropped
        {"<r><x>a<![CDATA[<&>]]><!--c--><?pi d?>b</x></r>", "/r/x", "00000",
         "<x>a&lt;&amp;&gt;b</x>"},
        {"<r><x>&#65;&#x42;&#10;</x></r>", "/r/x", "00000", "<x>AB\n</x>"},
        // defaults of the internal subset are attributes like the others
        {"<!DOCTYPE r [<!ATTLIST x d CDATA 'dv'>]><r><x/></r>", "/r/x", "00000",
         "<x d=\"dv\"></x>"},
        {"<r>\n <x>t</x>\n</r>", "/r", "00000", "<r>\n <x>t</x>\n</r>"},
        // inside a tagged match everything belongs to it, whatever the path says of it
        {"<r><b>1<c><b>2</b></c>3</b></r>", "//b", "00000", "<b>1<c><b>2</b></c>3</b>"},
        {"<r><b>1<b>2</b></b></r>", "/r/b", "00000", "<b>1<b>2</b></b>"},
    };
    for (const Row &r : rows)
        for (const char *kind : {"Clob", "Clob2"})
            for (Src s : ALL_SOURCES) {
                SCOPED_TRACE(r.doc + " " + r.path + " " + kind + " from " + srcName(s));
                Outcome o = once(kind, s, r.doc, r.path);
                EXPECT_EQ(o.sqlstate, r.state) << o.message;
                EXPECT_EQ(o.text, r.fragment);
                EXPECT_EQ(o.isNull(), r.fragment.empty());
            }
}

// The reader does not validate, so white space in element content arrives as character data:
// once in a fragment, and in the element's own text.
TEST_F(Accept, WhitespaceInElementContent) {
    const std::string doc = "<!DOCTYPE r [<!ELEMENT r (x)*><!ELEMENT x (#PCDATA)>]>"
                            "<r> <x> t </x>\n</r>";
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        Outcome tagged = once("Clob", s, doc, "/r");
        EXPECT_EQ(tagged.sqlstate, "00000");
        EXPECT_EQ(tagged.text, "<r> <x> t </x>\n</r>");
        EXPECT_EQ(once("Varchar", s, doc, "/r").text, " \n");
        EXPECT_EQ(once("Varchar", s, doc, "/r/x").text, " t ");
    }
}

// Long fragments with many escapes keep every byte, from memory and from a spilled CLOB.
TEST_F(Accept, LongTaggedFragments) {
    const std::string body = repeat("a&amp;&lt;\"&apos;\xC3\xA9", 30000);
    const std::string escaped = repeat("a&amp;&lt;&quot;&apos;\xC3\xA9", 30000);
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        Outcome o = once("Clob", s, "<r><x k='" + body + "'>" + body + "</x></r>", "/r/x");
        EXPECT_EQ(o.sqlstate, "00000") << o.message;
        EXPECT_TRUE(o.text == "<x k=\"" + escaped + "\">" + escaped + "</x>") << o.text.size();
    }
}

// Attribute values are escaped before the limit applies.
TEST_F(Accept, LimitAppliesToEscapedAttributeValues) {
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        Outcome fits = once("Varchar", s, "<a x='" + repeat("&amp;", 799) + "1234'/>", "/a/@x");
        EXPECT_EQ(fits.sqlstate, "00000");
        EXPECT_EQ(fits.text, repeat("&amp;", 799) + "1234");
        Outcome over = once("Varchar", s, "<a x='" + repeat("&amp;", 800) + "'/>", "/a/@x");
        EXPECT_EQ(over.sqlstate, "38X39");
        EXPECT_EQ(over.message, routineText(MSG_TOO_LONG));
        // an empty attribute value is an empty value: NULL without a warning
        Outcome empty = once("Varchar", s, "<a x=''/>", "/a/@x");
        EXPECT_EQ(empty.sqlstate, "00000");
        EXPECT_EQ(empty.message, "");
        EXPECT_TRUE(empty.isNull());
    }
}

// ---- Location paths through the routines ------------------------------------------------------

TEST_F(Accept, PathEdgeCases) {
    struct Row {
        const char *doc;
        const char *path;
        const char *state;
        const char *value; // null: NULL
    };
    const Row rows[] = {
        {"<a><b><a>x</a></b></a>", "/a//a", "00000", "x"},
        {"<a>y</a>", "/a//a", "01HX0", nullptr},
        {"<a a='1'>y</a>", "//@a", "01HX0", nullptr},
        {"<a>y</a>", "//", "01HX0", nullptr},
        {"<a>y</a>", "/", "01HX0", nullptr},
        {"<a><b>1</b></a>", "/a/*", "00000", "1"},
        {"<a><b>1</b><c>2</c></a>", "/a/*", "38X08", nullptr},
        {"<a><b>1</b></a>", "/*/b", "00000", "1"},
        {"<a><b>1</b></a>", "//*", "00000", "1"}, // the root's own text is empty
        {"<a><b x='1'>p</b><b x='2'>q</b></a>", "/a/b[@x=\"1\"]", "00000", "p"},
        {"<a><b x='1'>p</b></a>", "/a/b[@x=\"1 \"]", "01HX0", nullptr},
        {"<a><b x='1'>p</b></a>", "/a/b[@y=\"1\"]", "01HX0", nullptr},
        {"<a><b x='1/2'><c>v</c></b></a>", "/a/b[@x=\"1/2\"]/c", "00000", "v"},
        {"<a><b>1</b></a>", "/a/b[1]", "00000", "1"},
        {"<a>x</a>", "/A", "01HX0", nullptr},
        {"<p:e xmlns:p='urn:p'>v</p:e>", "/p:e", "00000", "v"},
        {"<p:e xmlns:p='urn:p'>v</p:e>", "/e", "01HX0", nullptr},
        {"<a><b c='1'/><b/></a>", "/a/b/@c", "00000", "1"},
        {"<a><b/></a>", "/a/b/@c", "01HX0", nullptr},
        {"<a><b c='x&amp;y&lt;'/></a>", "/a/b/@*", "00000", "x&amp;y&lt;"},
        {"<a><b c='1' d='2'/></a>", "/a/b/@*", "38X08", nullptr},
        {"<a><b x='1' y='p'/><b x='2' y='q'/></a>", "/a/b[@x=\"2\"]/@y", "00000", "q"},
        {"<a><b>a&lt;b&amp;&#34;</b></a>", "/a/b", "00000", "a<b&\""},
        {"<a><b>x<c>y</c>z</b></a>", "/a/b", "00000", "xz"},
        {"<a><b>x<c>y</c>z</b></a>", "//b", "00000", "x"},
        {"<a><b><c>y</c></b></a>", "/a/b", "00000", nullptr},
        {"<a><b> </b></a>", "/a/b", "00000", " "},
        {"<a><b><x><c>v</c></x></b></a>", "/a//b//c", "00000", "v"},
        {"<a><b><c>1</c></b><x><c>2</c></x></a>", "//b/c", "00000", "1"},
        {"<a><c>1</c><b><c>2</c></b></a>", "/a//b/c", "00000", "2"},
        {"<!DOCTYPE a SYSTEM '/nonexistent/none.dtd'><a>v</a>", "/a", "00000", "v"},
        {"<a><b x='1 2'>v</b></a>", "/a/b[@x=\"1 2\"]", "00000", "v"},
        {"<a><b x='1' y='3'>v</b></a>", "/a/b[@x=\"1\"][@y=\"2\"]", "00000", "v"},
        {"<a><b>v</b></a>", "/a/b/", "00000", "v"},
        {"<a><b>v</b></a>", "/a//", "00000", nullptr},
        {"<a x='1'/>", "/a/@", "01HX0", nullptr},
        // a match reached through a non-matching child starts a new value
        {"<r><b>1<c><b>2</b></c>3</b></r>", "//b", "38X08", nullptr},
        {"<r><b c='1'><b c='2'/></b></r>", "/r/b/@c", "00000", "1"},
        {"<r><b c='1'><b c='2'/></b></r>", "//b/@c", "38X08", nullptr},
        // without namespaces, prefixed names are names like any other
        {"<a xmlns:p='u' p:x='1' q:x='2'/>", "/a[@p:x=\"1\"]/@q:x", "00000", "2"},
        {"<a xmlns:p='u' p:x='1'/>", "/a/@xmlns:p", "00000", "u"},
        {"<a xmlns:p='u' p:x='1'/>", "/a/@x", "01HX0", nullptr},
    };
    for (const Row &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(r.doc) + " " + r.path + " from " + srcName(s));
            Outcome o = once("Varchar", s, r.doc, r.path);
            EXPECT_EQ(o.sqlstate, r.state) << o.message;
            EXPECT_EQ(o.isNull(), r.value == nullptr);
            EXPECT_EQ(o.text, r.value == nullptr ? "" : r.value);
        }
}

// The DTD of a "2" variant stands in for the external DTD a DOCTYPE names, and only for it.
TEST_F(Accept, DtdTextStandsInForTheNamedDtd) {
    const std::string dtd = "<!ENTITY e \"from dtd\"><!ATTLIST v k CDATA \"dk\">";
    struct Row {
        const char *doc;
        const char *path;
        const char *state;
        const char *value;
    };
    const Row rows[] = {
        {"<!DOCTYPE a SYSTEM '/nonexistent/a.dtd'><a><v>&e;</v></a>", "/a/v", "00000", "from dtd"},
        {"<!DOCTYPE a SYSTEM 'a.dtd'><a><v/></a>", "/a/v/@k", "00000", "dk"},
        // without a DOCTYPE, or with only an internal subset, the text is not read
        {"<a><v>&e;</v></a>", "/a/v", "38X13", nullptr},
        {"<!DOCTYPE a [<!ELEMENT a ANY>]><a><v>&e;</v></a>", "/a/v", "38X13", nullptr},
    };
    for (const Row &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(r.doc) + " from " + srcName(s));
            Outcome o = once("Varchar2", s, r.doc, r.path, 1208, dtd);
            EXPECT_EQ(o.sqlstate, r.state) << o.message;
            EXPECT_EQ(o.text, r.value == nullptr ? "" : r.value);
        }
}

// The DTD a DOCTYPE names is never read, even when it exists: it reads as empty, or as the DTD
// text of a "2" variant.
TEST_F(Accept, NamedDtdIsNeverRead) {
    const std::string dtd =
        testing_support::writeFile("named.dtd", "<!ATTLIST a k CDATA 'from file'>");
    const std::string doc = "<!DOCTYPE a SYSTEM '" + dtd + "'><a/>";
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        EXPECT_EQ(once("Varchar", s, doc, "/a/@k").sqlstate, "01HX0");
        Outcome o = once("Varchar2", s, doc, "/a/@k", 1208, "<!ATTLIST a k CDATA 'from text'>");
        EXPECT_EQ(o.sqlstate, "00000") << o.message;
        EXPECT_EQ(o.text, "from text");
        EXPECT_EQ(once("Clob", s, doc, "/a").text, "<a></a>");
    }
}

// ---- Database code pages --------------------------------------------------------------------

TEST_F(Accept, DocumentsAndPathsInTheDatabaseCodePage) {
    struct Row {
        int32_t db;
        std::string doc;
        std::string path;
        const char *kind;
        std::string value;
    };
    const std::string latin = "<a><b t='\xE9'>caf\xE9</b><caf\xE9>x</caf\xE9></a>";
    const Row rows[] = {
        {819, latin, "/a/b", "Varchar", "caf\xE9"},
        {819, latin, "/a/b/@t", "Varchar", "\xE9"},
        {819, latin, "/a/caf\xE9", "Char", "x"},
        {819, latin, "/a/b", "Clob", "<b t=\"\xE9\">caf\xE9</b>"},
        // the database encoding wins over the declaration
        {819, "<?xml version='1.0' encoding='UTF-8'?><a>caf\xE9</a>", "/a", "Varchar", "caf\xE9"},
        {1252, "<a>\x80 \x9C</a>", "/a", "Varchar", "\x80 \x9C"},
        {37, inCodePage(37, "<a><b k=\"\xC3\xA9\">12.5</b></a>"), inCodePage(37, "/a/b"), "Varchar",
         inCodePage(37, "12.5")},
        {37, inCodePage(37, "<a><b k=\"\xC3\xA9\">12.5</b></a>"), inCodePage(37, "/a/b/@k"),
         "Varchar", inCodePage(37, "\xC3\xA9")},
        {37, inCodePage(37, "<a><b>12.5</b></a>"), inCodePage(37, "/a/b"), "Clob",
         inCodePage(37, "<b>12.5</b>")},
        {943, inCodePage(943, "<a>\xE6\x97\xA5\xE6\x9C\xAC</a>"), "/a", "Varchar",
         inCodePage(943, "\xE6\x97\xA5\xE6\x9C\xAC")},
        {954, inCodePage(33722, "<a>\xE6\x97\xA5\xE6\x9C\xAC</a>"), "/a", "Varchar",
         inCodePage(33722, "\xE6\x97\xA5\xE6\x9C\xAC")},
        {850, "<a>\x82\x81</a>", "/a", "Varchar", "\x82\x81"},
        {1383, inCodePage(1383, "<a>\xE4\xB8\xAD</a>"), "/a", "Clob",
         inCodePage(1383, "<a>\xE4\xB8\xAD</a>")},
    };
    for (const Row &r : rows)
        for (Src s : {Src::Varchar, Src::Clob}) {
            SCOPED_TRACE(std::to_string(r.db) + " " + r.kind + " from " + srcName(s));
            Outcome o = once(r.kind, s, r.doc, r.path, r.db);
            EXPECT_EQ(o.sqlstate, "00000") << o.message;
            EXPECT_EQ(o.text, r.value);
        }
}

// A CLOB parsed from memory ends at its first NUL byte.
TEST_F(Accept, ClobInMemoryEndsAtANulByte) {
    const std::string doc("<a>x</a>\0<b>", 12);
    Outcome o = once("Varchar", Src::Clob, doc, "/a");
    EXPECT_EQ(o.sqlstate, "00000") << o.message;
    EXPECT_EQ(o.text, "x");
}

// A CLOB spilled to a temporary file is still read in the database encoding.
TEST_F(Accept, SpilledClobInTheDatabaseCodePage) {
    const std::string doc = "<?xml version='1.0' encoding='UTF-8'?><a><v>caf\xE9</v><p>" +
                            std::string(200000, '\xE9') + "</p></a>";
    const Member &m = member("Varchar");
    tarn::ScalarStatement st(descOf(m, Src::Clob), 819);
    Outcome o = st.call(argsOf(m, doc, "/a/v"));
    EXPECT_EQ(o.sqlstate, "00000") << o.message;
    EXPECT_EQ(o.text, "caf\xE9");
    EXPECT_EQ(scratchOf(st)->docLoc, QAP_FILE);
}

// The DTD text of a "2" variant is read in the database encoding.
TEST_F(Accept, DtdTextInTheDatabaseCodePage) {
    for (Src s : {Src::Varchar, Src::Clob}) {
        SCOPED_TRACE(srcName(s));
        Outcome o = once("Varchar2", s, "<!DOCTYPE a SYSTEM 'a.dtd'><a>&e;</a>", "/a", 819,
                         "<!ENTITY e 'caf\xE9'>");
        EXPECT_EQ(o.sqlstate, "00000") << o.message;
        EXPECT_EQ(o.text, "caf\xE9");
    }
}

// The parser's text reaches the message in the database code page.
TEST_F(Accept, ParserTextInTheDatabaseCodePage) {
    const Diagnostic ref = referenceDiagnostic("<a><caf\xC3\xA9></a>");
    ASSERT_TRUE(ref.found);
    const std::string expected =
        routineText("QAPQ047E  Parser error on line " + std::to_string(ref.line) + " column " +
                    std::to_string(ref.column) + ": " + inCodePage(819, ref.text) + " ");
    for (Src s : {Src::Varchar, Src::Clob}) {
        SCOPED_TRACE(srcName(s));
        Outcome o = once("Varchar", s, "<a><caf\xE9></a>", "/a", 819);
        EXPECT_EQ(o.sqlstate, "38X13");
        EXPECT_EQ(o.message, expected);
    }
}

// A server file is read in the encoding the parser detects, and its values are returned in the
// database code page.
TEST_F(Accept, FilesAreDetectedAndValuesConverted) {
    struct Row {
        std::string doc;
        const char *state;
        const char *value;
    };
    const Row rows[] = {
        {"<a>caf\xC3\xA9</a>", "00000", "caf\xE9"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>", "00000", "caf\xE9"},
        {std::string("\xFE\xFF\0<\0a\0>\0\xE9\0<\0/\0a\0>", 18), "00000", "\xE9"},
        // bytes of the database code page without a declaration are not UTF-8
        {"<a>caf\xE9</a>", "38X13", ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.doc);
        Outcome o = once("Varchar", Src::File, r.doc, "/a", 819);
        EXPECT_EQ(o.sqlstate, r.state) << o.message;
        EXPECT_EQ(o.text, r.value);
    }
}

// Message arguments are database text too.
TEST_F(Accept, MessagesCarryThePathInTheDatabaseCodePage) {
    Outcome o = once("Varchar", Src::Varchar, "<a><caf\xE9/><caf\xE9/></a>", "/a/caf\xE9", 819);
    EXPECT_EQ(o.sqlstate, "38X08");
    EXPECT_EQ(o.message, "QAPD001E  /a/caf\xE9 occurs multiple times.\n");
}

// ---- The extraction driver ----------------------------------------------------------------

// The caller's result record: its message field is left alone, and a failed parse or path
// leaves the record as the caller set it.
TEST_F(Accept, ExtractAllLeavesTheCallersRecordFields) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0);
    struct Row {
        const char *doc;
        const char *path;
        int32_t limit;
        const char *state;
        size_t values; // SIZE_MAX: no values array
    };
    const Row rows[] = {
        {"<a><b>1</b><b>22</b></a>", "/a/b", 100, "00000", 2},
        {"<a><b>1</b><b>22</b></a>", "/a/b", 2, "38X39", 1},
        {"<a><b>1</b>", "/a/b", 100, "38X13", SIZE_MAX},
        {"<a><b>1</b></a>", "/a/b*", 100, "38X09", SIZE_MAX},
        {"<a><b>1</b></a>", nullptr, 100, "38X09", SIZE_MAX},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.doc) + " " + (r.path ? r.path : "(null)"));
        char *mine = static_cast<char *>(malloc(1025));
        strcpy(mine, "the caller's");
        QapExtractResult result{};
        result.message = mine;
        char state[QAP_SQLSTATE_SIZE] = "00000";
        char msg[QAP_MSGTEXT_SIZE] = "";
        const int32_t rc =
            extractAll(ctx, r.doc, nullptr, 1, QAP_MEM, 0, r.path, &result, r.limit, state, msg);
        EXPECT_EQ(rc, std::string(r.state) == "00000" ? 0 : -1);
        EXPECT_STREQ(state, r.state);
        EXPECT_EQ(result.message, mine);
        EXPECT_STREQ(mine, "the caller's");
        if (r.values == SIZE_MAX) {
            EXPECT_EQ(result.values, nullptr);
        } else {
            ASSERT_NE(result.values, nullptr);
            EXPECT_EQ(result.cursor, result.values);
            size_t n = 0;
            while (result.values[n] != nullptr)
                ++n;
            EXPECT_EQ(n, r.values);
            EXPECT_STREQ(result.sqlstate, r.state);
        }
        if (std::string(r.state) == "38X39") {
            EXPECT_EQ(std::string(msg), routineText(MSG_TOO_LONG));
        }
        if (r.path == nullptr) {
            EXPECT_EQ(std::string(msg), routineText(syntaxError(1)));
        }
        freeExtractResult(ctx, &result);
    }
    // extractOne with no path at all
    char state[QAP_SQLSTATE_SIZE] = "00000";
    char msg[QAP_MSGTEXT_SIZE] = "";
    char *value = nullptr;
    EXPECT_EQ(extractOne(ctx, "<a/>", nullptr, 1, QAP_MEM, 0, nullptr, &value, 10, state, msg), -1);
    EXPECT_STREQ(state, "38X09");
    EXPECT_EQ(value, nullptr);
}

// TMP is put back after a CLOB was spilled into the TARNQAPTEMP directory.
TEST_F(Accept, SpillingKeepsTmp) {
    const std::string other = testing_support::scratchDir() + "/othertmp";
    mkdir(other.c_str(), 0700);
    ScopedEnv tmp("TMP", other.c_str());
    const Member &m = member("Varchar");
    tarn::ScalarStatement st(descOf(m, Src::Clob));
    const std::string doc = "<a><v>x</v><p>" + std::string(140000, 'p') + "</p></a>";
    EXPECT_EQ(st.call(argsOf(m, doc, "/a/v")).text, "x");
    EXPECT_EQ(st.call(argsOf(m, doc, "/a/v")).text, "x");
    EXPECT_EQ(scratchOf(st)->docLoc, QAP_FILE);
    ASSERT_NE(getenv("TMP"), nullptr);
    EXPECT_EQ(std::string(getenv("TMP")), other);
    EXPECT_TRUE(testing_support::listDir(other).empty());
}

// ---- Tables and helpers ---------------------------------------------------------------------

namespace {

// "number id sqlstate code;" for every row of the tables that has a message id.
const char *const kRows =
    "1 QAPA000I 00000 0;2 QAPA001S 00000 -92;3 QAPA002I 00000 0;4 QAPA003E 00000 -1;5 QAPA004E "
    "00000 -2;6 QAPA005I 00000 0;7 QAPA006I 00000 0;8 QAPA007E 00000 -3;9 QAPA008I 00000 0;10 "
    "QAPA009E 38X11 -4;11 QAPA010E 38X12 -5;12 QAPA011E 00000 -6;13 QAPA012E 00000 -7;14 "
    "QAPA013E 00000 -8;15 QAPA014E 00000 -9;16 QAPA015E 00000 -10;17 QAPA016E 00000 -11;18 "
    "QAPA017E 00000 -12;19 QAPA018E 00000 -13;20 QAPA019E 00000 -14;21 QAPA020E 00000 -15;22 "
    "QAPA021E 00000 -16;23 QAPA022I 00000 0;24 QAPA023E 00000 -17;25 QAPA024E 00000 -18;26 "
    "QAPA025E 00000 -19;27 QAPA026E 00000 -20;28 QAPA027E 00000 -21;29 QAPA028E 00000 -22;30 "
    "QAPA029E 00000 -23;31 QAPA030E 00000 -24;32 QAPA031E 00000 -25;33 QAPA032E 00000 -26;34 "
    "QAPA033E 00000 -27;35 QAPA034I 00000 0;36 QAPA035I 00000 0;37 QAPA036I 00000 0;38 "
    "QAPA037E 00000 -28;39 QAPA038E 00000 -29;40 QAPA039E 00000 -30;41 QAPA046E 00000 -31;42 "
    "QAPA047E 00000 -32;43 QAPA048E 00000 -33;44 QAPA049E 00000 -34;45 QAPA050E 00000 -35;46 "
    "QAPA051E 00000 -36;47 QAPA052E 00000 -37;48 QAPA053E 00000 -38;49 QAPA054E 00000 -39;50 "
    "QAPA056E 38X15 -40;51 QAPA057E 38X15 -41;52 QAPA058E 38X15 -42;53 QAPA059E 38X15 -43;54 "
    "QAPA060E 38X15 -44;55 QAPA061E 38X15 -45;56 QAPA062E 00000 -46;57 QAPA063I 00000 0;58 "
    "QAPA064I 00000 0;59 QAPA065E 00000 -95;60 QAPA066I 00000 0;61 QAPA067I 00000 0;62 "
    "QAPA068I 00000 0;63 QAPA069I 00000 0;64 QAPA070W 00000 5;65 QAPA071W 00000 6;66 QAPA072E "
    "38X01 -103;67 QAPA073E 38X36 -104;68 QAPA074E 00000 -107;69 QAPA075E 00000 -108;70 "
    "QAPA076E 00000 -116;72 QAPC000E 38X00 -47;73 QAPC001E 38X01 -80;74 QAPC002E 38X02 -48;75 "
    "QAPC003E 38X03 -49;76 QAPC004E 38X04 -50;77 QAPC005E 38X05 -51;78 QAPC006E 38X06 -52;79 "
    "QAPC007E 38X07 -53;80 QAPC008E 00000 -96;81 QAPC009E 00000 -97;82 QAPC010E 00000 -98;83 "
    "QAPC011E 38X03 -105;84 QAPC012E 00000 -106;85 QAPC013E 38X39 -53;86 QAPD000E 38X14 -54;87 "
    "QAPD001E 38X08 -55;88 QAPD002E 38X09 -94;89 QAPD003W 01HX0 1;90 QAPG000E 38x34 -56;91 "
    "QAPG001E 38X18 -57;92 QAPG002E 38X10 -58;93 QAPG004E 38X16 -60;94 QAPG005E 38x33 -91;95 "
    "QAPG006E 38X18 -57;96 QAPG007E 38X37 -118;97 QAPG008E 38X38 -119;98 QAPG009E 00000 0;99 "
    "QAPG010E 00000 0;100 QAPG011E 00000 0;101 QAPG012E 00000 0;102 QAPG013E 00000 0;103 "
    "QAPG014E 00000 0;104 QAPG015E 00000 0;105 QAPG016E 00000 0;106 QAPG017E 00000 -124;107 "
    "QAPM001W 00000 2;108 QAPQ000E 38X15 -61;109 QAPQ001E 38X17 -62;110 QAPQ002E 38X19 -63;111 "
    "QAPQ003W 38X20 3;112 QAPQ004E 38X21 -64;113 QAPQ004W 00000 4;114 QAPQ005E 38X22 -65;115 "
    "QAPQ006E 38X23 -66;116 QAPQ007E 38X24 -67;117 QAPQ008E 38X25 -68;118 QAPQ009E 38X26 "
    "-69;119 QAPQ010E 38X27 -70;120 QAPQ011E 38X27 -71;121 QAPQ012E 38X28 -72;122 QAPQ013E "
    "38X29 -73;123 QAPQ014E 38X30 -74;124 QAPQ015E 38X29 -75;125 QAPQ016E 38X28 -76;126 "
    "QAPQ017E 38X27 -77;127 QAPQ018E 38X30 -78;128 QAPQ019E 38X31 -79;129 QAPQ020I 00000 0;130 "
    "QAPQ021E 00000 -81;131 QAPQ022E 00000 -82;132 QAPQ023E 00000 -83;133 QAPQ024E 00000 "
    "-84;134 QAPQ025I 00000 0;135 QAPQ026E 00000 -86;136 QAPQ028E 00000 -88;137 QAPQ029E 00000 "
    "-89;138 QAPQ030E 00000 -99;139 QAPQ031E 00000 -100;140 QAPQ032E 00000 -101;141 QAPQ033E "
    "00000 -109;142 QAPQ034E 00000 -110;143 QAPQ035E 00000 -111;144 QAPQ036E 00000 -115;145 "
    "QAPQ037E 00000 -117;146 QAPQ038E 00000 -121;147 QAPQ039E 00000 -122;148 QAPQ040E 38X27 "
    "-123;149 QAPQ041W 00000 5;150 QAPQ043E 00000 -125;151 QAPQ044E 00000 -126;152 QAPQ045E "
    "00000 -127;153 QAPQ046W 00000 4;154 QAPQ047E 00000 -112;155 QAPQ048E 38X41 -128;156 "
    "QAPQ049E 38X42 -129;157 QAPQ050E 38X43 -130;158 QAPQ051E 38X44 -131;159 QAPQ052E 00000 "
    "-132;160 QAPQ053E 00000 -133;161 QAPQ054E 00000 -134;162 QAPQ055E 38X45 -135;163 QAPQ056E "
    "38X15 -136;164 QAPQ057E 38X15 -137;165 QAPQ058E 38X15 -138;166 QAPQ059E 38X15 -139;167 "
    "QAPQ060E 38X12 -140;168 QAPQ061E 38X29 -141;169 QAPQ062E 38X15 -142;170 QAPQ063E 38X15 "
    "-45;171 QAPQ064E 38X15 -143;172 QAPQ065I 00000 0;173 QAPQ066E 00000 -144;174 QAPQ067E "
    "00000 -145;175 QAPQ068E 00000 -146;176 QAPQ069E 00000 -143;177 QAPQ070E 00000 -148;178 "
    "QAPQ071E 00000 -149;180 QAPQ073E 00000 -151;";

} // namespace

// The SQLSTATE and code of every row, and the message id at the start of its text.
TEST(AcceptTables, SqlStateRowsAndMessageIds) {
    std::istringstream in(kRows);
    std::string entry;
    int seen = 0;
    while (std::getline(in, entry, ';')) {
        std::istringstream fields(entry);
        int number = 0;
        std::string id, state;
        int32_t code = 0;
        ASSERT_TRUE(fields >> number >> id >> state >> code) << entry;
        ASSERT_GT(number, 0);
        ASSERT_LT(number, QAP_MSG_ROWS);
        ++seen;
        EXPECT_STREQ(qapSqlStateTable[number].sqlstate, state.c_str()) << number;
        EXPECT_EQ(qapSqlStateTable[number].code, code) << number;
        ASSERT_NE(qapMessageTable[number], nullptr) << number;
        EXPECT_EQ(std::string(qapMessageTable[number]).rfind(id + "  ", 0), 0u)
            << number << ": " << qapMessageTable[number];
    }
    EXPECT_EQ(seen, 178);
    for (int empty : {0, 181}) {
        EXPECT_STREQ(qapMessageTable[empty], "");
        EXPECT_STREQ(qapSqlStateTable[empty].sqlstate, "");
    }
}

// The texts of the messages the routines and their functions issue.
TEST(AcceptTables, MessageTexts) {
    const std::pair<int, const char *> texts[] = {
        {62, "QAPA068I  Tessel has successfully turned the trace on."},
        {63, "QAPA069I  Tessel has successfully turned the trace off."},
        {72, "QAPC000E  Unable to open the specified file."},
        {73, "QAPC001E  The specified file is not found."},
        {74, "QAPC002E  Unable to read file."},
        {75, "QAPC003E  Unable to write to the specified file."},
        {76, "QAPC004E  Unable to operate the LOB Locator: rc=%s."},
        {77, "QAPC005E  Input file size is greater than XMLVarchar size."},
        {78, "QAPC006E  The input file exceeds the Tarn LOB limit."},
        {79, "QAPC007E  Unable to retrieve data from the file to the LOB Locator."},
        {80, "QAPC008E  Can not remove the file %s."},
        {81, "QAPC009E  Unable to create file to %s directory."},
        {82, "QAPC010E  Error while writing to file %s."},
        {83, "QAPC011E  Unable to write to the trace control file."},
        {84, "QAPC012E  Cannot create temporary file."},
        {85,
         "QAPC013E  The results of the extract UDF exceed the size limit for the UDF return type."},
        {86, "QAPD000E  An invalid XML document is rejected."},
        {87, "QAPD001E  %s occurs multiple times."},
        {88, "QAPD002E  A syntax error occurred near position %s in the search path."},
        {89, "QAPD003W  Path not found.  Null is returned."},
        {90, "QAPG000E  The file name %s is invalid."},
        {91, "QAPG001E  An internal error occured in build %s, file %s, and line %s."},
        {92, "QAPG002E  The system is out of memory."},
        {93, "QAPG004E  Invalid null parameter."},
        {94, "QAPG005E  Parameter not supported."},
        {95, "QAPG006E  Internal Error SQLSTATE=%s, RC=%s, build %s, file %s, line %s CLIMSG=%s."},
        {96, "QAPG007E  Locale %s is inconsistent with Tarn code page %s."},
        {97, "QAPG008E  Locale %s is not supported."},
        {106, "QAPG017E  The limit for %s has been exceeded in build %s, file %s, and line %s."},
        {107, "QAPM001W  A Tarn error occurred."},
        {154, "QAPQ047E  Parser error on line %s column %s: %s "},
        {162, "QAPQ055E  ICU error: %s"},
        {168, "QAPQ061E  The format of the string is invalid."},
        {177, "QAPQ070E  Cannot open trace file %s for output."},
    };
    for (const auto &t : texts)
        EXPECT_STREQ(qapMessageTable[t.first], t.second) << t.first;
}

// Formatted for a routine, every text is cut to 70 characters with a newline last.
TEST(AcceptTables, RoutineMessagesFromNumbers) {
    QapRoutineCtx ctx{};
    char out[QAP_MSGTEXT_SIZE];
    const struct {
        int number;
        std::vector<const char *> args;
        std::string full;
    } rows[] = {
        {QAPD001E, {"/a/b"}, "QAPD001E  /a/b occurs multiple times."},
        {QAPD002E, {"3"}, syntaxError(3)},
        {QAPD003W, {}, MSG_NOT_FOUND},
        {QAPC013E, {}, MSG_TOO_LONG},
        {QAPC004E, {"-1002"}, lobError(-1002)},
        {QAPQ047E,
         {"3", "5", "expected end of tag"},
         "QAPQ047E  Parser error on line 3 column 5: expected end of tag "},
        {QAPQ047E,
         {"12", "345", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"},
         "QAPQ047E  Parser error on line 12 column 345: " + std::string(30, 'x') + " "},
        {QAPG008E, {"5555"}, "QAPG008E  Locale 5555 is not supported."},
        {QAPQ055E, {"-124"}, "QAPQ055E  ICU error: -124"},
        {QAPG001E,
         {"b", "f", "1"},
         "QAPG001E  An internal error occured in build b, file f, and line 1."},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.full);
        const char *a[3] = {};
        for (size_t i = 0; i < r.args.size(); ++i)
            a[i] = r.args[i];
        const int rc = qapSetMsg(&ctx, out, r.number, a[0], a[1], a[2]);
        const std::string want = routineText(r.full);
        EXPECT_EQ(std::string(out), want);
        EXPECT_EQ(rc, static_cast<int>(want.size()));
    }
}

// A routine's context places the message at the start of its text whatever the offset; any
// other caller gets the 1,024-character placement.
TEST(AcceptTables, PlacementByCaller) {
    auto vsprint = [](QapRoutineCtx *ctx, char *out, int32_t msgNo, int32_t offset, ...) {
        va_list args;
        va_start(args, offset);
        const int rc = qapVsprint(ctx, out, msgNo, offset, args);
        va_end(args);
        return rc;
    };
    const std::string arg(100, 'a');
    QapRoutineCtx routine{};
    std::string out(1100, 'Z');
    EXPECT_EQ(vsprint(&routine, &out[0], QAPQ055E, 500, arg.c_str()), 70);
    EXPECT_EQ(std::string(out.c_str()), routineText("QAPQ055E  ICU error: " + arg));
    QapRoutineCtx procedure{};
    procedure.callerKind = 1;
    out.assign(1100, 'Z');
    EXPECT_EQ(vsprint(&procedure, &out[0], QAPQ055E, 3, arg.c_str()), 122);
    EXPECT_EQ(out.substr(0, 3), "ZZZ");
    EXPECT_EQ(std::string(out.c_str() + 3), "QAPQ055E  ICU error: " + arg + "\n");
    EXPECT_EQ(vsprint(&procedure, &out[0], QAPQ055E, 1024, arg.c_str()), 0);
    EXPECT_EQ(vsprint(&procedure, &out[0], -3, 0), -1);
}

TEST(AcceptTables, StateToCodeTakesTheFirstRow) {
    const std::pair<const char *, int32_t> rows[] = {
        {"38X13", -85},       {"38X39", -53},        {"38X04", -50},  {"38X08", -55},
        {"38X09", -94},       {"38X29", -73},        {"38X27", -70},  {"38X15", -40},
        {"38X18", -57},       {"38X03", -49},        {"38X12", -5},   {"38x33", -91},
        {"38X33", INT32_MIN}, {"01HX0", 1},          {"38X01", -103}, {"38X41", -128},
        {"0000", INT32_MIN},  {"000000", INT32_MIN},
    };
    for (const auto &r : rows) {
        int32_t code = 7;
        qapStateToCode(nullptr, &code, r.first);
        EXPECT_EQ(code, r.second) << r.first;
    }
}

namespace {

// A registry value for the scope of the object.
class Registry {
public:
    Registry(int32_t id, const char *value) : id_(id) { tarnRegistrySet(id, value); }
    ~Registry() { tarnRegistrySet(id_, nullptr); }
    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;

private:
    int32_t id_;
};

} // namespace

TEST(AcceptFiles, DeniedAccessMessages) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    Registry read(TARN_REG_READ_ACCESS, "/xml;/docs");
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    {
        Registry write(TARN_REG_WRITE_ACCESS, "ANY");
        EXPECT_EQ(qapChkRegistry(ctx, 0, "/DOCS/x/y.xml", sqlstate, msgtext), 0);
        EXPECT_EQ(qapChkRegistry(ctx, 1, "", sqlstate, msgtext), 0);
        EXPECT_EQ(qapChkRegistry(ctx, 0, "/xm", sqlstate, msgtext), -1);
        EXPECT_STREQ(sqlstate, "38X02");
        EXPECT_STREQ(msgtext, "QAPC002E  Unable to read file.\n");
    }
    Registry write(TARN_REG_WRITE_ACCESS, "");
    strcpy(sqlstate, "00000");
    EXPECT_EQ(qapChkRegistry(ctx, 1, "/xml/a", sqlstate, msgtext), -1);
    EXPECT_STREQ(sqlstate, "38X03");
    EXPECT_STREQ(msgtext, "QAPC003E  Unable to write to the specified file.\n");
}
