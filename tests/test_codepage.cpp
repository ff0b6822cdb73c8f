// Converters, encoding names and buffer conversions.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapTrace.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <unicode/ustring.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>

using testing_support::TestCtx;
XERCES_CPP_NAMESPACE_USE

namespace {

std::string narrow(const XMLCh *s) {
    std::string out;
    for (; s != nullptr && *s != 0; ++s)
        out += static_cast<char>(*s);
    return out;
}

// The prefix ICU gives its CCSID-based converter names, asked from ICU as a user would.
std::string icuVendorPrefix() {
    UErrorCode status = U_ZERO_ERROR;
    UConverter *cnv = ucnv_openCCSID(37, static_cast<UConverterPlatform>(0), &status);
    std::string name = ucnv_getName(cnv, &status);
    ucnv_close(cnv);
    return name.substr(0, name.find('-'));
}

// ASCII text encoded by the ICU converter of that name (plain bytes when ICU has none).
std::string encodeAscii(const std::string &encoding, const std::string &text) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter *cnv = ucnv_open(encoding.c_str(), &status);
    if (cnv == nullptr || U_FAILURE(status)) return text;
    std::u16string u(text.begin(), text.end());
    std::vector<char> out(text.size() * 4 + 8);
    status = U_ZERO_ERROR;
    int32_t n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), u.data(),
                                static_cast<int32_t>(u.size()), &status);
    ucnv_close(cnv);
    return std::string(out.data(), static_cast<size_t>(n));
}

struct CountingErrors : DefaultHandler {
    int errors = 0;
    void warning(const SAXParseException &) override { ++errors; }
    void error(const SAXParseException &) override { ++errors; }
    void fatalError(const SAXParseException &) override { ++errors; }
};

// True when the parser reads a small document told to be in that encoding.
bool parserAccepts(const XMLCh *encoding, const std::string &bytes) {
    SAX2XMLReader *reader = XMLReaderFactory::createXMLReader();
    CountingErrors handler;
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    bool ok = false;
    try {
        MemBufInputSource source(reinterpret_cast<const XMLByte *>(bytes.data()), bytes.size(),
                                 "doc");
        source.setEncoding(encoding);
        reader->parse(source);
        ok = handler.errors == 0;
    } catch (...) {
        ok = false;
    }
    delete reader;
    return ok;
}

} // namespace

TEST(EncodingTable, RowsInOrderWithVendorNamesFromIcu) {
    const std::string p = icuVendorPrefix();
    ASSERT_FALSE(p.empty());
    const std::vector<std::pair<int32_t, std::string>> expected = {
        {1208, "UTF-8"},      {-1, "UTF-16"},      {367, "us-ascii"},   {819, "iso-8859-1"},
        {850, p + "850"},     {1252, p + "-1252"}, {1250, p + "-1250"}, {1251, p + "-1251"},
        {1254, p + "-1254"},  {1255, p + "-1255"}, {1256, p + "-1256"}, {1257, p + "-1257"},
        {37, p + "037"},      {1383, "GB2312"},    {943, "Shift_JIS"},  {932, "Shift_JIS"},
        {950, "Big5"},        {970, "EUC-KR"},     {954, "EUC-JP"},     {33722, "EUC-JP"},
        {970, "EUC-KR"},      {964, "EUC-TW"},     {912, "iso-8859-2"}, {915, "iso-8859-5"},
        {1089, "iso-8859-6"}, {813, "iso-8859-7"}, {916, "iso-8859-8"}, {920, "iso-8859-9"},
        {1046, "cp1046"},
    };
    const QapEncodingRow *rows = qapEncodingTable();
    size_t i = 0;
    for (; rows[i].codePage != -2; ++i) {
        ASSERT_LT(i, expected.size());
        EXPECT_EQ(rows[i].codePage, expected[i].first) << "row " << i + 1;
        EXPECT_EQ(narrow(rows[i].name), expected[i].second) << "row " << i + 1;
    }
    EXPECT_EQ(i, expected.size());
    EXPECT_EQ(qapEncodingTable(), rows); // built once
}

