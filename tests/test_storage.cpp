// Server files and LOB locators: transfers between files and locators in the database and
// application code pages, failures of the host's locator services, limits at their exact bytes,
// and the allowed-files rule (the encoding table and the XML declaration: test_codepage.cpp).
#include "qapConv.h"
#include "qapCtx.h"
#include "qapFile.h"
#include "qapFileCopy.h"
#include "qapLob.h"
#include "qapMsg.h"
#include "qapPlatform.h"
#include "tarnTestHooks.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/fanotify.h>
#include <sys/stat.h>
#include <thread>
#include <unicode/ucnv.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <unistd.h>
#include <vector>

using tesseltest::exists;
using tesseltest::readFile;
using tesseltest::repeat;
using tesseltest::ScopedEnv;
using tesseltest::scratchDir;
using tesseltest::TestCtx;
using tesseltest::writeFile;
XERCES_CPP_NAMESPACE_USE

namespace {

constexpr int32_t kHostFail = -423;

struct Status {
    char sqlstate[kSqlstateSize] = "00000";
    char msgtext[kMsgTextSize] = "";
    bool is(const char *state, const char *msgId) const {
        return strcmp(sqlstate, state) == 0 && strncmp(msgtext, msgId, 8) == 0;
    }
};

// The value of a locator, or "<none>" when the host does not know it.
std::string lobValue(sqludf_locator loc) {
    const char *bytes = nullptr;
    int32_t n = tarnLobBytes(loc, &bytes);
    return n < 0 ? std::string("<none>") : std::string(bytes, static_cast<size_t>(n));
}

sqludf_locator lobOf(const std::string &value) {
    return tarnLobFromBytes(value.data(), static_cast<int32_t>(value.size()));
}

// Text whose bytes differ from one piece to the next, so a lost or misplaced piece shows.
std::string pattern(size_t n) {
    std::string s(n, ' ');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('!' + i % 89);
    return s;
}

// UTF-8 text in another encoding, converted by ICU.
std::string encode(const char *to, const std::string &utf8) {
    std::string out(utf8.size() * 4 + 8, '\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t n = ucnv_convert(to, "UTF-8", &out[0], static_cast<int32_t>(out.size()), utf8.data(),
                             static_cast<int32_t>(utf8.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status)) << to;
    out.resize(static_cast<size_t>(n));
    return out;
}

// A file opened for reading, and a file checked for writing, as a routine's gate does it.
QapOpenFile openedFile(QapRoutineCtx *ctx, const std::string &name) {
    QapOpenFile file;
    qapOpenRead(ctx, name.c_str(), file);
    return file;
}
QapWriteTarget writeTarget(QapRoutineCtx *ctx, const std::string &name) {
    QapWriteTarget target;
    qapCheckWrite(ctx, name.c_str(), target);
    return target;
}

class Storage : public ::testing::Test {
protected:
    void SetUp() override { tarnLobDisarm(); }
    void TearDown() override {
        tarnLobDisarm();
        EXPECT_TRUE(tesseltest::listDir(tesseltest::tempDir()).empty());
    }
    Status st_;
};

} // namespace

