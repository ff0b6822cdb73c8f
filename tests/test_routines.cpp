// The scalar extract routines as the host calls them: exact SQLSTATEs and message texts, limits
// at their exact bytes, the values of every result kind, the calls of one statement, tagged
// fragments byte for byte, DTD texts, database code pages and CLOB documents spilled to files.
#include "qapExtractKinds.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "tarnCall.h"
#include "tarnTestHooks.h"
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

using tarn::Input;
using tarn::Outcome;
using tarn::SqlType;
using tesseltest::repeat;
using tesseltest::ScopedEnv;

namespace {

// ---- Calling the routines -------------------------------------------------------------------

enum class Src { FILE, VARCHAR, CLOB };
const std::initializer_list<Src> kAllSources = {Src::FILE, Src::VARCHAR, Src::CLOB};

const char *srcName(Src s) {
    return s == Src::FILE ? "file" : s == Src::VARCHAR ? "VARCHAR" : "CLOB";
}

// One result kind with its three members (file, VARCHAR, CLOB), named after its output type:
// "Varchar", "Varchar2", ... from the scalar extract rows of the catalogue.
struct Member {
    std::string kind;
    SqlType out;
    bool dtd;
    std::string name[3];
};

const std::vector<Member> &members() {
    static const std::vector<Member> all = [] {
        std::vector<Member> m;
        for (const tessel::RoutineInfo &r : tessel::kCatalog) {
            if (std::string(r.family) != "qapExtractScalar" || r.source != tessel::Source::FILE)
                continue;
            const std::string kind = std::string(r.name).substr(10); // after "qapExtract"
            const bool dtd = r.count == 3;
            const std::string base = dtd ? kind.substr(0, kind.size() - 1) : kind;
            const std::string suffix = dtd ? "2" : "";
            m.push_back(Member{kind,
                               r.result,
                               dtd,
                               {r.name, "qapExtract" + base + "FromVarchar" + suffix,
                                "qapExtract" + base + "FromClob" + suffix}});
        }
        return m;
    }();
    return all;
}

const Member &member(const std::string &kind) {
    for (const Member &m : members())
        if (kind == m.kind) return m;
    throw std::invalid_argument("no member " + kind);
}

tarn::RoutineDesc descOf(const Member &m, Src s) {
    return tesseltest::routine(m.name[static_cast<int>(s)]);
}

// The document argument: the text itself, or the name of a new file holding it.
std::string docArg(Src s, const std::string &doc) {
    static int counter = 0;
    if (s != Src::FILE) return doc;
    return tesseltest::writeFile("doc" + std::to_string(++counter) + ".xml", doc);
}

const char *const kNoDtd = "<!ENTITY unused 'u'>";

std::vector<Input> argsOf(const Member &m, const std::string &doc, const std::string &path,
                          const std::string &dtd = kNoDtd) {
    std::vector<Input> in{Input(doc)};
    if (m.dtd) in.emplace_back(dtd);
    in.emplace_back(path);
    return in;
}

// One statement with one call (first call, then the final call).
Outcome once(const std::string &kind, Src s, const std::string &doc, const std::string &path,
             int32_t db = 1208, const std::string &dtd = kNoDtd) {
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
                 std::initializer_list<Src> sources = kAllSources, int32_t db = 1208,
                 const std::string &dtd = kNoDtd) {
    for (Src s : sources) {
        SCOPED_TRACE(std::string(kind) + " " + doc.substr(0, 200) + " " + path + " from " +
                     srcName(s));
        Outcome o = once(kind, s, doc, path, db, dtd);
        EXPECT_EQ(o.sqlstate, state) << o.message;
        EXPECT_EQ(o.text, value);
        EXPECT_EQ(o.isNull(), value.empty());
    }
}

// The value of an outcome as text: "NULL", the text, or the number.
std::string shown(const Outcome &o, SqlType t) {
    char n[32];
    snprintf(n, sizeof n, "%g", t == SqlType::DOUBLE ? o.dbl : static_cast<double>(o.real));
    return o.isNull()                                   ? "NULL"
           : t == SqlType::INTEGER                      ? std::to_string(o.integer)
           : t == SqlType::SMALLINT                     ? std::to_string(o.smallint)
           : t == SqlType::DOUBLE || t == SqlType::REAL ? n
                                                        : o.text;
}

// A message as a routine receives it: at most 70 characters, the last one a newline.
std::string routineText(const std::string &full) {
    if (full.size() < 70) return full + "\n";
    size_t n = 69; // never inside a UTF-8 character
    while (n > 0 && (static_cast<unsigned char>(full[n]) & 0xC0) == 0x80)
        --n;
    return full.substr(0, n) + "\n";
}

const std::string kMsgTooLong =
    "QAPC013E  The results of the extract UDF exceed the size limit for the UDF return type.";
const std::string kMsgNotFound = "QAPD003W  Path not found.  Null is returned.";
const std::string kMsgBadFormat = "QAPQ061E  The format of the string is invalid.";

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

class Routines : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_NE(isSharedLibInitSuccess(), 0); }
    void TearDown() override {
        tarnLobFailAfter(-1, 0);
        EXPECT_TRUE(tesseltest::listDir(tesseltest::tempDir()).empty())
            << "a temporary file outlived its call";
    }
};

} // namespace

// ---- Message texts, byte for byte ----------------------------------------------------------