// Every name of the table is known to ICU and to the parser, except the ones listed here,
// which the installed ICU (and so the parser, which transcodes with it) does not know.
TEST(EncodingTable, NamesAreKnownToIcuAndToTheParser) {
    ASSERT_TRUE(isSharedLibInitSuccess());
    const std::vector<std::string> unknownToIcu = {"cp1046"};
    const std::vector<std::string> unknownToParser = {"cp1046"};
    ASSERT_FALSE(parserAccepts(u"no-such-encoding", "<doc/>"));
    for (const QapEncodingRow *row = qapEncodingTable(); row->codePage != -2; ++row) {
        std::string name = narrow(row->name);
        UErrorCode status = U_ZERO_ERROR;
        UConverter *cnv = ucnv_open(name.c_str(), &status);
        bool icuKnows = cnv != nullptr && U_SUCCESS(status);
        if (cnv != nullptr) ucnv_close(cnv);
        bool listed =
            std::find(unknownToIcu.begin(), unknownToIcu.end(), name) != unknownToIcu.end();
        EXPECT_EQ(icuKnows, !listed) << name << " status " << status;

        std::string doc = encodeAscii(name, "<doc a='1'>text &amp; more</doc>");
        bool parserKnows = parserAccepts(row->name, doc);
        listed = std::find(unknownToParser.begin(), unknownToParser.end(), name) !=
                 unknownToParser.end();
        EXPECT_EQ(parserKnows, !listed) << name;
    }
}

namespace {

std::string getEncoding(QapRoutineCtx *ctx, int32_t codePage, int32_t *rc = nullptr) {
    XMLCh name[1025];
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    int32_t r = QAP_getEncoding(ctx, codePage, name, 1025, sqlstate, msgtext);
    if (rc != nullptr) *rc = r;
    return narrow(name);
}

int32_t ccsidOf(UConverter *cnv) {
    UErrorCode status = U_ZERO_ERROR;
    return ucnv_getCCSID(cnv, &status);
}

} // namespace

TEST(Converters, EqualCodePagesShareOneConverterClosedOnce) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
    QapConvInfo *ci = ctx->convInfo;
    EXPECT_EQ(ci->appCodePage, 1208);
    EXPECT_EQ(ci->dbCodePage, 1208);
    EXPECT_EQ(ci->appConv, ci->dbConv);
    // A double close would be reported by the sanitizer; the fixture releases a second time.
    char state[QAP_SQLSTATE_SIZE] = "00000";
    EXPECT_EQ(qapRelease(ctx, state), 0);
    EXPECT_EQ(ctx->convInfo, nullptr);
}

