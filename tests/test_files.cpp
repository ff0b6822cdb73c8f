// Server files, temporary files and the allowed-files rule.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapFile.h"
#include "qapPlatform.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::scratchDir;
using testing_support::TestCtx;
using testing_support::writeFile;

namespace {

std::string cwd() {
    char buf[4096];
    return getcwd(buf, sizeof buf) != nullptr ? buf : "";
}

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

struct Status {
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    bool is(const char *state, const char *msgId) const {
        return strcmp(sqlstate, state) == 0 && strncmp(msgtext, msgId, 8) == 0;
    }
};

} // namespace

// ---- Paths and opening ---------------------------------------------------------------------

TEST(Files, AbsolutePaths) {
    char out[QAP_MAX_PATH];
    EXPECT_EQ(qapGetAbsPath(nullptr, "a.xml", out), 0);
    EXPECT_EQ(std::string(out), cwd() + "/a.xml");
    EXPECT_EQ(qapGetAbsPath(nullptr, "sub/../a.xml", out), 0); // lexical, nothing resolved
    EXPECT_EQ(std::string(out), cwd() + "/sub/../a.xml");
    EXPECT_EQ(qapGetAbsPath(nullptr, "/tmp/a.xml", out), 0);
    EXPECT_STREQ(out, "/tmp/a.xml");

    // The path buffer holds 1023 bytes and the terminator; a longer name is refused.
    std::string longest = "/" + std::string(1022, 'x');
    EXPECT_EQ(qapGetAbsPath(nullptr, longest.c_str(), out), 0);
    EXPECT_EQ(std::string(out), longest);
    EXPECT_EQ(qapGetAbsPath(nullptr, (longest + "x").c_str(), out), -1);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(qapGetAbsPath(nullptr, std::string(1023 - cwd().size(), 'r').c_str(), out), -1);
    EXPECT_EQ(xml_fopen(nullptr, (longest + "x").c_str(), "rb"), nullptr);
}

TEST(Files, OpenSizeAndSeek) {
    writeFile("open.xml", "0123456789");
    FILE *f = xml_fopen(nullptr, "open.xml", "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(qap_fseek(nullptr, f, 7), 0);
    char buf[8] = {};
    EXPECT_EQ(fread(buf, 1, 8, f), 3u);
    EXPECT_STREQ(buf, "789");
    EXPECT_EQ(qap_fseek(nullptr, f, -1), -1);
    fclose(f);
    EXPECT_EQ(xml_fopen(nullptr, "open.xml", "rbbbbbb"), nullptr); // modes are short

    int32_t size = -1;
    EXPECT_EQ(qap_getFileSize(nullptr, "open.xml", &size), 0);
    EXPECT_EQ(size, 10);
    size = -1;
    EXPECT_NE(qap_getFileSize(nullptr, "missing.xml", &size), 0);
    EXPECT_EQ(size, 0);
}

TEST(Files, BufferToFile) {
    Status st;
    std::string path = scratchDir() + "/written.xml";
    writeFile(path, "old and longer content");
    EXPECT_EQ(qap_buf2file(nullptr, "new", 3, path.c_str(), st.sqlstate, st.msgtext), 0);
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(qap_buf2file(nullptr, "ignored", 0, "empty.xml", st.sqlstate, st.msgtext), 0);
    EXPECT_TRUE(exists(scratchDir() + "/empty.xml"));
    EXPECT_EQ(readFile(scratchDir() + "/empty.xml"), "");
    EXPECT_STREQ(st.sqlstate, "00000");

    EXPECT_EQ(qap_buf2file(nullptr, "x", 1, "no/such/dir/a.xml", st.sqlstate, st.msgtext), -1);
    EXPECT_TRUE(st.is("38X00", "QAPC000E")) << st.sqlstate << " " << st.msgtext;
}

// ---- File to VARCHAR -----------------------------------------------------------------------

namespace {
struct Read {
    int rc;
    std::string text;
    Status st;
};
Read file2varchar(QapRoutineCtx *ctx, const std::string &name) {
    std::vector<char> out(QAP_VARCHAR_MAX + 1, '#');
    Read r;
    r.rc = qap_file2varchar(ctx, name.c_str(), out.data(), QAP_VARCHAR_MAX, r.st.sqlstate,
                            r.st.msgtext);
    if (r.rc == 0) r.text = out.data();
    return r;
}
} // namespace

TEST(FileToVarchar, LimitsWithEqualCodePages) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    const std::string full(QAP_VARCHAR_MAX, 'a');
    writeFile("full.xml", full);
    Read r = file2varchar(ctx, "full.xml");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, full);

    writeFile("over.xml", full + "a");
    r = file2varchar(ctx, "over.xml");
    EXPECT_EQ(r.rc, -1);
    EXPECT_TRUE(r.st.is("38X05", "QAPC005E")) << r.st.sqlstate << " " << r.st.msgtext;

    r = file2varchar(ctx, "missing.xml");
    EXPECT_EQ(r.rc, -1);
    EXPECT_TRUE(r.st.is("38X01", "QAPC001E"));

    writeFile("empty.xml", "");
    r = file2varchar(ctx, "empty.xml");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "");
}