TEST_F(Routines, MessageTextsReachTheHostCutAndEndedByANewline) {
    const std::string two = "<a><b>1</b><b>2</b></a>";
    const std::string e40 = repeat("\xC3\xA9", 40);
    const struct {
        const char *kind;
        std::string doc, path;
        const char *state;
        std::string full; // the message before the cut
    } rows[] = {
        {"Varchar", two, "/a/b", "38X08", "QAPD001E  /a/b occurs multiple times."},
        // the cut counts bytes: here it falls inside a two-byte character
        {"Varchar", "<a>" + repeat("<b" + e40 + "/>", 2) + "</a>", "/a/b" + e40, "38X08",
         "QAPD001E  /a/b" + e40 + " occurs multiple times."},
        // the path is an argument, not a format
        {"Varchar", "<a><b k='%d%%'/><b k='%d%%'/></a>", "/a/*[@k=\"%d%%\"]", "38X08",
         "QAPD001E  /a/*[@k=\"%d%%\"] occurs multiple times."},
        {"Integer", two, "a/b", "38X09", syntaxError(1)},
        // positions count UTF-16 units, not bytes
        {"Varchar", two, "/\xC3\xA9\xC3\xA9/b*", "38X09", syntaxError(5)},
        {"Varchar", two, "/a[@x=\"\xF0\x9F\x98\x80\"]/b*", "38X09", syntaxError(13)},
        {"Varchar", two, "/a/zz", "01HX0", kMsgNotFound},
        {"Char", "<a>" + std::string(254, 'c') + "</a>", "/a", "38X39", kMsgTooLong},
        {"Timestamp", "<a>2005/06/05 10:20:30</a>", "/a", "38X29", kMsgBadFormat},
    };
    for (const auto &r : rows)
        for (Src s : kAllSources) {
            SCOPED_TRACE(std::string(r.kind) + " " + r.path + " from " + srcName(s));
            Outcome o = once(r.kind, s, r.doc, r.path);
            EXPECT_EQ(o.sqlstate, r.state);
            EXPECT_EQ(o.message, routineText(r.full));
            EXPECT_TRUE(o.isNull());
        }
    // Message arguments are database text too.
    Outcome o = once("Varchar", Src::VARCHAR, "<a><caf\xE9/><caf\xE9/></a>", "/a/caf\xE9", 819);
    EXPECT_EQ(o.message, "QAPD001E  /a/caf\xE9 occurs multiple times.\n");
    for (const char *kind : {"Varchar", "Clob2"}) {
        const Member &m = member(kind);
        tarn::ScalarStatement st(descOf(m, Src::FILE));
        o = st.call(argsOf(m, tesseltest::scratchDir() + "/absent.xml", "/a"));
        EXPECT_EQ(o.sqlstate, "38X01");
        EXPECT_EQ(o.message, "QAPC001E  The specified file is not found.\n");
        EXPECT_TRUE(o.isNull());
    }
}

// A malformed document: QAPQ047E with the parser's line, column and text (in the database code
// page), cut to 70 bytes. Every diagnostic ends the parse, a warning (an attribute declared
// twice) too.
TEST_F(Routines, ParserErrorsCarryLineColumnAndText) {
    const std::string at = "QAPQ047E  Parser error on line ";
    const struct {
        int32_t db;
        std::string doc, message;
    } rows[] = {
        {1208, "<a>\n<b>\n</c></a>", at + "3 column 3: expected end of tag 'b' \n"},
        {1208, "<a>x</a><b/>", at + "1 column 9: comment or processing inst\n"},
        {1208, "", at + "1 column 1: invalid document structure\n"},
        {1208, "<!DOCTYPE a [<!ATTLIST a c CDATA \"1\"><!ATTLIST a c CDATA \"2\">]><a>x</a>",
         at + "1 column 51: attribute 'c' has already\n"},
        {1208, "<a" + repeat("\xC3\xA9", 3000) + "></b>",
         at + "1 column 3006: expected end of tag 'a\n"}, // cut before the cut character
        {819, "<a><caf\xE9></a>", at + "1 column 12: expected end of tag 'caf\xE9\n"},
    };
    for (const auto &r : rows)
        for (Src s : kAllSources) {
            if (r.db != 1208 && s == Src::FILE) continue; // a file is not in the database code page
            SCOPED_TRACE(r.doc.substr(0, 80) + " from " + srcName(s));
            Outcome o = once("Varchar", s, r.doc, "/a", r.db);
            EXPECT_EQ(o.sqlstate, "38X13");
            EXPECT_EQ(o.message, r.message);
            EXPECT_TRUE(o.isNull());
        }
}

// Failures of the host's locator services carry the host's code. On the first call they end
// the statement's work (the next call returns NULL without parsing); on a normal call the
// calls after it go on.
TEST_F(Routines, LocatorFailuresCarryTheHostCode) {
    const struct {
        const char *kind;
        Src src;
        bool normalCall; // fails on a normal call rather than on the first
        int32_t after;   // successful service calls before the one that fails
        int32_t code;
    } rows[] = {
        {"Varchar", Src::CLOB, false, 0, -1002}, // document length
        {"Varchar", Src::CLOB, false, 2, -1003}, // document read
        {"Clob", Src::VARCHAR, false, 0, -1006}, // result locator creation
        {"Clob2", Src::CLOB, false, 1, -1003},   // DTD read
        {"Char", Src::CLOB, true, 2, -1003},     // document read
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.kind) + " from " + srcName(r.src) + " after " +
                     std::to_string(r.after));
        const Member &m = member(r.kind);
        tarn::ScalarStatement st(descOf(m, r.src));
        const std::vector<Input> args = argsOf(m, docArg(r.src, "<a><b>1.5</b></a>"), "/a/b");
        if (r.normalCall) {
            EXPECT_EQ(st.call(args).nullInd, 0);
        }
        tarnLobFailAfter(r.after, r.code);
        Outcome o = st.call(args);
        tarnLobFailAfter(-1, 0);
        EXPECT_EQ(o.sqlstate, "38X04");
        EXPECT_EQ(o.message, routineText(lobError(r.code)));
        EXPECT_TRUE(o.isNull());
        Outcome next = st.call(args);
        EXPECT_EQ(next.sqlstate, "00000");
        EXPECT_EQ(next.isNull(), !r.normalCall);
        EXPECT_EQ(st.finish().sqlstate, "00000");
    }
}

