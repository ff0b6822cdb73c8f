// Hostile inputs: external entities and URLs, bounds on expansion, malformed UTF-8, DTDs and
// nesting, cancellation, an untrusted trace directory, message cuts inside a character and
// what a document repeats (hostile file names and file states: test_security_files.cpp).
#include "qapCtx.h"
#include "qapFile.h"
#include "qapMsg.h"
#include "qapPlatform.h"
#include "qapSgDoc.h"
#include "qapValidate.h"
#include "qapTrace.h"
#include "tarnCall.h"
#include "tessel.h"
#include "testSupport.h"

#include <gtest/gtest.h>
#include <xercesc/util/PlatformUtils.hpp>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace tesseltest;
using tarn::Input;
using tarn::SqlType;

// A listener on 127.0.0.1 that accepts, counts and drops every connection.
struct Listener {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), port = 0;
    std::atomic<bool> stop{false};
    std::atomic<int> connections{0};
    std::thread thread;
    Listener() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), len) | listen(fd, 4) |
                      getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len),
                  0);
        port = ntohs(addr.sin_port);
        thread = std::thread([this] {
            for (pollfd p{fd, POLLIN, 0}; !stop; p.revents = 0)
                if (poll(&p, 1, 20) == 1 && ++connections) close(accept(fd, nullptr, nullptr));
        });
    }
    ~Listener() {
        stop = true;
        thread.join();
        close(fd);
    }
    std::string url(const char *file) const {
        return "http://127.0.0.1:" + std::to_string(port) + "/" + file;
    }
};

// Table2 runs the parse as a table does, on a stack of its own.
enum class Via { EXTRACT, EXTRACT2, VALIDATE, TABLE2 };

// SQLSTATE, message and value (validation: its result) of one parse.
std::vector<std::string> run(Via via, const std::string &doc, const std::string &dtd) {
    if (via == Via::VALIDATE) {
        TestCtx ctx;
        const char *replacement = dtd.empty() ? nullptr : dtd.c_str();
        int rc = qapValidate(ctx, QapDoc{doc.c_str(), kMem, 1, nullptr, nullptr}, nullptr,
                             replacement, 1, "a", {ctx.sqlstate, ctx.msgtext});
        return {ctx.sqlstate, ctx.msgtext, std::to_string(rc)};
    }
    if (via == Via::TABLE2) {
        tarn::TableStatement st(tesseltest::routine("qapExtractVarcharsFromVarchar2"));
        auto r = st.run({Input(doc), Input(dtd), Input("/a")});
        return {r.end.sqlstate, r.end.message, r.rows.empty() ? "" : r.rows[0].text};
    }
    const bool two = via == Via::EXTRACT2;
    tarn::ScalarStatement st(tesseltest::routine(two ? "qapExtractVarcharFromVarchar2"
                                                     : "qapExtractVarcharFromVarchar"));
    auto o = two ? st.call({Input(doc), Input(dtd), Input("/a")}) : st.call({doc, "/a"});
    return {o.sqlstate, o.message, o.text};
}

// One call of a routine on a statement of its own.
tarn::Outcome once(const char *routine, const std::vector<Input> &args) {
    tarn::ScalarStatement st(tesseltest::routine(routine));
    return st.call(args);
}

} // namespace

