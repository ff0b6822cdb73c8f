// The platform layer where the file tests do not reach it: absolute names and the environment.
#include "qapPlatform.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(Platform, AbsoluteMeansLeadingSeparator) {
    EXPECT_TRUE(qapIsAbsolutePath("/tmp/a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath("a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath("c:\\a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath(""));
}

TEST(Platform, PutenvSetsAndRemoves) {
    testing_support::ScopedEnv guard("TESSEL_PUTENV_TEST", nullptr);
    EXPECT_EQ(qapPutenv("TESSEL_PUTENV_TEST=abc"), 0);
    EXPECT_STREQ(getenv("TESSEL_PUTENV_TEST"), "abc");
    EXPECT_EQ(qapPutenv("TESSEL_PUTENV_TEST="), 0);
    EXPECT_EQ(getenv("TESSEL_PUTENV_TEST"), nullptr);
    EXPECT_EQ(qapPutenv("=x"), -1);
}
