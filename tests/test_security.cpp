// Hostile inputs: external entities and URLs, the allowed-files rule, FIFOs, temporary files,
// an untrusted trace directory and message cuts inside a character.
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
#include <sys/wait.h>
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

TEST(Security, AllowedFilesResolveLinksAndCompareCase) {
    const std::string base = scratchDir() + "/rule", data = base + "/data", other = base + "/o";
    for (const std::string &d : {base, data, data + "/sub", other})
        mkdir(d.c_str(), 0700);
    writeFile(data + "/a.xml", "<a/>");
    symlink(writeFile(other + "/f.xml", "<a/>").c_str(), (data + "/ln.xml").c_str());
    symlink(other.c_str(), (data + "/out").c_str());
    symlink(data.c_str(), (base + "/link").c_str());
    symlink((data + "/a.xml").c_str(), (data + "/in.xml").c_str());
    const struct {
        std::string value, name;
        bool allowed;
    } rows[] = {
        {data, data + "/a.xml", true},
        {" " + data + "/ ;; ", data + "/new.xml", true}, // a new file in an allowed directory
        {data, data + "/sub/../a.xml", false},
        {data, base + "/DATA/a.xml", false},
        {base + "/DATA", data + "/a.xml", false},
        {data, data + "/out/f.xml", false}, // a linked directory leading out
        {data, data + "/ln.xml", false},    // a linked file leading out
        {data, data + "/in.xml", false},    // or in: a final link is never followed
        {base + "/link", data + "/a.xml", true},
        {data, base + "/link/a.xml", true},
        {data, data + "/missing/x.xml", false},
        {data, data, false},
        {data + ";" + other, other + "/f.xml", true},
        {"ANY", "/no/such/dir/x", true},
    };
    TestCtx ctx;
    for (int access : {0, 1}) {
        for (const auto &r : rows) {
            SCOPED_TRACE(r.value + " : " + r.name);
            tarnRegistrySet(access == 0 ? TARN_REG_READ_ACCESS : TARN_REG_WRITE_ACCESS,
                            r.value.c_str());
            QapOpenFile read;
            QapWriteTarget write;
            if (access == 0) qapOpenRead(ctx, r.name.c_str(), read);
            if (access == 1) qapCheckWrite(ctx, r.name.c_str(), write);
            EXPECT_EQ(access == 0 ? read.refused() : write.refused(), !r.allowed);
            EXPECT_EQ(access == 0 ? read.error() == EXDEV : write.error() == EXDEV, !r.allowed);
        }
    }
    tarnRegistrySet(TARN_REG_READ_ACCESS, nullptr);
    tarnRegistrySet(TARN_REG_WRITE_ACCESS, nullptr);
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

TEST(Security, TemporaryFilesAreGoneAndTheirDirectoryMustExist) {
    // A CLOB beyond the threshold is spilled and removed; a missing directory is an error,
    // and the environment is never touched.
    const std::string big = "<a>" + std::string(200000, 'x') + "</a>";
    tarn::RoutineDesc clob = tesseltest::routine("qapExtractVarcharFromClob");
    ScopedEnv tmp("TMP", scratchDir().c_str());
    for (const char *dir : {tempDir().c_str(), "/nonexistent/tessel-temp"}) {
        ScopedEnv temp("TARNQAPTEMP", dir);
        tarn::ScalarStatement s(clob);
        auto o = s.call({Input(big), Input("/b")});
        const bool exists = std::string(dir) == tempDir();
        EXPECT_EQ(o.sqlstate, exists ? "01HX0" : "38X10") << o.message;
        EXPECT_EQ(o.message.substr(0, 9), exists ? "QAPD003W " : "QAPC012E ");
        EXPECT_STREQ(getenv("TMP"), scratchDir().c_str());
    }
    EXPECT_TRUE(listDir(tempDir()).empty());
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

namespace {

// One call of a routine on a statement of its own.
tarn::Outcome once(const char *routine, const std::vector<Input> &args) {
    tarn::ScalarStatement st(tesseltest::routine(routine));
    return st.call(args);
}

// An allowed directory A and, outside it, O with a secret document; both rules allow only A.
struct Escape {
    std::string a = scratchDir() + "/esc-a", o = scratchDir() + "/esc-o";
    std::string secret = o + "/s.xml";
    Escape() {
        mkdir(a.c_str(), 0700);
        mkdir(o.c_str(), 0700);
        writeFile(secret, "<a>SECRET</a>");
        tarnRegistrySet(TARN_REG_READ_ACCESS, a.c_str());
        tarnRegistrySet(TARN_REG_WRITE_ACCESS, a.c_str());
    }
    ~Escape() {
        tarnRegistrySet(TARN_REG_READ_ACCESS, nullptr);
        tarnRegistrySet(TARN_REG_WRITE_ACCESS, nullptr);
    }
};

// Runs body with the kernel's confined open, then with the library's own walk, which older
// kernels get; openat2 is back in use afterwards, whatever body does.
template <class Body> void withEachOpen(Body body) {
    struct Restore {
        ~Restore() { qapUseOpenat2(true); }
    } restore;
    for (bool openat2 : {true, false}) {
        SCOPED_TRACE(openat2 ? "openat2" : "walk without openat2");
        qapUseOpenat2(openat2);
        body();
    }
}

} // namespace

// Every name that leaves the directory is refused by both ways of opening; the walk is the
// stricter one, refusing ".." and links even where they would stay beneath.
TEST(Security, OpensStayBeneathWithOrWithoutOpenat2) {
    const std::string base = scratchDir() + "/beneath";
    mkdir(base.c_str(), 0700);
    mkdir((base + "/sub").c_str(), 0700);
    writeFile(base + "/a.xml", "<a/>");
    writeFile(base + "/sub/b.xml", "<b/>");
    symlink("/etc", (base + "/abs").c_str());
    symlink("..", (base + "/up").c_str());
    symlink("sub", (base + "/in").c_str());
    symlink("a.xml", (base + "/f.xml").c_str());
    const int dir = open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    auto opens = [&](const char *rel, int flags = O_RDONLY) {
        const int fd = qapOpenBeneath(dir, rel, flags, 0600);
        if (fd >= 0) close(fd);
        return fd >= 0;
    };
    withEachOpen([&] {
        for (const char *rel : {"a.xml", "sub/b.xml", "./sub//b.xml", "sub/"})
            EXPECT_TRUE(opens(rel)) << rel;
        for (const char *rel : {"../beneath/a.xml", "/etc/passwd", "abs/passwd", "up/beneath/a.xml",
                                "f.xml", "sub/../../beneath/a.xml", "", "sub/missing/x.xml"})
            EXPECT_FALSE(opens(rel)) << rel;
        EXPECT_FALSE(opens("abs/new.xml", O_WRONLY | O_CREAT));
        EXPECT_FALSE(opens("f.xml", O_WRONLY | O_TRUNC));
    });
    EXPECT_EQ(readFile(base + "/a.xml"), "<a/>");
    qapUseOpenat2(false);
    EXPECT_FALSE(opens("sub/../a.xml"));
    EXPECT_FALSE(opens("in/b.xml"));
    qapUseOpenat2(true);
    close(dir);
}

// A name whose bytes are not valid in the database code page is refused, not checked as one
// name and opened as another: a link or a linked directory so named leads nowhere. A FIFO is
// refused at once, read or written, without waiting for its other end.
TEST(Security, NamesThatDoNotConvertAndFifosAreRefused) {
    Escape e;
    symlink(e.secret.c_str(), (e.a + "/x\xFF.xml").c_str());
    symlink(e.o.c_str(), (e.a + "/\xFF").c_str());
    const std::string link = e.a + "/x\xFF.xml", dir = e.a + "/\xFF/s.xml", fifo = e.a + "/p";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    withEachOpen([&] {
        EXPECT_EQ(once("qapExtractVarchar", {fifo, "/a"}).sqlstate, "38X01");
        EXPECT_EQ(once("qapValidateFile2", {fifo, "<!ELEMENT a EMPTY>", "a"}).sqlstate, "38X01");
        EXPECT_EQ(once("qapContent_varchar2file", {"<b/>", fifo}).sqlstate, "38X01");
        EXPECT_EQ(once("qapCLOB", {link}).sqlstate, "38X02");
        EXPECT_EQ(once("qapVarChar", {dir}).sqlstate, "38X02");
        EXPECT_EQ(once("qapExtractVarchar", {dir, "/a"}).sqlstate, "38X02");
        EXPECT_EQ(once("qapValidateVarchar", {"<a/>", dir, "a"}).sqlstate, "38X02");
        EXPECT_EQ(once("qapContent_varchar2file", {"<b/>", link}).sqlstate, "38X03");
        EXPECT_EQ(once("qapContent_varchar2file", {"<b/>", e.a + "/\xFF/n.xml"}).sqlstate, "38X03");
    });
    EXPECT_EQ(readFile(e.secret), "<a>SECRET</a>");
    EXPECT_TRUE(listDir(e.o).size() == 1);
}

// Another user swaps a directory, or the file itself, with a link out of A while the routines
// read and write: what is opened is still checked, so nothing outside A is read or written.
TEST(Security, LinksSwappedInDuringACallLeadNowhere) {
    Escape e;
    mkdir((e.a + "/d").c_str(), 0700);
    writeFile(e.a + "/d/s.xml", "<a>ok</a>");
    writeFile(e.a + "/s.xml", "<a>ok</a>");
    symlink(e.o.c_str(), (e.a + "/dl").c_str());
    symlink(e.secret.c_str(), (e.a + "/sl").c_str());
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (int i = 0; !stop; ++i)
            renameat2(AT_FDCWD, (e.a + (i % 2 ? "/d" : "/s.xml")).c_str(), AT_FDCWD,
                      (e.a + (i % 2 ? "/dl" : "/sl")).c_str(), RENAME_EXCHANGE);
    });
    withEachOpen([&] {
        int leaks = 0, reads = 0;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
             std::chrono::steady_clock::now() < end;) {
            for (const char *name : {"/d/s.xml", "/s.xml"}) {
                auto o = once("qapVarChar", {e.a + name});
                leaks += o.text.find("SECRET") != std::string::npos;
                reads += o.ok();
                once("qapContent_varchar2file", {"<a>W</a>", e.a + "/d/w.xml"});
            }
        }
        EXPECT_EQ(leaks, 0);
        EXPECT_GT(reads, 0);
    });
    stop = true;
    swapper.join();
    EXPECT_EQ(readFile(e.secret), "<a>SECRET</a>");
    EXPECT_TRUE(listDir(e.o).size() == 1);
}