TEST(Security, ExternalEntitiesAndUrlsAreNotRead) {
    Listener net;
    const std::string dir = scratchDir() + "/ent";
    mkdir(dir.c_str(), 0700);
    const std::string secret = writeFile(dir + "/secret.txt", "SECRET");
    const std::string fifo = dir + "/fifo.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A general entity in the document, a parameter entity (in a DTD), a DOCTYPE naming a DTD.
    auto general = [](const std::string &id) {
        return "<!DOCTYPE a [<!ENTITY x SYSTEM \"" + id + "\">]><a>&x;</a>";
    };
    auto pe = [](const std::string &id) { return "<!ENTITY % p SYSTEM \"" + id + "\"> %p;"; };
    auto doctype = [](const std::string &id) {
        return "<!DOCTYPE a SYSTEM \"" + id + "\"><a>v</a>";
    };
    const std::string ownDtd = doctype(writeFile(dir + "/a.dtd", "<!ELEMENT a (#PCDATA)>"));
    const struct {
        Via via;
        std::string doc, dtd;
        const char *readRule; // null: no read-access value
        bool entities;        // the host allows external entities
        const char *state, *value;
    } rows[] = {
        {Via::EXTRACT, general(secret), "", "ANY", false, "38X13", ""},
        {Via::EXTRACT, general(net.url("g")), "", "ANY", false, "38X13", ""},
        {Via::EXTRACT, "<!DOCTYPE a [" + pe(secret) + "]><a>v</a>", "", "ANY", false, "38X13", ""},
        {Via::EXTRACT, "<!DOCTYPE a [" + pe(net.url("p")) + "]><a/>", "", "ANY", false, "38X13",
         ""},
        {Via::EXTRACT, doctype(net.url("d")), "", nullptr, false, "00000", "v"}, // read as empty
        {Via::EXTRACT2, doctype("d.dtd"), pe(net.url("t")), "ANY", false, "38X13", ""},
        {Via::EXTRACT2, "<!DOCTYPE a SYSTEM \"d.dtd\"><a>&x;</a>",
         "<!ENTITY x SYSTEM \"" + secret + "\">", "ANY", false, "38X13", ""},
        // allowed by the host: only files the read rule allows, never a URL or a FIFO
        {Via::EXTRACT, general(secret), "", dir.c_str(), true, "00000", "SECRET"},
        {Via::EXTRACT, general("secret.txt"), "", dir.c_str(), true, "38X13", ""},
        {Via::EXTRACT, general(net.url("a")), "", "ANY", true, "38X13", ""},
        {Via::EXTRACT, general("file://" + secret), "", dir.c_str(), true, "00000", "SECRET"},
        {Via::EXTRACT, general(fifo), "", dir.c_str(), true, "38X13", ""},
        {Via::VALIDATE, doctype(net.url("v")), "", "ANY", false, "38X13", "0"},
        {Via::VALIDATE, doctype("d.dtd"), "<!ELEMENT a (#PCDATA)>" + pe(secret), "ANY", false,
         "38X13", "0"},
        {Via::VALIDATE, ownDtd, "", dir.c_str(), false, "00000", "1"},
        {Via::VALIDATE, ownDtd, "", "/usr", false, "38X13", "0"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.doc + " | " + r.dtd);
        tarnRegistrySet(TARN_REG_READ_ACCESS, r.readRule);
        tarnRegistrySet(TARN_REG_EXTERNAL_ENTITIES, r.entities ? "YES" : nullptr);
        std::vector<std::string> o = run(r.via, r.doc, r.dtd);
        EXPECT_EQ(o[0], r.state) << o[1];
        EXPECT_EQ(o[2], r.value);
        EXPECT_EQ(o[1].substr(0, 9), std::string(r.state) == "38X13" ? "QAPQ047E " : "");
    }
    tarnRegistrySet(TARN_REG_READ_ACCESS, nullptr);
    tarnRegistrySet(TARN_REG_EXTERNAL_ENTITIES, nullptr);
    EXPECT_EQ(net.connections, 0);
    EXPECT_EQ(XERCES_CPP_NAMESPACE::XMLPlatformUtils::fgNetAccessor, nullptr);
    remove(fifo.c_str());
}