TEST(Converters, DifferentCodePagesOpenTwoConverters) {
    TestCtx ctx(819, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
    QapConvInfo *ci = ctx->convInfo;
    EXPECT_EQ(ci->appCodePage, 1208);
    EXPECT_EQ(ci->dbCodePage, 819);
    EXPECT_NE(ci->appConv, ci->dbConv);
    EXPECT_EQ(ccsidOf(ci->dbConv), 819);
}

TEST(Converters, DefaultApplicationConverterIsIcuDefault) {
    TestCtx ctx(819); // the test main makes ICU's default UTF-8
    ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
    EXPECT_EQ(ctx->convInfo->appCodePage, 1208);
}

TEST(Converters, EucJpHostCodePageIsStoredAs33722) {
    TestCtx ctx(954, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
    EXPECT_EQ(ctx->convInfo->dbCodePage, 33722);
    EXPECT_EQ(ccsidOf(ctx->convInfo->dbConv), 33722);
    EXPECT_EQ(getEncoding(ctx, ctx->convInfo->dbCodePage), "EUC-JP");
}

TEST(Converters, UnknownApplicationEncodingFailsInit) {
    TestCtx ctx(1208, "no-such-encoding");
    EXPECT_EQ(ctx.initRc, -119);
    EXPECT_STREQ(ctx.sqlstate, "38X38");
    EXPECT_EQ(ctx->convInfo, nullptr);
}

TEST(Converters, UnknownDatabaseCodePageFailsInit) {
    TestCtx ctx(4711, "UTF-8");
    EXPECT_EQ(ctx.initRc, -119);
    EXPECT_STREQ(ctx.sqlstate, "38X38");
}

// The double-byte code pages named by a table variant get a converter for their CCSID even
// though the installed ICU carries other variants of those tables.
TEST(Converters, TableVariantCodePagesFallBackToTheirCcsid) {
    for (int32_t ccsid : {942, 943, 949, 1363, 1383, 37}) {
        UErrorCode status = U_ZERO_ERROR;
        UConverter *cnv = qapOpenConverter(ccsid, &status);
        ASSERT_NE(cnv, nullptr) << ccsid;
        EXPECT_EQ(status, U_ZERO_ERROR) << ccsid;
        EXPECT_EQ(ccsidOf(cnv), ccsid);
        ucnv_close(cnv);
    }
    UErrorCode status = U_ZERO_ERROR;
    EXPECT_EQ(qapOpenConverter(4711, &status), nullptr);
    EXPECT_TRUE(U_FAILURE(status));
}

TEST(EncodingNames, TableRowsWinOverIcu) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    const std::string p = icuVendorPrefix();
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {932, "Shift_JIS"}, {943, "Shift_JIS"},  {970, "EUC-KR"}, {33722, "EUC-JP"},
        {954, "EUC-JP"},    {1252, p + "-1252"}, {37, p + "037"}, {-1, "UTF-16"},
    };
    for (const auto &c : cases) {
        int32_t rc = -1;
        EXPECT_EQ(getEncoding(ctx, c.first, &rc), c.second) << c.first;
        EXPECT_EQ(rc, 0);
    }
}

TEST(EncodingNames, OutsideTheTableIcuStandardNamesThenTheVendorName) {
    const std::string p = icuVendorPrefix();
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {923, "ISO-8859-15"}, // a MIME name
        {1047, "IBM1047"},    // only an IANA name
        {1390, p + "-1390"},  // neither
    };
    for (const auto &c : cases) {
        TestCtx ctx(c.first, "UTF-8");
        ASSERT_EQ(ctx.initRc, 0) << c.first;
        int32_t rc = -1;
        EXPECT_EQ(getEncoding(ctx, c.first, &rc), c.second);
        EXPECT_EQ(rc, 0);
    }
}

TEST(EncodingNames, NoDatabaseConverterIsAnUnsupportedLocale) {
    QapRoutineCtx bare = {};
    XMLCh name[16] = {u'x', 0};
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    EXPECT_EQ(QAP_getEncoding(&bare, 4711, name, 16, sqlstate, msgtext), -119);
    EXPECT_STREQ(sqlstate, "38X38");
    EXPECT_EQ(name[0], 0);
    EXPECT_NE(strstr(msgtext, "QAPG008E"), nullptr) << msgtext;
    EXPECT_NE(strstr(msgtext, "4711"), nullptr) << msgtext;
}

// ---- Buffer conversions -------------------------------------------------------------------