// Every locator operation that fails ends the transfer with "38X04" and the host's code.
TEST_F(Storage, HostFailuresGive38X04WithTheHostCode) {
    enum Op { CONV_TO_FILE, CONV_TO_FILE2, BUF_TO_LOB, FILE_TO_LOB };
    const struct {
        const char *what;
        Op op;
        int32_t failAfter; // successful service calls before the failing one
    } cases[] = {
        {"length query, converting to a file", CONV_TO_FILE, 0},
        {"whole read, rewriting to a file", CONV_TO_FILE2, 1},
        {"middle append", BUF_TO_LOB, 2},
        {"confirming the result from a file", FILE_TO_LOB, 4},
    };
    const std::string outName = scratchDir() + "/lob-out.xml";
    // A document with an XML declaration, so that it suits every transfer; three pieces.
    const std::string value = "<?xml version=\"1.0\"?>" + pattern(3 * 4096 - 21);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TestCtx ctx;
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        tarnLobDisarm();
        sqludf_locator loc = lobOf(value), out = 0;
        st_ = Status();
        tarnLobFailAfter(c.failAfter, kHostFail);
        int32_t rc = 0;
        switch (c.op) {
        case CONV_TO_FILE:
        case CONV_TO_FILE2:
            rc = (c.op == CONV_TO_FILE ? qapConvLocator2File : qapConvLocator2File2)(
                ctx, &loc, writeTarget(ctx, outName), {st_.sqlstate, st_.msgtext});
            EXPECT_FALSE(exists(outName));
            break;
        case BUF_TO_LOB:
            rc = qapBuf2Locator(ctx, value.data(), static_cast<int32_t>(value.size()), &out,
                                {st_.sqlstate, st_.msgtext});
            break;
        case FILE_TO_LOB: {
            QapOpenFile in = openedFile(ctx, writeFile("lob-in.xml", value));
            rc = qapFile2Locator(ctx, in, &out, {st_.sqlstate, st_.msgtext});
            break;
        }
        }
        EXPECT_EQ(rc, -1);
        EXPECT_STREQ(st_.sqlstate, "38X04");
        EXPECT_STREQ(st_.msgtext, "QAPC004E  Unable to operate the LOB Locator: rc=-423.\n");
    }
    // A read or append that moves fewer bytes than asked fails too; the host said 0.
    for (int append = 0; append < 2; ++append) {
        SCOPED_TRACE(append ? "short append" : "short read");
        TestCtx ctx;
        tarnLobDisarm();
        sqludf_locator loc = lobOf(value), out = 0;
        char text[4 * 4096] = "";
        st_ = Status();
        tarnLobShortAfter(append ? 2 : 1);
        const int32_t rc =
            append ? qapBuf2Locator(ctx, value.data(), static_cast<int32_t>(value.size()), &out,
                                    {st_.sqlstate, st_.msgtext})
                   : qapLocator2Buf(ctx, &loc, text, static_cast<int32_t>(value.size()),
                                    {st_.sqlstate, st_.msgtext});
        EXPECT_EQ(rc, -1);
        EXPECT_STREQ(st_.sqlstate, "38X04");
        EXPECT_STREQ(st_.msgtext, "QAPC004E  Unable to operate the LOB Locator: rc=0.\n");
    }
}

TEST_F(Storage, FileToLocatorInTheDatabaseCodePage) {
    const std::string longLine = pattern(10000);
    const std::string lines = longLine + "\n<a>\n\n</a>\n" + pattern(5000);
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87"; // two characters, UTF-8
    const struct {
        const char *what;
        int32_t dbCodePage;
        const char *appEncoding;
        std::string file, clob;
    } cases[] = {
        {"one byte beyond a piece", 1208, "UTF-8", pattern(4097), pattern(4097)},
        {"a NUL byte after a long line", 1208, "UTF-8", longLine + "\n" + std::string("ab\0cd", 5),
         longLine + "\nab"},
        {"Latin-1 file, long line", 1208, "ISO-8859-1",
         "caf\xE9\n" + repeat("\xE9", 5000) + "\n<a/>",
         "caf\xC3\xA9\n" + repeat("\xC3\xA9", 5000) + "\n<a/>"},
        // The first piece ends inside a two-byte character.
        {"UTF-8 file, character across pieces", 819, "UTF-8", "x" + repeat("\xC3\xA9", 3000),
         "x" + repeat("\xE9", 3000)},
        {"UTF-16BE, mark FE FF dropped", 1208, "UTF-16BE", "\xFE\xFF\x4E\x2D\x65\x87", chinese},
        {"UTF-16LE, mark FF FE dropped", 1208, "UTF-16LE", "\xFF\xFE\x2D\x4E\x87\x65", chinese},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TestCtx ctx(c.dbCodePage, c.appEncoding);
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        const std::string path = writeFile("in.xml", c.file);
        sqludf_locator out = 0;
        strcpy(st_.sqlstate, "38X99");
        QapOpenFile in = openedFile(ctx, path);
        EXPECT_EQ(qapFile2Locator(ctx, in, &out, {st_.sqlstate, st_.msgtext}), 0);
        EXPECT_STREQ(st_.sqlstate, "00000");
        EXPECT_EQ(lobValue(out), c.clob);
    }
}

// Files beyond the LOB limit are refused before any locator service is called.
TEST_F(Storage, FileBeyondTheLobLimitIsRefused) {
    TestCtx ctx;
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    const std::string path = tesseltest::scratchDir() + "/huge.xml";
    for (off_t size : {off_t(kLobLimit) + 1, off_t(3000000000LL)}) {
        SCOPED_TRACE(static_cast<long long>(size));
        int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        const int truncated = ftruncate(fd, size);
        close(fd);
        ASSERT_EQ(truncated, 0);

        // An armed failure that any locator call would consume.
        tarnLobFailAfter(0, kHostFail);
        const sqludf_locator untouched = 0xABCDu;
        sqludf_locator out = untouched;
        QapOpenFile in = openedFile(ctx, path);
        EXPECT_EQ(qapFile2Locator(ctx, in, &out, {st_.sqlstate, st_.msgtext}), -1);
        EXPECT_TRUE(st_.is("38X06", "QAPC006E")) << st_.msgtext;
        EXPECT_EQ(out, untouched);
        int32_t length = 0;
        EXPECT_EQ(sqludf_length(&out, &length), kHostFail) << "a locator service was called";
    }
    EXPECT_EQ(remove(path.c_str()), 0);
}