TEST(Security, ExpansionAndMatchesAreBounded) {
    std::string laughs = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k)
            laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    laughs += "]><a>&l9;</a>";
    std::string big = "<!DOCTYPE a [<!ENTITY e \"" + std::string(50000, 'x') + "\">]><a>";
    for (int i = 0; i < 2000; ++i)
        big += "<b>&e;</b>";
    big += "</a>";
    std::string many = "<a>";
    for (int i = 0; i < 100000; ++i)
        many += "<b>" + std::string(i == 99999 ? 5000 : 10, 'v') + "</b>";
    many += "</a>";
    const struct {
        std::string doc;
        const char *path, *state, *message;
    } rows[] = {
        {laughs, "/a", "38X13", "QAPQ047E  Parser error on line 1 column 536: parser has encou"},
        {big, "/a", "38X13", "QAPQ047E  Parser error on line 1 column 53389: entity expansio"},
        // the scalar keeps two values, yet a later one over the limit is still found
        {many, "/a/b", "38X39", "QAPC013E  The results of the extract UDF exceed the size li"},
        {"<a><b>1</b><b>2</b><b>3</b></a>", "/a/b", "38X08", "QAPD001E  /a/b occurs multiple"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.message);
        tarn::ScalarStatement st(tesseltest::routine("qapExtractVarcharFromVarchar"));
        auto o = st.call({r.doc, r.path});
        EXPECT_EQ(o.sqlstate, r.state);
        EXPECT_EQ(o.message.substr(0, strlen(r.message)), r.message);
    }
}

// DTDs built to blow up: parameter entities, general entities in attribute defaults, content
// models whose automaton or tree is huge, long enumerations; the memory budget; a cancel while
// the DTD is read. A DocBook-sized model still validates.
// Megabytes of malformed UTF-8 of every shape end each parse with the parser's error (none
// hangs on a lead byte that never completes, nor reads on past one), from a file too.
TEST(Security, MalformedUtf8EndsEveryParse) {
    const std::string mb(1 << 20, 'x');
    const struct {
        std::string body, told; // told: in the message
    } rows[] = {
        {std::string(4 << 20, '\xFE'), "column 1: invalid byte"},
        {std::string(4 << 20, '\xC3'), "column 1: invalid byte"},
        {std::string(4 << 20, '\x80'), "column 1: invalid byte"},
        {repeat("\xE2\x82", 2 << 20), "column 1: invalid byte"},
        {repeat("\xF0\x9F\x98", 1 << 20), "column 1: invalid byte"},
        {mb + "\xFE", "column 1048580: input ended"},
        {mb + repeat("\xF0\x9F\x98\x80", 1 << 18) + "\xED\xA0\x80", ": irregular bytes"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.told);
        const std::string doc = "<a>" + r.body + (r.body.back() == '\xFE' ? "" : "</a>");
        for (Via via : {Via::EXTRACT, Via::TABLE2}) {
            const std::vector<std::string> got = run(via, doc, "");
            EXPECT_EQ(got[0], "38X13");
            EXPECT_NE(got[1].find(r.told), std::string::npos) << got[1];
        }
        tarn::ScalarStatement st(tesseltest::routine("qapExtractVarchar"));
        const tarn::Outcome o = st.call({writeFile("malformed.xml", doc), "/a"});
        EXPECT_NE(o.message.find(r.told), std::string::npos) << o.message;
    }
}

