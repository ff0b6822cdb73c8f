// Hostile file names and file states: the allowed-files rule through links and case, opens
// that stay beneath the allowed directory with or without openat2, names that do not convert,
// FIFOs, links swapped in during a call, temporary files gone after their call and without a
// name, rewrites that fail, read-only files, concurrent writers, and trace files of others.
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

using namespace tesseltest;
using tarn::Input;
using tarn::SqlType;

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