// Temporary files never appear by name where others could replace them with a link.
TEST(Security, TemporaryFilesHaveNoName) {
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, tempDir().c_str(), IN_CREATE), 0);
    const std::string big =
        "<!DOCTYPE a SYSTEM 'a.dtd'><a><b>1</b>" + std::string(200000, ' ') + "</a>";
    // staged, parsed, and then too long for a VARCHAR
    EXPECT_EQ(once("qapUpdateXMLVarchar", {big, "/a/b", "2"}).sqlstate, "38X39");
    EXPECT_EQ(once("qapUpdateXMLClob", {Input(big), "/a/b", "2"}).sqlstate, "00000");
    EXPECT_EQ(
        once("qapValidateVarchar2", {big, "<!ELEMENT a (b)><!ELEMENT b (#PCDATA)>", "a"}).sqlstate,
        "00000");
    EXPECT_EQ(once("qapExtractVarcharFromClob", {Input(big), Input("/a/b")}).text, "1");
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0);
    close(watch);
}

// A rewrite that fails (here at the file size limit) leaves the file byte for byte as it was
// and nothing beside it; a new file takes 0666 less the umask, a rewritten one its own mode.
TEST(Security, FailedRewritesLeaveTheFileAsItWas) {
    const std::string dir = scratchDir() + "/whole", f = dir + "/f.xml";
    mkdir(dir.c_str(), 0700);
    const std::string original = "<a><b>" + std::string(40000, 'o') + "</b></a>";
    writeFile(f, original);
    chmod(f.c_str(), 0640);
    const std::string big = "<a><b>" + std::string(50000, 'n') + "</b></a>";
    pid_t child = fork();
    if (child == 0) { // each write fails with "38X03"
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{30000, 30000};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit((once("qapContent_varchar2file", {big, f}).sqlstate +
               once("qapUpdateXMLFile", {f, "/a/b", big}).sqlstate +
               once("qapXMLFileFromVarchar2", {"<?xml version='1.0'?>" + big, f, "UTF-16"})
                   .sqlstate) != "38X0338X0338X03");
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(f), original);
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"f.xml"});

    EXPECT_EQ(once("qapUpdateXMLFile", {f, "/a/b", "x"}).sqlstate, "00000");
    const mode_t mask = umask(027);
    EXPECT_EQ(once("qapContent_varchar2file", {"<n/>", dir + "/n.xml"}).sqlstate, "00000");
    umask(mask);
    struct stat st, sn;
    ASSERT_EQ(stat(f.c_str(), &st) | stat((dir + "/n.xml").c_str(), &sn), 0);
    EXPECT_EQ(readFile(f), "<a><b>x</b></a>");
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(sn.st_mode & 0777, 0640u);
}