TEST(Security, HostileDtdsAreBounded) {
    auto tenfold = [](const char *kind, const char *ref, const char *text = "xxxxxxxxxx") {
        std::string d = std::string("<!ENTITY ") + kind + "a0 \"" + text + "\">";
        for (int i = 1; i < 10; ++i) {
            d += std::string("<!ENTITY ") + kind + "a" + std::to_string(i) + " \"";
            for (int k = 0; k < 10; ++k)
                d += ref + std::to_string(i - 1) + ";";
            d += "\">";
        }
        return d;
    };
    auto repeat = [](const std::string &s, int n, const char *sep = "") {
        std::string out = s;
        for (int i = 1; i < n; ++i)
            out += sep + s;
        return out;
    };
    const std::string doc = "<!DOCTYPE a SYSTEM 'a.dtd'><a><b/></a>";
    const std::string automaton = "<!ELEMENT a ((b|c)*,b" + repeat(",(b|c)", 22) + ")>";
    std::string names = "b";
    for (int i = 0; i < 150; ++i)
        names += "|x" + std::to_string(i);
    const struct {
        Via via;
        std::string doc, dtd;
        const char *state, *message;
    } rows[] = {
        {Via::EXTRACT2, doc, tenfold("% ", "%a") + "<!ELEMENT a ANY>", "38X13",
         "QAPQ047E  Parser error on line 1 column 393: entity expansion exce"},
        {Via::VALIDATE, doc, tenfold("% ", "%a") + "<!ELEMENT a ANY>", "38X13",
         "QAPQ047E  Parser error on line 1 column 393: entity expansion exce"},
        {Via::TABLE2, doc, tenfold("% ", "%a") + "<!ELEMENT a ANY>", "38X13",
         "QAPQ047E  Parser error on line 1 column 393: entity expansion exce"},
        // references written as character references expand between the declarations
        {Via::EXTRACT, "<!DOCTYPE a [" + tenfold("% ", "&#37;a", "<!--x-->") + "%a9;]><a/>", "",
         "38X13", "QAPQ047E  Parser error on line 1 column 916: entity expansion exce"},
        {Via::VALIDATE, doc, tenfold("", "&a") + "<!ELEMENT a ANY><!ATTLIST a x CDATA '&a9;'>",
         "38X13", "QAPQ047E  Parser error on line 1 column 562: entity expansion exce"},
        {Via::VALIDATE, doc, automaton, "38X13",
         "QAPQ047E  Parser error on line 1 column 156: element a: content mode"},
        {Via::EXTRACT, "<!DOCTYPE a [" + automaton + "]><a/>", "", "38X13",
         "QAPQ047E  Parser error on line 1 column 169: element a: content mode"},
        {Via::TABLE2, doc, "<!ELEMENT a (" + repeat("b", 100000, ",") + ")>", "38X13",
         "QAPQ047E  Parser error on line 1 column 200015: element a: content"},
        {Via::TABLE2, doc, "<!ELEMENT a (" + repeat("(", 50000) + "b" + repeat(")", 50000) + ")>",
         "02000", ""},
        // a tree as deep as it is long would take the validator's recursion past the stack
        {Via::VALIDATE, doc, "<!ELEMENT a (" + repeat("b", 100000, ",") + ")>", "38X13",
         "QAPQ047E  Parser error on line 1 column 200015: element a: content"},
        {Via::VALIDATE, doc,
         "<!ELEMENT a ANY>" + repeat("<!ATTLIST a x (" + repeat("v", 4000, "|") + ") #IMPLIED>", 5),
         "38X13", "QAPQ047E  Parser error on line 1 column 40141: attribute x: enumera"},
        {Via::VALIDATE, "<!DOCTYPE a SYSTEM 'a.dtd'><a><t/><b/></a>",
         "<!ELEMENT a (t,(" + names + ")*,s*)><!ELEMENT b EMPTY><!ELEMENT t EMPTY>", "00000", ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.dtd.substr(0, 60));
        auto o = run(r.via, r.doc, r.dtd);
        EXPECT_EQ(o[0], r.state);
        EXPECT_EQ(o[1].substr(0, strlen(r.message)), r.message);
    }

    // The budget: a long attribute value, then the same parse without it.
    const std::string wide = "<a b='" + std::string(1 << 21, 'x') + "'/>";
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, "1000000");
    auto o = run(Via::EXTRACT, wide, "");
    auto table = run(Via::TABLE2, wide, "<!ELEMENT a ANY>");
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, nullptr);
    EXPECT_EQ(o[0], "38X13");
    EXPECT_EQ(o[1], "QAPQ047E  Parser error on line 1 column 32806: memory limit reached \n");
    EXPECT_EQ(table[0], "38X13");
    EXPECT_EQ(table[1], o[1]);
    EXPECT_EQ(run(Via::EXTRACT, wide, "")[0], "00000");

    // Cancelled while the DTD is read, before any element.
    tarnSetCancelCheck([] { return 1; });
    o = run(Via::VALIDATE, doc, "<!ELEMENT a (b)>");
    tarnSetCancelCheck(nullptr);
    EXPECT_EQ(o[0], "57014");
}