// ---- Limits ---------------------------------------------------------------------------------

// A value must be shorter than the member's limit in database bytes: L - 1 bytes are returned,
// L bytes give "38X39".
TEST_F(Routines, EachMemberRefusesAValueOfItsLimit) {
    const std::string stamp = "2005-12-31 23:59:59.123456"; // 26 characters
    const struct {
        const char *kind;
        std::string fits;    // the longest value returned
        std::string refused; // one byte more
    } rows[] = {
        {"Varchar", std::string(3999, 'v'), std::string(4000, 'v')},
        {"Varchar", repeat("\xE2\x82\xAC", 1333), repeat("\xE2\x82\xAC", 1333) + "x"},
        {"Char", std::string(253, 'c'), std::string(254, 'c')},
        {"Char", repeat("\xC3\xA9", 126) + "c", repeat("\xC3\xA9", 127)},
        {"Date", "2005-06-05", "2005-06-05x"},
        {"Time", "10:20:30", "10:20:30x"},
        {"Timestamp", stamp, stamp + "7"},
    };
    for (const auto &r : rows)
        for (Src s : kAllSources) {
            SCOPED_TRACE(std::string(r.kind) + " " + std::to_string(r.fits.size()) + " from " +
                         srcName(s));
            Outcome ok = once(r.kind, s, "<a>" + r.fits + "</a>", "/a");
            EXPECT_EQ(ok.sqlstate, "00000") << ok.message;
            EXPECT_EQ(ok.nullInd, 0);
            EXPECT_EQ(ok.text, r.fits);
            Outcome over = once(r.kind, s, "<a>" + r.refused + "</a>", "/a");
            EXPECT_EQ(over.sqlstate, "38X39");
            EXPECT_EQ(over.message, routineText(kMsgTooLong));
            EXPECT_TRUE(over.isNull());
            EXPECT_EQ(over.text, "");
        }
    // The limit counts bytes of the database code page.
    const std::string e3999 = std::string(3999, '\xE9');
    for (Src s : {Src::VARCHAR, Src::CLOB}) {
        SCOPED_TRACE(srcName(s));
        EXPECT_EQ(once("Varchar", s, "<a>" + e3999 + "</a>", "/a", 819).text, e3999);
        EXPECT_EQ(once("Varchar", s, "<a>" + repeat("\xC3\xA9", 2000) + "</a>", "/a").sqlstate,
                  "38X39");
    }
    // Attribute values are escaped before the limit applies; an empty one is NULL.
    for (Src s : kAllSources) {
        SCOPED_TRACE(srcName(s));
        const std::string amps = repeat("&amp;", 799);
        EXPECT_EQ(once("Varchar", s, "<a x='" + amps + "1234'/>", "/a/@x").text, amps + "1234");
        EXPECT_EQ(once("Varchar", s, "<a x='" + amps + "&amp;'/>", "/a/@x").sqlstate, "38X39");
        Outcome empty = once("Varchar", s, "<a x=''/>", "/a/@x");
        EXPECT_EQ(empty.sqlstate, "00000");
        EXPECT_TRUE(empty.isNull());
    }
}

// Typed members: 255 bytes of text from a file or VARCHAR (the 256-byte conversion buffer),
// 253 from a CLOB (limit 254); one byte more is refused with "38X39".
TEST_F(Routines, TypedMembersRefuseTextBeyondTheirBuffer) {
    for (const char *kind : {"Double", "Double2", "Real", "Real2", "Integer", "Smallint"})
        for (Src s : kAllSources) {
            SCOPED_TRACE(std::string(kind) + " from " + srcName(s));
            const std::string ok = "7" + std::string(s == Src::CLOB ? 252 : 254, ' ');
            Outcome a = once(kind, s, "<a>" + ok + "x</a>", "/a");
            EXPECT_EQ(a.sqlstate + a.message + shown(a, member(kind).out),
                      "38X39" + routineText(kMsgTooLong) + "NULL");
            Outcome b = once(kind, s, "<a>" + ok + "</a>", "/a");
            EXPECT_EQ(b.sqlstate, "00000");
            // longer than 30 characters: no number for DOUBLE and REAL; atoi reads 7
            const bool number = kind[0] == 'I' || kind[0] == 'S';
            EXPECT_EQ(shown(b, member(kind).out), number ? "7" : "NULL");
        }
}

// ---- Values of the result kinds ---------------------------------------------------------------