// A file the server's user may not write is not replaced, though its directory would allow it.
TEST(Security, ReadOnlyFilesAreNotReplaced) {
    char templ[] = "/tmp/tessel-ro-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    const std::string dir = templ, f = dir + "/ro.xml";
    chmod(dir.c_str(), 0777);
    writeFile(f, "<a><b>mine</b></a>");
    chmod(f.c_str(), 0444);
    pid_t child = fork();
    if (child == 0) { // as another user where the tests run as root; root may write it anyway
        if (geteuid() == 0 && setresuid(65534, 65534, 65534) != 0) _exit(2);
        setenv("TARNQAPPATH", dir.c_str(), 1); // the test's own directories are root's
        setenv("TARNQAPTEMP", dir.c_str(), 1);
        tarnRegistrySetForThread(TARN_REG_WRITE_ACCESS, dir.c_str());
        tarnRegistrySetForThread(TARN_REG_READ_ACCESS, dir.c_str());
        const std::string got = once("qapContent_varchar2file", {"<a/>", f}).sqlstate +
                                once("qapUpdateXMLFile", {f, "/a/b", "x"}).sqlstate +
                                once("qapFile", {Input("<a/>"), f}).sqlstate;
        _exit(got != "38X0038X0038X00");
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(f), "<a><b>mine</b></a>");
    EXPECT_EQ(listDir(dir), std::vector<std::string>{"ro.xml"});
    chmod(f.c_str(), 0644);
    remove(f.c_str());
    rmdir(dir.c_str());
}