TEST(FileToVarchar, ConvertedToTheDatabaseCodePage) {
    TestCtx ctx(1208, "ISO-8859-1");
    ASSERT_EQ(ctx.initRc, 0);
    writeFile("latin.xml", "<a>\xFC</a>");
    Read r = file2varchar(ctx, "latin.xml");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.text, "<a>\xC3\xBC</a>");

    // The result must leave a byte for the terminator, and grows with the conversion.
    writeFile("fits.xml", std::string(QAP_VARCHAR_MAX - 1, 'a'));
    EXPECT_EQ(file2varchar(ctx, "fits.xml").rc, 0);
    writeFile("grows.xml", std::string(20000, '\xE9'));
    r = file2varchar(ctx, "grows.xml");
    EXPECT_EQ(r.rc, -1);
    EXPECT_TRUE(r.st.is("38X45", "QAPC005E")) << r.st.sqlstate << " " << r.st.msgtext;
    writeFile("justover.xml", std::string(QAP_VARCHAR_MAX, 'a'));
    r = file2varchar(ctx, "justover.xml");
    EXPECT_EQ(r.rc, -1);
    EXPECT_TRUE(r.st.is("38X45", "QAPC005E"));
}

TEST(FileToVarchar, Utf16ByteOrderMarkIsDropped) {
    {
        TestCtx ctx(1208, "UTF-16BE");
        ASSERT_EQ(ctx.initRc, 0);
        writeFile("be.xml", std::string("\xFE\xFF\x00<\x00\xE9\x00>", 8));
        EXPECT_EQ(file2varchar(ctx, "be.xml").text, "<\xC3\xA9>");
    }
    {
        // Equal code pages: the bytes after the mark move up and end where they end.
        TestCtx ctx(1200, "UTF-16BE");
        ASSERT_EQ(ctx.initRc, 0);
        writeFile("be2.xml", std::string("\xFE\xFF\x00<\x00>", 6));
        std::vector<char> out(QAP_VARCHAR_MAX + 1, '#');
        Status st;
        ASSERT_EQ(
            qap_file2varchar(ctx, "be2.xml", out.data(), QAP_VARCHAR_MAX, st.sqlstate, st.msgtext),
            0);
        EXPECT_EQ(std::string(out.data(), 5), std::string("\x00<\x00>\x00", 5));
    }
}

// ---- Temporary files -----------------------------------------------------------------------

TEST(TempFiles, NamesLandInTarnqaptempAndTmpIsRestored) {
    std::string other = scratchDir() + "/othertmp";
    mkdir(other.c_str(), 0700);
    ScopedEnv tmp("TMP", other.c_str());
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    EXPECT_EQ(std::string(ctx->savedTmpEnv), "TMP=" + other);
    ASSERT_NE(ctx->tempDir, nullptr);
    EXPECT_EQ(std::string(ctx->tempDir), testing_support::tempDir());

    char *a = qap_tempFilename(ctx);
    char *b = qap_tempFilename(ctx);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    const std::string prefix = testing_support::tempDir() + "/qap";
    EXPECT_EQ(std::string(a).rfind(prefix, 0), 0u) << a;
    EXPECT_STRNE(a, b);
    EXPECT_FALSE(exists(a)); // only named
    ASSERT_NE(getenv("TMP"), nullptr);
    EXPECT_EQ(std::string(getenv("TMP")), other);
    free(a);
    free(b);
}

TEST(TempFiles, WithoutTarnqaptempTmpOrTheRootTempDirectory) {
    ScopedEnv noTemp("TARNQAPTEMP", nullptr);
    {
        ScopedEnv noTmp("TMP", nullptr);
        TestCtx ctx(1208, "UTF-8");
        ASSERT_EQ(ctx.initRc, 0);
        EXPECT_EQ(ctx->tempDir, nullptr);
        for (QapRoutineCtx *c : {ctx.get(), static_cast<QapRoutineCtx *>(nullptr)}) {
            char *name = qap_tempFilename(c);
            ASSERT_NE(name, nullptr);
            EXPECT_EQ(std::string(name).rfind("/tmp/qap", 0), 0u) << name;
            free(name);
        }
    }
    std::string other = scratchDir() + "/tmpdir2";
    mkdir(other.c_str(), 0700);
    ScopedEnv tmp("TMP", other.c_str());
    TestCtx ctx(1208, "UTF-8");
    char *name = qap_tempFilename(ctx);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name).rfind(other + "/qap", 0), 0u) << name;
    free(name);
}

