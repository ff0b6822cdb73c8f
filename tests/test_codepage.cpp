// Converters, encoding names and buffer conversions.
#include "qapConv.h"
#include "qapCtx.h"
#include "qapTrace.h"
#include "tarn.h"
#include "testSupport.h"

#include <gtest/gtest.h>

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

int32_t ccsidOf(UConverter *cnv) {
    UErrorCode status = U_ZERO_ERROR;
    return ucnv_getCCSID(cnv, &status);
}

std::string getEncoding(QapRoutineCtx *ctx, int32_t codePage, int32_t *rc = nullptr) {
    XMLCh name[1025];
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    int32_t r = QAP_getEncoding(ctx, codePage, name, 1025, sqlstate, msgtext);
    if (rc != nullptr) *rc = r;
    return narrow(name);
}

struct CountingErrors : DefaultHandler {
    int errors = 0;
    void warning(const SAXParseException &) override { ++errors; }
    void error(const SAXParseException &) override { ++errors; }
    void fatalError(const SAXParseException &) override { ++errors; }
};

// True when the parser reads a small ASCII document, encoded by ICU's converter of that name
// (left as it is when ICU has none), told to be in that encoding.
bool parserAccepts(const XMLCh *encoding) {
    std::string doc = "<doc a='1'>text &amp; more</doc>";
    UErrorCode status = U_ZERO_ERROR;
    if (UConverter *cnv = ucnv_open(narrow(encoding).c_str(), &status)) {
        std::u16string u(doc.begin(), doc.end());
        std::vector<char> out(doc.size() * 4 + 8);
        int32_t n = ucnv_fromUChars(cnv, out.data(), static_cast<int32_t>(out.size()), u.data(),
                                    static_cast<int32_t>(u.size()), &status);
        ucnv_close(cnv);
        doc.assign(out.data(), static_cast<size_t>(n));
    }
    SAX2XMLReader *reader = XMLReaderFactory::createXMLReader();
    CountingErrors handler;
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    bool ok = false;
    try {
        MemBufInputSource source(reinterpret_cast<const XMLByte *>(doc.data()), doc.size(), "doc");
        source.setEncoding(encoding);
        reader->parse(source);
        ok = handler.errors == 0;
    } catch (...) {
    }
    delete reader;
    return ok;
}

} // namespace

TEST(EncodingTable, RowsInOrderKnownToIcuAndTheParser) {
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
    ASSERT_TRUE(isSharedLibInitSuccess());
    ASSERT_FALSE(parserAccepts(u"no-such-encoding"));
    const QapEncodingRow *rows = qapEncodingTable();
    size_t i = 0;
    for (; rows[i].codePage != -2; ++i) {
        ASSERT_LT(i, expected.size());
        EXPECT_EQ(rows[i].codePage, expected[i].first) << "row " << i + 1;
        EXPECT_EQ(narrow(rows[i].name), expected[i].second) << "row " << i + 1;
        // Every name but cp1046 is known to ICU, and so to the parser, which transcodes with it.
        UErrorCode status = U_ZERO_ERROR;
        UConverter *cnv = ucnv_open(narrow(rows[i].name).c_str(), &status);
        ucnv_close(cnv);
        EXPECT_EQ(cnv != nullptr && U_SUCCESS(status), expected[i].first != 1046) << status;
        EXPECT_EQ(parserAccepts(rows[i].name), expected[i].first != 1046) << expected[i].second;
    }
    EXPECT_EQ(i, expected.size());
    EXPECT_EQ(qapEncodingTable(), rows); // built once
}