TEST(Conversions, NumbersFromText) {
    const struct {
        std::string text;
        double value;
        int32_t err;
    } rows[] = {// blanks and line feeds around the number; a point or an exponent alone
                {" 12.5 ", 12.5, 0},
                {"\n12.5\n", 12.5, 0},
                {"+0012.50", 12.5, 0},
                {"1.5E-3", 0.0015, 0},
                {"-.5", -0.5, 0},
                // the decimal exponent of the leading digit: -79 to 75
                {"1000e73", 0, kAtofRange},
                {"0.001e-76", 1e-79, 0},
                {"000.00012e-76", 0, kAtofRange},
                // 30 characters are read, 31 are not, counted before trailing blanks are cut
                {"123456789012345678901234567890", 123456789012345678901234567890.0, 0},
                {"12.5" + std::string(26, ' '), 12.5, 0},
                {"12.5" + std::string(27, ' '), 0, kAtofTooLong},
                // only blanks and line feeds are white space
                {"\t12.5", 0, kAtofSyntax},
                {"- 5", 0, kAtofSyntax},
                {"12abc", 0, kAtofSyntax},
                {"1e", 0, kAtofSyntax},
                {" ", 0, kAtofUnconverted}};
    for (const auto &r : rows) {
        SCOPED_TRACE("'" + r.text + "'");
        std::string text = r.text;
        int32_t err = 99;
        EXPECT_DOUBLE_EQ(qapAtof(&text[0], &err), r.value);
        EXPECT_EQ(err, r.err);
    }
    // Decimals of up to 18 digits, the point anywhere: the same bits as strtod.
    std::mt19937_64 rng(7);
    for (int k = 0; k < 200000; ++k) {
        std::string text = rng() % 3 == 0 ? "-" : "";
        const int digits = 1 + static_cast<int>(rng() % 18);
        const int point = static_cast<int>(rng() % (digits + 2));
        for (int i = 0; i < digits; ++i) {
            if (i == point) text += '.';
            text += static_cast<char>('0' + (rng() % (i < 3 ? 3 : 10)));
        }
        const double expected = strtod(text.c_str(), nullptr);
        int32_t err = 99;
        const double got = qapAtof(&text[0], &err);
        ASSERT_EQ(err, 0) << text;
        ASSERT_EQ(memcmp(&got, &expected, sizeof got), 0) << text;
    }
}

// Integers as atol reads them, cut to 32 and 16 bits, whatever the text.
TEST(Conversions, IntegersAsAtolReadsThem) {
    sqludf_scratchpad pad{};
    QapArgs args{};
    args.scratchpad = &pad;
    QapCall call(tessel::routine(tessel::RoutineId::qapExtractInteger), args);
    std::vector<std::string> texts = {"",
                                      "-",
                                      "+-1",
                                      "-0",
                                      "007",
                                      "123abc",
                                      " 12",
                                      "\t-5",
                                      "2147483648",
                                      "-2147483649",
                                      "123456789012345678",
                                      "9223372036854775807",
                                      "-9223372036854775809",
                                      "99999999999999999999999",
                                      "\xD9\xA3"};
    std::mt19937_64 rng(11);
    for (int k = 0; k < 100000; ++k) {
        std::string text = k % 3 == 0 ? "-" : k % 7 == 0 ? "+" : "";
        for (int i = 1 + static_cast<int>(rng() % 21); i > 0; --i)
            text += static_cast<char>('0' + rng() % 10);
        if (k % 5 == 0) text += "x1";
        texts.push_back(text);
    }
    for (std::string &text : texts) {
        int32_t integer = 0;
        int16_t smallint = 0;
        qapToInteger(call, &text[0], &integer);
        qapToSmallint(call, &text[0], &smallint);
        ASSERT_EQ(integer, static_cast<int32_t>(atol(text.c_str()))) << text;
        ASSERT_EQ(smallint, static_cast<int16_t>(atoi(text.c_str()))) << text;
    }
}

// REAL rounds to the nearest float: the largest float's usual printed forms are that float, and
// only from half a step above it on is a value infinite.
TEST(Conversions, RealsRoundToTheNearestFloat) {
    sqludf_scratchpad pad{};
    QapArgs args{};
    args.scratchpad = &pad;
    QapCall call(tessel::routine(tessel::RoutineId::qapExtractReal), args);
    const struct {
        const char *text;
        float value;
    } rows[] = {{"3.4028235e38", FLT_MAX},
                {"-3.40282356e38", -FLT_MAX},
                {"3.40282356e38", FLT_MAX},
                {"3.4028236e38", HUGE_VALF},
                {"-1e39", -HUGE_VALF},
                {"1.17549435e-38", FLT_MIN},
                {"0.1", 0.1f}};
    for (const auto &r : rows) {
        std::string text = r.text;
        float out = 0;
        EXPECT_EQ(qapToReal(call, &text[0], &out), 0) << r.text;
        EXPECT_EQ(out, r.value) << r.text;
    }
}

TEST(Conversions, TimestampsNormalised) {
    const struct {
        const char *text;
        const char *result; // null: refused
    } rows[] = {
        {"2005-6-5 1:2:3", "2005-06-05 01:02:03.000000"},
        {"2005-06-05-1.2.3.123456", "2005-06-05-01.02.03.123456"},
        {"0000-99-99 99:99:99", "0000-99-99 99:99:99.000000"}, // no range checks
        {"2005-6-5 1:2:3.1234567", nullptr},
        {"2005-06-05 10:20:30.1234567", nullptr}, // 27 characters
    };
    for (const auto &r : rows) {
        char out[27];
        memset(out, '0', 26);
        out[26] = '\0';
        const int32_t n = static_cast<int32_t>(strlen(r.text));
        EXPECT_EQ(qapNormalTstamp(nullptr, r.text, n, out), r.result ? 0 : -1) << r.text;
        if (r.result) {
            EXPECT_STREQ(out, r.result);
        }
    }
}

// ---- The calls of one statement --------------------------------------------------------------

