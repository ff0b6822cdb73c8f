// Black-box checks of the scalar extract routines as the host calls them (exact SQLSTATEs,
// message texts cut to the routine's 70 characters, limits, bytes of the results, the calls of
// one statement, database code pages), and of the table rows and helpers whose results reach the
// host unchanged.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapExtractConv.h"
#include "qapFile.h"
#include "qapMsg.h"
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
#include <initializer_list>
#include <memory>
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
const std::initializer_list<Src> ALL_SOURCES = {Src::File, Src::Varchar, Src::Clob};

const char *srcName(Src s) {
    return s == Src::File ? "file" : s == Src::Varchar ? "VARCHAR" : "CLOB";
}

// One result kind with its three members (file, VARCHAR, CLOB), named after its output type.
struct Member {
    const char *kind;
    SqlType out;
    bool dtd;
    void *entry[3];
};

#define ACC_MEMBER(name, suffix)                                                                   \
    Member {                                                                                       \
#name #suffix, SqlType::name, sizeof(#suffix)> 1, {                                        \
            reinterpret_cast<void *>(&qapExtract##name##suffix),                                   \
                reinterpret_cast<void *>(&qapExtract##name##FromVarchar##suffix),                  \
                reinterpret_cast<void *>(&qapExtract##name##FromClob##suffix)                      \
        }                                                                                          \
    }

const std::vector<Member> &members() {
    static const std::vector<Member> all = {
        ACC_MEMBER(Varchar, ), ACC_MEMBER(Varchar, 2), ACC_MEMBER(Char, ), ACC_MEMBER(Clob, ),
        ACC_MEMBER(Clob, 2),   ACC_MEMBER(Date, ),     ACC_MEMBER(Time, ), ACC_MEMBER(Timestamp, ),
        ACC_MEMBER(Double, ),  ACC_MEMBER(Double, 2),  ACC_MEMBER(Real, ), ACC_MEMBER(Real, 2),
        ACC_MEMBER(Integer, ), ACC_MEMBER(Smallint, )};
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
    d.entry = m.entry[static_cast<int>(s)];
    d.inputs.push_back(s == Src::Clob ? SqlType::Clob : SqlType::Varchar);
    if (m.dtd) d.inputs.push_back(SqlType::Clob);
    d.inputs.push_back(SqlType::Varchar);
    d.output = m.out;
    d.outputLength = m.out == SqlType::Varchar ? 4000 : m.out == SqlType::Char ? 254 : 0;
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

// The SQLSTATE and the value ("" for NULL) of one call from each of the sources.
void expectValue(const char *kind, const std::string &doc, const std::string &path,
                 const char *state, const std::string &value,
                 std::initializer_list<Src> sources = ALL_SOURCES, int32_t db = 1208,
                 const std::string &dtd = NO_DTD) {
    for (Src s : sources) {
        SCOPED_TRACE(std::string(kind) + " " + doc + " " + path + " from " + srcName(s));
        Outcome o = once(kind, s, doc, path, db, dtd);
        EXPECT_EQ(o.sqlstate, state) << o.message;
        EXPECT_EQ(o.text, value);
        EXPECT_EQ(o.isNull(), value.empty());
    }
}

QapScratch *scratchOf(tarn::ScalarStatement &st) {
    return reinterpret_cast<QapScratch *>(st.scratchData());
}

// A message as a routine receives it: at most 70 bytes, the last one a newline.
std::string routineText(const std::string &full) {
    if (full.size() < 70) return full + "\n";
    size_t cut = 69; // never inside a UTF-8 character
    while (cut > 0 && (static_cast<unsigned char>(full[cut]) & 0xC0) == 0x80)
        --cut;
    return full.substr(0, cut) + "\n";
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

// The QAPQ047E text (before the cut) of the first diagnostic of a non-validating parse of the
// document, as the parser words it, converted to the code page; "" when there is none.
std::string referenceDiagnostic(const std::string &doc, int32_t ccsid = 1208) {
    using namespace XERCES_CPP_NAMESPACE;
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
        std::string utf8(4 * XMLString::stringLen(e.getMessage()) + 4, '\0');
        int32_t n = 0;
        UErrorCode st = U_ZERO_ERROR;
        u_strToUTF8(&utf8[0], static_cast<int32_t>(utf8.size()), &n, e.getMessage(), -1, &st);
        utf8.resize(static_cast<size_t>(n));
        return "QAPQ047E  Parser error on line " + std::to_string(e.getLineNumber()) + " column " +
               std::to_string(e.getColumnNumber()) + ": " + inCodePage(ccsid, utf8) + " ";
    }
    return "";
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
    const std::string e40 = repeat("\xC3\xA9", 40);
    struct Row {
        const char *kind;
        std::string doc;
        std::string path;
        const char *state;
        std::string full; // the message before the cut
    };
    const Row rows[] = {
        {"Varchar", two, "/a/b", "38X08", "QAPD001E  /a/b occurs multiple times."},
        {"Char", two, longMatch, "38X08", "QAPD001E  " + longMatch + " occurs multiple times."},
        {"Varchar", "<a><b c='1' d='2'/></a>", "/a/b/@*", "38X08",
         "QAPD001E  /a/b/@* occurs multiple times."},
        {"Varchar", "<a><b k='%d%%'/><b k='%d%%'/></a>", "/a/*[@k=\"%d%%\"]", "38X08",
         "QAPD001E  /a/*[@k=\"%d%%\"] occurs multiple times."},
        // the cut counts bytes: here it falls inside a two-byte character
        {"Varchar", "<a>" + repeat("<b" + e40 + "/>", 2) + "</a>", "/a/b" + e40, "38X08",
         "QAPD001E  /a/b" + e40 + " occurs multiple times."},
        {"Varchar", two, "/a/b@c", "38X09", syntaxError(3)},
        {"Integer", two, "a/b", "38X09", syntaxError(1)},
        {"Clob", two, "", "38X09", syntaxError(1)},
        {"Varchar", two, "/a/b[@x=\"a@b\"]", "38X09", syntaxError(9)},
        // positions count UTF-16 units, not bytes
        {"Varchar", two, "/\xC3\xA9\xC3\xA9/b*", "38X09", syntaxError(5)},
        {"Varchar", two, "/a[@x=\"\xF0\x9F\x98\x80\"]/b*", "38X09", syntaxError(13)},
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
    // Message arguments are database text too.
    Outcome o = once("Varchar", Src::Varchar, "<a><caf\xE9/><caf\xE9/></a>", "/a/caf\xE9", 819);
    EXPECT_EQ(o.sqlstate, "38X08");
    EXPECT_EQ(o.message, "QAPD001E  /a/caf\xE9 occurs multiple times.\n");
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

// A malformed document: QAPQ047E with the parser's line, column and text, cut to 70. Every
// diagnostic ends the parse, a warning (an attribute declared twice) too.
TEST_F(Accept, ParserErrorsCarryLineColumnAndText) {
    const char *const docs[] = {
        "<a><b>x</a>",
        "<a>\n<b>\n</c></a>",
        "<a>&undefined;</a>",
        "<a>x</a><b/>",
        "<a>\xC3</a>",
        "",
        "<!DOCTYPE a [<!ATTLIST a c CDATA \"1\"><!ATTLIST a c CDATA \"2\">]><a>x</a>"};
    for (const char *doc : docs) {
        const std::string ref = referenceDiagnostic(doc);
        ASSERT_NE(ref, "") << doc;
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(doc) + " from " + srcName(s));
            Outcome o = once("Varchar", s, doc, "/a");
            EXPECT_EQ(o.sqlstate, "38X13");
            EXPECT_EQ(o.message, routineText(ref));
            EXPECT_TRUE(o.isNull());
        }
    }
    // The parser's text reaches the message in the database code page.
    const std::string ref = referenceDiagnostic("<a><caf\xC3\xA9></a>", 819);
    for (Src s : {Src::Varchar, Src::Clob})
        EXPECT_EQ(once("Varchar", s, "<a><caf\xE9></a>", "/a", 819).message, routineText(ref));
}

// Failures of the host's locator services carry the host's code and end the first call.
TEST_F(Accept, LocatorFailuresCarryTheHostCode) {
    struct Row {
        const char *kind;
        Src src;
        int32_t after; // successful service calls before the one that fails
        int32_t code;
    };
    const Row rows[] = {
        {"Varchar", Src::Clob, 0, -1002}, // document length
        {"Varchar", Src::Clob, 2, -1003}, // document read
        {"Clob", Src::Varchar, 0, -1006}, // result locator creation
        {"Clob2", Src::Clob, 1, -1003},   // DTD read
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
    struct Row {
        const char *kind;
        Src src;
        std::vector<Input> args;
        const char *state;
        std::string message; // a prefix for the parser's message
    };
    const Row rows[] = {
        {"Varchar",
         Src::Varchar,
         {Input("<a>x</a>"), Input::null()},
         "38X09",
         routineText(syntaxError(1))},
        {"Varchar",
         Src::Varchar,
         {Input::null(), Input("/a")},
         "38X13",
         "QAPQ047E  Parser error on line "},
        {"Integer",
         Src::Clob,
         {Input::null(), Input("/a")},
         "38X04",
         routineText(lobError(TARN_LOB_UNKNOWN_LOCATOR))},
        {"Real2",
         Src::Varchar,
         {Input("<a>1</a>"), Input::null(), Input("/a")},
         "38X04",
         routineText(lobError(TARN_LOB_UNKNOWN_LOCATOR))},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.kind);
        tarn::ScalarStatement st(descOf(member(r.kind), r.src));
        Outcome o = st.call(r.args);
        EXPECT_EQ(o.sqlstate, r.state);
        // a whole message ends with its newline; the parser's is compared up to its text
        EXPECT_EQ(r.message.back() == '\n' ? o.message : o.message.substr(0, r.message.size()),
                  r.message);
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
    // The limit counts bytes of the database code page.
    const std::string e3999 = std::string(3999, '\xE9');
    for (Src s : {Src::Varchar, Src::Clob}) {
        SCOPED_TRACE(srcName(s));
        Outcome latin = once("Varchar", s, "<a>" + e3999 + "</a>", "/a", 819);
        EXPECT_EQ(latin.sqlstate, "00000") << latin.message;
        EXPECT_EQ(latin.text, e3999);
        EXPECT_EQ(once("Varchar", s, "<a>" + repeat("\xC3\xA9", 2000) + "</a>", "/a").sqlstate,
                  "38X39");
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
            EXPECT_EQ(a.sqlstate, "38X39");
            EXPECT_EQ(a.message, routineText(MSG_TOO_LONG));
            EXPECT_TRUE(a.isNull());

            Outcome b = once(kind, s, "<a>" + ok + "</a>", "/a");
            EXPECT_EQ(b.sqlstate, "00000");
            EXPECT_EQ(b.message, "");
            // longer than 30 characters: no number for DOUBLE and REAL, atoi reads 7
            EXPECT_EQ(b.isNull(), !number);
            EXPECT_EQ(kind[0] == 'I' ? b.integer : kind[0] == 'S' ? b.smallint : 7, 7);
        }
}

// Attribute values are escaped before the limit applies; an empty one is NULL without a warning.
TEST_F(Accept, LimitAppliesToEscapedAttributeValues) {
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        Outcome fits = once("Varchar", s, "<a x='" + repeat("&amp;", 799) + "1234'/>", "/a/@x");
        EXPECT_EQ(fits.sqlstate, "00000");
        EXPECT_EQ(fits.text, repeat("&amp;", 799) + "1234");
        Outcome over = once("Varchar", s, "<a x='" + repeat("&amp;", 800) + "'/>", "/a/@x");
        EXPECT_EQ(over.sqlstate, "38X39");
        EXPECT_EQ(over.message, routineText(MSG_TOO_LONG));
        Outcome empty = once("Varchar", s, "<a x=''/>", "/a/@x");
        EXPECT_EQ(empty.sqlstate, "00000");
        EXPECT_EQ(empty.message, "");
        EXPECT_TRUE(empty.isNull());
    }
}

// ---- Typed results ----------------------------------------------------------------------------

TEST_F(Accept, DoubleAndRealFromText) {
    const double NUL = NAN; // a NULL result
    // 30 characters are read, 31 are not, counted before trailing blanks are cut; only blanks
    // and line feeds count as white space
    const std::pair<std::string, double> rows[] = {{" 12.5 ", 12.5},
                                                   {"\n12.5\n", 12.5},
                                                   {"+0012.50", 12.5},
                                                   {"1.5E+3", 1500.0},
                                                   {"-.5", -0.5},
                                                   {"5.", 5.0},
                                                   {"0e999", 0.0},
                                                   {"e5", 0.0},
                                                   {"1000e72", 1e75},
                                                   {"0.001e-76", 1e-79},
                                                   {"000.00012e-75", 1.2e-79},
                                                   {"0.5e76", 5e75},
                                                   {"0.0e-100", 0.0},
                                                   {"12.5" + std::string(26, ' '), 12.5},
                                                   {"12.5" + std::string(27, ' '), NUL},
                                                   {"000.00012e-76", NUL},
                                                   {"0.5e77", NUL},
                                                   {"1000e73", NUL},
                                                   {"0.0001e-76", NUL},
                                                   {"\t12.5", NUL},
                                                   {"12.5\t", NUL},
                                                   {"- 5", NUL},
                                                   {"12abc", NUL},
                                                   {"1e5x", NUL},
                                                   {"0x10", NUL},
                                                   {"inf", NUL},
                                                   {".", NUL}};
    for (const auto &r : rows)
        for (const char *kind : {"Double", "Double2", "Real", "Real2"})
            for (Src s : ALL_SOURCES) {
                SCOPED_TRACE("'" + r.first + "' " + kind + " from " + srcName(s));
                Outcome o = once(kind, s, "<a>" + r.first + "</a>", "/a");
                const bool isNull = std::isnan(r.second);
                EXPECT_EQ(o.sqlstate, "00000");
                EXPECT_EQ(o.message, "");
                EXPECT_EQ(o.isNull(), isNull);
                if (kind[0] == 'D')
                    EXPECT_DOUBLE_EQ(o.dbl, isNull ? 0.0 : r.second);
                else
                    EXPECT_FLOAT_EQ(o.real, isNull ? 0.0f : static_cast<float>(r.second));
            }
    // REAL is the double narrowed.
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
    const struct {
        const char *text;
        int32_t integer;
        int16_t smallint;
    } rows[] = {{"42 abc", 42, 42},
                {"abc", 0, 0},
                {"-17", -17, -17},
                {"\t\n +7", 7, 7},
                {"12.9", 12, 12},
                {"0x1F", 0, 0},
                {"2147483647", INT32_MAX, -1},
                {"-2147483648", INT32_MIN, 0},
                {"70000", 70000, 4464},
                {"-32769", -32769, 32767}};
    for (const auto &r : rows)
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
    const struct {
        const char *kind;
        const char *text;
        const char *state;
        const char *result; // null: NULL
    } rows[] = {
        {"Timestamp", "2005-6-5 1:2:3", "00000", "2005-06-05 01:02:03.000000"},
        {"Timestamp", "2005-06-05-1.2.3.123456", "00000", "2005-06-05-01.02.03.123456"},
        {"Timestamp", "2005-6-5-1.2.3.1", "00000", "2005-06-05-01.02.03.100000"},
        {"Timestamp", "2005-06-05 10.20:30.000001", "00000", "2005-06-05 10.20:30.000001"},
        {"Timestamp", "0000-99-99 99:99:99", "00000", "0000-99-99 99:99:99.000000"},
        {"Timestamp", "2005-06-05 10:20:30.", "38X29", nullptr},
        {"Timestamp", " 2005-06-05 10:20:30", "38X29", nullptr},
        {"Timestamp", "20050-6-5 1:2:3", "38X29", nullptr},
        {"Timestamp", "2005-06-05 10:20:30.1234567", "38X39", nullptr},
        {"Timestamp", "2005-6-5 1:2:3.1234567", "38X29", nullptr},
        {"Timestamp", "2005--5 10:20:30", "38X29", nullptr},
        {"Date", "not a date", "00000", "not a date"},
        {"Time", "  noon  ", "00000", "  noon  "},
    };
    for (const auto &r : rows)
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

// The warning "01HX0" keeps the context; an error on the first call drops it, and the calls
// after it return NULL without parsing. Whatever the member, NULL results and the final call
// leave the output empty, and the final call touches neither the SQLSTATE nor the message.
TEST_F(Accept, CallsOfAStatement) {
    const std::string doc = "<a><v>10</v><ts>2005-6-5 1:2:3</ts><e/></a>";
    auto expectEmpty = [](const Outcome &o) {
        EXPECT_TRUE(o.isNull());
        EXPECT_EQ(o.text, "");
        EXPECT_EQ(o.dbl, 0.0);
        EXPECT_EQ(o.real, 0.0f);
        EXPECT_EQ(o.integer, 0);
        EXPECT_EQ(o.smallint, 0);
        EXPECT_EQ(o.locator, 0u);
    };
    for (const Member &m : members())
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(m.kind) + " from " + srcName(s));
            const std::string arg = docArg(s, doc);
            const char *path = m.out == SqlType::Timestamp ? "/a/ts" : "/a/v";
            {
                tarn::ScalarStatement st(descOf(m, s));
                EXPECT_EQ(st.call(argsOf(m, arg, "/a/x")).sqlstate, "01HX0");
                ASSERT_NE(scratchOf(st)->ctx, nullptr);
                EXPECT_EQ(m.dtd, scratchOf(st)->dtdText != nullptr);
                Outcome value = st.call(argsOf(m, arg, path));
                EXPECT_EQ(value.sqlstate, "00000") << value.message;
                EXPECT_EQ(value.nullInd, 0);
                for (const char *none : {"/a/none", "/a/e", "/a/*"}) {
                    SCOPED_TRACE(none);
                    Outcome null = st.call(argsOf(m, arg, none));
                    if (m.out != SqlType::Clob || std::string(none) != "/a/e") expectEmpty(null);
                }
                Outcome fin = st.finish();
                EXPECT_EQ(fin.sqlstate, "00000");
                EXPECT_EQ(fin.message, "");
                expectEmpty(fin);
                EXPECT_EQ(scratchOf(st)->ctx, nullptr);
                EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
            }
            {
                tarn::ScalarStatement st(descOf(m, s));
                EXPECT_EQ(st.call(argsOf(m, arg, "/a/v*")).sqlstate, "38X09");
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
    const std::string digits = "<a>" + std::string(300, '1') + "</a>";
    const struct {
        const char *kind;
        std::string doc;
        const char *state;
    } rows[] = {
        {"Double", digits, "38X39"},
        {"Real2", digits, "38X39"},
        {"Integer", digits, "38X39"},
        {"Smallint", digits, "38X39"},
        {"Timestamp", "<a>2005-06-05</a>", "38X29"},
        {"Double2", "<a>12abc</a>", "00000"},
    };
    for (const auto &r : rows)
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
            if (m.out == SqlType::Clob)
                EXPECT_EQ(second.text, "<v>1.5</v>");
            else if (m.out == SqlType::Varchar)
                EXPECT_EQ(second.text, "1.5");
            else if (m.out == SqlType::Double)
                EXPECT_EQ(second.dbl, 1.5);
            else
                EXPECT_EQ(second.real, 1.5f);
        }
    }
}

// The document flags in the scratchpad; TARNQAP_MIN_TMPFILE_SIZE raises the size up to which
// a CLOB is parsed from memory.
TEST_F(Accept, DocumentFlagsAndFileThreshold) {
    for (Src s : ALL_SOURCES) {
        SCOPED_TRACE(srcName(s));
        const Member &m = member("Varchar");
        tarn::ScalarStatement st(descOf(m, s));
        EXPECT_EQ(st.call(argsOf(m, docArg(s, "<a>x</a>"), "/a")).text, "x");
        EXPECT_EQ(scratchOf(st)->docInDbCodePage, s == Src::File ? 0u : 1u);
        EXPECT_EQ(scratchOf(st)->docLoc, s == Src::File ? QAP_FILE : QAP_MEM);
    }
    const std::string doc = "<a><v>x</v><p>" + std::string(200000, 'p') + "</p></a>";
    for (const char *setting : std::vector<const char *>{"262144", "1000", nullptr}) {
        SCOPED_TRACE(setting == nullptr ? "unset" : setting);
        const bool raised = setting != nullptr && std::string(setting) == "262144";
        ScopedEnv env("TARNQAP_MIN_TMPFILE_SIZE", setting);
        const Member &m = member("Char");
        tarn::ScalarStatement st(descOf(m, Src::Clob));
        EXPECT_EQ(st.call(argsOf(m, doc, "/a/v")).text, "x");
        EXPECT_EQ(scratchOf(st)->docInDbCodePage, 1u);
        EXPECT_EQ(scratchOf(st)->docLoc, raised ? QAP_MEM : QAP_FILE);
        ASSERT_NE(scratchOf(st)->ctx, nullptr);
        EXPECT_EQ(scratchOf(st)->ctx->fileThreshold, raised ? 262144 : 131072);
    }
}

// A context that cannot be initialised or traced fails the first call; what is left of it goes
// with the final call.
TEST_F(Accept, FailedInitialisationOfTheFirstCall) {
    ScopedEnv instance("TARNINSTANCE", "accept");
    const std::string control = testing_support::tracePathDir() + "/qapaccept.ctl";
    const struct {
        const char *cause;
        int32_t db;
        const char *state;
        std::string message;
    } rows[] = {
        {"code page", 12345, "38X38", ""}, // no message
        {"start-up", 1208, "38X13", "QAPQ047E  Parser error on line 0 column 0: no parser \n"},
        {"trace", 1208, "38X03",
         routineText("QAPQ070E  Cannot open trace file /nonexistent/dir/accept.trc for output.")},
    };
    for (const auto &r : rows)
        for (Src s : ALL_SOURCES) {
            SCOPED_TRACE(std::string(r.cause) + " from " + srcName(s));
            if (r.cause[0] == 't')
                testing_support::writeFile(control, "/nonexistent/dir/accept.trc");
            if (r.cause[0] == 's') tarnXmlInitSimulate(-2, u"no parser");
            const Member &m = member("Clob2");
            tarn::ScalarStatement st(descOf(m, s), r.db);
            Outcome o = st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a"));
            tarnXmlInitSimulate(0, nullptr);
            remove(control.c_str());
            EXPECT_EQ(o.sqlstate, r.state);
            EXPECT_EQ(o.message, r.message);
            EXPECT_TRUE(o.isNull());
            EXPECT_EQ(o.locator, 0u);
            EXPECT_EQ(scratchOf(st)->dtdText, nullptr);
            EXPECT_NE(scratchOf(st)->ctx, nullptr); // the bare block, for the final call
            EXPECT_TRUE(st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a")).isNull());
            EXPECT_EQ(st.finish().sqlstate, "00000");
            EXPECT_EQ(scratchOf(st)->ctx, nullptr);
        }
}

// ---- Tagged CLOB results ---------------------------------------------------------------------

TEST_F(Accept, TaggedFragmentsByteForByte) {
    const std::string nested = "<r><a>1<a>2</a>3</a><b q='x'/></r>";
    const std::string whole = "<r><a>1<a>2</a>3</a><b q=\"x\"></b></r>";
    const struct {
        std::string doc;
        const char *path;
        const char *state;
        std::string fragment;
    } rows[] = {
        // text and attribute values escaped, attributes in document order, double quotes
        {"<r><x a='it&apos;s' b=\"q&quot;\" c='&lt;&gt;&amp;'>t &amp; &lt;x&gt; \"q\" 'a'</x></r>",
         "/r/x", "00000",
         "<x a=\"it&apos;s\" b=\"q&quot;\" c=\"&lt;&gt;&amp;\">t &amp; &lt;x&gt; &quot;q&quot; "
         "&apos;a&apos;</x>"},
        {"<r><x z='1'  y = \"2\"\n/></r>", "/r/x", "00000", "<x z=\"1\" y=\"2\"></x>"},
        // a match inside a match is part of the outer fragment
        {nested, "//a", "00000", "<a>1<a>2</a>3</a>"},
        {"<r><b>1<c><b>2</b></c>3</b></r>", "//b", "00000", "<b>1<c><b>2</b></c>3</b>"},
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
        // white space in element content arrives as character data (the reader does not
        // validate)
        {"<!DOCTYPE r [<!ELEMENT r (x)*><!ELEMENT x (#PCDATA)>]><r> <x> t </x>\n</r>", "/r",
         "00000", "<r> <x> t </x>\n</r>"},
    };
    for (const auto &r : rows)
        for (const char *kind : {"Clob", "Clob2"})
            expectValue(kind, r.doc, r.path, r.state, r.fragment);
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

// ---- Location paths through the routines ------------------------------------------------------

// One value or none: "38X08" for several matches, "01HX0" for none, NULL for an empty value.
TEST_F(Accept, PathEdgeCases) {
    const struct {
        const char *doc;
        const char *path;
        const char *state;
        const char *value; // "": NULL
    } rows[] = {
        {"<a>y</a>", "/a//a", "01HX0", ""},
        {"<a a='1'>y</a>", "//@a", "01HX0", ""},
        {"<a>y</a>", "//", "01HX0", ""},
        {"<a>y</a>", "/", "01HX0", ""},
        {"<a><b>1</b><c>2</c></a>", "/a/*", "38X08", ""},
        {"<a><b>1</b></a>", "//*", "00000", "1"}, // the root's own text is empty
        {"<a><b x='1'>p</b></a>", "/a/b[@x=\"1 \"]", "01HX0", ""},
        {"<a><b>1</b></a>", "/a/b[1]", "00000", "1"},
        {"<p:e xmlns:p='urn:p'>v</p:e>", "/p:e", "00000", "v"},
        {"<p:e xmlns:p='urn:p'>v</p:e>", "/e", "01HX0", ""},
        {"<a><b/></a>", "/a/b/@c", "01HX0", ""},
        {"<a><b c='1' d='2'/></a>", "/a/b/@*", "38X08", ""},
        {"<a><b><c>y</c></b></a>", "/a/b", "00000", ""},
        {"<a><b> </b></a>", "/a/b", "00000", " "},
        {"<a><b x='1' y='3'>v</b></a>", "/a/b[@x=\"1\"][@y=\"2\"]", "00000", "v"},
        {"<a><b>v</b></a>", "/a/b/", "00000", "v"},
        {"<a><b>v</b></a>", "/a//", "00000", ""},
        {"<a x='1'/>", "/a/@", "01HX0", ""},
        // a match reached through a non-matching child starts a new value
        {"<r><b>1<c><b>2</b></c>3</b></r>", "//b", "38X08", ""},
        {"<r><b c='1'><b c='2'/></b></r>", "/r/b/@c", "00000", "1"},
        {"<r><b c='1'><b c='2'/></b></r>", "//b/@c", "38X08", ""},
        // without namespaces, prefixed names are names like any other
        {"<a xmlns:p='u' p:x='1' q:x='2'/>", "/a[@p:x=\"1\"]/@q:x", "00000", "2"},
        {"<a xmlns:p='u' p:x='1'/>", "/a/@xmlns:p", "00000", "u"},
        {"<a xmlns:p='u' p:x='1'/>", "/a/@x", "01HX0", ""},
    };
    for (const auto &r : rows)
        expectValue("Varchar", r.doc, r.path, r.state, r.value);
}

// The DTD a DOCTYPE names is never read, even when it exists: it reads as empty, or as the DTD
// text of a "2" variant, which stands in for it and only for it.
TEST_F(Accept, DtdTextStandsInForTheNamedDtd) {
    const std::string named =
        testing_support::writeFile("named.dtd", "<!ATTLIST a k CDATA 'file'>");
    const std::string dtd = "<!ENTITY e \"from dtd\"><!ATTLIST v k CDATA \"dk\">"
                            "<!ATTLIST a k CDATA 'text'>";
    const std::string existing = "<!DOCTYPE a SYSTEM '" + named + "'><a/>";
    const struct {
        const char *kind;
        std::string doc;
        const char *path;
        const char *state;
        const char *value;
    } rows[] = {
        {"Varchar2", "<!DOCTYPE a SYSTEM '/nonexistent/a.dtd'><a><v>&e;</v></a>", "/a/v", "00000",
         "from dtd"},
        {"Varchar2", "<!DOCTYPE a SYSTEM 'a.dtd'><a><v/></a>", "/a/v/@k", "00000", "dk"},
        // without a DOCTYPE, or with only an internal subset, the text is not read
        {"Varchar2", "<a><v>&e;</v></a>", "/a/v", "38X13", ""},
        {"Varchar2", "<!DOCTYPE a [<!ELEMENT a ANY>]><a><v>&e;</v></a>", "/a/v", "38X13", ""},
        {"Varchar2", existing, "/a/@k", "00000", "text"},
        {"Varchar", existing, "/a/@k", "01HX0", ""},
        {"Clob", existing, "/a", "00000", "<a></a>"},
    };
    for (const auto &r : rows)
        expectValue(r.kind, r.doc, r.path, r.state, r.value, ALL_SOURCES, 1208, dtd);
}

// ---- Database code pages --------------------------------------------------------------------

// Documents, paths and DTD texts in the database code page, from a VARCHAR and from a CLOB.
TEST_F(Accept, DocumentsAndPathsInTheDatabaseCodePage) {
    const std::string latin = "<a><b t='\xE9'>caf\xE9</b><caf\xE9>x</caf\xE9></a>";
    const std::string ebcdic = inCodePage(37, "<a><b k=\"\xC3\xA9\">12.5</b></a>");
    const std::string nihon = "<a>\xE6\x97\xA5\xE6\x9C\xAC</a>";
    const struct {
        int32_t db;
        std::string doc;
        std::string path;
        const char *kind;
        std::string value;
    } rows[] = {
        {819, latin, "/a/b", "Varchar", "caf\xE9"},
        {819, latin, "/a/b/@t", "Varchar", "\xE9"},
        {819, latin, "/a/caf\xE9", "Char", "x"},
        {819, latin, "/a/b", "Clob", "<b t=\"\xE9\">caf\xE9</b>"},
        // the database encoding wins over the declaration
        {819, "<?xml version='1.0' encoding='UTF-8'?><a>caf\xE9</a>", "/a", "Varchar", "caf\xE9"},
        // the DTD text is read in it too
        {819, "<!DOCTYPE a SYSTEM 'a.dtd'><a>&e;</a>", "/a", "Varchar2", "caf\xE9"},
        {1252, "<a>\x80 \x9C</a>", "/a", "Varchar", "\x80 \x9C"},
        {37, ebcdic, inCodePage(37, "/a/b"), "Varchar", inCodePage(37, "12.5")},
        {37, ebcdic, inCodePage(37, "/a/b/@k"), "Varchar", inCodePage(37, "\xC3\xA9")},
        {37, ebcdic, inCodePage(37, "/a/b"), "Clob", inCodePage(37, "<b k=\"\xC3\xA9\">12.5</b>")},
        {943, inCodePage(943, nihon), "/a", "Varchar", inCodePage(943, "\xE6\x97\xA5\xE6\x9C\xAC")},
        {954, inCodePage(33722, nihon), "/a", "Varchar",
         inCodePage(33722, "\xE6\x97\xA5\xE6\x9C\xAC")},
        {1383, inCodePage(1383, "<a>\xE4\xB8\xAD</a>"), "/a", "Clob",
         inCodePage(1383, "<a>\xE4\xB8\xAD</a>")},
    };
    for (const auto &r : rows)
        expectValue(r.kind, r.doc, r.path, "00000", r.value, {Src::Varchar, Src::Clob}, r.db,
                    "<!ENTITY e 'caf\xE9'>");
}

// A CLOB parsed from memory ends at its first NUL byte; one spilled to a temporary file is
// still read in the database encoding.
TEST_F(Accept, ClobsInMemoryAndSpilled) {
    Outcome o = once("Varchar", Src::Clob, std::string("<a>x</a>\0<b>", 12), "/a");
    EXPECT_EQ(o.sqlstate, "00000") << o.message;
    EXPECT_EQ(o.text, "x");

    const std::string doc = "<?xml version='1.0' encoding='UTF-8'?><a><v>caf\xE9</v><p>" +
                            std::string(200000, '\xE9') + "</p></a>";
    const Member &m = member("Varchar");
    tarn::ScalarStatement st(descOf(m, Src::Clob), 819);
    o = st.call(argsOf(m, doc, "/a/v"));
    EXPECT_EQ(o.sqlstate, "00000") << o.message;
    EXPECT_EQ(o.text, "caf\xE9");
    EXPECT_EQ(scratchOf(st)->docLoc, QAP_FILE);
}

// A server file is read in the encoding the parser detects, and its values are returned in the
// database code page.
TEST_F(Accept, FilesAreDetectedAndValuesConverted) {
    const struct {
        std::string doc;
        const char *state;
        const char *value;
    } rows[] = {
        {"<a>caf\xC3\xA9</a>", "00000", "caf\xE9"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>", "00000", "caf\xE9"},
        {std::string("\xFE\xFF\0<\0a\0>\0\xE9\0<\0/\0a\0>", 18), "00000", "\xE9"},
        // bytes of the database code page without a declaration are not UTF-8
        {"<a>caf\xE9</a>", "38X13", ""},
    };
    for (const auto &r : rows)
        expectValue("Varchar", r.doc, "/a", r.state, r.value, {Src::File}, 819);
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

// Spot checks of rows the routines issue: SQLSTATE, code and text; the rows around the table.
TEST(AcceptTables, RowsTheRoutinesIssue) {
    const struct {
        int number;
        const char *state;
        int32_t code;
        const char *text;
    } rows[] = {
        {73, "38X01", -80, "QAPC001E  The specified file is not found."},
        {76, "38X04", -50, "QAPC004E  Unable to operate the LOB Locator: rc=%s."},
        {85, "38X39", -53,
         "QAPC013E  The results of the extract UDF exceed the size limit for the UDF return type."},
        {87, "38X08", -55, "QAPD001E  %s occurs multiple times."},
        {88, "38X09", -94,
         "QAPD002E  A syntax error occurred near position %s in the search path."},
        {89, "01HX0", 1, "QAPD003W  Path not found.  Null is returned."},
        {154, "00000", -112, "QAPQ047E  Parser error on line %s column %s: %s "},
        {168, "38X29", -141, "QAPQ061E  The format of the string is invalid."},
        {177, "00000", -148, "QAPQ070E  Cannot open trace file %s for output."},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.number);
        EXPECT_STREQ(qapSqlStateTable[r.number].sqlstate, r.state);
        EXPECT_EQ(qapSqlStateTable[r.number].code, r.code);
        EXPECT_STREQ(qapMessageTable[r.number], r.text);
    }
    for (int empty : {0, 181}) {
        EXPECT_STREQ(qapMessageTable[empty], "");
        EXPECT_STREQ(qapSqlStateTable[empty].sqlstate, "");
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

// The code of a state is that of its first row; states are compared in full and by case.
TEST(AcceptTables, StateToCodeTakesTheFirstRow) {
    const std::pair<const char *, int32_t> rows[] = {
        {"38X13", -85},       {"38X39", -53},      {"38X04", -50},       {"38X08", -55},
        {"38X09", -94},       {"38X29", -73},      {"38X03", -49},       {"38x33", -91},
        {"38X33", INT32_MIN}, {"0000", INT32_MIN}, {"000000", INT32_MIN}};
    for (const auto &r : rows) {
        int32_t code = 7;
        qapStateToCode(nullptr, &code, r.first);
        EXPECT_EQ(code, r.second) << r.first;
    }
}

// The full texts of the denied-access messages (the rule itself: test_security.cpp).
TEST(AcceptFiles, DeniedAccessMessages) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    tarnRegistrySet(TARN_REG_READ_ACCESS, "/xml");
    tarnRegistrySet(TARN_REG_WRITE_ACCESS, "");
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    EXPECT_EQ(qapChkRegistry(ctx, 0, "/xm", sqlstate, msgtext), -1);
    EXPECT_STREQ(sqlstate, "38X02");
    EXPECT_STREQ(msgtext, "QAPC002E  Unable to read file.\n");
    strcpy(sqlstate, "00000");
    EXPECT_EQ(qapChkRegistry(ctx, 1, "/xml/a", sqlstate, msgtext), -1);
    EXPECT_STREQ(sqlstate, "38X03");
    EXPECT_STREQ(msgtext, "QAPC003E  Unable to write to the specified file.\n");
    tarnRegistrySet(TARN_REG_READ_ACCESS, nullptr);
    tarnRegistrySet(TARN_REG_WRITE_ACCESS, nullptr);
}