// Two writers of one name: the file is always one whole version, never a mix.
TEST(Security, ConcurrentWritersLeaveOneWholeVersion) {
    const std::string f = scratchDir() + "/two.xml";
    const std::string large = "<a>" + std::string(1 << 20, 'L') + "</a>", small = "<a>s</a>";
    writeFile(f, small);
    std::atomic<int> running{2};
    auto writer = [&](const std::string &doc) {
        for (int i = 0; i < 20; ++i)
            once("qapContent_varchar2file", {doc, f});
        --running;
    };
    std::thread one(writer, large), two(writer, small);
    int mixed = 0;
    while (running > 0) {
        const std::string seen = readFile(f);
        mixed += seen != large && seen != small;
    }
    one.join();
    two.join();
    const std::string last = readFile(f);
    EXPECT_EQ(mixed, 0);
    EXPECT_TRUE(last == large || last == small);
    for (const std::string &name : listDir(scratchDir())) {
        EXPECT_NE(name.compare(0, 4, ".qap"), 0) << name;
    }
}

// A character the file's encoding cannot hold fails the call and leaves the file alone; a file
// that is not what its encoding says is not read with substitutes either.
TEST(Security, UnmappableCharactersAreNotReplaced) {
    const std::string f = writeFile("unmappable.xml", "<old/>");
    const std::string doc =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xE4\xB8\xAD\xE2\x82\xAC</a>";
    for (const char *encoding : {"ISO-8859-1", "ibm-930"}) {
        SCOPED_TRACE(encoding);
        for (const char *routine : {"qapXMLFileFromVarchar2", "qapXMLFileFromClob2"}) {
            auto o = once(routine, {doc, f, encoding});
            EXPECT_EQ(o.sqlstate, "38X45");
            EXPECT_EQ(o.message, "QAPQ055E  ICU error: 10\n");
        }
    }
    EXPECT_EQ(readFile(f), "<old/>");
    // reading: a byte that is no character of the file's encoding
    writeFile(f, "<a>caf\xE9</a>");
    EXPECT_EQ(once("qapXMLVarcharFromFile2", {f, "US-ASCII"}).sqlstate, "38X45");
    EXPECT_EQ(once("qapXMLCLOBFromFile2", {f, "US-ASCII"}).sqlstate, "38X07");
}