// Plain, or with the XML declaration rewritten for the application encoding (and a byte order
// mark for UTF-16).
TEST_F(Storage, LocatorToFileInTheApplicationCodePage) {
    const std::string doc = "<a>caf\xC3\xA9</a>\n";
    const struct {
        const char *appEncoding; // null: ICU's default, UTF-8
        bool rewrite;
        std::string clob, fileText; // UTF-8; the file holds fileText in the application encoding
        std::string mark;           // byte order mark before it
    } cases[] = {
        {nullptr, false, doc, doc, ""},
        {"ISO-8859-1", false, doc, doc, ""},
        {"ISO-8859-1", false, repeat(doc, 2000), repeat(doc, 2000), ""},
        {nullptr, true, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xC3\xA9</a>",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><a>\xC3\xA9</a>", ""},
        {"ISO-8859-1", true,
         "<?xml version=\"1.0\" encoding='UTF-8' standalone=\"yes\"?><a>\xC3\xA9</a>",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?><a>\xC3\xA9</a>", ""},
        {"UTF-16BE", true, "<?xml version='1.0'?>\n<a>" + pattern(6000) + "</a>",
         "<?xml version='1.0' encoding=\"UTF-16BE\" ?>\n<a>" + pattern(6000) + "</a>", "\xFE\xFF"},
        // the name ICU gives, in the application's own code page
        {"ibm-37", true, "<?xml version='1'?>", "<?xml version='1' encoding=\"IBM037\" ?>", ""},
    };
    const std::string name = tesseltest::scratchDir() + "/out.xml";
    for (const auto &c : cases) {
        const char *enc = c.appEncoding != nullptr ? c.appEncoding : "UTF-8";
        SCOPED_TRACE(std::string(enc) + (c.rewrite ? " rewritten, " : ", ") +
                     std::to_string(c.clob.size()) + " bytes");
        TestCtx ctx(1208, c.appEncoding);
        ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
        sqludf_locator loc = lobOf(c.clob);
        remove(name.c_str());
        EXPECT_EQ((c.rewrite ? qapConvLocator2File2 : qapConvLocator2File)(
                      ctx, &loc, writeTarget(ctx, name), {st_.sqlstate, st_.msgtext}),
                  0)
            << st_.msgtext;
        EXPECT_TRUE(exists(name));
        EXPECT_EQ(readFile(name), c.mark + encode(enc, c.fileText));
    }

    // Without an XML declaration nothing is written.
    TestCtx ctx(1208, "ISO-8859-1");
    ASSERT_EQ(ctx.initRc, 0) << ctx.msgtext;
    sqludf_locator loc = lobOf("<a/>");
    remove(name.c_str());
    EXPECT_EQ(qapConvLocator2File2(ctx, &loc, writeTarget(ctx, name), {st_.sqlstate, st_.msgtext}),
              -1);
    EXPECT_STREQ(st_.sqlstate, "38X14");
    EXPECT_FALSE(exists(name));
}

TEST(Files, AbsolutePathsAreLexicalAndFitTheBuffer) {
    char buf[4096];
    const std::string cwd = getcwd(buf, sizeof buf);
    const std::string longest = "/" + std::string(1022, 'x'); // 1023 bytes and the terminator
    const struct {
        std::string name, path; // path "": refused
    } cases[] = {
        {longest, longest},
        {longest + "x", ""},
        {std::string(1022 - cwd.size(), 'r'), cwd + "/" + std::string(1022 - cwd.size(), 'r')},
        {std::string(1023 - cwd.size(), 'r'), ""},
    };
    for (const auto &c : cases) {
        char out[kMaxPath];
        EXPECT_EQ(qapGetAbsPath(nullptr, c.name.c_str(), out), c.path.empty() ? -1 : 0);
        EXPECT_EQ(std::string(out), c.path) << c.name.size();
    }
    QapOpenFile file;
    EXPECT_EQ(qapOpenRead(nullptr, (longest + "x").c_str(), file), -1);
}

// A rewrite's new file is private from its creation, whatever the umask lets a new file have,
// so no one else can open it and read the new content: a fanotify listener holds each open in
// the directory (the new file's first is its creation) and looks at the mode then. Once whole it
// takes the target's mode, or 0666 less the umask for a new file.
TEST(Files, ReplacementsArePrivateWhileWritten) {
    const std::string dir = scratchDir() + "/watched", target = dir + "/secret.xml";
    mkdir(dir.c_str(), 0755);
    writeFile(target, "<a/>");
    chmod(target.c_str(), 0600);
    const int fan = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY);
    if (fan < 0 || fanotify_mark(fan, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                                 dir.c_str()) != 0)
        GTEST_SKIP() << "no fanotify here (it needs CAP_SYS_ADMIN)";
    std::vector<mode_t> created; // the modes of the new files at their creation
    std::atomic<bool> done{false};
    std::thread listener([&] {
        alignas(fanotify_event_metadata) char buf[4096];
        for (pollfd p{fan, POLLIN, 0}; !done;) {
            const ssize_t n = poll(&p, 1, 20) == 1 ? read(fan, buf, sizeof buf) : 0;
            auto *m = reinterpret_cast<fanotify_event_metadata *>(buf);
            for (ssize_t left = n; FAN_EVENT_OK(m, left); m = FAN_EVENT_NEXT(m, left)) {
                char name[PATH_MAX] = "";
                struct stat st;
                if (readlink(("/proc/self/fd/" + std::to_string(m->fd)).c_str(), name,
                             sizeof name - 1) > 0 &&
                    strstr(name, "/.qap") != nullptr && fstat(m->fd, &st) == 0)
                    created.push_back(st.st_mode & 07777);
                fanotify_response allow{m->fd, FAN_ALLOW};
                EXPECT_EQ(write(fan, &allow, sizeof allow), static_cast<ssize_t>(sizeof allow));
                close(m->fd);
            }
        }
    });
    const mode_t mask = umask(022);
    TestCtx ctx;
    Status st;
    EXPECT_EQ(
        qapBuf2File(ctx, "<a>new</a>", 10, writeTarget(ctx, target), {st.sqlstate, st.msgtext}), 0);
    EXPECT_EQ(
        qapBuf2File(ctx, "<n/>", 4, writeTarget(ctx, dir + "/new.xml"), {st.sqlstate, st.msgtext}),
        0);
    umask(mask);
    done = true;
    listener.join();
    close(fan);
    ASSERT_EQ(created.size(), 2u);
    for (mode_t m : created)
        EXPECT_EQ(m & 077, 0u) << std::oct << m;
    struct stat ts, ns;
    ASSERT_EQ(stat(target.c_str(), &ts) | stat((dir + "/new.xml").c_str(), &ns), 0);
    EXPECT_EQ(ts.st_mode & 0777, 0600u);
    EXPECT_EQ(ns.st_mode & 0777, 0644u);
    EXPECT_EQ(readFile(target), "<a>new</a>");
}