TEST(Converters, OpenedForTheContext) {
    const struct {
        int32_t db;
        const char *app; // null: ICU's default (UTF-8 in tests)
        int32_t rc;
        int32_t dbCodePage; // as stored; its converter has that CCSID
    } cases[] = {
        {1208, "UTF-8", 0, 1208}, // one shared converter, closed once
        {819, "UTF-8", 0, 819},
        {819, nullptr, 0, 819},
        {954, "UTF-8", 0, 33722}, // EUC-JP is stored as 33722
        {1208, "no-such-encoding", -119, 0},
        {4711, "UTF-8", -119, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.db) + " " + (c.app ? c.app : "default"));
        TestCtx ctx(c.db, c.app);
        ASSERT_EQ(ctx.initRc, c.rc) << ctx.sqlstate;
        if (c.rc != 0) {
            EXPECT_STREQ(ctx.sqlstate, "38X38");
            EXPECT_EQ(ctx->convInfo, nullptr);
            continue;
        }
        QapConvInfo *ci = ctx->convInfo;
        EXPECT_EQ(ci->appCodePage, 1208);
        EXPECT_EQ(ci->dbCodePage, c.dbCodePage);
        EXPECT_EQ(ci->appConv == ci->dbConv, c.db == 1208);
        EXPECT_EQ(ccsidOf(ci->dbConv), c.dbCodePage);
        char state[QAP_SQLSTATE_SIZE] = "00000";
        EXPECT_EQ(qapRelease(ctx, state), 0); // the fixture releases a second time
        EXPECT_EQ(ctx->convInfo, nullptr);
    }
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

// Table rows win over ICU; outside the table: ICU's MIME name, else its IANA name, else the
// vendor name.
TEST(EncodingNames, TableThenIcuNames) {
    const std::string p = icuVendorPrefix();
    const struct {
        int32_t db, codePage;
        std::string name;
    } cases[] = {
        {1208, 932, "Shift_JIS"}, {1208, 943, "Shift_JIS"},  {1208, 970, "EUC-KR"},
        {1208, 33722, "EUC-JP"},  {1208, 954, "EUC-JP"},     {1208, 1252, p + "-1252"},
        {1208, 37, p + "037"},    {1208, -1, "UTF-16"},      {923, 923, "ISO-8859-15"},
        {1047, 1047, "IBM1047"},  {1390, 1390, p + "-1390"},
    };
    for (const auto &c : cases) {
        TestCtx ctx(c.db, "UTF-8");
        ASSERT_EQ(ctx.initRc, 0) << c.db;
        int32_t rc = -1;
        EXPECT_EQ(getEncoding(ctx, c.codePage, &rc), c.name) << c.codePage;
        EXPECT_EQ(rc, 0);
    }
    QapRoutineCtx bare = {}; // no database converter: an unsupported locale
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

struct Outcome {
    int32_t rc;
    std::string out, sqlstate, msgtext;
    int32_t errCode = 0;
};

// Application to database code page (toDb) or back, into an output of that capacity.
Outcome convert(QapRoutineCtx *ctx, bool toDb, const std::string &in, int32_t capacity) {
    std::vector<char> buf(static_cast<size_t>(capacity) + 1, '#');
    Outcome o;
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    const int32_t n = static_cast<int32_t>(in.size());
    o.rc = toDb
               ? convertBufferAppToTarn(ctx, in.data(), n, buf.data(), capacity, msgtext, sqlstate,
                                        &o.errCode)
               : convertBufferTarnToApp(ctx, in.data(), n, buf.data(), capacity, msgtext, sqlstate);
    if (o.rc >= 0) o.out.assign(buf.data(), static_cast<size_t>(o.rc));
    o.sqlstate = sqlstate;
    o.msgtext = msgtext;
    return o;
}

} // namespace