// A trace file that someone else made or put in place, or one in a directory others can
// write, is not used: the routine runs untraced and its result is as without a trace.
TEST(Security, TraceFilesOfOthersAreNotUsed) {
    const std::string ctl = tracePathDir() + "/qap" + getenv("TARNINSTANCE") + ".ctl";
    const std::string dir = scratchDir() + "/trc", shared = scratchDir() + "/trc-shared";
    mkdir(dir.c_str(), 0700);
    mkdir(shared.c_str(), 0777);
    chmod(shared.c_str(), 01777);
    const std::string made = writeFile(dir + "/made.trc", ""), fifo = dir + "/fifo.trc";
    chmod(made.c_str(), 0666);
    const bool root = geteuid() == 0;
    EXPECT_EQ(root ? chown(made.c_str(), 65534, 65534) : 0, 0);
    mkfifo(fifo.c_str(), 0600);
    symlink(made.c_str(), (dir + "/link.trc").c_str());
    symlink(dir.c_str(), (shared + "/ldir").c_str());
    for (const std::string &trace :
         {root ? made : fifo, fifo, dir + "/link.trc", shared + "/t.trc", shared + "/ldir/t.trc"}) {
        SCOPED_TRACE(trace);
        writeFile(ctl, trace);
        auto o = once("qapExtractVarcharFromVarchar", {"<a>private</a>", "/a"});
        EXPECT_EQ(o.sqlstate, "00000");
        EXPECT_EQ(o.text, "private");
    }
    remove(ctl.c_str());
    EXPECT_EQ(readFile(made), "");
    EXPECT_EQ(listDir(shared), std::vector<std::string>{"ldir"});
    EXPECT_EQ(listDir(dir).size(), 3u);
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
    int fds[2];
    if (pipe(fds) != 0) return "pipe";
    const pid_t child = fork();
    if (child == 0) {
        const long before = statusKiB("VmRSS:");
        const tarn::Outcome o = once(routine, args);
        const std::string told = o.sqlstate + " " + o.message.substr(0, 70) + " " +
                                 std::to_string((statusKiB("VmHWM:") - before) >> 10);
        _exit(write(fds[1], told.data(), told.size()) < 0);
    }
    close(fds[1]);
    std::string told;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        told.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    return told;
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
