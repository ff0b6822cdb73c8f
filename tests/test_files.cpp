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

using testing_support::exists;
using testing_support::readFile;
using testing_support::ScopedEnv;
using testing_support::scratchDir;
using testing_support::TestCtx;
using testing_support::writeFile;

namespace {

struct Status {
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    bool is(const char *state, const char *msgId) const {
        return strcmp(sqlstate, state) == 0 && strncmp(msgtext, msgId, 8) == 0;
    }
};

} // namespace

TEST(Files, AbsolutePathsAreLexicalAndFitTheBuffer) {
    char buf[4096];
    const std::string cwd = getcwd(buf, sizeof buf);
    const std::string longest = "/" + std::string(1022, 'x'); // 1023 bytes and the terminator
    const struct {
        std::string name, path; // path "": refused
    } cases[] = {
        {"a.xml", cwd + "/a.xml"},
        {"sub/../a.xml", cwd + "/sub/../a.xml"},
        {"/tmp/a.xml", "/tmp/a.xml"},
        {longest, longest},
        {longest + "x", ""},
        {std::string(1022 - cwd.size(), 'r'), cwd + "/" + std::string(1022 - cwd.size(), 'r')},
        {std::string(1023 - cwd.size(), 'r'), ""},
    };
    for (const auto &c : cases) {
        char out[QAP_MAX_PATH];
        EXPECT_EQ(qapGetAbsPath(nullptr, c.name.c_str(), out), c.path.empty() ? -1 : 0);
        EXPECT_EQ(std::string(out), c.path) << c.name.size();
    }
    EXPECT_EQ(xml_fopen(nullptr, (longest + "x").c_str(), "rb"), nullptr);
}

TEST(Files, OpenSizeSeekAndWrite) {
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

    Status st;
    EXPECT_EQ(qap_buf2file(nullptr, "new", 3, "open.xml", st.sqlstate, st.msgtext), 0);
    EXPECT_EQ(readFile("open.xml"), "new");
    EXPECT_EQ(qap_buf2file(nullptr, "ignored", 0, "empty.xml", st.sqlstate, st.msgtext), 0);
    EXPECT_TRUE(exists("empty.xml"));
    EXPECT_EQ(readFile("empty.xml"), "");
    EXPECT_STREQ(st.sqlstate, "00000");
    EXPECT_EQ(qap_buf2file(nullptr, "x", 1, "no/such/dir/a.xml", st.sqlstate, st.msgtext), -1);
    EXPECT_TRUE(st.is("38X00", "QAPC000E")) << st.sqlstate << " " << st.msgtext;
}

// ---- File to VARCHAR -----------------------------------------------------------------------

TEST(FileToVarchar, LimitsAndConversion) {
    const std::string full(QAP_VARCHAR_MAX, 'a');
    const struct {
        int32_t db;
        const char *app;
        std::string file, state, text; // state: SQLSTATE and message id, "" when read
    } cases[] = {
        {1208, "UTF-8", full, "", full},
        {1208, "UTF-8", full + "a", "38X05QAPC005E", ""},
        {1208, "UTF-8", "", "", ""},
        {1208, "ISO-8859-1", "<a>\xFC</a>", "", "<a>\xC3\xBC</a>"},
        // Converted, the result must leave a byte for the terminator.
        {1208, "ISO-8859-1", full.substr(1), "", full.substr(1)},
        {1208, "ISO-8859-1", full, "38X45QAPC005E", ""},
        {1208, "ISO-8859-1", std::string(20000, '\xE9'), "38X45QAPC005E", ""},
        // A UTF-16 byte order mark is dropped.
        {1208, "UTF-16BE", std::string("\xFE\xFF\x00<\x00\xE9\x00>", 8), "", "<\xC3\xA9>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.app) + " " + std::to_string(c.file.size()));
        TestCtx ctx(c.db, c.app);
        ASSERT_EQ(ctx.initRc, 0);
        writeFile("in.xml", c.file);
        std::vector<char> out(QAP_VARCHAR_MAX + 1, '#');
        Status st;
        int rc =
            qap_file2varchar(ctx, "in.xml", out.data(), QAP_VARCHAR_MAX, st.sqlstate, st.msgtext);
        EXPECT_EQ(rc, c.state.empty() ? 0 : -1);
        if (c.state.empty())
            EXPECT_EQ(std::string(out.data()), c.text);
        else
            EXPECT_TRUE(st.is(c.state.substr(0, 5).c_str(), c.state.substr(5).c_str()))
                << st.sqlstate << " " << st.msgtext;
    }
    TestCtx ctx(1208, "UTF-8");
    std::vector<char> out(QAP_VARCHAR_MAX + 1, '#');
    Status st;
    EXPECT_EQ(
        qap_file2varchar(ctx, "missing.xml", out.data(), QAP_VARCHAR_MAX, st.sqlstate, st.msgtext),
        -1);
    EXPECT_TRUE(st.is("38X01", "QAPC001E"));

    // Equal UTF-16 code pages: the bytes after the mark move up and end where they end.
    TestCtx utf16(1200, "UTF-16BE");
    ASSERT_EQ(utf16.initRc, 0);
    writeFile("be2.xml", std::string("\xFE\xFF\x00<\x00>", 6));
    ASSERT_EQ(
        qap_file2varchar(utf16, "be2.xml", out.data(), QAP_VARCHAR_MAX, st.sqlstate, st.msgtext),
        0);
    EXPECT_EQ(std::string(out.data(), 5), std::string("\x00<\x00>\x00", 5));
}

// ---- Temporary files -----------------------------------------------------------------------

TEST(TempFiles, NamedInTarnqaptempThenTmpThenTheRootTempDirectory) {
    const std::string other = scratchDir() + "/othertmp";
    mkdir(other.c_str(), 0700);
    const std::string temp = testing_support::tempDir();
    const struct {
        const char *tarnqaptemp, *tmp;
        std::string dir; // where the names land
    } cases[] = {
        {temp.c_str(), other.c_str(), temp},
        {nullptr, other.c_str(), other},
        {nullptr, nullptr, "/tmp"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dir);
        ScopedEnv env1("TARNQAPTEMP", c.tarnqaptemp);
        ScopedEnv env2("TMP", c.tmp);
        TestCtx ctx(1208, "UTF-8");
        ASSERT_EQ(ctx.initRc, 0);
        EXPECT_STREQ(ctx->tempDir, c.tarnqaptemp);
        char *a = qap_tempFilename(ctx);
        char *b = qap_tempFilename(ctx);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(std::string(a).rfind(c.dir + "/qap", 0), 0u) << a;
        EXPECT_STRNE(a, b);
        EXPECT_TRUE(exists(a));
        remove(a);
        remove(b);
        EXPECT_STREQ(getenv("TMP"), c.tmp);
        free(a);
        free(b);
    }
    // Without a context: TMP, else the root temporary directory.
    ScopedEnv noTmp("TMP", nullptr);
    char *name = qap_tempFilename(nullptr);
    EXPECT_EQ(std::string(name).rfind("/tmp/qap", 0), 0u) << name;
    remove(name);
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
