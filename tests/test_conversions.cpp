// The values of the result kinds: numbers, integers, reals and timestamps from text, as the
// extract routines convert them.
#include "qapExtractKinds.h"
#include "tarnCall.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

TEST(Conversions, NumbersFromText) {
    const struct {
        std::string text;
        double value;
        int32_t err;
    } rows[] = {// blanks and line feeds around the number; a point or an exponent alone
                {" 12.5 ", 12.5, 0},
                {"\n12.5\n", 12.5, 0},
                {"+0012.50", 12.5, 0},
                {"1.5E-3", 0.0015, 0},
                {"-.5", -0.5, 0},
                // the decimal exponent of the leading digit: -79 to 75
                {"1000e73", 0, kAtofRange},
                {"0.001e-76", 1e-79, 0},
                {"000.00012e-76", 0, kAtofRange},
                // 30 characters are read, 31 are not, counted before trailing blanks are cut
                {"123456789012345678901234567890", 123456789012345678901234567890.0, 0},
                {"12.5" + std::string(26, ' '), 12.5, 0},
                {"12.5" + std::string(27, ' '), 0, kAtofTooLong},
                // only blanks and line feeds are white space
                {"\t12.5", 0, kAtofSyntax},
                {"- 5", 0, kAtofSyntax},
                {"12abc", 0, kAtofSyntax},
                {"1e", 0, kAtofSyntax},
                {" ", 0, kAtofUnconverted}};
    for (const auto &r : rows) {
        SCOPED_TRACE("'" + r.text + "'");
        std::string text = r.text;
        int32_t err = 99;
        EXPECT_DOUBLE_EQ(qapAtof(&text[0], &err), r.value);
        EXPECT_EQ(err, r.err);
    }
    // Decimals of up to 18 digits, the point anywhere: the same bits as strtod.
    std::mt19937_64 rng(7);
    for (int k = 0; k < 200000; ++k) {
        std::string text = rng() % 3 == 0 ? "-" : "";
        const int digits = 1 + static_cast<int>(rng() % 18);
        const int point = static_cast<int>(rng() % (digits + 2));
        for (int i = 0; i < digits; ++i) {
            if (i == point) text += '.';
            text += static_cast<char>('0' + (rng() % (i < 3 ? 3 : 10)));
        }
        const double expected = strtod(text.c_str(), nullptr);
        int32_t err = 99;
        const double got = qapAtof(&text[0], &err);
        ASSERT_EQ(err, 0) << text;
        ASSERT_EQ(memcmp(&got, &expected, sizeof got), 0) << text;
    }
}

// Integers as atol reads them, cut to 32 and 16 bits, whatever the text.
TEST(Conversions, IntegersAsAtolReadsThem) {
    sqludf_scratchpad pad{};
    QapArgs args{};
    args.scratchpad = &pad;
    QapCall call(tessel::routine(tessel::RoutineId::qapExtractInteger), args);
    std::vector<std::string> texts = {"",
                                      "-",
                                      "+-1",
                                      "-0",
                                      "007",
                                      "123abc",
                                      " 12",
                                      "\t-5",
                                      "2147483648",
                                      "-2147483649",
                                      "123456789012345678",
                                      "9223372036854775807",
                                      "-9223372036854775809",
                                      "99999999999999999999999",
                                      "\xD9\xA3"};
    std::mt19937_64 rng(11);
    for (int k = 0; k < 100000; ++k) {
        std::string text = k % 3 == 0 ? "-" : k % 7 == 0 ? "+" : "";
        for (int i = 1 + static_cast<int>(rng() % 21); i > 0; --i)
            text += static_cast<char>('0' + rng() % 10);
        if (k % 5 == 0) text += "x1";
        texts.push_back(text);
    }
    for (std::string &text : texts) {
        int32_t integer = 0;
        int16_t smallint = 0;
        qapToInteger(call, &text[0], &integer);
        qapToSmallint(call, &text[0], &smallint);
        ASSERT_EQ(integer, static_cast<int32_t>(atol(text.c_str()))) << text;
        ASSERT_EQ(smallint, static_cast<int16_t>(atoi(text.c_str()))) << text;
    }
}

// REAL rounds to the nearest float: the largest float's usual printed forms are that float, and
// only from half a step above it on is a value infinite.
TEST(Conversions, RealsRoundToTheNearestFloat) {
    sqludf_scratchpad pad{};
    QapArgs args{};
    args.scratchpad = &pad;
    QapCall call(tessel::routine(tessel::RoutineId::qapExtractReal), args);
    const struct {
        const char *text;
        float value;
    } rows[] = {{"3.4028235e38", FLT_MAX},
                {"-3.40282356e38", -FLT_MAX},
                {"3.40282356e38", FLT_MAX},
                {"3.4028236e38", HUGE_VALF},
                {"-1e39", -HUGE_VALF},
                {"1.17549435e-38", FLT_MIN},
                {"0.1", 0.1f}};
    for (const auto &r : rows) {
        std::string text = r.text;
        float out = 0;
        EXPECT_EQ(qapToReal(call, &text[0], &out), 0) << r.text;
        EXPECT_EQ(out, r.value) << r.text;
    }
}

TEST(Conversions, TimestampsNormalised) {
    const struct {
        const char *text;
        const char *result; // null: refused
    } rows[] = {
        {"2005-6-5 1:2:3", "2005-06-05 01:02:03.000000"},
        {"2005-06-05-1.2.3.123456", "2005-06-05-01.02.03.123456"},
        {"0000-99-99 99:99:99", "0000-99-99 99:99:99.000000"}, // no range checks
        {"2005-6-5 1:2:3.1234567", nullptr},
        {"2005-06-05 10:20:30.1234567", nullptr}, // 27 characters
    };
    for (const auto &r : rows) {
        char out[27];
        memset(out, '0', 26);
        out[26] = '\0';
        const int32_t n = static_cast<int32_t>(strlen(r.text));
        EXPECT_EQ(qapNormalTstamp(nullptr, r.text, n, out), r.result ? 0 : -1) << r.text;
        if (r.result) {
            EXPECT_STREQ(out, r.result);
        }
    }
}