// ---- File to VARCHAR -----------------------------------------------------------------------

TEST(FileToVarchar, LimitsAndConversion) {
    const std::string full(kVarcharMax, 'a');
    const struct {
        int32_t db;
        const char *app;
        std::string file, state, text; // state: SQLSTATE and message id, "" when read
    } cases[] = {
        {1208, "UTF-8", full, "", full},
        {1208, "UTF-8", full + "a", "38X05QAPC005E", ""},
        {1208, "ISO-8859-1", "<a>\xFC</a>", "", "<a>\xC3\xBC</a>"},
        // Converted, the result must leave a byte for the terminator.
        {1208, "ISO-8859-1", full.substr(1), "", full.substr(1)},
        {1208, "ISO-8859-1", full, "38X45QAPC005E", ""},
        // A UTF-16 byte order mark is dropped.
        {1208, "UTF-16BE", std::string("\xFE\xFF\x00<\x00\xE9\x00>", 8), "", "<\xC3\xA9>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.app) + " " + std::to_string(c.file.size()));
        TestCtx ctx(c.db, c.app);
        ASSERT_EQ(ctx.initRc, 0);
        writeFile("in.xml", c.file);
        std::vector<char> out(kVarcharMax + 1, '#');
        Status st;
        QapOpenFile in = openedFile(ctx, "in.xml");
        int rc = qapFile2Varchar(ctx, in, out.data(), kVarcharMax, {st.sqlstate, st.msgtext});
        EXPECT_EQ(rc, c.state.empty() ? 0 : -1);
        if (c.state.empty())
            EXPECT_EQ(std::string(out.data()), c.text);
        else
            EXPECT_TRUE(st.is(c.state.substr(0, 5).c_str(), c.state.substr(5).c_str()))
                << st.sqlstate << " " << st.msgtext;
    }
}
