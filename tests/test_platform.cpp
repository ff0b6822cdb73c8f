// The platform layer where the file tests do not reach it: absolute names.
#include "qapPlatform.h"
#include "testSupport.h"

#include <gtest/gtest.h>

TEST(Platform, AbsoluteMeansLeadingSeparator) {
    EXPECT_TRUE(qapIsAbsolutePath("/tmp/a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath("a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath("c:\\a.xml"));
    EXPECT_FALSE(qapIsAbsolutePath(""));
}