// The warning "01HX0" and errors on normal calls keep the context; an error on the first call
// drops it, and the calls after it return NULL without parsing. NULL results and the final call
// leave the output empty, and the final call touches neither the SQLSTATE nor the message.
TEST_F(Routines, CallsOfAStatement) {
    const std::string doc = "<a><v>10</v><ts>2005-6-5 1:2:3</ts><e/></a>";
    auto expectEmpty = [](const Outcome &o) { // NULL, and every output untouched
        EXPECT_EQ(
            std::make_tuple(o.isNull(), o.text, o.dbl, o.real, o.integer, o.smallint, o.locator),
            std::make_tuple(true, std::string(), 0.0, 0.0f, 0, int16_t(0), 0u));
    };
    for (const Member &m : members())
        for (Src s : kAllSources) {
            SCOPED_TRACE(std::string(m.kind) + " from " + srcName(s));
            const std::string arg = docArg(s, doc);
            const bool stamp = m.out == SqlType::TIMESTAMP;
            const char *path = stamp ? "/a/ts" : "/a/v";
            const std::string value = stamp                    ? "2005-06-05 01:02:03.000000"
                                      : m.out == SqlType::CLOB ? "<v>10</v>"
                                                               : "10";
            {
                tarn::ScalarStatement st(descOf(m, s));
                EXPECT_EQ(st.call(argsOf(m, arg, "/a/x")).sqlstate, "01HX0");
                EXPECT_EQ(shown(st.call(argsOf(m, arg, path)), m.out), value);
                EXPECT_EQ(st.call(argsOf(m, arg, "/a/v*")).sqlstate, "38X09");
                EXPECT_EQ(st.call(argsOf(m, docArg(s, "<a>"), path)).sqlstate, "38X13");
                EXPECT_EQ(shown(st.call(argsOf(m, arg, path)), m.out), value);
                for (const char *none : {"/a/none", "/a/e", "/a/*"}) {
                    SCOPED_TRACE(none);
                    Outcome null = st.call(argsOf(m, arg, none));
                    if (m.out != SqlType::CLOB || std::string(none) != "/a/e") expectEmpty(null);
                }
                Outcome fin = st.finish();
                EXPECT_EQ(fin.sqlstate, "00000");
                EXPECT_EQ(fin.message, "");
                expectEmpty(fin);
            }
            {
                tarn::ScalarStatement st(descOf(m, s));
                EXPECT_EQ(st.call(argsOf(m, arg, "/a/v*")).sqlstate, "38X09");
                Outcome next = st.call(argsOf(m, docArg(s, "<a>"), "/a/v")); // not parsed
                EXPECT_EQ(next.sqlstate + next.message + shown(next, m.out), "00000NULL");
                EXPECT_EQ(st.finish().sqlstate, "00000");
            }
        }
}

// The "2" variants read their DTD locator on the first call only: a normal call makes no
// locator call for it, so a service failure armed for the first call beyond the document's own
// transfers never hits.
TEST_F(Routines, DtdIsReadOnlyOnTheFirstCall) {
    const std::string doc = "<!DOCTYPE a SYSTEM \"a.dtd\"><a><v>&e;</v></a>";
    for (const Member &m : members()) {
        if (!m.dtd) continue;
        for (Src s : kAllSources) {
            SCOPED_TRACE(std::string(m.kind) + " from " + srcName(s));
            // Service calls of a normal call: the document's length twice and one read for a
            // CLOB, the creation and one append for a CLOB result.
            const int32_t calls = (s == Src::CLOB ? 3 : 0) + (m.out == SqlType::CLOB ? 2 : 0);
            tarn::ScalarStatement st(descOf(m, s));
            const std::string arg = docArg(s, doc);
            EXPECT_EQ(st.call(argsOf(m, arg, "/a/v", "<!ENTITY e \"1.5\">")).sqlstate, "00000");
            tarnLobFailAfter(calls, -1001);
            Outcome second = st.call(argsOf(m, arg, "/a/v", "<!ENTITY e \"2\">"));
            tarnLobFailAfter(-1, 0);
            EXPECT_EQ(second.sqlstate, "00000") << second.message;
            EXPECT_EQ(shown(second, m.out), m.out == SqlType::CLOB ? "<v>1.5</v>" : "1.5");
        }
    }
}

// A context that cannot be initialised fails the first call (one without its trace file runs
// untraced); the calls after it
// return NULL, and what is left of it goes with the final call. The host's start-up failures
// -2 and -3 carry its text (in the database code page); others are internal errors, except
// codes the host never gives, which are ignored.
TEST_F(Routines, FailedInitialisationOfTheFirstCall) {
    ScopedEnv instance("TARNINSTANCE", "accept");
    const std::string control = tesseltest::tracePathDir() + "/qapaccept.ctl";
    const std::string internal = std::string("QAPG001E  An internal error occured in build ") +
                                 kBuildStamp + ", file qapSgDoc, and line ";
    const struct {
        const char *cause;
        int32_t db, startUp;
        const char *state;
        std::string message; // how it starts
    } rows[] = {
        {"code page", 12345, 0, "38X38", ""},
        {"start-up", 1208, -2, "38X13",
         "QAPQ047E  Parser error on line 0 column 0: no \xC3\xA9 \n"},
        {"start-up", 1208, -4, "38X13", internal.substr(0, 69)},
        {"start-up", 1208, -7, "00000", ""},
        {"trace", 1208, 0, "00000", ""}, // a trace file that cannot be had: untraced
    };
    for (const auto &r : rows)
        for (Src s : kAllSources) {
            SCOPED_TRACE(std::string(r.cause) + " " + std::to_string(r.startUp) + " from " +
                         srcName(s));
            if (r.cause[0] == 't') {
                // A control file written by hand shows once tracing found off is a second old.
                if (s == *kAllSources.begin())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
                tesseltest::writeFile(control, "/nonexistent/dir/accept.trc");
            }
            tarnXmlInitSimulate(r.startUp, u"no \u00e9");
            const Member &m = member("Clob2");
            tarn::ScalarStatement st(descOf(m, s), r.db);
            Outcome o = st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a"));
            tarnXmlInitSimulate(0, nullptr);
            remove(control.c_str());
            EXPECT_EQ(o.sqlstate, r.state);
            EXPECT_EQ(r.message.empty() ? o.message : o.message.substr(0, r.message.size()),
                      r.message);
            EXPECT_LE(o.message.size(), 70u);
            EXPECT_EQ(o.isNull(), r.state[0] != '0');
            Outcome next = st.call(argsOf(m, docArg(s, "<a>1</a>"), "/a"));
            EXPECT_EQ(next.sqlstate, "00000");
            EXPECT_EQ(next.isNull(), r.state[0] != '0');
            EXPECT_EQ(st.finish().sqlstate, "00000");
        }
}