// A cancelled statement stops every parsing family within a few thousand parser events, and
// nesting deeper than any honest document is refused where it starts.
TEST(Security, CancellationAndNestingStopEveryParse) {
    std::string doc = "<o>";
    for (int i = 0; i < 5000; ++i)
        doc += "<i q='1'/>";
    doc += "</o>";
    const std::string cancelled = "QAPQ047E  Parser error on line - column -: the statement";
    tarnSetCancelCheck([] { return 1; });
    const struct {
        const char *routine;
        std::vector<tarn::Input> args;
    } calls[] = {
        {"qapExtractVarcharFromVarchar", {doc, "/o/x"}},
        {"qapUpdateXMLVarchar", {doc, "/o/i/@q", "2"}},
        {"qapValidateVarchar2",
         {"<!DOCTYPE o SYSTEM 'o.dtd'>" + doc,
          "<!ELEMENT o (i*)><!ELEMENT i EMPTY><!ATTLIST i q CDATA #IMPLIED>", "o"}},
    };
    for (const auto &c : calls) {
        SCOPED_TRACE(c.routine);
        tarn::ScalarStatement st(tesseltest::routine(c.routine));
        auto o = st.call(c.args);
        EXPECT_EQ(o.sqlstate, "57014");
        EXPECT_EQ(o.message.substr(0, cancelled.size()), cancelled);
    }
    tarnSetCancelCheck(nullptr);

    std::string deep;
    for (int i = 0; i <= 100000; ++i)
        deep += "<e>";
    tarn::ScalarStatement st(tesseltest::routine("qapExtractVarcharFromVarchar"));
    auto o = st.call({deep, "/e"});
    EXPECT_EQ(o.sqlstate, "38X13");
    EXPECT_EQ(o.message, "QAPQ047E  Parser error on line 1 column 300004: element nesting excee\n");
}