namespace {

struct Conversion {
    const char *appEncoding;
    int32_t dbCodePage;
    std::string appBytes; // the text in the application code page
    std::string dbBytes;  // the same text in the database code page
};

// Latin letters and punctuation, EBCDIC letters, Japanese and Chinese, and UTF-16 in both
// byte orders. (ICU's table for CCSID 1252 has no euro sign: that is CCSID 5348.)
const std::vector<Conversion> &conversions() {
    static const std::vector<Conversion> c = {
        {"UTF-8", 819,
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         "Gr\xFC\xDF"
         "e"},
        {"UTF-8", 1252, "\xC3\xA9\xE2\x80\x99\xC5\xA0", "\xE9\x92\x8A"},
        {"UTF-8", 37, "AB a1", "\xC1\xC2\x40\x81\xF1"},
        {"UTF-8", 943, "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B"},
        {"UTF-8", 1383, "\xE4\xB8\xAD\xE6\x96\x87", "\xD6\xD0\xCE\xC4"},
        {"ISO-8859-1", 1208, "\xFC", "\xC3\xBC"},
        {"ibm-37", 1208, "\xC1\x81", "Aa"},
        {"UTF-16BE", 1208, std::string("\x00\x41\x00\xFC", 4), "A\xC3\xBC"},
        {"UTF-16LE", 1208, std::string("\x41\x00\xFC\x00", 4), "A\xC3\xBC"},
        {"Shift_JIS", 1383, "\x93\xFA", "\xC8\xD5"},
    };
    return c;
}

struct Outcome {
    int32_t rc;
    std::string out;
    std::string sqlstate;
    std::string msgtext;
    int32_t errCode = 0;
};

Outcome appToDb(QapRoutineCtx *ctx, const std::string &in, int32_t capacity) {
    std::vector<char> buf(static_cast<size_t>(capacity) + 1, '#');
    Outcome o;
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    o.rc = convertBufferAppToTarn(ctx, in.data(), static_cast<int32_t>(in.size()), buf.data(),
                                  capacity, msgtext, sqlstate, &o.errCode);
    if (o.rc >= 0) o.out.assign(buf.data(), static_cast<size_t>(o.rc));
    o.sqlstate = sqlstate;
    o.msgtext = msgtext;
    return o;
}

Outcome dbToApp(QapRoutineCtx *ctx, const std::string &in, int32_t capacity) {
    std::vector<char> buf(static_cast<size_t>(capacity) + 1, '#');
    Outcome o;
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    o.rc = convertBufferTarnToApp(ctx, in.data(), static_cast<int32_t>(in.size()), buf.data(),
                                  capacity, msgtext, sqlstate);
    if (o.rc >= 0) o.out.assign(buf.data(), static_cast<size_t>(o.rc));
    o.sqlstate = sqlstate;
    o.msgtext = msgtext;
    return o;
}

} // namespace

TEST(BufferConversion, BothDirectionsBetweenCodePages) {
    for (const Conversion &c : conversions()) {
        SCOPED_TRACE(std::string(c.appEncoding) + " / " + std::to_string(c.dbCodePage));
        TestCtx ctx(c.dbCodePage, c.appEncoding);
        ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
        Outcome a = appToDb(ctx, c.appBytes, 64);
        EXPECT_EQ(a.rc, static_cast<int32_t>(c.dbBytes.size()));
        EXPECT_EQ(a.out, c.dbBytes);
        EXPECT_EQ(a.sqlstate, "00000");
        Outcome d = dbToApp(ctx, c.dbBytes, 64);
        EXPECT_EQ(d.rc, static_cast<int32_t>(c.appBytes.size()));
        EXPECT_EQ(d.out, c.appBytes);
        EXPECT_EQ(d.sqlstate, "00000");
    }
}

TEST(BufferConversion, Utf16ByteOrderMarkIsDroppedOnlyForUtf16) {
    struct Case {
        const char *app;
        int32_t db;
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"UTF-16BE", 1208, std::string("\xFE\xFF\x00\x41", 4), "A"},
        {"UTF-16BE", 1208, std::string("\x00\x41", 2), "A"},
        {"UTF-16LE", 1208, std::string("\xFF\xFE\x41\x00", 4), "A"},
        {"UTF-16BE", 1200, std::string("\xFE\xFF\x00\x41", 4), std::string("\x00\x41", 2)},
        {"ISO-8859-1", 1208, "\xFE\xFF", "\xC3\xBE\xC3\xBF"},
        {"UTF-8", 1208, "\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},
    };
    for (const Case &c : cases) {
        TestCtx ctx(c.db, c.app);
        ASSERT_EQ(ctx.initRc, 0) << c.app;
        Outcome o = appToDb(ctx, c.in, 16);
        EXPECT_EQ(o.out, c.out) << c.app << " " << c.db;
    }
}