// ---- CLOB documents beyond the file threshold --------------------------------------------------

// A CLOB document longer than the threshold (TARNQAP_MIN_TMPFILE_SIZE, never below 131072) is
// parsed from a temporary file, gone when the call returns (the trace shows that it was named);
// one of the threshold's length or shorter is parsed from memory.
TEST_F(Routines, ClobsBeyondTheThresholdAreParsedFromATemporaryFile) {
    const std::string dir = tesseltest::scratchDir(), trace = dir + "/qapspill.trc";
    char sqlstate[6] = "00000", msgtext[71] = "";
    ASSERT_EQ(qapTraceSwitchOn(dir.c_str(), "spill", {sqlstate, msgtext}), 0);
    ScopedEnv instance("TARNINSTANCE", "spill");
    const std::string other = dir + "/othertmp";
    mkdir(other.c_str(), 0700);
    ScopedEnv tmp("TMP", other.c_str()); // hidden while a name is made, then put back
    const struct {
        const char *setting;
        size_t size;
        bool spilled;
    } rows[] = {
        {nullptr, 131072, false}, {nullptr, 131073, true}, {"1000", 131072, false},
        {"1000", 131073, true},   {"x", 131073, true},     {"262144", 262144, false},
        {"262144", 262145, true},
    };
    const std::string head = "<r><v>x</v><p>", tail = "</p></r>";
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.setting ? r.setting : "unset") + " " + std::to_string(r.size));
        ScopedEnv env("TARNQAP_MIN_TMPFILE_SIZE", r.setting);
        const std::string doc = head + std::string(r.size - head.size() - tail.size(), 'p') + tail;
        for (const char *kind : {"Varchar", "Clob2"}) {
            const size_t before = tesseltest::readFile(trace).size();
            Outcome o = once(kind, Src::CLOB, doc, "/r/v");
            EXPECT_EQ(o.sqlstate, "00000") << o.message;
            EXPECT_EQ(shown(o, member(kind).out), kind[0] == 'V' ? "x" : "<v>x</v>");
            const std::string added = tesseltest::readFile(trace).substr(before);
            EXPECT_EQ(added.find("qap_tempFilename:") != std::string::npos, r.spilled);
        }
        ASSERT_NE(getenv("TMP"), nullptr);
        EXPECT_EQ(std::string(getenv("TMP")), other);
    }
    EXPECT_EQ(qapTraceSwitchOff("spill", {sqlstate, msgtext}), 0);
    EXPECT_TRUE(tesseltest::listDir(other).empty());
    // A spilled document is still read in the database encoding, whatever it declares.
    const std::string latin = "<?xml version='1.0' encoding='UTF-8'?><a><v>caf\xE9</v><p>" +
                              std::string(200000, '\xE9') + "</p></a>";
    EXPECT_EQ(once("Varchar", Src::CLOB, latin, "/a/v", 819).text, "caf\xE9");
}

// Tracing switched on reaches the next statement at once, though the statement before found no
// control file in a directory unchanged for a while.
TEST_F(Routines, TracingSwitchedOnReachesTheNextStatement) {
    const std::string dir = tesseltest::scratchDir(), trace = dir + "/qapsoon.trc";
    ScopedEnv instance("TARNINSTANCE", "soon");
    const timespec old[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, tesseltest::tracePathDir().c_str(), old, 0), 0);
    EXPECT_EQ(once("Varchar", Src::VARCHAR, "<a>1</a>", "/a").text, "1");
    char sqlstate[6] = "00000", msgtext[71] = "";
    ASSERT_EQ(qapTraceSwitchOn(dir.c_str(), "soon", {sqlstate, msgtext}), 0);
    const size_t before = tesseltest::readFile(trace).size();
    EXPECT_EQ(once("Varchar", Src::VARCHAR, "<a>1</a>", "/a").text, "1");
    EXPECT_GT(tesseltest::readFile(trace).size(), before);
    EXPECT_EQ(qapTraceSwitchOff("soon", {sqlstate, msgtext}), 0);
}

// ---- Tagged CLOB results ---------------------------------------------------------------------

TEST_F(Routines, TaggedFragmentsByteForByte) {
    const std::string nested = "<r><a>1<a>2</a>3</a><b q='x'/></r>";
    const std::string whole = "<r><a>1<a>2</a>3</a><b q=\"x\"></b></r>";
    std::string manyAttrs = "<m", manyOut = "<m";
    for (int i = 0; i < 20; ++i) {
        const std::string n = "a" + std::string(1, static_cast<char>('A' + i));
        manyAttrs += " " + n + "='&lt;'";
        manyOut += " " + n + "=\"&lt;\"";
    }
    const std::string longName(300, 'n');
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
        {"<r>" + manyAttrs + "/></r>", "/r/m", "00000", manyOut + "></m>"},
        {"<r><" + longName + "/></r>", "/r/*", "00000", "<" + longName + "></" + longName + ">"},
        // a match inside a match is part of the outer fragment
        {nested, "//a", "00000", "<a>1<a>2</a>3</a>"},
        // the root alone, "//" and "//@q" all give the whole root element
        {nested, "/", "00000", whole},
        // CDATA text is escaped, comments and processing instructions are dropped
        {"<r><x>a<![CDATA[<&>]]><!--c--><?pi d?>b</x></r>", "/r/x", "00000",
         "<x>a&lt;&amp;&gt;b</x>"},
        // defaults of the internal subset are attributes like the others
        {"<!DOCTYPE r [<!ATTLIST x d CDATA 'dv'>]><r><x/></r>", "/r/x", "00000",
         "<x d=\"dv\"></x>"},
        // white space in element content arrives as character data; outside the root it does not
        {"<!DOCTYPE r [<!ELEMENT r (x)*><!ELEMENT x (#PCDATA)>]><r> <x> t </x>\n</r>\n", "/r",
         "00000", "<r> <x> t </x>\n</r>"},
    };
    for (const auto &r : rows)
        for (const char *kind : {"Clob", "Clob2"})
            expectValue(kind, r.doc, r.path, r.state, r.fragment);
    // Long fragments with many escapes keep every byte, from memory and from a spilled CLOB.
    const std::string body = repeat("a&amp;&lt;\"&apos;\xC3\xA9", 30000);
    const std::string escaped = repeat("a&amp;&lt;&quot;&apos;\xC3\xA9", 30000);
    for (Src s : kAllSources) {
        SCOPED_TRACE(srcName(s));
        Outcome o = once("Clob", s, "<r><x k='" + body + "'>" + body + "</x></r>", "/r/x");
        EXPECT_EQ(o.sqlstate, "00000") << o.message;
        EXPECT_TRUE(o.text == "<x k=\"" + escaped + "\">" + escaped + "</x>") << o.text.size();
    }
}