TEST(TempFiles, OwnerRemovesTheFile) {
    std::string path;
    {
        QapTempFile temp(qap_tempFilename(nullptr));
        ASSERT_NE(temp.name(), nullptr);
        path = temp.name();
        Status st;
        ASSERT_EQ(qap_buf2file(nullptr, "x", 1, temp.name(), st.sqlstate, st.msgtext), 0);
        EXPECT_TRUE(exists(path));
        temp.reset(qap_tempFilename(nullptr)); // the first file goes at once
        EXPECT_FALSE(exists(path));
        path = temp.name();
        ASSERT_EQ(qap_buf2file(nullptr, "y", 1, temp.name(), st.sqlstate, st.msgtext), 0);
    }
    EXPECT_FALSE(exists(path));
}

// ---- The allowed-files rule ----------------------------------------------------------------

namespace {

// Sets a registry value for the scope of the object.
class ScopedRegistry {
public:
    ScopedRegistry(int32_t id, const char *value) : id_(id) { tarnRegistrySet(id, value); }
    ~ScopedRegistry() { tarnRegistrySet(id_, nullptr); }
    ScopedRegistry(const ScopedRegistry &) = delete;
    ScopedRegistry &operator=(const ScopedRegistry &) = delete;

private:
    int32_t id_;
};

struct Access {
    const char *value; // null: no registry value
    const char *name;
    bool allowed;
};

void checkAccess(QapRoutineCtx *ctx, const std::vector<Access> &cases) {
    for (int access : {0, 1}) {
        for (const Access &c : cases) {
            ScopedRegistry reg(access == 0 ? TARN_REG_READ_ACCESS : TARN_REG_WRITE_ACCESS, c.value);
            // The other kind of access must not be consulted.
            ScopedRegistry other(access == 0 ? TARN_REG_WRITE_ACCESS : TARN_REG_READ_ACCESS, "ANY");
            Status st;
            int rc = qapChkRegistry(ctx, access, c.name, st.sqlstate, st.msgtext);
            std::string what = std::string(access == 0 ? "read " : "write ") +
                               (c.value != nullptr ? c.value : "(none)") + " : " + c.name;
            if (c.allowed) {
                EXPECT_EQ(rc, 0) << what;
                EXPECT_STREQ(st.sqlstate, "00000") << what;
            } else {
                EXPECT_EQ(rc, -1) << what;
                bool reading = access == 0;
                EXPECT_TRUE(reading ? st.is("38X02", "QAPC002E") : st.is("38X03", "QAPC003E"))
                    << what << " " << st.sqlstate << " " << st.msgtext;
            }
        }
    }
}

} // namespace

TEST(AllowedFiles, Rule) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    const char *two = "/xml; /docs//";
    checkAccess(ctx, {
                         // "ANY" exactly allows everything, even an empty name or ".."
                         {"ANY", "/etc/passwd", true},
                         {"ANY", "", true},
                         {"ANY", "/xml/../etc/passwd", true},
                         // other spellings are ordinary entries
                         {"any", "/etc/passwd", false},
                         {"any", "any/a.xml", true},
                         {" ANY", "/etc/passwd", false},
                         {" ANY", "ANY/a.xml", true},
                         // entries with blanks, doubled separators and case differences
                         {two, "/xml/a.xml", true},
                         {two, "/XML/a.xml", true},
                         {two, "/docs/sub/b.xml", true},
                         {two, "//docs///sub//b.xml", true},
                         {two, "/xmlfiles/a.xml", false},
                         {two, "/xml", false},
                         {two, "/xml/", false},
                         {two, "xml/a.xml", false},
                         {two, "/other/a.xml", false},
                         {two, "", false},
                         // empty entries and white-space-only entries are skipped
                         {";;  ;\t; /data ;", "/data/a.xml", true},
                         {";;  ;\t;", "/a.xml", false},
                         {" \t/Data/In/ ", "/data/in/x/y.xml", true},
                         // relative entries match relative names as written
                         {"rel", "rel/a.xml", true},
                         {"rel", "/rel/a.xml", false},
                         // the root allows every absolute name
                         {"/", "/a.xml", true},
                         {"/", "a.xml", false},
                         // a parent component is refused whatever the entries say
                         {two, "/xml/../etc/passwd", false},
                         {two, "/xml/sub/..", false},
                         {"/", "/..", false},
                         {two, "/xml/..a/b.xml", true},
                         {two, "/xml/a../b.xml", true},
                         {two, "/xml/./a.xml", true},
                         // no value, or an empty one, allows nothing
                         {nullptr, "/xml/a.xml", false},
                         {"", "/xml/a.xml", false},
                     });
}

TEST(AllowedFiles, NamesInTheDatabaseCodePage) {
    TestCtx ctx(37, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    // "/xml/a" and "/xml/../a" in EBCDIC; the registry value is in the system code page.
    checkAccess(ctx, {{"/XML", "\x61\xA7\x94\x93\x61\x81", true},
                      {"/XML", "/xml/a", false},
                      {"/xml", "\x61\xA7\x94\x93\x61\x4B\x4B\x61\x81", false}});
}