// Latin letters and punctuation, EBCDIC letters, Japanese and Chinese, and UTF-16 in both
// byte orders. (ICU's table for CCSID 1252 has no euro sign: that is CCSID 5348.)
TEST(BufferConversion, BothDirectionsBetweenCodePages) {
    const struct {
        const char *appEncoding;
        int32_t dbCodePage;
        std::string appBytes, dbBytes; // the same text in each code page
    } cases[] = {
        {"UTF-8", 819, "Gr\xC3\xBC\xC3\x9F\x65", "Gr\xFC\xDF\x65"},
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
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.appEncoding) + " / " + std::to_string(c.dbCodePage));
        TestCtx ctx(c.dbCodePage, c.appEncoding);
        ASSERT_EQ(ctx.initRc, 0) << ctx.sqlstate;
        Outcome a = convert(ctx, true, c.appBytes, 64);
        EXPECT_EQ(a.rc, static_cast<int32_t>(c.dbBytes.size()));
        EXPECT_EQ(a.out, c.dbBytes);
        EXPECT_EQ(a.sqlstate, "00000");
        Outcome d = convert(ctx, false, c.dbBytes, 64);
        EXPECT_EQ(d.rc, static_cast<int32_t>(c.appBytes.size()));
        EXPECT_EQ(d.out, c.appBytes);
        EXPECT_EQ(d.sqlstate, "00000");
    }
}

TEST(BufferConversion, Utf16ByteOrderMarkIsDroppedOnlyForUtf16) {
    const struct {
        const char *app;
        int32_t db;
        std::string in, out;
    } cases[] = {
        {"UTF-16BE", 1208, std::string("\xFE\xFF\x00\x41", 4), "A"},
        {"UTF-16BE", 1208, std::string("\x00\x41", 2), "A"},
        {"UTF-16LE", 1208, std::string("\xFF\xFE\x41\x00", 4), "A"},
        {"UTF-16BE", 1200, std::string("\xFE\xFF\x00\x41", 4), std::string("\x00\x41", 2)},
        {"ISO-8859-1", 1208, "\xFE\xFF", "\xC3\xBE\xC3\xBF"},
        {"UTF-8", 1208, "\xEF\xBB\xBFx", "\xEF\xBB\xBFx"},
    };
    for (const auto &c : cases) {
        TestCtx ctx(c.db, c.app);
        ASSERT_EQ(ctx.initRc, 0) << c.app;
        EXPECT_EQ(convert(ctx, true, c.in, 16).out, c.out) << c.app << " " << c.db;
    }
}