// ---- Values at paths (which elements a path matches: test_engine.cpp) ---------------------------

// One value or none: "38X08" for several matches, "01HX0" for none, NULL for an empty value.
// An element's value is its own character data, references resolved.
TEST_F(Routines, ValuesAtPaths) {
    const struct {
        std::string doc;
        const char *path;
        const char *state;
        const char *value; // "": NULL
    } rows[] = {
        {"<a><b>x<c>y</c>z</b></a>", "/a/b", "00000", "xz"},
        {"<a><b>x<c>y</c>z</b></a>", "//b", "00000", "x"}, // "//" stops at the first child
        {"<a><b>1 &lt; 2 &amp; &#x33;&gt;&quot;'</b></a>", "/a/b", "00000", "1 < 2 & 3>\"'"},
        {"<a><b><![CDATA[<x>&]]>x<!--c--><?p d?>y</b></a>", "/a/b", "00000", "<x>&xy"},
        {"<a><b>caf\xC3\xA9 \xF0\x9D\x84\x9E</b></a>", "/a/b", "00000",
         "caf\xC3\xA9 \xF0\x9D\x84\x9E"},
        // a match inside a match starts no new value; one reached through a non-matching child
        // does
        {"<r><a>1<a>2</a>3</a></r>", "//a", "00000", "123"},
        {"<r><b>1<c><b>2</b></c>3</b></r>", "//b", "38X08", ""},
        {"<r><b c='1'><b c='2'/></b></r>", "/r/b/@c", "00000", "1"},
        // a node left by a longer name with more attributes is reused for a shorter one
        {"<r><long-name p='1' q='2' k='3'/><s k='4'><t>v</t></s></r>", "/r/s[@k=\"4\"]/t", "00000",
         "v"},
        // without namespaces, prefixed names are names like any other
        {"<p:e xmlns:p='urn:p'>v</p:e>", "/p:e", "00000", "v"},
        {"<a xmlns:p='u' p:x='1' q:x='2'/>", "/a[@p:x=\"1\"]/@q:x", "00000", "2"},
    };
    for (const auto &r : rows)
        expectValue("Varchar", r.doc, r.path, r.state, r.value);
}

// The DTD a DOCTYPE names is never read, even when it exists: it reads as empty, or as the DTD
// text of a "2" variant, which stands in for it and only for it.
TEST_F(Routines, DtdTextStandsInForTheNamedDtd) {
    const std::string named = tesseltest::writeFile("named.dtd", "<!ATTLIST a k CDATA 'file'>");
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
        {"Varchar2", existing, "/a/@k", "00000", "text"},
        {"Clob", existing, "/a", "00000", "<a></a>"},
    };
    for (const auto &r : rows)
        expectValue(r.kind, r.doc, r.path, r.state, r.value, kAllSources, 1208, dtd);
}

// ---- Database code pages --------------------------------------------------------------------

// Documents, paths and DTD texts in the database code page, from a VARCHAR and from a CLOB.
TEST_F(Routines, DocumentsAndPathsInTheDatabaseCodePage) {
    const std::string latin = "<a><b t='\xE9'>caf\xE9</b><caf\xE9>x</caf\xE9></a>";
    const std::string ebcdic = inCodePage(37, "<a><b k=\"\xC3\xA9\">12.5</b></a>");
    const std::string nihon = "<a>\xE6\x97\xA5\xE6\x9C\xAC</a>";
    const struct {
        int32_t db;
        std::string doc, path;
        const char *kind;
        std::string value;
    } rows[] = {
        {819, latin, "/a/b", "Varchar", "caf\xE9"},
        {819, latin, "/a/b", "Clob", "<b t=\"\xE9\">caf\xE9</b>"},
        // the database encoding wins over the declaration
        {819, "<?xml version='1.0' encoding='UTF-8'?><a>caf\xE9</a>", "/a", "Varchar", "caf\xE9"},
        // the DTD text is read in it too
        {819, "<!DOCTYPE a SYSTEM 'a.dtd'><a>&e;</a>", "/a", "Varchar2", "caf\xE9"},
        {37, ebcdic, inCodePage(37, "/a/b"), "Varchar", inCodePage(37, "12.5")},
        {37, ebcdic, inCodePage(37, "/a/b"), "Clob", inCodePage(37, "<b k=\"\xC3\xA9\">12.5</b>")},
        {943, inCodePage(943, nihon), "/a", "Varchar", inCodePage(943, "\xE6\x97\xA5\xE6\x9C\xAC")},
        {954, inCodePage(33722, nihon), "/a", "Varchar",
         inCodePage(33722, "\xE6\x97\xA5\xE6\x9C\xAC")},
        // the parser reads the bytes through the converter's own table: they come back as sent
        {943, "<a>x\\y~z</a>", "/a", "Varchar", "x\\y~z"},
        {954, "<a>x\\y~z</a>", "/a", "Clob", "<a>x\\y~z</a>"},
        {1363, "<a>x\\y~z</a>", "/a", "Varchar", "x\\y~z"},
    };
    for (const auto &r : rows)
        expectValue(r.kind, r.doc, r.path, "00000", r.value, {Src::VARCHAR, Src::CLOB}, r.db,
                    "<!ENTITY e 'caf\xE9'>");
}

