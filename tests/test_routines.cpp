// The scalar extract routines as the host calls them: exact SQLSTATEs and message texts, limits
// at their exact bytes, the calls of one statement and CLOB documents spilled to files (the
// values they return: test_routine_values.cpp).
#include "qapExtractKinds.h"
#include "qapMsg.h"
#include "qapTrace.h"
#include "tarnCall.h"
#include "tarnTestHooks.h"
#include "tessel.h"
#include "testRoutineCalls.h"
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
using namespace tesseltest;

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