TEST(BufferConversion, OutputMustKeepRoomForTheTerminator) {
    TestCtx ctx(819, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    const std::string in = "Gr\xC3\xBC\xC3\x9F\x65"; // 5 bytes in 819
    Outcome fits = convert(ctx, true, in, 6);
    EXPECT_EQ(fits.rc, 5);
    EXPECT_EQ(fits.out, "Gr\xFC\xDF\x65");
    Outcome full = convert(ctx, true, in, 5);
    EXPECT_EQ(full.rc, -1);
    EXPECT_EQ(full.errCode, -124);
    EXPECT_EQ(full.sqlstate, "38X45");
    EXPECT_EQ(full.msgtext.rfind("QAPQ055E", 0), 0u) << full.msgtext;
    Outcome back = convert(ctx, false, "\xFC", 2); // two bytes in UTF-8: full
    EXPECT_EQ(back.rc, -1);
    EXPECT_EQ(back.sqlstate, "38X45");
    EXPECT_EQ(convert(ctx, false, "\xFC", 3).out, "\xC3\xBC");

    // A NUL inside the input ends the text; empty input gives nothing.
    EXPECT_EQ(convert(ctx, true, std::string("ab\0cd", 5), 16).out, "ab");
    EXPECT_EQ(convert(ctx, false, std::string("x\0y", 3), 16).out, "x");
    EXPECT_EQ(convert(ctx, true, "", 4).rc, 0);
    EXPECT_EQ(convert(ctx, false, "", 4).rc, 0);
}

TEST(BufferConversion, EqualCodePagesCopyWithinCapacity) {
    TestCtx ctx(1208, "UTF-8");
    ASSERT_EQ(ctx.initRc, 0);
    Outcome same = convert(ctx, true, "abc", 3);
    EXPECT_EQ(same.rc, 3);
    EXPECT_EQ(same.out, "abc");
    Outcome small = convert(ctx, true, "abc", 2);
    EXPECT_EQ(small.rc, -1);
    EXPECT_EQ(small.sqlstate, "00000"); // nothing reported
    EXPECT_EQ(small.msgtext, "");
}

TEST(BufferConversion, InPlace) {
    TestCtx ctx(819, "UTF-16BE");
    ASSERT_EQ(ctx.initRc, 0);
    char buf[16] = "\xFE\xFF\x00\x41\x00\xFC";
    char sqlstate[QAP_SQLSTATE_SIZE] = "00000";
    char msgtext[QAP_MSGTEXT_SIZE] = "";
    int32_t err = 0;
    EXPECT_EQ(convertBufferAppToTarn(ctx, buf, 6, buf, 16, msgtext, sqlstate, &err), 2);
    EXPECT_STREQ(buf, "A\xFC");
}

// ---- Text conversions ----------------------------------------------------------------------

TEST(TextConversion, ToAndFromUtf16NeedRoomForTheTerminator) {
    TestCtx sjis(943, "UTF-8");
    ASSERT_EQ(sjis.initRc, 0);
    XMLCh u[8];
    EXPECT_EQ(QAP_mbstowcsFunction(sjis, u, "\x93\xFA\x96\x7B\x61", 4), 3);
    EXPECT_EQ(std::u16string(u), u"\u65E5\u672Ca");
    EXPECT_EQ(QAP_mbstowcsFunction(sjis, u, "\x93\xFA\x96\x7B\x61", 3), -1);
    EXPECT_EQ(QAP_mbstowcsFunction(sjis, u, "", 1), 0);
    EXPECT_EQ(QAP_mbstowcsFunction(sjis, u, nullptr, 1), 0);

    // To the database code page: partial output is left when full.
    TestCtx ebcdic(37, "UTF-8");
    ASSERT_EQ(ebcdic.initRc, 0);
    char out[32];
    EXPECT_EQ(QAP_wcstombsFunction(ebcdic, out, u"AB", 3), 2);
    EXPECT_STREQ(out, "\xC1\xC2");
    memset(out, '#', sizeof out);
    EXPECT_EQ(QAP_wcstombsFunction(ebcdic, out, u"ABC", 3), -1);
    EXPECT_EQ(std::string(out, 3), "\xC1\xC2\xC3");
    EXPECT_EQ(QAP_wcstombsFunction(ebcdic, out, u"ABC", 2), -1);

    // Parser strings; a null one leaves the output alone.
    EXPECT_EQ(qapConvXMLCh(ebcdic, u"a1", out), out);
    EXPECT_STREQ(out, "\x81\xF1");
    EXPECT_EQ(qapConvXMLCh(ebcdic, nullptr, out), out);
    EXPECT_STREQ(out, "\x81\xF1");
    EXPECT_EQ(qapConvXMLCh(ebcdic, u"x", nullptr), nullptr);

    // The system conversion ignores the database code page (ICU's default is UTF-8 here).
    EXPECT_EQ(QAP_mbstowcsSys(ebcdic, u, "A\xC3\xBC", 8), 2);
    EXPECT_EQ(std::u16string(u), u"A\u00FC");
    EXPECT_EQ(QAP_mbstowcsSys(ebcdic, u, "abc", 3), -1);
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
        EXPECT_EQ(convert(ctx, true, "abcdef", 3).rc, -1);
        EXPECT_EQ(convert(ctx, false, "abcdef", 3).rc, -1);
        EXPECT_EQ(getEncoding(ctx, 1390), icuVendorPrefix() + "-1390");
        EXPECT_EQ(
            qapConvBufferTarnToAppEncoding(ctx, "<?xml version='1", 16, out, 4, msgtext, sqlstate),
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
