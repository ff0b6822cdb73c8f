// The platform layer: absolute names, lexical full paths, sizes, temporary names, environment.
#include "qapPlatform.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::ScopedEnv;

TEST(Platform, AbsoluteMeansLeadingSeparator) {
    EXPECT_TRUE(qapIsAbsolutePath("/tmp/a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath("a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath("c:\\a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath(""));
}

TEST(Platform, FullPathJoinsCurrentDirectoryLexically) {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    char out[QAP_MAX_PATH];
    ASSERT_NE(qapFullPath(out, "no/such/../file.xml", sizeof out), nullptr);
    EXPECT_EQ(std::string(out), std::string(cwd) + "/no/such/../file.xml");
    ASSERT_NE(qapFullPath(out, "/abs/x", sizeof out), nullptr);
    EXPECT_STREQ(out, "/abs/x");
    // 1024 bytes with the terminator: a result of exactly 1023 characters fits, 1024 does not.
    std::string rel(1023 - strlen(cwd) - 1, 'a');
    EXPECT_NE(qapFullPath(out, rel.c_str(), sizeof out), nullptr);
    rel += 'a';
    EXPECT_EQ(qapFullPath(out, rel.c_str(), sizeof out), nullptr);
}

TEST(Platform, StatSize) {
    std::string path = testing_support::writeFile("size.bin", std::string(1234, 'x'));
    int32_t size = -1;
    EXPECT_EQ(qapStatSize(path.c_str(), &size), 0);
    EXPECT_EQ(size, 1234);
    EXPECT_EQ(qapStatSize("/no/such/file", &size), -1);
}

TEST(Platform, TempnamPrefersTmpThenDirThenRoot) {
    std::string dir = testing_support::tempDir();
    {
        ScopedEnv tmp("TMP", nullptr);
        char *name = qapTempnam(dir.c_str(), "qap");
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(name).rfind(dir + "/qap", 0), 0u) << name;
        struct stat st;
        EXPECT_NE(stat(name, &st), 0) << "nothing is created";
        char *other = qapTempnam(dir.c_str(), "qap");
        EXPECT_STRNE(name, other);
        free(other);
        free(name);
        name = qapTempnam("/no/such/dir", "qap");
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(name).rfind("/tmp/qap", 0), 0u) << name;
        free(name);
    }
    {
        ScopedEnv tmp("TMP", testing_support::scratchDir().c_str());
        char *name = qapTempnam(dir.c_str(), "qap");
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(std::string(name).rfind(testing_support::scratchDir() + "/qap", 0), 0u);
        free(name);
    }
}

TEST(Platform, PutenvSetsAndRemoves) {
    ScopedEnv guard("TESSEL_PUTENV_TEST", nullptr);
    EXPECT_EQ(qapPutenv("TESSEL_PUTENV_TEST=abc"), 0);
    EXPECT_STREQ(getenv("TESSEL_PUTENV_TEST"), "abc");
    EXPECT_EQ(qapPutenv("TESSEL_PUTENV_TEST="), 0);
    EXPECT_EQ(getenv("TESSEL_PUTENV_TEST"), nullptr);
    EXPECT_EQ(qapPutenv("=x"), -1);
}