// A value holding a character the database code page lacks fails, from every source and in
// tables and updates too: no substitute character stands in for it.
TEST_F(Routines, CharactersTheDatabaseCodePageLacksAreNeverReplaced) {
    const std::string lacked = "QAPQ055E  ICU error: 10\n";
    for (const char *kind : {"Varchar", "Clob"}) {
        SCOPED_TRACE(kind);
        for (Src s : kAllSources) {
            const Outcome o = once(kind, s, "<a>caf&#xE9; &#x20AC;</a>", "/a", 819);
            EXPECT_EQ(o.sqlstate + o.message, "38X45" + lacked);
            EXPECT_TRUE(o.isNull());
        }
    }
    tarn::TableStatement table(tesseltest::routine("qapExtractVarcharsFromVarchar"), 819);
    const tarn::TableRun run = table.run({"<a><b>1</b><b>&#x20AC;</b><b>3</b></a>", "/a/b"});
    ASSERT_EQ(run.rows.size(), 1u);
    EXPECT_EQ(run.rows[0].text, "1");
    EXPECT_EQ(run.end.sqlstate + run.end.message, "38X45" + lacked);
    tarn::ScalarStatement update(tesseltest::routine("qapUpdateXMLVarchar"), 819);
    const Outcome o = update.call({"<a>&#x20AC;<b>x</b></a>", "/a/b", "y"});
    EXPECT_EQ(o.sqlstate + o.message, "38X45" + lacked);
    // Nor does one stand in for bytes the database code page does not have, in a path or a
    // new value: they do not convert (-1).
    const std::string unconverted = routineText(syntaxError(-1));
    EXPECT_EQ(once("Varchar", Src::VARCHAR, "<a><b>1</b></a>", "/a/\xFF").message, unconverted);
    tarn::ScalarStatement utf8(tesseltest::routine("qapUpdateXMLVarchar"));
    EXPECT_EQ(utf8.call({"<a><b>1</b></a>", "/a/b", "x\xFFy"}).message, unconverted);
}

// A server file is read in the encoding the parser detects, not in the database code page, and
// its values are returned in the database code page. A relative name is taken from the current
// directory.
// UTF-8 documents are decoded ahead of the parser a block at a time: characters cut by a
// block's end arrive whole, a malformed sequence fails as the parser tells it (at the same
// place), and a byte no sequence completes ends the document without a hang.
TEST_F(Routines, Utf8DocumentsAcrossBlocksAndMalformedOnes) {
    const std::string chars = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // é € U+1F600
    for (size_t filler = 16360; filler < 16376; ++filler)
        expectValue("Varchar",
                    "<a><p>" + std::string(filler, 'x') + "</p><q>" + chars + chars + "</q></a>",
                    "/a/q", "00000", chars + chars, {Src::FILE, Src::CLOB});
    const std::string at = "QAPQ047E  Parser error on line 1 column ";
    const struct {
        std::string doc, message;
    } rows[] = {
        {"<a>\xC3(</a>", at + "1: invalid byte '(' at positi\n"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a>\xED\xA0\x80</a>",
         at + "39: irregular bytes '\xEF\xBF\xBD' and\n"},
        {"<a>" + std::string(40000, 'x') + "\xC3(</a>", at + "32769: invalid byte '(' at po\n"},
        {"<a>" + std::string(40000, 'x') + "\xFE</a>" + std::string(40000, 'y'),
         at + "32769: invalid byte '\xEF\xBF\xBD' at \n"},
        {"<a>" + std::string(40000, 'x') + "\xFE</a>", at + "40004: input ended before all\n"},
        {"<a>x\xF0\x9F", at + "5: input ended before all sta\n"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.doc.substr(0, 60));
        Outcome o = once("Varchar", Src::FILE, r.doc, "/a");
        EXPECT_EQ(o.sqlstate, "38X13");
        EXPECT_EQ(o.message, r.message);
    }
    // Documents in other encodings, and a byte-order mark before the declaration.
    expectValue("Varchar", "<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>", "/a",
                "00000", "caf\xC3\xA9", {Src::FILE});
    expectValue("Varchar", "\xEF\xBB\xBF<?xml version=\"1.0\"?><a>bom</a>", "/a", "00000", "bom",
                {Src::FILE});
}

TEST_F(Routines, FilesAreDetectedAndValuesConverted) {
    expectValue("Varchar", "<a>caf\xC3\xA9</a>", "/a", "00000", "caf\xE9", {Src::FILE}, 819);
    expectValue("Varchar", std::string("\xFE\xFF\0<\0a\0>\0\xE9\0<\0/\0a\0>", 18), "/a", "00000",
                "\xE9", {Src::FILE}, 819);
    expectValue("Varchar", "<a>caf\xE9</a>", "/a", "38X13", "", {Src::FILE}, 819);
    tesseltest::writeFile("relative.xml", "<a>here</a>");
    const Member &m = member("Varchar");
    tarn::ScalarStatement st(descOf(m, Src::FILE));
    EXPECT_EQ(st.call(argsOf(m, "relative.xml", "/a")).text, "here");
}