TEST(BufferConversion, OutputMustKeepRoomForTheTerminator) {
    TestCtx ctx(819, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    const std::string in = "Gr\xC3\xBC\xC3\x9F"
                           "e"; // 5 bytes in 819
    Outcome fits = appToDb(ctx, in, 6);
    EXPECT_EQ(fits.rc, 5);
    EXPECT_EQ(fits.out, "Gr\xFC\xDF"
                        "e");

    Outcome full = appToDb(ctx, in, 5);
    EXPECT_EQ(full.rc, -1);
    EXPECT_EQ(full.errCode, -124);
    EXPECT_EQ(full.sqlstate, "38X45");
    EXPECT_EQ(full.msgtext.rfind("QAPQ055E", 0), 0u) << full.msgtext;

    Outcome back = dbToApp(ctx, "\xFC", 2); // two bytes in UTF-8: full
    EXPECT_EQ(back.rc, -1);
    EXPECT_EQ(back.sqlstate, "38X45");
    EXPECT_EQ(dbToApp(ctx, "\xFC", 3).out, "\xC3\xBC");
}

TEST(BufferConversion, EqualCodePagesCopyWithinCapacity) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    Outcome same = appToDb(ctx, "abc", 3);
    EXPECT_EQ(same.rc, 3);
    EXPECT_EQ(same.out, "abc");
    Outcome small = appToDb(ctx, "abc", 2);
    EXPECT_EQ(small.rc, -1);
    EXPECT_EQ(small.sqlstate, "00000"); // nothing reported
    EXPECT_EQ(small.msgtext, "");
}