TEST(Security, TraceIgnoresAnUntrustedDirectoryAndEscapesText) {
    const std::string dir = scratchDir() + "/opentrace";
    const std::string trace = scratchDir() + "/open.trc";
    mkdir(dir.c_str(), 0700);
    writeFile(dir + "/qap" + getenv("TARNINSTANCE") + ".ctl", trace);
    ScopedEnv path("TARNQAPPATH", dir.c_str());
    for (mode_t mode : {0777, 0770, 0700}) {
        chmod(dir.c_str(), mode);
        TestCtx ctx;
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        EXPECT_EQ(ctx->traceOn, mode == 0700 ? 1u : 0u);
        QAP_TRACE(ctx.get(), "f", "a\nb%s\n", "\r\x1b");
    }
    EXPECT_NE(readFile(trace).find("f:\t\ta\\nb\\r\\x1B\n"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(trace.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    remove(trace.c_str());
}

TEST(Security, MessageIsCutAtACharacterBoundary) {
    const struct {
        int32_t codePage;
        std::string wide; // one character of two bytes
    } rows[] = {{1208, "\xC3\xA9"}, {943, "\x82\xA0"}};
    for (const auto &r : rows) {
        TestCtx ctx(r.codePage);
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        // "QAPD001E  " and 58 letters: the 70th byte is the first half of a character.
        const std::string arg = std::string(58, 'a') + r.wide + r.wide;
        char msg[kMsgTextSize] = "";
        qapSetMsg(ctx, msg, QAPD001E, arg.c_str());
        EXPECT_EQ(std::string(msg), "QAPD001E  " + std::string(58, 'a') + "\n") << r.codePage;
    }
}

// ---- What a document declares once and the parser repeats ---------------------------------

namespace {

// A document whose every <b> gets an attribute default of 4 Mi characters, built from entities
// within their bounds.
std::string withDefault(const std::string &body) {
    std::string d = "<!DOCTYPE r [<!ENTITY a '" + std::string(1000, 'x') + "'>";
    for (const char *e : {"b a", "c b", "d c"})
        d += std::string("<!ENTITY ") + e[0] + " '" + repeat(std::string("&") + e[2] + ";", 16) +
             "'>";
    return d + "<!ATTLIST b x CDATA '&d;'>]><r>" + body + "</r>";
}

// A field of /proc/self/status, in KiB.
long statusKiB(const char *field) {
    const std::string status = readFile("/proc/self/status");
    const size_t at = status.find(field);
    return at == std::string::npos ? -1 : atol(status.c_str() + at + strlen(field));
}

// The call in a child process: its SQLSTATE and message, and how far it took the peak resident
// memory beyond what the process held before, in MiB.
std::string inChild(const char *routine, const std::vector<Input> &args) {
    return runInChild([&] {
        const long before = statusKiB("VmRSS:");
        const tarn::Outcome o = once(routine, args);
        return o.sqlstate + " " + o.message.substr(0, 70) + " " +
               std::to_string((statusKiB("VmHWM:") - before) >> 10);
    });
}

std::atomic<int64_t> cancelAt{0}; // steady-clock milliseconds; the statement is cancelled then

int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Attribute defaults, entity text in attribute values and markup in entities are bounded like
// the text they stand for: a default copied into every element counts against the memory
// budget, wherever it is copied on to (the open elements, the update, a fragment), and every
// element carrying one gives the host its turn, so a time limit stops the call promptly.
TEST(Security, WhatADocumentRepeatsIsBounded) {
    const std::string nested = withDefault(repeat("<b>", 80) + "<c/>" + repeat("</b>", 80));
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, "33554432");
    const struct {
        const char *routine;
        std::vector<Input> args;
    } calls[] = {
        {"qapExtractVarcharFromVarchar", {nested, "/r//b[@x=\"q\"]//c"}},
        {"qapUpdateXMLVarchar", {nested, "/r/c", "v"}},
        {"qapExtractClobFromVarchar", {nested, "/r"}},
        // the caller's value, repeated at each of 20000 matches
        {"qapUpdateXMLClob",
         {"<r>" + repeat("<b/>", 20000) + "</r>", "/r/b", std::string(10000, 'v')}},
    };
    for (const auto &c : calls) {
        SCOPED_TRACE(c.routine);
        const std::string told = inChild(c.routine, c.args);
        EXPECT_EQ(told.substr(0, 6), "38X13 ") << told;
        EXPECT_NE(told.find(": memory limit reached"), std::string::npos) << told;
        // 32 MiB for the parse, and the document's own 8 MB default in the DTD
        EXPECT_LT(atol(told.c_str() + told.rfind(' ')), 100) << told;
    }
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, nullptr);

    const std::string x8000(8000, 'x');
    for (const std::string &doc :
         {"<!DOCTYPE r [<!ENTITY e '" + x8000 + "'>]><r>" + repeat("<b x='&e;'/>", 2500) + "</r>",
          "<!DOCTYPE r [<!ENTITY e \"<b x='" + x8000 + "'/>\">]><r>" + repeat("&e;", 2500) +
              "</r>"}) {
        const tarn::Outcome o = once("qapExtractClobFromVarchar", {doc, "/r"});
        EXPECT_EQ(o.sqlstate, "38X13");
        EXPECT_NE(o.message.find(": entity expansion"), std::string::npos) << o.message;
    }

    // No budget: a cancel 200 ms in stops the parse at once, not after the document.
    const std::string flat = withDefault(repeat("<b/>", 2000));
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, "0");
    tarnSetCancelCheck([] { return nowMs() >= cancelAt ? 1 : 0; });
    for (const bool update : {false, true}) {
        const int64_t start = nowMs();
        cancelAt = start + 200;
        const tarn::Outcome o = update ? once("qapUpdateXMLVarchar", {flat, "/r/x", "v"})
                                       : once("qapExtractVarcharFromVarchar", {flat, "/r/x"});
        EXPECT_EQ(o.sqlstate, "57014");
        EXPECT_LT(nowMs() - start, 2500);
    }
    tarnSetCancelCheck(nullptr);
    tarnRegistrySet(TARN_REG_MAX_PARSE_MEMORY, nullptr);
}