TEST(BufferConversion, NulInsideTheInputEndsTheText) {
    TestCtx ctx(819, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    Outcome o = appToDb(ctx, std::string("ab\0cd", 5), 16);
    EXPECT_EQ(o.rc, 2);
    EXPECT_EQ(o.out, "ab");
    EXPECT_EQ(dbToApp(ctx, std::string("x\0y", 3), 16).out, "x");
}

TEST(BufferConversion, InPlaceAndEmpty) {
    TestCtx ctx(819, "UTF-16BE");
    ASSERT_EQ(ctx.initRc, 0);
    char buf[16] = "\xFE\xFF\x00\x41\x00\xFC";
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    int32_t err = 0;
    EXPECT_EQ(convertBufferAppToTarn(ctx, buf, 6, buf, 16, msgtext, sqlstate, &err), 2);
    EXPECT_STREQ(buf, "A\xFC");
    EXPECT_EQ(appToDb(ctx, "", 4).rc, 0);
    EXPECT_EQ(dbToApp(ctx, "", 4).rc, 0);
}

// ---- Text conversions ----------------------------------------------------------------------

TEST(TextConversion, DatabaseCodePageToUtf16NeedsRoomForTheTerminator) {
    TestCtx ctx(943, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    XMLCh out[8];
    EXPECT_EQ(QAP_mbstowcsFunction(ctx, out,
                                   "\x93\xFA\x96\x7B"
                                   "a",
                                   4),
              3);
    EXPECT_EQ(std::u16string(out), u"\u65E5\u672Ca");
    EXPECT_EQ(QAP_mbstowcsFunction(ctx, out,
                                   "\x93\xFA\x96\x7B"
                                   "a",
                                   3),
              -1);
    EXPECT_EQ(QAP_mbstowcsFunction(ctx, out, "", 1), 0);
    EXPECT_EQ(QAP_mbstowcsFunction(ctx, out, nullptr, 1), 0);
}

TEST(TextConversion, Utf16ToDatabaseCodePageLeavesPartialOutputWhenFull) {
    TestCtx ctx(37, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    char out[8];
    EXPECT_EQ(QAP_wcstombsFunction(ctx, out, u"AB", 3), 2);
    EXPECT_STREQ(out, "\xC1\xC2");
    memset(out, '#', sizeof out);
    EXPECT_EQ(QAP_wcstombsFunction(ctx, out, u"ABC", 3), -1);
    EXPECT_EQ(std::string(out, 3), "\xC1\xC2\xC3");
    EXPECT_EQ(QAP_wcstombsFunction(ctx, out, u"ABC", 2), -1);
}

TEST(TextConversion, ParserStringsAndTheSystemCodePage) {
    TestCtx ctx(37, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    char out[32] = "unchanged";
    EXPECT_EQ(qapConvXMLCh(ctx, u"a1", out), out);
    EXPECT_STREQ(out, "\x81\xF1");
    EXPECT_EQ(qapConvXMLCh(ctx, nullptr, out), out);
    EXPECT_STREQ(out, "\x81\xF1");
    EXPECT_EQ(qapConvXMLCh(ctx, u"x", nullptr), nullptr);

    // The system conversion ignores the database code page (ICU's default is UTF-8 here).
    XMLCh u[8];
    EXPECT_EQ(QAP_mbstowcsSys(ctx, u, "A\xC3\xBC", 8), 2);
    EXPECT_EQ(std::u16string(u), u"A\u00FC");
    EXPECT_EQ(QAP_mbstowcsSys(ctx, u, "abc", 3), -1);
}

// With tracing on, the failure paths write their lines (and survive doing so).
TEST(TextConversion, FailuresAreTraced) {
    const std::string instance = "codepage";
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    const std::string dir = testing_support::scratchDir();
    ASSERT_EQ(qapTraceSwitchOn(dir.c_str(), instance.c_str(), sqlstate, msgtext), 0);
    {
        testing_support::ScopedEnv env("TARNINSTANCE", instance.c_str());
        TestCtx ctx(819, "UTF-8");
        ASSERT_EQ(ctx.initRc, 0);
        ASSERT_EQ(ctx->traceOn, 1u);
        char out[4];
        XMLCh u[2];
        EXPECT_EQ(QAP_wcstombsFunction(ctx, out, u"abcdef", 4), -1);
        EXPECT_EQ(QAP_mbstowcsFunction(ctx, u, "abc", 2), -1);
        EXPECT_EQ(QAP_mbstowcsSys(ctx, u, "abc", 2), -1);
        EXPECT_EQ(qapConvXMLCh(ctx, nullptr, out), out);
        EXPECT_EQ(appToDb(ctx, "abcdef", 3).rc, -1);
        EXPECT_EQ(dbToApp(ctx, "abcdef", 3).rc, -1);
        EXPECT_EQ(getEncoding(ctx, 1390), icuVendorPrefix() + "-1390");
        char state[QAP_SQLSTATE_SIZE] = "00000";
        char text[QAP_MSGTEXT_SIZE] = "";
        EXPECT_EQ(qapConvBufferTarnToAppEncoding(ctx, "<?xml version='1", 16, out, 4, text, state),
                  -1);
    }
    std::string trace = testing_support::readFile(dir + "/qap" + instance + ".trc");
    for (const char *line :
         {"initICU:\t\tapp code page 1208, db code page 819\n",
          "QAP_wcstombsFunction:\t\tConversion error. err=15,  wcstr='abcd...' count=4\n",
          "QAP_mbstowcsFunction:\t\tConversion error. err=15, mbstr='abc...' count=2\n",
          "QAP_mbstowcsSys:\t\tConversion error.", "qapConvXMLCh:\t\tfromPARSK=",
          "convertBufferAppToTarn:\t\tdestbuf 3 too small to hold converted buffer 6\n",
          "convertBufferTarnToApp:\t\tdestbuf too small to hold converted buffer\n",
          "QAP_getEncoding:\t\ticu name ",
          "qapConvBufferTarnToAppEncoding:\t\tmissing end quote"}) {
        EXPECT_NE(trace.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(qapTraceSwitchOff(instance.c_str(), sqlstate, msgtext), 0);
}
